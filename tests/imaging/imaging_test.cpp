// Decoding every kind of photo upright into one form, the edited image, encoding and the preview cache.
#include "image_test_support.hpp"
#include "library/imaging/decoding.hpp"
#include "library/imaging/raw_rendering.hpp"
#include "library/imaging/vips_images.hpp"

#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

namespace tw::imaging {
namespace {

using namespace testing;

// Same picture after different resampling stays well below this; a mirrored or turned picture is far above.
constexpr double kSamePicture = 12.0;

std::string OrientationPhoto(int orientation) { return Photo("orientation-" + std::to_string(orientation) + ".jpg"); }

DecodedImage Reference() {
  static DecodedImage reference = *CreateFullEditImage(OrientationPhoto(1), false);
  return reference;
}

class ExifOrientation : public ::testing::TestWithParam<int> {};

TEST_P(ExifOrientation, EveryDecoderReturnsThePictureUpright) {
  EnsureVipsStarted();
  vips::VImage stored = vips::VImage::new_from_file(OrientationPhoto(GetParam()).c_str());
  // Guards the tolerance: without turning, the stored pixels of 2...8 must not pass for upright.
  if (GetParam() > 1) EXPECT_GT(MeanDifference(stored, Reference()), kSamePicture);

  MaybeImage thumbnail = CreateThumbnail(OrientationPhoto(GetParam()), 200);
  ASSERT_TRUE(thumbnail);
  ExpectDecodedForm(*thumbnail);
  EXPECT_EQ(testing::LongSide(*thumbnail), 200);
  EXPECT_LT(MeanDifference(*thumbnail, Reference()), kSamePicture);

  MaybeImage rendered = CreateRenderedImage(OrientationPhoto(GetParam()), 200, true);
  ASSERT_TRUE(rendered);
  ASSERT_EQ(rendered->width(), thumbnail->width());
  EXPECT_EQ((*rendered - *thumbnail).abs().max(), 0.0) << "a JPEG's rendering is its thumbnail";

  MaybeImage full = CreateFullEditImage(OrientationPhoto(GetParam()), false);
  ASSERT_TRUE(full);
  ExpectDecodedForm(*full);
  EXPECT_EQ(std::pair(full->width(), full->height()), GetParam() >= 5 ? std::pair(stored.height(), stored.width())
                                                                       : std::pair(stored.width(), stored.height()));
  EXPECT_LT(MeanDifference(*full, Reference()), kSamePicture);
}

INSTANTIATE_TEST_SUITE_P(AllEight, ExifOrientation, ::testing::Range(1, 9));

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
           Case{kR6Container, 8192, 3584, 2016}, Case{kR6Container, 2000, 2000, 1125}, Case{kR6Container, 768, 768, 512},
           // Nothing larger decodes in the pruned container: its largest preview serves, unscaled.
           Case{kR6Pruned, 640, 640, 427}, Case{kR6Pruned, 2000, 1620, 1080},
           // The 30D's 1728-pixel preview is below 1750, so the raw is developed (at half size: 1761).
           Case{kCanon30D, 640, 640, 427}, Case{kCanon30D, 1750, 1750, 1167},
           Case{"file://" + Photo("orientation-6.jpg"), 100, 75, 100},
           // The HEIC carries an irot box and EXIF orientation 6 for the same turn, applied once; stored
           // 4032x3024, and 400 is above its 240x320 HEIF thumbnail, so the main image is decoded.
           Case{"iphone-orientation-6-irot.heic", 400, 300, 400}, Case{"iphone-colorchecker.heic", 200, 200, 150}}) {
    MaybeImage image = CreateThumbnail(size.photo.starts_with("file:") ? size.photo : Photo(size.photo), size.request);
    ASSERT_TRUE(image) << size.photo;
    ExpectDecodedForm(*image);
    EXPECT_EQ(std::pair(image->width(), image->height()), std::pair(size.width, size.height))
        << size.photo << " at " << size.request;
  }
}

