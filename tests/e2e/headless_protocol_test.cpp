#include "base/files.hpp"
#include "support/headless_process.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace tw::testing {
namespace {

// The headless line protocol, driven exactly as a script or the page shim drives it.

namespace fs = std::filesystem;
const Json kReady = {{"action", "ready"}};
const std::string kPhotos = std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/";

TEST(HeadlessProtocol, HandshakeLinesAreExactAndTheProgramExitsWhenIdle) {
  HeadlessSandbox sandbox;
  auto result = RunHeadless(std::vector<Json>{kReady}, sandbox.Options());
  EXPECT_EQ(result.exitStatus, 0) << result.errorOutput;
  EXPECT_EQ(result.rawOutput.substr(0, result.rawOutput.find('\n')),
            "{\"fn\":\"window.Native.version\",\"arg\":\"0.7.1\"}");
  // The local ComfyUI server's probe answers after the handshake, whenever it completes.
  EXPECT_EQ(result.Sequence(),
            (std::vector<std::string>{"window.Native.version", "window.Native.grsAIState",
                                      "window.Native.workflowAppsState", "window.Native.comfySetupState",
                                      "window.Native.receiveState", "window.Native.bridgeStatus",
                                      "window.Native.lensCorrectionState", "window.Native.appUpdateState",
                                      "window.Native.comfySetupConnection"}));
}

TEST(HeadlessProtocol, BadLinesAndMessagesNestedTensOfThousandsDeepAreRefusedWithoutACrashAndLaterLinesStillRun) {
  HeadlessSandbox sandbox;
  const std::string deep = std::string(50000, '[') + std::string(50000, ']');
  auto result = RunHeadless(std::vector<std::string>{"not json at all", "\"a string body\"", "[1,2]", "",
                                                     "{\"action\":\"openFolder\",\"path\":3}", "{\"@nonsense\":1}",
                                                     "{\"action\":\"trashRatedPhotos\",\"token\":" + deep + "}",
                                                     "{\"action\":\"saveState\",\"state\":{\"photos\":" + deep + "}}",
                                                     "{\"action\":\"openFolder\",\"path\":\"/tmp\"}"},
                            sandbox.Options());
  EXPECT_EQ(result.exitStatus, 0) << result.errorOutput;
  EXPECT_EQ(result.lines, (std::vector<Json>{{{"fn", "window.Native.status"}, {"arg", "项目保存失败：数据格式无效。原有项目未覆盖。"}},
                                             {{"effect", "openFolder"}, {"path", "/tmp"}}}));
  EXPECT_NE(result.errorOutput.find("not JSON"), std::string::npos);
  EXPECT_FALSE(PathExists(sandbox.support / "current-project.json"));
}

TEST(HeadlessProtocol, AnUnreadableProjectSurvivesTheHandshakeAndTheNextSave) {
  HeadlessSandbox sandbox;
  ASSERT_FALSE(WriteFileAtomically(sandbox.support / "current-project.json", "{\"photos\": [{\"id\": ").has_value());
  auto result = RunHeadless(std::vector<Json>{kReady, {{"action", "saveState"}, {"state", {{"photos", Json::array()}}}}},
                            sandbox.Options());
  ASSERT_EQ(result.exitStatus, 0) << result.errorOutput;
  EXPECT_EQ(result.Payloads("window.Native.receiveState"), std::vector<Json>{Json::object()});
  std::vector<std::string> kept;
  for (const auto& entry : fs::directory_iterator(sandbox.support / "ProjectRecords")) {
    if (ReadWholeFile(entry.path()) == "{\"photos\": [{\"id\": ") kept.push_back(entry.path().filename());
  }
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(result.Payloads("window.Native.status"),
            std::vector<Json>{"项目文件无法读取，已原样移到 ProjectRecords/" + kept[0] + "；当前为空项目"});
  EXPECT_EQ(ParseJSON(*ReadWholeFile(sandbox.support / "current-project.json")), (Json{{"photos", Json::array()}}));
}

TEST(HeadlessProtocol, InvalidTestFoldersRefuseToStartAndTouchNothing) {
  TempFolder qa("/tmp/tidewick-qa-");
  TempFolder outside("/tmp/tidewick-outside-");
  std::ofstream(qa / "a-file") << "x";
  fs::create_directories(qa / "sub");
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--test-support-dir", qa / "sub/.."}, {"--test-support-dir", "tmp/tidewick-qa-x"},
        {"--test-support-dir", outside.path()}, {"--test-support-dir", qa / "a-file"}, {"--test-support-dir"}}) {
    HeadlessSandbox sandbox;
    HeadlessOptions options = sandbox.Options(false);
    options.arguments = arguments;
    auto result = RunHeadless(std::vector<Json>{kReady, {{"action", "saveState"}, {"state", Json::object()}}}, options);
    EXPECT_EQ(result.exitStatus, 1) << arguments.back();
    EXPECT_TRUE(result.rawOutput.empty());
    EXPECT_EQ(result.errorOutput, "Tidewick：测试目录无效，终止启动以保护真实项目。\n");
    EXPECT_FALSE(PathExists(sandbox.data / "岚舟")) << "the real data folder is never touched";
  }
}

