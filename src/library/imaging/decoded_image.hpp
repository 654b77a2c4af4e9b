#pragma once
// The decoded image every decoder hands out: a libvips image held in memory, upright (orientation
// already applied), 8-bit unsigned, sRGB, exactly 3 bands (alpha flattened on white, grey expanded).
// Cheap to copy (reference counted) and safe to read from several threads.
#include <vips/vips8>

#include <optional>

namespace tw::imaging {

using DecodedImage = vips::VImage;
using MaybeImage = std::optional<DecodedImage>;

// Starts libvips once per process; every entry point that touches vips calls it. Any thread.
void EnsureVipsStarted();

}  // namespace tw::imaging
