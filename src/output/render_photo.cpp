#include "output/render_photo.hpp"

#include "library/imaging/decoding.hpp"
#include "output/output_texts.hpp"

#include <algorithm>

namespace tw::output {

Error ExportError(ExportErrorCode code) {
  return Error{texts::kExportErrorDomain, static_cast<long>(code),
               code == ExportErrorCode::CannotDecode ? texts::kCannotDecode : texts::kConversionFailed};
}

ExportFormat ExportFormatFor(const std::string& format, double quality, long longEdge) {
  ExportFormat result;
  if (longEdge > 0) result.longEdge = static_cast<int>(std::min<long>(longEdge, kExportRenderPixels));
  if (format == "original") {
    result.copiesOriginal = true;
  } else if (format == "jpeg") {
    result.extension = "jpg";
    result.jpegQuality = std::clamp(quality, 0.5, 1.0);
  } else if (format == "png") {
    result.encoding = ImageEncoding::PNG;
    result.extension = "png";
  } else if (format == "tiff") {
    result.encoding = ImageEncoding::TIFF;
    result.extension = "tiff";
  } else if (format == "heic") {
    result.encoding = ImageEncoding::HEIC;
    result.extension = "heic";
  } else {
    // JPEG at the encoder's own quality.
    result.extension = "jpg";
  }
  return result;
}

RenderedPhoto RenderPhoto(const std::string& source, const ExportFormat& format, bool lensWanted,
                          const PhotoMarks& marks) {
  RenderedPhoto result;
  imaging::MaybeImage image = imaging::CreateRenderedImage(source, format.longEdge, lensWanted);
  if (!image) {
    result.error = ExportError(ExportErrorCode::CannotDecode);
    return result;
  }
  result.bytes = EncodeImage(*image, format.encoding, format.jpegQuality);
  if (!result.bytes) {
    result.error = ExportError(ExportErrorCode::ConversionFailed);
  } else if (format.encoding == ImageEncoding::JPEG) {
    if (auto kept = WithKeptMetadata(*result.bytes, source, marks)) result.bytes = std::move(kept);
  }
  return result;
}

}  // namespace tw::output
