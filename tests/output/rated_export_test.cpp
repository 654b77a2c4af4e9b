// The rated export: copies of the rated originals in a dated folder, each with an XMP sidecar that
// carries its star rating; the sources are never changed, whatever fails.
#include "base/files.hpp"
#include "output/export_destination.hpp"
#include "support/controller_fixture.hpp"
#include "support/shoot_files.hpp"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

namespace tw::testing {
namespace {

std::string SidecarWithRating(const std::string& rating) {
  return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
         "<rdf:Description xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"" + rating + "\"/></rdf:RDF></x:xmpmeta>";
}

class RatedExportTest : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    cr3_ = CopySample("canon-r6-container-with-preview.CR3", shoot_.path(), "IMG_0001.CR3");
    jpg_ = CopySample("canon-t6-coins-2000x1072.jpg", shoot_.path(), "IMG_0001.JPG");
    other_ = CopySample("orientation-3.jpg", shoot_.path(), "IMG_0002.JPG");
    sources_.emplace(shoot_.path());
  }
  void TearDown() override {
    ControllerTest::TearDown();
    EXPECT_EQ(sources_->Changes(), std::vector<std::string>{}) << "a file of the shoot changed";
  }

  Json Export(const Json& photos, const std::string& folder, const std::string& token = "T") {
    Send({{"action", "exportRatedPhotos"}, {"token", token}, {"photos", photos}, {"folder", folder}});
    auto answers = Payloads("window.Native.ratingExportComplete");
    return answers.empty() ? Json() : answers.back();
  }
  std::string Today() const { return exports_ / output::DatedFolderName(std::time(nullptr)); }

  TempFolder shoot_;
  TempFolder exports_;
  std::string cr3_, jpg_, other_;
  std::optional<FolderSnapshot> sources_;
};

TEST_F(RatedExportTest, ExportingTwiceOnOneDayGivesNumberedCopiesEachWithItsSidecar) {
  Json photo = {{"id", "P1"}, {"path", cr3_}, {"rating", 4}};
  Json first = Export(Json::array({photo}), exports_.path(), "T1");
  Json second = Export(Json::array({photo}), exports_.path(), "T2");

  const std::string dated = Today();
  EXPECT_EQ(first, (Json{{"token", "T1"}, {"outputs", Json::array({{{"id", "P1"}, {"path", dated + "/IMG_0001.CR3"}}})},
                         {"errors", Json::array()}, {"folder", dated}, {"baseFolder", exports_.path()},
                         {"message", "已导出 1 张原片"}}));
  EXPECT_EQ(std::pair(second["token"], second["outputs"]),
            std::pair(Json("T2"), Json::array({{{"id", "P1"}, {"path", dated + "/IMG_0001（1）.CR3"}}})));
  EXPECT_EQ(Names(dated),
            (std::vector<std::string>{"IMG_0001.CR3", "IMG_0001.xmp", "IMG_0001（1）.CR3", "IMG_0001（1）.xmp"}));
  EXPECT_EQ(ReadBytes(dated + "/IMG_0001（1）.xmp"), SidecarWithRating("4"));
  for (const char* copy : {"/IMG_0001.CR3", "/IMG_0001（1）.CR3"}) {
    EXPECT_EQ(ReadBytes(dated + copy), ReadBytes(cr3_));
    EXPECT_TRUE(SameTime(StatPath(dated + copy).modified, StatPath(cr3_).modified)) << "the copy keeps its date";
  }
}

TEST_F(RatedExportTest, ARawAndAJpegOfOneNameShareOneSidecarWithTheHigherRating) {
  Json answer = Export(Json::array({{{"id", "RAW"}, {"path", cr3_}, {"rating", 2}},
                                    {{"id", "JPG"}, {"path", jpg_}, {"rating", 5}}}),
                       exports_.path());
  EXPECT_EQ(answer["outputs"].size(), 2u);
  EXPECT_EQ(Names(Today()), (std::vector<std::string>{"IMG_0001.CR3", "IMG_0001.JPG", "IMG_0001.xmp"}));
  EXPECT_EQ(ReadBytes(Today() + "/IMG_0001.xmp"), SidecarWithRating("5"));
}

