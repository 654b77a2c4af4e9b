#pragma once
// The decoded image every decoder hands out: a libvips image held in memory, upright (orientation
// already applied), 8-bit unsigned, sRGB, exactly 3 bands (alpha flattened on a backdrop, grey
// expanded). Cheap to copy (reference counted) and safe to read from several threads.
#include <vips/vips8>

#include <optional>

namespace tw::imaging {

using DecodedImage = vips::VImage;
using MaybeImage = std::optional<DecodedImage>;

// What transparent pixels are flattened onto. What is shown (thumbnails, previews, exports) sits on
// white, as a viewer shows it; what is measured sits on black, as drawing the picture into a
// zero-filled buffer leaves it, so a transparent picture is never judged overexposed.
enum class Backdrop { White, Black };

// Starts libvips once per process; every entry point that touches vips calls it. Any thread.
void EnsureVipsStarted();

}  // namespace tw::imaging
