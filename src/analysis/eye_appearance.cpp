#include "analysis/eye_appearance.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tw::analysis {
namespace {

// Below this the eye is too small to read, or covered (hair, deep shadow): no measurement.
constexpr double kMinimumEyeWidth = 6;      // chip pixels
constexpr double kMinimumLidContrast = 20;  // grey levels

// Measured with bench/accuracy (accuracy_report --faces) on the sample faces of tests/data/photos,
// the small ones on their larger decode. Opening contrast: shut eyes 0.07-0.17, open eyes
// 0.13-1.1 (mostly above 0.3; the low ones narrowed by a smile or under glasses), so it fully
// confirms an open eye from here and says less and less below.
constexpr double kConfirmedOpeningContrast = 0.25;
// Dark blob height (pixels darker than 35 % of the way from the darkest to the skin): shut eyes
// 0.18-0.33 of the eye's width (lashes, liner and the lid crease's shadow), open eyes 0.17-0.50
// (the iris, cut by the lids). Alone it does not tell them apart; a blob this tall is an iris,
// never the lashes of a shut eye, and keeps an eye whose opening contrast is low (glasses,
// a narrow squint) open.
constexpr double kDarkLevel = 0.35;
constexpr double kIrisHeight = 0.4;

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

struct Trough {
  double value;
  int x;
  int row;
};

int Median(std::vector<int> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

}  // namespace

double EyeOpenness(double openingContrast, double darkHeight) {
  if (darkHeight >= kIrisHeight) return 1;
  return std::clamp(openingContrast / kConfirmedOpeningContrast, 0.0, 1.0);
}

std::optional<EyeAppearance> ReadEyeAppearance(const GreyView& chip, const EyePoints& points,
                                               double* lidContrastOut) {
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

  EyeAppearance appearance;
  const double darkest = window.Minimum();
  appearance.lidContrast = window.Percentile(0.85) - darkest;
  if (lidContrastOut) *lidContrastOut = appearance.lidContrast;
  if (appearance.lidContrast < kMinimumLidContrast) return std::nullopt;

  // The row the eye is read along: where the darkest columns of its middle half have their
  // darkest pixel near the lid line. In an open eye that is the iris (with sclera beside it), in
  // a shut one the lashes. Reading across the middle half only keeps the corners' skin out.
  const int searchHalf = std::max(1, int(std::lround(0.2 * eyeWidth)));
  const int lidRow = int(std::lround(lidLineY)) - top;
  const int middleLeft = std::max(0, int(std::lround(minX + 0.25 * eyeWidth)) - left);
  const int middleRight = std::min(window.width() - 1, int(std::lround(maxX - 0.25 * eyeWidth)) - left);
  std::vector<Trough> troughs;
  for (int x = middleLeft; x <= middleRight; ++x) {
    Trough trough{window.at(x, lidRow), x, lidRow};
    for (int y = std::max(0, lidRow - searchHalf); y <= std::min(window.height() - 1, lidRow + searchHalf); ++y) {
      if (window.at(x, y) < trough.value) trough = {window.at(x, y), x, y};
    }
    troughs.push_back(trough);
  }
  if (troughs.empty()) return std::nullopt;
  std::sort(troughs.begin(), troughs.end(), [](const Trough& a, const Trough& b) { return a.value < b.value; });
  troughs.resize(std::max<std::size_t>(1, troughs.size() / 3));
  std::vector<int> darkestRows;
  for (const Trough& trough : troughs) darkestRows.push_back(trough.row);
  const int bandRow = Median(darkestRows);

  double lightest = 0, darkestAlong = 255;
  for (int x = middleLeft; x <= middleRight; ++x) {
    double value = 0;
    int rows = 0;
    for (int y = std::max(0, bandRow - 1); y <= std::min(window.height() - 1, bandRow + 1); ++y) {
      value += window.at(x, y);
      ++rows;
    }
    value /= rows;
    lightest = std::max(lightest, value);
    darkestAlong = std::min(darkestAlong, value);
  }
  appearance.openingContrast = (lightest - darkestAlong) / appearance.lidContrast;

  // The dark blob through each of the darkest columns: pixels darker than kDarkLevel of the way
  // from the darkest to the skin, counted up and down from the column's trough.
  const double darkLimit = darkest + kDarkLevel * appearance.lidContrast;
  std::vector<int> heights;
  for (const Trough& trough : troughs) {
    int up = trough.row, down = trough.row;
    while (up > 0 && window.at(trough.x, up - 1) < darkLimit) --up;
    while (down < window.height() - 1 && window.at(trough.x, down + 1) < darkLimit) ++down;
    heights.push_back(down - up + 1);
  }
  appearance.darkHeight = Median(heights) / eyeWidth;
  appearance.openness = EyeOpenness(appearance.openingContrast, appearance.darkHeight);
  return appearance;
}

}  // namespace tw::analysis
