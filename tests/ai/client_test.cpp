// The client's pure functions, then against the stand-in: configuration and the connection check,
// vision requests and the generation pipeline.
#include "ai/base64.hpp"
#include "ai/cloud_address.hpp"
#include "ai/result_file.hpp"
#include "base/files.hpp"
#include "fake_service.hpp"

#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <mutex>
#include <regex>
#include <thread>

namespace tw::ai::testing {
namespace {

TEST(CloudAddressTest, OnlyAPlainHTTPSAddressIsKeptAndNormalised) {
  const std::optional<std::string> none;
  const std::vector<std::pair<Json, std::optional<std::string>>> cases = {
      {"https://api.example.com///", "https://api.example.com"},
      {"https://api.example.com:8443/proxy/v1/", "https://api.example.com:8443/proxy/v1"},
      {"HTTPS://api.example.com", "HTTPS://api.example.com"},
      // Space around (full-width too), angle brackets and a markdown link whose label is its target.
      {"\u3000 https://api.example.com\u00A0\n", "https://api.example.com"},
      {"<https://api.example.com/>", "https://api.example.com"},
      {" [https://api.example.com/](https://api.example.com/) ", "https://api.example.com"},
      {"[https://api.example.com](https://evil.example.com)", none},
      {"http://api.example.com", none},
      {"https:/api.example.com", none},
      {"https://", none},
      {"https://user@api.example.com", none},
      {"https://api.example.com/?", none},
      {"https://api.example.com#", none},
      {"https://api.example.com/a\u3000b", none},
      {std::string("https://api.example.com/\xFF"), none},
      {42, none}};
  for (const auto& [pasted, expected] : cases) EXPECT_EQ(TWCloudAddress(pasted), expected) << pasted.dump(-1, ' ', false, Json::error_handler_t::replace);
}

using FilesTest = ServiceTest;

TEST_F(FilesTest, ImageDescriptorsGiveBytesMediaTypeAndExtension) {
  const std::string folder = this->folder(), layer = JoinPath(folder, "layer");
  ASSERT_FALSE(WriteFileAtomically(layer, "pixels"));
  struct Case {
    Json descriptor;
    std::string data, mime, extension;
  };
  for (const Case& input : {
           Case{"data:image/jpeg;base64," + Base64Encode("\xFF\xD8jpeg"), "\xFF\xD8jpeg", "image/jpeg", "jpg"},
           // Without a media type, or without ";base64", a data URL is PNG.
           Case{"data:;base64," + Base64Encode("png bytes"), "png bytes", "image/png", "png"},
           Case{"data:image/jpeg," + Base64Encode("x"), "x", "image/png", "png"},
           // Characters outside the alphabet are skipped.
           Case{"data:image/png;base64,aGVs\n bG8gd29ybGQ=", "hello world", "image/png", "png"},
           Case{Json{{"path", layer}}, "pixels", "image/png", "png"},
           Case{Json{{"path", layer}, {"mime", "image/webp"}}, "pixels", "image/webp", "webp"}}) {
    auto image = TWGRSAIClient::decodedImage(input.descriptor);
    ASSERT_TRUE(image) << input.descriptor;
    EXPECT_EQ(std::tuple(image->data, image->mime, image->extension), std::tuple(input.data, input.mime, input.extension));
  }

  // A pipe is not read: the open would wait for a writer forever.
  const std::string pipe = JoinPath(folder, "layer.png"), empty = JoinPath(folder, "empty.png");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  ASSERT_FALSE(WriteFileAtomically(empty, ""));
  for (const Json& refused : {Json("data:image/png;base64,"), Json("data:image/png;base64"), Json("https://example.com/a.png"),
                              Json(7), Json{{"path", empty}}, Json{{"path", JoinPath(folder, "missing.png")}},
                              Json{{"path", pipe}}}) {
    EXPECT_FALSE(TWGRSAIClient::decodedImage(refused)) << refused;
  }
}

TEST(Base64Test, RoundTripsEveryLength) {
  std::string bytes;
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(Base64DecodeIgnoringUnknown(Base64Encode(bytes)), bytes);
    bytes.push_back(static_cast<char>(250 - i * 7));
  }
  EXPECT_EQ(Base64Encode("Ma") + Base64Encode("M"), "TWE=TQ==");
}

TEST(ResponseReaders, TheMessageIsTheFirstNonEmptyTextInKeyOrderOrTheFallback) {
  const std::vector<std::pair<std::optional<Json>, std::string>> cases = {
      {Json{{"msg", "b"}, {"message", "a"}}, "a"},
      {Json{{"message", ""}, {"msg", "b"}}, "b"},
      {Json{{"message", 12}, {"error", "c"}}, "c"},
      {Json{{"error", {{"detail", "d"}, {"msg", "m"}}}}, "m"},
      // The first inner key present decides; an empty one does not fall through to the next.
      {Json{{"error", {{"message", ""}, {"detail", "d"}}}}, "fb"},
      {Json{{"error", {{"message", ""}}}, {"failure_reason", "r"}}, "r"},
      {std::nullopt, "fb"}};
  for (const auto& [response, expected] : cases) {
    EXPECT_EQ(TWGRSAIClient::messageFromResponse(response, "fb"), expected) << (response ? response->dump() : "none");
  }
}

TEST(ResponseReaders, ObjectsPayloadsStatusWordsExcerptsAndTheMaskedKey) {
  EXPECT_EQ(TWGRSAIClient::JSONDictionaryFromData("[1,2]"), std::nullopt);
  // The payload is "data", else "result" when an object, else the whole response.
  EXPECT_EQ(TWGRSAIClient::effectivePayload({{"data", {{"x", 1}}}, {"result", {{"y", 2}}}}), (Json{{"x", 1}}));
  EXPECT_EQ(TWGRSAIClient::effectivePayload({{"data", "text"}, {"result", {{"y", 2}}}}), (Json{{"y", 2}}));
  EXPECT_EQ(TWGRSAIClient::statusFromResponse(Json{{"data", {{"status", "SucCeeded"}}}, {"status", "x"}}), "succeeded");
  EXPECT_EQ(TWGRSAIClient::statusFromResponse(Json{{"data", {{"status", 3}}}, {"status", "Running"}}), "running");
  EXPECT_EQ(TWGRSAIClient::statusFromResponse(Json{{"status", 200}}), "");
  EXPECT_EQ(TWGRSAIClient::analysisDictionaryFromText("[{\"a\":1}]"), (Json{{"a", 1}}));
  for (const char* text : {"note {oops {\"decision\": \"保留\"}", "} before {", ""}) {
    EXPECT_EQ(TWGRSAIClient::analysisDictionaryFromText(text), std::nullopt) << text;
  }
  EXPECT_EQ(TWGRSAIClient::errorWithMessage("", -999).message, "未知错误");
  // Excerpts are cut to characters and refuse invalid UTF-8.
  EXPECT_EQ(TWGRSAIClient::responseText("网络错误", 2), "网络");
  EXPECT_EQ(TWGRSAIClient::responseText(std::string("ok\xC3\x28", 4), 240), "");
  EXPECT_EQ(MaskedAPIKey("abcdefgh") + MaskedAPIKey("abcdefg"), "abc…efgh已保存");
}

TEST_F(FilesTest, SameSecondResultsGetACounterAndNothingElseIsLeft) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(ResultFileStem(1767225599), "AI修图-20251231-235959");

