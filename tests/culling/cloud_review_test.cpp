// What the vision model is told, then the cloud review run and the burst comparison through
// `tidewick --headless` against the AI service's stand-in.
#include "ai/base64.hpp"
#include "ai/grsai_client.hpp"
#include "base/files.hpp"
#include "culling/cloud_review_image.hpp"
#include "culling/culling_prompts.hpp"
#include "fake_service.hpp"
#include "library/imaging/decoding.hpp"
#include "platform/settings.hpp"
#include "support/headless_process.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vips/vips8>

#include <algorithm>
#include <filesystem>

namespace tw::culling {
namespace {

const std::string kWeightClosing = "。按相对权重判断，0 表示不据此淘汰；没有人物时忽略人脸项，偏好不能代替可见证据。";

TEST(CullingPrompt, WeightsAreClampedToZeroTo115WithOneDecimalInTheirFixedOrder) {
  EXPECT_EQ(cullingWeightDescription({{"sharpness", 2}, {"eyes", -1}, {"exposure", "3"}}),
            "清晰度 2.0、睁眼状态 0.0、曝光 0.0、噪点 0.0、人脸质量 0.0、构图与姿态 0.0" + kWeightClosing);
  EXPECT_EQ(cullingWeightDescription({{"composition", 500}, {"noise", 0.25}, {"faceQuality", 1.05}}),
            "清晰度 0.0、睁眼状态 0.0、曝光 0.0、噪点 0.2、人脸质量 1.1、构图与姿态 115.0" + kWeightClosing);
  EXPECT_EQ(cullingWeightDescription(Json::array({1, 2})), cullingWeightDescription(Json::object()));
}

TEST(CullingPrompt, LabelsTheLocalResultAndTheWholePromptOfTwoLinesWithTheDoubledFullStop) {
  EXPECT_EQ(SceneLabel({{"scene", "wedding"}}), "自动判断题材");
  EXPECT_EQ(PolicyLabel(Json("strict")), "保守，优先防止误淘汰");
  EXPECT_EQ(PolicyLabel({{"policy", "strict"}}), "严格，明显瑕疵可淘汰");
  Json photo = {{"issues", {"闭眼", "过曝"}},
                {"result", {{"sharpness", 150.0}, {"brightness", 0.4}, {"noise", 12}, {"confidence", 0.72}}}};
  EXPECT_EQ(LocalCrossCheckSentence(photo),
            "本地算法仅供交叉核对：问题=闭眼、过曝；清晰度=150；亮度=0.4；噪点=12；本地置信度=0.72。"
            "不得因为本地结果存在就直接判定，必须以画面可见证据复核。");
  const std::string prompt =
      cloudReviewPromptForPhoto({{"path", "/a.jpg"}}, {{"scene", "portrait"}, {"weights", {{"eyes", 3}}}});
  const std::string first =
      "你是资深摄影选片师，只做质量判断，不修改图片。拍摄类型：单人人像。淘汰策略：保守，优先防止误淘汰。"
      "本地算法仅供交叉核对：问题=；清晰度=未知；亮度=未知；噪点=未知；本地置信度=未知。"
      "不得因为本地结果存在就直接判定，必须以画面可见证据复核。。用户评分偏好："
      "清晰度 0.0、睁眼状态 3.0、曝光 0.0、噪点 0.0、人脸质量 0.0、构图与姿态 0.0" + kWeightClosing;
  ASSERT_EQ(prompt.substr(0, prompt.find('\n')), first);
  EXPECT_TRUE(prompt.substr(prompt.find('\n') + 1).starts_with("按以下顺序逐项检查：1主体是否真正失焦"));
  EXPECT_TRUE(prompt.ends_with(
      "只返回一个 JSON 对象，禁止 Markdown 和额外文字：{\"decision\":\"保留|待定|淘汰\",\"rating\":1到5的整数,"
      "\"confidence\":0到1的小数,\"issues\":[\"问题名称\"],\"reason\":\"不超过45个中文字符且指出可见证据\","
      "\"bestCandidate\":true或false}。"));
  EXPECT_EQ(SecondPassPrompt(prompt),
            prompt + "\n这是独立的第二次复核。请重新从画面取证，不要假定第一次判断正确；证据不足必须选择待定。");
  const std::string burst = BurstComparisonPrompt(3, Json::object());
  EXPECT_TRUE(burst.starts_with("你是摄影选片师，对同一连拍组的 3 张图做相对比较。用户权重：清晰度 0.0、"));
  EXPECT_NE(burst.find("否则 winnerIndex 为图片编号 1 到 3。只输出 JSON：{\"winnerIndex\":整数,"), std::string::npos);
}

using ai::testing::TheFakeService;
using tw::testing::HeadlessResult;
using tw::testing::HeadlessSession;
using tw::testing::RunHeadless;

using ai::testing::kChatPath;
constexpr char kKey[] = "sk-cloud-0123456789abcdef";
constexpr char kProgress[] = "window.Native.cloudAnalysisProgress";
constexpr char kResult[] = "window.Native.cloudAnalysisResult";
constexpr char kComplete[] = "window.Native.cloudAnalysisComplete";
const std::string kSmall = TIDEWICK_TEST_DATA_DIR "/photos/face-group3-open.jpg";
const std::string kLarge = TIDEWICK_TEST_DATA_DIR "/photos/nikon-d5300-6000x4000.jpg";
const Json kUsage = {{"prompt_tokens", 900}, {"completion_tokens", 60}};

// The service's answer holding one verdict the way models write it, with token usage.
Json Verdict(const Json& record, const Json& usage = kUsage) {
  return ai::testing::ChatAnswer("判断如下：\n```json\n" + record.dump() + "\n```", usage);
}

Json Delayed(Json response) { return response.update({{"delay_ms", 1500}}), response; }

Json Answered(Json record) { return record.update({{"usage", kUsage}}), record; }

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

