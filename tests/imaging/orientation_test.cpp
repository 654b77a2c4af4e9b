// Every decoder returns the picture upright, whatever orientation the file stores it in.
#include "image_test_support.hpp"
#include "library/imaging/decoding.hpp"

namespace tw::imaging {
namespace {

using testing::ExpectDecodedForm;
using testing::MeanDifference;
using testing::Photo;

// Same picture after different resampling stays well below this; a mirrored or turned picture is far above.
constexpr double kSamePicture = 12.0;

std::string OrientationPhoto(int orientation) { return Photo("orientation-" + std::to_string(orientation) + ".jpg"); }

class ExifOrientation : public ::testing::TestWithParam<int> {
 protected:
  static DecodedImage Reference() {
    static DecodedImage reference = *CreateFullEditImage(OrientationPhoto(1), false);
    return reference;
  }
};

TEST_P(ExifOrientation, EveryDecoderReturnsThePictureUpright) {
  EnsureVipsStarted();
  vips::VImage stored = vips::VImage::new_from_file(OrientationPhoto(GetParam()).c_str());
  // Guards the tolerance: without turning, the stored pixels of 2...8 must not pass for upright.
  if (GetParam() > 1) EXPECT_GT(MeanDifference(stored, Reference()), kSamePicture);

  MaybeImage thumbnail = CreateThumbnail(OrientationPhoto(GetParam()), 200);
  ASSERT_TRUE(thumbnail);
  ExpectDecodedForm(*thumbnail);
  EXPECT_EQ(testing::LongSide(*thumbnail), 200);
  EXPECT_GT(thumbnail->height(), thumbnail->width()) << "the upright picture is portrait";
  EXPECT_LT(MeanDifference(*thumbnail, Reference()), kSamePicture);

  bool lensApplied = true;
  MaybeImage rendered = CreateRenderedImage(OrientationPhoto(GetParam()), 200, true, &lensApplied);
  ASSERT_TRUE(rendered);
  EXPECT_FALSE(lensApplied);
  ASSERT_EQ(rendered->width(), thumbnail->width());
  EXPECT_EQ((*rendered - *thumbnail).abs().max(), 0.0) << "a JPEG's rendering is its thumbnail";

  MaybeImage full = CreateFullEditImage(OrientationPhoto(GetParam()), false);
  ASSERT_TRUE(full);
  ExpectDecodedForm(*full);
  bool turned = GetParam() >= 5;
  EXPECT_EQ(full->width(), turned ? stored.height() : stored.width());
  EXPECT_EQ(full->height(), turned ? stored.width() : stored.height());
  EXPECT_LT(MeanDifference(*full, Reference()), kSamePicture);
}

INSTANTIATE_TEST_SUITE_P(AllEight, ExifOrientation, ::testing::Range(1, 9));

TEST(HeifOrientation, HeifRotationIsAppliedOnceAndExifOrientationIgnored) {
  // The file carries an irot box and EXIF orientation 6 for the same turn; stored 4032x3024.
  // 400 is above the file's 240x320 HEIF thumbnail, so the main image is decoded.
  for (auto [photo, side, width, height] : {std::tuple{"iphone-orientation-6-irot.heic", 400, 300, 400},
                                            std::tuple{"iphone-colorchecker.heic", 200, 200, 150}}) {
    MaybeImage thumbnail = CreateThumbnail(Photo(photo), side);
    ASSERT_TRUE(thumbnail) << photo;
    ExpectDecodedForm(*thumbnail);
    EXPECT_EQ(thumbnail->width(), width) << photo;
    EXPECT_EQ(thumbnail->height(), height) << photo;
  }
}

TEST(OtherOrientation, PortraitStoredWithOrientationSixAndEightComesOutTheSame) {
  MaybeImage six = CreateThumbnail(Photo("face-hopper-orientation-6.jpg"), 128);
  MaybeImage eight = CreateThumbnail(Photo("face-hopper-orientation-8.jpg"), 128);
  ASSERT_TRUE(six && eight);
  EXPECT_LT(MeanDifference(*six, *eight), kSamePicture);
}

}  // namespace
}  // namespace tw::imaging
