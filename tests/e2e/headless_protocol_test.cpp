// The headless line protocol, driven exactly as a script or the page shim drives it, and `tidewick analyze`.
#include "base/files.hpp"
#include "support/shoot_files.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tw::testing {
namespace {

namespace fs = std::filesystem;
const Json kReady = {{"action", "ready"}};

TEST(HeadlessProtocol, HandshakeLinesAreExactWithAPhotoOpenedBeforeAskedAboutLastAndTheProgramExitsWhenIdle) {
  HeadlessSandbox sandbox;
  TempFolder shoot;
  fs::copy_file(kSamplePhotos + "orientation-1.jpg", shoot / "IMG 1.jpg");
  auto result = RunHeadless(std::vector<Json>{{{"@open-url", "file://" + shoot.path() + "/IMG%201.jpg"}}, kReady},
                            sandbox.Options());
  EXPECT_EQ(result.exitStatus, 0) << result.errorOutput;
  EXPECT_NE(result.rawOutput.find("\n{\"fn\":\"window.Native.version\",\"arg\":\"0.7.1\"}\n"), std::string::npos);
  // The local ComfyUI server's probe answers after the handshake, whenever it completes.
  EXPECT_EQ(result.Sequence(),
            (std::vector<std::string>{"effect:activate", "window.Native.version", "window.Native.grsAIState",
                                      "window.Native.workflowAppsState", "window.Native.comfySetupState",
                                      "window.Native.receiveState", "window.Native.bridgeStatus",
                                      "window.Native.lensCorrectionState", "window.Native.appUpdateState",
                                      "window.Native.openPhotosRequested", "window.Native.comfySetupConnection"}));
}

TEST(HeadlessProtocol, BadLinesAndMessagesNestedTensOfThousandsDeepAreRefusedWithoutACrashAndLaterLinesStillRun) {
  HeadlessSandbox sandbox;
  const std::string deep = std::string(50000, '[') + std::string(50000, ']');
  HeadlessOptions options = sandbox.Options();
  options.arguments.insert(options.arguments.begin(), "--headless");
  auto result = RunTidewick(std::vector<std::string>{"not json at all", "\"a string body\"", "", "{\"action\":7}",
                                                     "{\"action\":\"Ready\"}", "{\"@nonsense\":1}",
                                                     "{\"action\":\"openFolder\",\"path\":3}",
                                                     "{\"action\":\"trashRatedPhotos\",\"token\":" + deep + "}",
                                                     "{\"action\":\"saveState\",\"state\":{\"photos\":" + deep + "}}",
                                                     "{\"action\":\"openFolder\",\"path\":\"/tmp\"}"},
                            options);
  EXPECT_EQ(result.exitStatus, 0) << result.errorOutput;
  EXPECT_EQ(result.lines, (std::vector<Json>{{{"fn", "window.Native.status"}, {"arg", "项目保存失败：数据格式无效。原有项目未覆盖。"}},
                                             {{"effect", "openFolder"}, {"path", "/tmp"}}}));
  EXPECT_NE(result.errorOutput.find("not JSON"), std::string::npos);
  EXPECT_FALSE(PathExists(sandbox.support / "current-project.json"));
}

TEST(HeadlessProtocol, AnInvalidTestFolderRefusesTheStartAndTouchesNothing) {
  HeadlessSandbox sandbox;
  TempFolder outside("/tmp/tidewick-outside-");
  HeadlessOptions options = sandbox.Options(false);
  options.arguments = {"--test-support-dir", outside.path()};
  auto result = RunHeadless(std::vector<Json>{kReady, {{"action", "saveState"}, {"state", Json::object()}}}, options);
  EXPECT_EQ(std::tuple(result.exitStatus, result.rawOutput, result.errorOutput),
            std::tuple(1, std::string(), std::string("Tidewick：测试目录无效，终止启动以保护真实项目。\n")));
  EXPECT_FALSE(PathExists(sandbox.data / "岚舟")) << "the real data folder is never touched";
}

TEST(HeadlessProtocol, UrlControlLinesReachTheSchemeHandler) {
  HeadlessSandbox sandbox;
  TempFolder saved;
  fs::create_directories(sandbox.config / "tidewick");
  std::ofstream(sandbox.config / "tidewick/settings.json") << Json{{"TWRetouchSaveLocation", saved.path()}}.dump();
  auto result = RunHeadless(std::vector<Json>{{{"@open-url", "tidewick:"}}, {{"@open-url", "TIDEWICK://history"}},
                                              {{"@open-url", "mailto:x@example.com"}}},
                            sandbox.Options());
  const Json activate = {{"effect", "activate"}};
  EXPECT_EQ(result.lines, (std::vector<Json>{activate, {{"fn", "window.Native.status"}, {"arg", "已从 Photoshop 打开：retouch"}},
                                             activate, {{"effect", "openFolder"}, {"path", saved.path()}},
                                             {{"fn", "window.Native.status"}, {"arg", "已从 Photoshop 打开：history"}}}));
}

TEST(HeadlessProtocol, OutsideTestModeTheDataFolderFollowsXdgDataHomeAndExitWaitsForTheDelayedCardCheck) {
  HeadlessSandbox sandbox;
  TempFolder volumes;
  fs::create_directories(volumes / "EOS_DIGITAL/DCIM");
  auto result = RunHeadless(std::vector<Json>{{{"@mount", volumes / "EOS_DIGITAL"}}, kReady,
                                              {{"action", "saveState"}, {"state", {{"photos", Json::array()}}}}},
                            sandbox.Options(false));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(PathExists(sandbox.data / "岚舟/current-project.json"));
  auto sequence = result.Sequence();
  // Outside test mode the plug-in server's state and the ComfyUI probe's answer may come at any moment.
  std::erase(sequence, "window.Native.bridgeStatus");
  std::erase(sequence, "window.Native.comfySetupConnection");
  EXPECT_EQ(sequence.back(), "window.Native.cardDetected") << "the start-up check 0.6 s after the handshake";
}

TEST(HeadlessProtocol, APanelStaysOpenWhileLaterLinesRunAndTakesItsScriptedAnswer) {
  HeadlessSandbox sandbox;
  TempFolder shoot;
  fs::copy_file(kSamplePhotos + "orientation-1.jpg", shoot / "IMG_1.jpg");
  // Once the input written so far has run, the folder panel takes the answer scripted after it, and imports.
  auto result = RunHeadless(std::vector<Json>{{{"action", "chooseFolder"}}, {{"@panel", {{"paths", {shoot.path()}}}}}},
                            sandbox.Options());
  EXPECT_EQ(result.exitStatus, 0);
  auto scans = result.Payloads("window.Native.receiveScan");
  ASSERT_EQ(scans.size(), 1u);
  EXPECT_EQ(std::pair(scans[0]["folder"], scans[0]["photos"].size()), std::pair(Json(shoot.path()), size_t(1)));
}

TEST(HeadlessProtocol, QuitEndsAtOnce) {
  HeadlessSandbox sandbox;
  auto result = RunHeadless(std::vector<Json>{kReady, {{"@quit", true}},
                                              {{"action", "saveState"}, {"state", {{"photos", Json::array()}}}}},
                            sandbox.Options());
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_FALSE(PathExists(sandbox.support / "current-project.json"));
}

HeadlessResult Analyze(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "analyze");
  return RunTidewick({}, {.arguments = arguments});
}

