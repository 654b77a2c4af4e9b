// The plug-in's socket as a plug-in meets it (the headless program outside test mode, a real WebSocket client)
// and the face batch as the page drives it (in-process), both with the AI service's stand-in behind them.
#include "ai/base64.hpp"
#include "ai/grsai_client.hpp"
#include "base/files.hpp"
#include "bridge/bridge_protocol.hpp"
#include "bridge/bridge_server.hpp"
#include "bridge/face_batch.hpp"
#include "bridge/input_images.hpp"
#include "fake_service.hpp"
#include "library/imaging/decoding.hpp"
#include "platform/settings.hpp"
#include "plugin_client.hpp"
#include "support/controller_fixture.hpp"
#include "support/shoot_files.hpp"

#include <boost/asio/ip/tcp.hpp>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

namespace tw::bridge::testing {
namespace {

using namespace ai::testing;  // the AI service's stand-in

constexpr char kKey[] = "sk-bridge-test-0123456789";
constexpr char kResultImagePath[] = "/files/result.png";
constexpr char kResultBytes[] = "\x89PNG generated";

// Answers one generation (an upload token and an upload per image, then the result after delayMs, and its image).
void ScriptGeneration(int delayMs = 0) {
  auto& fake = TheFakeService();
  fake.Route("POST", kTokenPath,
             Json{{"json", {{"data", {{"token", "t"}, {"key", "in/1"}, {"url", fake.URL(kUploadPath)},
                                      {"domain", "https://cdn.example.com"}}}}}});
  fake.Route("POST", kUploadPath, Json{{"json", {{"ok", true}}}});
  fake.Route("POST", kGeneratePath,
             Json{{"delay_ms", delayMs}, {"json", {{"results", {{{"url", fake.URL(kResultImagePath)}}}}}}});
  fake.Route("GET", kResultImagePath, Json{{"b64", ai::Base64Encode(kResultBytes)}});
}

// The settings of a program whose AI client talks to the stand-in and whose save folder is set.
void ConfigureForTheStandIn(platform::Settings& settings, const std::string& saveFolder) {
  settings.Set(ai::kAPIKeySetting, kKey);
  settings.Set(ai::kBaseURLSetting, TheFakeService().baseURL());
  settings.Set(kRetouchSaveLocationSetting, saveFolder);
}

const std::string kPNG = TIDEWICK_TEST_DATA_DIR "/photos/coffee.png";
const std::string kJPEG = TIDEWICK_TEST_DATA_DIR "/photos/face-open-portrait-hopper.jpg";
const std::string kCR3 = TIDEWICK_TEST_DATA_DIR "/photos/canon-r6-container-with-preview.CR3";
const Json kHello = {{"type", "hello"}, {"client", "photoshop"}};

class BridgeServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheFakeService().Reset();
    platform::Settings settings(sandbox_.config / "tidewick/settings.json");
    ConfigureForTheStandIn(settings, saved_.path());
  }
  // The first bridgeStatus from now on that satisfies the condition.
  Json AwaitStatus(const std::function<bool(const Json&)>& wanted) {
    while (auto state = session_->WaitFor("window.Native.bridgeStatus")) {
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

TEST_F(BridgeServerTest, ATakenPortIsTriedAgainOnlyThePluginsHelloIsAnsweredAndARetouchIsReturnedOrCancelled) {
  boost::asio::io_context io;
  auto blocker = std::make_unique<boost::asio::ip::tcp::acceptor>(
      io, boost::asio::ip::tcp::endpoint(boost::asio::ip::address_v4::loopback(), kBridgePort));
  // Not handed down to the program, which would then hold the port itself.
  fcntl(blocker->native_handle(), F_SETFD, FD_CLOEXEC);
  session_.emplace(sandbox_.Options(/*testMode=*/false));
  session_->Send({{"action", "ready"}});
  Json refused = AwaitStatus([](const Json& state) { return !state["error"].get<std::string>().empty(); });
  EXPECT_EQ(std::pair(refused["error"], refused["listening"]), std::pair(Json("Address already in use"), Json(false)));
  blocker.reset();
  EXPECT_EQ(AwaitStatus([](const Json& state) { return state["listening"] == true; })["error"], "");

  auto plugin = PluginClient::Connect();
  ASSERT_TRUE(plugin);
  plugin->PingFrame();
  plugin->Send({{"type", "ping"}});
  plugin->Send({{"type", "retouch.request"}, {"prompt", "x"}, {"inputImages", {{"source", "data:,AAAA"}}}});
  plugin->SendText("not json");
  plugin->Send(kHello);
  // Whatever the messages before it had earned would have come first.
  Json accepted = plugin->Receive().value_or(nullptr);
  EXPECT_EQ(std::tuple(accepted["type"], accepted["connectionMode"], accepted["saveLocation"], accepted["grsAI"]["maskedKey"]),
            std::tuple(Json("hello.accepted"), Json("local"), Json(saved_.path()), Json(ai::MaskedAPIKey(kKey))));
  EXPECT_EQ(plugin->pongs(), 1) << "ping frames are answered by the transport, hello or not";
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
  auto own = PluginClient::Connect({.host = "::1", .origin = std::nullopt});
  ASSERT_TRUE(own) << "the IPv6 loopback is served too";
  own->Send(kHello);
  EXPECT_EQ(own->Receive().value_or(nullptr)["type"], "hello.accepted");

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
  plugin->Send({{"type", "ping"}});
  Json pong = plugin->Receive().value_or(nullptr);
  EXPECT_EQ(std::pair(pong["type"], pong["receivedAt"].is_number_float()), std::pair(Json("pong"), true));

  // Every plug-in that said hello hears of a new save folder; one that has not hears nothing before its hello.
  auto stranger = PluginClient::Connect();
  tw::testing::TempFolder chosen;
  session_->Send({{"@panel", {{"paths", {chosen.path()}}}}});
  session_->Send({{"action", "chooseSaveLocation"}});
  for (PluginClient* each : {plugin.get(), own.get()}) {
    EXPECT_EQ(each->Receive().value_or(nullptr), (Json{{"type", "settings.updated"}, {"saveLocation", chosen.path()}}));
  }
  stranger->Send(kHello);
  accepted = stranger->Receive().value_or(nullptr);
  EXPECT_EQ(std::pair(accepted["type"], accepted["saveLocation"]), std::pair(Json("hello.accepted"), Json(chosen.path())));

  own.reset();
  stranger.reset();
  plugin.reset();
  Json state = AwaitStatus([](const Json& state) { return state["connected"] == false; });
  EXPECT_EQ(std::pair(state["listening"], state["connectedCount"]), std::pair(Json(true), Json(0)));

  // A retouch is accepted, followed and returned with what the layer needs.
  ScriptGeneration();
  tw::testing::TempFolder folder;
  const std::string pipe = folder / "pipe.png";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  const Json selection = {{"left", 10}, {"top", 20}, {"right", 110}, {"bottom", 120}};
  plugin = PluginClient::ConnectAsPlugin();
  plugin->Send({{"type", "retouch.request"},
                {"prompt", "去掉路人"},
                {"quality", "high"},
                {"inputFiles", {{"source", {{"path", kJPEG}, {"mime", "image/jpeg"}}}, {"reference", {{"path", pipe}}}}},
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
  EXPECT_EQ(ParentDirectory(done["filePath"]), chosen.path());
  EXPECT_EQ(ReadWholeFile(done["filePath"]), std::string(kResultBytes));
  // The photo's file and, in place of the pipe, the inline reference, in that order.
  std::vector<std::string> uploads = TheFakeService().BodiesTo("POST", kUploadPath);
  ASSERT_EQ(uploads.size(), 2u);
  EXPECT_NE(uploads[0].find(ReadWholeFile(kJPEG).value()), std::string::npos);
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

  // A cancel is answered at once, and the generation says nothing more.
  ScriptGeneration(/*delayMs=*/1500);
  plugin->Send({{"type", "retouch.request"}, {"prompt", "x"}, {"inputImages", {{"source", "data:image/png;base64,UE5H"}}}});
  TheFakeService().AwaitRequests("POST", kGeneratePath, 1);
  plugin->Send({{"type", "retouch.cancel"}});
  messages = ReceiveTask(*plugin);
  EXPECT_EQ(messages.back(), (Json{{"type", "task.failed"}, {"message", "已停止等待和自动插入；服务商端任务可能仍在执行。"}}));
  // The program ends once the generation is over; nothing of it reaches the plug-in by then.
  tw::testing::HeadlessResult run = session_->Finish();
  EXPECT_EQ(std::pair(run.exitStatus, run.rawOutput.find(kKey)), std::pair(0, std::string::npos)) << "the key is never told";
  EXPECT_FALSE(plugin->Receive());
  EXPECT_EQ(tw::testing::Names(chosen.path()).size(), 1u);
}

Json Item(const std::string& id, const std::string& photo) {
  return {{"action", "generateFaceBatchItem"},
          {"item", {{"id", id}, {"path", photo}}},
          {"template", {{"before", {{"path", kPNG}}}, {"after", {{"path", kJPEG}}}, {"name", "夏日样板"}}},
          {"prompt", "皮肤自然"}};
}

class FaceBatchTest : public tw::testing::ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    TheFakeService().Reset();
    ConfigureForTheStandIn(platform_->settings(), saved_.path());
    Relaunch();
    ASSERT_FALSE(WriteFileAtomically(notes_, "not a photo").has_value());
  }
  void Choose(std::optional<std::vector<std::string>> answer, const Json& body) {
    platform_->QueuePanelAnswer(std::move(answer));
    Send(body);
  }
  static Json TemplateStage(Json stage) { return {{"action", "chooseFaceTemplateImage"}, {"stage", std::move(stage)}}; }
  std::vector<std::string> Saved() const { return tw::testing::Names(saved_.path()); }

  tw::testing::TempFolder saved_, folder_;
  const std::string notes_ = folder_ / "notes.jpg";
};

TEST_F(FaceBatchTest, TemplatePhotosAndQueuePhotosComeFromThePanels) {
  Choose(std::vector{kPNG}, TemplateStage("before"));
  Choose(std::nullopt, TemplateStage("after"));
  Choose(std::vector{notes_}, TemplateStage("after"));
  // Any other stage shows no panel: the answer waiting is left for the next one.
  Choose(std::vector{kJPEG}, TemplateStage("middle"));
  Send(TemplateStage("after"));
  auto templates = Payloads("window.Native.templateImageSelected");
  ASSERT_EQ(templates.size(), 2u);
  EXPECT_EQ(templates[0], (Json{{"stage", "before"},
                                {"image", {{"name", "coffee.png"}, {"path", kPNG}, {"preview", imaging::ImagePreviewDataURL(kPNG)}}}}));
  EXPECT_EQ(templates[1]["image"]["path"], kJPEG);
  EXPECT_EQ(Payloads("window.Native.status"), std::vector<Json>{"无法读取这张照片，请改用 JPG、PNG、TIFF 或 HEIC"});

  Choose(std::vector{kJPEG, notes_, kCR3}, {{"action", "chooseFaceBatchPhotos"}});
  Choose(std::nullopt, {{"action", "chooseFaceBatchPhotos"}});
  auto selected = Payloads("window.Native.faceBatchPhotosSelected");
  ASSERT_EQ(selected.size(), 1u);
  const Json& items = selected[0]["items"];
  ASSERT_EQ(items.size(), 2u) << "a file that gives no thumbnail is left out";
  for (size_t i = 0; i < 2; ++i) {
    const std::string path = i == 0 ? kJPEG : kCR3;
    const std::string thumbnail = support_ / ("FaceBatchThumbnails/" + PathHashFileName(path));
    EXPECT_EQ(items[i], (Json{{"id", items[i]["id"]}, {"path", path}, {"name", LastPathComponent(path)},
                              {"thumbnail", FileURLFromPath(thumbnail)}}));
    auto image = imaging::CreateThumbnail(thumbnail, 10000);
    ASSERT_TRUE(image);
    EXPECT_EQ(std::max(image->width(), image->height()), 600);
  }
  EXPECT_NE(items[0]["id"], items[1]["id"]);
}

TEST_F(FaceBatchTest, AnItemGoesOutWithTheTemplatePairAndComesBackUnderThePhotosNameOrFailsWithItsReason) {
  ScriptGeneration();
  Send(Item("A", kCR3));
  Send(Item("B", kCR3));
  std::vector<int> percents;
  for (const Json& report : Payloads("window.Native.faceBatchProgress")) {
    if (report["id"] == "A") percents.push_back(report["progress"]);
  }
  EXPECT_EQ(percents, (std::vector<int>{3, 8, 15, 13, 20, 18, 25, 26, 94, 100}));
  auto complete = Payloads("window.Native.faceBatchComplete");
  ASSERT_EQ(complete.size(), 2u);
  EXPECT_EQ(std::tuple(complete[0]["id"], complete[0]["result"]["fileName"], complete[1]["result"]["filePath"]),
            std::tuple(Json("A"), Json("canon-r6-container-with-preview（1）.png"), Json(saved_ / "canon-r6-container-with-preview（2）.png")));
  EXPECT_EQ(Saved(), (std::vector<std::string>{"canon-r6-container-with-preview（1）.png",
                                               "canon-r6-container-with-preview（2）.png"}));
  EXPECT_EQ(ReadWholeFile(saved_ / "canon-r6-container-with-preview（1）.png"), std::string(kResultBytes));

  // The raw photo as a rendered JPEG, then the template pair as they are, in that order.
  std::vector<std::string> uploads = TheFakeService().BodiesTo("POST", kUploadPath);
  ASSERT_EQ(uploads.size(), 6u);
  const std::string prepared = support_ / ("AIPrepared/" + PathHashFileName(kCR3));
  EXPECT_NE(uploads[0].find(ReadWholeFile(prepared).value_or("?")), std::string::npos);
  EXPECT_NE(uploads[0].find("Content-Type: image/jpeg"), std::string::npos);
  EXPECT_NE(uploads[1].find(ReadWholeFile(kPNG).value()), std::string::npos);
  EXPECT_NE(uploads[1].find("Content-Type: image/png"), std::string::npos);
  EXPECT_NE(uploads[2].find(ReadWholeFile(kJPEG).value()), std::string::npos);
  Json generate = ParseJSON(TheFakeService().BodiesTo("POST", kGeneratePath).at(0)).value();
  const std::string prompt = generate["prompt"];
  EXPECT_TRUE(prompt.starts_with("输入图像顺序：图1是当前待修照片，图2是样板修前照片，图3是同一张样板的修后照片。")) << prompt;
  EXPECT_TRUE(prompt.ends_with("不要把样板人物的固定像素复制到图1。样板名称：夏日样板。皮肤自然")) << prompt;
  EXPECT_EQ(std::tuple(generate["aspectRatio"], generate["imageSize"], generate["images"].size()), std::tuple(Json("auto"), Json("1K"), 3u));

  // An item that cannot go out fails with its reason.
  TheFakeService().Route("POST", kGeneratePath, Json{{"status", 402}, {"json", {{"message", "余额不足"}}}});
  Json incomplete = Item("A", kJPEG);
  incomplete["template"].erase("after");
  Send(incomplete);
  Send(Item("B", notes_));
  Send(Item("C", kJPEG));
  EXPECT_EQ(Payloads("window.Native.faceBatchFailed"),
            (std::vector<Json>{{{"id", "A"}, {"message", "当前照片或样板修前/修后文件不完整"}},
                               {{"id", "B"}, {"message", "照片预处理失败，请检查原片和样板文件"}},
                               {{"id", "C"}, {"message", "余额不足"}}}));
  EXPECT_EQ(Saved().size(), 2u);

  // Without a save folder nothing goes out until one is chosen; only a folder is taken.
  platform_->settings().Remove(kRetouchSaveLocationSetting);
  Relaunch();
  ClearOutput();
  Send({{"action", "ready"}});
  Send(Item("D", kJPEG));
  EXPECT_EQ(Payloads("window.Native.faceBatchFailed").back()["message"], "请先设置生成图片保存位置");
  Choose(std::vector{notes_}, {{"action", "chooseSaveLocation"}});
  Choose(std::vector{saved_.path()}, {{"action", "chooseSaveLocation"}});
  auto states = Payloads("window.Native.bridgeStatus");
  ASSERT_EQ(states.size(), 2u) << "the handshake's, then the new folder's";
  EXPECT_EQ(states[1]["saveLocation"], saved_.path());
  EXPECT_EQ(platform_->settings().GetString(kRetouchSaveLocationSetting), saved_.path());
}

TEST_F(FaceBatchTest, ACancelSilencesTheItemUnderWay) {
  ScriptGeneration(/*delayMs=*/1500);
  queues::Main([this] { app_->didReceiveScriptMessage(Item("A", kJPEG)); });
  loop_.Run([] { return TheFakeService().Received("POST", kGeneratePath, 1); });
  Send({{"action", "cancelFaceBatchGeneration"}});
  EXPECT_FALSE(Payloads("window.Native.faceBatchProgress").empty());
  EXPECT_TRUE(Payloads("window.Native.faceBatchComplete").empty() && Payloads("window.Native.faceBatchFailed").empty());
  EXPECT_TRUE(Saved().empty());
}

}  // namespace
}  // namespace tw::bridge::testing
