#pragma once
// The converting side of the advanced export: what a format string asks for, and the rendering of
// one photo into encoded bytes. Errors are values of the domain "TidewickExport":
//   1 "系统无法解码此照片"  the photo gave no image;
//   2 "照片格式转换失败"    the encoder (or writing its file) failed.
#include "base/error.hpp"
#include "output/image_encoding.hpp"

#include <optional>
#include <string>

namespace tw::output {

inline constexpr int kExportRenderPixels = 8192;
inline constexpr double kDefaultExportQuality = 0.92;

enum class ExportErrorCode { CannotDecode = 1, ConversionFailed = 2 };
Error ExportError(ExportErrorCode code);

// What one export format string means.
struct ExportFormat {
  bool copiesOriginal = false;  // "original": the source file's bytes under its own extension
  ImageEncoding encoding = ImageEncoding::JPEG;
  std::string extension;        // of the output name; "" for "original" (the source's is used)
  double jpegQuality = kEncoderDefaultJPEGQuality;
};
// "original", "jpeg" (extension "jpg", quality clamped to 0.5…1), "png", "tiff", "heic"; any other
// text is written as JPEG at the encoder's own quality under "jpg": the name says what the bytes
// are (never JPEG bytes called ".gif"), and a format text never reaches into the path.
ExportFormat ExportFormatFor(const std::string& format, double quality);

struct RenderedPhoto {
  std::optional<std::string> bytes;
  std::optional<Error> error;
};
// Worker thread. CreateRenderedImage (long side at most 8192, lens correction as wanted) encoded as
// the format says.
RenderedPhoto RenderPhoto(const std::string& source, const ExportFormat& format, bool lensWanted);

}  // namespace tw::output