TEST(AnalyzeCommand, JsonLinesFollowTheImportOrderAndTheChecksATableReportsWhatWasLeftOutAndBadArgumentsGetTheUsage) {
  TempFolder shoot, other;
  fs::copy_file(kSamplePhotos + "blur-defocus-text.jpg", shoot / "IMG_10.jpg");
  fs::copy_file(kSamplePhotos + "under-severe-iso6400.jpg", shoot / "IMG_2.jpg");
  fs::last_write_time(shoot / "IMG_2.jpg", fs::last_write_time(shoot / "IMG_10.jpg"));
  auto result = Analyze({"--json", "--checks", "欠曝", "--strictness", "严格", shoot.path()});
  EXPECT_EQ(result.exitStatus, 0) << result.errorOutput;
  ASSERT_EQ(result.lines.size(), 2u) << result.rawOutput;
  // Blur is not among the chosen checks.
  EXPECT_EQ(std::tuple(result.lines[0]["path"], result.lines[0]["result"]["issues"], result.lines[1]["path"],
                       result.lines[1]["result"]["issues"]),
            std::tuple(Json(shoot / "IMG_2.jpg"), Json::array({"欠曝"}), Json(shoot / "IMG_10.jpg"), Json::array()));

  fs::copy_file(kSamplePhotos + "blur-defocus-text.jpg", other / "IMG_1.jpg");
  fs::copy_file(kSamplePhotos + "canon-m50-stub-corrupt.cr3", other / "IMG_2.cr3");
  fs::copy_file(kSamplePhotos + "orientation-1.jpg", other / "caf\xE9.jpg");
  fs::copy_file(kSamplePhotos + "coffee.png", other / "coffee.png");
  result = Analyze({other.path(), other / "missing.jpg", other / "coffee.png"});
  EXPECT_EQ(result.exitStatus, 1);
  for (const char* text : {"IMG_1.jpg", "无法解码照片预览", "2 张照片", "整体模糊 1", "无法解码 1"}) {
    EXPECT_NE(result.rawOutput.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(result.errorOutput, "tidewick analyze: " + other / "missing.jpg" + ": no such file or folder\n" +
                                    "tidewick analyze: " + other / "coffee.png" +
                                    ": neither a folder nor a CR3 or JPEG photo\n"
                                    "tidewick analyze: left out 1 photo: its file name is not UTF-8\n");

  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {}, {"--strictness", "很严"}, {"--checks", "模糊", kSamplePhotos}, {"--frobnicate", kSamplePhotos}, {"--strictness"}}) {
    result = Analyze(arguments);
    EXPECT_EQ(std::pair(result.exitStatus, result.rawOutput), std::pair(2, std::string()));
    EXPECT_NE(result.errorOutput.find("usage: tidewick analyze"), std::string::npos);
  }
}

}  // namespace
}  // namespace tw::testing
