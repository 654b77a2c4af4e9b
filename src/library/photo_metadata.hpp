#pragma once
// Capture data as the camera recorded it: when (EXIF DateTimeOriginal with its sub-seconds and
// offset), which body and lens, and the exposure. Read with exiv2, raw containers (CR3) included,
// for the details panel and for ordering a shoot of several bodies by capture time.
#include "base/json.hpp"

#include <cstddef>
#include <string>

namespace tw::library {

// One message asks for at most this many photos; the page sends a large shoot in parts.
inline constexpr size_t kMaxMetadataPhotosPerMessage = 2000;
inline constexpr const char* kMetadataUnreadable = "无法读取这张照片的拍摄信息";
inline constexpr const char* kMetadataTooMany = "一次最多读取 2000 张照片的拍摄信息";

// Worker thread. One photo's entry: {"id", "captureTime", "camera", "serial", "lens", "focalLength",
// "aperture", "shutter", "exposureTime", "iso", "exposureCompensation", "width", "height"} with null
// for what the file does not state, or {"id", "error"}.
Json ReadPhotoMetadata(const std::string& id, const std::string& path);

// Worker thread. The photoMetadata payload {"photos": [...]} for the action's parallel "ids" and
// "paths" arrays, in their order. An id that is not a non-empty string has no one to answer and is
// passed over; an id without a path gets an error entry.
Json PhotoMetadataPayload(const Json& body);

}  // namespace tw::library
