#include "library/imaging/raw_thumbnail.hpp"

#include "library/imaging/raw_rendering.hpp"

#include <algorithm>
#include <cmath>

namespace tw::imaging::detail {

namespace {

// Smallest first: the cheapest decode that still fills the request.
MaybeImage FirstLargeEnough(RawSource& source, std::vector<PreviewCandidate> candidates, int minimumLongSide,
                            int maxPixelSize) {
  std::sort(candidates.begin(), candidates.end(),
            [](const PreviewCandidate& a, const PreviewCandidate& b) { return a.longSide() < b.longSide(); });
  for (const PreviewCandidate& candidate : candidates) {
    if (candidate.longSide() < minimumLongSide) continue;
    if (MaybeImage image = source.Decode(candidate, maxPixelSize)) return image;
  }
  return std::nullopt;
}

MaybeImage LargestThatDecodes(RawSource& source, std::vector<PreviewCandidate> candidates, int maxPixelSize) {
  std::sort(candidates.begin(), candidates.end(),
            [](const PreviewCandidate& a, const PreviewCandidate& b) { return a.longSide() > b.longSide(); });
  for (const PreviewCandidate& candidate : candidates) {
    if (MaybeImage image = source.Decode(candidate, maxPixelSize)) return image;
  }
  return std::nullopt;
}

}  // namespace

MaybeImage RawThumbnail(RawSource& source, int maxPixelSize, bool mayDevelop) {
  int target = std::max(1, maxPixelSize);

  // exiv2's list alone usually settles it (CR3's 1620-pixel PRVW for a 640 or 768 thumbnail).
  if (MaybeImage image = FirstLargeEnough(source, source.Previews(false), target, target)) return image;

  std::vector<PreviewCandidate> candidates = source.Previews(true);
  auto [fullWidth, fullHeight] = source.FullSize();
  int fullLongSide = std::max(fullWidth, fullHeight);
  int enough = target;
  if (fullLongSide > 0) {
    enough = std::min(target, static_cast<int>(std::ceil(kFullSizeShare * fullLongSide)));
  }
  if (MaybeImage image = FirstLargeEnough(source, candidates, enough, target)) return image;

  if (mayDevelop) {
    if (std::optional<RawRendering> rendering = RenderRaw(source, target, false)) return rendering->image;
  }
  return LargestThatDecodes(source, candidates, target);
}

MaybeImage FullSizePreview(RawSource& source, FullSizeRule rule) {
  const std::pair<int, int> full = source.FullSize();
  const int fullWidth = full.first, fullHeight = full.second;
  if (fullWidth <= 0 || fullHeight <= 0) return std::nullopt;
  // Either way round: listed sizes are in sensor orientation, decoded ones upright.
  auto isFullSize = [&](int width, int height) {
    const int longSide = std::max(width, height), shortSide = std::min(width, height);
    return longSide >= kFullSizeShare * std::max(fullWidth, fullHeight) &&
           (rule == FullSizeRule::FullScale || shortSide >= kFullSizeShare * std::min(fullWidth, fullHeight));
  };
  std::vector<PreviewCandidate> candidates = source.Previews(true);
  std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
    return static_cast<long>(a.width) * a.height > static_cast<long>(b.width) * b.height;
  });
  for (const PreviewCandidate& candidate : candidates) {
    if (!isFullSize(candidate.width, candidate.height)) continue;
    // The listed size may differ from what decodes; judge the pixels.
    MaybeImage image = source.Decode(candidate, 0);
    if (image && isFullSize(image->width(), image->height())) return image;
  }
  return std::nullopt;
}

}  // namespace tw::imaging::detail
