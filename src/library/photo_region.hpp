#pragma once
// 100 % and 200 % views: the full-resolution pixels of a rectangle of a photo, upright and with the
// lens setting applied as the previews apply it, cached as lossless PNG in "RegionCache" and made
// again under the same rule as the previews when the photo is no longer the file they came from.
#include "base/json.hpp"

#include <optional>
#include <string>

namespace tw::library {

inline constexpr const char* kRegionCacheFolder = "RegionCache";
// The most pixels one answer holds on each side, after the enlargement.
inline constexpr long kMaxRegionSide = 4096;
// Fast zlib: a region is looked at once or twice, and PNG at the default level takes several times as long.
inline constexpr int kRegionPNGCompression = 1;
inline constexpr const char* kRegionInvalid = "请求的区域无效";
inline constexpr const char* kRegionUndecodable = "系统无法解码这张照片的原始像素";
inline constexpr const char* kRegionSourceMissing = "原文件当前不可访问，无法显示原始像素";
inline constexpr const char* kRegionNoReadPermission = "原文件没有读取权限，无法显示原始像素";
inline constexpr const char* kRegionCacheFailed = "无法写入原始像素缓存";

// Worker thread. The photoRegion answer for the action's body ("id", "path", "x", "y", "width",
// "height", "scale"): {"id", "url", "x", "y", "width", "height", "scale", "photoWidth", "photoHeight"}
// with the rectangle as taken, or {"id", "error"}. nullopt (no answer) when "id" is missing or empty.
std::optional<Json> PreparePhotoRegion(const Json& body, const std::string& supportFolder, bool lens);

}  // namespace tw::library
