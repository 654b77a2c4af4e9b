// Raw files: embedded previews chosen by size, development with LibRaw and lensfun, and the
// fallbacks for raws LibRaw cannot develop or that hold no picture at all.
#include "image_test_support.hpp"
#include "library/imaging/decoding.hpp"
#include "library/imaging/raw_rendering.hpp"

#include <filesystem>

namespace tw::imaging {
namespace {

using testing::ExpectDecodedForm;
using testing::GreyCorrelation;
using testing::LongSide;
using testing::Photo;

// A rebuilt EOS R6 container: 160x120 THMB and 1620x1080 PRVW previews, a 3584x2016 JPEG in the
// first track (a different picture, which shows which preview served), zeros as raw data.
const std::string kR6Container = "canon-r6-container-with-preview.CR3";
// The same container with the media data removed: LibRaw refuses it, exiv2 still lists the previews.
const std::string kR6Pruned = "canon-r6-pruned-no-image-data.CR3";
const std::string kM50Corrupt = "canon-m50-stub-corrupt.cr3";
const std::string kPrunedDng = "iphone-pruned-black.dng";
// EOS 30D with EF-S 18-55: LibRaw develops it and lensfun knows both; previews 160x120 and 1728x1152.
const std::string kCanon30D = "canon-30d-landscape.CR2";

// The thumbnail's size for a request: the smallest preview that is large enough serves, never
// upscaled; a camera JPEG is decoded itself, not taken from its small EXIF thumbnail.
TEST(ThumbnailSizes, ComeFromTheSmallestPictureThatIsLargeEnough) {
  struct Case {
    std::string photo;
    int request, width, height;
  };
  for (const Case& size : {
           // The R6's 3584x2016 first-track JPEG serves large requests; its 1620x1080 PRVW (3:2) the
           // scan and analysis sizes, where the 16:9 JPEG would give 640x360.
           Case{kR6Container, 4096, 3584, 2016}, Case{kR6Container, 8192, 3584, 2016},
           Case{kR6Container, 2000, 2000, 1125}, Case{kR6Container, 640, 640, 427}, Case{kR6Container, 768, 768, 512},
           // Nothing larger decodes in the pruned container: its largest preview serves, unscaled.
           Case{kR6Pruned, 640, 640, 427}, Case{kR6Pruned, 2000, 1620, 1080},
           // The 30D's 1728-pixel preview is below 1750, so the raw is developed (at half size: 1761).
           Case{kCanon30D, 640, 640, 427}, Case{kCanon30D, 1750, 1750, 1167},
           Case{"nikon-d5300-6000x4000.jpg", 768, 768, 512}, Case{"canon-t6-coins-2000x1072.jpg", 768, 768, 412},
           Case{"file://" + Photo("orientation-6.jpg"), 100, 75, 100}}) {
    MaybeImage image = CreateThumbnail(size.photo.starts_with("file:") ? size.photo : Photo(size.photo), size.request);
    ASSERT_TRUE(image) << size.photo;
    ExpectDecodedForm(*image);
    EXPECT_EQ(image->width(), size.width) << size.photo << " at " << size.request;
    EXPECT_EQ(image->height(), size.height) << size.photo << " at " << size.request;
  }
}

TEST(CanonCR3, AnUndevelopableRawRendersFromItsPreviewsAndHasNoFullEditImage) {
  bool lensApplied = true;
  MaybeImage image = CreateRenderedImage(Photo(kR6Container), 4096, true, &lensApplied);
  ASSERT_TRUE(image);
  ExpectDecodedForm(*image);
  EXPECT_EQ(std::pair(image->width(), image->height()), std::pair(3584, 2016));
  EXPECT_FALSE(lensApplied);
  // LibRaw measures the sensor area as 3584x2386; 2016 rows are 84 % of it.
  EXPECT_FALSE(CreateFullEditImage(Photo(kR6Container), true));
  EXPECT_FALSE(CreateFullEditImage(Photo(kR6Container), false));

  lensApplied = true;
  MaybeImage rendered = CreateRenderedImage(Photo(kR6Pruned), 640, true, &lensApplied);
  ASSERT_TRUE(rendered);
  EXPECT_EQ(LongSide(*rendered), 640);
  EXPECT_FALSE(lensApplied);
  EXPECT_FALSE(CreateFullEditImage(Photo(kR6Pruned), true));
}

TEST(BrokenRaws, ACorruptCR3StubOrAPrunedDngGivesNothingNotABlackPicture) {
  // The CR3 stub: exiv2 rejects its metadata, it has no preview, and its raw data develops to nothing.
  EXPECT_FALSE(CreateThumbnail(Photo(kM50Corrupt), 640));
  bool lensApplied = true;
  EXPECT_FALSE(CreateRenderedImage(Photo(kM50Corrupt), 640, true, &lensApplied));
  EXPECT_FALSE(lensApplied);
  EXPECT_EQ(ImagePreviewDataURL(Photo(kM50Corrupt)), "");
  EXPECT_FALSE(CreateThumbnail(Photo(kPrunedDng), 640));
  EXPECT_FALSE(CreateRenderedImage(Photo(kPrunedDng), 640, true));
  EXPECT_FALSE(CreateFullEditImage(Photo(kPrunedDng), false));
}

TEST(CanonCR2, RenderedWithLensCorrectionIsTheDevelopedRawWhoseGeometryAloneChangesAndWithoutItTheThumbnail) {
  bool lensApplied = false;
  MaybeImage rendered = CreateRenderedImage(Photo(kCanon30D), 640, true, &lensApplied);
  MaybeImage preview = CreateThumbnail(Photo(kCanon30D), 640);
  ASSERT_TRUE(rendered && preview);
  ExpectDecodedForm(*rendered);
  EXPECT_TRUE(lensApplied) << "lensfun knows the EOS 30D and the EF-S 18-55mm";
  EXPECT_EQ(std::pair(rendered->width(), rendered->height()), std::pair(640, 427));
  // LibRaw's tone rendering is not the camera's, but the scene is the same.
  EXPECT_GT(GreyCorrelation(*rendered, *preview), 0.8);

  MaybeImage unCorrected = CreateRenderedImage(Photo(kCanon30D), 640, false, &lensApplied);
  ASSERT_TRUE(unCorrected);
  EXPECT_FALSE(lensApplied);
  EXPECT_EQ((*unCorrected - *preview).abs().max(), 0.0);

  // A raw smaller than the request is rendered at its own size.
  MaybeImage large = CreateRenderedImage(Photo(kCanon30D), 8192, true, &lensApplied);
  ASSERT_TRUE(large);
  EXPECT_TRUE(lensApplied);
  EXPECT_EQ(std::pair(large->width(), large->height()), std::pair(3522, 2348));

  detail::RawSource plainSource(Photo(kCanon30D));
  detail::RawSource correctedSource(Photo(kCanon30D));
  std::optional<detail::RawRendering> plain = detail::RenderRaw(plainSource, 480, false);
  std::optional<detail::RawRendering> corrected = detail::RenderRaw(correctedSource, 480, true);
  ASSERT_TRUE(plain && corrected);
  EXPECT_FALSE(plain->lensApplied);
  EXPECT_TRUE(corrected->lensApplied);
  ASSERT_EQ(std::pair(plain->image.width(), plain->image.height()), std::pair(corrected->image.width(), corrected->image.height()));
  EXPECT_GT((plain->image - corrected->image).abs().avg(), 1.0);
  EXPECT_GT(GreyCorrelation(plain->image, corrected->image), 0.9);
}

TEST(CanonCR2, FullEditImageIsTheWholeSensorDeveloped) {
  MaybeImage image = CreateFullEditImage(Photo(kCanon30D), true);
  ASSERT_TRUE(image);
  ExpectDecodedForm(*image);
  EXPECT_EQ(std::pair(image->width(), image->height()), std::pair(3522, 2348));
  // The size its header states, read without developing, is the size the full picture has.
  EXPECT_EQ(ImagePixelSize(Photo(kCanon30D)), std::make_pair(3522L, 2348L));
  EXPECT_EQ(ImagePixelSize(Photo("canon-t6-coins-2000x1072.jpg")), std::make_pair(2000L, 1072L));
  EXPECT_EQ(ImagePixelSize(Photo("missing.jpg")), std::nullopt);
}

TEST(RawRouting, TheFirstBytesDecideNotTheName) {
  // libvips would read a CR2 as a TIFF; its first bytes mark it as a raw.
  testing::ScratchFolder folder;
  std::string disguised = folder.Path("landscape.tif");
  std::filesystem::copy_file(Photo(kCanon30D), disguised);
  MaybeImage fromDisguised = CreateThumbnail(disguised, 640);
  ASSERT_TRUE(fromDisguised);
  ASSERT_EQ(fromDisguised->width(), 640);
  EXPECT_EQ((*fromDisguised - *CreateThumbnail(Photo(kCanon30D), 640)).abs().max(), 0.0);

  std::string jpeg = folder.Path("IMG_0001.CR3");
  std::filesystem::copy_file(Photo("orientation-6.jpg"), jpeg);
  MaybeImage image = CreateThumbnail(jpeg, 200);
  ASSERT_TRUE(image);
  ExpectDecodedForm(*image);
  EXPECT_EQ(std::pair(image->width(), image->height()), std::pair(150, 200));
  EXPECT_TRUE(CreateRenderedImage(jpeg, 200, true));
}

}  // namespace
}  // namespace tw::imaging
