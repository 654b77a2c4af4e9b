// The generation pipeline against the fake: uploads, submission with its single retry, polling,
// download and saving, progress reports, errors and cancellation.
#include "service_test_fixture.hpp"

#include "ai/base64.hpp"
#include "base/files.hpp"

#include <filesystem>
#include <mutex>

namespace tw::ai::testing {
namespace {

constexpr char kTokenPath[] = "/client/resource/newUploadTokenZH";
constexpr char kUploadPath[] = "/storage/upload";
constexpr char kGeneratePath[] = "/v1/api/generate";
constexpr char kResultPath[] = "/v1/api/result";
constexpr char kDownloadPath[] = "/files/result.png";
constexpr char kResultBytes[] = "\x89PNG result bytes";

struct Report {
  int percent;
  std::string stage;
  std::string detail;
  bool onCaller;
};

// What one run reported; written from the session's thread and the utility queue.
struct RunRecord {
  std::mutex mutex;
  std::vector<Report> reports;
  bool done = false;
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
    return done;
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

  // One image's worth of upload answers, a generation answer with the result right away, and
  // the result file.
  void ScriptHappyPath(Json generateAnswers = nullptr) {
    fake().Route("POST", kTokenPath, Json::array({TokenAnswer(fake().URL(kUploadPath), "in/1.jpg")}));
    fake().Route("POST", kUploadPath, Json::array({{{"json", {{"ok", true}}}}}));
    if (generateAnswers.is_null()) {
      generateAnswers = Json::array({{{"json", {{"results", Json::array({{{"url", fake().URL(kDownloadPath)}}})}}}}});
    }
    fake().Route("POST", kGeneratePath, generateAnswers);
    fake().Route("GET", kDownloadPath,
                 Json::array({{{"b64", Base64Encode(kResultBytes)}, {"content_type", "image/png"}}}));
  }