TEST(CanonCR3, AnUndevelopableRawRendersFromItsPreviewsAndHasNoFullEditImage) {
  bool lensApplied = true;
  MaybeImage image = CreateRenderedImage(Photo(kR6Container), 4096, true, &lensApplied);
  ASSERT_TRUE(image);
  EXPECT_EQ(std::pair(image->width(), image->height()), std::pair(3584, 2016));
  EXPECT_FALSE(lensApplied);
  // LibRaw measures the sensor area as 3584x2386; 2016 rows are 84 % of it.
  EXPECT_FALSE(CreateFullEditImage(Photo(kR6Container), true));

  lensApplied = true;
  MaybeImage rendered = CreateRenderedImage(Photo(kR6Pruned), 640, true, &lensApplied);
  ASSERT_TRUE(rendered);
  EXPECT_EQ(LongSide(*rendered), 640);
  EXPECT_FALSE(lensApplied);
  EXPECT_FALSE(CreateFullEditImage(Photo(kR6Pruned), true));
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


  detail::RawSource plainSource(Photo(kCanon30D));
  detail::RawSource correctedSource(Photo(kCanon30D));
  std::optional<detail::RawRendering> plain = detail::RenderRaw(plainSource, 480, false);
  std::optional<detail::RawRendering> corrected = detail::RenderRaw(correctedSource, 480, true);
  ASSERT_TRUE(plain && corrected);
  ASSERT_EQ(std::pair(plain->image.width(), plain->image.height()), std::pair(corrected->image.width(), corrected->image.height()));
  EXPECT_GT((plain->image - corrected->image).abs().avg(), 1.0) << "the correction moves the picture";

  const DecodedImage image = CreateFullEditImage(Photo(kCanon30D), true).value();
  ExpectDecodedForm(image);
  EXPECT_EQ(std::pair(image.width(), image.height()), std::pair(3522, 2348));
  // The size its header states, read without developing, is the size the full picture has.
  EXPECT_EQ(ImagePixelSize(Photo(kCanon30D)), std::make_pair(3522L, 2348L));
  EXPECT_EQ(ImagePixelSize(Photo("canon-t6-coins-2000x1072.jpg")), std::make_pair(2000L, 1072L));
  EXPECT_EQ(ImagePixelSize(Photo("missing.jpg")), std::nullopt);
}

TEST(RawRouting, TheFirstBytesDecideNotTheName) {
  // libvips would read a CR2 as a TIFF; its first bytes mark it as a raw.
  testing::ScratchFolder folder;
  const std::string disguised = folder.Write("landscape.tif", ReadBytes(Photo(kCanon30D)));
  MaybeImage fromDisguised = CreateThumbnail(disguised, 640);
  ASSERT_TRUE(fromDisguised);
  ASSERT_EQ(fromDisguised->width(), 640);
  EXPECT_EQ((*fromDisguised - *CreateThumbnail(Photo(kCanon30D), 640)).abs().max(), 0.0);

  const std::string jpeg = folder.Write("IMG_0001.CR3", ReadBytes(Photo("orientation-6.jpg")));
  MaybeImage image = CreateThumbnail(jpeg, 200);
  ASSERT_TRUE(image);
  EXPECT_EQ(std::pair(image->width(), image->height()), std::pair(150, 200));
  EXPECT_TRUE(CreateRenderedImage(jpeg, 200, true));
}

