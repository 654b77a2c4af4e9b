// The generation pipeline against the fake: uploads, submission and its retry, polling, saving, reports, errors, cancels.
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

  // Starts a run; `onStage` is called with the client at each report (to cancel there).
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

TEST_F(GenerationTest, UploadsSubmitsDownloadsAndSaves) {
  ScriptHappyPath();
  Json multipart = {{"token", "upload-token-in/1.jpg"}, {"key", "in/1.jpg"}, {"filename", "image.jpg"},
                    {"content_type", "image/jpeg"}, {"file_b64", Base64Encode("jpeg-0")}};
  Answer("upload", Json::array({{{"json", {{"ok", true}}}, {"multipart", multipart}}}));
  auto client = ConfiguredClient();
  RunRecord run;
  Start(*client, run, DataURLPayload());
  Drive([&] { return run.Done(); });

  ASSERT_TRUE(run.result) << run.error->message;
  Json result = *run.result;
  std::string fileName = result["fileName"];
  EXPECT_TRUE(fileName.starts_with("AI修图-") && fileName.ends_with(".png")) << fileName;
  EXPECT_EQ(fileName.size(), std::string("AI修图-20260101-120000.png").size());
  EXPECT_EQ(ReadWholeFile(JoinPath(saveFolder_, fileName)), std::string(kResultBytes));
  const std::string dataURL = "data:image/png;base64," + Base64Encode(kResultBytes);
  EXPECT_EQ(result, (Json{{"fileName", fileName}, {"filePath", JoinPath(saveFolder_, fileName)}, {"resultDataUrl", dataURL},
                          {"previewDataUrl", dataURL}, {"remoteURL", fake().URL(kDownloadPath)}}));
  EXPECT_FALSE(client->activeToken());

  // The key goes to the service only, never to the storage or the download.
  Json tokens = fake().RequestsTo("POST", kTokenPath), uploads = fake().RequestsTo("POST", kUploadPath);
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(Body("POST", kTokenPath), (Json{{"sux", "jpg"}}));
  EXPECT_EQ(tokens[0]["headers"]["authorization"], std::string("Bearer ") + kTestKey);
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_FALSE(uploads[0]["headers"].contains("authorization") || uploads[0]["headers"].contains("user-agent"));
  std::string contentType = uploads[0]["headers"]["content-type"];
  EXPECT_TRUE(contentType.starts_with("multipart/form-data; boundary=Tidewick-")) << contentType;
  EXPECT_EQ(contentType.size(), std::string("multipart/form-data; boundary=Tidewick-").size() + 36);
  EXPECT_EQ(fake().RequestsTo("POST", kGeneratePath).size(), 1u);
  EXPECT_EQ(Body("POST", kGeneratePath), (Json{{"model", "nano-banana-2-lite"}, {"prompt", "去掉背景杂物"},
                                               {"images", {"https://cdn.example.com/in/1.jpg"}}, {"aspectRatio", "1:1"},
                                               {"imageSize", "1K"}, {"replyType", "async"}}));
  EXPECT_TRUE(fake().RequestsTo("GET", kResultPath).empty());
  Json downloads = fake().RequestsTo("GET", kDownloadPath);
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_FALSE(downloads[0]["headers"].contains("authorization"));

  // The first two reports come synchronously from the caller's thread, the rest from the session.
  std::lock_guard lock(run.mutex);
  std::vector<std::tuple<int, std::string, std::string, bool>> reports;
  for (const auto& r : run.reports) reports.emplace_back(r.percent, r.stage, r.detail, r.onCaller);
  EXPECT_EQ(reports, (decltype(reports){{3, "已收到生成请求", "正在准备安全上传", true},
                                        {8, "正在申请第 1 张图片的上传凭证", "不会消耗生成额度", true},
                                        {15, "正在上传第 1 张输入图片", "上传完成后才会提交生成", false},
                                        {26, "输入图片上传完成，正在提交生成", "从此步骤开始可能产生额度费用", false},
                                        {94, "正在下载生成结果", "将保存到本地", false},
                                        {100, "生成完成", "正在送回 Photoshop", false}}));
}