  void Start(TWGRSAIClient& client, RunRecord& run, Json payload) {
    std::thread::id caller = std::this_thread::get_id();
    client.generateWithPayload(
        payload, saveFolder_,
        [&run, caller](int percent, const std::string& stage, const std::string& detail) {
          std::lock_guard lock(run.mutex);
          run.reports.push_back({percent, stage, detail, std::this_thread::get_id() == caller});
        },
        [&run](std::optional<Json> result, std::optional<Error> error) {
          std::lock_guard lock(run.mutex);
          run.done = true;
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

  size_t FilesSaved() {
    if (!IsDirectory(saveFolder_)) return 0;
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(saveFolder_)) count += entry.is_regular_file();
    return count;
  }

  std::string saveFolder_;
};

// ---- a whole run ----

TEST_F(GenerationTest, UploadsSubmitsDownloadsAndSaves) {
  ScriptHappyPath();
  Json multipart = {{"token", "upload-token-in/1.jpg"}, {"key", "in/1.jpg"}, {"filename", "image.jpg"},
                    {"content_type", "image/jpeg"}, {"file_b64", Base64Encode("jpeg-0")}};
  fake().Route("POST", kUploadPath, Json::array({{{"json", {{"ok", true}}}, {"multipart", multipart}}}));

  auto client = ConfiguredClient();
  RunRecord run;
  Start(*client, run, DataURLPayload());
  Drive([&] { return run.Done(); });

  ASSERT_FALSE(run.error) << run.error->message;
  ASSERT_TRUE(run.result);
  const Json& result = *run.result;
  std::string fileName = result["fileName"];
  EXPECT_TRUE(fileName.starts_with("AI修图-")) << fileName;
  EXPECT_TRUE(fileName.ends_with(".png")) << fileName;
  EXPECT_EQ(fileName.size(), std::string("AI修图-20260101-120000.png").size());
  EXPECT_EQ(result["filePath"], JoinPath(saveFolder_, fileName));
  EXPECT_EQ(ReadWholeFile(result["filePath"]), std::string(kResultBytes));
  EXPECT_EQ(result["resultDataUrl"], "data:image/png;base64," + Base64Encode(kResultBytes));
  EXPECT_EQ(result["previewDataUrl"], result["resultDataUrl"]);
  EXPECT_EQ(result["remoteURL"], fake().URL(kDownloadPath));
  EXPECT_FALSE(client->activeToken());

  Json tokens = fake().RequestsTo("POST", kTokenPath);
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(Body("POST", kTokenPath), (Json{{"sux", "jpg"}}));
  EXPECT_EQ(tokens[0]["headers"]["authorization"], std::string("Bearer ") + kTestKey);

  Json uploads = fake().RequestsTo("POST", kUploadPath);
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_FALSE(uploads[0]["headers"].contains("authorization"));
  EXPECT_FALSE(uploads[0]["headers"].contains("user-agent"));
  std::string contentType = uploads[0]["headers"]["content-type"];
  EXPECT_TRUE(contentType.starts_with("multipart/form-data; boundary=Tidewick-")) << contentType;
  EXPECT_EQ(contentType.size(), std::string("multipart/form-data; boundary=Tidewick-").size() + 36);

  Json generates = fake().RequestsTo("POST", kGeneratePath);
  ASSERT_EQ(generates.size(), 1u);
  EXPECT_EQ(Body("POST", kGeneratePath), (Json{{"model", "nano-banana-2-lite"},
                                        {"prompt", "去掉背景杂物"},
                                        {"images", {"https://cdn.example.com/in/1.jpg"}},
                                        {"aspectRatio", "1:1"},
                                        {"imageSize", "1K"},
                                        {"replyType", "async"}}));
  EXPECT_TRUE(fake().RequestsTo("GET", kResultPath).empty());
  Json downloads = fake().RequestsTo("GET", kDownloadPath);
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_FALSE(downloads[0]["headers"].contains("authorization"));

  EXPECT_EQ(run.Percents(), (std::vector<int>{3, 8, 15, 26, 94, 100}));
  std::lock_guard lock(run.mutex);
  std::vector<std::pair<std::string, std::string>> texts;
  for (const auto& report : run.reports) texts.emplace_back(report.stage, report.detail);
  EXPECT_EQ(texts, (std::vector<std::pair<std::string, std::string>>{
                       {"已收到生成请求", "正在准备安全上传"},
                       {"正在申请第 1 张图片的上传凭证", "不会消耗生成额度"},
                       {"正在上传第 1 张输入图片", "上传完成后才会提交生成"},
                       {"输入图片上传完成，正在提交生成", "从此步骤开始可能产生额度费用"},
                       {"正在下载生成结果", "将保存到本地"},
                       {"生成完成", "正在送回 Photoshop"}}));
  // The first reports come synchronously from the caller's thread, the rest from the session.
  EXPECT_TRUE(run.reports[0].onCaller);
  EXPECT_TRUE(run.reports[1].onCaller);
  EXPECT_FALSE(run.reports[2].onCaller);
  EXPECT_FALSE(run.reports[5].onCaller);
}

TEST_F(GenerationTest, ThreeImagesKeepTheirOrderWithTheChosenRatioSizeAndSavedModel) {
  ScriptHappyPath();
  // The last one, a file without extension or type, goes up as PNG.
  std::string layer = JoinPath(folder(), "layer");
  ASSERT_FALSE(WriteFileAtomically(layer, "layer pixels"));
  Json multipart = {{"token", "upload-token-c.jpg"}, {"key", "c.jpg"}, {"filename", "image.png"},
                    {"content_type", "image/png"}, {"file_b64", Base64Encode("layer pixels")}};
  const Json uploaded = {{"json", {{"ok", true}}}};
  fake().Route("POST", kUploadPath, Json::array({uploaded, uploaded, {{"json", Json::object()}, {"multipart", multipart}}}));
  fake().Route("POST", kTokenPath,
               Json::array({TokenAnswer(fake().URL(kUploadPath), "a.jpg"), TokenAnswer(fake().URL(kUploadPath), "b.jpg", false),
                            TokenAnswer(fake().URL(kUploadPath), "c.jpg")}));
  auto client = ConfiguredClient();
  client->updateAPIKey("", fake().baseURL(), "nano-banana-pro");
  RunRecord run;
  Json payload = DataURLPayload(2);
  payload["images"].push_back({{"path", layer}});
  payload["aspectRatio"] = "3:4";
  payload["imageSize"] = "2K";
  Start(*client, run, payload);
  Drive([&] { return run.Done(); });
  ASSERT_TRUE(run.result) << run.error->message;
  EXPECT_EQ(run.Percents(), (std::vector<int>{3, 8, 15, 13, 20, 18, 25, 26, 94, 100}));
  {
    std::lock_guard lock(run.mutex);
    EXPECT_EQ(run.reports[5].stage, "正在申请第 3 张图片的上传凭证");
    EXPECT_EQ(run.reports[6].stage, "正在上传第 3 张输入图片");
  }
  EXPECT_EQ(Body("POST", kTokenPath, 2), (Json{{"sux", "png"}}));
  Json body = Body("POST", kGeneratePath);
  EXPECT_EQ(body["images"], (Json{"https://cdn.example.com/a.jpg", "https://cdn.example.com/b.jpg",
                                  "https://cdn.example.com/c.jpg"}));
  EXPECT_EQ(body["model"], "nano-banana-pro");
  EXPECT_EQ(body["aspectRatio"], "3:4");
  EXPECT_EQ(body["imageSize"], "2K");
}

// ---- failures ----

TEST_F(GenerationTest, StartFailuresAnswerAtOnce) {
  auto client = ConfiguredClient();
  auto startWith = [&](Json payload, std::string location) {
    std::optional<Error> error;
    client->generateWithPayload(payload, location, nullptr,
                                [&](std::optional<Json>, std::optional<Error> e) { error = std::move(e); });
    return error ? std::pair{error->code, error->message} : std::pair{0L, std::string()};
  };
  EXPECT_EQ(startWith(DataURLPayload(), ""), std::pair(2L, std::string("请先设置 AI 生成图片保存位置")));
  EXPECT_EQ(startWith({{"images", {"data:image/png;base64,AAAA"}}}, saveFolder_),
            std::pair(3L, std::string("修图提示词或原图缺失")));
  EXPECT_EQ(startWith({{"prompt", "p"}, {"images", Json::array()}}, saveFolder_).first, 3);
  settings().Remove("TWGRSAIAPIKey");
  EXPECT_EQ(startWith(DataURLPayload(), saveFolder_), std::pair(1L, std::string("请先在主 App 设置 GRS AI API 密钥")));
  Drive();
  EXPECT_TRUE(fake().Requests().empty());
}

TEST_F(GenerationTest, AnUnreadableImageOrAnUnwritableFolderEndsTheRunWithItsError) {
  ScriptHappyPath();
  std::string empty = JoinPath(folder(), "empty.png");
  ASSERT_FALSE(WriteFileAtomically(empty, ""));
  RunRecord unreadable;
  Generate(unreadable, {{"prompt", "p"}, {"images", {"data:image/png;base64,AAAA", {{"path", empty}}}}});
  ASSERT_TRUE(unreadable.error);
  EXPECT_EQ(unreadable.error->code, 10);
  EXPECT_EQ(unreadable.error->message, "第 2 张输入图片格式无效");
  EXPECT_EQ(fake().RequestsTo("POST", kTokenPath).size(), 1u);
  EXPECT_TRUE(fake().RequestsTo("POST", kGeneratePath).empty());

  ASSERT_FALSE(WriteFileAtomically(saveFolder_, "a file where the folder should be"));
  RunRecord unwritable;
  Generate(unwritable, DataURLPayload());
  ASSERT_TRUE(unwritable.error);
  EXPECT_NE(unwritable.error->domain, "com.avo.tidewick.grsai");
  EXPECT_TRUE(unwritable.error->message.starts_with("无法保存生成结果：")) << unwritable.error->message;
}

// One answer of the service replaced in the happy path ("METHOD path" → answers), and the error the
// run ends with; nothing is saved.
struct FailureCase {
  const char* name;
  Json routes;
  long code;
  std::string message;
  size_t submissions;  // generation requests sent
};

void PrintTo(const FailureCase& failure, std::ostream* out) { *out << failure.name; }

class GenerationFailureTest : public GenerationTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(GenerationFailureTest, EndsTheRunWithItsError) {
  ScriptHappyPath();
  for (const auto& [route, answers] : GetParam().routes.items()) {
    const size_t space = route.find(' ');
    fake().Route(route.substr(0, space), route.substr(space + 1), answers);
  }
  RunRecord run;
  Generate(run, DataURLPayload());
  ASSERT_TRUE(run.error);
  EXPECT_EQ(run.error->code, GetParam().code);
  EXPECT_EQ(run.error->message, GetParam().message);
  EXPECT_EQ(fake().RequestsTo("POST", kGeneratePath).size(), GetParam().submissions);
  EXPECT_EQ(FilesSaved(), 0u);
}

const Json kPolled = Json::array({{{"json", {{"id", "t1"}}}}});
Json PollAnswer(Json final) { return Json::array({{{"json", {{"status", "running"}}}}, std::move(final)}); }

INSTANTIATE_TEST_SUITE_P(
    Answers, GenerationFailureTest,
    ::testing::Values(
        // The upload token.
        FailureCase{"TokenMissingDomain",
                    {{"POST /client/resource/newUploadTokenZH",
                      {{{"json", {{"data", {{"token", "t"}, {"key", "k"}, {"url", "https://up.example.com"}}}}}}}}},
                    12, "GRS AI 上传凭证缺少 token、key、url 或 domain", 0},
        FailureCase{"TokenNumericKey",
                    {{"POST /client/resource/newUploadTokenZH",
                      {{{"json", {{"token", "t"}, {"key", 5}, {"url", "https://up"}, {"domain", "https://cdn"}}}}}}},
                    12, "GRS AI 上传凭证缺少 token、key、url 或 domain", 0},
        FailureCase{"TokenServiceText",
                    {{"POST /client/resource/newUploadTokenZH", {{{"status", 500}, {"json", {{"msg", "存储服务繁忙"}}}}}}},
                    500, "存储服务繁忙", 0},
        FailureCase{"TokenNotJSON",
                    {{"POST /client/resource/newUploadTokenZH", {{{"status", 200}, {"text", "<html>gateway</html>"}}}}},
                    200, "获取上传凭证失败（HTTP 200）：<html>gateway</html>", 0},
        FailureCase{"TokenDropped", {{"POST /client/resource/newUploadTokenZH", {{{"drop", true}}}}}, 11,
                    "网络连接已中断。", 0},
        // The upload.
        FailureCase{"Upload403", {{"POST /storage/upload", {{{"status", 403}, {"text", "signature expired"}}}}}, 403,
                    "第 1 张图片上传失败（HTTP 403）：signature expired", 0},
        FailureCase{"UploadDropped", {{"POST /storage/upload", {{{"drop", true}}}}}, 13,
                    "第 1 张图片上传失败（HTTP 0）：网络连接已中断。", 0},
        // The submission: a 504 is sent once more, anything else is not.
        FailureCase{"Second504", {{"POST /v1/api/generate", {{{"status", 504}}}}}, 504, "GRS AI HTTP 504", 2},
        FailureCase{"Refused400",
                    {{"POST /v1/api/generate", {{{"status", 400}, {"json", {{"error", {{"message", "提示词违规"}}}}}}}}},
                    400, "提示词违规", 1},
        FailureCase{"NoResultStatusOrTask", {{"POST /v1/api/generate", {{{"json", {{"code", 0}}}}}}}, 4,
                    "GRS AI 未返回任务 ID", 1},
        FailureCase{"KeyEchoedIsMasked",
                    {{"POST /v1/api/generate", {{{"status", 401}, {"json", {{"message", std::string("bad key: ") + kTestKey}}}}}}},
                    401, "bad key: " + MaskedAPIKey(kTestKey), 1},
        // Polling.
        FailureCase{"PollFailedWithReason",
                    {{"POST /v1/api/generate", kPolled},
                     {"GET /v1/api/result", PollAnswer({{"json", {{"data", {{"status", "FAILED"}}}, {"failure_reason", "模型超时"}}}})}},
                    6, "模型超时", 1},
        FailureCase{"PollViolation",
                    {{"POST /v1/api/generate", kPolled}, {"GET /v1/api/result", PollAnswer({{"json", {{"status", "violation"}}}})}},
                    6, "GRS AI 内容审核未通过", 1},
        FailureCase{"PollError",
                    {{"POST /v1/api/generate", kPolled}, {"GET /v1/api/result", PollAnswer({{"json", {{"status", "error"}}}})}},
                    6, "GRS AI 生成失败", 1},
        FailureCase{"Poll502",
                    {{"POST /v1/api/generate", kPolled},
                     {"GET /v1/api/result", PollAnswer({{"status", 502}, {"text", "bad gateway"}})}},
                    502, "GRS AI 查询失败（HTTP 502）", 1},
        FailureCase{"PollNotJSON",
                    {{"POST /v1/api/generate", kPolled}, {"GET /v1/api/result", PollAnswer({{"status", 200}, {"text", "busy"}})}},
                    200, "GRS AI 查询失败（HTTP 200）", 1},
        // The result: an address to download, over HTTP only, of at most 30 MiB.
        FailureCase{"FinalWithoutAddress",
                    {{"POST /v1/api/generate", kPolled},
                     {"GET /v1/api/result", {{{"json", {{"status", "succeeded"}, {"results", {{{"id", 1}}}}}}}}}},
                    7, "GRS AI 未返回可下载的图片", 1},
        FailureCase{"LocalFileNeverFetched", {{"POST /v1/api/generate", {{{"json", {{"results", {"file:///etc/hostname"}}}}}}}},
                    7, "GRS AI 未返回可下载的图片", 1},
        FailureCase{"OneByteOver30MiB", {{"GET /files/result.png", {{{"size", 31457281}, {"fill", "Z"}}}}}, 9,
                    "结果图片超过 30 MB，已停止自动回传", 1},
        FailureCase{"Download404", {{"GET /files/result.png", {{{"status", 404}, {"text", "gone"}}}}}, 8,
                    "结果图片下载失败（HTTP 404）", 1},
        FailureCase{"DownloadEmpty", {{"GET /files/result.png", {{{"status", 200}}}}}, 8, "结果图片下载失败（HTTP 200）",
                    1}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// ---- submission, polling and the result ----

TEST_F(GenerationTest, AFinishedStatusInMixedCaseOrAPlainAddressSkipsPolling) {
  for (const Json& answer :
       {Json{{"data", {{"status", "SucCeeded"}}}, {"url", fake().URL(kDownloadPath)}},
        Json{{"data", {{"results", {fake().URL(kDownloadPath), "https://other.example"}}}}}}) {
    fake().Reset();
    ScriptHappyPath(Json::array({{{"json", answer}}}));
    RunRecord run;
    Generate(run, DataURLPayload());
    ASSERT_FALSE(run.error) << run.error->message;
    EXPECT_EQ((*run.result)["remoteURL"], fake().URL(kDownloadPath));
    EXPECT_TRUE(fake().RequestsTo("GET", kResultPath).empty());
    EXPECT_EQ(fake().RequestsTo("GET", kDownloadPath).size(), 1u);
  }
}

TEST_F(GenerationTest, A504IsSentOnceMoreTwoSecondsLater) {
  ScriptHappyPath(Json::array({{{"status", 504}, {"text", "gateway timeout"}},
                               {{"json", {{"results", {fake().URL(kDownloadPath)}}}}}}));
  auto client = ConfiguredClient();
  RunRecord run;
  Start(*client, run, DataURLPayload());
  loop_.RunUntilQuiet();
  EXPECT_EQ(queues::PendingManualTimers(), 1);
  EXPECT_EQ(fake().RequestsTo("POST", kGeneratePath).size(), 1u);
  queues::AdvanceClock(std::chrono::milliseconds(1999));
  loop_.RunUntilQuiet();
  EXPECT_EQ(fake().RequestsTo("POST", kGeneratePath).size(), 1u);
  queues::AdvanceClock(std::chrono::milliseconds(1));
  Drive([&] { return run.Done(); });
  ASSERT_FALSE(run.error) << run.error->message;
  Json generates = fake().RequestsTo("POST", kGeneratePath);
  ASSERT_EQ(generates.size(), 2u);
  EXPECT_EQ(generates[0]["body_b64"], generates[1]["body_b64"]);
  EXPECT_EQ(run.Percents(), (std::vector<int>{3, 8, 15, 26, 6, 94, 100}));
  std::lock_guard lock(run.mutex);
  EXPECT_EQ(run.reports[4].stage, "提交超时，正在自动重试");
  EXPECT_EQ(run.reports[4].detail, "本次仅重试一次");
}

TEST_F(GenerationTest, PollsTheTaskUntilItFinishes) {
  ScriptHappyPath(Json::array({{{"json", {{"code", 0}, {"data", {{"id", "task 7&x"}}}}}}}));
  fake().Route("GET", kResultPath,
               Json::array({{{"json", {{"status", "running"}}}},
                            {{"json", {{"data", {{"status", "queued"}}}}}},
                            {{"json", {{"data", {{"status", "Completed"}, {"results", {{{"url", fake().URL(kDownloadPath)}}}}}}}}}}));
  RunRecord run;
  Generate(run, DataURLPayload());
  ASSERT_FALSE(run.error) << run.error->message;
  Json polls = fake().RequestsTo("GET", kResultPath);
  ASSERT_EQ(polls.size(), 3u);
  EXPECT_EQ(polls[0]["query"], "id=task%207%26x");
  EXPECT_EQ(polls[0]["headers"]["authorization"], std::string("Bearer ") + kTestKey);
  EXPECT_EQ(run.Percents(), (std::vector<int>{3, 8, 15, 26, 30, 30, 30, 94, 100}));
  std::lock_guard lock(run.mutex);
  EXPECT_EQ(run.reports[4].stage, "GRS AI 正在生成");
  EXPECT_EQ(run.reports[4].detail, "已等待 0 秒");
  EXPECT_EQ(run.reports[6].detail, "已等待 4 秒");
}

TEST_F(GenerationTest, GivesUpAfter180PollsWhileTheStageRisesFrom30To89) {
  ScriptHappyPath(Json::array({{{"json", {{"taskId", "slow-task"}}}}}));
  fake().Route("GET", kResultPath, Json::array({{{"json", {{"data", {{"status", "processing"}}}}}}}));
  RunRecord run;
  Generate(run, DataURLPayload());
  ASSERT_TRUE(run.error);
  EXPECT_EQ(run.error->code, 5);
  EXPECT_EQ(run.error->message, "GRS AI 超过 6 分钟仍未完成，请稍后重试");
  EXPECT_EQ(fake().RequestsTo("GET", kResultPath).size(), 180u);

  std::lock_guard lock(run.mutex);
  std::vector<Report> polling;
  for (const auto& report : run.reports) {
    if (report.stage == "GRS AI 正在生成") polling.push_back(report);
  }
  ASSERT_EQ(polling.size(), 180u);
  EXPECT_EQ(polling.front().percent, 30);
  EXPECT_EQ(polling.back().percent, 89);
  EXPECT_EQ(polling.back().detail, "已等待 358 秒");
  for (size_t i = 1; i < polling.size(); ++i) EXPECT_GE(polling[i].percent, polling[i - 1].percent);
}

TEST_F(GenerationTest, AResultOfExactly30MiBIsSaved) {
  ScriptHappyPath();
  fake().Route("GET", kDownloadPath, Json::array({{{"size", 31457280}, {"fill", "Z"}, {"content_type", "image/jpeg"}}}));
  RunRecord run;
  Generate(run, DataURLPayload());
  ASSERT_FALSE(run.error) << run.error->message;
  std::string path = (*run.result)["filePath"];
  EXPECT_TRUE(path.ends_with(".jpg"));
  EXPECT_EQ(StatPath(path).size, 31457280u);
  EXPECT_TRUE((*run.result)["resultDataUrl"].get<std::string>().starts_with("data:image/jpeg;base64,WlpaWlpa"));
}

// ---- cancellation ----

TEST_F(GenerationTest, CancellingAtAStageEndsTheRunBeforeItsNextRequest) {
  struct Case {
    const char* stage;
    Json generateAnswers;
    size_t tokens, uploads, submissions;
  };
  for (const Case& at : {Case{"正在上传第 1 张输入图片", nullptr, 1, 1, 0},
                         Case{"提交超时，正在自动重试",
                              Json::array({{{"status", 504}}, {{"json", {{"results", {fake().URL(kDownloadPath)}}}}}}), 2,
                              2, 1}}) {
    SCOPED_TRACE(at.stage);
    fake().Reset();
    ScriptHappyPath(at.generateAnswers);
    auto client = ConfiguredClient();
    RunRecord run;
    client->generateWithPayload(
        DataURLPayload(2), saveFolder_,
        [&](int, const std::string& stage, const std::string&) {
          if (stage == at.stage) client->cancelCurrentTask();
        },
        [&](std::optional<Json> result, std::optional<Error> error) {
          std::lock_guard lock(run.mutex);
          run.done = true;
          run.result = std::move(result);
          run.error = std::move(error);
        });
    Drive([&] { return run.Done(); });
    ASSERT_TRUE(run.error);
    EXPECT_EQ(run.error->code, -999);
    EXPECT_EQ(run.error->message, "任务已取消");
    EXPECT_EQ(fake().RequestsTo("POST", kTokenPath).size(), at.tokens);
    EXPECT_EQ(fake().RequestsTo("POST", kUploadPath).size(), at.uploads);
    EXPECT_EQ(fake().RequestsTo("POST", kGeneratePath).size(), at.submissions);
  }
}

TEST_F(GenerationTest, CancellingWhilePollingEndsBeforeTheNextPoll) {
  ScriptHappyPath(Json::array({{{"json", {{"id", "t1"}}}}}));
  fake().Route("GET", kResultPath, Json::array({{{"json", {{"status", "running"}}}}}));
  auto client = ConfiguredClient();
  RunRecord run;
  Start(*client, run, DataURLPayload());
  // Two polls answered, then the cancel.
  Drive([&] { return fake().RequestsTo("GET", kResultPath).size() == 2; });
  client->cancelCurrentTask();
  Drive([&] { return run.Done(); });
  ASSERT_TRUE(run.error);
  EXPECT_EQ(run.error->code, -999);
  EXPECT_EQ(fake().RequestsTo("GET", kResultPath).size(), 2u);
}

TEST_F(GenerationTest, ANewerRunOrAVisionRequestSilencesTheRunningOne) {
  ScriptHappyPath();
  fake().Route("POST", "/v1/chat/completions",
               Json::array({{{"json", {{"choices", {{{"message", {{"content", "{\"rating\":3}"}}}}}}}}}}));
  auto client = ConfiguredClient();
  RunRecord older, newer;
  Start(*client, older, DataURLPayload(2));
  Start(*client, newer, DataURLPayload(1));
  Drive([&] { return older.Done() && newer.Done(); });
  ASSERT_TRUE(older.error);
  EXPECT_EQ(older.error->code, -999);
  ASSERT_FALSE(newer.error) << newer.error->message;
  EXPECT_TRUE(newer.result);
  EXPECT_FALSE(client->activeToken());
  EXPECT_EQ(fake().RequestsTo("POST", kGeneratePath).size(), 1u);

  RunRecord run;
  Start(*client, run, DataURLPayload(2));
  bool visionDone = false;
  client->analyzePhotoData("jpeg", "", "p", [&](std::optional<Json> result, std::optional<Error>) {
    visionDone = result.has_value();
  });
  Drive([&] { return run.Done() && visionDone; });
  ASSERT_TRUE(run.error);
  EXPECT_EQ(run.error->code, -999);
  EXPECT_TRUE(visionDone);
}

}  // namespace
}  // namespace tw::ai::testing
