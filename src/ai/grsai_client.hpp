#pragma once
// TWGRSAIClient: the program's one client of the GRS AI service (vision chat completions and
// image generation with upload and polling).
//
// The controller owns one client for the life of the program and hands the same object to the
// plug-in bridge and the face batch; the burst comparison makes a private one. Every client
// reads and writes the same settings keys, so a key saved through one is seen by all. The API
// key is read from the settings each time it is needed and leaves the client only in the
// Authorization header; snapshots carry the masked form.
//
// Threads: operations are started on the main thread or the bridge's queue. Answers arrive on
// the session's own callback thread; the connection check and vision requests hand their
// completions to the main queue, the generation pipeline calls its progress and completion on
// the session's thread or the utility queue. All state is guarded, so any thread may read it.
//
// Cancellation: each vision request and each generation stores a fresh token as the active
// token; answers compare their copy with it. cancelCurrentTask() clears it, and a newer request
// on the same client replaces it, so the older one ends at its next comparison.
#include "ai/http_session.hpp"
#include "base/error.hpp"
#include "base/json.hpp"
#include "platform/settings.hpp"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw::ai {

inline constexpr char kGRSAIErrorDomain[] = "com.avo.tidewick.grsai";

// Settings keys.
inline constexpr char kAPIKeySetting[] = "TWGRSAIAPIKey";
inline constexpr char kBaseURLSetting[] = "TWGRSAIBaseURL";
inline constexpr char kModelSetting[] = "TWGRSAIModel";

inline constexpr char kDefaultGenerationModel[] = "nano-banana-2-lite";
inline constexpr char kDefaultVisionModel[] = "gemini-3.1-flash-lite";

// Error codes of the client besides HTTP statuses.
namespace codes {
inline constexpr long kNotConfigured = 1;
inline constexpr long kNoSaveLocation = 2;
inline constexpr long kNoInput = 3;
inline constexpr long kNoTaskID = 4;
inline constexpr long kPollLimit = 5;
inline constexpr long kTaskFailed = 6;
inline constexpr long kNoResultImage = 7;
inline constexpr long kDownloadFailed = 8;
inline constexpr long kResultTooLarge = 9;
inline constexpr long kBadInputImage = 10;
inline constexpr long kUploadTokenFailed = 11;
inline constexpr long kUploadTokenIncomplete = 12;
inline constexpr long kUploadFailed = 13;
inline constexpr long kVisionNotConfigured = 31;
inline constexpr long kVisionBadImages = 32;
inline constexpr long kVisionNoResult = 33;
inline constexpr long kCancelled = -999;
}  // namespace codes

// The build's default base address of the service (an HTTPS address with no path).
const char* GRSAIDefaultBaseURL();

// The masked form of an API key: first 3 and last 4 characters around "…" for keys of 8 or more
// characters, "已保存" for shorter ones, "未设置" for none.
std::string MaskedAPIKey(const std::string& key);

// An input image of a generation, ready for upload.
struct DecodedImage {
  std::string data;
  std::string mime;
  std::string extension;  // without the dot
};

using SnapshotCompletion = std::function<void(Json snapshot)>;
// Exactly one of result and error is set.
using ResultCompletion = std::function<void(std::optional<Json> result, std::optional<Error> error)>;
using ProgressHandler = std::function<void(int percent, const std::string& stage, const std::string& detail)>;
using UploadCompletion =
    std::function<void(std::optional<std::vector<std::string>> remoteURLs, std::optional<Error> error)>;

class TWGRSAIClient : public std::enable_shared_from_this<TWGRSAIClient> {
  struct Passkey {};

 public:
  // Any thread. Reads the stored address and model; `settings` must outlive the client.
  static std::shared_ptr<TWGRSAIClient> Create(platform::Settings& settings,
                                                std::string defaultBaseURL = GRSAIDefaultBaseURL());
  TWGRSAIClient(Passkey, platform::Settings& settings, std::string defaultBaseURL);
  ~TWGRSAIClient();

  // ---- configuration (any thread) ----
  std::string apiKey() const;
  void storeAPIKey(const std::string& key);
  // A key is stored and the last address was not refused.
  bool configured() const;
  std::string baseURL() const;
  std::string model() const;
  std::string status() const;
  std::string statusDetail() const;
  std::optional<std::string> activeToken() const;
  // {configured, maskedKey, baseURL, model, status, detail}: what the page's settings show.
  Json stateSnapshot() const;
  // Validates the address first; a refused address stores nothing at all and marks the client
  // "地址无效" until a later update succeeds. An empty (after trimming) key keeps the stored one,
  // an empty model keeps the current one.
  void updateAPIKey(const std::string& key, const std::string& baseURL, const std::string& model);
  // The common frame of every request to the service: base address + path, the method, and the
  // Authorization, Content-Type and User-Agent headers.
  HttpRequest requestWithPath(const std::string& path, const std::string& method) const;
  // Asks the service for a task that does not exist and turns the answer into a status word.
  // The completion runs on the main queue (at once, on the caller's thread, when nothing is
  // sent). Not cancellable, and it leaves the active token alone.
  void testConnection(SnapshotCompletion completion);
  void cancelCurrentTask();

