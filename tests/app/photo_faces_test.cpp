// Face marks through the page bridge: the assessment's own faces and verdicts, on the upright photo.
#include "analysis/analysis_texts.hpp"
#include "analysis/assessment.hpp"
#include "library/import_scan.hpp"
#include "support/controller_fixture.hpp"

#include <fstream>
#include <set>

namespace tw::testing {
namespace {

const std::string kPhotos = std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/";

class PhotoFacesTest : public ControllerTest {
 protected:
  Json Faces(const std::string& path, const char* id = "F") {
    ClearOutput();
    Send({{"action", "photoFaces"}, {"id", id}, {"path", path}});
    auto answers = Payloads("window.Native.photoFaces");
    return answers.empty() ? Json() : answers.back();
  }
};

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

TEST_F(PhotoFacesTest, BadPathsGetAnError) {
  TempFolder folder;
  std::ofstream(folder / "broken.jpg") << "not a picture";
  const std::pair<std::string, std::string_view> cases[] = {{"relative.jpg", library::kNotAnImportablePhoto},
                                                            {kPhotos + "coffee.png", library::kNotAnImportablePhoto},
                                                            {folder / "missing.jpg", library::kNotAnImportablePhoto},
                                                            {folder / "broken.jpg", analysis::texts::kUndecodable}};
  for (const auto& [path, error] : cases) {
    EXPECT_EQ(Faces(path), (Json{{"id", "F"}, {"error", std::string(error)}})) << path;
  }
  EXPECT_EQ(Faces(kPhotos + "face-group3-open.jpg", ""), Json()) << "no id, no one to answer";
}

}  // namespace
}  // namespace tw::testing
