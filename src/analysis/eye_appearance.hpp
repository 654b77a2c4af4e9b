#pragma once
// What one eye looks like, read from its pixels alone: whether an iris and the white of the eye
// show between the lids, or only the dark line of lashes of a shut eye. The landmark outline
// says where the eye is; this says whether it is open, and the two are combined in
// RefineEyeOutline.
#include "analysis/face_shape.hpp"

#include <array>
#include <cstdint>
#include <optional>

namespace tw::analysis {

struct GreyView {
  const std::uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int rowStride = 0;
  std::uint8_t at(int x, int y) const { return pixels[y * rowStride + x]; }
};

using EyePoints = std::array<ShapePoint, 6>;

struct EyeAppearance {
  double lidContrast = 0;       // skin minus darkest grey level around the eye
  // Light/dark range along the lid line over lidContrast: sclera beside the iris in an open eye.
  double openingContrast = 0;
  // Height of the dark blob the lid line runs through, over the eye's width: the iris, cut by the
  // lids, in an open eye; lashes, liner and crease shadow in a shut one.
  double darkHeight = 0;
  // 0 (looks shut) to 1 (looks open), from the two measures above; see EyeOpenness.
  double openness = 0;
};

// The appearance of the eye whose six landmark points are given, on the upright face crop they
// were found on. nullopt when the eye cannot be read: under 6 px wide, reaching off the crop, or
// with no contrast at all (hair or deep shadow over it); `lidContrast` is then still reported
// when it could be measured.
std::optional<EyeAppearance> ReadEyeAppearance(const GreyView& chip, const EyePoints& points,
                                               double* lidContrast = nullptr);

// How open the two measures say the eye is, 0 (shut) .. 1: a dark blob tall enough to be an iris
// says open; otherwise the opening contrast, in proportion up to where it confirms an open eye.
double EyeOpenness(double openingContrast, double darkHeight);

}  // namespace tw::analysis
