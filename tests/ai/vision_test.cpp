// Vision requests against the fake: the request body, the answer text's JSON object, errors,
// and silencing by a newer request or a cancel.
#include "service_test_fixture.hpp"

#include "ai/base64.hpp"

namespace tw::ai::testing {
namespace {

constexpr char kPath[] = "/v1/chat/completions";

Json ChatAnswer(Json content, Json usage = {{"prompt_tokens", 812}, {"completion_tokens", 64}}) {
  Json answer = {{"choices", Json::array({{{"message", {{"role", "assistant"}, {"content", std::move(content)}}}}})}};
  if (!usage.is_null()) answer["usage"] = std::move(usage);
  return {{"status", 200}, {"json", std::move(answer)}};
}

struct Outcome {
  bool called = false;
  bool onMain = false;
  std::optional<Json> result;
  std::optional<Error> error;
};

class VisionTest : public ServiceTest {
 protected:
  ResultCompletion Recorder(Outcome& outcome) {
    return [&outcome](std::optional<Json> result, std::optional<Error> error) {
      outcome.called = true;
      outcome.onMain = queues::IsMainThread();
      outcome.result = std::move(result);
      outcome.error = std::move(error);
    };
  }

  Outcome Analyze(const std::vector<std::string>& images, const std::string& model = "vision-x") {
    auto client = ConfiguredClient();
    Outcome outcome;
    client->analyzePhotosData(images, model, "请评估", Recorder(outcome));
    Drive([&] { return outcome.called; });
    return outcome;
  }
};

TEST_F(VisionTest, SendsPromptImagesAndSettingsInOneChatRequest) {
  fake().Route("POST", kPath, Json::array({ChatAnswer("{\"decision\":\"保留\"}")}));
  ASSERT_TRUE(Analyze({"\xFF\xD8one", "\xFF\xD8two"}).result);
  Json sent = fake().RequestsTo("POST", kPath);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["headers"]["authorization"], std::string("Bearer ") + kTestKey);
  EXPECT_EQ(sent[0]["headers"]["content-type"], "application/json");
  Json content = Json::array({{{"type", "text"}, {"text", "请评估"}}});
  for (const char* image : {"\xFF\xD8one", "\xFF\xD8two"}) {
    content.push_back({{"type", "text"}, {"text", std::string("图片 ") + std::to_string(content.size() / 2 + 1)}});
    content.push_back({{"type", "image_url"}, {"image_url", {{"url", "data:image/jpeg;base64," + Base64Encode(image)}}}});
  }
  EXPECT_EQ(ParseJSON(fake().BodiesTo("POST", kPath)[0]).value_or(nullptr),
            (Json{{"model", "vision-x"}, {"temperature", 0.05}, {"max_tokens", 550},
                  {"messages", {{{"role", "user"}, {"content", content}}}}}));
}

// The object in the answer's first text part with the usage, or the error with its status and the
// service's text (the key masked); no object in the answer is error 33.
TEST_F(VisionTest, AnswersAndFailures) {
  const Json usage = {{"prompt_tokens", 812}, {"completion_tokens", 64}};
  const Json parts = Json::array({{{"type", "reasoning"}}, {{"type", "text"}, {"text", 12}},
                                  {{"type", "text"}, {"text", "结果 {\"rating\": 5}"}}, {{"text", "{\"rating\": 1}"}}});
  // Nested too deep to be passed on without overflowing the stack, in the answer text or the body.
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::string noObject = "云端服务未返回可识别的筛片结果";
  struct Case {
    Json answer;
    Json result;  // or the error:
    long code = 0;
    std::string message;
  };
  const Case cases[] = {
      {ChatAnswer("我的判断如下：\n```json\n{\"decision\": \"淘汰\", \"rating\": 1}\n```\n仅供参考。"),
       {{"decision", "淘汰"}, {"rating", 1}, {"usage", usage}}},
      {ChatAnswer(parts), {{"rating", 5}, {"usage", usage}}},
      // No usage from the service is an empty object, whatever the model wrote.
      {ChatAnswer("{\"rating\": 3, \"usage\": 5}", nullptr), {{"rating", 3}, {"usage", Json::object()}}},
      {ChatAnswer("note {oops {\"decision\": \"保留\"}"), nullptr, 33, noObject},
      {ChatAnswer(Json::array({{{"type", "image"}}})), nullptr, 33, noObject},
      {ChatAnswer(nullptr), nullptr, 33, noObject},
      {ChatAnswer("没有结果"), nullptr, 33, noObject},
      {ChatAnswer("{\"issues\": " + deep + "}"), nullptr, 33, noObject},
      {{{"content_type", "application/json"}, {"text", R"({"choices": [{"message": {"content": "{}"}}], "usage": )" + deep + "}"}},
       nullptr, 33, noObject},
      {{{"status", 401}, {"json", {{"error", {{"message", "令牌无效"}, {"type", "auth"}}}}}}, nullptr, 401, "令牌无效"},
      {{{"status", 500}}, nullptr, 500, "云端识别失败（HTTP 500）"},
      {{{"drop", true}}, nullptr, 0, "网络连接已中断。"},
      {{{"status", 401}, {"json", {{"message", std::string("invalid key ") + kTestKey}}}}, nullptr, 401,
       "invalid key " + MaskedAPIKey(kTestKey)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer.dump().substr(0, 160));
    fake().Route("POST", kPath, Json::array({c.answer}));
    Outcome outcome = Analyze({"jpeg"}, "");
    EXPECT_TRUE(outcome.onMain);
    if (!c.result.is_null()) {
      EXPECT_EQ(outcome.result, c.result);
      EXPECT_FALSE(outcome.error);
      continue;
    }
    ASSERT_TRUE(outcome.error);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(std::tuple(outcome.error->domain, outcome.error->code, outcome.error->message),
              std::tuple(c.code == 0 ? outcome.error->domain : "com.avo.tidewick.grsai", c.code, c.message));
  }
  // An empty model asks for the default vision model.
  EXPECT_EQ(ParseJSON(fake().BodiesTo("POST", kPath).at(0)).value_or(nullptr)["model"], "gemini-3.1-flash-lite");
}

TEST_F(VisionTest, ValidationFailuresAnswerAtOnceAndSendNothing) {
  auto client = ConfiguredClient();
  Outcome tooMany, none, empty;
  client->analyzePhotosData({"a", "b", "c", "d"}, "", "p", Recorder(tooMany));
  client->analyzePhotosData({}, "", "p", Recorder(none));
  client->analyzePhotosData({"a", ""}, "", "p", Recorder(empty));
  ASSERT_TRUE(tooMany.error && none.error && empty.error);
  EXPECT_EQ(std::pair(tooMany.error->code, tooMany.error->message), std::pair(32L, std::string("每次云端比较支持 1～3 张图片")));
  EXPECT_EQ(none.error->message, "每次云端比较支持 1～3 张图片");
  EXPECT_EQ(std::pair(empty.error->code, empty.error->message), std::pair(32L, std::string("无法准备云端识别预览图")));

  auto unconfigured = TWGRSAIClient::Create(settings(), fake().baseURL());
  settings().Remove("TWGRSAIAPIKey");
  Outcome noKey;
  unconfigured->analyzePhotoData("jpeg", "", "p", Recorder(noKey));
  ASSERT_TRUE(noKey.error);
  EXPECT_EQ(std::pair(noKey.error->code, noKey.error->message), std::pair(31L, std::string("请先在设置中填写 GRS AI API 密钥")));

  Drive();
  EXPECT_TRUE(fake().Requests().empty());
  EXPECT_FALSE(client->activeToken());
}

TEST_F(VisionTest, ANewerRequestOrACancelSilencesTheRequestUnderWay) {
  fake().Route("POST", kPath, Json::array({ChatAnswer("{\"rating\": 2}")}));
  auto client = ConfiguredClient();
  Outcome older, newer, cancelled;
  client->analyzePhotoData("first", "", "p", Recorder(older));
  client->analyzePhotoData("second", "", "p", Recorder(newer));
  Drive([&] { return newer.called; });
  Drive();
  EXPECT_FALSE(older.called);
  ASSERT_TRUE(newer.result);
  EXPECT_EQ((*newer.result)["rating"], 2);

  client->analyzePhotoData("jpeg", "", "p", Recorder(cancelled));
  EXPECT_TRUE(client->activeToken());
  client->cancelCurrentTask();
  EXPECT_FALSE(client->activeToken());
  Drive();
  EXPECT_EQ(fake().RequestsTo("POST", kPath).size(), 3u);
  EXPECT_FALSE(cancelled.called);
}

TEST_F(VisionTest, AClientDroppedByItsOwnerLivesUntilItsAnswerArrives) {
  fake().Route("POST", kPath, Json::array({ChatAnswer("{\"rating\": 4}")}));
  auto client = ConfiguredClient();
  std::weak_ptr<TWGRSAIClient> watch = client;
  Outcome outcome;
  client->analyzePhotoData("jpeg", "", "p", Recorder(outcome));
  client.reset();
  EXPECT_FALSE(watch.expired());
  Drive([&] { return outcome.called; });
  ASSERT_TRUE(outcome.result);
  EXPECT_EQ((*outcome.result)["rating"], 4);
  EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace tw::ai::testing
