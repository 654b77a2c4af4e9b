#include "output/image_encoding.hpp"

#include "library/imaging/decoding.hpp"

namespace tw::output {
namespace {

std::optional<std::string> TakeBlob(VipsBlob* blob) {
  if (!blob) return std::nullopt;
  size_t length = 0;
  const void* data = vips_blob_get(blob, &length);
  std::string bytes(static_cast<const char*>(data), length);
  vips_area_unref(VIPS_AREA(blob));
  if (bytes.empty()) return std::nullopt;
  return bytes;
}

}  // namespace

std::optional<std::string> EncodeImage(const imaging::DecodedImage& image, ImageEncoding encoding, double jpegQuality) {
  if (encoding == ImageEncoding::JPEG) return imaging::EncodeJPEG(image, jpegQuality);
  if (image.get_image() == nullptr) return std::nullopt;
  try {
    imaging::EnsureVipsStarted();
    switch (encoding) {
      case ImageEncoding::PNG:
        return imaging::EncodePNG(image, kEncoderDefaultPNGCompression);
      case ImageEncoding::TIFF:
        return TakeBlob(image.tiffsave_buffer(vips::VImage::option()->set("strip", true)));
      case ImageEncoding::HEIC:
        return TakeBlob(image.heifsave_buffer(
            vips::VImage::option()->set("strip", true)->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC)));
      case ImageEncoding::JPEG:
        break;
    }
  } catch (...) {
  }
  return std::nullopt;
}

}  // namespace tw::output