  const std::string folder = this->folder();
  for (const auto& [bytes, name] : {std::pair{"first", "AI修图-20260101-120000.png"},
                                    {"second", "AI修图-20260101-120000-2.png"},
                                    {"third", "AI修图-20260101-120000-3.png"}}) {
    auto saved = SaveResultFile(folder, "AI修图-20260101-120000", "png", bytes);
    ASSERT_FALSE(saved.error);
    EXPECT_EQ(saved.fileName, name);
    EXPECT_EQ(ReadWholeFile(saved.filePath), bytes);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 3) << "no temporary file is left";
  EXPECT_TRUE(SaveResultFile(JoinPath(folder, "missing"), "AI修图-20260101-120000", "png", "x").error);
}

class ConfigurationTest : public ServiceTest {};

TEST_F(ConfigurationTest, StartsFromTheStoredSettingsOrTheDefaultsAndMasksTheKey) {
  EXPECT_TRUE(TWCloudAddress(GRSAIDefaultBaseURL()).has_value()) << "the build's default address is valid";
  EXPECT_EQ(TWGRSAIClient::Create(settings(), "https://default.example.com")->stateSnapshot(),
            (Json{{"maskedKey", "未设置"}, {"configured", false}, {"baseURL", "https://default.example.com"},
                  {"model", "nano-banana-2-lite"}, {"status", "未检查"}, {"detail", "请填写 API 密钥后执行连通性检查"}}));
  settings().Set("TWGRSAIAPIKey", "sk-abcdefgh");
  settings().Set("TWGRSAIBaseURL", "https://proxy.example.com/ai");
  settings().Set("TWGRSAIModel", "other-model");
  EXPECT_EQ(TWGRSAIClient::Create(settings(), "https://default.example.com")->stateSnapshot(),
            (Json{{"maskedKey", "sk-…efgh"}, {"configured", true}, {"baseURL", "https://proxy.example.com/ai"},
                  {"model", "other-model"}, {"status", "已配置"}, {"detail", "API 密钥已保存，可执行连通性检查"}}));
}

TEST_F(ConfigurationTest, SavingNormalisesAndTrimsKeepsWhatIsLeftEmptyAndStoresNothingForARejectedAddress) {
  auto client = TWGRSAIClient::Create(settings(), "https://default.example.com");
  client->updateAPIKey("  sk-new-key-123\n", "<https://api.example.com///>", "gen-2");
  EXPECT_EQ(std::tuple(client->status(), client->statusDetail(), client->configured()),
            std::tuple(std::string("已保存"), std::string("API 密钥已保存在当前用户的本地配置中"), true));
  auto other = TWGRSAIClient::Create(settings(), "https://default.example.com");
  EXPECT_EQ(std::tuple(other->apiKey(), other->baseURL(), other->model()),
            std::tuple(std::string("sk-new-key-123"), std::string("https://api.example.com"), std::string("gen-2")));

  client->updateAPIKey(" \n", "https://api2.example.com", "");
  EXPECT_EQ(std::tuple(client->apiKey(), client->baseURL(), settings().GetString("TWGRSAIModel").value_or("")),
            std::tuple(std::string("sk-new-key-123"), std::string("https://api2.example.com"), std::string("gen-2")));

  const std::string fileBefore = ReadWholeFile(settings().path()).value_or("");
  client->updateAPIKey("sk-second-key", "http://api.example.com", "gen-3");
  EXPECT_EQ(std::pair(client->status(), client->statusDetail()),
            std::pair(std::string("地址无效"), std::string("请填写纯 HTTPS 接口网址，不含密钥或查询参数。此次更改未保存。")));
  EXPECT_EQ(std::tuple(client->configured(), client->apiKey(), client->baseURL(), client->model()),
            std::tuple(false, std::string("sk-new-key-123"), std::string("https://api2.example.com"), std::string("gen-2")));
  EXPECT_EQ(ReadWholeFile(settings().path()).value_or(""), fileBefore);
  client->updateAPIKey("", "https://api.example.com", "");
  EXPECT_TRUE(client->configured());
}

