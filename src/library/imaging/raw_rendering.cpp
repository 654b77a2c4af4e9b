#include "library/imaging/raw_rendering.hpp"

#include "library/imaging/lens_correction.hpp"
#include "library/imaging/vips_images.hpp"

#include <algorithm>

namespace tw::imaging::detail {

namespace {

using vips::VImage;

std::optional<LensCorrection> FindCorrection(RawSource& source, const RawFile& file) {
  LensQuery query;
  const RawMetadata* exif = source.metadata();
  if (exif != nullptr && !exif->model().empty()) {
    query.cameraMake = exif->make();
    query.cameraModel = exif->model();
  } else {
    query.cameraMake = file.shot().make;
    query.cameraModel = file.shot().model;
  }
  query.lensName = file.shot().lensName;
  query.fallbackLensName = file.shot().makernoteLensName;
  query.focalLength = file.shot().focalLength;
  query.aperture = file.shot().aperture;
  return LensCorrection::Find(query);
}

// Linear 16-bit RGB to display sRGB: the gamma curve is applied here, once, at the end.
VImage LinearToSRGB(const VImage& linear16) {
  VImage scene = linear16.cast(VIPS_FORMAT_FLOAT)
                     .linear(1.0 / 65535.0, 0.0)
                     .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_scRGB));
  return scene.colourspace(VIPS_INTERPRETATION_sRGB);
}

}  // namespace

std::optional<RawRendering> RenderRaw(RawSource& source, int maxPixelSize, bool lensWanted) {
  RawFile* file = source.raw();
  if (file == nullptr) return std::nullopt;
  std::optional<LensCorrection> correction;
  if (lensWanted) correction = FindCorrection(source, *file);

  int sensorLongSide = std::max(file->sensorWidth(), file->sensorHeight());
  int target = std::max(1, maxPixelSize);
  // Half size skips demosaicing and is still large enough when the target is at most half the sensor.
  bool halfSize = maxPixelSize > 0 && 2L * target <= sensorLongSide;
  std::optional<VImage> developed = file->DevelopLinear(halfSize);
  if (!developed) return std::nullopt;

  VImage image = *developed;
  int longSide = std::max(image.width(), image.height());
  if (longSide <= 0) return std::nullopt;
  if (maxPixelSize > 0 && target < longSide) {
    double scale = static_cast<double>(target) / longSide;
    image = image.resize(scale, VImage::option()->set("kernel", VIPS_KERNEL_LANCZOS3));
  }

  RawRendering rendering;
  if (correction) {
    if (std::optional<VImage> corrected = correction->Apply(image)) {
      image = *corrected;
      rendering.lensApplied = true;
    }
  }
  rendering.image = FinishDecodedImage(Upright(LinearToSRGB(image).copy_memory(), source.Orientation()));
  return rendering;
}

}  // namespace tw::imaging::detail
