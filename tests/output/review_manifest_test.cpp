// The review manifest: the culling list as tab-separated text, grouped by decision.
#include "output/review_manifest.hpp"
#include "support/controller_fixture.hpp"
#include "support/shoot_files.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace tw::testing {
namespace {

const std::string kHeader = "编号\t完整文件名\t星级\t问题\t连拍组\t云端建议";

Json ThreePhotos() {
  return Json::array({{{"name", "IMG_0001.CR3"}, {"status", "保留"}, {"rating", 3}, {"issues", {"闭眼", "过曝"}}},
                      {{"name", "IMG_0002.JPG"}, {"status", "保留"}, {"rating", 5}, {"group", "B3"}, {"best", true},
                       {"cloudReason", "表情自然"}, {"cloudConfidence", 0.856}, {"cloudBest", true}},
                      {{"name", "IMG_0003.JPG"}, {"status", "淘汰"}, {"best", true}, {"cloudBest", true}}});
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The file apart from its time line, which is checked on its own.
void ExpectThreePhotoManifest(const std::string& text, const std::string& project) {
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find("\n\n\n"), std::string::npos);
  std::vector<std::string> lines = Lines(text);
  ASSERT_GT(lines.size(), 3u);
  EXPECT_TRUE(std::regex_match(lines[2], std::regex("生成时间：\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}"))) << lines[2];
  lines.erase(lines.begin() + 2);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "岚舟 · 筛片清单",
                       "项目：" + project,
                       "照片总数：3",
                       "保留：2  待定：0  淘汰：1  未决定：0",
                       "",
                       "说明：第一列为不含扩展名的照片编号，可直接用于按编号选片。",
                       "",
                       "[保留]（2 张）",
                       kHeader,
                       "IMG_0001\tIMG_0001.CR3\t3星\t闭眼、过曝\t—\t—",
                       "IMG_0002\tIMG_0002.JPG\t5星\t无\tB3（本组最佳）\t表情自然（云端推荐） · 86%",
                       "",
                       "[待定]（0 张）",
                       kHeader,
                       "",
                       "[淘汰]（1 张）",
                       kHeader,
                       "IMG_0003\tIMG_0003.JPG\t0星\t无\t本组最佳\t云端推荐 · 0%",
                       "",
                       "[未决定]（0 张）",
                       kHeader}));
}

TEST(ReviewManifestText, OtherStatusesAreUndecidedValuesLoseTabsAndLineBreaksAndPercentagesRoundAsPrintf) {
  std::string text = output::ReviewManifestText(
      Json::array({{{"name", "A\tB\nC.jpg"}, {"status", "keep"}, {"cloudReason", "眼神\r\n好"}, {"group", "G\t1"},
                    {"issues", {"闭眼", 3}}},
                   {{"name", "A.jpg"}, {"status", 1}, {"cloudReason", "a"}, {"cloudConfidence", 0.125}},
                   {{"name", "B.jpg"}, {"cloudReason", "b"}, {"cloudConfidence", 0.375}},
                   {{"name", "C.jpg"}, {"cloudReason", "c"}, {"cloudConfidence", "0.9"}}}),
      "P", 0);
  EXPECT_NE(text.find("保留：0  待定：0  淘汰：0  未决定：4\n"), std::string::npos);
  // The undecided section comes last.
  EXPECT_EQ(text.substr(text.find("[未决定]")), "[未决定]（4 张）\n" + kHeader + "\nA B C\tA B C.jpg\t0星\t闭眼\tG 1\t眼神  好 · 0%\n"
            "A\tA.jpg\t0星\t无\t—\ta · 12%\nB\tB.jpg\t0星\t无\t—\tb · 38%\nC\tC.jpg\t0星\t无\t—\tc · 0%\n");
}

TEST(ReviewManifestText, FileNameStemsLoseTheCharactersFileSystemsReject) {
  for (auto [name, stem] : {std::pair{"a/b:c", "a-b-c"}, {"///", "拍摄项目"}, {"", "拍摄项目"}, {"婚礼 2024", "婚礼 2024"},
                            {"1/2:3\\4?5%6*7|8\"9<10>11", "1-2-3-4-5-6-7-8-9-10-11"}}) {
    EXPECT_EQ(output::ManifestFileStem(name), stem);
  }
}

class ReviewManifestTest : public ControllerTest {
 protected:
  TempFolder folder_;
};

TEST_F(ReviewManifestTest, NoPhotosAnswerWithoutAPanelAndACancelledPanelWritesNothing) {
  Send({{"action", "exportReviewManifest"}});
  Send({{"action", "exportReviewManifest"}, {"photos", "many"}});
  platform_->QueuePanelAnswer(std::nullopt);
  Send({{"action", "exportReviewManifest"}, {"photos", ThreePhotos()}});
  EXPECT_EQ(Payloads("window.Native.reviewManifestComplete"),
            std::vector<Json>(2, Json{{"success", false}, {"message", "当前项目没有照片"}}));
  EXPECT_EQ(Payloads("window.Native.reviewManifestCancelled"), (std::vector<Json>{Json::object()}));
  EXPECT_TRUE(Names(folder_.path()).empty());
}

// The whole text is checked here, where the page's photos reach it.
TEST_F(ReviewManifestTest, TheChosenFileIsWrittenAndReplacedUnderTheProjectsNameOrTheDefault) {
  const std::string path = folder_ / "婚礼-筛片清单.txt";
  WriteBytes(path, "an older list");
  platform_->QueuePanelAnswer(std::vector<std::string>{path});
  Send({{"action", "exportReviewManifest"}, {"photos", ThreePhotos()}, {"projectName", "婚礼 a/b"}});
  EXPECT_EQ(Payloads("window.Native.reviewManifestComplete"),
            (std::vector<Json>{{{"success", true}, {"message", "已保存 3 张照片的编号与筛选结果"}, {"folder", folder_.path()}}}));
  ExpectThreePhotoManifest(ReadBytes(path), "婚礼 a/b");
  EXPECT_EQ(Names(folder_.path()), std::vector<std::string>{"婚礼-筛片清单.txt"}) << "no temporary file left";

  platform_->QueuePanelAnswer(std::vector<std::string>{path});
  Send({{"action", "exportReviewManifest"}, {"photos", ThreePhotos()}, {"projectName", 12}});
  EXPECT_EQ(Lines(ReadBytes(path))[1], "项目：拍摄项目");

  ClearOutput();
  platform_->QueuePanelAnswer(std::vector<std::string>{folder_ / "missing/list.txt"});
  Send({{"action", "exportReviewManifest"}, {"photos", ThreePhotos()}});
  Json answer = Payloads("window.Native.reviewManifestComplete").at(0);
  EXPECT_FALSE(answer["message"].get<std::string>().empty()) << "the system's text";
  EXPECT_EQ(answer, (Json{{"success", false}, {"folder", ""}, {"message", answer["message"]}}));
  EXPECT_EQ(Names(folder_.path()), std::vector<std::string>{"婚礼-筛片清单.txt"});
}

}  // namespace
}  // namespace tw::testing
