#include "bridge/input_images.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "library/imaging/decoding.hpp"
#include "library/imaging/file_signature.hpp"

#include <fmt/format.h>

namespace tw::bridge {
namespace {

using imaging::detail::DecoderRoute;

constexpr char kPreparedFolder[] = "AIPrepared";
constexpr int kPreparedLongSide = 4096;
constexpr double kPreparedQuality = 0.94;

// The decoding gate's verdict on a file within the size bound; Unreadable for anything else.
DecoderRoute BoundedRoute(const std::string& path) {
  if (!StartsWith(path, "/")) return DecoderRoute::Unreadable;
  FileStat stat = StatPath(path);
  if (!stat.isRegular || stat.size > kMaxInputImageBytes) return DecoderRoute::Unreadable;
  return imaging::detail::RouteForFile(path);
}

bool UploadedAsItIs(const std::string& path) {
  const std::string extension = ToLower(PathExtension(path));
  if (extension != "jpg" && extension != "jpeg" && extension != "png" && extension != "webp") return false;
  return BoundedRoute(path) == DecoderRoute::Vips;
}

}  // namespace

bool IsInputImageFile(const std::string& path) {
  DecoderRoute route = BoundedRoute(path);
  return route == DecoderRoute::Vips || route == DecoderRoute::Raw;
}

std::string PathHashFileName(const std::string& path) { return fmt::format("{}.jpg", StableHash64(path)); }

std::optional<Json> PreparedAIImage(const std::string& path, const std::string& supportFolder, bool lens) {
  if (UploadedAsItIs(path)) return Json{{"path", path}, {"mime", imaging::MIMETypeForPath(path)}};
  // The decoders apply the same gate to anything else: a relative path or a pipe renders nothing.
  imaging::MaybeImage rendered = imaging::CreateRenderedImage(path, kPreparedLongSide, lens);
  if (!rendered) return std::nullopt;
  std::optional<std::string> jpeg = imaging::EncodeJPEG(*rendered, kPreparedQuality);
  if (!jpeg) return std::nullopt;
  const std::string folder = JoinPath(supportFolder, kPreparedFolder);
  CreateDirectories(folder);  // a failure shows in the write
  const std::string prepared = JoinPath(folder, PathHashFileName(path));
  if (WriteFileAtomically(prepared, *jpeg, 0666, Durability::Cached)) return std::nullopt;
  return Json{{"path", prepared}, {"mime", "image/jpeg"}};
}

}  // namespace tw::bridge
