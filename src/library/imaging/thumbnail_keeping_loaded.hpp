#pragma once
// The analysis thumbnail together with the larger picture its decoder loaded on the way, so that
// small faces can be looked at more closely without decoding the photo again.
#include "library/imaging/decoded_image.hpp"

#include <optional>
#include <string>

namespace tw::imaging {

struct ThumbnailWithLoaded {
  DecodedImage thumbnail;  // exactly CreateThumbnail's picture
  // For a JPEG shrunk on load: the picture as loaded (upright, the same form, larger than the
  // thumbnail); nullopt for every other file, or when nothing larger was loaded.
  MaybeImage loaded;
};

// CreateThumbnail(path, maxPixelSize, backdrop) keeping the loaded picture; nullopt exactly where
// CreateThumbnail gives nullopt. Any thread.
std::optional<ThumbnailWithLoaded> CreateThumbnailKeepingLoaded(const std::string& path, int maxPixelSize,
                                                                Backdrop backdrop);

}  // namespace tw::imaging
