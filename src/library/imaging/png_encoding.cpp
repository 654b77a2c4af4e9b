#include "library/imaging/decoding.hpp"
#include "library/imaging/vips_images.hpp"

#include <algorithm>

namespace tw::imaging {

std::optional<std::string> EncodePNG(const DecodedImage& image, int compression) {
  if (image.get_image() == nullptr) return std::nullopt;
  try {
    EnsureVipsStarted();
    VipsBlob* blob =
        image.pngsave_buffer(vips::VImage::option()->set("compression", std::clamp(compression, 0, 9))->set("strip", true));
    return detail::TakeBlob(blob);
  } catch (...) {
  }
  return std::nullopt;
}

}  // namespace tw::imaging
