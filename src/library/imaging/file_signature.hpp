#pragma once
// Which decoder may read a file. The first bytes decide before the extension does: libvips takes a
// TIFF-based raw for a plain TIFF and would hand back a tiny embedded strip, and a mislabelled file
// must not reach a decoder that was never meant for it.
#include <string>

namespace tw::imaging::detail {

// The file system path of a path or of a "file://" URL text.
std::string LocalPath(const std::string& pathOrURL);

enum class DecoderRoute {
  Unreadable,   // missing, unreadable or empty
  Vips,         // JPEG, PNG, GIF, WebP, HEIF/HEIC, plain TIFF
  Raw,          // LibRaw and exiv2
  Unsupported,  // a signature none of our decoders is meant for
};

// Reads the file's first bytes; any thread.
DecoderRoute RouteForFile(const std::string& path);

}  // namespace tw::imaging::detail
