// The generation pipeline: upload token and upload for each input image in turn, the
// generation request (retried once on a gateway time-out), polls until a final status, then the
// download into the chosen folder. Each step starts the next from its own answer, so at most
// one request of a run is in flight.
#include "ai/base64.hpp"
#include "ai/grsai_client.hpp"
#include "ai/media_type.hpp"
#include "ai/result_file.hpp"
#include "ai/texts.hpp"
#include "ai/url_text.hpp"
#include "base/files.hpp"
#include "base/queues.hpp"
#include "base/uuid.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <ctime>

namespace tw::ai {
namespace {

constexpr char kUploadTokenPath[] = "/client/resource/newUploadTokenZH";
constexpr char kGeneratePath[] = "/v1/api/generate";
constexpr char kResultPathFormat[] = "/v1/api/result?id={}";
constexpr char kBoundaryPrefix[] = "Tidewick-";
constexpr char kDefaultAspectRatio[] = "1:1";
constexpr char kDefaultImageSize[] = "1K";
constexpr char kDefaultResultMediaType[] = "image/png";
constexpr auto kRetryDelay = std::chrono::seconds(2);
constexpr auto kPollInterval = std::chrono::seconds(2);
constexpr int kPollLimit = 180;
constexpr size_t kMaxResultBytes = 31457280;  // 30 MiB
constexpr size_t kBodyExcerptCharacters = 240;

constexpr int kProgressAccepted = 3;
constexpr int kProgressFirstUploadToken = 8;
constexpr int kProgressUploadTokenSpan = 16;
constexpr int kProgressUploadAfterToken = 7;
constexpr int kProgressSubmit = 26;
constexpr int kProgressRetry = 6;
constexpr int kProgressPollBase = 30;
constexpr int kProgressPollCap = 90;
constexpr int kProgressDownload = 94;
constexpr int kProgressDone = 100;

bool IsSuccess(const HttpResponse& response) {
  return !response.error && response.status >= 200 && response.status < 300;
}

bool IsFinishedStatus(const std::string& status) {
  return status == "succeeded" || status == "success" || status == "completed";
}

bool IsFailedStatus(const std::string& status) {
  return status == "failed" || status == "error" || status == "violation";
}

void Report(const ProgressHandler& progress, int percent, const std::string& stage, const std::string& detail) {
  if (progress) progress(percent, stage, detail);
}

// The first non-empty string among the candidates.
std::string FirstNonEmptyString(std::initializer_list<std::pair<const Json*, const char*>> candidates) {
  for (const auto& [object, key] : candidates) {
    std::string value = StringField(*object, key);
    if (!value.empty()) return value;
  }
  return "";
}

std::string TrimSlashes(std::string text) {
  size_t begin = text.find_first_not_of('/');
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of('/');
  return text.substr(begin, end - begin + 1);
}

}  // namespace

void TWGRSAIClient::generateWithPayload(const Json& payload, const std::string& saveLocation,
                                        ProgressHandler progress, ResultCompletion completion) {
  if (!configured()) {
    completion(std::nullopt, errorWithMessage(texts::kGenerationNotConfigured, codes::kNotConfigured));
    return;
  }
  if (saveLocation.empty()) {
    completion(std::nullopt, errorWithMessage(texts::kGenerationNoSaveLocation, codes::kNoSaveLocation));
    return;
  }
  std::string prompt = StringField(payload, "prompt");
  Json images = ArrayField(payload, "images");
  if (prompt.empty() || images.empty()) {
    completion(std::nullopt, errorWithMessage(texts::kGenerationNoInput, codes::kNoInput));
    return;
  }
  std::string token = StartNewToken();
  Report(progress, kProgressAccepted, texts::kStageAccepted, texts::kDetailAccepted);

  std::string aspectRatio = StringField(payload, "aspectRatio");
  std::string imageSize = StringField(payload, "imageSize");
  auto submit = [self = shared_from_this(), prompt, aspectRatio, imageSize, token, saveLocation, progress,
                 completion](std::optional<std::vector<std::string>> remoteURLs, std::optional<Error> error) {
    if (error) {
      completion(std::nullopt, std::move(error));
      return;
    }
    Json body = {{"model", self->model()},
                 {"prompt", prompt},
                 {"images", *remoteURLs},
                 {"aspectRatio", aspectRatio.empty() ? std::string(kDefaultAspectRatio) : aspectRatio},
                 {"imageSize", imageSize.empty() ? std::string(kDefaultImageSize) : imageSize},
                 {"replyType", "async"}};
    Report(progress, kProgressSubmit, texts::kStageSubmit, texts::kDetailSubmit);
    HttpRequest request = self->requestWithPath(kGeneratePath, "POST");
    request.body = JSONString(body);
    self->performRequest(std::move(request), token, 0, saveLocation, progress, completion);
  };
  uploadImages(std::move(images), 0, {}, token, std::move(progress), std::move(submit));
}

void TWGRSAIClient::uploadImages(Json images, size_t index, std::vector<std::string> remoteURLs, std::string token,
                                 ProgressHandler progress, UploadCompletion completion) {
  if (!IsActive(token)) {
    completion(std::nullopt, errorWithMessage(texts::kCancelled, codes::kCancelled));
    return;
  }
  if (index == images.size()) {
    completion(std::move(remoteURLs), std::nullopt);
    return;
  }
  std::optional<DecodedImage> image = decodedImage(images[index]);
  if (!image) {
    completion(std::nullopt, errorWithMessage(fmt::format(texts::kGenerationBadImage, index + 1), codes::kBadInputImage));
    return;
  }
  int percent = kProgressFirstUploadToken + static_cast<int>(kProgressUploadTokenSpan * index / images.size());
  Report(progress, percent, fmt::format(texts::kStageUploadToken, index + 1), texts::kDetailUploadToken);
  HttpRequest request = requestWithPath(kUploadTokenPath, "POST");
  request.body = JSONString(Json{{"sux", image->extension}});
  // On the session's thread.
  session_->Send(std::move(request), [self = shared_from_this(), images = std::move(images), index,
                                      image = std::move(*image), remoteURLs = std::move(remoteURLs),
                                      token = std::move(token), progress = std::move(progress),
                                      completion = std::move(completion)](HttpResponse response) mutable {
    std::optional<Json> parsed = JSONDictionaryFromData(response.body);
    if (!IsSuccess(response) || !parsed) {
      std::string fallback = response.error ? response.error->description
                                            : fmt::format(texts::kUploadTokenFailed, response.status,
                                                          responseText(response.body, kBodyExcerptCharacters));
      long code = response.status != 0 ? response.status : codes::kUploadTokenFailed;
      completion(std::nullopt, self->ServiceError(messageFromResponse(parsed, fallback), code));
      return;
    }
    auto data = parsed->find("data");
    Json answer = data != parsed->end() && data->is_object() ? *data : *parsed;
    for (const char* field : {"token", "key", "url", "domain"}) {
      if (StringField(answer, field).empty()) {
        completion(std::nullopt, errorWithMessage(texts::kUploadTokenIncomplete, codes::kUploadTokenIncomplete));
        return;
      }
    }
    self->uploadDecodedImage(std::move(images), index, std::move(image), std::move(answer), std::move(remoteURLs),
                             std::move(token), std::move(progress), std::move(completion));
  });
}

void TWGRSAIClient::uploadDecodedImage(Json images, size_t index, DecodedImage image, Json tokenAnswer,
                                       std::vector<std::string> remoteURLs, std::string token,
                                       ProgressHandler progress, UploadCompletion completion) {
  int percent = kProgressFirstUploadToken + static_cast<int>(kProgressUploadTokenSpan * index / images.size()) +
                kProgressUploadAfterToken;
  Report(progress, percent, fmt::format(texts::kStageUpload, index + 1), texts::kDetailUpload);
  std::string boundary = kBoundaryPrefix + NewUUIDString();
  // The storage service gets neither the API key nor the service's other headers.
  HttpRequest upload;
  upload.method = "POST";
  upload.url = StringField(tokenAnswer, "url");
  upload.headers = {{"Content-Type", "multipart/form-data; boundary=" + boundary}};
  upload.body = multipartBodyWithBoundary(boundary, StringField(tokenAnswer, "token"),
                                          StringField(tokenAnswer, "key"), image);
  std::string remoteURL = TrimSlashes(StringField(tokenAnswer, "domain")) + "/" + StringField(tokenAnswer, "key");
  // On the session's thread.
  session_->Send(std::move(upload), [self = shared_from_this(), images = std::move(images), index,
                                     remoteURL = std::move(remoteURL), remoteURLs = std::move(remoteURLs),
                                     token = std::move(token), progress = std::move(progress),
                                     completion = std::move(completion)](HttpResponse response) mutable {
    if (!IsSuccess(response)) {
      std::string detail = response.error ? response.error->description
                                          : responseText(response.body, kBodyExcerptCharacters);
      long code = response.status != 0 ? response.status : codes::kUploadFailed;
      completion(std::nullopt,
                 self->ServiceError(fmt::format(texts::kUploadFailed, index + 1, response.status, detail), code));
      return;
    }
    remoteURLs.push_back(std::move(remoteURL));
    self->uploadImages(std::move(images), index + 1, std::move(remoteURLs), std::move(token), std::move(progress),
                       std::move(completion));
  });
}

void TWGRSAIClient::performRequest(HttpRequest request, std::string token, int attempt, std::string saveLocation,
                                   ProgressHandler progress, ResultCompletion completion) {
  HttpRequest sent = request;
  // On the session's thread.
  session_->Send(std::move(sent), [self = shared_from_this(), request = std::move(request), token = std::move(token),
                                   attempt, saveLocation = std::move(saveLocation), progress = std::move(progress),
                                   completion = std::move(completion)](HttpResponse response) mutable {
    if (!self->IsActive(token)) {
      completion(std::nullopt, errorWithMessage(texts::kCancelled, codes::kCancelled));
      return;
    }
    std::optional<Json> parsed = JSONDictionaryFromData(response.body);
    if (IsSuccess(response) && parsed) {
      Json payload = effectivePayload(*parsed);
      Json results = ArrayField(*parsed, "results");
      if (results.empty()) results = ArrayField(payload, "results");
      if (!results.empty() || IsFinishedStatus(statusFromResponse(*parsed))) {
        self->finishResponse(std::move(*parsed), std::move(token), std::move(saveLocation), std::move(progress),
                             std::move(completion));
        return;
      }
      std::string taskID = FirstNonEmptyString({{&*parsed, "id"}, {&payload, "id"}, {&*parsed, "taskId"}});
      if (taskID.empty()) {
        completion(std::nullopt, self->ServiceError(messageFromResponse(parsed, texts::kNoTaskID), codes::kNoTaskID));
        return;
      }
      self->pollTask(std::move(taskID), std::move(token), 0, std::move(saveLocation), std::move(progress),
                     std::move(completion));
      return;
    }
    bool gatewayTimedOut = response.status == 504 || (response.error && response.error->timedOut);
    if (gatewayTimedOut && attempt == 0) {
      Report(progress, kProgressRetry, texts::kStageRetry, texts::kDetailRetry);
      // On the utility queue.
      queues::AfterOnUtility(kRetryDelay, [self, request = std::move(request), token = std::move(token),
                                           saveLocation = std::move(saveLocation), progress = std::move(progress),
                                           completion = std::move(completion)]() mutable {
        // A run cancelled during the wait must not submit again: the submission may be charged.
        if (!self->IsActive(token)) {
          completion(std::nullopt, errorWithMessage(texts::kCancelled, codes::kCancelled));
          return;
        }
        self->performRequest(std::move(request), std::move(token), 1, std::move(saveLocation), std::move(progress),
                             std::move(completion));
      });
      return;
    }
    std::string fallback =
        response.error ? response.error->description : fmt::format(texts::kGenerateFailed, response.status);
    completion(std::nullopt, self->ServiceError(messageFromResponse(parsed, fallback), response.status));
  });
}

void TWGRSAIClient::pollTask(std::string taskID, std::string token, int attempt, std::string saveLocation,
                             ProgressHandler progress, ResultCompletion completion) {
  if (!IsActive(token)) {
    completion(std::nullopt, errorWithMessage(texts::kCancelled, codes::kCancelled));
    return;
  }
  if (attempt >= kPollLimit) {
    completion(std::nullopt, errorWithMessage(texts::kPollLimit, codes::kPollLimit));
    return;
  }
  Report(progress, std::min(kProgressPollCap, attempt / 3 + kProgressPollBase), texts::kStagePolling,
         fmt::format(texts::kDetailPolling, 2 * attempt));
  // On the utility queue, then on the session's thread.
  queues::AfterOnUtility(kPollInterval, [self = shared_from_this(), taskID = std::move(taskID),
                                         token = std::move(token), attempt, saveLocation = std::move(saveLocation),
                                         progress = std::move(progress), completion = std::move(completion)]() mutable {
    // Cancelled during the wait: no further poll goes out.
    if (!self->IsActive(token)) {
      completion(std::nullopt, errorWithMessage(texts::kCancelled, codes::kCancelled));
      return;
    }
    HttpRequest request =
        self->requestWithPath(fmt::format(kResultPathFormat, PercentEncodedForQuery(taskID)), "GET");
    self->session_->Send(std::move(request), [self, taskID = std::move(taskID), token = std::move(token), attempt,
                                              saveLocation = std::move(saveLocation), progress = std::move(progress),
                                              completion = std::move(completion)](HttpResponse response) mutable {
      std::optional<Json> parsed = JSONDictionaryFromData(response.body);
      if (!IsSuccess(response) || !parsed) {
        std::string fallback =
            response.error ? response.error->description : fmt::format(texts::kPollFailed, response.status);
        completion(std::nullopt, self->ServiceError(messageFromResponse(parsed, fallback), response.status));
        return;
      }
      std::string status = statusFromResponse(*parsed);
      if (IsFinishedStatus(status)) {
        self->finishResponse(std::move(*parsed), std::move(token), std::move(saveLocation), std::move(progress),
                             std::move(completion));
      } else if (IsFailedStatus(status)) {
        std::string fallback = status == "violation" ? texts::kTaskViolation : texts::kTaskFailed;
        completion(std::nullopt, self->ServiceError(messageFromResponse(parsed, fallback), codes::kTaskFailed));
      } else {
        self->pollTask(std::move(taskID), std::move(token), attempt + 1, std::move(saveLocation),
                       std::move(progress), std::move(completion));
      }
    });
  });
}

void TWGRSAIClient::finishResponse(Json response, std::string token, std::string saveLocation,
                                   ProgressHandler progress, ResultCompletion completion) {
  Json payload = effectivePayload(response);
  if (auto data = payload.find("data"); payload.is_object() && data != payload.end() && data->is_object()) {
    payload = Json(*data);
  }
  Json results = ArrayField(response, "results");
  if (results.empty()) results = ArrayField(payload, "results");
  std::string address;
  if (!results.empty()) {
    const Json& first = results[0];
    if (first.is_object()) {
      address = StringField(first, "url");
    } else if (first.is_string()) {
      address = first.get<std::string>();
    }
  }
  if (address.empty()) address = StringField(response, "url");
  if (!IsWebAddress(address)) {
    completion(std::nullopt, errorWithMessage(texts::kNoResultImage, codes::kNoResultImage));
    return;
  }
  Report(progress, kProgressDownload, texts::kStageDownload, texts::kDetailDownload);
  HttpRequest download;
  download.url = address;
  download.maxBodyBytes = kMaxResultBytes;
  // On the session's thread.
  session_->Send(std::move(download), [self = shared_from_this(), address, token = std::move(token),
                                       saveLocation = std::move(saveLocation), progress = std::move(progress),
                                       completion = std::move(completion)](HttpResponse response) mutable {
    if (!IsSuccess(response) || response.body.empty()) {
      std::string message =
          response.error ? response.error->description : fmt::format(texts::kDownloadFailed, response.status);
      completion(std::nullopt, self->ServiceError(message, codes::kDownloadFailed));
      return;
    }
    if (response.bodyLimitExceeded || response.body.size() > kMaxResultBytes) {
      completion(std::nullopt, errorWithMessage(texts::kResultTooLarge, codes::kResultTooLarge));
      return;
    }
    std::string mediaType = response.mediaType.empty() ? std::string(kDefaultResultMediaType) : response.mediaType;
    CreateDirectories(saveLocation);  // a failure shows in the write just below
    SavedResultFile saved = SaveResultFile(saveLocation, ResultFileStem(std::time(nullptr)),
                                           ExtensionForMediaType(mediaType), response.body);
    if (saved.error) {
      completion(std::nullopt, std::move(saved.error));
      return;
    }
    std::string dataURL = "data:" + mediaType + ";base64," + Base64Encode(response.body);
    {
      // Only this run's own token is cleared: a newer run started meanwhile keeps going.
      std::lock_guard lock(self->mutex_);
      if (self->activeToken_ == token) self->activeToken_.reset();
    }
    Report(progress, kProgressDone, texts::kStageDone, texts::kDetailDone);
    completion(Json{{"fileName", saved.fileName},
                    {"filePath", saved.filePath},
                    {"resultDataUrl", dataURL},
                    {"previewDataUrl", dataURL},
                    {"remoteURL", address}},
               std::nullopt);
  });
}

}  // namespace tw::ai