  static void Answer(const std::vector<Json>& responses) { TheFakeService().Route("POST", kChatPath, responses); }
  HeadlessResult Run(const std::vector<Json>& lines) { return RunHeadless(lines, sandbox_.Options()); }

  // What the page received: one member of each payload of a callback.
  static std::vector<Json> Received(const HeadlessResult& run, const char* function, const char* key) {
    std::vector<Json> values;
    for (const Json& payload : run.Payloads(function)) values.push_back(FieldOr(payload, key, nullptr));
    return values;
  }
  static std::vector<Json> Sent() {
    std::vector<Json> bodies;
    for (const std::string& body : TheFakeService().BodiesTo("POST", kChatPath)) bodies.push_back(ParseJSON(body).value());
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
  const Json economy = {{"scene", "portrait"}, {"policy", "strict"}, {"weights", {{"eyes", 80}, {"noise", 2}}},
                        {"quality", "economy"}, {"model", "vision-x"}};
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
    EXPECT_EQ(image.get_typeof("exif-data"), 0u) << "no metadata goes with the picture";
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
  EXPECT_EQ(run.Payloads(kComplete), (std::vector<Json>{{{"cancelled", false}, {"processed", 4}, {"failed", 0}}}));
  std::vector<Json> sent = Sent();
  ASSERT_EQ(sent.size(), 7u);
  EXPECT_EQ(Prompt(sent[2]), SecondPassPrompt(Prompt(sent[1])));
  EXPECT_EQ(Picture(sent[2]), Picture(sent[1]));

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
  HeadlessResult run = Run({Start({Photo("a", kSmall), Photo("fifo", fifo), Photo("relative", relative), web, 42, moved})});
  const Json none = "无法准备云端识别预览图";
  EXPECT_EQ(Received(run, kResult, "error"),
            (std::vector<Json>{"无效的令牌 " + ai::MaskedAPIKey(kKey), none, none, none, none, nullptr}));
  EXPECT_EQ(Received(run, kResult, "id"), (std::vector<Json>{"a", "fifo", "relative", "web", "", "moved"}));
  EXPECT_EQ(run.Payloads(kComplete), (std::vector<Json>{{{"cancelled", false}, {"processed", 6}, {"failed", 5}}}));
  EXPECT_EQ(Sent().size(), 2u);
  EXPECT_EQ(run.rawOutput.find(kKey), std::string::npos);
  EXPECT_EQ(run.errorOutput.find(kKey), std::string::npos);

  run = Run({Start({}), {{"action", "cloudAnalyze"}, {"photos", "not a list"}}});
  EXPECT_EQ(run.lines, std::vector<Json>(2, Line(kComplete, {{"cancelled", false}, {"processed", 0}, {"failed", 0}})));
}

TEST_F(CloudRunTest, ACancelOrASecondStartDuringARequestSilencesTheRunAndACancelBeforeItCompletesIt) {
  const Json oldProgress = Line(kProgress, {{"processed", 0}, {"total", 2}, {"name", "old.jpg"}});
  for (const auto& [second, lines] : std::vector<std::pair<Json, std::vector<Json>>>{
           {{{"action", "cancelCloudAnalysis"}}, {oldProgress}},
           {Start({Photo("new", kSmall)}),
            {oldProgress, Line(kProgress, {{"processed", 0}, {"total", 1}, {"name", "new.jpg"}}),
             Line(kResult, {{"id", "new"}, {"result", Answered({{"decision", "保留"}})}, {"processed", 1}, {"total", 1}}),
             Line(kComplete, {{"cancelled", false}, {"processed", 1}, {"failed", 0}})}}}) {
    TheFakeService().Reset();
    Answer({Delayed(Verdict({{"decision", "淘汰"}})), Verdict({{"decision", "保留"}})});
    HeadlessSession session(sandbox_.Options());
    session.Send(Start({Photo("old", kSmall), Photo("old2", kSmall)}));
    TheFakeService().AwaitRequests("POST", kChatPath, 1);
    session.Send(second);
    EXPECT_EQ(session.Finish().lines, lines) << second;
    EXPECT_EQ(Sent().size(), lines.size() == 1 ? 1u : 2u);
  }

  // The large photo is still rendering when the cancel is dispatched.
  TheFakeService().Reset();
  HeadlessResult run = Run({Start({Photo("a", kLarge), Photo("b", kSmall)}), {{"action", "cancelCloudAnalysis"}}});
  EXPECT_EQ(run.lines, std::vector<Json>({Line(kProgress, {{"processed", 0}, {"total", 2}, {"name", "a.jpg"}}),
                                          Line(kComplete, {{"cancelled", true}, {"processed", 0}, {"failed", 0}})}));
  EXPECT_TRUE(Sent().empty());
}

const Json kWeights = {{"sharpness", 3}};
constexpr char kModel[] = "vision-x";

const Json kComparisonUsage = {{"prompt_tokens", 100}, {"completion_tokens", 10}};

Json Comparison(Json winner, Json confidence, Json reason, Json usage = kComparisonUsage) {
  return ai::testing::ChatAnswer(Json{{"winnerIndex", winner}, {"confidence", confidence}, {"reason", reason}}.dump(), usage);
}

// A result's members with the usage and request count every result carries.
Json Result(Json members, long in, long out, long requests) {
  members["usage"] = {{"prompt_tokens", in}, {"completion_tokens", out}};
  members["requests"] = requests;
  return members;
}
// The result of a won tournament whose every answer carried kComparisonUsage.
Json Won(const std::string& id, double confidence, const std::string& reason, long requests) {
  return Result({{"winnerId", id}, {"confidence", confidence}, {"reason", reason}}, 100 * requests, 10 * requests,
                requests);
}

class BurstComparisonTest : public CloudRunTest {
 protected:
  void SetUp() override {
    CloudRunTest::SetUp();
    imaging::EnsureVipsStarted();
  }

