// The handshake, the AI settings, the lens setting, quitting and camera cards.
#include "support/controller_fixture.hpp"

#include <filesystem>

namespace tw::testing {
namespace {

using Bridge = ControllerTest;

TEST_F(Bridge, AReloadRunsTheHandshakeAgainTheAiClientsStatesReachThePluginServersAndTheLensSettingToggles) {
  Send({{"action", "ready"}});
  Send({{"action", "ready"}});
  EXPECT_EQ(lines_.size(), 18u) << "twice the handshake's nine lines";
  // A test run opens no port.
  EXPECT_EQ(Payloads("window.Native.bridgeStatus")[0],
            (Json{{"listening", false}, {"connected", false}, {"connectedCount", 0}, {"mode", "local"}, {"port", 32188},
                  {"saveLocation", ""}, {"grsAI", Payloads("window.Native.grsAIState")[0]}, {"error", ""}}));
  Json lens = Payloads("window.Native.lensCorrectionState").at(0);
  EXPECT_GT(lens["cameraCount"].get<int>(), 1000);
  Json expected = {{"enabled", true}, {"engine", "LibRaw + Lensfun"}, {"cameraCount", lens["cameraCount"]},
                   {"detail", "RAW 预览、AI 临时图和格式转换导出会自动使用可用的相机/镜头元数据矫正；原片复制不修改。"}};
  EXPECT_EQ(lens, expected);

  ClearOutput();
  // A key that is not a string counts as "".
  Send({{"action", "saveGRSAISettings"}, {"apiKey", 12}, {"baseURL", "https://ai.example.com//"}, {"model", "m2"}});
  Send({{"action", "testGRSAIConnection"}});
  auto states = Payloads("window.Native.grsAIState");
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(std::tuple(states[0]["baseURL"], states[0]["model"], states[0]["configured"], states[1]["status"]),
            std::tuple(Json("https://ai.example.com"), Json("m2"), Json(false), Json("未配置")));
  auto bridge = Payloads("window.Native.bridgeStatus");
  ASSERT_EQ(bridge.size(), 2u);
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(bridge[i]["grsAI"], states[i]);

  Send({{"action", "saveLensSettings"}, {"enabled", false}});
  expected.update({{"enabled", false}, {"detail", "镜头矫正已关闭；原片始终不修改。"}});
  EXPECT_EQ(Payloads("window.Native.lensCorrectionState").back(), expected);

  // The setting survives a relaunch and lives in a private settings file.
  Relaunch();
  EXPECT_FALSE(app_->LensCorrectionEnabled());
  EXPECT_EQ(std::filesystem::status(config_ / "settings.json").permissions(), std::filesystem::perms(0600));

  Send({{"action", "saveLensSettings"}, {"enabled", true}});
  EXPECT_TRUE(app_->LensCorrectionEnabled());
  Send({{"action", "saveLensSettings"}});
  EXPECT_FALSE(app_->LensCorrectionEnabled()) << "a body without \"enabled\" switches it off";
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
  EXPECT_EQ(Payloads("window.Native.cardDetected"),
            (std::vector<Json>{Json{{"path", volumes / "EOS_DIGITAL"}, {"dcim", volumes / "EOS_DIGITAL/DCIM"}}}));
  EXPECT_EQ(Payloads("window.Native.status"), std::vector<Json>{"检测到存储卡 EOS_DIGITAL"});
}

}  // namespace
}  // namespace tw::testing