TEST(DamagedInput, MissingEmptyTruncatedHugeOrGarbageFilesGiveNothing) {
  ScratchFolder folder;
  std::string whole = ReadBytes(Photo("canon-t6-coins-2000x1072.jpg"));
  std::string garbage(4096, '\x5A');
  for (const std::string& path : {
           Photo("no-such-photo.jpg"), folder.Write("empty.jpg", ""), folder.Write("empty.CR3", ""),
           folder.Write("empty.heic", ""), folder.Write("half.jpg", whole.substr(0, whole.size() / 2)),
           folder.Write("header-only.jpg", whole.substr(0, 600)), folder.Write("no-data.jpg", testing::HugeFrameJPEG()),
           // With a few bytes of data the size refuses it: decoding such a header took 6 s and 5 GB.
           folder.Write("little-data.jpg", testing::HugeFrameJPEG("\x12\x34\x56")), folder.Write("noise.jpg", garbage),
           folder.Write("noise.CR3", garbage), folder.Write("noise.png", "\x89PNG\r\n\x1A\n" + garbage),
           // A CR3 stub whose metadata exiv2 rejects, with no preview and raw data that develops to nothing,
           // and a pruned DNG: nothing, not a black picture.
           Photo(kM50Corrupt), Photo(kPrunedDng)}) {
    EXPECT_FALSE(CreateThumbnail(path, 640)) << path;
    EXPECT_FALSE(CreateRenderedImage(path, 640, true)) << path;
    EXPECT_FALSE(CreateFullEditImage(path, true)) << path;
    EXPECT_EQ(ImagePreviewDataURL(path), "") << path;
  }
  bool lensApplied = true;
  EXPECT_FALSE(CreateRenderedImage(Photo(kM50Corrupt), 640, true, &lensApplied) || lensApplied);
}

TEST(DamagedInput, TruncatedRawsDoNotCrash) {
  ScratchFolder folder;
  std::string cr3 = ReadBytes(Photo(kR6Container)), cr2 = ReadBytes(Photo(kCanon30D));
  for (size_t length : {size_t{64}, size_t{4096}, size_t{200000}, cr3.size() / 2}) {
    std::string path = folder.Write("cut-" + std::to_string(length) + ".CR3", cr3.substr(0, length));
    // Whatever survives the cut may be shown, but only as a proper decoded image.
    if (MaybeImage image = CreateThumbnail(path, 640)) ExpectDecodedForm(*image);
    if (MaybeImage image = CreateFullEditImage(path, true)) ExpectDecodedForm(*image);
  }
  std::string path = folder.Write("cut.CR2", cr2.substr(0, cr2.size() / 3));
  if (MaybeImage image = CreateThumbnail(path, 640)) ExpectDecodedForm(*image);
  if (MaybeImage image = CreateRenderedImage(path, 640, true)) ExpectDecodedForm(*image);
  // The first 64 bytes hold no picture at all.
  EXPECT_FALSE(CreateThumbnail(folder.Path("cut-64.CR3"), 640));
}

// Grey and colour PNG (one with a profile warning), WebP, TIFF and a HEIC with two images come out as
// three-band sRGB thumbnails of the asked size, and are never upscaled.
TEST(Sizes, EveryFormatIsShrunkButNeverUpscaledAndANonPositiveSizeGivesOnePixel) {
  EnsureVipsStarted();
  for (const char* name : {"coffee.png", "blur-camera-shake-clock.png", "blur-subject-motion-car.png", "flower.webp",
                           "stonehenge-exif.webp", "face-open-small.tiff", "heif-two-images.heic"}) {
    vips::VImage stored = vips::VImage::new_from_file(Photo(name).c_str());
    MaybeImage thumbnail = CreateThumbnail(Photo(name), 160);
    MaybeImage rendered = CreateRenderedImage(Photo(name), 8192, true);
    ASSERT_TRUE(thumbnail && rendered) << name;
    ExpectDecodedForm(*thumbnail);
    EXPECT_EQ(std::tuple(LongSide(*thumbnail), rendered->width(), rendered->height()),
              std::tuple(160, stored.width(), stored.height())) << name;
  }
  EXPECT_EQ(std::pair(LongSide(CreateThumbnail(Photo("orientation-1.jpg"), 0).value()),
                      LongSide(CreateRenderedImage(Photo("orientation-1.jpg"), -5, false).value())),
            std::pair(1, 1));
}

