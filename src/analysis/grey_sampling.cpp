// The measurements that sample the picture itself: grey grids, face sharpness and the hash.
#include "analysis/image_metrics.hpp"

#include "analysis/grey_band.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tw::analysis {

vips::VImage GreyBand(const vips::VImage& image) {
  vips::VImage grey = image;
  // A drawing into a zero-filled buffer leaves transparent pixels black.
  if (grey.bands() == 2 || grey.bands() == 4) {
    grey = grey.flatten(vips::VImage::option()->set("background", 0.0));
  }
  if (grey.bands() >= 3) {
    grey = grey.copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
               .colourspace(VIPS_INTERPRETATION_B_W);
  }
  if (grey.bands() > 1) grey = grey.extract_band(0);
  if (grey.format() != VIPS_FORMAT_UCHAR) grey = grey.cast(VIPS_FORMAT_UCHAR);
  return grey;
}

std::optional<vips::VImage> GreyBandInMemory(const vips::VImage& image) {
  if (!image.get_image() || image.width() <= 0 || image.height() <= 0) return std::nullopt;
  imaging::EnsureVipsStarted();
  try {
    return GreyBand(image).copy_memory();
  } catch (const vips::VError&) {
    return std::nullopt;
  }
}

namespace {

using vips::VImage;

// The picture stretched to exactly width × height grey samples, written straight into the grid.
GreyGrid SampleGrid(const VImage& image, int width, int height) {
  if (width <= 0 || height <= 0 || !image.get_image() || image.width() <= 0 || image.height() <= 0) {
    return {};
  }
  imaging::EnsureVipsStarted();
  try {
    VImage grey = GreyBand(image);
    VImage scaled = grey.resize(double(width) / grey.width(),
                                VImage::option()
                                    ->set("vscale", double(height) / grey.height())
                                    ->set("kernel", VIPS_KERNEL_LINEAR));
    // resize rounds the output size; an edge sample more or less is repaired by repeating the edge.
    if (scaled.width() != width || scaled.height() != height) {
      scaled = scaled.embed(0, 0, width, height,
                            VImage::option()->set("extend", VIPS_EXTEND_COPY));
    }
    GreyGrid grid(std::size_t(width) * std::size_t(height), 0);
    VImage target = VImage::new_from_memory(grid.data(), grid.size(), width, height, 1,
                                            VIPS_FORMAT_UCHAR);
    scaled.write(target);
    return grid;
  } catch (const vips::VError&) {
    return {};
  }
}

}  // namespace

GreyGrid GrayPixels(const imaging::DecodedImage& image, unsigned n) {
  return SampleGrid(image, int(n), int(n));
}

double FaceRegionSharpness(const imaging::DecodedImage& image, const FaceBox& box) {
  if (!image.get_image()) return -1;
  const double imageWidth = image.width();
  const double imageHeight = image.height();
  const double left = std::max(0.0, box.x * imageWidth);
  const double top = std::max(0.0, (1.0 - (box.y + box.height)) * imageHeight);
  const double right = std::min(imageWidth, (box.x + box.width) * imageWidth);
  const double bottom = std::min(imageHeight, (1.0 - box.y) * imageHeight);
  // Written as "not at least" so that a box with NaN fields is refused too.
  if (!(right - left >= kFaceMinimumPixels) || !(bottom - top >= kFaceMinimumPixels)) return -1;

  const int cropLeft = int(std::floor(left));
  const int cropTop = int(std::floor(top));
  const int cropRight = std::min(int(std::ceil(right)), image.width());
  const int cropBottom = std::min(int(std::ceil(bottom)), image.height());
  VImage crop;
  try {
    crop = image.extract_area(cropLeft, cropTop, cropRight - cropLeft, cropBottom - cropTop);
  } catch (const vips::VError&) {
    return -1;
  }
  const GreyGrid grid = GrayPixels(crop, kFaceGridSide);
  if (grid.empty()) return -1;
  return LaplacianVariance(grid, kFaceGridSide, kFaceGridSide);
}

std::string DHash(const imaging::DecodedImage& image) {
  constexpr int kColumns = 9;
  constexpr int kRows = 8;
  const GreyGrid grid = SampleGrid(image, kColumns, kRows);
  if (grid.empty()) return "0";
  unsigned long long hash = 0;
  for (int row = 0; row < kRows; ++row) {
    for (int column = 0; column < kColumns - 1; ++column) {
      hash <<= 1;
      if (grid[row * kColumns + column] > grid[row * kColumns + column + 1]) hash |= 1;
    }
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", hash);
  return text;
}

}  // namespace tw::analysis