  Json Frames(int count) {
    Json photos = Json::array();
    review.clear();
    for (int i = 0; i < count; ++i) {
      std::string path = shoot / ("F" + std::to_string(i) + ".jpg");
      auto frame = vips::VImage::black(1400, 60, vips::VImage::option()->set("bands", 3)) + (10 + 3 * i);
      WriteFileAtomically(path, *imaging::EncodeJPEG(frame.cast(VIPS_FORMAT_UCHAR), 0.9));
      review.push_back(*culling::PreparedCloudReviewJPEG(path, 1280, 0.78, false));
      photos.push_back({{"id", "F" + std::to_string(i)}, {"path", path}});
    }
    return photos;
  }

  // The frames each request showed, checking that its prompt is the one for that many frames and
  // its model the one asked for.
  std::vector<std::vector<int>> Shown() {
    std::vector<std::vector<int>> shown;
    for (const std::string& sent : TheFakeService().BodiesTo("POST", kChatPath)) {
      Json body = ParseJSON(sent).value();
      EXPECT_EQ(body["model"], kModel);
      const Json& content = body["messages"][0]["content"];
      shown.emplace_back();
      for (const Json& part : content) {
        if (part["type"] != "image_url") continue;
        std::string url = part["image_url"]["url"];
        auto frame = std::find(review.begin(), review.end(), ai::Base64DecodeIgnoringUnknown(url.substr(23)));
        shown.back().push_back(frame == review.end() ? -1 : static_cast<int>(frame - review.begin()));
      }
      EXPECT_EQ(content[0]["text"], culling::BurstComparisonPrompt(shown.back().size(), kWeights));
    }
    return shown;
  }

