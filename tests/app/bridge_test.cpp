// Message dispatch, the handshake, the AI settings, camera cards, quitting and the lens setting.
#include "base/files.hpp"
#include "support/controller_fixture.hpp"

#include <sys/stat.h>

#include <filesystem>

namespace tw::testing {
namespace {

using Bridge = ControllerTest;

TEST_F(Bridge, BodiesThatAreNotActionsAnswerNothing) {
  for (const Json& body : {Json("ready"), Json::array({"ready"}), Json(3), Json::object(),
                           Json{{"action", 7}}, Json{{"action", "noSuchAction"}}, Json{{"action", "Ready"}}}) {
    Send(body);
  }
  EXPECT_TRUE(lines_.empty());
}

TEST_F(Bridge, HandshakeAnswersWithTheVersionAndAClosedPluginPort) {
  // The order of the lines is the headless protocol test's; here what they hold.
  Send({{"action", "ready"}});
  EXPECT_EQ(lines_.size(), 9u);
  EXPECT_EQ(Payloads("window.Native.version")[0], "0.7.1");
  // A test run opens no port.
  Json bridge = Payloads("window.Native.bridgeStatus")[0];
  EXPECT_EQ(bridge, (Json{{"listening", false}, {"connected", false}, {"connectedCount", 0}, {"mode", "local"},
                          {"port", 32188}, {"saveLocation", ""}, {"grsAI", Payloads("window.Native.grsAIState")[0]},
                          {"error", ""}}));

  // A second "ready" (a page reload) runs the whole handshake again.
  Send({{"action", "ready"}});
  EXPECT_EQ(lines_.size(), 18u);
}

TEST_F(Bridge, AiSettingsAndConnectionCheckAnswerWithTheClientState) {
  Send({{"action", "ready"}});
  Json initial = Payloads("window.Native.grsAIState").at(0);
  EXPECT_EQ(std::pair(initial["status"], initial["maskedKey"]), std::pair(Json("未检查"), Json("未设置")));

  // A key that is not a string counts as "": no key is stored, the address and model are.
  Send({{"action", "saveGRSAISettings"}, {"apiKey", 12}, {"baseURL", "https://ai.example.com//"}, {"model", "m2"}});
  Json saved = Payloads("window.Native.grsAIState").back();
  EXPECT_EQ(saved, (Json{{"status", "已保存"}, {"detail", saved["detail"]}, {"baseURL", "https://ai.example.com"}, {"model", "m2"},
                         {"maskedKey", "未设置"}, {"configured", false}}));

  Send({{"action", "testGRSAIConnection"}});
  EXPECT_EQ(Payloads("window.Native.grsAIState").back()["status"], "未配置");
  // The plug-in server's state, which embeds the client's, follows each of them.
  auto bridge = Payloads("window.Native.bridgeStatus");
  ASSERT_EQ(bridge.size(), 3u);
  EXPECT_EQ(bridge[1]["grsAI"], saved);
  EXPECT_EQ(bridge[2]["grsAI"]["status"], "未配置");

  Send({{"action", "saveGRSAISettings"}, {"apiKey", "sk-1234567890"}, {"baseURL", "http://plain.example.com"}});
  Json refused = Payloads("window.Native.grsAIState").back();
  EXPECT_EQ(std::pair(refused["status"], refused["maskedKey"]), std::pair(Json("地址无效"), Json("未设置")))
      << "a refused address stores nothing";
  for (const auto& line : lines_) EXPECT_EQ(JSONString(line).find("1234567890"), std::string::npos);
}

TEST_F(Bridge, LensCorrectionDefaultsOnAndToggles) {
  Send({{"action", "ready"}});
  Json state = Payloads("window.Native.lensCorrectionState").at(0);
  EXPECT_GT(state["cameraCount"].get<int>(), 1000);
  Json expected = {{"enabled", true}, {"engine", "LibRaw + Lensfun"}, {"cameraCount", state["cameraCount"]},
                   {"detail", "RAW 预览、AI 临时图和格式转换导出会自动使用可用的相机/镜头元数据矫正；原片复制不修改。"}};
  EXPECT_EQ(state, expected);
  Send({{"action", "saveLensSettings"}, {"enabled", false}});
  expected.update({{"enabled", false}, {"detail", "镜头矫正已关闭；原片始终不修改。"}});
  EXPECT_EQ(Payloads("window.Native.lensCorrectionState").back(), expected);
  EXPECT_FALSE(app_->LensCorrectionEnabled());

  // The setting survives a relaunch and lives in a private settings file.
  Relaunch();
  EXPECT_FALSE(app_->LensCorrectionEnabled());
  struct stat st {};
  ASSERT_EQ(stat((config_ / "settings.json").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  Send({{"action", "saveLensSettings"}, {"enabled", true}});
  EXPECT_TRUE(app_->LensCorrectionEnabled());
  // A body without "enabled" switches it off.
  Send({{"action", "saveLensSettings"}});
  EXPECT_FALSE(app_->LensCorrectionEnabled());
}

TEST_F(Bridge, QuittingWaitsForThePagesLastSaveOrTwoSecondsAtMost) {
  int quits = 0;
  app_->prepareToQuit([&] { ++quits; });
  EXPECT_EQ(quits, 1) << "before the page is ready there is nothing to save";

  queues::UseManualClock(true);
  Send({{"action", "ready"}});
  ClearOutput();
  app_->prepareToQuit([&] { ++quits; });
  app_->prepareToQuit([&] { quits += 100; });  // a second request while one waits is dropped
  RunUntilQuiet();
  auto asked = Payloads("window.Native.flushState");
  ASSERT_EQ(asked.size(), 1u);
  Send({{"action", "stateFlushed"}, {"token", "not the one asked"}});
  EXPECT_EQ(quits, 1);
  Send({{"action", "stateFlushed"}, {"token", asked[0]["token"]}});
  EXPECT_EQ(quits, 2);

  // A page that never answers holds the quit back for two seconds only.
  app_->prepareToQuit([&] { ++quits; });
  RunUntilQuiet();
  queues::AdvanceClock(std::chrono::milliseconds(1999));
  RunUntilQuiet();
  EXPECT_EQ(quits, 2);
  queues::AdvanceClock(std::chrono::milliseconds(1));
  RunUntilQuiet();
  EXPECT_EQ(quits, 3);
  queues::UseManualClock(false);
}

TEST_F(Bridge, CardsAreReportedOutsideTestModeOnly) {
  TempFolder volumes;
  for (const char* folder : {".hidden/DCIM", "USB_STICK", "EOS_DIGITAL/DCIM", "SECOND/DCIM"}) {
    std::filesystem::create_directories(volumes / folder);
  }

  // Test mode: no monitor, no start-up check.
  platform_->AnnounceMount(volumes / "EOS_DIGITAL");
  Send({{"action", "ready"}});
  EXPECT_TRUE(Payloads("window.Native.cardDetected").empty());

  Relaunch(/*testMode=*/false);
  ClearOutput();
  for (const char* name : {".hidden", "USB_STICK", "EOS_DIGITAL", "SECOND"}) platform_->AnnounceMount(volumes / name);
  RunUntilQuiet();
  // The monitor reports every mounted card with a DCIM folder, hidden names included.
  EXPECT_EQ(Payloads("window.Native.cardDetected").size(), 3u);

  ClearOutput();
  Send({{"action", "ready"}});  // waits for the delayed start-up check as well
  auto cards = Payloads("window.Native.cardDetected");
  ASSERT_EQ(cards.size(), 1u);
  EXPECT_EQ(cards[0], (Json{{"path", volumes / "EOS_DIGITAL"}, {"dcim", volumes / "EOS_DIGITAL/DCIM"}}));
  EXPECT_EQ(Payloads("window.Native.status"), std::vector<Json>{"检测到存储卡 EOS_DIGITAL"});
  // Outside test mode the plug-in server may report that it listens at any moment.
  // Nor is the local ComfyUI probe's answer tied to the card check's moment.
  std::erase_if(lines_, [](const Json& line) {
    return line["fn"] == "window.Native.bridgeStatus" || line["fn"] == "window.Native.comfySetupConnection";
  });
  EXPECT_EQ(lines_.back()["fn"], "window.Native.cardDetected");
}

}  // namespace
}  // namespace tw::testing
