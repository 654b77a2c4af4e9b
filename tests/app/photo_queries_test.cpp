#include "analysis/analysis_texts.hpp"
#include "analysis/assessment.hpp"
#include "base/files.hpp"
#include "library/imaging/decoding.hpp"
#include "library/import_scan.hpp"
#include "library/photo_metadata.hpp"
#include "library/photo_region.hpp"
#include "support/controller_fixture.hpp"

#include <exiv2/exiv2.hpp>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace tw::testing {
namespace {

// What the page asks about one photo at a time: its capture data, its faces and a region at full
// scale, each answered through the page bridge and each refusing paths that are no photo of ours.

namespace fs = std::filesystem;
const std::string kPhotos = std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/";

void PlantExif(const std::string& path, const std::map<std::string, std::string>& tags) {
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
  image->readMetadata();
  Exiv2::ExifData exif = image->exifData();
  for (const auto& [key, value] : tags) exif[key] = value;
  image->setExifData(exif);
  image->writeMetadata();
}

class PhotoQueryTest : public ControllerTest {
 protected:
  // The page's only answer to one message, null when none came.
  Json Ask(const std::string& action, Json message) {
    ClearOutput();
    message["action"] = action;
    Send(message);
    auto answers = Payloads("window.Native." + action);
    EXPECT_LE(answers.size(), 1u);
    return answers.empty() ? Json() : answers.back();
  }
  Json Metadata(const Json& ids, const Json& paths) { return Ask("photoMetadata", {{"ids", ids}, {"paths", paths}})["photos"]; }
  Json Faces(const std::string& path, const char* id = "F") { return Ask("photoFaces", {{"id", id}, {"path", path}}); }
  Json Region(const std::string& path, long x, long y, long width, long height, int scale = 1) {
    return Ask("photoRegion", {{"id", "R"}, {"path", path}, {"x", x}, {"y", y}, {"width", width}, {"height", height},
                               {"scale", scale}});
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
using CaptureDataTest = PhotoQueryTest;
using PhotoFacesTest = PhotoQueryTest;
using PhotoRegionTest = PhotoQueryTest;

TEST_F(CaptureDataTest, ReadsTimeBodyLensAndExposureOfJPEGAndCR3) {
  // A sideways portrait: the size is told upright.
  const std::string planted = photos_ / "IMG_0001.JPG";
  fs::copy_file(kPhotos + "orientation-6.jpg", planted);
  PlantExif(planted, {{"Exif.Image.Make", "SONY"},
                      {"Exif.Image.Model", "ILCE-7M4"},
                      {"Exif.Photo.DateTimeOriginal", "2024:05:01 14:03:22"},
                      {"Exif.Photo.SubSecTimeOriginal", "37"},
                      {"Exif.Photo.OffsetTimeOriginal", "+02:00"},
                      {"Exif.Photo.BodySerialNumber", "6012345"},
                      {"Exif.Photo.LensModel", "FE 85mm F1.8"},
                      {"Exif.Photo.FocalLength", "85/1"},
                      {"Exif.Photo.FNumber", "18/10"},
                      {"Exif.Photo.ExposureTime", "13/10"},
                      {"Exif.Photo.ISOSpeedRatings", "400"},
                      {"Exif.Photo.ExposureBiasValue", "-2/3"}});
  const std::string cr3 = kPhotos + "canon-r6-container-with-preview.CR3";
  const std::string bare = kPhotos + "orientation-1.jpg";

  auto photos = Metadata({"J", "R", "B"}, {planted, cr3, bare});
  ASSERT_EQ(photos.size(), 3u);
  const Json expected[] = {
      {{"id", "J"}, {"captureTime", "2024-05-01T14:03:22.37+02:00"}, {"camera", "SONY ILCE-7M4"},
       {"serial", "6012345"}, {"lens", "FE 85mm F1.8"}, {"focalLength", 85.0}, {"aperture", 1.8},
       {"shutter", "1.3s"}, {"exposureTime", 1.3}, {"iso", 400}, {"exposureCompensation", -2.0 / 3},
       {"width", 231}, {"height", 308}},
      {{"id", "R"}, {"captureTime", "2021-05-12T12:21:21.92+02:00"}, {"camera", "Canon EOS R6"},
       {"serial", "093022004357"}, {"lens", "RF70-200mm F2.8 L IS USM"}, {"focalLength", 200.0}, {"aperture", 25.0},
       {"shutter", "1/4"}, {"exposureTime", 0.25}, {"iso", 100}, {"exposureCompensation", 0.0},
       {"width", 3584}, {"height", 2386}},
      {{"id", "B"}, {"captureTime", nullptr}, {"camera", nullptr}, {"serial", nullptr}, {"lens", nullptr},
       {"focalLength", nullptr}, {"aperture", nullptr}, {"shutter", nullptr}, {"exposureTime", nullptr},
       {"iso", nullptr}, {"exposureCompensation", nullptr}, {"width", 308}, {"height", 410}},
  };
  for (size_t i = 0; i < photos.size(); ++i) {
    ASSERT_EQ(photos[i].size(), expected[i].size()) << photos[i];
    for (const auto& [key, value] : expected[i].items()) {
      EXPECT_TRUE(value.is_number_float() ? std::abs(photos[i][key].get<double>() - value.get<double>()) < 1e-6
                                          : photos[i][key] == value) << key << " of " << photos[i];
    }
  }
}

TEST_F(CaptureDataTest, PathsThatAreNoPhotoOfOursGetAnErrorEach) {
  fs::create_directory(photos_ / "folder.jpg");
  const Json paths = {"relative/IMG_1.jpg", photos_ / "missing.jpg", photos_ / "folder.jpg", kPhotos + "coffee.png", 42};
  // 7 has no one to answer; "beyond" has no path.
  const Json ids = {"E0", "E1", "E2", "E3", "E4", 7, "beyond"};
  auto photos = Metadata(ids, paths);
  ASSERT_EQ(photos.size(), 6u);
  for (size_t i = 0; i < photos.size(); ++i) {
    EXPECT_EQ(photos[i], (Json{{"id", ids[i < 5 ? i : 6]}, {"error", library::kNotAnImportablePhoto}})) << i;
  }
}

TEST_F(CaptureDataTest, OneMessageReadsAtMostTwoThousandPhotos) {
  Json ids = Json::array(), paths = Json::array();
  for (size_t i = 0; i <= library::kMaxMetadataPhotosPerMessage; ++i) {
    ids.push_back(std::to_string(i));
    paths.push_back(i + 1 == library::kMaxMetadataPhotosPerMessage ? kPhotos + "orientation-1.jpg" : "");
  }
  Json photos = Metadata(ids, paths);
  ASSERT_EQ(photos.size(), library::kMaxMetadataPhotosPerMessage + 1);
  EXPECT_EQ(photos[library::kMaxMetadataPhotosPerMessage - 1]["width"], 308);
  EXPECT_EQ(photos.back(), (Json{{"id", "2000"}, {"error", library::kMetadataTooMany}}));
}

// One key's values over the faces, an array's items each.
std::multiset<Json> Values(const Json& faces, const char* key) {
  std::multiset<Json> values;
  for (const Json& face : faces) {
    if (face[key].is_array()) values.insert(face[key].begin(), face[key].end());
    else values.insert(face[key]);
  }
  return values;
}

TEST_F(PhotoFacesTest, AgreeWithTheAssessmentOfTheSamePhoto) {
  // Each face's eyes as `tidewick analyze` judges the same photo; the counts must match its record.
  const std::pair<const char*, std::multiset<Json>> cases[] = {
      {"face-group3-open.jpg", {"open", "open", "open"}},
      {"face-group2-girl-closed-laughing.jpg", {"review", "review"}},
      {"face-group3-eyes-downcast-iso6400.jpg", {"closed", "notCheckable", "review"}},
      {"canon-t6-coins-2000x1072.jpg", {}}};
  for (const auto& [photo, eyes] : cases) {
    const Json answer = Faces(kPhotos + photo);
    ASSERT_TRUE(answer.contains("faces")) << answer;
    const Json& faces = answer["faces"];
    EXPECT_EQ(Values(faces, "eyes"), eyes) << answer;
    const Json record = analysis::analyzeURL(kPhotos + photo, {{"enabled", {"闭眼", "人脸失焦"}}}, "标准");
    EXPECT_EQ(faces.size(), record["faces"]) << photo;
    EXPECT_EQ(Values(faces, "main").count(true), record["mainFaces"]) << photo;
    EXPECT_EQ(Values(faces, "eyes").count("closed"), record["closedEyes"]) << photo;
    EXPECT_EQ(faces.size() - Values(faces, "eyes").count("notCheckable"), record["eyesChecked"]) << photo;
    const std::multiset<Json> triggers = Values(faces, "triggers");
    EXPECT_EQ(std::set<Json>(triggers.begin(), triggers.end()),
              std::set<Json>(record["issues"].begin(), record["issues"].end())) << photo;
    // The one who shut her eyes sits on the right of the 1920-pixel photo, beyond the analysis picture.
    for (const Json& face : faces) EXPECT_TRUE(face["triggers"].empty() || face["box"]["x"] > 960) << face;
  }
}

TEST_F(PhotoFacesTest, AreInTheUprightPhotosPixels) {
  // The same sitter, upright and in a square crop stored on its side (orientation 6).
  const Json upright = Faces(kPhotos + "face-open-portrait-hopper.jpg");
  EXPECT_EQ(Json::array({upright["width"], upright["height"]}), Json::array({512, 600}));
  for (const Json& answer : {upright, Faces(kPhotos + "face-hopper-orientation-6.jpg")}) {
    ASSERT_EQ(answer["faces"].size(), 1u) << answer;
    const Json& face = answer["faces"][0];
    const Json& box = face["box"];
    EXPECT_NEAR((box["x"].get<double>() + box["width"].get<double>() / 2) / answer["width"].get<double>(), 0.5, 0.1);
    EXPECT_NEAR((box["y"].get<double>() + box["height"].get<double>() / 2) / answer["height"].get<double>(), 0.4, 0.1);
    // Level eyes in the face's upper half, the person's left on the picture's right.
    ASSERT_TRUE(face["leftEye"].is_array() && face["rightEye"].is_array()) << face;
    EXPECT_GT(face["leftEye"][0], face["rightEye"][0]);
    EXPECT_NEAR(face["leftEye"][1].get<double>(), face["rightEye"][1].get<double>(), box["height"].get<double>() / 8);
    EXPECT_TRUE(face["leftEye"][1] > box["y"] &&
                face["leftEye"][1] < box["y"].get<long>() + box["height"].get<long>() / 2) << face;
  }
}

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

TEST_F(PhotoQueryTest, BadPathsAndRegionsGetAnErrorAndNeverAnImage) {
  std::ofstream(photos_ / "broken.jpg") << "not a picture";
  // Each path's error from the faces and from the region.
  const std::tuple<std::string, std::string_view, const char*> paths[] = {
      {"relative.jpg", library::kNotAnImportablePhoto, library::kNotAnImportablePhoto},
      {kPhotos + "coffee.png", library::kNotAnImportablePhoto, library::kNotAnImportablePhoto},
      {photos_ / "missing.jpg", library::kNotAnImportablePhoto, library::kRegionSourceMissing},
      {photos_ / "broken.jpg", analysis::texts::kUndecodable, library::kRegionUndecodable}};
  for (const auto& [path, facesError, regionError] : paths) {
    EXPECT_EQ(Faces(path), (Json{{"id", "F"}, {"error", std::string(facesError)}})) << path;
    EXPECT_EQ(Region(path, 0, 0, 10, 10), (Json{{"id", "R"}, {"error", regionError}})) << path;
  }
  EXPECT_EQ(Faces(kPhotos + "face-group3-open.jpg", ""), Json()) << "no id, no one to answer";
  const Json base = {{"id", "R"}, {"path", kPhotos + "orientation-1.jpg"}, {"x", 0}, {"y", 0}, {"width", 10}, {"height", 10}};
  for (auto [key, value] : {std::pair{"width", Json(0)}, {"height", Json("10")}, {"scale", Json(3)}, {"id", Json("")}}) {
    Json body = base;
    body[key] = value;
    const Json refused = {{"id", "R"}, {"error", library::kRegionInvalid}};
    EXPECT_EQ(Ask("photoRegion", body), key == std::string("id") ? Json() : refused) << body;  // without an id no one is answered
  }
}

}  // namespace
}  // namespace tw::testing