TEST_F(ConfigurationTest, TheCheckAnswersWithAStatusWordAfterOneProbeOrWithoutOneWhenItCannotReachTheService) {
  const auto answer = [](int status, Json body) { return Json{{"status", status}, {"json", std::move(body)}}; };
  // Without a key or with a refused address the check answers at once. Nothing listens on port 1; the
  // fake's certificate names 127.0.0.1 only, so the same server reached as "localhost" must fail verification.
  struct Case {
    Json response;  // null: no probe arrives
    std::string status, detail, base = {}, key = kTestKey;
    bool atOnce = false;
  };
  const Case cases[] = {
      {answer(404, {{"code", 404}, {"msg", "task not found"}}), "连接正常", "节点返回 API 数据（HTTP 404），未提交生成；不代表已验证模型额度。"},
      {Json{{"status", 404}, {"text", "<html>Not Found</html>"}, {"content_type", "text/html"}}, "响应格式错误",
       "网络有响应，但不是有效 API 数据，请检查节点地址或网络拦截。"},
      {Json{{"status", 502}, {"text", "bad gateway"}}, "服务异常", "GRS AI 返回 HTTP 502"},
      {answer(418, Json::object()), "节点响应异常", "网络已连通，但接口返回 HTTP 418"},
      {answer(403, Json::object()), "密钥无效", "GRS AI 返回 HTTP 403"},
      {answer(429, Json::object()), "请求过于频繁", "网络已连通，但服务商正在限流，请稍后再检查。"},
      {Json{{"drop", true}}, "连接失败", "网络连接已中断。"},
      {nullptr, "未配置", "请先填写 GRS AI API 密钥", "", "", true},
      {nullptr, "地址无效", "请填写纯 HTTPS 接口网址，不含密钥或查询参数。此次更改未保存。", "http://insecure.example.com", kTestKey, true},
      {nullptr, "连接失败", "未能连接到服务器。", "https://127.0.0.1:1"},
      {nullptr, "连接失败", "发生了 SSL 错误，无法建立与该服务器的安全连接。", "https://localhost:" + std::to_string(fake().port())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.detail);
    fake().Reset();
    if (!c.response.is_null()) fake().Route("GET", "/v1/api/result", c.response);
    settings().Set(kAPIKeySetting, c.key);
    settings().Set(kBaseURLSetting, c.base.empty() ? fake().baseURL() : c.base);
    auto client = TWGRSAIClient::Create(settings(), "https://default.invalid");
    std::optional<Json> answered;
    bool onMain = false;
    client->testConnection([&](Json snapshot) {
      onMain = queues::IsMainThread();
      answered = std::move(snapshot);
    });
    EXPECT_EQ(answered.has_value(), c.atOnce);
    if (!c.atOnce) {
      EXPECT_EQ(std::pair(client->status(), client->statusDetail()), std::pair(std::string("检查中"), std::string("正在连接 GRS AI…")));
    }
    Drive([&] { return answered.has_value(); });
    ASSERT_TRUE(answered);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(std::pair((*answered)["status"], (*answered)["detail"]), std::pair(Json(c.status), Json(c.detail)));
    Json probes = fake().RequestsTo("GET", "/v1/api/result");
    ASSERT_EQ(probes.size(), c.response.is_null() ? 0u : 1u);
    if (probes.empty()) continue;
    EXPECT_TRUE(std::regex_match(probes[0]["query"].get<std::string>(), std::regex("id=tidewick-connectivity-[-0-9A-F]{36}")));
    EXPECT_EQ(probes[0]["headers"]["user-agent"], "TidewickWorkbench/0.7.1");
  }
}

// What one vision request answered, and whether on the main queue.
struct Outcome {
  bool called = false, onMain = false;
  std::optional<Json> result;
  std::optional<Error> error;
  ResultCompletion Recorder() {
    return [this](std::optional<Json> answer, std::optional<Error> failure) {
      called = true;
      onMain = queues::IsMainThread();
      result = std::move(answer);
      error = std::move(failure);
    };
  }
};

using VisionTest = ServiceTest;

