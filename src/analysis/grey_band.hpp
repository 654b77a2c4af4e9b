#pragma once
// The one grey conversion every measurement and the face detector share.
#include <vips/vips8>

#include <optional>

namespace tw::analysis {

// One band of 8-bit grey: libvips' B_W colourspace (sRGB luminance re-encoded with the sRGB curve);
// alpha is composited over black. Throws vips::VError as libvips does.
vips::VImage GreyBand(const vips::VImage& image);

// GreyBand(image) decoded into memory, for a picture that several measurements read; nullopt for
// an empty image or when libvips cannot convert it.
std::optional<vips::VImage> GreyBandInMemory(const vips::VImage& image);

}  // namespace tw::analysis
