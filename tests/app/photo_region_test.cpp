// 100 % and 200 % regions through the page bridge: the pixels are the photo's own, upright, cut
// where asked and cached until the photo changes.
#include "base/files.hpp"
#include "library/import_scan.hpp"
#include "library/imaging/decoding.hpp"
#include "library/photo_region.hpp"
#include "support/controller_fixture.hpp"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace tw::testing {
namespace {

namespace fs = std::filesystem;
const std::string kPhotos = std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/";

class PhotoRegionTest : public ControllerTest {
 protected:
  Json Region(const std::string& path, long x, long y, long width, long height, int scale = 1) {
    return Region({{"id", "R"}, {"path", path}, {"x", x}, {"y", y}, {"width", width}, {"height", height},
                   {"scale", scale}});
  }
  Json Region(const Json& body) {
    ClearOutput();
    Json message = body;
    message["action"] = "photoRegion";
    Send(message);
    auto answers = Payloads("window.Native.photoRegion");
    return answers.empty() ? Json() : answers.back();
  }
  // The answer's pixels equal the same rectangle cut from the whole picture.
  void ExpectPixelsOf(const Json& answer, const imaging::MaybeImage& whole) {
    ASSERT_TRUE(answer.contains("url")) << answer;
    vips::VImage region = vips::VImage::new_from_file(PathFromFileURL(answer["url"])->c_str());
    const int scale = answer["scale"];
    ASSERT_EQ(std::pair(region.width(), region.height()),
              std::pair(answer["width"].get<int>() * scale, answer["height"].get<int>() * scale));
    ASSERT_TRUE(whole.has_value());
    EXPECT_EQ(std::pair(answer["photoWidth"], answer["photoHeight"]), std::pair(Json(whole->width()), Json(whole->height())));
    vips::VImage expected = whole->extract_area(answer["x"], answer["y"], answer["width"], answer["height"]);
    if (scale > 1) region = region.subsample(scale, scale);
    EXPECT_EQ((region.cast(VIPS_FORMAT_INT) - expected.cast(VIPS_FORMAT_INT)).abs().max(), 0) << answer;
  }
  TempFolder photos_;
};

TEST_F(PhotoRegionTest, GivesThePhotosOwnUprightPixelsAtOneAndTwoTimes) {
  for (int orientation = 1; orientation <= 8; ++orientation) {
    const std::string photo = kPhotos + "orientation-" + std::to_string(orientation) + ".jpg";
    for (int scale : {1, 2}) {
      Json answer = Region(photo, 50, 40, 100, 60, scale);
      EXPECT_EQ(std::pair(answer["x"], answer["width"]), std::pair(Json(50), Json(100)));
      ExpectPixelsOf(answer, imaging::CreateFullEditImage(photo, true));
    }
  }
  // A rectangle reaching past the picture is cut at its edges.
  const std::string upright = kPhotos + "orientation-1.jpg";
  const std::pair<Json, Json> clamped[] = {
      {Region(upright, 300, 400, 100, 100), {{"x", 300}, {"y", 400}, {"width", 8}, {"height", 10}}},
      {Region(upright, -20, -5, 40, 30), {{"x", 0}, {"y", 0}, {"width", 40}, {"height", 30}}},
      {Region(upright, 0, 0, 5000, 5000, 2), {{"x", 0}, {"y", 0}, {"width", 308}, {"height", 410}}},
  };
  for (const auto& [answer, expected] : clamped) {
    for (const auto& [key, value] : expected.items()) EXPECT_EQ(answer[key], value) << answer;
    ExpectPixelsOf(answer, imaging::CreateFullEditImage(upright, true));
  }
}

TEST_F(PhotoRegionTest, ARawThatCannotBeDevelopedShowsItsFullScaleEmbeddedJPEG) {
  // Its raw data does not develop; its 3584x2016 JPEG has the sensor's width, cropped to 16:9.
  const std::string raw = kPhotos + "canon-r6-container-with-preview.CR3";
  for (bool lens : {true, false}) {
    Send({{"action", "saveLensSettings"}, {"enabled", lens}});
    Json answer = Region(raw, 3000, 1900, 800, 300);
    EXPECT_TRUE(answer["url"].get<std::string>().ends_with(lens ? "-lens.png" : "-plain.png")) << answer;
    EXPECT_EQ(std::pair(answer["photoWidth"], answer["height"]), std::pair(Json(3584), Json(116)));
    ExpectPixelsOf(answer, imaging::CreateThumbnail(raw, 3584));
  }
  // Its 1620-pixel preview is never passed off as the full picture.
  EXPECT_EQ(Region(kPhotos + "canon-r6-pruned-no-image-data.CR3", 0, 0, 100, 100),
            (Json{{"id", "R"}, {"error", library::kRegionUndecodable}}));
}

TEST_F(PhotoRegionTest, IsTakenFromTheCacheUntilThePhotoChanges) {
  const std::string photo = photos_ / "IMG_1.jpg";
  fs::copy_file(kPhotos + "canon-t6-coins-2000x1072.jpg", photo);
  Json first = Region(photo, 1000, 500, 300, 200);
  const std::string cached = *PathFromFileURL(first["url"]);
  struct stat before {}, again {};
  ASSERT_EQ(stat(cached.c_str(), &before), 0);
  EXPECT_EQ(Region(photo, 1000, 500, 300, 200), first);
  stat(cached.c_str(), &again);
  EXPECT_EQ(again.st_ino, before.st_ino) << "an unchanged photo keeps its region";

  // Another photo in its place: the region is made again from it.
  fs::copy_file(kPhotos + "nikon-d5300-6000x4000.jpg", photo, fs::copy_options::overwrite_existing);
  Json changed = Region(photo, 1000, 500, 300, 200);
  EXPECT_EQ(changed["photoWidth"], 6000);
  ExpectPixelsOf(changed, imaging::CreateFullEditImage(photo, true));
  for (const auto& entry : fs::directory_iterator(support_ / library::kRegionCacheFolder)) {
    EXPECT_NE(entry.path().filename().string()[0], '.') << "no temporary file is left";
  }
}

TEST_F(PhotoRegionTest, BadRequestsGetAnErrorAndNeverAnImage) {
  const std::string photo = kPhotos + "orientation-1.jpg";
  std::ofstream(photos_ / "broken.jpg") << "not a picture";
  const Json base = {{"id", "R"}, {"path", photo}, {"x", 0}, {"y", 0}, {"width", 10}, {"height", 10}};
  auto with = [&base](const char* key, Json value) {
    Json body = base;
    body[key] = std::move(value);
    return body;
  };
  const std::pair<Json, const char*> cases[] = {
      {with("path", "relative.jpg"), library::kNotAnImportablePhoto},
      {with("path", kPhotos + "coffee.png"), library::kNotAnImportablePhoto},
      {with("path", photos_ / "missing.jpg"), library::kRegionSourceMissing},
      {with("path", photos_ / "broken.jpg"), library::kRegionUndecodable},
      {with("width", 0), library::kRegionInvalid},
      {with("height", "10"), library::kRegionInvalid},
      {with("scale", 3), library::kRegionInvalid},
  };
  for (const auto& [body, error] : cases) {
    EXPECT_EQ(Region(body), (Json{{"id", "R"}, {"error", error}})) << body;
  }
  EXPECT_EQ(Region(with("id", "")), Json()) << "no id, no one to answer";
}

}  // namespace
}  // namespace tw::testing
