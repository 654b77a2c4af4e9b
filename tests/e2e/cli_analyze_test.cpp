// `tidewick analyze`: the local assessment from the command line.
#include "support/headless_process.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace tw::testing {
namespace {

const std::string kPhotos = std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/";

HeadlessResult Analyze(std::vector<std::string> arguments) {
  HeadlessOptions options;
  options.arguments = {"analyze"};
  options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
  return RunTidewick({}, options);
}

TEST(AnalyzeCommand, JsonLinesFollowTheImportOrderAndTheChosenChecks) {
  TempFolder shoot;
  namespace fs = std::filesystem;
  fs::copy_file(kPhotos + "blur-defocus-text.jpg", shoot / "IMG_10.jpg");
  fs::copy_file(kPhotos + "under-severe-iso6400.jpg", shoot / "IMG_2.jpg");
  fs::copy_file(kPhotos + "coffee.png", shoot / "not-imported.png");
  fs::create_directories(shoot / ".hidden");
  fs::copy_file(kPhotos + "orientation-1.jpg", shoot / ".hidden/IMG_3.jpg");
  auto time = fs::last_write_time(shoot / "IMG_10.jpg");
  fs::last_write_time(shoot / "IMG_2.jpg", time);

  auto result = Analyze({"--json", "--checks", "欠曝", "--strictness", "严格", shoot.path()});
  EXPECT_EQ(result.exitStatus, 0) << result.errorOutput;
  ASSERT_EQ(result.lines.size(), 2u) << result.rawOutput;
  EXPECT_EQ(result.lines[0]["result"].size(), 21u);
  // Blur is not among the chosen checks.
  EXPECT_EQ(std::tuple(result.lines[0]["path"], result.lines[0]["result"]["issues"], result.lines[1]["path"],
                       result.lines[1]["result"]["issues"]),
            std::tuple(Json(shoot / "IMG_2.jpg"), Json::array({"欠曝"}), Json(shoot / "IMG_10.jpg"), Json::array()));
}

TEST(AnalyzeCommand, TableEndsWithASummary) {
  auto result = Analyze({kPhotos + "blur-defocus-text.jpg", kPhotos + "canon-m50-stub-corrupt.cr3"});
  EXPECT_EQ(result.exitStatus, 0);
  for (const char* text : {"blur-defocus-text.jpg", "无法解码照片预览", "2 张照片", "整体模糊 1", "无法解码 1"}) {
    EXPECT_NE(result.rawOutput.find(text), std::string::npos) << text;
  }
}

TEST(AnalyzeCommand, MissingPathsAndNonPhotosAreReportedAfterTheOthersAreAnalysed) {
  TempFolder shoot;
  namespace fs = std::filesystem;
  fs::copy_file(kPhotos + "orientation-1.jpg", shoot / "IMG_1.jpg");
  fs::copy_file(kPhotos + "orientation-1.jpg", shoot / "caf\xE9.jpg");
  fs::copy_file(kPhotos + "coffee.png", shoot / "coffee.png");
  auto result = Analyze({"--json", shoot.path(), shoot / "missing.jpg", shoot / "coffee.png"});
  EXPECT_EQ(result.exitStatus, 1);
  ASSERT_EQ(result.lines.size(), 1u) << result.rawOutput;
  EXPECT_EQ(result.lines[0]["path"], shoot / "IMG_1.jpg");
  EXPECT_EQ(result.errorOutput, "tidewick analyze: " + shoot / "missing.jpg" + ": no such file or folder\n" +
                                    "tidewick analyze: " + shoot / "coffee.png" +
                                    ": neither a folder nor a CR3 or JPEG photo\n"
                                    "tidewick analyze: left out 1 photo: its file name is not UTF-8\n");
}

TEST(AnalyzeCommand, BadArgumentsExitNonZero) {
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {}, {"--strictness", "很严"}, {"--checks", "模糊", kPhotos}, {"--frobnicate", kPhotos}, {"--strictness"}}) {
    auto result = Analyze(arguments);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.errorOutput.find("usage: tidewick analyze"), std::string::npos);
    EXPECT_TRUE(result.rawOutput.empty());
  }
}

}  // namespace
}  // namespace tw::testing
