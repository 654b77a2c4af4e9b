#pragma once
// Turns the landmark model's six points of one eye into the outline handed to EyeAspect, so that
// its height over width sits on the scale the closed-eye limits were set on.
//
// The six points come from the landmark model run on an upright (roll undone), upscaled crop of
// the face, so they are sub-pixel and their bounding box measures the eye's own height. The model
// was trained mostly on open eyes and keeps drawing a lid gap on shut eyes, so the eye's
// appearance is asked too (ReadEyeAppearance): the less open it looks, the closer the lids are
// drawn together, down to half the landmark height; where the landmarks cannot be trusted (see
// below) the outline is kept out of the closed range and left for a person to look at.
#include "analysis/eye_appearance.hpp"

#include <optional>

namespace tw::analysis {

// What the picture says about one eye; also printed by the accuracy report.
struct EyeEvidence {
  double landmarkAspect = -1;   // bounding-box height over width of the six points
  double lidContrast = 0;       // skin minus darkest grey level around the eye
  double openingContrast = 0;   // light/dark range along the lid line over lidContrast
  double darkHeight = 0;        // height of the dark blob on the lid line over the eye's width
  double openness = 1;          // what the appearance says, 0 shut .. 1 open (EyeOpenness)
  double closing = 1;           // the vertical factor the image evidence applied (1 = none)
  double reportedAspect = -1;   // height over width of the outline handed on
};

// Why the landmarks of an eye may be wrong without the picture showing it.
enum class EyeDoubt {
  None,
  // A wide laugh lifts the cheeks and narrows or shuts the eyes while the model keeps the lids
  // apart: the outline is capped inside the review band and never reaches the closed range.
  SqueezedByLaugh,
};

// `chip` is the upright face crop the points were found on. nullopt when the eye cannot be
// measured (too small, off the crop, or no contrast at all: hair or deep shadow over it).
std::optional<EyePoints> RefineEyeOutline(const GreyView& chip, const EyePoints& points,
                                          EyeDoubt doubt, EyeEvidence* evidence = nullptr);

}  // namespace tw::analysis