TEST(HeadlessProtocol, UrlControlLinesReachTheSchemeHandler) {
  HeadlessSandbox sandbox;
  TempFolder saved;
  fs::create_directories(sandbox.config / "tidewick");
  std::ofstream(sandbox.config / "tidewick/settings.json") << Json{{"TWRetouchSaveLocation", saved.path()}}.dump();
  auto result = RunHeadless(std::vector<Json>{{{"@open-url", "tidewick:"}}, {{"@open-url", "TIDEWICK://history"}},
                                              {{"@open-url", "mailto:x@example.com"}}},
                            sandbox.Options());
  EXPECT_EQ(result.Sequence(), (std::vector<std::string>{"effect:activate", "window.Native.status", "effect:activate",
                                                         "effect:openFolder", "window.Native.status"}));
  EXPECT_EQ(result.Payloads("window.Native.status"),
            (std::vector<Json>{"已从 Photoshop 打开：retouch", "已从 Photoshop 打开：history"}));
  EXPECT_EQ(result.lines[3]["path"], saved.path());
}

TEST(HeadlessProtocol, APhotoOpenedBeforeThePageIsReadyIsAskedAboutAfterTheRestoredProject) {
  HeadlessSandbox sandbox;
  TempFolder shoot;
  fs::copy_file(kPhotos + "orientation-1.jpg", shoot / "IMG 1.jpg");
  auto result = RunHeadless(std::vector<Json>{{{"@open-url", "file://" + shoot.path() + "/IMG%201.jpg"}}, kReady},
                            sandbox.Options());
  EXPECT_EQ(result.exitStatus, 0) << result.errorOutput;
  auto sequence = result.Sequence();
  std::erase(sequence, "window.Native.comfySetupConnection");
  ASSERT_FALSE(sequence.empty());
  EXPECT_EQ(sequence.front(), "effect:activate");
  EXPECT_EQ(sequence.back(), "window.Native.openPhotosRequested");
  EXPECT_LT(std::find(sequence.begin(), sequence.end(), "window.Native.receiveState"), sequence.end() - 1);
  EXPECT_TRUE(result.Payloads("window.Native.receiveScan").empty());
  EXPECT_EQ(result.Payloads("window.Native.openPhotosRequested").at(0)["names"], Json::array({"IMG 1.jpg"}));
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
  // Outside test mode the plug-in server may report that it listens at any moment.
  std::erase(sequence, "window.Native.bridgeStatus");
  // Nor is the local ComfyUI probe's answer tied to the card check's moment.
  std::erase(sequence, "window.Native.comfySetupConnection");
  // The monitor's notice, the handshake, then 0.6 s later the start-up check's status and notice.
  ASSERT_EQ(sequence.size(), 10u) << result.rawOutput;
  EXPECT_EQ(sequence.front(), "window.Native.cardDetected");
  EXPECT_EQ(sequence[sequence.size() - 2], "window.Native.status");
  EXPECT_EQ(sequence.back(), "window.Native.cardDetected");
}

TEST(HeadlessProtocol, APanelStaysOpenWhileLaterLinesRunAndTakesItsScriptedAnswerOrIsCancelled) {
  HeadlessSandbox sandbox;
  TempFolder shoot;
  fs::copy_file(kPhotos + "orientation-1.jpg", shoot / "IMG_1.jpg");
  auto result = RunHeadless(std::vector<Json>{{{"action", "chooseFolder"}},
                                              {{"action", "choosePhotos"}},
                                              {{"@panel", {{"paths", {shoot.path()}}}}}},
                            sandbox.Options());
  EXPECT_EQ(result.exitStatus, 0);
  // The photo panel asked for while the folder panel is open is refused; once the input written
  // so far has run, the folder panel takes the scripted answer and imports.
  EXPECT_EQ(result.Payloads("window.Native.status"),
            (std::vector<Json>{"请先完成或取消当前文件选择窗口。", "正在读取文件信息…"}));
  auto scans = result.Payloads("window.Native.receiveScan");
  ASSERT_EQ(scans.size(), 1u);
  EXPECT_EQ(std::pair(scans[0]["folder"], scans[0]["photos"].size()), std::pair(Json(shoot.path()), size_t(1)));

  // Cancelled panels import nothing: one cancelled by its answer, one with no answer waiting.
  for (const auto& lines : {std::vector<Json>{{{"@panel", nullptr}}, {{"action", "chooseFolder"}}},
                            std::vector<Json>{{{"action", "choosePhotos"}}}}) {
    auto cancelled = RunHeadless(lines, sandbox.Options());
    EXPECT_EQ(cancelled.exitStatus, 0);
    EXPECT_TRUE(cancelled.lines.empty()) << cancelled.rawOutput;
  }
}

TEST(HeadlessProtocol, QuitEndsAtOnce) {
  HeadlessSandbox sandbox;
  auto result = RunHeadless(std::vector<Json>{kReady, {{"@quit", true}},
                                              {{"action", "saveState"}, {"state", {{"photos", Json::array()}}}}},
                            sandbox.Options());
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_FALSE(PathExists(sandbox.support / "current-project.json"));
}

// `tidewick analyze`: the local assessment from the command line.

HeadlessResult Analyze(std::vector<std::string> arguments) {
  HeadlessOptions options;
  options.arguments = {"analyze"};
  options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
  return RunTidewick({}, options);
}

TEST(AnalyzeCommand, JsonLinesFollowTheImportOrderAndTheChosenChecks) {
  TempFolder shoot;
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
