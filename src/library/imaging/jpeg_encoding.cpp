#include "library/imaging/decoding.hpp"
#include "library/imaging/vips_images.hpp"

#include <glib.h>

#include <algorithm>
#include <cmath>

namespace tw::imaging {

std::optional<std::string> EncodeJPEG(const DecodedImage& image, double quality) {
  if (image.get_image() == nullptr || !std::isfinite(quality)) return std::nullopt;
  try {
    EnsureVipsStarted();
    // Callers speak 0..1; libjpeg's scale is 1..100.
    int q = static_cast<int>(std::clamp(std::lround(quality * 100.0), 1L, 100L));
    vips::VImage pixels = image;
    if (pixels.format() != VIPS_FORMAT_UCHAR || pixels.bands() != 3 ||
        pixels.interpretation() != VIPS_INTERPRETATION_sRGB) {
      pixels = detail::FinishDecodedImage(pixels);
    }
    VipsBlob* blob = pixels.jpegsave_buffer(vips::VImage::option()
                                                ->set("Q", q)
                                                ->set("strip", true)
                                                ->set("interlace", false)
                                                ->set("optimize_coding", true));
    return detail::TakeBlob(blob);
  } catch (...) {
  }
  return std::nullopt;
}

std::string ImagePreviewDataURL(const std::string& path) {
  MaybeImage thumbnail = CreateThumbnail(path, 900);
  if (!thumbnail) return "";
  std::optional<std::string> jpeg = EncodeJPEG(*thumbnail, 0.82);
  if (!jpeg) return "";
  return JPEGDataURL(*jpeg);
}

std::string JPEGDataURL(const std::string& jpeg) {
  gchar* base64 = g_base64_encode(reinterpret_cast<const guchar*>(jpeg.data()), jpeg.size());
  std::string url = "data:image/jpeg;base64,";
  url += base64;
  g_free(base64);
  return url;
}

}  // namespace tw::imaging
