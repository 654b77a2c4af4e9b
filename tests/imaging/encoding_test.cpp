// JPEG encoding on the callers' 0..1 quality scale, and the inline data URL of a photo.
#include "image_test_support.hpp"
#include "library/imaging/decoding.hpp"

#include <glib.h>

namespace tw::imaging {
namespace {

using testing::ExpectDecodedForm;
using testing::MeanDifference;
using testing::Photo;

vips::VImage DecodeBytes(const std::string& bytes) {
  return vips::VImage::new_from_buffer(bytes, "").copy_memory();
}

TEST(EncodeJPEG, RoundTripKeepsSizeAndPictureAndDropsOrientation) {
  MaybeImage upright = CreateFullEditImage(Photo("orientation-6.jpg"), false);
  ASSERT_TRUE(upright);
  std::optional<std::string> jpeg = EncodeJPEG(*upright, 0.96);
  ASSERT_TRUE(jpeg);
  ASSERT_GE(jpeg->size(), 3u);
  EXPECT_EQ(jpeg->substr(0, 3), "\xFF\xD8\xFF");
  vips::VImage decoded = DecodeBytes(*jpeg);
  EXPECT_EQ(std::pair(decoded.width(), decoded.height()), std::pair(upright->width(), upright->height()));
  EXPECT_EQ(decoded.bands(), 3);
  // Upright pixels with an orientation tag would be turned a second time by every viewer.
  EXPECT_EQ(vips_image_get_orientation(decoded.get_image()), 1);
  EXPECT_EQ(decoded.get_typeof(VIPS_META_EXIF_NAME), 0u);
  EXPECT_LT(MeanDifference(decoded, *upright), 3.0);
}

TEST(EncodeJPEG, LowerQualityGivesFewerBytesAndQualityOutsideTheScaleIsClampedOrRefused) {
  MaybeImage image = CreateThumbnail(Photo("canon-t6-coins-2000x1072.jpg"), 640);
  ASSERT_TRUE(image);
  std::optional<std::string> above = EncodeJPEG(*image, 7.0);
  std::optional<std::string> best = EncodeJPEG(*image, 1.0);
  std::optional<std::string> scan = EncodeJPEG(*image, 0.82);
  std::optional<std::string> low = EncodeJPEG(*image, 0.2);
  ASSERT_TRUE(above && best && scan && low);
  EXPECT_EQ(*above, *best);
  EXPECT_GT(best->size(), scan->size());
  EXPECT_GT(scan->size(), low->size());
  EXPECT_TRUE(EncodeJPEG(*image, -1.0));
  EXPECT_FALSE(EncodeJPEG(*image, std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(EncodeJPEG(DecodedImage(), 0.9));
}

TEST(ImagePreviewDataURL, InlineJpegOfTheThumbnailAt900OrEmptyWhenUndecodable) {
  std::string url = ImagePreviewDataURL(Photo("nikon-d5300-6000x4000.jpg"));
  const std::string prefix = "data:image/jpeg;base64,";
  ASSERT_EQ(url.compare(0, prefix.size(), prefix), 0);
  std::string base64 = url.substr(prefix.size());
  EXPECT_EQ(base64.find_first_of("\r\n"), std::string::npos);
  gsize length = 0;
  guchar* bytes = g_base64_decode(base64.c_str(), &length);
  std::string jpeg(reinterpret_cast<const char*>(bytes), length);
  g_free(bytes);
  vips::VImage decoded = DecodeBytes(jpeg);
  EXPECT_EQ(std::pair(decoded.width(), decoded.height()), std::pair(900, 600));
  EXPECT_EQ(ImagePreviewDataURL(Photo("missing.jpg")), "");
  EXPECT_EQ(ImagePreviewDataURL(Photo("iphone-pruned-black.dng")), "");
}

}  // namespace
}  // namespace tw::imaging
