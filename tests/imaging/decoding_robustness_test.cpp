// Damaged, empty and unusual input never crashes and never comes back as a wrong picture; sizes
// are capped but never inflated; the decoders run side by side on several threads.
#include "image_test_support.hpp"
#include "library/imaging/decoding.hpp"
#include "library/imaging/vips_images.hpp"

#include <thread>
#include <vector>

namespace tw::imaging {
namespace {

using testing::ExpectDecodedForm;
using testing::LongSide;
using testing::Photo;
using testing::ReadBytes;
using testing::ScratchFolder;

TEST(DamagedInput, MissingEmptyTruncatedHugeOrGarbageFilesGiveNothing) {
  ScratchFolder folder;
  std::string whole = ReadBytes(Photo("canon-t6-coins-2000x1072.jpg"));
  ASSERT_GT(whole.size(), 1000u);
  std::string garbage(4096, '\x5A');
  for (const std::string& path : {
           Photo("no-such-photo.jpg"), folder.Write("empty.jpg", ""), folder.Write("empty.CR3", ""),
           folder.Write("empty.heic", ""), folder.Write("half.jpg", whole.substr(0, whole.size() / 2)),
           folder.Write("header-only.jpg", whole.substr(0, 600)), folder.Write("no-data.jpg", testing::HugeFrameJPEG()),
           // With a few bytes of data the size refuses it: decoding such a header took 6 s and 5 GB.
           folder.Write("little-data.jpg", testing::HugeFrameJPEG("\x12\x34\x56")), folder.Write("noise.jpg", garbage),
           folder.Write("noise.CR3", garbage), folder.Write("noise.png", "\x89PNG\r\n\x1A\n" + garbage)}) {
    EXPECT_FALSE(CreateThumbnail(path, 640)) << path;
    EXPECT_FALSE(CreateRenderedImage(path, 640, true)) << path;
    EXPECT_FALSE(CreateRenderedImage(path, 640, false)) << path;
    EXPECT_FALSE(CreateFullEditImage(path, true)) << path;
    EXPECT_EQ(ImagePreviewDataURL(path), "") << path;
  }
}

TEST(DamagedInput, TruncatedRawsDoNotCrash) {
  ScratchFolder folder;
  std::string cr3 = ReadBytes(Photo("canon-r6-container-with-preview.CR3"));
  std::string cr2 = ReadBytes(Photo("canon-30d-landscape.CR2"));
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

TEST(Sizes, SmallPhotosAreNeverUpscaledAndANonPositiveSizeGivesOnePixel) {
  EnsureVipsStarted();
  for (const char* name : {"orientation-1.jpg", "coffee.png", "flower.webp", "face-open-small.tiff"}) {
    vips::VImage stored = vips::VImage::new_from_file(Photo(name).c_str());
    MaybeImage thumbnail = CreateThumbnail(Photo(name), 5000);
    MaybeImage rendered = CreateRenderedImage(Photo(name), 8192, true);
    ASSERT_TRUE(thumbnail && rendered) << name;
    ExpectDecodedForm(*thumbnail);
    EXPECT_EQ(std::tuple(thumbnail->width(), thumbnail->height(), rendered->width()),
              std::tuple(stored.width(), stored.height(), stored.width())) << name;
  }
  MaybeImage zero = CreateThumbnail(Photo("orientation-1.jpg"), 0);
  MaybeImage negative = CreateRenderedImage(Photo("orientation-1.jpg"), -5, false);
  ASSERT_TRUE(zero && negative);
  EXPECT_EQ(std::pair(LongSide(*zero), LongSide(*negative)), std::pair(1, 1));
}

TEST(Formats, GreyAlphaAndColourFilesAllComeOutAsThreeBandSRGB) {
  // PNG grey, PNG with a profile warning, WebP, TIFF, HEIC with two images.
  for (const char* name : {"blur-camera-shake-clock.png", "blur-subject-motion-car.png", "flower.webp",
                           "stonehenge-exif.webp", "face-open-small.tiff", "heif-two-images.heic"}) {
    MaybeImage image = CreateThumbnail(Photo(name), 160);
    ASSERT_TRUE(image) << name;
    ExpectDecodedForm(*image);
    EXPECT_EQ(LongSide(*image), 160) << name;
  }
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
  vips::VImage one = labelled(vips::VImage::black(4, 4) + 7);
  vips::VImage two = labelled(vips::VImage::bandjoin({vips::VImage::black(4, 4) + 9, vips::VImage::black(4, 4) + 255}));
  vips::VImage five = labelled(vips::VImage::black(4, 4, vips::VImage::option()->set("bands", 5)) + 3);
  for (auto [odd, value] : {std::pair{one, 7.0}, {two, 9.0}, {five, -1.0}}) {
    DecodedImage finished = detail::FinishDecodedImage(odd);
    ExpectDecodedForm(finished);
    EXPECT_EQ(finished.max(), finished.min());
    if (value >= 0) EXPECT_EQ(finished.max(), value);
  }
}

TEST(Concurrency, DecodersRunSideBySideWithTheSameResults) {
  const std::vector<std::string> files = {Photo("orientation-6.jpg"), Photo("canon-r6-container-with-preview.CR3"),
                                          Photo("canon-30d-landscape.CR2"), Photo("coffee.png"),
                                          Photo("flower.webp"), Photo("canon-m50-stub-corrupt.cr3")};
  std::vector<MaybeImage> expected;
  for (const std::string& file : files) expected.push_back(CreateThumbnail(file, 300));

  constexpr int kThreads = 4;
  std::vector<std::vector<MaybeImage>> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (size_t i = 0; i < files.size(); ++i) {
        // Each thread starts at a different file so that different decoders overlap.
        size_t index = (i + t) % files.size();
        results[t].resize(files.size());
        results[t][index] = CreateThumbnail(files[index], 300);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  for (int t = 0; t < kThreads; ++t) {
    for (size_t i = 0; i < files.size(); ++i) {
      ASSERT_EQ(results[t][i].has_value(), expected[i].has_value()) << files[i];
      if (!expected[i]) continue;
      ASSERT_EQ(std::pair(results[t][i]->width(), results[t][i]->height()),
                std::pair(expected[i]->width(), expected[i]->height())) << files[i];
      EXPECT_EQ((*results[t][i] - *expected[i]).abs().max(), 0.0) << files[i];
    }
  }
}

}  // namespace
}  // namespace tw::imaging