TEST(Formats, TransparencyIsFlattenedOnWhiteAndOddBandLayoutsAreBroughtToThreeBands) {
  ScratchFolder folder;
  EnsureVipsStarted();
  // A fully transparent black square.
  std::string path = folder.Path("transparent.png");
  vips::VImage::black(8, 8, vips::VImage::option()->set("bands", 4))
      .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
      .cast(VIPS_FORMAT_UCHAR)
      .write_to_file(path.c_str());
  MaybeImage image = CreateThumbnail(path, 8);
  ASSERT_TRUE(image);
  ExpectDecodedForm(*image);
  EXPECT_EQ(image->min(), 255.0);

  auto labelled = [](const vips::VImage& image) {
    return image.cast(VIPS_FORMAT_UCHAR).copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
  };
  vips::VImage two = labelled(vips::VImage::bandjoin({vips::VImage::black(4, 4) + 9, vips::VImage::black(4, 4) + 255}));
  vips::VImage five = labelled(vips::VImage::black(4, 4, vips::VImage::option()->set("bands", 5)) + 3);
  for (auto [odd, value] : {std::pair{two, 9.0}, {five, -1.0}}) {
    DecodedImage finished = detail::FinishDecodedImage(odd);
    ExpectDecodedForm(finished);
    EXPECT_EQ(finished.max(), finished.min());
    if (value >= 0) EXPECT_EQ(finished.max(), value);
  }
}

TEST(Concurrency, DecodersRunSideBySideWithTheSameResults) {
  const std::vector<std::string> files = {Photo("orientation-6.jpg"), Photo(kR6Container), Photo(kCanon30D),
                                          Photo("coffee.png"), Photo("flower.webp"), Photo(kM50Corrupt)};
  const auto decoded = [](const std::string& file) {
    MaybeImage image = CreateThumbnail(file, 300);
    return image ? EncodeJPEG(*image, 1.0) : std::nullopt;
  };
  std::vector<std::optional<std::string>> expected;
  for (const std::string& file : files) expected.push_back(decoded(file));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      // Each thread starts at a different file so that different decoders overlap.
      for (size_t i = 0; i < files.size(); ++i) {
        const size_t index = (i + t) % files.size();
        EXPECT_EQ(decoded(files[index]), expected[index]) << files[index];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
}

TEST(JPEGThumbnail, EverySizeKeepsItsLongSideAndThePictureAndAMidSizePhotoIsLibvipsOwnThumbnail) {
  EnsureVipsStarted();
  const std::string path = Photo("nikon-d5300-6000x4000.jpg");
  // 768 decodes at a quarter of the file's scale (libvips' own thumbnail would take half); 640
  // and 1500 at a quarter, 2800 and 3001 at full scale, as libvips does.
  for (int size : {640, 750, 768, 1500, 2800, 3001}) {
    SCOPED_TRACE(size);
    MaybeImage thumbnail = CreateThumbnail(path, size);
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(std::pair(thumbnail->width(), thumbnail->height()), std::pair(size, (size * 4000 + 3000) / 6000));
    const vips::VImage reference = vips::VImage::thumbnail(path.c_str(), size);
    EXPECT_LT(MeanDifference(*thumbnail, reference), 1.5);
  }
  // The picture only looked at decodes 2800 at half scale: the same size, the same picture.
  const DecodedImage viewing = CreateViewingImage(path, 2800, true).value();
  EXPECT_EQ(std::pair(viewing.width(), viewing.height()), std::pair(2800, 1867));
  EXPECT_LT(MeanDifference(viewing, vips::VImage::thumbnail(path.c_str(), 2800)), 1.5);
  // 1920 px to 768 leaves too little room for a scaled decode: the whole file is decoded, and the
  // picture is libvips' own thumbnail, pixel for pixel.
  const std::string midSize = Photo("face-group3-open-iso1600.jpg");
  MaybeImage thumbnail = CreateThumbnail(midSize, 768);
  const vips::VImage reference = vips::VImage::thumbnail(midSize.c_str(), 768);
  ASSERT_TRUE(thumbnail);
  ASSERT_EQ(std::pair(thumbnail->width(), thumbnail->height()), std::pair(reference.width(), reference.height()));
  EXPECT_EQ((*thumbnail - reference).abs().max(), 0.0);
}

TEST(MIMEType, TableByLowerCasedExtensionOfAnyPathForm) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a.jpg", "image/jpeg"}, {"a.jpeg", "image/jpeg"}, {"a.png", "image/png"}, {"a.webp", "image/webp"},
      {"a.heic", "image/heic"}, {"a.heif", "image/heic"}, {"a.tif", "image/tiff"}, {"a.tiff", "image/tiff"},
      {"/DCIM/IMG_0001.CR3", "image/x-canon-cr3"}, {"file:///home/me/%E7%85%A7%E7%89%87/a.HeIc", "image/heic"},
      {"a.cr2", "application/octet-stream"}, {"README", "application/octet-stream"},
      {"archive.jpg.zip", "application/octet-stream"}, {"/folder.jpg/file", "application/octet-stream"}};
  for (const auto& [path, type] : cases) EXPECT_EQ(MIMETypeForPath(path), type) << path;
}