TEST_F(VisionTest, SendsPromptImagesAndSettingsInOneChatRequestFromAClientThatLivesUntilItsAnswer) {
  fake().Route("POST", kChatPath, Json::array({ChatAnswer("{\"rating\": 4}", nullptr)}));
  auto client = ConfiguredClient();
  std::weak_ptr<TWGRSAIClient> watch = client;
  Outcome outcome;
  client->analyzePhotosData({"\xFF\xD8one", "\xFF\xD8two"}, "vision-x", "请评估", outcome.Recorder());
  client.reset();
  EXPECT_FALSE(watch.expired());
  Drive([&] { return outcome.called; });
  EXPECT_EQ(outcome.result, (Json{{"rating", 4}, {"usage", Json::object()}}));
  EXPECT_TRUE(watch.expired());
  Json sent = fake().RequestsTo("POST", kChatPath);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["headers"]["authorization"], std::string("Bearer ") + kTestKey);
  EXPECT_EQ(sent[0]["headers"]["content-type"], "application/json");
  Json content = Json::array({{{"type", "text"}, {"text", "请评估"}}});
  for (const char* image : {"\xFF\xD8one", "\xFF\xD8two"}) {
    content.push_back({{"type", "text"}, {"text", std::string("图片 ") + std::to_string(content.size() / 2 + 1)}});
    content.push_back({{"type", "image_url"}, {"image_url", {{"url", "data:image/jpeg;base64," + Base64Encode(image)}}}});
  }
  EXPECT_EQ(ParseJSON(fake().BodiesTo("POST", kChatPath)[0]).value_or(nullptr),
            (Json{{"model", "vision-x"}, {"temperature", 0.05}, {"max_tokens", 550},
                  {"messages", {{{"role", "user"}, {"content", content}}}}}));
}

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
      {ChatAnswer(Json::array({{{"type", "image"}}})), nullptr, 33, noObject},
      {ChatAnswer("{\"issues\": " + deep + "}"), nullptr, 33, noObject},
      {{{"content_type", "application/json"}, {"text", R"({"choices": [{"message": {"content": "{}"}}], "usage": )" + deep + "}"}},
       nullptr, 33, noObject},
      {{{"status", 500}}, nullptr, 500, "云端识别失败（HTTP 500）"},
      {{{"drop", true}}, nullptr, 0, "网络连接已中断。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer.dump().substr(0, 160));
    fake().Route("POST", kChatPath, Json::array({c.answer}));
    auto client = ConfiguredClient();
    Outcome outcome;
    client->analyzePhotosData({"jpeg"}, "", "请评估", outcome.Recorder());
    Drive([&] { return outcome.called; });
    EXPECT_TRUE(outcome.onMain);
    const Error error = outcome.error.value_or(Error{});
    EXPECT_EQ(std::tuple(outcome.result.value_or(nullptr), error.code, error.message), std::tuple(c.result, c.code, c.message));
  }
}

TEST_F(VisionTest, ValidationFailuresAnswerAtOnceAndSendNothing) {
  auto client = ConfiguredClient();
  std::deque<Outcome> outcomes;  // kept: a request sent by mistake answers later
  const auto refusal = [&](const std::vector<std::string>& images) {
    client->analyzePhotosData(images, "", "p", outcomes.emplace_back().Recorder());
    const Error error = outcomes.back().error.value_or(Error{});
    return std::pair(error.code, error.message);
  };
  const auto count = std::pair(32L, std::string("每次云端比较支持 1～3 张图片"));
  EXPECT_EQ(refusal({"a", "b", "c", "d"}), count);
  EXPECT_EQ(refusal({}), count);
  EXPECT_EQ(refusal({"a", ""}), std::pair(32L, std::string("无法准备云端识别预览图")));
  settings().Remove("TWGRSAIAPIKey");
  EXPECT_EQ(refusal({"jpeg"}), std::pair(31L, std::string("请先在设置中填写 GRS AI API 密钥")));
  Drive();
  EXPECT_TRUE(fake().Requests().empty());
  EXPECT_FALSE(client->activeToken());
}

TEST_F(VisionTest, ANewerRequestOrACancelSilencesTheRequestUnderWay) {
  fake().Route("POST", kChatPath, Json::array({ChatAnswer("{\"rating\": 2}")}));
  auto client = ConfiguredClient();
  Outcome older, newer, cancelled;
  client->analyzePhotoData("first", "", "p", older.Recorder());
  client->analyzePhotoData("second", "", "p", newer.Recorder());
  Drive([&] { return newer.called; });
  Drive();
  EXPECT_FALSE(older.called);
  ASSERT_TRUE(newer.result);
  EXPECT_EQ((*newer.result)["rating"], 2);

  // The cancel lands after the answer has left the session's thread, before the main queue runs it.
  struct HeldMain final : MainQueueDriver {
    std::mutex mutex;
    std::vector<Task> tasks;
    void Post(Task task) override {
      std::lock_guard lock(mutex);
      tasks.push_back(std::move(task));
    }
    long Held() {
      std::lock_guard lock(mutex);
      return static_cast<long>(tasks.size());
    }
  } held;
  queues::SetMainDriver(&held);
  client->analyzePhotoData("jpeg", "", "p", cancelled.Recorder());
  EXPECT_TRUE(client->activeToken());
  // Nothing but the held tasks left in flight: the exchange is over and its answer posted.
  while (held.Held() == 0 || queues::InFlightCount() != held.Held()) std::this_thread::yield();
  client->cancelCurrentTask();
  EXPECT_FALSE(client->activeToken());
  queues::SetMainDriver(&loop_);
  for (Task& task : held.tasks) loop_.Post(std::move(task));
  Drive();
  EXPECT_EQ(fake().RequestsTo("POST", kChatPath).size(), 3u);
  EXPECT_FALSE(cancelled.called);
}

constexpr char kResultPath[] = "/v1/api/result";
constexpr char kDownloadPath[] = "/files/result.png";
constexpr char kResultBytes[] = "\x89PNG result bytes";
constexpr char kPolling[] = "GRS AI 正在生成";

struct Report {
  int percent;
  std::string stage, detail;
  bool onCaller;
};

