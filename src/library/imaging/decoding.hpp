#pragma once
// The decoding family: every part of the program turns a photo file into pixels through these.
// All functions keep no state and may run concurrently on any thread.
#include "library/imaging/decoded_image.hpp"

#include <string>

namespace tw::imaging {

// Upright image, long side at most maxPixelSize, never upscaled. Raw files yield their largest
// embedded JPEG (oriented by the raw's metadata) and are developed only when no usable preview
// exists. An embedded preview smaller than maxPixelSize is used only when nothing larger decodes.
MaybeImage CreateThumbnail(const std::string& path, int maxPixelSize);

// A raw developed (with the camera/lens correction when wanted and available) and scaled with
// Lanczos to at most maxPixelSize; any other file, or a raw that cannot be developed, takes
// CreateThumbnail. *lensApplied (when given) tells whether a lens correction was applied.
MaybeImage CreateRenderedImage(const std::string& path, int maxPixelSize, bool lensWanted,
                               bool* lensApplied = nullptr);

// Full resolution, upright; a raw that cannot be developed yields its embedded JPEG only when that
// JPEG is full size. lensWanted is the current lens setting.
MaybeImage CreateFullEditImage(const std::string& path, bool lensWanted);

// Rotated by quarter turns clockwise (any integer, taken modulo 4) and cropped to the fractions
// x, y, w, h of the rotated picture; nullopt when the crop is invalid.
MaybeImage CreateEditedImage(const DecodedImage& image, long turns, double x, double y, double w, double h);

// JPEG bytes at quality 0..1 (the 0..1 scale callers use), baseline sRGB, no orientation tag.
std::optional<std::string> EncodeJPEG(const DecodedImage& image, double quality);

// "data:image/jpeg;base64,..." of CreateThumbnail(path, 900) at quality 0.82, or "".
std::string ImagePreviewDataURL(const std::string& path);

std::string MIMETypeForPath(const std::string& pathOrName);
bool IsRAWURL(const std::string& path);

// Whether the cached preview must be rebuilt from the source.
bool PreviewCacheNeedsRefresh(const std::string& sourcePath, const std::string& cachePath);

}  // namespace tw::imaging
