// The cloud review run as the page drives it: `tidewick --headless` against the AI service's
// stand-in, reading what the service received and every line the page would receive.
#include "ai/base64.hpp"
#include "ai/grsai_client.hpp"
#include "base/files.hpp"
#include "culling/cloud_review_image.hpp"
#include "culling/culling_prompts.hpp"
#include "fake_service.hpp"
#include "platform/settings.hpp"
#include "support/headless_process.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vips/vips8>

#include <algorithm>
#include <filesystem>

namespace tw::culling {
namespace {

using ai::testing::TheFakeService;
using tw::testing::HeadlessResult;

constexpr char kPath[] = "/v1/chat/completions";
constexpr char kKey[] = "sk-cloud-run-0123456789";
constexpr char kProgress[] = "window.Native.cloudAnalysisProgress";
constexpr char kResult[] = "window.Native.cloudAnalysisResult";
constexpr char kComplete[] = "window.Native.cloudAnalysisComplete";
const std::string kSmall = TIDEWICK_TEST_DATA_DIR "/photos/face-group3-open.jpg";
const std::string kLarge = TIDEWICK_TEST_DATA_DIR "/photos/nikon-d5300-6000x4000.jpg";
const Json kUsage = {{"prompt_tokens", 900}, {"completion_tokens", 60}};

// The service's answer holding one verdict the way models write it, with token usage.
Json Verdict(const Json& record, const Json& usage = kUsage) {
  Json message = {{"content", "判断如下：\n```json\n" + record.dump() + "\n```"}};
  return {{"json", {{"choices", Json::array({{{"message", message}}})}, {"usage", usage}}}};
}

Json Delayed(Json response) { return response.update({{"delay_ms", 1500}}), response; }

// The verdict as the page receives it.
Json Answered(Json record, const Json& usage = kUsage) { return record.update({{"usage", usage}}), record; }

Json Photo(const std::string& id, const std::string& file) {
  return {{"id", id}, {"name", id + ".jpg"}, {"path", file}};
}

Json Start(const std::vector<Json>& photos, Json options = Json::object()) {
  return {{"action", "cloudAnalyze"}, {"photos", photos}, {"options", std::move(options)}};
}

Json Line(const char* function, Json payload) { return {{"fn", function}, {"arg", std::move(payload)}}; }

class CloudRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheFakeService().Reset();
    platform::Settings settings(sandbox_.config / "tidewick/settings.json");
    settings.Set(ai::kAPIKeySetting, kKey);
    settings.Set(ai::kBaseURLSetting, TheFakeService().baseURL());
  }

  static void Answer(const std::vector<Json>& responses) { TheFakeService().Route("POST", kPath, responses); }
  HeadlessResult Run(const std::vector<Json>& lines) { return RunHeadless(lines, sandbox_.Options()); }

  // What the page received: one member of each payload of a callback (the whole payload for "").
  static std::vector<Json> Received(const HeadlessResult& run, const char* function, const char* key = "") {
    std::vector<Json> values;
    for (const Json& payload : run.Payloads(function)) {
      values.push_back(*key ? FieldOr(payload, key, nullptr) : payload);
    }
    return values;
  }
  // The bodies the service received, in order.
  static std::vector<Json> Sent() {
    std::vector<Json> bodies;
    for (const std::string& body : TheFakeService().BodiesTo("POST", kPath)) bodies.push_back(ParseJSON(body).value());
    return bodies;
  }
  static std::string Prompt(const Json& body) { return body["messages"][0]["content"][0]["text"]; }
  static std::string Picture(const Json& body) {
    const std::string url = body["messages"][0]["content"][2]["image_url"]["url"];
    return ai::Base64DecodeIgnoringUnknown(url.substr(url.find(',') + 1));
  }
  tw::testing::HeadlessSandbox sandbox_;
};

