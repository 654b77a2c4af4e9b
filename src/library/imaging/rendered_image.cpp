#include "library/imaging/decoding.hpp"
#include "library/imaging/file_signature.hpp"
#include "library/imaging/raw_rendering.hpp"
#include "library/imaging/raw_thumbnail.hpp"
#include "library/imaging/vips_images.hpp"

namespace tw::imaging {

MaybeImage CreateRenderedImage(const std::string& pathOrURL, int maxPixelSize, bool lensWanted, bool* lensApplied) {
  if (lensApplied != nullptr) *lensApplied = false;
  std::string path = detail::LocalPath(pathOrURL);
  if (!lensWanted || !IsRAWURL(path) || detail::RouteForFile(path) != detail::DecoderRoute::Raw) {
    return CreateThumbnail(path, maxPixelSize);
  }
  try {
    EnsureVipsStarted();
    detail::RawSource source(path);
    if (source.raw() == nullptr) return CreateThumbnail(path, maxPixelSize);
    if (std::optional<detail::RawRendering> rendering = detail::RenderRaw(source, maxPixelSize < 1 ? 1 : maxPixelSize, true)) {
      if (lensApplied != nullptr) *lensApplied = rendering->lensApplied;
      return rendering->image;
    }
    // Development failed (a codec LibRaw lacks, missing data): the previews remain, and
    // developing a second time would fail the same way.
    return detail::RawThumbnail(source, maxPixelSize, false);
  } catch (...) {
  }
  return CreateThumbnail(path, maxPixelSize);
}

MaybeImage CreateViewingImage(const std::string& pathOrURL, int maxPixelSize, bool lensWanted) {
  std::string path = detail::LocalPath(pathOrURL);
  if (detail::RouteForFile(path) != detail::DecoderRoute::Vips) return CreateRenderedImage(path, maxPixelSize, lensWanted);
  try {
    EnsureVipsStarted();
    return detail::VipsThumbnail(path, maxPixelSize, Backdrop::White, detail::ShrinkOnLoad::Full);
  } catch (...) {
    // An undecodable photo is nullopt, never a crash.
  }
  return std::nullopt;
}

}  // namespace tw::imaging