  tw::testing::TempFolder shoot;
  std::vector<std::string> review;  // the review picture of each frame
};

TEST_F(BurstComparisonTest, RoundsOfThreeWithByesUntilOneFrameIsLeft) {
  TheFakeService().Route("POST", kChatPath, Json::array({Comparison(2, 0.9, "更清晰")}));
  auto run = RunHeadless(std::vector<Json>{{{"action", "compareBurst"}, {"token", "T"}, {"photos", Frames(60)},
                                            {"weights", kWeights}, {"model", kModel}}},
                         sandbox_.Options());
  auto shown = Shown();
  ASSERT_EQ(shown.size(), 30u);
  // Request number → the frames it showed: twenty groups, a round with a pair, the final of three.
  for (const auto& [request, frames] : std::vector<std::pair<size_t, std::vector<int>>>{
           {0, {0, 1, 2}}, {19, {57, 58, 59}}, {20, {1, 4, 7}}, {26, {55, 58}}, {29, {13, 40, 58}}}) {
    EXPECT_EQ(shown[request], frames) << request;
  }
  auto progress = run.Payloads("window.Native.burstProgress");
  ASSERT_EQ(progress.size(), 30u);
  EXPECT_EQ(progress.back(), (Json{{"token", "T"}, {"processed", 29}, {"total", 30}}));
  EXPECT_EQ(run.Payloads("window.Native.burstComplete"),
            (std::vector<Json>{{{"token", "T"}, {"result", Won("F40", 0.9, "更清晰", 30)}}}));
}

TEST_F(BurstComparisonTest, WhatTheModelAnswersDecidesTheOutcome) {
  const Json photos = Frames(4);
  const Json invalid = {{"result", Result(Json::object(), 100, 10, 1)},
                        {"error", "AI 返回的比较结果格式无效，未修改照片状态"}};
  const std::vector<std::pair<Json, Json>> cases = {
      // The weakest accepted confidence and the last reason; usage summed over every request.
      {Json::array({Comparison(1, 0.7, "甲"), Comparison(2, 0.95, "乙", {{"prompt_tokens", 200}, {"completion_tokens", 20}})}),
       {{"result", Result({{"winnerId", "F3"}, {"confidence", 0.7}, {"reason", "乙"}}, 300, 30, 2)}}},
      {Json::array({Comparison(1, 0.9, "", nullptr), Comparison(1, 0.8, "")}),
       {{"result", Result({{"winnerId", "F0"}, {"confidence", 0.8}, {"reason", "已完成逐轮比较"}}, 100, 10, 2)}}},
      {Json::array({Comparison(2, 0.64, "看不出")}),
       {{"result", Result({{"reason", "候选差距不明确，建议人工比较：看不出"}, {"confidence", 0.64}}, 100, 10, 1)}}},
      {Json::array({Comparison(0, 0.9, "一样")}),
       {{"result", Result({{"reason", "候选差距不明确，建议人工比较：一样"}, {"confidence", 0.9}}, 100, 10, 1)}}},
      {Json::array({Comparison(1, 0.9, "x"), Comparison(3, 0.9, "x")}),  // the final has two frames
       {{"result", Result(Json::object(), 200, 20, 2)}, {"error", invalid["error"]}}},
      {Json::array({Comparison(1.5, 0.9, "x")}), invalid},
      {Json::array({Comparison(1, 1.2, "x")}), invalid},
      {Json::array({Comparison(1, 0.9, 7)}), invalid},
      // The service echoes the key back; only its masked form may reach the page.
      {Json::array({Json{{"status", 401}, {"json", {{"error", {{"message", std::string("密钥 ") + kKey + " 无效"}}}}}}}),
       {{"result", Result(Json::object(), 0, 0, 1)}, {"error", "网络或 AI 比较不可用：密钥 " + ai::MaskedAPIKey(kKey) + " 无效"}}}};
  HeadlessSession session(sandbox_.Options());
  for (const auto& [answers, expected] : cases) {
    TheFakeService().Route("POST", kChatPath, answers);
    session.Send({{"action", "compareBurst"}, {"token", "T"}, {"photos", photos}, {"weights", kWeights}});
    Json payload = session.WaitFor("window.Native.burstComplete").value_or(nullptr);
    payload.erase("token");
    EXPECT_EQ(payload, expected) << answers;
  }
  HeadlessResult run = session.Finish();
  EXPECT_EQ(run.rawOutput.find(kKey), std::string::npos);
  EXPECT_EQ(run.errorOutput.find(kKey), std::string::npos);
}

TEST_F(BurstComparisonTest, ListsThatCannotBeComparedAreRefusedWithoutARequest) {
  const Json two = Frames(2);
  Json sixtyOne = Frames(61), repeated = two, home = two;
  repeated[1]["id"] = "F0";
  home[0]["path"] = "~/F0.jpg";
  std::string fifo = shoot / "pipe.jpg";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Json unreadable = Frames(3);
  unreadable[1]["path"] = fifo;
  std::vector<Json> lines = {{{"action", "compareBurst"}, {"photos", two}},
                             {{"action", "compareBurst"}, {"photos", two}, {"token", ""}}};
  std::vector<Json> expected;
  for (const auto& [photos, error] : std::vector<std::pair<Json, std::string>>{
           {sixtyOne, "比较支持 2～60 张照片"}, {Json::array({two[0]}), "比较支持 2～60 张照片"},
           {home, "比较照片列表无效"}, {repeated, "比较照片列表无效"},
           {unreadable, "无法读取一张比较照片，请检查存储卡或文件位置；没有提交本轮请求"}}) {
    lines.push_back({{"action", "compareBurst"}, {"photos", photos}, {"token", std::to_string(lines.size())}});
    expected.push_back({{"token", lines.back()["token"]}, {"result", Result(Json::object(), 0, 0, 0)}, {"error", error}});
  }
  auto run = RunHeadless(lines, sandbox_.Options());
  EXPECT_EQ(run.Payloads("window.Native.burstComplete"), expected);
  EXPECT_EQ(TheFakeService().RequestsTo("POST", kChatPath), Json::array());
}

TEST_F(BurstComparisonTest, OneComparisonAtATimeAndACancelSilencesIt) {
  const Json photos = Frames(4);
  TheFakeService().Route("POST", kChatPath, Json::array({Delayed(Comparison(1, 0.9, "稳"))}));
  HeadlessSession session(sandbox_.Options());
  auto compare = [&](const std::string& token, Json frames) {
    session.Send(
        {{"action", "compareBurst"}, {"token", token}, {"photos", frames}, {"weights", kWeights}, {"model", kModel}});
  };
  compare("A", Json::array({photos[0], photos[1]}));
  session.WaitFor("window.Native.burstProgress");
  compare("B", photos);
  session.WaitFor("window.Native.burstComplete");  // B refused: A goes on and wins
  session.WaitFor("window.Native.burstComplete");
  compare("C", photos);
  session.WaitFor("window.Native.burstProgress");
  session.Send({{"action", "cancelBurst"}});
  // Cancelled while its first frame renders, then started again under the same token: the first
  // comparison's rendering must not send its frames once it is done.
  compare("C", Json::array({{{"id", "L0"}, {"path", kLarge}}, {{"id", "L1"}, {"path", kLarge}}}));
  session.Send({{"action", "cancelBurst"}});
  compare("C", Json::array({photos[2], photos[3]}));
  auto run = session.Finish();
  EXPECT_EQ(run.Payloads("window.Native.burstComplete"),
            (std::vector<Json>{{{"token", "B"}, {"error", "已有连拍比较正在进行"}},
                               {{"token", "A"}, {"result", Won("F0", 0.9, "稳", 1)}},
                               {{"token", "C"}, {"result", Won("F2", 0.9, "稳", 1)}}}));
  EXPECT_EQ(run.Payloads("window.Native.burstProgress").size(), 4u);
  for (const auto& frames : Shown()) EXPECT_EQ(std::count(frames.begin(), frames.end(), -1), 0);
}

}  // namespace
}  // namespace tw::culling