TEST_F(CloudRunTest, EachPhotoGoesOutOnceWithItsPromptModelAndThePreviewOfTheQualityMode) {
  Json photo = Photo("P1", kLarge);
  photo.update({{"issues", {"闭眼"}}, {"result", {{"sharpness", 151.5}, {"confidence", 0.7}}}});
  const Json verdict = {{"decision", "保留"}, {"rating", 4}, {"confidence", 0.93}, {"reason", "清晰"}};
  Json economy = {{"scene", "portrait"}, {"policy", "strict"}, {"weights", {{"eyes", 80}, {"noise", 2}}}};
  ASSERT_NE(cloudReviewPromptForPhoto(photo, economy), cloudReviewPromptForPhoto(photo, Json::object()));
  economy.update({{"quality", "economy"}, {"model", "vision-x"}});
  struct Mode { Json options; int longSide; double quality; const char* model; };
  for (const Mode& mode : {Mode{economy, 768, 0.66, "vision-x"},
                           Mode{{{"quality", "best"}}, 1280, 0.78, "gemini-3.1-flash-lite"},
                           // Confident enough: no second request although the options allow one.
                           Mode{{{"quality", "fine"}, {"doubleCheck", true}}, 2048, 0.9, "gemini-3.1-flash-lite"}}) {
    SCOPED_TRACE(mode.options.dump());
    TheFakeService().Reset();
    Answer({Verdict(verdict)});
    HeadlessResult run = Run({Start({photo}, mode.options)});
    EXPECT_EQ(run.lines, (std::vector<Json>{
                             Line(kProgress, {{"processed", 0}, {"total", 1}, {"name", "P1.jpg"}}),
                             Line(kResult, {{"id", "P1"}, {"result", Answered(verdict)}, {"processed", 1},
                                            {"total", 1}}),
                             Line(kComplete, {{"cancelled", false}, {"processed", 1}, {"failed", 0}})}))
        << run.rawOutput;
    std::vector<Json> sent = Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["model"], mode.model);
    EXPECT_EQ(Prompt(sent[0]), cloudReviewPromptForPhoto(photo, mode.options));
    const std::string picture = Picture(sent[0]);
    EXPECT_EQ(picture, PreparedCloudReviewJPEG(kLarge, mode.longSide, mode.quality, true).value_or(""));
    vips::VImage image = vips::VImage::new_from_buffer(picture, "");
    EXPECT_EQ(std::max(image.width(), image.height()), mode.longSide);
  }
}

TEST_F(CloudRunTest, DoubtfulVerdictsAreCheckedIndependentlyAndMerged) {
  const Json lone = {{"decision", "待定"}, {"confidence", 0.99}, {"rating", 3}};
  Answer({Verdict({{"decision", "保留"}, {"confidence", 0.9}}),
          Verdict({{"decision", "保留"}, {"rating", 4}, {"confidence", 0.875}, {"issues", {"噪点过高"}}, {"reason", "眼神清楚"},
                   {"bestCandidate", true}},
                  {{"prompt_tokens", 100}, {"completion_tokens", 10}}),
          Verdict({{"decision", "保留"}, {"rating", "5"}, {"confidence", 0.9375}, {"issues", {"构图问题", "噪点过高"}},
                   {"bestCandidate", true}, {"extra", "dropped"}},
                  {{"input_tokens", 50}, {"inputTokenCount", 7}, {"output_tokens", 5}, {"outputTokenCount", 1}}),
          Verdict({{"decision", "淘汰"}, {"rating", 1}, {"confidence", 0.5}, {"issues", {"闭眼", "过曝"}}}),
          Verdict({{"decision", "待定"}, {"rating", 3}, {"confidence", 0.625}, {"issues", {"闭眼"}}}), Verdict(lone),
          {{"status", 500}}});
  HeadlessResult run = Run({Start({Photo("sure", kSmall), Photo("agreed", kSmall), Photo("disputed", kSmall),
                                   Photo("lone", kSmall)},
                                  {{"doubleCheck", true}})});
  EXPECT_EQ(Received(run, kProgress, "name"),
            (std::vector<Json>{"sure.jpg", "agreed.jpg", "agreed.jpg · 独立复核", "disputed.jpg",
                               "disputed.jpg · 独立复核", "lone.jpg", "lone.jpg · 独立复核"}));
  std::vector<Json> results = Received(run, kResult, "result");
  ASSERT_EQ(results.size(), 4u) << run.rawOutput;
  EXPECT_EQ(results[0], Answered({{"decision", "保留"}, {"confidence", 0.9}}));
  EXPECT_EQ(results[1], (Json{{"decision", "保留"}, {"rating", 5}, {"confidence", 0.90625}, {"issues", {"噪点过高", "构图问题"}},
                              {"reason", "双重验证一致：眼神清楚"}, {"bestCandidate", 1}, {"doubleChecked", true},
                              {"agreement", true}, {"usage", {{"prompt_tokens", 157}, {"completion_tokens", 16}}}}));
  EXPECT_EQ(results[2], (Json{{"decision", "待定"}, {"rating", 3}, {"confidence", 0.5}, {"issues", {"闭眼"}},
                              {"reason", "两次独立判断不一致，已转为待定"}, {"bestCandidate", 0}, {"doubleChecked", true},
                              {"agreement", false}, {"usage", {{"prompt_tokens", 1800}, {"completion_tokens", 120}}}}));
  EXPECT_EQ(results[3], Answered(lone)) << "a failed second look leaves the first verdict alone";
  EXPECT_EQ(Received(run, kComplete), (std::vector<Json>{{{"cancelled", false}, {"processed", 4}, {"failed", 0}}}));
  std::vector<Json> sent = Sent();
  ASSERT_EQ(sent.size(), 7u);
  EXPECT_EQ(Prompt(sent[2]), SecondPassPrompt(Prompt(sent[1])));
  EXPECT_EQ(Picture(sent[2]), Picture(sent[1]));

  // Without the option nothing is sent twice, however doubtful.
  TheFakeService().Reset();
  Answer({Verdict(lone)});
  EXPECT_EQ(Received(Run({Start({Photo("lone", kSmall)})}), kResult, "result"), std::vector<Json>{Answered(lone)});
  EXPECT_EQ(Sent().size(), 1u);
}

