// Burst comparison end to end: the page's messages through `tidewick --headless`, the vision model
// played by the stand-in. Frame i is a plain grey picture of its own shade, wider than the review
// picture, so every image sent tells which frame it shows and at which size and quality.
#include "ai/base64.hpp"
#include "base/files.hpp"
#include "culling/cloud_review_image.hpp"
#include "culling/culling_prompts.hpp"
#include "fake_service.hpp"
#include "library/imaging/decoding.hpp"
#include "platform/settings.hpp"
#include "support/headless_process.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

namespace tw::testing {
namespace {

using ai::testing::TheFakeService;
constexpr char kChat[] = "/v1/chat/completions";
constexpr char kKey[] = "sk-burst-0123456789abcdef";
const Json kWeights = {{"sharpness", 3}};
constexpr char kModel[] = "vision-x";

const Json kUsage = {{"prompt_tokens", 100}, {"completion_tokens", 10}};

Json Answer(Json winner, Json confidence, Json reason, Json usage = kUsage) {
  Json body = {{"choices", {{{"message", {{"content", Json{{"winnerIndex", winner}, {"confidence", confidence},
                                                             {"reason", reason}}.dump()}}}}}}};
  if (!usage.is_null()) body["usage"] = usage;
  return {{"json", body}};
}

// A result's members with the usage and request count every result carries.
Json Result(Json members, long in, long out, long requests) {
  members["usage"] = {{"prompt_tokens", in}, {"completion_tokens", out}};
  members["requests"] = requests;
  return members;
}
const Json kNoRequest = Result(Json::object(), 0, 0, 0);
// The result of a won tournament whose every answer carried kUsage.
Json Won(const std::string& id, double confidence, const std::string& reason, long requests) {
  return Result({{"winnerId", id}, {"confidence", confidence}, {"reason", reason}}, 100 * requests, 10 * requests,
                requests);
}

class BurstComparisonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheFakeService().Reset();
    platform::Settings settings(sandbox.config / "tidewick/settings.json");
    settings.Set("TWGRSAIAPIKey", kKey);
    settings.Set("TWGRSAIBaseURL", TheFakeService().baseURL());
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
    for (const std::string& sent : TheFakeService().BodiesTo("POST", kChat)) {
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

  HeadlessSandbox sandbox;
  TempFolder shoot;
  std::vector<std::string> review;  // the review picture of each frame
};

TEST_F(BurstComparisonTest, RoundsOfThreeWithByesUntilOneFrameIsLeft) {
  struct Case {
    int frames;
    std::vector<int> picks;  // winnerIndex of each answer; the last repeats
    long requests;
    std::vector<std::pair<size_t, std::vector<int>>> shown;  // request number → frames it showed
    std::string winner;
  };
  for (const Case& c : std::vector<Case>{
           {2, {2}, 1, {{0, {0, 1}}}, "F1"},
           {3, {3}, 1, {{0, {0, 1, 2}}}, "F2"},
           {4, {2, 1}, 2, {{0, {0, 1, 2}}, {1, {1, 3}}}, "F1"},
           {9, {3, 2, 1, 2}, 4, {{0, {0, 1, 2}}, {1, {3, 4, 5}}, {2, {6, 7, 8}}, {3, {2, 4, 6}}}, "F4"},
           {60, {2}, 30,
            {{0, {0, 1, 2}}, {19, {57, 58, 59}}, {20, {1, 4, 7}}, {26, {55, 58}}, {29, {13, 40, 58}}}, "F40"}}) {
    SCOPED_TRACE(c.frames);
    TheFakeService().Reset();
    Json answers = Json::array();
    for (int pick : c.picks) answers.push_back(Answer(pick, 0.9, "更清晰"));
    TheFakeService().Route("POST", kChat, answers);
    auto run = RunHeadless(std::vector<Json>{{{"action", "compareBurst"}, {"token", "T"}, {"photos", Frames(c.frames)},
                                              {"weights", kWeights}, {"model", kModel}}},
                           sandbox.Options());
    auto shown = Shown();
    ASSERT_EQ(shown.size(), static_cast<size_t>(c.requests));
    for (const auto& [request, frames] : c.shown) EXPECT_EQ(shown[request], frames) << request;
    auto progress = run.Payloads("window.Native.burstProgress");
    ASSERT_EQ(progress.size(), shown.size());
    EXPECT_EQ(progress.back(), (Json{{"token", "T"}, {"processed", c.requests - 1}, {"total", c.requests}}));
    EXPECT_EQ(run.Payloads("window.Native.burstComplete"),
              (std::vector<Json>{{{"token", "T"}, {"result", Won(c.winner, 0.9, "更清晰", c.requests)}}}));
  }
}

TEST_F(BurstComparisonTest, WhatTheModelAnswersDecidesTheOutcome) {
  const Json photos = Frames(4);
  const Json invalid = {{"result", Result(Json::object(), 100, 10, 1)},
                        {"error", "AI 返回的比较结果格式无效，未修改照片状态"}};
  const std::vector<std::pair<Json, Json>> cases = {
      // The weakest accepted confidence and the last reason; usage summed over every request.
      {Json::array({Answer(1, 0.7, "甲"), Answer(2, 0.95, "乙", {{"prompt_tokens", 200}, {"completion_tokens", 20}})}),
       {{"result", Result({{"winnerId", "F3"}, {"confidence", 0.7}, {"reason", "乙"}}, 300, 30, 2)}}},
      {Json::array({Answer(1, 0.9, "", nullptr), Answer(1, 0.8, "")}),
       {{"result", Result({{"winnerId", "F0"}, {"confidence", 0.8}, {"reason", "已完成逐轮比较"}}, 100, 10, 2)}}},
      {Json::array({Answer(2, 0.64, "看不出")}),
       {{"result", Result({{"reason", "候选差距不明确，建议人工比较：看不出"}, {"confidence", 0.64}}, 100, 10, 1)}}},
      {Json::array({Answer(0, 0.9, "一样")}),
       {{"result", Result({{"reason", "候选差距不明确，建议人工比较：一样"}, {"confidence", 0.9}}, 100, 10, 1)}}},
      {Json::array({Answer(4, 0.9, "x")}), invalid},
      {Json::array({Answer(1, 0.9, "x"), Answer(3, 0.9, "x")}),  // the final has two frames
       {{"result", Result(Json::object(), 200, 20, 2)}, {"error", invalid["error"]}}},
      {Json::array({Answer(1.5, 0.9, "x")}), invalid},
      {Json::array({Answer(1, 1.2, "x")}), invalid},
      {Json::array({Answer(1, 0.9, 7)}), invalid},
      // The service echoes the key back; only its masked form may reach the page.
      {Json::array({Json{{"status", 401}, {"json", {{"error", {{"message", std::string("密钥 ") + kKey + " 无效"}}}}}}}),
       {{"result", Result(Json::object(), 0, 0, 1)}, {"error", "网络或 AI 比较不可用：密钥 sk-…cdef 无效"}}}};
  HeadlessSession session(sandbox.Options());
  for (const auto& [answers, expected] : cases) {
    TheFakeService().Route("POST", kChat, answers);
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
  Json sixtyOne = Frames(61), repeated = two, relative = two, home = two;
  repeated[1]["id"] = "F0";
  relative[1]["path"] = "F1.jpg";
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
           {Json::array({relative[1]}), "比较照片列表无效"}, {home, "比较照片列表无效"}, {repeated, "比较照片列表无效"},
           {unreadable, "无法读取一张比较照片，请检查存储卡或文件位置；没有提交本轮请求"}}) {
    lines.push_back({{"action", "compareBurst"}, {"photos", photos}, {"token", std::to_string(lines.size())}});
    expected.push_back({{"token", lines.back()["token"]}, {"result", kNoRequest}, {"error", error}});
  }
  auto run = RunHeadless(lines, sandbox.Options());
  EXPECT_EQ(run.Payloads("window.Native.burstComplete"), expected);
  EXPECT_EQ(TheFakeService().RequestsTo("POST", kChat), Json::array());
}

TEST_F(BurstComparisonTest, OneComparisonAtATimeAndACancelSilencesIt) {
  const Json photos = Frames(4);
  Json slow = Answer(1, 0.9, "稳");
  slow["delay_ms"] = 1500;
  TheFakeService().Route("POST", kChat, Json::array({slow}));
  HeadlessSession session(sandbox.Options());
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
  const std::string large = std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/nikon-d5300-6000x4000.jpg";
  compare("C", Json::array({{{"id", "L0"}, {"path", large}}, {{"id", "L1"}, {"path", large}}}));
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
}  // namespace tw::testing
