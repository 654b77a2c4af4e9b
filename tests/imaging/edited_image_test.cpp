// Quarter turns and crops in fractions of the turned picture, with the page's rounding tolerance.
#include "image_test_support.hpp"
#include "library/imaging/decoding.hpp"

#include <array>

namespace tw::imaging {
namespace {

using testing::ExpectDecodedForm;
using testing::MeanDifference;
using testing::Photo;

constexpr int kWidth = 40;
constexpr int kHeight = 30;

// Each pixel tells where it came from: red = 5x, green = 8y, blue constant.
DecodedImage Gradient() {
  EnsureVipsStarted();
  vips::VImage xy = vips::VImage::xyz(kWidth, kHeight);
  vips::VImage red = xy[0] * 5;
  vips::VImage green = xy[1] * 8;
  vips::VImage blue = vips::VImage::black(kWidth, kHeight) + 100;
  return vips::VImage::bandjoin({red, green, blue})
      .cast(VIPS_FORMAT_UCHAR)
      .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
      .copy_memory();
}

// The source coordinates a result pixel came from.
std::pair<int, int> Origin(const DecodedImage& image, int x, int y) {
  std::vector<double> pixel = image.getpoint(x, y);
  return {static_cast<int>(pixel[0]) / 5, static_cast<int>(pixel[1]) / 8};
}

TEST(EditedImage, CropsMayOvershootByOneMillionthAndInvalidCropsAreRefused) {
  DecodedImage source = Gradient();
  MaybeImage accepted = CreateEditedImage(source, 0, 0.5, 0, 0.5000005, 1);
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->width(), 20);
  EXPECT_TRUE(CreateEditedImage(source, 0, 0, 0.25, 1, 0.7500005));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  // x = 1 leaves no column to cut, although x + w stays inside the tolerance.
  for (const std::array<double, 4>& crop : std::initializer_list<std::array<double, 4>>{
           {0.5, 0, 0.50001, 1}, {0, 0.25, 1, 0.75001}, {-0.1, 0, 0.5, 0.5}, {0, -0.1, 0.5, 0.5}, {0, 0, 0, 0.5},
           {0, 0, 0.5, -1}, {nan, 0, 0.5, 0.5}, {0, 0, inf, 0.5}, {1.0, 0, 0.0000005, 1}}) {
    EXPECT_FALSE(CreateEditedImage(source, 0, crop[0], crop[1], crop[2], crop[3]))
        << crop[0] << " " << crop[1] << " " << crop[2] << " " << crop[3];
  }
  EXPECT_FALSE(CreateEditedImage(DecodedImage(), 0, 0, 0, 1, 1));
}

TEST(EditedImage, TurnsAreClockwiseModuloFourAndCropsAreInFractionsOfTheTurnedPicture) {
  DecodedImage source = Gradient();
  MaybeImage turned = CreateEditedImage(source, 1, 0, 0, 1, 1);
  ASSERT_TRUE(turned);
  ASSERT_EQ(turned->width(), kHeight);
  ASSERT_EQ(turned->height(), kWidth);
  ExpectDecodedForm(*turned);
  // Clockwise: the bottom-left corner comes to the top left, the top-left corner to the top right.
  EXPECT_EQ(std::tuple(Origin(*turned, 0, 0), Origin(*turned, kHeight - 1, 0), Origin(*turned, 0, kWidth - 1)),
            std::tuple(std::pair(0, kHeight - 1), std::pair(0, 0), std::pair(kWidth - 1, kHeight - 1)));

  MaybeImage minusOne = CreateEditedImage(source, -1, 0, 0, 1, 1);
  MaybeImage three = CreateEditedImage(source, 3, 0, 0, 1, 1);
  MaybeImage four = CreateEditedImage(source, 4, 0, 0, 1, 1);
  MaybeImage minusSix = CreateEditedImage(source, -6, 0, 0, 1, 1);
  MaybeImage two = CreateEditedImage(source, 2, 0, 0, 1, 1);
  ASSERT_TRUE(minusOne && three && four && minusSix && two);
  ASSERT_EQ(minusOne->width(), three->width());
  EXPECT_EQ((*minusOne - *three).abs().max(), 0.0);
  EXPECT_EQ(Origin(*three, 0, 0), std::make_pair(kWidth - 1, 0)) << "three quarters clockwise";
  ASSERT_EQ(four->width(), kWidth);
  EXPECT_EQ((*four - source).abs().max(), 0.0) << "a whole crop of no turn is the image";
  EXPECT_EQ((*minusSix - *two).abs().max(), 0.0);
  EXPECT_EQ(Origin(*two, 0, 0), std::make_pair(kWidth - 1, kHeight - 1));

  // After a quarter turn the picture is 30 wide and 40 high; the right third, lower half.
  MaybeImage edited = CreateEditedImage(source, 1, 2.0 / 3.0, 0.5, 1.0 / 3.0, 0.5);
  ASSERT_TRUE(edited);
  EXPECT_EQ(std::pair(edited->width(), edited->height()), std::pair(10, 20));
  // Turned (20, 20) is source (20, 30 - 1 - 20).
  EXPECT_EQ(Origin(*edited, 0, 0), std::make_pair(20, 9));
}

TEST(EditedImage, EdgesFloorSizesRoundHalfAwayFromZeroAndKeepAtLeastOnePixel) {
  struct Case {
    double x, y, w, h;
    int width, height;
    std::pair<int, int> origin;
  };
  for (const Case& crop : {
           // x = 0.26 -> left floor(10.4) = 10; w = 0.0625 -> 2.5 pixels -> 3; h = 0.05 -> 1.5 -> 2.
           Case{0.26, 0.1, 0.0625, 0.05, 3, 2, {10, 3}},
           // left = floor(0.99 * 40) = 39; round(0.0100005 * 40) = 0 -> at least 1, at most the column left.
           Case{0.99, 0, 0.0100005, 1, 1, kHeight, {39, 0}},
           Case{0.5, 0.5, 0.001, 0.001, 1, 1, {20, 15}}}) {
    MaybeImage edited = CreateEditedImage(Gradient(), 0, crop.x, crop.y, crop.w, crop.h);
    ASSERT_TRUE(edited) << crop.x;
    EXPECT_EQ(std::tuple(edited->width(), edited->height(), Origin(*edited, 0, 0)), std::tuple(crop.width, crop.height, crop.origin))
        << crop.x;
  }
}

TEST(EditedImage, PhotoWithOrientationSixIsCroppedAsItAppears) {
  // orientation-6.jpg is stored on its side; its upright left half must match the left half of
  // the upright reference, not a half of the stored pixels.
  MaybeImage turnedFile = CreateFullEditImage(Photo("orientation-6.jpg"), false);
  MaybeImage uprightFile = CreateFullEditImage(Photo("orientation-1.jpg"), false);
  ASSERT_TRUE(turnedFile && uprightFile);
  MaybeImage leftHalf = CreateEditedImage(*turnedFile, 0, 0, 0, 0.5, 1);
  MaybeImage referenceHalf = CreateEditedImage(*uprightFile, 0, 0, 0, 0.5, 1);
  ASSERT_TRUE(leftHalf && referenceHalf);
  EXPECT_EQ(std::pair(leftHalf->width(), leftHalf->height()), std::pair((turnedFile->width() + 1) / 2, turnedFile->height()));
  EXPECT_LT(MeanDifference(*leftHalf, *referenceHalf), 12.0);
  vips::VImage stored = vips::VImage::new_from_file(Photo("orientation-6.jpg").c_str());
  vips::VImage storedHalf = stored.extract_area(0, 0, stored.width() / 2, stored.height());
  EXPECT_GT(MeanDifference(storedHalf, *referenceHalf), 12.0);
}

}  // namespace
}  // namespace tw::imaging