TEST_F(CloudRunTest, APhotoWithoutAReadableFileFailsWithoutARequestAFailedRequestKeepsTheKeyInAndTheRunGoesOn) {
  tw::testing::TempFolder folder;
  const std::string fifo = folder / "pipe.jpg";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  // Relative to the working folder the program inherits, so it would be found if it were used.
  const std::string relative = std::filesystem::relative(kSmall).string();
  ASSERT_TRUE(PathExists(relative));
  // The first photo's answer echoes the key; it never leaves the program.
  Answer({{{"status", 401}, {"json", {{"error", {{"message", std::string("无效的令牌 ") + kKey}}}}}}, Verdict({{"decision", "保留"}})});
  const Json web = {{"id", "web"}, {"thumbnail", "https://example.com/a.jpg"}};
  const Json moved = {{"id", "moved"}, {"path", folder / "gone.jpg"}, {"thumbnail", FileURLFromPath(kSmall)}};
  HeadlessResult run = Run({Start({Photo("a", kSmall), Photo("missing", folder / "gone.jpg"), Photo("fifo", fifo),
                                   Photo("relative", relative), web, 42, moved})});
  const Json none = "无法准备云端识别预览图";
  EXPECT_EQ(Received(run, kResult, "error"),
            (std::vector<Json>{"无效的令牌 " + ai::MaskedAPIKey(kKey), none, none, none, none, none, nullptr}));
  EXPECT_EQ(Received(run, kResult, "id"), (std::vector<Json>{"a", "missing", "fifo", "relative", "web", "", "moved"}));
  EXPECT_EQ(Received(run, kComplete), (std::vector<Json>{{{"cancelled", false}, {"processed", 7}, {"failed", 6}}}));
  EXPECT_EQ(Sent().size(), 2u);
  EXPECT_EQ(run.rawOutput.find(kKey), std::string::npos);
  EXPECT_EQ(run.errorOutput.find(kKey), std::string::npos);

  run = Run({Start({}), {{"action", "cloudAnalyze"}, {"photos", "not a list"}}});
  EXPECT_EQ(run.lines, std::vector<Json>(2, Line(kComplete, {{"cancelled", false}, {"processed", 0}, {"failed", 0}})));
}

TEST_F(CloudRunTest, ACancelDuringARequestSilencesTheRunAndOneBeforeItCompletesIt) {
  Answer({Delayed(Verdict({{"decision", "保留"}}))});
  tw::testing::HeadlessSession session(sandbox_.Options());
  session.Send(Start({Photo("a", kSmall), Photo("b", kSmall)}));
  TheFakeService().AwaitRequests("POST", kPath, 1);
  session.Send({{"action", "cancelCloudAnalysis"}});
  HeadlessResult run = session.Finish();
  EXPECT_EQ(run.Sequence(), std::vector<std::string>{kProgress}) << run.rawOutput;
  EXPECT_EQ(Sent().size(), 1u);

  // The large photo is still rendering when the cancel is dispatched.
  TheFakeService().Reset();
  run = Run({Start({Photo("a", kLarge), Photo("b", kSmall)}), {{"action", "cancelCloudAnalysis"}}});
  EXPECT_EQ(run.Sequence(), (std::vector<std::string>{kProgress, kComplete}));
  EXPECT_EQ(Received(run, kComplete), (std::vector<Json>{{{"cancelled", true}, {"processed", 0}, {"failed", 0}}}));
  EXPECT_TRUE(Sent().empty());
}

TEST_F(CloudRunTest, ASecondStartReplacesTheRunUnderWay) {
  Answer({Delayed(Verdict({{"decision", "淘汰"}})), Verdict({{"decision", "保留"}})});
  tw::testing::HeadlessSession session(sandbox_.Options());
  session.Send(Start({Photo("old", kSmall), Photo("old2", kSmall)}));
  TheFakeService().AwaitRequests("POST", kPath, 1);
  session.Send(Start({Photo("new", kSmall)}));
  EXPECT_EQ(session.Finish().lines,
            (std::vector<Json>{
                Line(kProgress, {{"processed", 0}, {"total", 2}, {"name", "old.jpg"}}),
                Line(kProgress, {{"processed", 0}, {"total", 1}, {"name", "new.jpg"}}),
                Line(kResult,
                     {{"id", "new"}, {"result", Answered({{"decision", "保留"}})}, {"processed", 1}, {"total", 1}}),
                Line(kComplete, {{"cancelled", false}, {"processed", 1}, {"failed", 0}})}));
  EXPECT_EQ(Sent().size(), 2u);
}

}  // namespace
}  // namespace tw::culling
