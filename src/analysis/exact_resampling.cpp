#include "analysis/exact_resampling.hpp"

#include <dlib/pixel.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace tw::analysis {
namespace {

// Eight neighbouring output columns whose taps all lie in 16 input bytes from `first`: one load and
// a byte shuffle read them.
struct TapBlock {
  std::int32_t first = 0;
  std::uint8_t left[16], right[16];  // offsets from `first`; 0x80 lanes are unused
};

// Where each output column of dlib's four-wide path reads: its two input columns and their float
// weights. (Eight-wide gathers of these were slower than the plain loop.)
struct ColumnTaps {
  std::vector<std::int32_t> left, right;
  std::vector<float> leftWeight, rightWeight;
  std::vector<TapBlock> blocks;  // columns 0, 8, 16, ... while their taps fit one block
  long size() const { return long(left.size()); }
};

// The shuffle blocks for the leading columns, up to the first block whose taps spread over more
// than 16 bytes or would read past the row.
void FindTapBlocks(ColumnTaps& taps, long inputWidth) {
  for (long start = 0; start + 8 <= taps.size(); start += 8) {
    TapBlock block;
    block.first = taps.left[start];
    if (block.first + 16 > inputWidth || taps.right[start + 7] - block.first >= 16) return;
    for (int lane = 0; lane < 16; ++lane) {
      block.left[lane] = lane < 8 ? std::uint8_t(taps.left[start + lane] - block.first) : 0x80;
      block.right[lane] = lane < 8 ? std::uint8_t(taps.right[start + lane] - block.first) : 0x80;
    }
    taps.blocks.push_back(block);
  }
}

// dlib steps four columns at a time with the x positions held as floats and stops that fast path
// at the first group whose last column would read past the picture's edge; the remaining columns
// are done one by one in doubles. Both are reproduced operation for operation (this file is
// compiled without contraction into fused multiply-adds), so the results are the same bytes.
ColumnTaps FourWideColumns(long inputWidth, long outputWidth, double xScale) {
  ColumnTaps taps;
  const double x = -4 * xScale;
  float lanes[4] = {float(x), float(x + xScale), float(x + 2 * xScale), float(x + 3 * xScale)};
  const float step = float(4 * xScale);
  for (long column = 0; column + 3 < outputWidth; column += 4) {
    std::int32_t left[4];
    float rightWeight[4];
    for (int lane = 0; lane < 4; ++lane) {
      lanes[lane] += step;
      left[lane] = std::int32_t(lanes[lane]);  // truncation, as cvttps
      rightWeight[lane] = lanes[lane] - float(left[lane]);
    }
    if (left[3] + 1 >= inputWidth) break;
    for (int lane = 0; lane < 4; ++lane) {
      taps.left.push_back(left[lane]);
      taps.right.push_back(left[lane] + 1);
      taps.rightWeight.push_back(rightWeight[lane]);
      taps.leftWeight.push_back(1.0f - rightWeight[lane]);
    }
  }
  FindTapBlocks(taps, inputWidth);
  return taps;
}

// One input row read at every four-wide column's two taps, as floats.
struct TappedRow {
  long index = -1;
  std::vector<float> atLeft, atRight;
};

// Input rows read through the taps, each once while consecutive output rows keep using it: an
// enlargement reads every input row for two output rows, a reduction by sixths shares one row
// between neighbours.
class TappedRows {
 public:
  TappedRows(const GreyPicture& picture, const ColumnTaps& taps) : picture_(picture), taps_(taps) {}

  std::pair<const TappedRow*, const TappedRow*> Pair(long top, long bottom) {
    const int topSlot = Slot(top, -1);
    const int bottomSlot = Slot(bottom, topSlot);
    return {&rows_[topSlot], &rows_[bottomSlot]};
  }

 private:
  // The slot holding row `index`, filled into the slot other than `keep` when neither has it.
  int Slot(long index, int keep) {
    for (int slot = 0; slot < 2; ++slot) {
      if (rows_[slot].index == index) return slot;
    }
    const int slot = keep == 0 ? 1 : keep == 1 ? 0 : (rows_[0].index < rows_[1].index ? 0 : 1);
    TappedRow& row = rows_[slot];
    const unsigned char* pixels = &picture_[index][0];
    row.atLeft.resize(taps_.left.size());
    row.atRight.resize(taps_.right.size());
    std::size_t column = 0;
#if defined(__AVX2__)
    for (const TapBlock& block : taps_.blocks) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + block.first));
      const __m128i left = _mm_shuffle_epi8(bytes, _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.left)));
      const __m128i right = _mm_shuffle_epi8(bytes, _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.right)));
      _mm256_storeu_ps(row.atLeft.data() + column, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(left)));
      _mm256_storeu_ps(row.atRight.data() + column, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(right)));
      column += 8;
    }
#endif
    for (; column < taps_.left.size(); ++column) {
      row.atLeft[column] = pixels[taps_.left[column]];
      row.atRight[column] = pixels[taps_.right[column]];
    }
    row.index = index;
    return slot;
  }

  const GreyPicture& picture_;
  const ColumnTaps& taps_;
  TappedRow rows_[2];
};

// The four-wide columns of one output row, in dlib's float arithmetic: plain arrays, so the
// compiler vectorises it.
void FourWideRow(const ColumnTaps& taps, const TappedRow& top, const TappedRow& bottom, float topWeight,
                 float bottomWeight, unsigned char* out) {
  const float* leftWeight = taps.leftWeight.data();
  const float* rightWeight = taps.rightWeight.data();
  const float* topLeft = top.atLeft.data();
  const float* topRight = top.atRight.data();
  const float* bottomLeft = bottom.atLeft.data();
  const float* bottomRight = bottom.atRight.data();
  const long end = taps.size();
  for (long column = 0; column < end; ++column) {
    const float value = topWeight * leftWeight[column] * topLeft[column] +
                        topWeight * rightWeight[column] * topRight[column] +
                        bottomWeight * leftWeight[column] * bottomLeft[column] +
                        bottomWeight * rightWeight[column] * bottomRight[column];
    out[column] = static_cast<unsigned char>(value + 0.5);  // in double, as dlib converts
  }
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
  const ColumnTaps taps = FourWideColumns(inWidth, outWidth, xScale);
  const long fourWideEnd = taps.size();

  TappedRows rows(picture, taps);
  double y = -yScale;
  for (long row = 0; row < outHeight; ++row) {
    y += yScale;
    const long top = long(std::floor(y));
    const long bottom = std::min(top + 1, inHeight - 1);
    const double bottomShare = y - top;
    const auto [topRow, bottomRow] = rows.Pair(top, bottom);
    unsigned char* out = &resized[row][0];
    FourWideRow(taps, *topRow, *bottomRow, float(1 - bottomShare), float(bottomShare), out);

    const unsigned char* topPixels = &picture[top][0];
    const unsigned char* bottomPixels = &picture[bottom][0];
    double x = -xScale + fourWideEnd * xScale;
    for (long column = fourWideEnd; column < outWidth; ++column) {
      x += xScale;
      const long left = long(std::floor(x));
      const long right = std::min(left + 1, inWidth - 1);
      const float rightShare = float(x - left);
      const float topLeft = topPixels[left], topRight = topPixels[right];
      const float bottomLeft = bottomPixels[left], bottomRight = bottomPixels[right];
      const float temp = (1 - bottomShare) * ((1 - rightShare) * topLeft + rightShare * topRight) +
                         bottomShare * ((1 - rightShare) * bottomLeft + rightShare * bottomRight);
      dlib::assign_pixel(out[column], temp);
    }
  }
}

}  // namespace tw::analysis
