#include "library/imaging/decoding.hpp"
#include "library/imaging/file_signature.hpp"
#include "library/imaging/raw_rendering.hpp"
#include "library/imaging/raw_thumbnail.hpp"
#include "library/imaging/vips_images.hpp"

#include <algorithm>

namespace tw::imaging {

namespace {

// The upright full picture of a raw, decoded whole: LibRaw develops the full sensor only at once.
MaybeImage FullRawPicture(const std::string& path, bool lensWanted) {
  detail::RawSource source(path);
  // Without the lens setting the previews show the camera's own rendering; the 100 % view shows
  // the same picture, so the two never differ in colour.
  if (!lensWanted) {
    if (MaybeImage embedded = detail::FullSizePreview(source, detail::FullSizeRule::FullScale)) return embedded;
  }
  if (std::optional<detail::RawRendering> rendering = detail::RenderRaw(source, 0, lensWanted)) {
    return rendering->image;
  }
  return lensWanted ? detail::FullSizePreview(source, detail::FullSizeRule::FullScale) : std::nullopt;
}

}  // namespace

PixelRect ClampedRect(PixelRect wanted, long pictureWidth, long pictureHeight, long maxSide) {
  PixelRect rect;
  rect.x = std::clamp(wanted.x, 0L, std::max(0L, pictureWidth - 1));
  rect.y = std::clamp(wanted.y, 0L, std::max(0L, pictureHeight - 1));
  rect.width = std::clamp(wanted.width, 1L, std::max(1L, std::min(pictureWidth - rect.x, maxSide)));
  rect.height = std::clamp(wanted.height, 1L, std::max(1L, std::min(pictureHeight - rect.y, maxSide)));
  return rect;
}

std::optional<RegionImage> CreateRegionImage(const std::string& pathOrURL, PixelRect wanted, int scale,
                                             long maxOutputSide, bool lensWanted) {
  if (scale != 1 && scale != 2) return std::nullopt;
  const long maxSide = std::max(1L, maxOutputSide / scale);
  try {
    EnsureVipsStarted();
    const std::string path = detail::LocalPath(pathOrURL);
    RegionImage region;
    switch (detail::RouteForFile(path)) {
      case detail::DecoderRoute::Vips: {
        detail::VipsPicture picture = detail::OpenVipsPicture(path);
        region.photoWidth = picture.uprightWidth;
        region.photoHeight = picture.uprightHeight;
        region.region = ClampedRect(wanted, region.photoWidth, region.photoHeight, maxSide);
        region.pixels = detail::DecodeUprightArea(picture, region.region.x, region.region.y, region.region.width,
                                                  region.region.height);
        break;
      }
      case detail::DecoderRoute::Raw: {
        MaybeImage picture = FullRawPicture(path, lensWanted);
        if (!picture) return std::nullopt;
        region.photoWidth = picture->width();
        region.photoHeight = picture->height();
        region.region = ClampedRect(wanted, region.photoWidth, region.photoHeight, maxSide);
        region.pixels = picture
                            ->extract_area(region.region.x, region.region.y, region.region.width,
                                           region.region.height)
                            .copy_memory();
        break;
      }
      case detail::DecoderRoute::Unreadable:
      case detail::DecoderRoute::Unsupported:
        return std::nullopt;
    }
    if (scale > 1) region.pixels = region.pixels.zoom(scale, scale).copy_memory();
    return region;
  } catch (...) {
  }
  return std::nullopt;
}

}  // namespace tw::imaging
