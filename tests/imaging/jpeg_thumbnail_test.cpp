// Large JPEGs are decoded at a reduced scale before their thumbnail is made; the result must be
// the asked size and the picture libvips' own thumbnail gives.
#include "image_test_support.hpp"
#include "library/imaging/decoding.hpp"

namespace tw::imaging {
namespace {

using testing::LongSide;
using testing::MeanDifference;
using testing::Photo;

TEST(JPEGThumbnail, EverySizeKeepsItsLongSideAndThePicture) {
  EnsureVipsStarted();
  const std::string path = Photo("nikon-d5300-6000x4000.jpg");
  // 768 decodes at a quarter of the file's scale (libvips' own thumbnail would take half); 640
  // and 1500 at a quarter, 2800 and 3001 at full scale, as libvips does.
  for (int size : {640, 750, 768, 1500, 2800, 3001}) {
    SCOPED_TRACE(size);
    MaybeImage thumbnail = CreateThumbnail(path, size);
    ASSERT_TRUE(thumbnail);
    testing::ExpectDecodedForm(*thumbnail);
    EXPECT_EQ(LongSide(*thumbnail), size);
    EXPECT_EQ(thumbnail->height(), (size * 4000 + 3000) / 6000);
    const vips::VImage reference = vips::VImage::thumbnail(path.c_str(), size);
    EXPECT_LT(MeanDifference(*thumbnail, reference), 1.5);
  }
  // The picture only looked at decodes 2800 at half scale: the same size, the same picture.
  MaybeImage viewing = CreateViewingImage(path, 2800, true);
  ASSERT_TRUE(viewing);
  testing::ExpectDecodedForm(*viewing);
  EXPECT_EQ(viewing->width(), 2800);
  EXPECT_EQ(viewing->height(), 1867);
  EXPECT_LT(MeanDifference(*viewing, vips::VImage::thumbnail(path.c_str(), 2800)), 1.5);
}

TEST(JPEGThumbnail, AMidSizePhotoIsReducedExactlyAsLibvipsDoes) {
  // 1920 px to 768 leaves too little room for a scaled decode: the whole file is decoded, and the
  // picture is libvips' own thumbnail, pixel for pixel.
  EnsureVipsStarted();
  const std::string path = Photo("face-group3-open-iso1600.jpg");
  MaybeImage thumbnail = CreateThumbnail(path, 768);
  ASSERT_TRUE(thumbnail);
  const vips::VImage reference = vips::VImage::thumbnail(path.c_str(), 768);
  ASSERT_EQ(thumbnail->width(), reference.width());
  ASSERT_EQ(thumbnail->height(), reference.height());
  EXPECT_EQ((*thumbnail - reference).abs().max(), 0.0);
}

}  // namespace
}  // namespace tw::imaging
