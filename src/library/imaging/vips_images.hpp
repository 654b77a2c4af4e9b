#pragma once
// libvips steps shared by the decoders. Every function here may throw vips::VError; the public
// entry points of the decoding family catch it and answer nullopt. Any thread.
#include "library/imaging/decoded_image.hpp"

#include <string>

namespace tw::imaging::detail {

// Brings any libvips image to the DecodedImage form (sRGB through its embedded profile, 8-bit,
// 3 bands with alpha flattened on white, no orientation tag) and decodes it into memory.
DecodedImage FinishDecodedImage(vips::VImage image);

// Turns the pixels of an image stored with this EXIF orientation (1...8) so they stand upright.
vips::VImage Upright(vips::VImage image, int orientation);

// Shrink-on-load thumbnail of a file libvips reads (never a raw): upright, long side at most
// maxPixelSize, never upscaled. A truncated file is an error.
DecodedImage VipsThumbnail(const std::string& path, int maxPixelSize);

// The whole image of a file libvips reads, upright.
DecodedImage VipsFullImage(const std::string& path);

// An encoded embedded preview (JPEG, TIFF) at most maxPixelSize on its long side (0: as stored),
// turned by the given orientation: embedded previews carry none of their own that can be trusted.
DecodedImage DecodeEncodedPreview(const std::string& bytes, int maxPixelSize, int orientation);

// The same for an 8-bit interleaved bitmap preview.
DecodedImage DecodeBitmapPreview(const std::string& pixels, int width, int height, int bands, int maxPixelSize,
                                 int orientation);

}  // namespace tw::imaging::detail
