#include "analysis/exact_resampling.hpp"

#include <dlib/pixel.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace tw::analysis {
namespace {

// Where one output column reads: its two input columns and their float weights.
struct ColumnTap {
  std::int32_t left = 0;
  std::int32_t right = 0;
  float rightWeight = 0;
  float leftWeight = 0;
};

// dlib steps four columns at a time with the x positions held as floats and stops that fast path
// at the first group whose last column would read past the picture's edge; the remaining columns
// are done one by one in doubles. Both are reproduced operation for operation, so the results are
// the same bytes.
std::vector<ColumnTap> FourWideColumns(long inputWidth, long outputWidth, double xScale) {
  std::vector<ColumnTap> taps;
  const double x = -4 * xScale;
  float lanes[4] = {float(x), float(x + xScale), float(x + 2 * xScale), float(x + 3 * xScale)};
  const float step = float(4 * xScale);
  for (long column = 0; column + 3 < outputWidth; column += 4) {
    ColumnTap group[4];
    for (int lane = 0; lane < 4; ++lane) {
      lanes[lane] += step;
      group[lane].left = std::int32_t(lanes[lane]);  // truncation, as cvttps
      group[lane].right = group[lane].left + 1;
      group[lane].rightWeight = lanes[lane] - float(group[lane].left);
      group[lane].leftWeight = 1.0f - group[lane].rightWeight;
    }
    if (group[3].right >= inputWidth) break;
    taps.insert(taps.end(), group, group + 4);
  }
  return taps;
}

}  // namespace

void DoublePicture(const GreyPicture& picture, GreyPicture& doubled) {
  if (picture.size() == 0) {
    doubled.set_size(0, 0);
    return;
  }
  const dlib::pyramid_down<2> pyramid;
  const dlib::rectangle up = pyramid.rect_up(dlib::get_rect(picture));
  if (up.is_empty()) {
    doubled.set_size(0, 0);
    return;
  }
  doubled.set_size(up.bottom() + 1, up.right() + 1);
  ResizeGreyLikeDlib(picture, doubled);
}

void ResizeGreyLikeDlib(const GreyPicture& picture, GreyPicture& resized) {
  if (picture.size() == 0 || resized.size() == 0) return;
  const long inWidth = picture.nc(), inHeight = picture.nr();
  const long outWidth = resized.nc(), outHeight = resized.nr();
  const double xScale = (inWidth - 1) / double(std::max<long>(outWidth - 1, 1));
  const double yScale = (inHeight - 1) / double(std::max<long>(outHeight - 1, 1));
  const std::vector<ColumnTap> taps = FourWideColumns(inWidth, outWidth, xScale);
  const long fourWideEnd = long(taps.size());

  std::vector<float> topRow(inWidth), bottomRow(inWidth);
  double y = -yScale;
  for (long row = 0; row < outHeight; ++row) {
    y += yScale;
    const long top = long(std::floor(y));
    const long bottom = std::min(top + 1, inHeight - 1);
    const double bottomShare = y - top;
    const unsigned char* topPixels = &picture[top][0];
    const unsigned char* bottomPixels = &picture[bottom][0];
    for (long i = 0; i < inWidth; ++i) {
      topRow[i] = topPixels[i];
      bottomRow[i] = bottomPixels[i];
    }
    unsigned char* out = &resized[row][0];

    const float bottomWeight = float(bottomShare);
    const float topWeight = float(1 - bottomShare);
    for (long column = 0; column < fourWideEnd; ++column) {
      const ColumnTap& tap = taps[column];
      const float topLeft = topWeight * tap.leftWeight;
      const float topRight = topWeight * tap.rightWeight;
      const float bottomLeft = bottomWeight * tap.leftWeight;
      const float bottomRight = bottomWeight * tap.rightWeight;
      const float value = topLeft * topRow[tap.left] + topRight * topRow[tap.right] +
                          bottomLeft * bottomRow[tap.left] + bottomRight * bottomRow[tap.right];
      out[column] = static_cast<unsigned char>(value + 0.5);
    }

    double x = -xScale + fourWideEnd * xScale;
    for (long column = fourWideEnd; column < outWidth; ++column) {
      x += xScale;
      const long left = long(std::floor(x));
      const long right = std::min(left + 1, inWidth - 1);
      const float rightShare = float(x - left);
      const float temp = (1 - bottomShare) * ((1 - rightShare) * topRow[left] + rightShare * topRow[right]) +
                         bottomShare * ((1 - rightShare) * bottomRow[left] + rightShare * bottomRow[right]);
      dlib::assign_pixel(out[column], temp);
    }
  }
}

}  // namespace tw::analysis