TEST(RawExtension, EveryRawExtensionInAnyCaseAndNothingElse) {
  for (std::string extension : {"cr3", "cr2", "dng", "nef", "nrw", "arw", "raf", "rw2", "orf", "pef"}) {
    EXPECT_TRUE(IsRAWURL("/photos/IMG." + extension)) << extension;
  }
  EXPECT_TRUE(IsRAWURL("file:///photos/IMG_0001.CR3"));
  for (const char* path : {"a.jpg", "a.crw", "cr3", "/photos/cr3/IMG", "a.cr3.jpg"}) {
    EXPECT_FALSE(IsRAWURL(path)) << path;
  }
}

TEST(EncodeJPEG, RoundTripKeepsSizeAndPictureDropsOrientationAndClampsOrRefusesTheQuality) {
  const DecodedImage upright = CreateFullEditImage(Photo("orientation-6.jpg"), false).value();
  const std::string jpeg = EncodeJPEG(upright, 0.96).value();  // the decoded image reads from it
  vips::VImage decoded = vips::VImage::new_from_buffer(jpeg, "");
  EXPECT_EQ(std::tuple(decoded.width(), decoded.height(), decoded.bands()), std::tuple(upright.width(), upright.height(), 3));
  // Upright pixels with an orientation tag would be turned a second time by every viewer.
  EXPECT_EQ(vips_image_get_orientation(decoded.get_image()), 1);
  EXPECT_EQ(decoded.get_typeof(VIPS_META_EXIF_NAME), 0u);
  EXPECT_LT(MeanDifference(decoded, upright), 3.0);
  const auto size = [&upright](double quality) { return EncodeJPEG(upright, quality).value_or("").size(); };
  EXPECT_GT(size(1.0), size(0.82));
  EXPECT_GT(size(0.82), size(0.2));
  EXPECT_EQ(EncodeJPEG(upright, 7.0), EncodeJPEG(upright, 1.0));
  EXPECT_EQ(EncodeJPEG(upright, -1.0), EncodeJPEG(upright, 0.01));
  EXPECT_FALSE(EncodeJPEG(upright, std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(EncodeJPEG(DecodedImage(), 0.9));
}

TEST(ImagePreviewDataURL, InlineJpegOfTheThumbnailAt900) {
  std::string url = ImagePreviewDataURL(Photo("nikon-d5300-6000x4000.jpg"));
  const std::string prefix = "data:image/jpeg;base64,";
  ASSERT_TRUE(url.starts_with(prefix));
  gsize length = 0;
  guchar* bytes = g_base64_decode(url.c_str() + prefix.size(), &length);
  std::string jpeg(reinterpret_cast<const char*>(bytes), length);
  g_free(bytes);
  vips::VImage decoded = vips::VImage::new_from_buffer(jpeg, "");
  EXPECT_EQ(std::pair(decoded.width(), decoded.height()), std::pair(900, 600));
}

// Quarter turns and crops in fractions of the turned picture, with the page's rounding tolerance.

constexpr int kWidth = 40;
constexpr int kHeight = 30;

// Each pixel tells where it came from: red = 5x, green = 8y, blue constant.
DecodedImage Gradient() {
  EnsureVipsStarted();
  vips::VImage xy = vips::VImage::xyz(kWidth, kHeight);
  return vips::VImage::bandjoin({xy[0] * 5, xy[1] * 8, vips::VImage::black(kWidth, kHeight) + 100})
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
  EXPECT_TRUE(CreateEditedImage(source, 0, 0, 0.25, 1, 0.7500005));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  // x = 1 leaves no column to cut, although x + w stays inside the tolerance.
  for (const std::array<double, 4>& crop : std::initializer_list<std::array<double, 4>>{
           {0, 0.25, 1, 0.75001}, {-0.1, 0, 0.5, 0.5}, {0, -0.1, 0.5, 0.5}, {0, 0, 0, 0.5},
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
  ASSERT_EQ(std::pair(turned->width(), turned->height()), std::pair(kHeight, kWidth));
  ExpectDecodedForm(*turned);
  // Clockwise: the bottom-left corner comes to the top left, the top-left corner to the top right.
  EXPECT_EQ(std::tuple(Origin(*turned, 0, 0), Origin(*turned, kHeight - 1, 0), Origin(*turned, 0, kWidth - 1)),
            std::tuple(std::pair(0, kHeight - 1), std::pair(0, 0), std::pair(kWidth - 1, kHeight - 1)));

  const auto turn = [&source](int turns) { return CreateEditedImage(source, turns, 0, 0, 1, 1).value(); };
  const DecodedImage three = turn(3), two = turn(2);
  EXPECT_EQ((turn(-1) - three).abs().max(), 0.0);
  EXPECT_EQ(Origin(three, 0, 0), std::make_pair(kWidth - 1, 0)) << "three quarters clockwise";
  ASSERT_EQ(turn(4).width(), kWidth);
  EXPECT_EQ((turn(4) - source).abs().max(), 0.0) << "a whole crop of no turn is the image";
  EXPECT_EQ((turn(-6) - two).abs().max(), 0.0);
  EXPECT_EQ(Origin(two, 0, 0), std::make_pair(kWidth - 1, kHeight - 1));

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

void SetModified(const std::string& path, time_t seconds, long nanoseconds = 0) {
  timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

class PreviewCacheRefresh : public ::testing::Test {
 protected:
  // A preview placed as the preview code places it, recorded against the source as it is now.
  void MakePreview() {
    ASSERT_TRUE(PlacePreview(folder_.Write(".new.jpg", "jpeg"), cache_, *ReadPreviewSource(source_)));
  }
  ScratchFolder folder_;
  std::string source_ = folder_.Write("IMG_0001.CR3", "raw bytes");
  std::string cache_ = folder_.Path("123-plain.jpg");
};

TEST_F(PreviewCacheRefresh, AnyOtherSizeOrTimeIsRebuiltOlderToo) {
  SetModified(source_, 2'000'000, 500);
  MakePreview();
  EXPECT_FALSE(PreviewCacheNeedsRefresh(source_, cache_));
  EXPECT_FALSE(PreviewCacheNeedsRefresh("file://" + source_, "file://" + cache_));
  SetModified(source_, 2'000'000, 499);  // replaced within the same second
  EXPECT_TRUE(PreviewCacheNeedsRefresh(source_, cache_));
  folder_.Write("IMG_0001.CR3", "other raw bytes");  // copied over with its time kept (cp -p)
  SetModified(source_, 2'000'000, 500);
  EXPECT_TRUE(PreviewCacheNeedsRefresh(source_, cache_));
}

TEST_F(PreviewCacheRefresh, OnlyARecordOfThisVeryPreviewFileCounts) {
  folder_.Write("123-plain.jpg", "jpeg");
  EXPECT_TRUE(PreviewCacheNeedsRefresh(source_, cache_)) << "made before previews were recorded";
  MakePreview();
  // Two developments finishing at once may leave one's record beside the other's file.
  ASSERT_EQ(std::rename(folder_.Write(".other.jpg", "jpeg").c_str(), cache_.c_str()), 0);
  EXPECT_TRUE(PreviewCacheNeedsRefresh(source_, cache_));
}

}  // namespace
}  // namespace tw::imaging
