#include "output/image_encoding.hpp"

#include "library/imaging/decoding.hpp"
#include "library/imaging/vips_images.hpp"

namespace tw::output {
std::optional<std::string> EncodeImage(const imaging::DecodedImage& image, ImageEncoding encoding, double jpegQuality) {
  if (encoding == ImageEncoding::JPEG) return imaging::EncodeJPEG(image, jpegQuality);
  if (image.get_image() == nullptr) return std::nullopt;
  try {
    imaging::EnsureVipsStarted();
    switch (encoding) {
      case ImageEncoding::PNG:
        return imaging::EncodePNG(image, kEncoderDefaultPNGCompression);
      case ImageEncoding::TIFF:
        return imaging::detail::TakeBlob(image.tiffsave_buffer(vips::VImage::option()->set("strip", true)));
      case ImageEncoding::HEIC:
        return imaging::detail::TakeBlob(image.heifsave_buffer(
            vips::VImage::option()->set("strip", true)->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC)));
      case ImageEncoding::JPEG:
        break;
    }
  } catch (...) {
  }
  return std::nullopt;
}

}  // namespace tw::output
