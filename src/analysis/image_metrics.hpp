#pragma once
// Pure measurements over one decoded picture: a grey sample grid, sharpness, noise, eye openness,
// the face visibility test, face sharpness and the difference hash. They keep no state, touch no
// files and share nothing, so every analysis thread may call them at the same time.
//
// Thresholds that turn these numbers into verdicts live with the assessment, not here.
#include "library/imaging/decoded_image.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tw::analysis {

// 8-bit luminance samples, row-major, top row first; sample (x, y) is at y * width + x.
using GreyGrid = std::vector<std::uint8_t>;

// A face rectangle in units of the picture's width (x, width) and height (y, height), origin at
// the lower-left corner of the picture.
struct FaceBox {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

struct LandmarkPoint {
  double x = 0;
  double y = 0;
};

// The outline points of one eye, in units of the face box (0..1 across it), lower-left origin.
using EyeRegion = std::vector<LandmarkPoint>;

// The picture converted to grey and stretched to n × n samples (its aspect ratio is not kept).
// Grey is libvips' B_W colourspace (the luminance of the sRGB pixels, re-encoded with the sRGB
// curve); transparent pixels count as black. Scaling is libvips `resize` with the linear kernel:
// whole-factor box averaging first, then a bilinear reduce. Empty when the grid cannot be made
// (n is 0, the picture is empty or libvips fails).
GreyGrid GrayPixels(const imaging::DecodedImage& image, unsigned n);

// Population variance of the 4-neighbour Laplacian over the interior samples; 0 when the grid
// holds fewer than width × height values or is smaller than 3 × 3.
double LaplacianVariance(const GreyGrid& grid, unsigned width, unsigned height);

// Mean absolute difference between each interior sample and the mean of its four neighbours;
// 0 when the grid holds fewer than width × height values or is smaller than 3 × 3.
double NoiseEstimate(const GreyGrid& grid, unsigned width, unsigned height);

// Height over width of the eye's points; -1 when the region is absent or has fewer than 6 points.
double EyeAspect(const std::optional<EyeRegion>& eye);

// Whether a face is large (48 px both ways) and frontal (|yaw|, |roll| at most 0.45 rad) enough
// for an eye check.
bool FaceCheckVisible(unsigned imageWidth, unsigned imageHeight, const FaceBox& box, double yaw,
                      double roll);

// LaplacianVariance of the face's crop (clipped to the picture) sampled at 96 × 96; -1 when the
// clipped face is under 48 px either way or the crop fails.
double FaceRegionSharpness(const imaging::DecodedImage& image, const FaceBox& box);

// 64-bit difference hash over a 9 × 8 grey grid (the same grey and scaler as GrayPixels) as 16
// lower-case hex digits; "0" when the grid cannot be made.
std::string DHash(const imaging::DecodedImage& image);

// The sizes and limits that shape the measurements themselves.
inline constexpr unsigned kFaceGridSide = 96;
inline constexpr double kFaceMinimumPixels = 48;
inline constexpr double kFacePoseLimitRadians = 0.45;

}  // namespace tw::analysis
