// What the page asks about one photo at a time: its capture data, faces, a region at full scale, a large
// preview, and crop-and-rotate edits saved as new numbered JPEGs; each refusing paths that are no photo of ours.
#include "analysis/analysis_texts.hpp"
#include "analysis/assessment.hpp"
#include "base/files.hpp"
#include "library/imaging/decoding.hpp"
#include "library/import_scan.hpp"
#include "library/photo_metadata.hpp"
#include "library/photo_region.hpp"
#include "library/preview.hpp"
#include "support/controller_fixture.hpp"
#include "support/shoot_files.hpp"

#include <exiv2/exiv2.hpp>
#include <sys/fsuid.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <set>

namespace tw::testing {
namespace {

namespace fs = std::filesystem;

class PhotoRequestTest : public ControllerTest {
 protected:
  // The only answer to one message (null when none came), told through `function` or the action's name.
  Json Ask(const std::string& action, Json message, const std::string& function = "") {
    ClearOutput();
    message["action"] = action;
    Send(message);
    auto answers = Payloads("window.Native." + (function.empty() ? action : function));
    EXPECT_LE(answers.size(), 1u);
    return answers.empty() ? Json() : answers.back();
  }
  Json Metadata(const Json& ids, const Json& paths) { return Ask("photoMetadata", {{"ids", ids}, {"paths", paths}})["photos"]; }
  Json Faces(const std::string& path, const char* id = "F") { return Ask("photoFaces", {{"id", id}, {"path", path}}); }
  Json Region(const std::string& path, long x, long y, long width, long height, int scale = 1) {
    return Ask("photoRegion", {{"id", "R"}, {"path", path}, {"x", x}, {"y", y}, {"width", width}, {"height", height},
                               {"scale", scale}});
  }
  Json Preview(const std::string& path, const std::string& id = "P1") {
    return Ask("previewPhoto", {{"id", id}, {"path", path}}, "previewReady");
  }
  Json Edit(const Json& request, std::optional<std::string> folder) {
    platform_->QueuePanelAnswer(folder ? std::optional(std::vector<std::string>{*folder}) : std::nullopt);
    return Ask("editPhoto", request, "photoEditResult");
  }
  static Json Crop(double x, double y, double w, double h) { return {{"x", x}, {"y", y}, {"w", w}, {"h", h}}; }
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
  TempFolder photos_, output_;
};
TEST_F(PhotoRequestTest, CaptureDataReadsTimeBodyLensAndExposureOfJPEGAndCR3AndAtMostTwoThousandPhotosAMessage) {
  // A sideways portrait with a body and a long exposure planted: its size is told upright, the rest is unknown.
  const std::string planted = CopySample("orientation-6.jpg", photos_.path(), "IMG_0001.JPG");
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(planted);
  image->readMetadata();
  Exiv2::ExifData& exif = image->exifData();
  exif["Exif.Image.Make"] = "SONY";
  exif["Exif.Image.Model"] = "ILCE-7M4";
  exif["Exif.Photo.ExposureTime"] = "13/10";
  image->writeMetadata();
  EXPECT_EQ(Metadata({"J", "R"}, {planted, kSamplePhotos + "canon-r6-container-with-preview.CR3"}),
            Json::array({{{"id", "J"}, {"captureTime", nullptr}, {"camera", "SONY ILCE-7M4"}, {"serial", nullptr},
                          {"lens", nullptr}, {"focalLength", nullptr}, {"aperture", nullptr}, {"shutter", "1.3s"},
                          {"exposureTime", 1.3}, {"iso", nullptr}, {"exposureCompensation", nullptr}, {"width", 231},
                          {"height", 308}},
                         {{"id", "R"}, {"captureTime", "2021-05-12T12:21:21.92+02:00"}, {"camera", "Canon EOS R6"},
                          {"serial", "093022004357"}, {"lens", "RF70-200mm F2.8 L IS USM"}, {"focalLength", 200.0},
                          {"aperture", 25.0}, {"shutter", "1/4"}, {"exposureTime", 0.25}, {"iso", 100},
                          {"exposureCompensation", 0.0}, {"width", 3584}, {"height", 2386}}}));

  const size_t max = library::kMaxMetadataPhotosPerMessage;
  // The first id is no text, so no one is answered; a path that is no text, or none at all, is no photo.
  Json ids = Json::array({7}), paths = Json::array({""});
  for (size_t i = 1; i <= max; ++i) {
    ids.push_back(std::to_string(i));
    if (i + 1 < max) paths.push_back(i + 2 == max ? Json(kSamplePhotos + "orientation-1.jpg") : Json(42));
  }
  Json photos = Metadata(ids, paths);
  ASSERT_EQ(photos.size(), max);
  EXPECT_EQ(photos[0], (Json{{"id", "1"}, {"error", library::kNotAnImportablePhoto}}));
  EXPECT_EQ(photos[max - 3]["width"], 308);
  EXPECT_EQ(photos[max - 2], (Json{{"id", std::to_string(max - 1)}, {"error", library::kNotAnImportablePhoto}}));
  EXPECT_EQ(photos.back(), (Json{{"id", std::to_string(max)}, {"error", library::kMetadataTooMany}}));
}

TEST_F(PhotoRequestTest, FacesAgreeWithTheAssessmentOfTheSamePhoto) {
  // Each face's eyes as `tidewick analyze` judges the same photo; the counts must match its record.
  const std::pair<const char*, std::multiset<Json>> cases[] = {
      {"face-group3-open.jpg", {"open", "open", "open"}},
      {"face-group3-eyes-downcast-iso6400.jpg", {"closed", "notCheckable", "review"}},
      {"canon-t6-coins-2000x1072.jpg", {}}};
  for (const auto& [photo, expected] : cases) {
    const Json answer = Faces(kSamplePhotos + photo);
    ASSERT_TRUE(answer.contains("faces")) << answer;
    std::multiset<Json> eyes;
    std::set<Json> triggers;
    long main = 0;
    for (const Json& face : answer["faces"]) {
      eyes.insert(face["eyes"]);
      triggers.insert(face["triggers"].begin(), face["triggers"].end());
      main += face["main"] == true;
      // The one who shut her eyes sits on the right of the 1920-pixel photo, beyond the analysis picture.
      EXPECT_TRUE(face["triggers"].empty() || face["box"]["x"] > 960) << face;
    }
    EXPECT_EQ(eyes, expected) << answer;
    const Json record = analysis::analyzeURL(kSamplePhotos + photo, {{"enabled", {"闭眼", "人脸失焦"}}}, "标准");
    EXPECT_EQ(std::tuple(eyes.size(), main, eyes.count("closed"), eyes.size() - eyes.count("notCheckable"), triggers),
              std::tuple(record["faces"], record["mainFaces"], record["closedEyes"], record["eyesChecked"],
                         std::set<Json>(record["issues"].begin(), record["issues"].end()))) << photo;
  }
}

TEST_F(PhotoRequestTest, FacesAreInTheUprightPhotosPixels) {
  // The same sitter, upright and in a square crop stored on its side (orientation 6).
  const Json upright = Faces(kSamplePhotos + "face-open-portrait-hopper.jpg");
  EXPECT_EQ(Json::array({upright["width"], upright["height"]}), Json::array({512, 600}));
  for (const Json& answer : {upright, Faces(kSamplePhotos + "face-hopper-orientation-6.jpg")}) {
    ASSERT_EQ(answer["faces"].size(), 1u) << answer;
    const Json& face = answer["faces"][0];
    const Json& box = face["box"];
    EXPECT_NEAR((box["x"].get<double>() + box["width"].get<double>() / 2) / answer["width"].get<double>(), 0.5, 0.1);
    EXPECT_NEAR((box["y"].get<double>() + box["height"].get<double>() / 2) / answer["height"].get<double>(), 0.4, 0.1);
    // Level eyes, the person's left on the picture's right.
    ASSERT_TRUE(face["leftEye"].is_array() && face["rightEye"].is_array()) << face;
    EXPECT_GT(face["leftEye"][0], face["rightEye"][0]);
    EXPECT_NEAR(face["leftEye"][1].get<double>(), face["rightEye"][1].get<double>(), box["height"].get<double>() / 8);
  }
}

TEST_F(PhotoRequestTest, RegionsHaveThePhotosOwnUprightPixelsAreCachedUntilThePhotoChangesAndARawsComeFromItsEmbeddedJPEG) {
  for (int orientation = 1; orientation <= 8; ++orientation) {
    const std::string photo = kSamplePhotos + "orientation-" + std::to_string(orientation) + ".jpg";
    for (int scale : {1, 2}) {
      Json answer = Region(photo, 50, 40, 100, 60, scale);
      EXPECT_EQ(std::pair(answer["x"], answer["width"]), std::pair(Json(50), Json(100)));
      ExpectPixelsOf(answer, imaging::CreateFullEditImage(photo, true));
    }
  }
  // A rectangle reaching past the picture is cut at its edges.
  const std::string upright = kSamplePhotos + "orientation-1.jpg";
  const std::pair<Json, Json> clamped[] = {
      {Region(upright, 300, 400, 100, 100), {{"x", 300}, {"y", 400}, {"width", 8}, {"height", 10}}},
      {Region(upright, -20, -5, 40, 30), {{"x", 0}, {"y", 0}, {"width", 40}, {"height", 30}}},
      {Region(upright, 0, 0, 5000, 5000, 2), {{"x", 0}, {"y", 0}, {"width", 308}, {"height", 410}}},
  };
  for (const auto& [answer, expected] : clamped) {
    for (const auto& [key, value] : expected.items()) EXPECT_EQ(answer[key], value) << answer;
    ExpectPixelsOf(answer, imaging::CreateFullEditImage(upright, true));
  }

  // Taken from the cache until the photo changes.
  const std::string photo = CopySample("canon-t6-coins-2000x1072.jpg", photos_.path(), "IMG_1.jpg");
  Json first = Region(photo, 1000, 500, 300, 200);
  const ino_t cached = Inode(*PathFromFileURL(first["url"]));
  EXPECT_EQ(Region(photo, 1000, 500, 300, 200), first);
  EXPECT_EQ(Inode(*PathFromFileURL(first["url"])), cached) << "an unchanged photo keeps its region";
  // Another photo in its place (the refresh rule is the preview cache's own test's).
  CopySample("nikon-d5300-6000x4000.jpg", photos_.path(), "IMG_1.jpg");
  EXPECT_EQ(Region(photo, 1000, 500, 300, 200)["photoWidth"], 6000);
  for (const auto& name : Names(support_ / library::kRegionCacheFolder)) EXPECT_NE(name[0], '.') << "a temporary file is left";

  // A raw whose data does not develop: its 3584x2016 JPEG has the sensor's width, cropped to 16:9.
  const std::string raw = kSamplePhotos + "canon-r6-container-with-preview.CR3";
  for (bool lens : {true, false}) {
    Send({{"action", "saveLensSettings"}, {"enabled", lens}});
    Json answer = Region(raw, 3000, 1900, 800, 300);
    EXPECT_TRUE(answer["url"].get<std::string>().ends_with(lens ? "-lens.png" : "-plain.png")) << answer;
    EXPECT_EQ(std::pair(answer["photoWidth"], answer["height"]), std::pair(Json(3584), Json(116)));
    ExpectPixelsOf(answer, imaging::CreateThumbnail(raw, 3584));
  }
  // Its 1620-pixel preview is never passed off as the full picture.
  EXPECT_EQ(Region(kSamplePhotos + "canon-r6-pruned-no-image-data.CR3", 0, 0, 100, 100),
            (Json{{"id", "R"}, {"error", library::kRegionUndecodable}}));
}

TEST_F(PhotoRequestTest, BadPathsAndRegionsGetAnErrorFromEachQueryAndNeverAnImage) {
  std::ofstream(photos_ / "broken.jpg") << "not a picture";
  const char* notOurs = library::kNotAnImportablePhoto;
  const std::tuple<std::string, const char*, std::string_view, const char*> paths[] = {
      {"relative.jpg", notOurs, notOurs, notOurs},
      {kSamplePhotos + "coffee.png", notOurs, notOurs, notOurs},
      {photos_ / "missing.jpg", notOurs, notOurs, library::kRegionSourceMissing},
      {photos_ / "broken.jpg", library::kMetadataUnreadable, analysis::texts::kUndecodable, library::kRegionUndecodable}};
  for (const auto& [path, metadataError, facesError, regionError] : paths) {
    EXPECT_EQ(Metadata({"M"}, {path}), Json::array({{{"id", "M"}, {"error", metadataError}}})) << path;
    EXPECT_EQ(Faces(path), (Json{{"id", "F"}, {"error", std::string(facesError)}})) << path;
    EXPECT_EQ(Region(path, 0, 0, 10, 10), (Json{{"id", "R"}, {"error", regionError}})) << path;
  }
  EXPECT_EQ(Faces(kSamplePhotos + "face-group3-open.jpg", ""), Json()) << "no id, no one to answer";
  const Json base = {{"id", "R"}, {"path", kSamplePhotos + "orientation-1.jpg"}, {"x", 0}, {"y", 0}, {"width", 10}, {"height", 10}};
  for (auto [key, value] : {std::pair{"width", Json(0)}, {"height", Json("10")}, {"scale", Json(3)}, {"id", Json("")}}) {
    Json body = base;
    body[key] = value;
    const Json refused = {{"id", "R"}, {"error", library::kRegionInvalid}};
    EXPECT_EQ(Ask("photoRegion", body), key == std::string("id") ? Json() : refused) << body;  // without an id no one is answered
  }
}

TEST_F(PhotoRequestTest, PreviewsAreCachedOnePerLensSettingRefreshedWhenThePhotoChangesAndShownWhenItIsGone) {
  const std::string photo = CopySample("canon-t6-coins-2000x1072.jpg", photos_.path(), "IMG_1.jpg");
  SetModified(photo, 1600000000);
  Json first = Preview(photo);
  ASSERT_TRUE(first.contains("url")) << first;
  std::string lensFile = *PathFromFileURL(first["url"]);
  EXPECT_TRUE(lensFile.ends_with("-lens.jpg"));
  EXPECT_EQ(imaging::CreateThumbnail(lensFile, 10000)->width(), 2000) << "never upscaled to 2800";

  Send({{"action", "saveLensSettings"}, {"enabled", false}});
  Json plain = Preview(photo);
  EXPECT_TRUE(plain["url"].get<std::string>().ends_with("-plain.jpg"));
  EXPECT_TRUE(PathExists(lensFile)) << "the other setting's preview stays";
  // Another photo copied over it with its own, older time (cp -p, a card copied again).
  CopySample("orientation-1.jpg", photos_.path(), "IMG_1.jpg");
  SetModified(photo, 1500000000);
  const Json refreshed = Preview(photo);
  EXPECT_EQ(imaging::CreateThumbnail(*PathFromFileURL(plain["url"]), 10000)->width(), 308);
  for (const auto& name : Names(support_ / "PreviewCache")) {
    EXPECT_TRUE(name.ends_with(".jpg") || name.ends_with(".jpg.stamp")) << "no temporary file is left: " << name;
  }

  // An ejected card's photo shows the cached preview; other failures answer their text.
  fs::remove(photo);
  EXPECT_EQ(Preview(photo), refreshed);
  EXPECT_EQ(Preview(photos_ / "never-cached.jpg"), (Json{{"id", "P1"}, {"error", "原文件当前不可访问，正在显示缓存预览"}}));
  std::ofstream(photos_ / "broken.jpg") << "not a picture";
  EXPECT_EQ(Preview(photos_ / "broken.jpg", "X"), (Json{{"id", "X"}, {"error", "系统无法解码大图，正在显示缓存预览"}}));
  EXPECT_EQ(Preview("/tmp/a.jpg", ""), Json()) << "a request without an id is ignored";
  EXPECT_EQ(Preview("", "A"), Json()) << "and one without a path";

  const std::string locked = CopySample("orientation-1.jpg", photos_.path(), "IMG_2.jpg");
  fs::permissions(photos_.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_write);
  // Root reads everything; the answer is prepared as another user on this thread.
  int previous = setfsuid(65534);
  Json answer = library::PreparePreview("P", locked, support_.path(), true);
  setfsuid(previous);
  EXPECT_EQ(answer, (Json{{"id", "P"}, {"error", "原文件没有读取权限，正在显示缓存预览"}}));
}

TEST_F(PhotoRequestTest, APreviewUsesTheLensSettingOfTheMomentThePageAsked) {
  const std::string photo = CopySample("orientation-1.jpg", photos_.path(), "IMG_1.jpg");
  // Workers stay busy until the setting has changed behind the request.
  std::promise<void> release;
  std::shared_future<void> busy = release.get_future().share();
  for (int i = 0; i < 64; ++i) queues::Global(QoS::UserInitiated, [busy] { busy.wait(); });
  queues::Main([&] {
    app_->didReceiveScriptMessage({{"action", "previewPhoto"}, {"id", "P"}, {"path", photo}});
    app_->didReceiveScriptMessage({{"action", "saveLensSettings"}, {"enabled", false}});
    release.set_value();
  });
  RunUntilQuiet();
  auto answers = Payloads("window.Native.previewReady");
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_TRUE(answers[0]["url"].get<std::string>().ends_with("-lens.jpg")) << answers[0];
}

TEST_F(PhotoRequestTest, CropsSaveNumberedUprightCopiesAndNeverTouchTheSourceAndLimitsCancelsAndFailuresAnswer) {
  const std::string photo = CopySample("orientation-6.jpg", photos_.path(), "IMG_1.jpg"), pipe = photos_ / "PIPE.jpg";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  std::string original = *ReadWholeFile(photo);
  auto upright = imaging::CreateFullEditImage(photo, true);
  ASSERT_TRUE(upright.has_value());
  std::ofstream(output_ / "IMG_1（2）.jpg") << "someone else's file";

  Json answer = Edit({{"path", photo}, {"token", "T1"}, {"crop", Crop(0, 0, 1, 1)}, {"date", "2024-05-01T10:00:00"}},
                     output_.path());
  ASSERT_TRUE(answer.contains("photo")) << answer;
  Json record = answer["photo"];
  EXPECT_TRUE(record["thumbnail"].get<std::string>().starts_with("data:image/jpeg;base64,"));
  record.erase("thumbnail");
  EXPECT_EQ(answer["token"], "T1");
  EXPECT_EQ(record, (Json{{"name", "IMG_1（1）.jpg"}, {"path", output_ / "IMG_1（1）.jpg"}, {"format", "JPG"},
                          {"width", upright->width()}, {"height", upright->height()}, {"date", "2024-05-01T10:00:00"},
                          {"sourcePath", photo}, {"size", fs::file_size(output_ / "IMG_1（1）.jpg")}, {"id", record["id"]}}));
  // The saved file is upright by its pixels, with no orientation left to apply.
  EXPECT_EQ(imaging::CreateFullEditImage(record["path"], true)->width(), upright->width());

  Json second = Edit({{"path", photo}, {"token", "T2"}, {"crop", Crop(0, 0, 0.5, 1)}}, output_.path());
  EXPECT_EQ(second["photo"]["name"], "IMG_1（3）.jpg") << "a taken name moves to the next number";
  EXPECT_EQ(second["photo"]["date"], "");
  EXPECT_EQ(second["photo"]["width"], (upright->width() + 1) / 2) << "cropped in its upright appearance";

  const Json whole = Crop(0, 0, 1, 1);
  const std::string undecodable = "无法解码原片或裁剪范围无效。没有保存缩略图，也没有修改原片。";
  const std::string unreachable = "原文件不可访问，请重新连接存储卡或选择原文件所在位置。";
  struct Case {
    Json request;
    std::optional<std::string> folder;
    Json answer;  // the whole answer, or the saved photo's width
  };
  const Case cases[] = {
      {{{"path", photo}, {"token", "a"}, {"crop", Crop(0.5, 0, 0.5000005, 1)}}, output_.path(), (upright->width() + 1) / 2},
      {{{"path", photo}, {"token", "b"}, {"crop", Crop(0.5, 0, 0.50001, 1)}}, output_.path(), {{"token", "b"}, {"error", undecodable}}},
      // The turn reaches the edit (its rule is the edited image's own test's).
      {{{"path", photo}, {"token", "d"}, {"turns", -1}, {"crop", whole}}, output_.path(), upright->height()},
      {{{"path", pipe}, {"token", "T"}, {"crop", whole}}, output_.path(), {{"token", "T"}, {"error", undecodable}}},
      {{{"path", photo}, {"token", "T"}, {"crop", whole}}, output_ / "gone",
       {{"token", "T"}, {"error", "JPG 保存失败，请检查保存位置的写入权限和剩余空间。"}}},
      {{{"path", photo}, {"token", "T"}, {"crop", whole}}, std::nullopt, {{"token", "T"}, {"cancelled", true}}},
      {{{"path", photos_ / "gone.jpg"}, {"token", "T"}}, std::nullopt, {{"token", "T"}, {"error", unreachable}}},
      {{{"path", photo}}, std::nullopt, {{"token", ""}, {"error", unreachable}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request.dump());
    Json got = Edit(c.request, c.folder);
    EXPECT_EQ(c.answer.is_number() ? got["photo"]["width"] : got, c.answer);
  }
  EXPECT_EQ(*ReadWholeFile(photo), original);
  EXPECT_EQ(*ReadWholeFile(output_ / "IMG_1（2）.jpg"), "someone else's file");
  EXPECT_EQ(Names(output_.path()),
            (std::vector<std::string>{"IMG_1（1）.jpg", "IMG_1（2）.jpg", "IMG_1（3）.jpg", "IMG_1（4）.jpg", "IMG_1（5）.jpg"}));
}

}  // namespace
}  // namespace tw::testing
