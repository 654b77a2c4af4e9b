#include "workbench/style_algorithm.hpp"

#include "base/files.hpp"

#include <glib.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

namespace tw::workbench {
namespace {

constexpr int kProfileSide = 32;
constexpr double kMidtoneFloor = 0.02;
constexpr double kMidtoneCeiling = 0.98;
// Rec. 709 luminance: the profile's luma and the grey that saturation turns around.
constexpr std::array<double, 3> kLumaWeights = {0.2126, 0.7152, 0.0722};
constexpr double kMaxStops = 0.7;
constexpr double kMinGain = 0.8, kMaxGain = 1.2;
// Only keep divisions away from zero.
constexpr double kLumaFloor = 0.01, kShareFloor = 0.01, kSaturationFloor = 0.05;

// At most `high` first, then at least `low`.
double Clamp(double value, double low, double high) { return std::max(std::min(value, high), low); }

}  // namespace

bool FileStamp::operator==(const FileStamp& other) const {
  return bytes == other.bytes && SameTime(modified, other.modified) && device == other.device && inode == other.inode;
}

std::optional<FileStamp> TWFileStamp(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileStamp{static_cast<unsigned long long>(st.st_size), st.st_mtim, st.st_dev, st.st_ino};
}

bool SameStamp(const std::optional<FileStamp>& a, const std::optional<FileStamp>& b) { return a && b && *a == *b; }

std::optional<ColorProfile> TWColorProfile(const std::optional<imaging::DecodedImage>& image) {
  if (!image || image->get_image() == nullptr) return std::nullopt;
  try {
    vips::VImage small = image->thumbnail_image(
        kProfileSide, vips::VImage::option()->set("height", kProfileSide)->set("size", VIPS_SIZE_FORCE));
    if (small.width() != kProfileSide || small.height() != kProfileSide || small.bands() != 3 ||
        small.format() != VIPS_FORMAT_UCHAR) {
      return std::nullopt;
    }
    size_t length = 0;
    std::unique_ptr<unsigned char, decltype(&g_free)> pixels(
        static_cast<unsigned char*>(small.write_to_memory(&length)), &g_free);
    if (!pixels || length != size_t{kProfileSide} * kProfileSide * 3) return std::nullopt;
    double sums[4] = {0, 0, 0, 0};
    long count = 0;
    for (size_t at = 0; at < length; at += 3) {
      const double r = pixels.get()[at] / 255.0, g = pixels.get()[at + 1] / 255.0, b = pixels.get()[at + 2] / 255.0;
      const double high = std::max({r, g, b}), low = std::min({r, g, b});
      if (high < kMidtoneFloor || low > kMidtoneCeiling) continue;
      sums[0] += r;
      sums[1] += g;
      sums[2] += b;
      sums[3] += high > 0 ? (high - low) / high : 0;
      ++count;
    }
    if (count == 0) return std::nullopt;
    ColorProfile profile{sums[0] / count, sums[1] / count, sums[2] / count, 0, sums[3] / count};
    profile.luma = kLumaWeights[0] * profile.r + kLumaWeights[1] * profile.g + kLumaWeights[2] * profile.b;
    return profile;
  } catch (const vips::VError&) {
    return std::nullopt;
  }
}

Json ToJson(const StyleValues& values) {
  return Json{{"exposure", values.exposure}, {"r", values.r}, {"g", values.g}, {"b", values.b},
              {"saturation", values.saturation}};
}

std::optional<StyleValues> TWStyleValues(const std::optional<ColorProfile>& photo,
                                         const std::optional<ColorProfile>& reference, const Json& options) {
  if (!photo || !reference) return std::nullopt;
  const double s = NumberField(options, "strength").value_or(0) / 100.0;
  if (!std::isfinite(s) || s < 0 || s > 1) return std::nullopt;
  const bool preserveColors = BoolField(options, "preserveColors", true);

  StyleValues values;
  const double ratio = std::max(reference->luma, kLumaFloor) / std::max(photo->luma, kLumaFloor);
  values.exposure = Clamp(std::log2(ratio), -kMaxStops, kMaxStops) * s;
  if (preserveColors) return values;

  auto gain = [&](double referenceChannel, double photoChannel) {
    const double referenceShare = referenceChannel / std::max(reference->luma, kLumaFloor);
    const double photoShare = std::max(photoChannel / std::max(photo->luma, kLumaFloor), kShareFloor);
    return 1 + s * (Clamp(referenceShare / photoShare, kMinGain, kMaxGain) - 1);
  };
  values.r = gain(reference->r, photo->r);
  values.g = gain(reference->g, photo->g);
  values.b = gain(reference->b, photo->b);
  const double factor =
      Clamp(reference->saturation / std::max(photo->saturation, kSaturationFloor), kMinGain, kMaxGain);
  values.saturation = 1 + s * (factor - 1);
  return values;
}

std::optional<vips::VImage> TWStyledImage(const std::optional<imaging::DecodedImage>& image,
                                          const std::optional<StyleValues>& values) {
  if (!image || !values || image->get_image() == nullptr) return std::nullopt;
  try {
    // Exposure (2^stops) and the channel gains are one gain per channel in linear light; the
    // saturation then mixes each channel with the luminance: out = s·in + (1 − s)·Y. Both are
    // linear, so the whole adjustment is one 3 × 3 matrix.
    const double stops = std::exp2(values->exposure);
    const std::array<double, 3> gains = {stops * values->r, stops * values->g, stops * values->b};
    const double s = values->saturation;
    std::array<double, 9> matrix{};
    for (int row = 0; row < 3; ++row) {
      for (int column = 0; column < 3; ++column) {
        const double mix = (1 - s) * kLumaWeights[column] + (row == column ? s : 0);
        matrix[row * 3 + column] = mix * gains[column];
      }
    }
    vips::VImage linear = image->colourspace(VIPS_INTERPRETATION_scRGB);
    vips::VImage adjusted =
        linear.recomb(vips::VImage::new_matrix(3, 3, matrix.data(), static_cast<int>(matrix.size())))
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_scRGB));
    return adjusted.colourspace(VIPS_INTERPRETATION_sRGB);
  } catch (const vips::VError&) {
    return std::nullopt;
  }
}

}  // namespace tw::workbench
