#include "analysis/eye_outline.hpp"

#include "analysis/assessment_rules.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tw::analysis {
namespace {

// Calibration of the outline's height against the closed-eye limits (0.16 closed, 0.22 review).
// Measured with bench/accuracy (accuracy_report --faces) on the sample faces of tests/data/photos,
// labels from labels.json: six-point bounding boxes on the upright, upscaled crops span
// 0.216-0.421 for open eyes of checkable faces, 0.152-0.208 for the shut eyes of the downcast
// group, 0.194-0.212 for the squinting woman, and 0.206/0.242 for the girl laughing with shut eyes
// (which the landmarks cannot see; see EyeDoubt). That is the scale the limits were set on, so
// the landmark extent is handed on unscaled and the picture evidence below does the rest.
// Changing it shifts every eye: run accuracy_report before and after.
constexpr double kEyeAspectScale = 1.0;

// Opening contrast (light/dark range along the lid line over the eye's own contrast) at which
// the picture fully confirms an open eye. Measured the same way: shut eyes 0.07-0.17, open eyes
// 0.13-1.1 (mostly above 0.3; the low ones narrowed by a smile or under glasses).
constexpr double kConfirmedOpeningContrast = 0.25;
// With no opening contrast at all the lids are drawn to this share of the landmark height.
constexpr double kStrongestClosing = 0.5;
// Only eyes the landmarks already see nearly shut may be drawn into the closed range (open eyes
// measured 0.216 and more); any other eye stays in the review band at the least.
constexpr double kLandmarkClosedCeiling = 0.2;
// In a laugh the outline is kept at most here: inside the review band, above the closed limit.
constexpr double kSqueezedAspectCap = 0.2;
// Where an outline is held out of the closed range it is held this far above the limit, clear of
// the single-precision rounding EyeAspect works in.
constexpr double kHeldAboveClosed = rules::kClosedEyeRatio * 1.03;
// Below this the eye is too small to read, or covered (hair, deep shadow): no measurement.
constexpr double kMinimumEyeWidth = 6;         // chip pixels
constexpr double kMinimumLidContrast = 20;     // grey levels

double BoundingAspect(const EyePoints& points) {
  double minX = points[0].x, maxX = points[0].x, minY = points[0].y, maxY = points[0].y;
  for (const ShapePoint& p : points) {
    minX = std::min(minX, p.x);
    maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y);
    maxY = std::max(maxY, p.y);
  }
  return (maxY - minY) / std::max(maxX - minX, 1e-6);
}

// The chip smoothed over 3 × 3 pixels inside a window, so single noisy pixels (high ISO) neither
// make nor break a trough.
class SmoothedWindow {
 public:
  SmoothedWindow(const GreyView& chip, int left, int top, int width, int height)
      : width_(width), height_(height), values_(std::size_t(width) * height) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        double sum = 0;
        int count = 0;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            const int cx = left + x + dx, cy = top + y + dy;
            if (cx < 0 || cy < 0 || cx >= chip.width || cy >= chip.height) continue;
            sum += chip.at(cx, cy);
            ++count;
          }
        }
        values_[std::size_t(y) * width + x] = sum / std::max(count, 1);
      }
    }
  }
  double at(int x, int y) const { return values_[std::size_t(y) * width_ + x]; }
  int width() const { return width_; }
  int height() const { return height_; }
  double Percentile(double fraction) const {
    std::vector<double> sorted = values_;
    const std::size_t index = std::size_t(fraction * double(sorted.size() - 1));
    std::nth_element(sorted.begin(), sorted.begin() + index, sorted.end());
    return sorted[index];
  }
  double Minimum() const { return *std::min_element(values_.begin(), values_.end()); }

 private:
  int width_;
  int height_;
  std::vector<double> values_;
};

}  // namespace