TEST_F(RatedExportTest, TheSidecarIsOneExactLineThatExiv2ReadsWithTheRatingAsAWholeNumber) {
  Export(Json::array({{{"id", "A"}, {"path", cr3_}, {"rating", 4.7}}, {{"id", "B"}, {"path", other_}}}), exports_.path());
  EXPECT_EQ(Exiv2Value(Today() + "/IMG_0001.xmp", "Xmp.xmp.Rating"), "4");
  Export(Json::array({{{"id", "A"}, {"path", cr3_}, {"rating", "3"}}, {{"id", "B"}, {"path", other_}, {"rating", nullptr}}}),
         exports_.path());
  // No rating counts as 0.
  for (auto [name, rating] : {std::pair{"IMG_0001", "4"}, {"IMG_0002", "0"}, {"IMG_0001（1）", "3"}, {"IMG_0002（1）", "0"}}) {
    EXPECT_EQ(ReadBytes(Today() + "/" + name + ".xmp"), SidecarWithRating(rating)) << name;
  }
}

TEST_F(RatedExportTest, AnUnreachableSourceIsOneErrorAndTheOthersAreStillExported) {
  std::string deleted = CopySample("orientation-4.jpg", shoot_.path(), "DELETED.jpg");
  std::remove(deleted.c_str());
  sources_.emplace(shoot_.path());
  Json answer = Export(Json::array({{{"id", "GONE"}, {"path", deleted}},
                                    {{"id", "OK"}, {"path", jpg_}},
                                    {{"id", "DIR"}, {"path", shoot_.path()}},
                                    {{"path", 42}},
                                    {{"id", 7}, {"path", "IMG_0001.JPG"}}}),
                       exports_.path());
  EXPECT_EQ(answer["outputs"], Json::array({{{"id", "OK"}, {"path", Today() + "/IMG_0001.JPG"}}}));
  EXPECT_EQ(answer["errors"], Json::array({{{"id", "GONE"}, {"error", "原文件不可访问"}},
                                           {{"id", "DIR"}, {"error", "原文件不可访问"}},
                                           {{"id", ""}, {"error", "原文件不可访问"}},
                                           {{"id", 7}, {"error", "原文件不可访问"}}}));
  EXPECT_EQ(answer["message"], "已导出 1 张原片，4 张失败，原片保留");
}

TEST_F(RatedExportTest, AFolderThatIsAFileOrAnEmptyListIsUnusableWithoutAPanel) {
  WriteBytes(exports_ / "not-a-folder", "");
  Json photos = Json::array({{{"id", "A"}, {"path", jpg_}}});
  Json unusable = {{"token", "T"}, {"outputs", Json::array()}, {"message", "导出文件夹不可用，请到高级中重新选择；原片保留"}};
  EXPECT_EQ(Export(photos, exports_ / "not-a-folder"), unusable);
  EXPECT_EQ(Export(Json::array(), exports_.path()), unusable);
  EXPECT_EQ(Export(photos, exports_ / "missing"), unusable);
  EXPECT_TRUE(Payloads("window.Native.ratingExportFolder").empty());
  EXPECT_EQ(Names(exports_.path()), std::vector<std::string>{"not-a-folder"});
}

