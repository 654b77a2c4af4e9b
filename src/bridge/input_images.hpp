#pragma once
// Which files may go to the image-generation service as input images, and how a photo becomes
// one. A path named by the plug-in or the page is only used when it is absolute, names a regular
// file no larger than a message may be, and the photo library's decoding gate recognises it as an
// image; a folder, a device, a pipe or a text file put there counts as no file at all.
// Any thread (worker threads in practice: deciding reads the file's first bytes, preparing decodes).
#include "base/json.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace tw::bridge {

// The largest input image file, the same bound as the largest plug-in message.
inline constexpr std::uint64_t kMaxInputImageBytes = 64ull << 20;

// An absolute path of a regular file, within the bound, that decodes as an image (raw files included).
bool IsInputImageFile(const std::string& path);

// The upload descriptor ({path, mime}) of a photo for the face batch. JPEG, PNG and WebP files
// that decode as such go as they are; everything else (raw, TIFF, HEIC, a mislabelled file) is
// rendered at most 4096 pixels on the long side, with the lens correction when `lens`, and written
// as a JPEG into <supportFolder>/AIPrepared under a name that depends on the source path only.
// nullopt when the photo cannot be read.
std::optional<Json> PreparedAIImage(const std::string& path, const std::string& supportFolder, bool lens);

// "<hash of the path>.jpg": the cached file name of a photo's thumbnail or upload copy.
std::string PathHashFileName(const std::string& path);

}  // namespace tw::bridge
