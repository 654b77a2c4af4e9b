#pragma once
// The converting side of the advanced export: what a format string asks for, and the rendering of
// one photo into encoded bytes. Errors are values of the domain "TidewickExport":
//   1 "系统无法解码此照片"  the photo gave no image;
//   2 "照片格式转换失败"    the encoder (or writing its file) failed.
#include "base/error.hpp"
#include "output/image_encoding.hpp"
#include "output/kept_metadata.hpp"

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
  int longEdge = kExportRenderPixels;  // the rendering's long side at most (never enlarged)
};
// "original", "jpeg" (extension "jpg", quality clamped to 0.5…1), "png", "tiff", "heic"; any other
// text is written as JPEG at the encoder's own quality under "jpg": the name says what the bytes
// are (never JPEG bytes called ".gif"), and a format text never reaches into the path. longEdge
// (pixels) limits the rendering's long side; 0 leaves the full size, and it never exceeds 8192.
ExportFormat ExportFormatFor(const std::string& format, double quality, long longEdge = 0);

struct RenderedPhoto {
  std::optional<std::string> bytes;
  std::optional<Error> error;
};
// Worker thread. CreateRenderedImage (long side at most the format's longEdge, lens correction as
// wanted) encoded as the format says; a JPEG keeps the photo's metadata and carries the marks
// (kept_metadata.hpp), or, should exiv2 fail to write them, is written without any.
RenderedPhoto RenderPhoto(const std::string& source, const ExportFormat& format, bool lensWanted,
                          const PhotoMarks& marks);

}  // namespace tw::output
