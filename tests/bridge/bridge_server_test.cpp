// The plug-in's socket as a plug-in meets it: `tidewick --headless` outside test mode (private
// folders), a real WebSocket client, and the AI service's stand-in behind the server.
#include "base/files.hpp"
#include "bridge/bridge_protocol.hpp"
#include "bridge/bridge_server.hpp"
#include "bridge_fixture.hpp"
#include "plugin_client.hpp"
#include "support/headless_process.hpp"

#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <fcntl.h>
#include <sys/stat.h>

#include <functional>
#include <optional>

namespace tw::bridge::testing {
namespace {

constexpr char kStatus[] = "window.Native.bridgeStatus";
const std::string kPhoto = TIDEWICK_TEST_DATA_DIR "/photos/face-group3-open.jpg";
const Json kHello = {{"type", "hello"}, {"client", "photoshop"}};
const Json kPing = {{"type", "ping"}};

// The program outside test mode, with private folders.
class BridgeServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheFakeService().Reset();
    platform::Settings settings(sandbox_.config / "tidewick/settings.json");
    ConfigureForTheStandIn(settings, saved_.path());
  }
  void Start() {
    session_.emplace(sandbox_.Options(/*testMode=*/false));
    session_->Send({{"action", "ready"}});
  }
  // Starts the program and waits until its server listens.
  void Launch() {
    Start();
    AwaitStatus([](const Json& state) { return state["listening"] == true; });
  }
  // The first bridgeStatus from now on that satisfies the condition.
  Json AwaitStatus(const std::function<bool(const Json&)>& wanted) {
    while (auto state = session_->WaitFor(kStatus)) {
      if (wanted(*state)) return *state;
    }
    return nullptr;
  }
  // Every message up to and including the request's last (task.complete or task.failed).
  static std::vector<Json> ReceiveTask(PluginClient& plugin) {
    std::vector<Json> messages;
    while (auto message = plugin.Receive()) {
      messages.push_back(*message);
      if ((*message)["type"] == "task.complete" || (*message)["type"] == "task.failed") break;
    }
    return messages;
  }

  tw::testing::HeadlessSandbox sandbox_;
  tw::testing::TempFolder saved_;
  std::optional<tw::testing::HeadlessSession> session_;
};

TEST_F(BridgeServerTest, OnlyThePluginsHelloIsAnsweredAndBrowserPagesOversizedMessagesAndBrokenFramesAreRefused) {
  Launch();
  auto plugin = PluginClient::Connect();
  ASSERT_TRUE(plugin);
  plugin->PingFrame();
  plugin->Send(kPing);
  plugin->Send({{"type", "retouch.request"}, {"prompt", "x"}, {"inputImages", {{"source", "data:,AAAA"}}}});
  plugin->SendText("not json");
  plugin->Send(kHello);
  // Whatever the messages before it had earned would have come first.
  Json accepted = plugin->Receive().value_or(nullptr);
  EXPECT_EQ(std::tuple(accepted["type"], accepted["connectionMode"], accepted["saveLocation"], accepted["grsAI"]["maskedKey"]),
            std::tuple(Json("hello.accepted"), Json("local"), Json(saved_.path()), Json(ai::MaskedAPIKey(kKey))));
  EXPECT_EQ(plugin->pongs(), 1) << "ping frames are answered by the transport, hello or not";
  plugin->Send(kPing);
  Json pong = plugin->Receive().value_or(nullptr);
  EXPECT_EQ(pong["type"], "pong");
  EXPECT_TRUE(pong["receivedAt"].is_number_float());
  EXPECT_EQ(AwaitStatus([](const Json& state) { return state["connected"] == true; })["connectedCount"], 1);

  for (const Json& client : {Json("Photoshop"), Json(5), Json("")}) {
    auto other = PluginClient::Connect();
    other->Send({{"type", "hello"}, {"client", client}});
    EXPECT_FALSE(other->Receive()) << "a wrong hello closes the connection unanswered: " << client;
  }
  for (const char* origin : {"https://example.com", "http://localhost:8080", "null", "HTTPS://EXAMPLE.COM"}) {
    int status = 0;
    EXPECT_FALSE(PluginClient::Connect({.origin = origin}, &status)) << origin;
    EXPECT_EQ(status, 403) << origin;
  }
  for (const char* host : {"127.0.0.1", "::1"}) {
    auto own = PluginClient::Connect({.host = host, .origin = std::nullopt});
    ASSERT_TRUE(own) << host;
    own->Send(kHello);
    EXPECT_EQ(own->Receive().value_or(nullptr)["type"], "hello.accepted") << host;
  }

  auto oversized = PluginClient::ConnectAsPlugin();
  oversized->SendText(std::string(kMaxMessageBytes + 1, ' '));
  EXPECT_FALSE(oversized->Receive());
  auto broken = PluginClient::ConnectAsPlugin();
  broken->SendRaw("\x81\x05hello");  // a client's frame must be masked
  EXPECT_FALSE(broken->Receive());
  // Text that is no message object is dropped and the connection stays.
  plugin->SendText("[1, 2]");
  plugin->SendText(std::string(5000, '[') + std::string(5000, ']'));
  plugin->SendText(std::string(kMaxMessageBytes - 8, ' ') + "{\"a\":1}");
  plugin->Send(kPing);
  EXPECT_EQ(plugin->Receive().value_or(nullptr)["type"], "pong");

  plugin.reset();
  Json state = AwaitStatus([](const Json& state) { return state["connected"] == false; });
  EXPECT_EQ(std::pair(state["listening"], state["connectedCount"]), std::pair(Json(true), Json(0)));
  EXPECT_EQ(session_->Finish().rawOutput.find(kKey), std::string::npos);
}