// What one run reported; written from the session's thread and the utility queue.
struct RunRecord {
  std::mutex mutex;
  std::vector<Report> reports;
  int completions = 0;
  std::optional<Json> result;
  std::optional<Error> error;

  std::vector<int> Percents() {
    std::lock_guard lock(mutex);
    std::vector<int> percents;
    for (const auto& report : reports) percents.push_back(report.percent);
    return percents;
  }
  bool Done() {
    std::lock_guard lock(mutex);
    return completions > 0;
  }
};

Json TokenAnswer(const std::string& uploadURL, const std::string& key, bool underData = true) {
  Json fields = {{"token", "upload-token-" + key}, {"key", key}, {"url", uploadURL}, {"domain", "https://cdn.example.com/"}};
  return {{"json", underData ? Json{{"code", 0}, {"data", fields}} : fields}};
}

class GenerationTest : public ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    saveFolder_ = JoinPath(folder(), "AI 结果");
  }

  // Answers for one step of the run: "token", "upload", "generate", "result" or "download".
  void Answer(const std::string& step, Json answers) {
    static const std::map<std::string, std::pair<const char*, const char*>> kSteps = {
        {"token", {"POST", kTokenPath}}, {"upload", {"POST", kUploadPath}}, {"generate", {"POST", kGeneratePath}},
        {"result", {"GET", kResultPath}}, {"download", {"GET", kDownloadPath}}};
    const auto& [method, path] = kSteps.at(step);
    fake().Route(method, path, std::move(answers));
  }

  // One image's upload, a generation answer with the result right away, and the result file.
  void ScriptHappyPath(Json generateAnswers = nullptr) {
    Answer("token", Json::array({TokenAnswer(fake().URL(kUploadPath), "in/1.jpg")}));
    Answer("upload", Json::array({{{"json", {{"ok", true}}}}}));
    Answer("generate", generateAnswers.is_null() ? Json::array({{{"json", {{"results", {{{"url", fake().URL(kDownloadPath)}}}}}}}})
                                                 : generateAnswers);
    Answer("download", Json::array({{{"b64", Base64Encode(kResultBytes)}, {"content_type", "image/png"}}}));
  }

  void Start(TWGRSAIClient& client, RunRecord& run, Json payload,
             std::function<void(const std::string&)> onStage = nullptr) {
    std::thread::id caller = std::this_thread::get_id();
    client.generateWithPayload(
        payload, saveFolder_,
        [&run, caller, onStage](int percent, const std::string& stage, const std::string& detail) {
          {
            std::lock_guard lock(run.mutex);
            run.reports.push_back({percent, stage, detail, std::this_thread::get_id() == caller});
          }
          if (onStage) onStage(stage);
        },
        [&run](std::optional<Json> result, std::optional<Error> error) {
          std::lock_guard lock(run.mutex);
          ++run.completions;
          run.result = std::move(result);
          run.error = std::move(error);
        });
  }

  void Generate(RunRecord& run, Json payload) {
    auto client = ConfiguredClient();
    Start(*client, run, std::move(payload));
    Drive([&] { return run.Done(); });
    Drive();
    EXPECT_EQ(run.completions, 1);
  }

  static Json DataURLPayload(int images = 1) {
    Json list = Json::array();
    for (int i = 0; i < images; ++i) list.push_back("data:image/jpeg;base64," + Base64Encode("jpeg-" + std::to_string(i)));
    return {{"prompt", "去掉背景杂物"}, {"images", list}};
  }

  Json Body(const char* method, const char* path, size_t index = 0) {
    return ParseJSON(fake().BodiesTo(method, path).at(index)).value_or(nullptr);
  }

  std::string saveFolder_;
};

