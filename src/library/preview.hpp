#pragma once
// Large previews: developed on demand at 2800 pixels, cached as JPEG in "PreviewCache" (one file
// per photo and lens setting), rebuilt when the photo is no longer the file it was made from.
#include "base/json.hpp"

#include <string>

namespace tw::library {

inline constexpr const char* kPreviewCacheFolder = "PreviewCache";
inline constexpr int kPreviewSize = 2800;
inline constexpr double kPreviewQuality = 0.9;
inline constexpr const char* kPreviewUndecodable = "系统无法解码大图，正在显示缓存预览";
inline constexpr const char* kPreviewSourceMissing = "原文件当前不可访问，正在显示缓存预览";
inline constexpr const char* kPreviewNoReadPermission = "原文件没有读取权限，正在显示缓存预览";

// "<hash of the path>-lens.jpg" or "-plain.jpg".
std::string PreviewCacheFileName(const std::string& photoPath, bool lens);

// Worker thread. Brings the cached preview up to date and returns the previewReady payload:
// {"id", "url"} or {"id", "error"}.
Json PreparePreview(const std::string& id, const std::string& photoPath, const std::string& supportFolder, bool lens);

}  // namespace tw::library
