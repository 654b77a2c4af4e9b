#pragma once
// Raw development: LibRaw in linear 16-bit, Lanczos3 scaling, lens correction after the scaling,
// sRGB 8-bit, turned upright. Any thread; the work is CPU-bound and takes from a fraction of a
// second (half size) to a few seconds (full size).
#include "library/imaging/decoded_image.hpp"
#include "library/imaging/raw_source.hpp"

#include <optional>

namespace tw::imaging::detail {

struct RawRendering {
  DecodedImage image;
  bool lensApplied = false;
};

// The raw developed to at most maxPixelSize on its long side (0: full size, never scaled),
// lens-corrected when lensWanted and lensfun knows camera and lens. nullopt when LibRaw cannot
// develop the file. Throws vips::VError on a libvips failure.
std::optional<RawRendering> RenderRaw(RawSource& source, int maxPixelSize, bool lensWanted);

}  // namespace tw::imaging::detail