  // ---- response helpers (any thread) ----
  static Error errorWithMessage(std::string message, long code);
  // The service's own error text under message/msg/error/failure_reason, else the fallback.
  static std::string messageFromResponse(const std::optional<Json>& response, const std::string& fallback);
  // The bytes parsed as JSON when the top level is an object nested no deeper than kMaxJsonNesting;
  // nullopt otherwise.
  static std::optional<Json> JSONDictionaryFromData(std::string_view bytes);
  // The response's object `data`, else its object `result`, else the response itself.
  static Json effectivePayload(const Json& response);
  // The lower-cased `status` string of the effective payload, else of the response, else "".
  static std::string statusFromResponse(const Json& response);
  // The bytes as UTF-8 text cut to `limit` characters; "" when empty or not valid UTF-8.
  static std::string responseText(std::string_view bytes, size_t limit);

  // ---- vision requests ----
  // Main thread (or the bridge's queue). Sends 1 to 3 JPEG images with a prompt to the chat
  // completions endpoint and hands back the JSON object found in the model's answer, with the
  // service's `usage` added. Validation failures (31, 32) call the completion synchronously;
  // every other outcome arrives on the main queue; a request silenced by a newer one or by
  // cancelCurrentTask() never calls it. An empty model uses the default vision model.
  void analyzePhotosData(const std::vector<std::string>& jpegImages, const std::string& model,
                         const std::string& prompt, ResultCompletion completion);
  void analyzePhotoData(const std::string& jpegImage, const std::string& model, const std::string& prompt,
                        ResultCompletion completion);
  // The object between the first "{" and the last "}" of a model's answer, when that span parses
  // (and nests no deeper than kMaxJsonNesting).
  static std::optional<Json> analysisDictionaryFromText(std::string_view text);

  // ---- image generation ----
  // Uploads the payload's images one by one, submits the generation, polls every 2 seconds (at
  // most 180 times), downloads the result and saves it into `saveLocation`. Start failures
  // (codes 1 to 3) and the first progress reports run synchronously on the caller's thread;
  // every later progress report and the completion run on the session's thread or the utility
  // queue: callers move to their own queue. The completion is called exactly once.
  // payload: {prompt, images: [data URL | {path, mime?}], imageSize?, aspectRatio?}
  // result: {fileName, filePath, resultDataUrl, previewDataUrl, remoteURL}
  void generateWithPayload(const Json& payload, const std::string& saveLocation, ProgressHandler progress,
                           ResultCompletion completion);
  static std::optional<DecodedImage> decodedImage(const Json& descriptor);
  static std::string multipartBodyWithBoundary(const std::string& boundary, const std::string& token,
                                               const std::string& key, const DecodedImage& image);

 private:
  bool IsActive(const std::string& token) const;
  std::string StartNewToken();
  // An error whose text never shows the stored key (service texts may echo it back).
  Error ServiceError(std::string message, long code) const;

  void uploadImages(Json images, size_t index, std::vector<std::string> remoteURLs, std::string token,
                    ProgressHandler progress, UploadCompletion completion);
  void uploadDecodedImage(Json images, size_t index, DecodedImage image, Json tokenAnswer,
                          std::vector<std::string> remoteURLs, std::string token, ProgressHandler progress,
                          UploadCompletion completion);
  void performRequest(HttpRequest request, std::string token, int attempt, std::string saveLocation,
                      ProgressHandler progress, ResultCompletion completion);
  void pollTask(std::string taskID, std::string token, int attempt, std::string saveLocation,
                ProgressHandler progress, ResultCompletion completion);
  void finishResponse(Json response, std::string token, std::string saveLocation, ProgressHandler progress,
                      ResultCompletion completion);

  platform::Settings& settings_;
  const std::string defaultBaseURL_;
  std::unique_ptr<HttpSession> session_;

  mutable std::mutex mutex_;
  std::string baseURL_;
  std::string model_;
  std::string status_;
  std::string statusDetail_;
  std::optional<std::string> activeToken_;
};

}  // namespace tw::ai
