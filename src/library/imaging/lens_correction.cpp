#include "library/imaging/lens_correction.hpp"

#include <lensfun/lensfun.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace tw::imaging::detail {

namespace {

// Loading parses every XML file of the database (a few hundred milliseconds): once per process,
// and only when a correction is first wanted.
const lfDatabase* Database() {
  static std::once_flag once;
  static lfDatabase* database = nullptr;
  std::call_once(once, [] {
    lfDatabase* loaded = lf_db_new();
    if (loaded != nullptr && loaded->Load() == LF_NO_ERROR) {
      database = loaded;
    } else if (loaded != nullptr) {
      lf_db_destroy(loaded);
    }
  });
  return database;
}

// Searches allocate and walk shared lists; one at a time keeps them clear of each other.
std::mutex gSearchLock;

template <typename T>
struct LensfunList {
  const T** items;
  ~LensfunList() { lf_free(items); }
};

bool HasDistortionAt(const lfLens* lens, float focalLength) {
  lfLensCalibDistortion distortion{};
  return lens->InterpolateDistortion(focalLength, distortion) && distortion.Model != LF_DIST_MODEL_NONE;
}

const lfLens* FindLens(const lfDatabase& database, const lfCamera* camera, const std::string& name, float focal) {
  if (name.empty()) return nullptr;
  LensfunList<lfLens> lenses{database.FindLenses(camera, nullptr, name.c_str())};
  if (lenses.items == nullptr) return nullptr;
  for (int i = 0; lenses.items[i] != nullptr; ++i) {
    if (HasDistortionAt(lenses.items[i], focal)) return lenses.items[i];
  }
  return nullptr;
}

float Bilinear(const uint16_t* pixels, int width, int height, int channel, float x, float y) {
  if (!std::isfinite(x)) x = 0.0f;  // lensfun answers NaN for points its model cannot place
  if (!std::isfinite(y)) y = 0.0f;
  x = std::clamp(x, 0.0f, static_cast<float>(width - 1));
  y = std::clamp(y, 0.0f, static_cast<float>(height - 1));
  int x0 = static_cast<int>(x);
  int y0 = static_cast<int>(y);
  int x1 = std::min(x0 + 1, width - 1);
  int y1 = std::min(y0 + 1, height - 1);
  float fx = x - static_cast<float>(x0);
  float fy = y - static_cast<float>(y0);
  auto at = [&](int px, int py) {
    return static_cast<float>(pixels[(static_cast<size_t>(py) * width + px) * 3 + channel]);
  };
  float top = at(x0, y0) + (at(x1, y0) - at(x0, y0)) * fx;
  float bottom = at(x0, y1) + (at(x1, y1) - at(x0, y1)) * fx;
  return top + (bottom - top) * fy;
}

}  // namespace

std::optional<LensCorrection> LensCorrection::Find(const LensQuery& query) {
  if (!(query.focalLength > 0) || query.cameraModel.empty()) return std::nullopt;
  const lfDatabase* database = Database();
  if (database == nullptr) return std::nullopt;
  std::lock_guard<std::mutex> lock(gSearchLock);
  LensfunList<lfCamera> cameras{database->FindCamerasExt(
      query.cameraMake.empty() ? nullptr : query.cameraMake.c_str(), query.cameraModel.c_str())};
  if (cameras.items == nullptr || cameras.items[0] == nullptr) return std::nullopt;
  const lfCamera* camera = cameras.items[0];
  const lfLens* lens = FindLens(*database, camera, query.lensName, query.focalLength);
  if (lens == nullptr) lens = FindLens(*database, camera, query.fallbackLensName, query.focalLength);
  if (lens == nullptr || !(camera->CropFactor > 0)) return std::nullopt;
  float aperture = query.aperture > 0 ? query.aperture : 8.0f;
  return LensCorrection(lens, camera->CropFactor, query.focalLength, aperture);
}

std::optional<vips::VImage> LensCorrection::Apply(const vips::VImage& linear16) const {
  if (linear16.format() != VIPS_FORMAT_USHORT || linear16.bands() != 3) return std::nullopt;
  const int width = linear16.width();
  const int height = linear16.height();
  if (width < 2 || height < 2) return std::nullopt;

  size_t byteCount = 0;
  void* memory = linear16.write_to_memory(&byteCount);
  std::vector<uint16_t> source(static_cast<size_t>(width) * height * 3);
  std::memcpy(source.data(), memory, std::min(byteCount, source.size() * sizeof(uint16_t)));
  g_free(memory);

  lfModifier modifier(lens_, cropFactor_, width, height);
  // The focus distance is not in the metadata we read; lensfun's advice for that case is 1000 m.
  int done = modifier.Initialize(lens_, LF_PF_U16, focalLength_, aperture_, 1000.0f, 0.0f, lens_->Type,
                                 LF_MODIFY_DISTORTION | LF_MODIFY_TCA | LF_MODIFY_VIGNETTING | LF_MODIFY_SCALE,
                                 false);
  if ((done & LF_MODIFY_DISTORTION) == 0) return std::nullopt;
  if ((done & LF_MODIFY_VIGNETTING) != 0) {
    modifier.ApplyColorModification(source.data(), 0.0f, 0.0f, width, height, LF_CR_3(RED, GREEN, BLUE),
                                    width * 3 * static_cast<int>(sizeof(uint16_t)));
  }

  std::vector<uint16_t> corrected(source.size());
  std::vector<float> coordinates(static_cast<size_t>(width) * 2 * 3);
  for (int y = 0; y < height; ++y) {
    if (!modifier.ApplySubpixelGeometryDistortion(0.0f, static_cast<float>(y), width, 1, coordinates.data())) {
      return std::nullopt;
    }
    uint16_t* row = corrected.data() + static_cast<size_t>(y) * width * 3;
    for (int x = 0; x < width; ++x) {
      for (int channel = 0; channel < 3; ++channel) {
        const float* position = &coordinates[(static_cast<size_t>(x) * 3 + channel) * 2];
        float value = Bilinear(source.data(), width, height, channel, position[0], position[1]);
        row[x * 3 + channel] = static_cast<uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
      }
    }
  }
  VipsImage* image = vips_image_new_from_memory_copy(corrected.data(), corrected.size() * sizeof(uint16_t), width,
                                                     height, 3, VIPS_FORMAT_USHORT);
  if (image == nullptr) throw vips::VError();
  return vips::VImage(image).copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
}

}  // namespace tw::imaging::detail
