// A converted JPEG keeps its photo's capture data, stands upright without a stale thumbnail,
// carries the rating and label in its own XMP, and honours the long-edge option; read back with exiv2.
#include "base/files.hpp"
#include "library/imaging/decoding.hpp"
#include "output/export_destination.hpp"
#include "support/controller_fixture.hpp"
#include "support/shoot_files.hpp"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <ctime>
#include <list>
#include <map>

namespace tw::testing {
namespace {

std::map<std::string, std::string> MetadataOf(const std::string& path) {
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
  image->readMetadata();
  std::map<std::string, std::string> values;
  for (const auto& datum : image->exifData()) values[datum.key()] = datum.toString();
  for (const auto& datum : image->xmpData()) values[datum.key()] = datum.toString();
  return values;
}

class ConvertedMetadataTest : public ControllerTest {
 protected:
  std::string ExportOne(const Json& photo, const Json& options) {
    TempFolder& folder = exports_.emplace_back();
    platform_->QueuePanelAnswer(std::vector<std::string>{folder.path()});
    Send({{"action", "exportAdvanced"}, {"photos", Json::array({photo})}, {"options", options}});
    const std::string name = output::SplitName(LastPathComponent(StringField(photo, "path"))).stem + ".jpg";
    return folder.path() + "/" + output::DatedFolderName(std::time(nullptr)) + "/" + name;
  }
  TempFolder shoot_;
  std::list<TempFolder> exports_;
};

TEST_F(ConvertedMetadataTest, KeepsCaptureDataUprightWithMarksAndLongEdge) {
  // A portrait stored sideways, with the camera's thumbnail in its EXIF.
  const std::string portrait = CopySample("face-closeup-open-canon350d.jpg", shoot_.path(), "PORTRAIT.jpg");
  {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(portrait);
    image->readMetadata();
    image->exifData()["Exif.Image.Orientation"] = static_cast<uint16_t>(6);
    image->writeMetadata();
  }
  const std::string raw = CopySample("canon-r6-container-with-preview.CR3", shoot_.path(), "IMG_0001.CR3");
  struct Case {
    Json photo;
    Json options;
    std::map<std::string, std::string> metadata;
    int width, height;
  };
  const Case cases[] = {
      {{{"path", portrait}, {"rating", 5}, {"status", "保留"}},
       {{"format", "jpeg"}, {"longEdge", 400}},
       {{"Exif.Photo.DateTimeOriginal", "2005:12:29 23:45:22"}, {"Exif.Image.Model", "Canon EOS DIGITAL REBEL XT"},
        {"Exif.Photo.ISOSpeedRatings", "400"}, {"Xmp.xmp.Rating", "5"}, {"Xmp.xmp.Label", "保留"}},
       267, 400},
      {{{"path", raw}, {"rating", 4}},
       {{"format", "jpeg"}},
       {{"Exif.Photo.DateTimeOriginal", "2021:05:12 12:21:21"}, {"Exif.Photo.SubSecTimeOriginal", "92"},
        {"Exif.Photo.OffsetTimeOriginal", "+02:00"}, {"Exif.Image.Model", "Canon EOS R6"},
        {"Exif.Photo.LensModel", "RF70-200mm F2.8 L IS USM"}, {"Exif.Photo.FNumber", "25/1"},
        {"Exif.Photo.ExposureTime", "1/4"}, {"Xmp.xmp.Rating", "4"}, {"Xmp.xmp.Label", "未分类"}},
       3584, 2016},
  };
  for (const Case& c : cases) {
    const std::string exported = ExportOne(c.photo, c.options);
    ASSERT_TRUE(Exists(exported)) << c.photo;
    std::map<std::string, std::string> metadata = MetadataOf(exported);
    for (const auto& [key, value] : c.metadata) EXPECT_EQ(metadata[key], value) << key << " of " << exported;
    EXPECT_EQ(metadata["Exif.Image.Orientation"], "1");
    EXPECT_EQ(metadata.count("Exif.Thumbnail.JPEGInterchangeFormat"), 0u) << "no stale thumbnail";
    EXPECT_EQ(metadata.lower_bound("Exif.Canon"), metadata.lower_bound("Exif.Canoo")) << "no maker notes";
    auto pixels = imaging::CreateThumbnail(exported, 100000);
    ASSERT_TRUE(pixels.has_value());
    EXPECT_EQ(std::pair(pixels->width(), pixels->height()), std::pair(c.width, c.height));
  }
}

}  // namespace
}  // namespace tw::testing
