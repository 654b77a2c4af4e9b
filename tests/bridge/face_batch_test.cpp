// The face batch as the page drives it: an in-process controller in test mode with scripted
// panels, the AI client talking to the service's stand-in.
#include "base/files.hpp"
#include "bridge/input_images.hpp"
#include "bridge_fixture.hpp"
#include "library/imaging/decoding.hpp"
#include "support/controller_fixture.hpp"
#include "support/shoot_files.hpp"

#include <algorithm>
#include <filesystem>

namespace tw::bridge::testing {
namespace {

const std::string kPNG = TIDEWICK_TEST_DATA_DIR "/photos/coffee.png";
const std::string kJPEG = TIDEWICK_TEST_DATA_DIR "/photos/face-open-portrait-hopper.jpg";
const std::string kCR3 = TIDEWICK_TEST_DATA_DIR "/photos/canon-r6-container-with-preview.CR3";

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
  }
  void Choose(std::optional<std::vector<std::string>> answer, const Json& body) {
    platform_->QueuePanelAnswer(std::move(answer));
    Send(body);
  }
  static Json TemplateStage(Json stage) { return {{"action", "chooseFaceTemplateImage"}, {"stage", std::move(stage)}}; }
  std::vector<std::string> Saved() const { return tw::testing::Names(saved_.path()); }

  tw::testing::TempFolder saved_;
  tw::testing::TempFolder folder_;
};

TEST_F(FaceBatchTest, TemplatePhotosAndQueuePhotosComeFromThePanels) {
  const std::string notes = folder_ / "notes.jpg";
  ASSERT_FALSE(WriteFileAtomically(notes, "not a photo").has_value());
  Choose(std::vector{kPNG}, TemplateStage("before"));
  Choose(std::nullopt, TemplateStage("after"));
  Choose(std::vector{notes}, TemplateStage("after"));
  // Any other stage shows no panel: the answer waiting is left for the next one.
  Choose(std::vector{kJPEG}, TemplateStage("middle"));
  Send(TemplateStage(1));
  Send(TemplateStage("after"));
  auto templates = Payloads("window.Native.templateImageSelected");
  ASSERT_EQ(templates.size(), 2u);
  EXPECT_EQ(templates[0], (Json{{"stage", "before"},
                                {"image", {{"name", "coffee.png"}, {"path", kPNG}, {"preview", imaging::ImagePreviewDataURL(kPNG)}}}}));
  EXPECT_EQ(templates[1]["image"]["path"], kJPEG);
  EXPECT_EQ(Payloads("window.Native.status"), std::vector<Json>{"无法读取这张照片，请改用 JPG、PNG、TIFF 或 HEIC"});

  Choose(std::vector{kJPEG, notes, kCR3}, {{"action", "chooseFaceBatchPhotos"}});
  Choose(std::nullopt, {{"action", "chooseFaceBatchPhotos"}});
  auto selected = Payloads("window.Native.faceBatchPhotosSelected");
  ASSERT_EQ(selected.size(), 1u);
  const Json& items = selected[0]["items"];
  ASSERT_EQ(items.size(), 2u) << "a file that gives no thumbnail is left out";
  for (size_t i = 0; i < 2; ++i) {
    const std::string path = i == 0 ? kJPEG : kCR3;
    const std::string thumbnail = support_ / ("FaceBatchThumbnails/" + PathHashFileName(path));
    EXPECT_EQ(items[i]["id"].get<std::string>().size(), 36u);
    EXPECT_EQ(items[i], (Json{{"id", items[i]["id"]}, {"path", path}, {"name", LastPathComponent(path)},
                              {"thumbnail", FileURLFromPath(thumbnail)}}));
    auto image = imaging::CreateThumbnail(thumbnail, 10000);
    ASSERT_TRUE(image);
    EXPECT_EQ(std::max(image->width(), image->height()), 600);
  }
  EXPECT_NE(items[0]["id"], items[1]["id"]);
}

TEST_F(FaceBatchTest, AnItemGoesOutWithTheTemplatePairAndComesBackUnderThePhotosName) {
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
  EXPECT_LE(std::max(imaging::CreateThumbnail(prepared, 10000)->width(), imaging::CreateThumbnail(prepared, 10000)->height()), 4096);
  EXPECT_NE(uploads[1].find(ReadWholeFile(kPNG).value()), std::string::npos);
  EXPECT_NE(uploads[1].find("Content-Type: image/png"), std::string::npos);
  EXPECT_NE(uploads[2].find(ReadWholeFile(kJPEG).value()), std::string::npos);
  Json generate = ParseJSON(TheFakeService().BodiesTo("POST", kGeneratePath).at(0)).value();
  const std::string prompt = generate["prompt"];
  EXPECT_TRUE(prompt.starts_with("输入图像顺序：图1是当前待修照片，图2是样板修前照片，图3是同一张样板的修后照片。")) << prompt;
  EXPECT_TRUE(prompt.ends_with("不要把样板人物的固定像素复制到图1。样板名称：夏日样板。皮肤自然")) << prompt;
  EXPECT_EQ(std::tuple(generate["aspectRatio"], generate["imageSize"], generate["images"].size()), std::tuple(Json("auto"), Json("1K"), 3u));
}

TEST_F(FaceBatchTest, AnItemThatCannotGoOutFailsWithItsReason) {
  ScriptGeneration();
  TheFakeService().Route("POST", kGeneratePath, Json{{"status", 402}, {"json", {{"message", "余额不足"}}}});
  const std::string notes = folder_ / "notes.jpg";
  ASSERT_FALSE(WriteFileAtomically(notes, "not a photo").has_value());
  Json incomplete = Item("A", kJPEG);
  incomplete["template"].erase("after");
  Send(incomplete);
  Send(Item("B", notes));
  Send(Item("C", kJPEG));
  EXPECT_EQ(Payloads("window.Native.faceBatchFailed"),
            (std::vector<Json>{{{"id", "A"}, {"message", "当前照片或样板修前/修后文件不完整"}},
                               {{"id", "B"}, {"message", "照片预处理失败，请检查原片和样板文件"}},
                               {{"id", "C"}, {"message", "余额不足"}}}));
  EXPECT_TRUE(Saved().empty());

  // Without a save folder nothing goes out until one is chosen; only a folder is taken.
  platform_->settings().Remove(kRetouchSaveLocationSetting);
  Relaunch();
  ClearOutput();
  Send({{"action", "ready"}});
  Send(Item("D", kJPEG));
  EXPECT_EQ(Payloads("window.Native.faceBatchFailed").back()["message"], "请先设置生成图片保存位置");
  Choose(std::vector{notes}, {{"action", "chooseSaveLocation"}});
  Choose(std::vector{saved_.path()}, {{"action", "chooseSaveLocation"}});
  auto states = Payloads("window.Native.bridgeStatus");
  ASSERT_EQ(states.size(), 2u) << "the handshake's, then the new folder's";
  EXPECT_EQ(states[1]["saveLocation"], saved_.path());
  EXPECT_EQ(platform_->settings().GetString(kRetouchSaveLocationSetting), saved_.path());
  app_->openURLs({"tidewick://history"});
  RunUntilQuiet();
  EXPECT_EQ(Effects("openFolder").at(0)["path"], saved_.path());
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