TEST_F(GenerationTest, UploadsTheImagesInOrderSubmitsWithTheSavedModelDownloadsAndSaves) {
  ScriptHappyPath();
  // The last one, a file without extension or type, goes up as PNG.
  const std::string layer = JoinPath(folder(), "layer");
  ASSERT_FALSE(WriteFileAtomically(layer, "layer pixels"));
  Answer("token", Json::array({TokenAnswer(fake().URL(kUploadPath), "a.jpg"), TokenAnswer(fake().URL(kUploadPath), "b.jpg", false),
                               TokenAnswer(fake().URL(kUploadPath), "c.jpg")}));
  auto client = ConfiguredClient();
  client->updateAPIKey("", fake().baseURL(), "nano-banana-pro");
  RunRecord run;
  Json payload = DataURLPayload(2);
  payload["images"].push_back({{"path", layer}});
  payload["imageSize"] = "2K";
  Start(*client, run, payload);
  Drive([&] { return run.Done(); });

  ASSERT_TRUE(run.result) << run.error->message;
  Json result = *run.result;
  std::string fileName = result["fileName"];
  EXPECT_TRUE(std::regex_match(fileName, std::regex("AI修图-\\d{8}-\\d{6}\\.png"))) << fileName;
  EXPECT_EQ(ReadWholeFile(JoinPath(saveFolder_, fileName)), std::string(kResultBytes));
  const std::string dataURL = "data:image/png;base64," + Base64Encode(kResultBytes);
  EXPECT_EQ(result, (Json{{"fileName", fileName}, {"filePath", JoinPath(saveFolder_, fileName)}, {"resultDataUrl", dataURL},
                          {"previewDataUrl", dataURL}, {"remoteURL", fake().URL(kDownloadPath)}}));

  // The key goes to the service only, never to the storage or the download.
  const Json requests = fake().Requests();
  ASSERT_EQ(requests.size(), 8u);
  for (const Json& request : requests) {
    const bool toService = request["path"] == kTokenPath || request["path"] == kGeneratePath;
    EXPECT_EQ(request["headers"].value("authorization", ""), toService ? std::string("Bearer ") + kTestKey : "")
        << request["path"];
  }
  EXPECT_EQ(Body("POST", kTokenPath, 2), (Json{{"sux", "png"}}));
  const Json third = fake().RequestsTo("POST", kUploadPath).at(2);
  const std::string boundary = third["headers"]["content-type"].get<std::string>().substr(30);
  const std::string field = "--" + boundary + "\r\nContent-Disposition: form-data; name=";
  EXPECT_EQ(fake().BodiesTo("POST", kUploadPath).at(2),
            field + "\"token\"\r\n\r\nupload-token-c.jpg\r\n" + field + "\"key\"\r\n\r\nc.jpg\r\n" + field +
                "\"file\"; filename=\"image.png\"\r\nContent-Type: image/png\r\n\r\nlayer pixels\r\n--" + boundary + "--\r\n");
  EXPECT_EQ(third["headers"]["content-type"], "multipart/form-data; boundary=" + boundary);
  EXPECT_EQ(Body("POST", kGeneratePath), (Json{{"model", "nano-banana-pro"}, {"prompt", "去掉背景杂物"}, {"aspectRatio", "1:1"},
                                               {"imageSize", "2K"}, {"replyType", "async"},
                                               {"images", {"https://cdn.example.com/a.jpg", "https://cdn.example.com/b.jpg",
                                                           "https://cdn.example.com/c.jpg"}}}));

  // The first two reports come synchronously from the caller's thread, the rest from the session.
  std::lock_guard lock(run.mutex);
  std::vector<std::tuple<int, std::string, std::string, bool>> reports;
  for (const auto& r : run.reports) reports.emplace_back(r.percent, r.stage, r.detail, r.onCaller);
  const char *token = "不会消耗生成额度", *upload = "上传完成后才会提交生成";
  EXPECT_EQ(reports, (decltype(reports){{3, "已收到生成请求", "正在准备安全上传", true},
                                        {8, "正在申请第 1 张图片的上传凭证", token, true},
                                        {15, "正在上传第 1 张输入图片", upload, false},
                                        {13, "正在申请第 2 张图片的上传凭证", token, false},
                                        {20, "正在上传第 2 张输入图片", upload, false},
                                        {18, "正在申请第 3 张图片的上传凭证", token, false},
                                        {25, "正在上传第 3 张输入图片", upload, false},
                                        {26, "输入图片上传完成，正在提交生成", "从此步骤开始可能产生额度费用", false},
                                        {94, "正在下载生成结果", "将保存到本地", false},
                                        {100, "生成完成", "正在送回 Photoshop", false}}));
}

TEST_F(GenerationTest, StartFailuresAnswerAtOnce) {
  auto client = ConfiguredClient();
  auto startWith = [&](Json payload, std::string location) {
    std::optional<Error> error;
    client->generateWithPayload(payload, location, nullptr, [&](std::optional<Json>, std::optional<Error> e) { error = e; });
    return error ? std::pair{error->code, error->message} : std::pair{0L, std::string()};
  };
  EXPECT_EQ(startWith(DataURLPayload(), ""), std::pair(2L, std::string("请先设置 AI 生成图片保存位置")));
  EXPECT_EQ(startWith({{"images", {"data:image/png;base64,AAAA"}}}, saveFolder_), std::pair(3L, std::string("修图提示词或原图缺失")));
  settings().Remove("TWGRSAIAPIKey");
  EXPECT_EQ(startWith(DataURLPayload(), saveFolder_), std::pair(1L, std::string("请先在主 App 设置 GRS AI API 密钥")));
  Drive();
  EXPECT_TRUE(fake().Requests().empty());
}

