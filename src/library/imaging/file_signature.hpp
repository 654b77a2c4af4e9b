#pragma once
// Which decoder may read a file. The first bytes decide before the extension does: libvips takes a
// TIFF-based raw for a plain TIFF and would hand back a tiny embedded strip, and a mislabelled file
// must not reach a decoder that was never meant for it.
#include <string>

namespace tw::imaging::detail {

// The file system path of a path or of a "file://" URL text.
std::string LocalPath(const std::string& pathOrURL);

enum class DecoderRoute {
  Unreadable,   // missing, unreadable, not a regular file, empty, or a JPEG without image data
  Vips,         // JPEG, PNG, GIF, WebP, HEIF/HEIC, plain TIFF
  Raw,          // LibRaw and exiv2
  Unsupported,  // a signature none of our decoders is meant for
};

// The gate every decoder passes: opens only an absolute path naming a regular file (never waiting
// on a FIFO) and reads its first bytes, and a JPEG's markers up to its first scan. Any thread.
DecoderRoute RouteForFile(const std::string& path);

}  // namespace tw::imaging::detail
