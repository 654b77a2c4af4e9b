// The client object itself: configuration, the common request frame, the connection check and
// the token that cancels what is under way.
#include "ai/grsai_client.hpp"

#include "ai/cloud_address.hpp"
#include "ai/texts.hpp"
#include "ai/unicode_text.hpp"
#include "ai/url_text.hpp"
#include "base/queues.hpp"
#include "base/uuid.hpp"

#include <fmt/format.h>

namespace tw::ai {
namespace {

constexpr char kProbePathFormat[] = "/v1/api/result?id={}";
constexpr char kProbeIDPrefix[] = "tidewick-connectivity-";
constexpr long kProbeTimeoutSeconds = 10;
constexpr HttpSession::Timeouts kSessionTimeouts{90, 420};

struct StatusWord {
  std::string status;
  std::string detail;
};

StatusWord ProbeStatus(const HttpResponse& response) {
  if (response.error) return {texts::kStatusConnectionFailed, response.error->description};
  long code = response.status;
  if (code == 401 || code == 403) return {texts::kStatusKeyInvalid, fmt::format(texts::kDetailHTTPStatus, code)};
  if (code >= 500 || code == 0) return {texts::kStatusServiceFault, fmt::format(texts::kDetailHTTPStatus, code)};
  if (code == 429) return {texts::kStatusRateLimited, texts::kDetailRateLimited};
  if (code == 200 || code == 400 || code == 404) {
    if (TWGRSAIClient::JSONDictionaryFromData(response.body)) {
      return {texts::kStatusConnected, fmt::format(texts::kDetailConnected, code)};
    }
    return {texts::kStatusBadFormat, texts::kDetailBadFormat};
  }
  return {texts::kStatusUnexpectedAnswer, fmt::format(texts::kDetailUnexpectedAnswer, code)};
}

}  // namespace

const char* GRSAIDefaultBaseURL() { return TIDEWICK_GRSAI_DEFAULT_BASE_URL; }

std::string MaskedAPIKey(const std::string& key) {
  size_t length = CharacterCount(key);
  if (length >= 8) return FirstCharacters(key, 3) + "…" + LastCharacters(key, 4);
  if (length >= 1) return texts::kMaskedKeyShort;
  return texts::kMaskedKeyNone;
}

std::shared_ptr<TWGRSAIClient> TWGRSAIClient::Create(platform::Settings& settings, std::string defaultBaseURL) {
  return std::make_shared<TWGRSAIClient>(Passkey{}, settings, std::move(defaultBaseURL));
}

TWGRSAIClient::TWGRSAIClient(Passkey, platform::Settings& settings, std::string defaultBaseURL)
    : settings_(settings),
      defaultBaseURL_(std::move(defaultBaseURL)),
      session_(std::make_unique<HttpSession>(kSessionTimeouts)) {
  auto storedAddress = settings_.GetString(kBaseURLSetting);
  baseURL_ = storedAddress.value_or(defaultBaseURL_);
  model_ = settings_.GetString(kModelSetting).value_or(kDefaultGenerationModel);
  if (storedAddress && !TWCloudAddress(*storedAddress)) {
    // Only a hand-edited settings file gets here; the key must not go to such an address.
    status_ = texts::kStatusInvalidAddress;
    statusDetail_ = texts::kDetailInvalidAddress;
  } else if (!apiKey().empty()) {
    status_ = texts::kStatusConfigured;
    statusDetail_ = texts::kDetailConfigured;
  } else {
    status_ = texts::kStatusUnchecked;
    statusDetail_ = texts::kDetailUnchecked;
  }
}

TWGRSAIClient::~TWGRSAIClient() = default;

std::string TWGRSAIClient::apiKey() const { return settings_.GetString(kAPIKeySetting).value_or(""); }

void TWGRSAIClient::storeAPIKey(const std::string& key) { settings_.Set(kAPIKeySetting, key); }

bool TWGRSAIClient::configured() const {
  if (apiKey().empty()) return false;
  std::lock_guard lock(mutex_);
  return status_ != texts::kStatusInvalidAddress;
}

std::string TWGRSAIClient::baseURL() const {
  std::lock_guard lock(mutex_);
  return baseURL_;
}

std::string TWGRSAIClient::model() const {
  std::lock_guard lock(mutex_);
  return model_;
}

std::string TWGRSAIClient::status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

std::string TWGRSAIClient::statusDetail() const {
  std::lock_guard lock(mutex_);
  return statusDetail_;
}

std::optional<std::string> TWGRSAIClient::activeToken() const {
  std::lock_guard lock(mutex_);
  return activeToken_;
}

Json TWGRSAIClient::stateSnapshot() const {
  bool isConfigured = configured();
  std::string masked = MaskedAPIKey(apiKey());
  std::lock_guard lock(mutex_);
  return Json{{"configured", isConfigured},
              {"maskedKey", masked},
              {"baseURL", baseURL_},
              {"model", model_},
              {"status", status_.empty() ? std::string(texts::kStatusUnchecked) : status_},
              {"detail", statusDetail_}};
}

void TWGRSAIClient::updateAPIKey(const std::string& key, const std::string& baseURL, const std::string& model) {
  auto address = TWCloudAddress(baseURL);
  if (!address) {
    std::lock_guard lock(mutex_);
    status_ = texts::kStatusInvalidAddress;
    statusDetail_ = texts::kDetailInvalidAddress;
    return;
  }
  std::string trimmedKey = TrimUnicodeSpace(key);
  if (!trimmedKey.empty()) storeAPIKey(trimmedKey);
  std::string newModel;
  {
    std::lock_guard lock(mutex_);
    baseURL_ = *address;
    if (!model.empty()) model_ = model;
    newModel = model_;
  }
  settings_.Set(kBaseURLSetting, *address);
  settings_.Set(kModelSetting, newModel);
  std::lock_guard lock(mutex_);
  status_ = texts::kStatusSaved;
  statusDetail_ = texts::kDetailSaved;
}

HttpRequest TWGRSAIClient::requestWithPath(const std::string& path, const std::string& method) const {
  HttpRequest request;
  request.method = method;
  request.url = baseURL() + path;
  request.headers = {{"Authorization", "Bearer " + apiKey()},
                     {"Content-Type", "application/json"},
                     {"User-Agent", TIDEWICK_AI_USER_AGENT}};
  request.carriesCredentials = true;
  return request;
}

void TWGRSAIClient::testConnection(SnapshotCompletion completion) {
  if (status() == texts::kStatusInvalidAddress) {
    completion(stateSnapshot());
    return;
  }
  if (!configured()) {
    {
      std::lock_guard lock(mutex_);
      status_ = texts::kStatusNotConfigured;
      statusDetail_ = texts::kDetailNotConfigured;
    }
    completion(stateSnapshot());
    return;
  }
  {
    std::lock_guard lock(mutex_);
    status_ = texts::kStatusChecking;
    statusDetail_ = texts::kDetailChecking;
  }
  std::string identifier = kProbeIDPrefix + NewUUIDString();
  HttpRequest request = requestWithPath(fmt::format(kProbePathFormat, PercentEncodedForQuery(identifier)), "GET");
  request.idleTimeoutSeconds = kProbeTimeoutSeconds;
  // On the session's thread.
  session_->Send(std::move(request), [self = shared_from_this(), completion = std::move(completion)](
                                         HttpResponse response) mutable {
    StatusWord word = ProbeStatus(response);
    {
      std::lock_guard lock(self->mutex_);
      // An address refused while the probe was out stays refused: the probe checked the old one.
      if (self->status_ != texts::kStatusInvalidAddress) {
        self->status_ = std::move(word.status);
        self->statusDetail_ = std::move(word.detail);
      }
    }
    queues::Main([self, completion = std::move(completion)] { completion(self->stateSnapshot()); });
  });
}

void TWGRSAIClient::cancelCurrentTask() {
  std::lock_guard lock(mutex_);
  activeToken_.reset();
}

bool TWGRSAIClient::IsActive(const std::string& token) const {
  std::lock_guard lock(mutex_);
  return activeToken_ && *activeToken_ == token;
}

std::string TWGRSAIClient::StartNewToken() {
  std::string token = NewUUIDString();
  std::lock_guard lock(mutex_);
  activeToken_ = token;
  return token;
}

Error TWGRSAIClient::ServiceError(std::string message, long code) const {
  std::string key = apiKey();
  if (!key.empty()) {
    std::string masked = MaskedAPIKey(key);
    for (size_t at = message.find(key); at != std::string::npos; at = message.find(key, at + masked.size())) {
      message.replace(at, key.size(), masked);
    }
  }
  return errorWithMessage(std::move(message), code);
}

}  // namespace tw::ai
