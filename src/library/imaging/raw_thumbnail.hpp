#pragma once
// The thumbnail of a raw file. Embedded previews are the camera's own rendering and cost a JPEG
// decode instead of a development, so any preview at least as large as asked (or already full
// size) serves; the raw data is developed only when none is; and a smaller preview is the last
// resort, used only when nothing larger decodes (a camera's 160x120 thumbnail must never stand in
// for a 768-pixel analysis image while the raw itself can be developed). Any thread.
#include "library/imaging/decoded_image.hpp"
#include "library/imaging/raw_source.hpp"

namespace tw::imaging::detail {

// A preview at least this share of the full picture on both sides counts as full size.
inline constexpr double kFullSizeShare = 0.95;

// What a preview must hold to count as full size.
enum class FullSizeRule {
  WholePicture,  // kFullSizeShare of both sides: an edit is saved as the whole photo
  FullScale,     // kFullSizeShare of the long side: a 100 % view needs the sensor's pixel scale, which a
                 // preview cropped to another aspect (16:9) still has
};
// The largest embedded preview that decodes and is full size by the rule, upright: what stands in
// for an undevelopable raw where a reduced rendering must never pass for the full one. Throws
// vips::VError.
MaybeImage FullSizePreview(RawSource& source, FullSizeRule rule);

// mayDevelop false skips development (the caller has just seen it fail). Throws vips::VError.
MaybeImage RawThumbnail(RawSource& source, int maxPixelSize, bool mayDevelop);

}  // namespace tw::imaging::detail
