// Large JPEGs are decoded at a reduced scale before their thumbnail is made; the result must be
// the asked size and the same picture libvips' own thumbnail gives.
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
  // 750 and 1500 are exact eighth and quarter scales; 768 and 751 need one step more of the file;
  // 3001 needs all of it.
  for (int size : {640, 750, 751, 768, 1500, 2800, 3001}) {
    SCOPED_TRACE(size);
    MaybeImage thumbnail = CreateThumbnail(path, size);
    ASSERT_TRUE(thumbnail);
    testing::ExpectDecodedForm(*thumbnail);
    EXPECT_EQ(LongSide(*thumbnail), size);
    EXPECT_EQ(thumbnail->height(), (size * 4000 + 3000) / 6000);
    const vips::VImage reference = vips::VImage::thumbnail(path.c_str(), size);
    EXPECT_LT(MeanDifference(*thumbnail, reference), 1.5);
  }
}

}  // namespace
}  // namespace tw::imaging
