#include "library/imaging/decoding.hpp"
#include "library/imaging/file_signature.hpp"
#include "library/imaging/raw_rendering.hpp"
#include "library/imaging/raw_thumbnail.hpp"
#include "library/imaging/vips_images.hpp"

#include <algorithm>

namespace tw::imaging {

namespace {

// An edit is saved as a new full-resolution photo, so only a preview that is the full picture
// may stand in for an undevelopable raw.
MaybeImage FullSizePreview(detail::RawSource& source) {
  auto [fullWidth, fullHeight] = source.FullSize();
  if (fullWidth <= 0 || fullHeight <= 0) return std::nullopt;
  std::vector<detail::PreviewCandidate> candidates = source.Previews(true);
  std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
    return static_cast<long>(a.width) * a.height > static_cast<long>(b.width) * b.height;
  });
  for (const detail::PreviewCandidate& candidate : candidates) {
    if (candidate.width < detail::kFullSizeShare * fullWidth || candidate.height < detail::kFullSizeShare * fullHeight) {
      continue;
    }
    MaybeImage image = source.Decode(candidate, 0);
    if (!image) continue;
    // The listed size may differ from what decodes; judge the pixels (upright now, so compare either way round).
    int longSide = std::max(image->width(), image->height());
    int shortSide = std::min(image->width(), image->height());
    if (longSide >= detail::kFullSizeShare * std::max(fullWidth, fullHeight) &&
        shortSide >= detail::kFullSizeShare * std::min(fullWidth, fullHeight)) {
      return image;
    }
  }
  return std::nullopt;
}

}  // namespace

MaybeImage CreateFullEditImage(const std::string& pathOrURL, bool lensWanted) {
  try {
    EnsureVipsStarted();
    std::string path = detail::LocalPath(pathOrURL);
    switch (detail::RouteForFile(path)) {
      case detail::DecoderRoute::Vips:
        return detail::VipsFullImage(path);
      case detail::DecoderRoute::Raw: {
        detail::RawSource source(path);
        if (std::optional<detail::RawRendering> rendering = detail::RenderRaw(source, 0, lensWanted)) {
          return rendering->image;
        }
        return FullSizePreview(source);
      }
      case detail::DecoderRoute::Unreadable:
      case detail::DecoderRoute::Unsupported:
        return std::nullopt;
    }
  } catch (...) {
  }
  return std::nullopt;
}

}  // namespace tw::imaging