TEST_F(GenerationTest, AnswersThatEndTheRunWithTheirErrorAndSaveNothing) {
  const Json polled = Json::array({{{"json", {{"id", "t1"}}}}});
  const auto poll = [](Json final) { return Json::array({{{"json", {{"status", "running"}}}}, std::move(final)}); };
  // One step's answers replace the happy path's; the error the run ends with; generation requests sent.
  struct Case {
    const char* step;
    Json answers;
    long code;
    std::string message;
    size_t submissions;
  };
  const Case cases[] = {
      {"token", {{{"json", {{"data", {{"token", "t"}, {"key", "k"}, {"url", "https://up.example.com"}}}}}}}, 12,
       "GRS AI 上传凭证缺少 token、key、url 或 domain", 0},
      {"token", {{{"status", 500}, {"json", {{"msg", "存储服务繁忙"}}}}}, 500, "存储服务繁忙", 0},
      {"token", {{{"status", 200}, {"text", "<html>gateway</html>"}}}, 200, "获取上传凭证失败（HTTP 200）：<html>gateway</html>", 0},
      {"token", {{{"drop", true}}}, 11, "网络连接已中断。", 0},
      {"upload", {{{"status", 403}, {"text", "signature expired"}}}, 403, "第 1 张图片上传失败（HTTP 403）：signature expired", 0},
      {"upload", {{{"drop", true}}}, 13, "第 1 张图片上传失败（HTTP 0）：网络连接已中断。", 0},
      // A 504 is sent once more, anything else is not.
      {"generate", {{{"status", 504}}}, 504, "GRS AI HTTP 504", 2},
      {"generate", {{{"status", 400}, {"json", {{"error", {{"message", "提示词违规"}}}}}}}, 400, "提示词违规", 1},
      {"generate", {{{"json", {{"code", 0}}}}}, 4, "GRS AI 未返回任务 ID", 1},
      {"generate", {{{"json", {{"results", {"file:///etc/hostname"}}}}}}, 7, "GRS AI 未返回可下载的图片", 1},
      {"result", poll({{"json", {{"data", {{"status", "FAILED"}}}, {"failure_reason", "模型超时"}}}}), 6, "模型超时", 1},
      {"result", poll({{"json", {{"status", "violation"}}}}), 6, "GRS AI 内容审核未通过", 1},
      {"result", poll({{"json", {{"status", "error"}}}}), 6, "GRS AI 生成失败", 1},
      {"result", poll({{"status", 200}, {"text", "busy"}}), 200, "GRS AI 查询失败（HTTP 200）", 1},
      {"download", {{{"size", 31457281}, {"fill", "Z"}}}, 9, "结果图片超过 30 MB，已停止自动回传", 1},
      {"download", {{{"status", 404}, {"text", "gone"}}}, 8, "结果图片下载失败（HTTP 404）", 1},
      {"download", {{{"status", 200}}}, 8, "结果图片下载失败（HTTP 200）", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    fake().Reset();
    ScriptHappyPath(std::string(c.step) == "result" ? polled : nullptr);
    Answer(c.step, c.answers);
    RunRecord run;
    Generate(run, DataURLPayload());
    ASSERT_TRUE(run.error);
    EXPECT_EQ(std::pair(run.error->code, run.error->message), std::pair(c.code, c.message));
    EXPECT_EQ(fake().RequestsTo("POST", kGeneratePath).size(), c.submissions);
    EXPECT_FALSE(IsDirectory(saveFolder_) && !std::filesystem::is_empty(saveFolder_));
  }

  fake().Reset();
  ScriptHappyPath();
  RunRecord unreadable;
  Generate(unreadable, {{"prompt", "p"}, {"images", {"data:image/png;base64,AAAA", {{"path", JoinPath(folder(), "none")}}}}});
  ASSERT_TRUE(unreadable.error);
  EXPECT_EQ(std::pair(unreadable.error->code, unreadable.error->message), std::pair(10L, std::string("第 2 张输入图片格式无效")));
  EXPECT_EQ(fake().RequestsTo("POST", kTokenPath).size(), 1u);
  ASSERT_FALSE(WriteFileAtomically(saveFolder_, "a file where the folder should be"));
  RunRecord unwritable;
  Generate(unwritable, DataURLPayload());
  ASSERT_TRUE(unwritable.error);
  EXPECT_TRUE(unwritable.error->message.starts_with("无法保存生成结果：")) << unwritable.error->message;
}

TEST_F(GenerationTest, AFinishedStatusInMixedCaseOrAPlainAddressSkipsPollingAndAnOpenTaskIsPolledToItsEnd) {
  for (const Json& answer : {Json{{"data", {{"status", "SucCeeded"}}}, {"url", fake().URL(kDownloadPath)}},
                             Json{{"data", {{"results", {fake().URL(kDownloadPath), "https://other.example"}}}}}}) {
    fake().Reset();
    ScriptHappyPath(Json::array({{{"json", answer}}}));
    RunRecord run;
    Generate(run, DataURLPayload());
    ASSERT_TRUE(run.result) << run.error->message;
    EXPECT_EQ((*run.result)["remoteURL"], fake().URL(kDownloadPath));
    EXPECT_TRUE(fake().RequestsTo("GET", kResultPath).empty());
    EXPECT_EQ(fake().RequestsTo("GET", kDownloadPath).size(), 1u);
  }

  fake().Reset();
  ScriptHappyPath(Json::array({{{"json", {{"code", 0}, {"data", {{"id", "task 7&x"}}}}}}}));
  Answer("result", Json::array({{{"json", {{"status", "running"}}}}, {{"json", {{"data", {{"status", "queued"}}}}}},
                                {{"json", {{"data", {{"status", "Completed"}, {"results", {{{"url", fake().URL(kDownloadPath)}}}}}}}}}}));
  RunRecord run;
  Generate(run, DataURLPayload());
  ASSERT_TRUE(run.result) << run.error->message;
  Json polls = fake().RequestsTo("GET", kResultPath);
  ASSERT_EQ(polls.size(), 3u);
  EXPECT_EQ(polls[0]["query"], "id=task%207%26x");
  EXPECT_EQ(polls[0]["headers"]["authorization"], std::string("Bearer ") + kTestKey);
  EXPECT_EQ(run.Percents(), (std::vector<int>{3, 8, 15, 26, 30, 30, 30, 94, 100}));
}

TEST_F(GenerationTest, A504IsSentOnceMoreTwoSecondsLaterAndAResultOfExactly30MiBIsSaved) {
  ScriptHappyPath(Json::array({{{"status", 504}, {"text", "gateway timeout"}}, {{"json", {{"results", {fake().URL(kDownloadPath)}}}}}}));
  Answer("download", Json::array({{{"size", 31457280}, {"fill", "Z"}, {"content_type", "image/jpeg"}}}));
  auto client = ConfiguredClient();
  RunRecord run;
  Start(*client, run, DataURLPayload());
  loop_.RunUntilQuiet();
  EXPECT_EQ(queues::PendingManualTimers(), 1);
  queues::AdvanceClock(std::chrono::milliseconds(1999));
  loop_.RunUntilQuiet();
  EXPECT_EQ(fake().RequestsTo("POST", kGeneratePath).size(), 1u);
  queues::AdvanceClock(std::chrono::milliseconds(1));
  Drive([&] { return run.Done(); });
  ASSERT_TRUE(run.result) << run.error->message;
  Json generates = fake().RequestsTo("POST", kGeneratePath);
  ASSERT_EQ(generates.size(), 2u);
  EXPECT_EQ(generates[0]["body_b64"], generates[1]["body_b64"]);
  EXPECT_EQ(run.Percents(), (std::vector<int>{3, 8, 15, 26, 6, 94, 100}));
  const std::string path = (*run.result)["filePath"];
  EXPECT_TRUE(path.ends_with(".jpg"));
  EXPECT_EQ(StatPath(path).size, 31457280u);
  EXPECT_TRUE((*run.result)["resultDataUrl"].get<std::string>().starts_with("data:image/jpeg;base64,WlpaWlpa"));
}

TEST_F(GenerationTest, GivesUpAfter180PollsWhileTheStageRisesFrom30To89) {
  ScriptHappyPath(Json::array({{{"json", {{"taskId", "slow-task"}}}}}));
  Answer("result", Json::array({{{"json", {{"data", {{"status", "processing"}}}}}}}));
  RunRecord run;
  Generate(run, DataURLPayload());
  ASSERT_TRUE(run.error);
  EXPECT_EQ(std::pair(run.error->code, run.error->message), std::pair(5L, std::string("GRS AI 超过 6 分钟仍未完成，请稍后重试")));
  EXPECT_EQ(fake().RequestsTo("GET", kResultPath).size(), 180u);
  std::vector<Report> polling;
  std::copy_if(run.reports.begin(), run.reports.end(), std::back_inserter(polling), [](const Report& r) { return r.stage == kPolling; });
  ASSERT_EQ(polling.size(), 180u);
  EXPECT_EQ(std::tuple(polling.front().percent, polling.back().percent, polling.back().detail), std::tuple(30, 89, std::string("已等待 358 秒")));
  for (size_t i = 1; i < polling.size(); ++i) EXPECT_GE(polling[i].percent, polling[i - 1].percent);
}

TEST_F(GenerationTest, CancellingAtAStageEndsTheRunBeforeItsNextRequest) {
  struct Case {
    const char* stage;
    Json generateAnswers;
    size_t tokens, uploads, submissions, polls;
  };
  const Json retried = Json::array({{{"status", 504}}, {{"json", {{"results", {fake().URL(kDownloadPath)}}}}}});
  for (const Case& at : {Case{"正在上传第 1 张输入图片", nullptr, 1, 1, 0, 0}, Case{"提交超时，正在自动重试", retried, 2, 2, 1, 0},
                         Case{kPolling, Json::array({{{"json", {{"id", "t1"}}}}}), 1, 1, 1, 2}}) {
    SCOPED_TRACE(at.stage);
    fake().Reset();
    ScriptHappyPath(at.generateAnswers);
    Answer("result", Json::array({{{"json", {{"status", "running"}}}}}));
    auto client = ConfiguredClient();
    RunRecord run;
    size_t seen = 0;
    // While polling, the cancel comes after two polls were answered, before the third.
    Start(*client, run, at.polls ? DataURLPayload(1) : DataURLPayload(2), [&](const std::string& stage) {
      if (stage == at.stage && ++seen == at.polls + 1) client->cancelCurrentTask();
    });
    Drive([&] { return run.Done(); });
    ASSERT_TRUE(run.error);
    EXPECT_EQ(std::pair(run.error->code, run.error->message), std::pair(-999L, std::string("任务已取消")));
    EXPECT_EQ(fake().RequestsTo("POST", kTokenPath).size(), at.tokens);
    EXPECT_EQ(fake().RequestsTo("POST", kUploadPath).size(), at.uploads);
    EXPECT_EQ(fake().RequestsTo("POST", kGeneratePath).size(), at.submissions);
    EXPECT_EQ(fake().RequestsTo("GET", kResultPath).size(), at.polls);
  }
}

TEST_F(GenerationTest, ANewerRunOrAVisionRequestSilencesTheRunningOne) {
  ScriptHappyPath();
  fake().Route("POST", kChatPath, Json::array({ChatAnswer("{\"rating\":3}")}));
  auto client = ConfiguredClient();
  RunRecord older, newer;
  Start(*client, older, DataURLPayload(2));
  Start(*client, newer, DataURLPayload(1));
  Drive([&] { return older.Done() && newer.Done(); });
  ASSERT_TRUE(older.error && newer.result);
  EXPECT_EQ(older.error->code, -999);
  EXPECT_FALSE(client->activeToken());
  EXPECT_EQ(fake().RequestsTo("POST", kGeneratePath).size(), 1u);

  RunRecord run;
  Start(*client, run, DataURLPayload(2));
  bool visionDone = false;
  client->analyzePhotoData("jpeg", "", "p", [&](std::optional<Json> result, std::optional<Error>) { visionDone = result.has_value(); });
  Drive([&] { return run.Done() && visionDone; });
  ASSERT_TRUE(run.error);
  EXPECT_EQ(run.error->code, -999);
}

}  // namespace
}  // namespace tw::ai::testing
