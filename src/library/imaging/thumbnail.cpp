#include "library/imaging/decoding.hpp"
#include "library/imaging/file_signature.hpp"
#include "library/imaging/thumbnail_keeping_loaded.hpp"
#include "library/imaging/raw_thumbnail.hpp"
#include "library/imaging/vips_images.hpp"

namespace tw::imaging {

MaybeImage CreateThumbnail(const std::string& pathOrURL, int maxPixelSize, Backdrop backdrop) {
  try {
    EnsureVipsStarted();
    std::string path = detail::LocalPath(pathOrURL);
    switch (detail::RouteForFile(path)) {
      case detail::DecoderRoute::Vips:
        return detail::VipsThumbnail(path, maxPixelSize, backdrop);
      case detail::DecoderRoute::Raw: {
        detail::RawSource source(path);
        return detail::RawThumbnail(source, maxPixelSize, true);
      }
      case detail::DecoderRoute::Unreadable:
      case detail::DecoderRoute::Unsupported:
        return std::nullopt;
    }
  } catch (...) {
    // libvips, LibRaw and exiv2 failures all end here: an undecodable photo is nullopt, never a crash.
  }
  return std::nullopt;
}

std::optional<ThumbnailWithLoaded> CreateThumbnailKeepingLoaded(const std::string& pathOrURL, int maxPixelSize,
                                                                Backdrop backdrop) {
  try {
    EnsureVipsStarted();
    std::string path = detail::LocalPath(pathOrURL);
    if (detail::RouteForFile(path) == detail::DecoderRoute::Vips) {
      detail::ThumbnailAndLoaded decoded = detail::VipsThumbnailKeepingLoaded(path, maxPixelSize, backdrop);
      return ThumbnailWithLoaded{std::move(decoded.thumbnail), std::move(decoded.loaded)};
    }
  } catch (...) {
    return std::nullopt;
  }
  MaybeImage thumbnail = CreateThumbnail(pathOrURL, maxPixelSize, backdrop);
  if (!thumbnail) return std::nullopt;
  return ThumbnailWithLoaded{std::move(*thumbnail), std::nullopt};
}

}  // namespace tw::imaging
