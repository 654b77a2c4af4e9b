#pragma once
// The one grey conversion every measurement and the face detector share.
#include <vips/vips8>

namespace tw::analysis {

// One band of 8-bit grey: libvips' B_W colourspace (sRGB luminance re-encoded with the sRGB curve);
// alpha is composited over black. Throws vips::VError as libvips does.
vips::VImage GreyBand(const vips::VImage& image);

}  // namespace tw::analysis
