#pragma once
// The decoding family: every part of the program turns a photo file into pixels through these.
// All functions keep no state and may run concurrently on any thread (worker threads in practice;
// the decoders block for as long as decoding takes). Paths may also be given as file URLs.
// A file that cannot be read or decoded (missing, not a regular file, empty, truncated, corrupt, a
// JPEG without image data, more than 256 megapixels) gives nullopt; no decoder failure escapes
// as an exception.
//
// Raw files (IsRAWURL, or a raw file signature) never reach libvips, which would take a TIFF-based
// raw for a plain TIFF: LibRaw develops them and exiv2/LibRaw supply their embedded previews.
#include "library/imaging/decoded_image.hpp"

#include <ctime>
#include <optional>
#include <string>
#include <utility>

namespace tw::imaging {

// Upright image, long side at most maxPixelSize, never upscaled, transparency on the backdrop.
// JPEG/PNG/TIFF/HEIC/WebP: libvips shrink-on-load; HEIC takes its HEIF rotation only.
// Raw: the smallest embedded JPEG that is at least maxPixelSize on its long side (or already
// full size), oriented by the raw's metadata; otherwise the raw developed by LibRaw; and only
// when that fails too, the largest embedded preview that decodes, even if smaller (raw pictures
// are opaque).
MaybeImage CreateThumbnail(const std::string& path, int maxPixelSize, Backdrop backdrop = Backdrop::White);

// With lensWanted and a raw that LibRaw develops: the raw developed in linear light (half size when
// that is still at least maxPixelSize), scaled with Lanczos3 to at most maxPixelSize, corrected for
// its lens when lensfun knows camera and lens, sRGB 8-bit. Any other case, and every failure,
// gives CreateThumbnail of the same file and size. *lensApplied (when given) is set to whether a
// lens correction was applied to the returned image.
MaybeImage CreateRenderedImage(const std::string& path, int maxPixelSize, bool lensWanted,
                               bool* lensApplied = nullptr);

// CreateRenderedImage for a picture that is only looked at (the loupe's preview): a JPEG is decoded
// at the smallest scale libjpeg offers that still holds maxPixelSize, which costs less and looks
// the same on screen, but is not the picture analysis and exports measure.
MaybeImage CreateViewingImage(const std::string& path, int maxPixelSize, bool lensWanted);

// Full resolution, upright. A raw is developed in full (lens-corrected when lensWanted and
// available); a raw that cannot be developed yields its embedded JPEG only when that JPEG is full
// size (at least 95 % of the raw's width and height), otherwise nullopt: a reduced rendering is
// never passed off as the full picture.
MaybeImage CreateFullEditImage(const std::string& path, bool lensWanted);

// A rectangle of a picture in pixels.
struct PixelRect {
  long x = 0;
  long y = 0;
  long width = 0;
  long height = 0;
  bool operator==(const PixelRect&) const = default;
};
// The rectangle moved and cut to lie inside a pictureWidth × pictureHeight picture, each side at most
// maxSide (and at least 1 pixel): the origin is brought inside first, then the size is cut.
PixelRect ClampedRect(PixelRect wanted, long pictureWidth, long pictureHeight, long maxSide);

// Full-resolution pixels of a rectangle of the upright photo, as a 100 % view shows them.
struct RegionImage {
  DecodedImage pixels;  // region × scale pixels
  PixelRect region;     // the rectangle taken, after ClampedRect
  long photoWidth = 0;  // the upright full picture the rectangle lies in
  long photoHeight = 0;
};
// The photo's rectangle (ClampedRect with maxOutputSide / scale), enlarged scale times by repeating
// each pixel, so 200 % shows the same pixels larger rather than invented ones. JPEG and the other
// libvips formats decode only the rows that hold the rectangle. A raw takes the same picture as its
// large preview would at full size: with lensWanted it is developed in full (lens-corrected when
// known); without, its full-size embedded JPEG serves first. A raw that cannot be developed serves
// its full-size embedded JPEG, never a reduced one. nullopt when the photo cannot be decoded or
// scale is not 1 or 2.
std::optional<RegionImage> CreateRegionImage(const std::string& path, PixelRect wanted, int scale, long maxOutputSide,
                                             bool lensWanted);

// Rotated by quarter turns clockwise (any integer, taken modulo 4) and cropped to the fractions
// x, y, w, h of the rotated picture (x + w and y + h may exceed 1 by one millionth); nullopt when
// the crop is invalid or would hold no pixel.
MaybeImage CreateEditedImage(const DecodedImage& image, long turns, double x, double y, double w, double h);

// JPEG bytes at quality 0..1 (the 0..1 scale callers use), baseline sRGB, no metadata (so no
// orientation tag: the pixels are upright).
std::optional<std::string> EncodeJPEG(const DecodedImage& image, double quality);

// PNG bytes at zlib compression 0..9, no metadata; lossless, for pixels that must stay exactly themselves.
std::optional<std::string> EncodePNG(const DecodedImage& image, int compression);

// "data:image/jpeg;base64,..." of CreateThumbnail(path, 900) at quality 0.82, or "".
std::string ImagePreviewDataURL(const std::string& path);
// "data:image/jpeg;base64," followed by the bytes in standard Base64 without line breaks.
std::string JPEGDataURL(const std::string& jpeg);

// The picture's width and height in pixels as its file states them (the first image; a raw's
// full sensor picture), read without decoding; nullopt when the file cannot be read as a photo.
std::optional<std::pair<long, long>> ImagePixelSize(const std::string& path);

// MIME type by lower-cased extension ("application/octet-stream" when unknown).
std::string MIMETypeForPath(const std::string& pathOrName);
// Whether the lower-cased extension names a raw format (cr3 cr2 dng nef nrw arw raf rw2 orf pef).
bool IsRAWURL(const std::string& path);

// Whether the photo file is there but this program may not read it: a failed decode is then told
// apart from an undecodable photo.
bool IsReadPermissionDenied(const std::string& path);

// Whether the cached preview must be rebuilt from the source: the cache is missing or empty, it
// has no record of its source, or the source is reachable and its size or modification time (to
// the nanosecond) is not the recorded one. An unreachable source keeps the old preview in use.
bool PreviewCacheNeedsRefresh(const std::string& sourcePath, const std::string& cachePath);

// The source of a preview as it was when its development began: taken before decoding, so that a
// photo changed meanwhile is developed again at the next request.
struct PreviewSource {
  unsigned long long size = 0;
  timespec modified{};
};
std::optional<PreviewSource> ReadPreviewSource(const std::string& sourcePath);

// Puts a new preview (a complete file in the cache's folder) in place of the cache file, with the
// record of what it was made from. False when it could not be put in place; the old preview then stays.
bool PlacePreview(const std::string& newPreviewPath, const std::string& cachePath, const PreviewSource& source);

}  // namespace tw::imaging
