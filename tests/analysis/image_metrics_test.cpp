#include "analysis/image_metrics.hpp"

#include "synthetic_images.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace tw::analysis {
namespace {

using testing::GreyPicture;
using testing::UniformPicture;

GreyGrid Checkerboard(unsigned side) {
  GreyGrid grid(side * side);
  for (unsigned y = 0; y < side; ++y)
    for (unsigned x = 0; x < side; ++x) grid[y * side + x] = (x + y) % 2 ? 255 : 0;
  return grid;
}

TEST(GreyGridMeasures, KnownAnswersOverInteriorSamplesOnly) {
  GreyGrid ramp(20 * 10);  // a ramp's second difference vanishes everywhere
  for (unsigned y = 0; y < 10; ++y)
    for (unsigned x = 0; x < 20; ++x) ramp[y * 20 + x] = std::uint8_t(3 * x + 7 * y);
  struct Case {
    const char* name;
    GreyGrid grid;
    unsigned width, height;
    double laplacianVariance, noise;
  };
  for (const Case& grid : {
           Case{"uniform", GreyGrid(192 * 192, 117), 192, 192, 0, 0},
           Case{"ramp", ramp, 20, 10, 0, 0},
           // Two interior samples: Laplacians 40 and -10 (mean 15, variance 625); deviations 10 and 2.5.
           Case{"impulse", {0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0}, 4, 3, 625, 6.25},
           // Interior of a 4 × 4 checkerboard: two Laplacians of +1020 and two of -1020.
           Case{"checkerboard", Checkerboard(4), 4, 4, 1020.0 * 1020.0, 255},
           // One interior sample: no variance; |100 - (10 + 20 + 40 + 30) / 4|.
           Case{"three by three", {0, 10, 0, 20, 100, 40, 0, 30, 0}, 3, 3, 0, 75},
           Case{"empty", {}, 192, 192, 0, 0},
           Case{"shorter than promised", Checkerboard(4), 4, 5, 0, 0},
           Case{"no interior column", Checkerboard(4), 2, 8, 0, 0},
           Case{"no interior row", Checkerboard(4), 8, 2, 0, 0}}) {
    EXPECT_DOUBLE_EQ(LaplacianVariance(grid.grid, grid.width, grid.height), grid.laplacianVariance) << grid.name;
    EXPECT_DOUBLE_EQ(NoiseEstimate(grid.grid, grid.width, grid.height), grid.noise) << grid.name;
  }
}

TEST(GrayPixels, StretchesToTheSquareTopRowFirstKeepingGreysAndTurningColoursToTheirLuminance) {
  // 200 × 100: white top half, black bottom half.
  const GreyGrid grid = GrayPixels(GreyPicture(200, 100, [](int, int y) { return y < 50 ? 255 : 0; }), 16);
  ASSERT_EQ(grid.size(), 16u * 16u);
  for (unsigned x = 0; x < 16; ++x) {
    EXPECT_EQ(grid[0 * 16 + x], 255) << x;
    EXPECT_EQ(grid[15 * 16 + x], 0) << x;
  }
  // Left bright, right dark: column 0 holds the bright samples.
  const GreyGrid columns = GrayPixels(GreyPicture(90, 300, [](int x, int) { return x < 45 ? 200 : 20; }), 8);
  ASSERT_EQ(columns.size(), 64u);
  EXPECT_EQ(columns[5 * 8 + 0], 200);
  EXPECT_EQ(columns[5 * 8 + 7], 20);

  // Neutral greys keep their level; nothing gives no grid.
  EXPECT_TRUE(GrayPixels(UniformPicture(8, 8, 9), 0).empty());
  EXPECT_TRUE(GrayPixels(imaging::DecodedImage(), 192).empty());
  for (int level : {0, 64, 128, 200, 255}) {
    const GreyGrid uniform = GrayPixels(UniformPicture(37, 23, std::uint8_t(level)), 192);
    ASSERT_EQ(uniform.size(), 192u * 192u);
    EXPECT_NEAR(uniform[96 * 192 + 96], level, 1) << level;
  }
  const auto solid = [](double r, double g, double b) {
    return vips::VImage::black(10, 10)
        .new_from_image({r, g, b})
        .cast(VIPS_FORMAT_UCHAR)
        .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
  };
  const std::uint8_t green = GrayPixels(solid(0, 255, 0), 4)[5], red = GrayPixels(solid(255, 0, 0), 4)[5],
                     blue = GrayPixels(solid(0, 0, 255), 4)[5];
  EXPECT_TRUE(green > red && red > blue && blue > 0) << int(green) << " " << int(red) << " " << int(blue);
}

TEST(DHash, UniformIsAllZeroDarkeningColumnsAllOnesAndTheFirstComparisonIsTheMostSignificantBit) {
  EXPECT_EQ(DHash(imaging::DecodedImage()), "0");
  // A 9 × 8 picture is its own grid: a brighter (x, y) than its right neighbour sets bit 63 - (8y + x).
  const auto brighterAt = [](int column, int row) {
    return GreyPicture(9, 8, [=](int x, int y) { return std::uint8_t(y == row && x <= column ? 200 : 100); });
  };
  const std::pair<imaging::DecodedImage, const char*> cases[] = {
      {UniformPicture(300, 200, 90), "0000000000000000"},
      // Strictly darker from left to right, whatever the rows; brightening columns never compare greater.
      {GreyPicture(90, 80, [](int x, int) { return std::uint8_t(250 - 2 * x); }), "ffffffffffffffff"},
      {GreyPicture(90, 80, [](int x, int) { return std::uint8_t(20 + 2 * x); }), "0000000000000000"},
      {brighterAt(0, 0), "8000000000000000"},
      {GreyPicture(9, 8, [](int x, int y) { return std::uint8_t(y == 7 && x == 7 ? 200 : 100); }), "0000000000000001"},
      {brighterAt(3, 1), "0010000000000000"},
  };
  for (const auto& [picture, hash] : cases) EXPECT_EQ(DHash(picture), hash);
}

TEST(EyeAspect, HeightOverWidthOfThePointsWithAFloorUnderTheWidth) {
  const EyeRegion eye = {{0.2, 0.50}, {0.3, 0.545}, {0.4, 0.545}, {0.5, 0.50}, {0.4, 0.455}, {0.3, 0.455}};
  EXPECT_NEAR(EyeAspect(eye), 0.09 / 0.3, 1e-6);
  EXPECT_EQ(EyeAspect(std::nullopt), -1.0);
  EXPECT_EQ(EyeAspect(EyeRegion{{0.1, 0.1}, {0.2, 0.2}, {0.3, 0.3}, {0.4, 0.4}, {0.5, 0.5}}), -1.0) << "five points";
  const EyeRegion point(6, LandmarkPoint{0.4, 0.5});
  EyeRegion tall = point;
  tall[0].y = 0.45;
  tall[3].y = 0.55;
  EXPECT_NEAR(EyeAspect(tall), 0.1 / 0.0001, 1.0);
  EXPECT_EQ(EyeAspect(point), 0.0);
}

TEST(FaceCheckVisible, SizeAndPoseLimits) {
  const FaceBox justLarge{0.3, 0.3, 0.12, 0.16};  // 48 × 48 px on 400 × 300
  const std::tuple<FaceBox, double, double, bool> cases[] = {
      {{0.3, 0.3, 0.1, 0.1}, 0, 0, false}, {justLarge, 0, 0, true}, {{0.3, 0.3, 0.1199, 0.5}, 0, 0, false},
      {justLarge, 0.45, -0.45, true}, {justLarge, -0.45, 0.45, true}, {justLarge, 0.4501, 0, false},
      {justLarge, 0, -0.4501, false}, {justLarge, std::nan(""), 0, false},
      // Where the box sits does not matter, even outside the picture.
      {{-2, 5, 0.12, 0.16}, 0, 0, true}};
  for (const auto& [box, yaw, roll, visible] : cases) {
    EXPECT_EQ(FaceCheckVisible(400, 300, box, yaw, roll), visible) << box.width << " " << yaw << " " << roll;
  }
}

TEST(FaceRegionSharpness, MeasuresOnlyTheFaceAndNotTooSmallOnes) {
  // Fine stripes in the lower-left quarter, flat elsewhere.
  const auto picture = GreyPicture(400, 300, [](int x, int y) {
    return x < 200 && y >= 150 ? std::uint8_t((x / 8) % 2 ? 230 : 30) : std::uint8_t(128);
  });
  EXPECT_EQ(FaceRegionSharpness(picture, FaceBox{0.3, 0.3, 0.1, 0.1}), -1.0);
  // Half outside on the left: 60 px wide box, only 30 px visible.
  EXPECT_EQ(FaceRegionSharpness(picture, FaceBox{-0.075, 0.3, 0.15, 0.4}), -1.0);
  // Half outside at the top (lower-left origin): 120 px tall box, 60 px visible, 80 px wide.
  EXPECT_EQ(FaceRegionSharpness(picture, FaceBox{0.3, 0.8, 0.2, 0.4}), 0.0);
  EXPECT_EQ(FaceRegionSharpness(imaging::DecodedImage(), FaceBox{0, 0, 1, 1}), -1.0);
  EXPECT_GT(FaceRegionSharpness(picture, FaceBox{0.05, 0.05, 0.4, 0.4}), 100.0);
  EXPECT_EQ(FaceRegionSharpness(picture, FaceBox{0.55, 0.55, 0.4, 0.4}), 0.0);
  // The crop goes through the 96 × 96 grid of the whole-picture measure.
  const auto crop = picture.extract_area(0, 150, 200, 150);
  EXPECT_DOUBLE_EQ(FaceRegionSharpness(picture, FaceBox{0, 0, 0.5, 0.5}),
                   LaplacianVariance(GrayPixels(crop, 96), 96, 96));
}

}  // namespace
}  // namespace tw::analysis