std::optional<EyePoints> RefineEyeOutline(const GreyView& chip, const EyePoints& points,
                                          EyeDoubt doubt, EyeEvidence* evidence) {
  double minX = points[0].x, maxX = points[0].x;
  for (const ShapePoint& p : points) {
    minX = std::min(minX, p.x);
    maxX = std::max(maxX, p.x);
  }
  const double eyeWidth = maxX - minX;
  if (!(eyeWidth >= kMinimumEyeWidth) || chip.pixels == nullptr) return std::nullopt;
  // The lid line: halfway between the upper (1, 2) and lower (4, 5) lid points.
  const double lidLineY = (points[1].y + points[2].y + points[4].y + points[5].y) / 4;

  // The inner four fifths of the eye, half an eye width above and below the lid line.
  const int left = int(std::lround(minX + 0.1 * eyeWidth));
  const int right = int(std::lround(maxX - 0.1 * eyeWidth));
  const int top = int(std::lround(lidLineY - 0.5 * eyeWidth));
  const int bottom = int(std::lround(lidLineY + 0.5 * eyeWidth));
  if (left < 0 || top < 0 || right >= chip.width || bottom >= chip.height || right - left < 3) {
    return std::nullopt;
  }
  const SmoothedWindow window(chip, left, top, right - left + 1, bottom - top + 1);

  const double lidContrast = window.Percentile(0.85) - window.Minimum();
  EyeEvidence measured;
  measured.landmarkAspect = BoundingAspect(points);
  measured.lidContrast = lidContrast;
  if (lidContrast < kMinimumLidContrast) {
    if (evidence) *evidence = measured;
    return std::nullopt;
  }

  // The row the eye is read along: where the darkest columns of its middle half have their
  // darkest pixel near the lid line. In an open eye that is the iris (with sclera beside it), in
  // a shut one the lashes. Reading across the middle half only keeps the corners' skin out.
  const int searchHalf = std::max(1, int(std::lround(0.2 * eyeWidth)));
  const int lidRow = int(std::lround(lidLineY)) - top;
  const int middleLeft = std::max(0, int(std::lround(minX + 0.25 * eyeWidth)) - left);
  const int middleRight = std::min(window.width() - 1, int(std::lround(maxX - 0.25 * eyeWidth)) - left);
  struct Trough {
    double value;
    int row;
  };
  std::vector<Trough> troughs;
  for (int x = middleLeft; x <= middleRight; ++x) {
    Trough trough{window.at(x, lidRow), lidRow};
    for (int y = std::max(0, lidRow - searchHalf); y <= std::min(window.height() - 1, lidRow + searchHalf); ++y) {
      if (window.at(x, y) < trough.value) trough = {window.at(x, y), y};
    }
    troughs.push_back(trough);
  }
  if (troughs.empty()) return std::nullopt;
  std::sort(troughs.begin(), troughs.end(), [](const Trough& a, const Trough& b) { return a.value < b.value; });
  std::vector<int> darkestRows;
  for (std::size_t i = 0; i < std::max<std::size_t>(1, troughs.size() / 3); ++i) darkestRows.push_back(troughs[i].row);
  std::nth_element(darkestRows.begin(), darkestRows.begin() + darkestRows.size() / 2, darkestRows.end());
  const int bandRow = darkestRows[darkestRows.size() / 2];

  double lightest = 0, darkest = 255;
  for (int x = middleLeft; x <= middleRight; ++x) {
    double value = 0;
    int rows = 0;
    for (int y = std::max(0, bandRow - 1); y <= std::min(window.height() - 1, bandRow + 1); ++y) {
      value += window.at(x, y);
      ++rows;
    }
    value /= rows;
    lightest = std::max(lightest, value);
    darkest = std::min(darkest, value);
  }
  measured.openingContrast = (lightest - darkest) / lidContrast;

  measured.closing = kStrongestClosing + (1 - kStrongestClosing) *
                                             std::clamp(measured.openingContrast / kConfirmedOpeningContrast, 0.0, 1.0);
  double factor = kEyeAspectScale * measured.closing;
  double aspect = measured.landmarkAspect * factor;
  if (measured.landmarkAspect * kEyeAspectScale > kLandmarkClosedCeiling) {
    aspect = std::max(aspect, kHeldAboveClosed);
  }
  if (doubt == EyeDoubt::SqueezedByLaugh) aspect = std::clamp(aspect, kHeldAboveClosed, kSqueezedAspectCap);
  factor = measured.landmarkAspect > 0 ? aspect / measured.landmarkAspect : factor;

  // The outline flattened towards the lid line by the factor, so its height over width is exactly
  // the aspect decided above; every point keeps its place across the eye.
  EyePoints outline = points;
  for (ShapePoint& p : outline) p.y = lidLineY + (p.y - lidLineY) * factor;
  measured.reportedAspect = BoundingAspect(outline);
  if (evidence) *evidence = measured;
  return outline;
}

}  // namespace tw::analysis
