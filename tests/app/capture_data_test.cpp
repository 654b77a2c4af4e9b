// Capture data read through the page bridge: planted EXIF in a JPEG, a CR3, and paths that are no
// photo of ours.
#include "base/files.hpp"
#include "library/import_scan.hpp"
#include "library/photo_metadata.hpp"
#include "support/controller_fixture.hpp"

#include <exiv2/exiv2.hpp>

#include <filesystem>
#include <map>

namespace tw::testing {
namespace {

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

class CaptureDataTest : public ControllerTest {
 protected:
  std::vector<Json> Metadata(const Json& ids, const Json& paths) {
    ClearOutput();
    Send({{"action", "photoMetadata"}, {"ids", ids}, {"paths", paths}});
    auto answers = Payloads("window.Native.photoMetadata");
    return answers.size() == 1 ? answers[0]["photos"].get<std::vector<Json>>() : std::vector<Json>{};
  }
  TempFolder photos_;
};

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
      if (value.is_number_float()) {
        EXPECT_NEAR(photos[i][key].get<double>(), value.get<double>(), 1e-6) << key << " of " << photos[i];
      } else {
        EXPECT_EQ(photos[i][key], value) << key << " of " << photos[i];
      }
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
  auto photos = Metadata(ids, paths);
  ASSERT_EQ(photos.size(), library::kMaxMetadataPhotosPerMessage + 1);
  EXPECT_EQ(photos[library::kMaxMetadataPhotosPerMessage - 1]["width"], 308);
  EXPECT_EQ(photos.back(), (Json{{"id", "2000"}, {"error", library::kMetadataTooMany}}));
}

}  // namespace
}  // namespace tw::testing