TEST_F(RatedExportTest, WithoutAFolderThePanelAsksAndItsFolderIsReportedFirstAndThenUsed) {
  platform_->QueuePanelAnswer(std::nullopt);
  Send({{"action", "exportRatedPhotos"}, {"token", "T-C"}, {"photos", Json::array({{{"id", "A"}, {"path", jpg_}}})}});
  EXPECT_EQ(lines_, (std::vector<Json>{{{"fn", "window.Native.ratingExportComplete"},
                                        {"arg", {{"token", "T-C"}, {"cancelled", true}, {"outputs", Json::array()},
                                                 {"message", "已取消导出，星级和原片保留"}}}}}));
  ClearOutput();
  platform_->QueuePanelAnswer(std::vector<std::string>{exports_.path()});
  Send({{"action", "exportRatedPhotos"}, {"token", 5}, {"photos", Json::array({{{"id", "A"}, {"path", jpg_}, {"rating", 1}}})}});
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_[0], (Json{{"fn", "window.Native.ratingExportFolder"}, {"arg", {{"path", exports_.path()}}}}));
  // A token that is not a string counts as empty.
  EXPECT_EQ(lines_[1]["arg"], (Json{{"token", ""}, {"outputs", {{{"id", "A"}, {"path", Today() + "/IMG_0001.JPG"}}}},
                                    {"errors", Json::array()}, {"folder", Today()}, {"baseFolder", exports_.path()},
                                    {"message", "已导出 1 张原片"}}));
  EXPECT_EQ(ReadBytes(Today() + "/IMG_0001.JPG"), ReadBytes(jpg_));

  // Choosing the folder alone only reports it; a cancelled panel answers nothing.
  ClearOutput();
  platform_->QueuePanelAnswer(std::vector<std::string>{shoot_.path()});
  Send({{"action", "chooseRatingExportFolder"}});
  platform_->QueuePanelAnswer(std::nullopt);
  Send({{"action", "chooseRatingExportFolder"}});
  EXPECT_EQ(lines_, (std::vector<Json>{{{"fn", "window.Native.ratingExportFolder"}, {"arg", {{"path", shoot_.path()}}}}}));
}

TEST_F(RatedExportTest, ExportsStartedTogetherRunOneAfterTheOther) {
  Json photos = Json::array({{{"id", "A"}, {"path", cr3_}}, {{"id", "B"}, {"path", jpg_}}});
  for (const char* token : {"FIRST", "SECOND"}) {
    Json body = {{"action", "exportRatedPhotos"}, {"token", token}, {"photos", photos}, {"folder", exports_.path()}};
    queues::Main([this, body] { app_->didReceiveScriptMessage(body); });
  }
  RunUntilQuiet();
  auto answers = Payloads("window.Native.ratingExportComplete");
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(std::pair(answers[0]["token"], answers[0]["outputs"]),
            std::pair(Json("FIRST"), Json::array({{{"id", "A"}, {"path", Today() + "/IMG_0001.CR3"}},
                                                  {{"id", "B"}, {"path", Today() + "/IMG_0001.JPG"}}})));
  EXPECT_EQ(std::pair(answers[1]["token"], answers[1]["outputs"]),
            std::pair(Json("SECOND"), Json::array({{{"id", "A"}, {"path", Today() + "/IMG_0001（1）.CR3"}},
                                                   {{"id", "B"}, {"path", Today() + "/IMG_0001（1）.JPG"}}})));
}

TEST_F(RatedExportTest, WritesThatFailReportEachPhotoWithTheSystemsTextAndLeaveNoPartialFile) {
  WriteBytes(Today(), "a file where the dated folder belongs");
  const Json photos = Json::array({{{"id", "A"}, {"path", cr3_}}, {{"id", "B"}, {"path", jpg_}}});
  Json noFolder = Export(photos, exports_.path());
  EXPECT_EQ(ReadBytes(Today()), "a file where the dated folder belongs");
  std::filesystem::remove(Today());
  ASSERT_FALSE(CreateDirectories(Today()));
  Json full;
  {
    FileSizeLimit limit(64 * 1024);  // every copy hits a full disk
    full = Export(photos, exports_.path());
  }
  for (const Json& answer : {noFolder, full}) {
    EXPECT_TRUE(answer["outputs"].empty());
    ASSERT_EQ(answer["errors"].size(), 2u);
    EXPECT_EQ(answer["errors"][0]["id"], "A");
    for (const Json& error : answer["errors"]) {
      EXPECT_NE(error["error"], "原文件不可访问");
      EXPECT_FALSE(error["error"].get<std::string>().empty());
    }
    EXPECT_EQ(answer["message"], "已导出 0 张原片，2 张失败，原片保留");
  }
  EXPECT_TRUE(Names(Today()).empty()) << "no half copy and no temporary file is left";
}

}  // namespace
}  // namespace tw::testing
