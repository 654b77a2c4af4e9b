#pragma once
// libvips steps shared by the decoders. Every function here may throw vips::VError; the public
// entry points of the decoding family catch it and answer nullopt. Any thread.
#include "library/imaging/decoded_image.hpp"

#include <optional>
#include <string>

namespace tw::imaging::detail {

// Brings any libvips image to the DecodedImage form (sRGB through its embedded profile, 8-bit,
// 3 bands with alpha flattened on the backdrop, no orientation tag) and decodes it into memory.
DecodedImage FinishDecodedImage(vips::VImage image, Backdrop backdrop = Backdrop::White);

// The bytes an encoder's blob holds, the blob released; nullopt for no blob or an empty one.
std::optional<std::string> TakeBlob(VipsBlob* blob);

// Turns the pixels of an image stored with this EXIF orientation (1...8) so they stand upright.
vips::VImage Upright(vips::VImage image, int orientation);

// How much of a JPEG's reduction its scaled decoding may take: all but a Lanczos step's room for a
// picture that is measured (analysis, exports), all it can for one that is only looked at.
enum class ShrinkOnLoad { LeaveLanczosRoom, Full };

// Shrink-on-load thumbnail of a file libvips reads (never a raw): upright, long side at most
// maxPixelSize, never upscaled. A truncated file, or one of more than kMaxDecodePixels, is an error.
DecodedImage VipsThumbnail(const std::string& path, int maxPixelSize, Backdrop backdrop,
                           ShrinkOnLoad shrinkOnLoad = ShrinkOnLoad::LeaveLanczosRoom);

// VipsThumbnail, keeping the picture a JPEG was shrunk to on load (upright, in the same form) when
// it is larger than the thumbnail: reading it cost nothing more. `loaded` is nullopt otherwise.
struct ThumbnailAndLoaded {
  DecodedImage thumbnail;
  MaybeImage loaded;
};
ThumbnailAndLoaded VipsThumbnailKeepingLoaded(const std::string& path, int maxPixelSize, Backdrop backdrop);

// The whole image of a file libvips reads, upright; more than kMaxDecodePixels is an error.
DecodedImage VipsFullImage(const std::string& path);

// The most pixels a file's header may promise. A few kilobytes of JPEG header that promised 30000 ×
// 30000 pixels took 9 s and 5.3 GB to decode (into flat grey); 256 megapixels is above every
// camera's sensor (the largest, medium format, are about 150), so only stitched panoramas beyond
// it are refused.
inline constexpr double kMaxDecodePixels = 16384.0 * 16384.0;

// A file libvips reads, opened for a part of its picture: only the header is read until a part is
// decoded. Throws beyond kMaxDecodePixels.
struct VipsPicture {
  vips::VImage stored;  // sequential access, as stored (not yet turned upright)
  int orientation = 1;
  int uprightWidth = 0;
  int uprightHeight = 0;
};
VipsPicture OpenVipsPicture(const std::string& path);

// The pixels of a rectangle of the upright picture (inside it), decoded from the stored rows that
// hold it and no further: a part near the top of a 24 MP JPEG never pays for the rest.
DecodedImage DecodeUprightArea(const VipsPicture& picture, int x, int y, int width, int height);

// An encoded embedded preview (JPEG, TIFF) at most maxPixelSize on its long side (0: as stored),
// turned by the given orientation: embedded previews carry none of their own that can be trusted.
DecodedImage DecodeEncodedPreview(const std::string& bytes, int maxPixelSize, int orientation);

// The same for an 8-bit interleaved bitmap preview.
DecodedImage DecodeBitmapPreview(const std::string& pixels, int width, int height, int bands, int maxPixelSize,
                                 int orientation);

}  // namespace tw::imaging::detail