TEST_F(GenerationTest, ThreeImagesKeepTheirOrderWithTheChosenRatioSizeAndSavedModel) {
  ScriptHappyPath();
  // The last one, a file without extension or type, goes up as PNG.
  std::string layer = JoinPath(folder(), "layer");
  ASSERT_FALSE(WriteFileAtomically(layer, "layer pixels"));
  Json multipart = {{"token", "upload-token-c.jpg"}, {"key", "c.jpg"}, {"filename", "image.png"},
                    {"content_type", "image/png"}, {"file_b64", Base64Encode("layer pixels")}};
  const Json uploaded = {{"json", {{"ok", true}}}};
  Answer("upload", Json::array({uploaded, uploaded, {{"json", Json::object()}, {"multipart", multipart}}}));
  Answer("token", Json::array({TokenAnswer(fake().URL(kUploadPath), "a.jpg"), TokenAnswer(fake().URL(kUploadPath), "b.jpg", false),
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
  EXPECT_EQ(run.reports[6].stage, "正在上传第 3 张输入图片");
  EXPECT_EQ(Body("POST", kTokenPath, 2), (Json{{"sux", "png"}}));
  Json body = Body("POST", kGeneratePath);
  EXPECT_EQ(body, (Json{{"model", "nano-banana-pro"}, {"prompt", "去掉背景杂物"}, {"aspectRatio", "3:4"}, {"imageSize", "2K"},
                        {"replyType", "async"},
                        {"images", {"https://cdn.example.com/a.jpg", "https://cdn.example.com/b.jpg", "https://cdn.example.com/c.jpg"}}}));
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
  EXPECT_EQ(startWith({{"prompt", "p"}, {"images", Json::array()}}, saveFolder_).first, 3);
  settings().Remove("TWGRSAIAPIKey");
  EXPECT_EQ(startWith(DataURLPayload(), saveFolder_), std::pair(1L, std::string("请先在主 App 设置 GRS AI API 密钥")));
  Drive();
  EXPECT_TRUE(fake().Requests().empty());
}

TEST_F(GenerationTest, AnswersThatEndTheRunWithTheirErrorAndSaveNothing) {
  const Json polled = Json::array({{{"json", {{"id", "t1"}}}}});
  const auto poll = [](Json final) { return Json::array({{{"json", {{"status", "running"}}}}, std::move(final)}); };
  const Json noDomain = {{"token", "t"}, {"key", "k"}, {"url", "https://up.example.com"}};
  const Json numericKey = {{"token", "t"}, {"key", 5}, {"url", "https://up"}, {"domain", "https://cdn"}};
  const std::string tokenFields = "GRS AI 上传凭证缺少 token、key、url 或 domain";
  // One step's answers replace the happy path's; the error the run ends with; generation requests sent.
  struct Case {
    const char* step;
    Json answers;
    long code;
    std::string message;
    size_t submissions;
  };
  const Case cases[] = {
      {"token", {{{"json", {{"data", noDomain}}}}}, 12, tokenFields, 0},
      {"token", {{{"json", numericKey}}}, 12, tokenFields, 0},
      {"token", {{{"status", 500}, {"json", {{"msg", "存储服务繁忙"}}}}}, 500, "存储服务繁忙", 0},
      {"token", {{{"status", 200}, {"text", "<html>gateway</html>"}}}, 200, "获取上传凭证失败（HTTP 200）：<html>gateway</html>", 0},
      {"token", {{{"drop", true}}}, 11, "网络连接已中断。", 0},
      {"upload", {{{"status", 403}, {"text", "signature expired"}}}, 403, "第 1 张图片上传失败（HTTP 403）：signature expired", 0},
      {"upload", {{{"drop", true}}}, 13, "第 1 张图片上传失败（HTTP 0）：网络连接已中断。", 0},
      // A 504 is sent once more, anything else is not.
      {"generate", {{{"status", 504}}}, 504, "GRS AI HTTP 504", 2},
      {"generate", {{{"status", 400}, {"json", {{"error", {{"message", "提示词违规"}}}}}}}, 400, "提示词违规", 1},
      {"generate", {{{"json", {{"code", 0}}}}}, 4, "GRS AI 未返回任务 ID", 1},
      {"generate", {{{"status", 401}, {"json", {{"message", std::string("bad key: ") + kTestKey}}}}}, 401,
       "bad key: " + MaskedAPIKey(kTestKey), 1},
      {"generate", {{{"json", {{"results", {"file:///etc/hostname"}}}}}}, 7, "GRS AI 未返回可下载的图片", 1},
      {"result", poll({{"json", {{"data", {{"status", "FAILED"}}}, {"failure_reason", "模型超时"}}}}), 6, "模型超时", 1},
      {"result", poll({{"json", {{"status", "violation"}}}}), 6, "GRS AI 内容审核未通过", 1},
      {"result", poll({{"json", {{"status", "error"}}}}), 6, "GRS AI 生成失败", 1},
      {"result", poll({{"status", 502}, {"text", "bad gateway"}}), 502, "GRS AI 查询失败（HTTP 502）", 1},
      {"result", poll({{"status", 200}, {"text", "busy"}}), 200, "GRS AI 查询失败（HTTP 200）", 1},
      {"result", {{{"json", {{"status", "succeeded"}, {"results", {{{"id", 1}}}}}}}}, 7, "GRS AI 未返回可下载的图片", 1},
      // The result: at most 30 MiB, answered with a body.
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

  // An unreadable second image ends the run after the first one's token; an unwritable folder at the saving.
  fake().Reset();
  ScriptHappyPath();
  std::string empty = JoinPath(folder(), "empty.png");
  ASSERT_FALSE(WriteFileAtomically(empty, ""));
  RunRecord unreadable;
  Generate(unreadable, {{"prompt", "p"}, {"images", {"data:image/png;base64,AAAA", {{"path", empty}}}}});
  ASSERT_TRUE(unreadable.error);
  EXPECT_EQ(std::pair(unreadable.error->code, unreadable.error->message), std::pair(10L, std::string("第 2 张输入图片格式无效")));
  EXPECT_EQ(fake().RequestsTo("POST", kTokenPath).size(), 1u);
  EXPECT_TRUE(fake().RequestsTo("POST", kGeneratePath).empty());
  ASSERT_FALSE(WriteFileAtomically(saveFolder_, "a file where the folder should be"));
  RunRecord unwritable;
  Generate(unwritable, DataURLPayload());
  ASSERT_TRUE(unwritable.error);
  EXPECT_NE(unwritable.error->domain, "com.avo.tidewick.grsai");
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
  EXPECT_EQ(std::pair(run.reports[4].stage, run.reports[4].detail), std::pair(std::string(kPolling), std::string("已等待 0 秒")));
  EXPECT_EQ(run.reports[6].detail, "已等待 4 秒");
}

TEST_F(GenerationTest, A504IsSentOnceMoreTwoSecondsLater) {
  ScriptHappyPath(Json::array({{{"status", 504}, {"text", "gateway timeout"}}, {{"json", {{"results", {fake().URL(kDownloadPath)}}}}}}));
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
  EXPECT_EQ(std::pair(run.reports[4].stage, run.reports[4].detail), std::pair(std::string("提交超时，正在自动重试"), std::string("本次仅重试一次")));
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

TEST_F(GenerationTest, AResultOfExactly30MiBIsSaved) {
  ScriptHappyPath();
  Answer("download", Json::array({{{"size", 31457280}, {"fill", "Z"}, {"content_type", "image/jpeg"}}}));
  RunRecord run;
  Generate(run, DataURLPayload());
  ASSERT_TRUE(run.result) << run.error->message;
  std::string path = (*run.result)["filePath"];
  EXPECT_TRUE(path.ends_with(".jpg"));
  EXPECT_EQ(StatPath(path).size, 31457280u);
  EXPECT_TRUE((*run.result)["resultDataUrl"].get<std::string>().starts_with("data:image/jpeg;base64,WlpaWlpa"));
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
  fake().Route("POST", "/v1/chat/completions", Json::array({{{"json", {{"choices", {{{"message", {{"content", "{\"rating\":3}"}}}}}}}}}}));
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