TEST_F(BridgeServerTest, TwoPluginsAtOnceAndEveryAuthenticatedOneHearsOfANewSaveFolder) {
  Launch();
  auto first = PluginClient::ConnectAsPlugin();
  auto second = PluginClient::ConnectAsPlugin();
  auto stranger = PluginClient::Connect();
  AwaitStatus([](const Json& state) { return state["connectedCount"] == 2; });
  tw::testing::TempFolder chosen;
  session_->Send({{"@panel", {{"paths", {chosen.path()}}}}});
  session_->Send({{"action", "chooseSaveLocation"}});
  for (PluginClient* plugin : {first.get(), second.get()}) {
    EXPECT_EQ(plugin->Receive().value_or(nullptr), (Json{{"type", "settings.updated"}, {"saveLocation", chosen.path()}}));
  }
  stranger->Send(kHello);
  std::optional<Json> accepted = stranger->Receive();
  EXPECT_EQ(accepted.value_or(nullptr)["type"], "hello.accepted") << "nothing reached it before its hello";
  EXPECT_EQ(accepted.value_or(nullptr)["saveLocation"], chosen.path());
  AwaitStatus([&](const Json& state) { return state["saveLocation"] == chosen.path(); });
  AwaitStatus([](const Json& state) { return state["connectedCount"] == 3; });
  EXPECT_EQ(platform::Settings(sandbox_.config / "tidewick/settings.json").GetString(kRetouchSaveLocationSetting),
            chosen.path());
  for (PluginClient* plugin : {first.get(), second.get(), stranger.get()}) {
    plugin->Send(kPing);
    EXPECT_EQ(plugin->Receive().value_or(nullptr)["type"], "pong");
  }
}

TEST_F(BridgeServerTest, ARetouchIsAcceptedFollowedAndReturnedWithWhatTheLayerNeeds) {
  ScriptGeneration();
  Launch();
  tw::testing::TempFolder folder;
  const std::string pipe = folder / "pipe.png";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  const Json selection = {{"left", 10}, {"top", 20}, {"right", 110}, {"bottom", 120}};
  auto plugin = PluginClient::ConnectAsPlugin();
  plugin->Send({{"type", "retouch.request"},
                {"prompt", "去掉路人"},
                {"quality", "high"},
                {"inputFiles", {{"source", {{"path", kPhoto}, {"mime", "image/jpeg"}}}, {"reference", {{"path", pipe}}}}},
                {"inputImages", {{"reference", "data:image/webp;base64," + ai::Base64Encode("WEBP")}}},
                {"document", {{"id", 17}, {"squareSelection", selection}}}});
  std::vector<Json> messages = ReceiveTask(*plugin);
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages.front(), (Json{{"type", "task.accepted"}, {"progress", 8}, {"stage", "主 App 已接收生成任务"}}));
  std::vector<int> progress;
  for (size_t i = 1; i + 1 < messages.size(); ++i) progress.push_back(messages[i]["progress"]);
  EXPECT_EQ(progress, (std::vector<int>{3, 8, 15, 16, 23, 26, 94, 100}));
  Json done = messages.back();
  ASSERT_EQ(done["type"], "task.complete") << done;
  EXPECT_EQ(std::tuple(done["documentId"], done["bounds"], done["layerName"], done["historyName"], done["resultDataUrl"]),
            std::tuple(Json(17), selection, Json("AI 修图 01"), Json("岚舟：GRS AI 修图"),
                       Json("data:image/png;base64," + ai::Base64Encode(kResultBytes))));
  EXPECT_EQ(ParentDirectory(done["filePath"]), saved_.path());
  EXPECT_EQ(ReadWholeFile(done["filePath"]), std::string(kResultBytes));
  // The photo's file and, in place of the pipe, the inline reference, in that order.
  std::vector<std::string> uploads = TheFakeService().BodiesTo("POST", kUploadPath);
  ASSERT_EQ(uploads.size(), 2u);
  EXPECT_NE(uploads[0].find(ReadWholeFile(kPhoto).value()), std::string::npos);
  EXPECT_NE(uploads[1].find("filename=\"image.webp\""), std::string::npos);
  Json generate = ParseJSON(TheFakeService().BodiesTo("POST", kGeneratePath).at(0)).value();
  EXPECT_EQ(std::pair(generate["imageSize"], generate["prompt"]), std::pair(Json("4K"), Json("去掉路人")));

  // A folder or a file that is no image counts as no file at all.
  TheFakeService().Reset();
  ASSERT_FALSE(WriteFileAtomically(folder / "secret.txt", "password").has_value());
  plugin->Send({{"type", "retouch.request"},
                {"prompt", "x"},
                {"inputFiles", {{"source", {{"path", folder.path()}}}, {"reference", {{"path", folder / "secret.txt"}}}}}});
  messages = ReceiveTask(*plugin);
  EXPECT_EQ(messages.back(), (Json{{"type", "task.failed"}, {"message", "修图提示词或原图缺失"}}));
  EXPECT_TRUE(TheFakeService().Requests().empty());
}

TEST_F(BridgeServerTest, ACancelIsAnsweredAtOnceAndTheGenerationSaysNothingMore) {
  ScriptGeneration(/*delayMs=*/1500);
  Launch();
  auto plugin = PluginClient::ConnectAsPlugin();
  plugin->Send({{"type", "retouch.request"}, {"prompt", "x"}, {"inputImages", {{"source", "data:image/png;base64,UE5H"}}}});
  TheFakeService().AwaitRequests("POST", kGeneratePath, 1);
  plugin->Send({{"type", "retouch.cancel"}});
  std::vector<Json> messages = ReceiveTask(*plugin);
  EXPECT_EQ(messages.back(), (Json{{"type", "task.failed"}, {"message", "已停止等待和自动插入；服务商端任务可能仍在执行。"}}));
  // The program ends once the generation is over; nothing of it reaches the plug-in by then.
  EXPECT_EQ(session_->Finish().exitStatus, 0);
  EXPECT_FALSE(plugin->Receive());
  EXPECT_TRUE(std::filesystem::is_empty(saved_.path()));
}

TEST_F(BridgeServerTest, WhileThePortIsTakenTheServerSaysWhyAndTriesAgain) {
  boost::asio::io_context io;
  auto blocker = std::make_unique<boost::asio::ip::tcp::acceptor>(
      io, boost::asio::ip::tcp::endpoint(boost::asio::ip::address_v4::loopback(), kBridgePort));
  // Not handed down to the program, which would then hold the port itself.
  fcntl(blocker->native_handle(), F_SETFD, FD_CLOEXEC);
  Start();
  Json refused = AwaitStatus([](const Json& state) { return !state["error"].get<std::string>().empty(); });
  EXPECT_EQ(refused["error"], "Address already in use");
  EXPECT_EQ(refused["listening"], false);
  blocker.reset();
  EXPECT_EQ(AwaitStatus([](const Json& state) { return state["listening"] == true; })["error"], "");
  EXPECT_TRUE(PluginClient::ConnectAsPlugin());
}

}  // namespace
}  // namespace tw::bridge::testing
