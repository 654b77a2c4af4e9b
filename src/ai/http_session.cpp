#include "ai/http_session.hpp"

#include "ai/texts.hpp"
#include "base/files.hpp"
#include "base/queues.hpp"
#include "base/text.hpp"

#include <curl/curl.h>
#include <fmt/format.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

namespace tw::ai {
namespace {

constexpr char kSystemCABundleFallback[] = "/etc/ssl/certs/ca-certificates.crt";

void GlobalInitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Setting CURLOPT_CAINFO would replace the system's bundle, so an extra CA is appended to a copy
// of it and handed over as a blob. Computed once: the environment is read at start-up only.
const std::optional<std::string>& ExtraTrustBundle() {
  static const std::optional<std::string> bundle = []() -> std::optional<std::string> {
    const char* extraFile = std::getenv("TIDEWICK_TEST_CA_FILE");
    if (!extraFile || !*extraFile) return std::nullopt;
    auto extra = ReadWholeFile(extraFile);
    if (!extra) return std::nullopt;
    std::string systemPath = kSystemCABundleFallback;
    if (CURL* probe = curl_easy_init()) {
      char* builtIn = nullptr;
      if (curl_easy_getinfo(probe, CURLINFO_CAINFO, &builtIn) == CURLE_OK && builtIn) systemPath = builtIn;
      curl_easy_cleanup(probe);
    }
    std::string combined = ReadWholeFile(systemPath).value_or("");
    combined += "\n";
    combined += *extra;
    return combined;
  }();
  return bundle;
}

std::string TransportDescription(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return texts::kTransportTimedOut;
    case CURLE_COULDNT_CONNECT:
      return texts::kTransportCannotConnect;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return texts::kTransportCannotResolve;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
      return texts::kTransportSecureConnection;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return texts::kTransportConnectionLost;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return texts::kTransportBadURL;
    default:
      return fmt::format(texts::kTransportOther, static_cast<int>(code));
  }
}

std::string MediaTypeWithoutParameters(const char* contentType) {
  if (!contentType) return "";
  std::string text = contentType;
  if (auto semicolon = text.find(';'); semicolon != std::string::npos) text.resize(semicolon);
  return Trim(text);
}

struct Transfer {
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  HttpRequest request;
  HttpCompletion completion;
  std::string body;
  bool limitExceeded = false;
  std::shared_ptr<queues::InFlight> hold;

  ~Transfer() {
    if (easy) curl_easy_cleanup(easy);
    curl_slist_free_all(headerList);
  }

  static size_t Write(char* data, size_t size, size_t count, void* context) {
    auto* self = static_cast<Transfer*>(context);
    size_t length = size * count;
    size_t room = self->request.maxBodyBytes + 1 - self->body.size();
    if (length > room) {
      self->body.append(data, room);
      self->limitExceeded = true;
      return 0;  // stops the transfer
    }
    self->body.append(data, length);
    return length;
  }
};

void Configure(Transfer& transfer, const HttpSession::Timeouts& timeouts) {
  CURL* easy = curl_easy_init();
  if (!easy) return;
  transfer.easy = easy;
  const HttpRequest& request = transfer.request;
  long idle = request.idleTimeoutSeconds > 0 ? request.idleTimeoutSeconds : timeouts.idleSeconds;

  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (const auto& bundle = ExtraTrustBundle()) {
    curl_blob blob{const_cast<char*>(bundle->data()), bundle->size(), CURL_BLOB_NOCOPY};
    curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
  }
  const char* protocols = request.carriesCredentials ? "https" : "http,https";
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, protocols);
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");

  curl_easy_setopt(easy, CURLOPT_TIMEOUT, timeouts.totalSeconds);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, idle);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, idle);

  if (request.method == "POST") {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
  } else if (request.method != "GET") {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
  if (request.method == "POST" || !request.body.empty()) {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  }

  for (const auto& [name, value] : request.headers) {
    transfer.headerList = curl_slist_append(transfer.headerList, (name + ": " + value).c_str());
  }
  // No "Expect: 100-continue" round trip before larger bodies.
  transfer.headerList = curl_slist_append(transfer.headerList, "Expect:");
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headerList);

  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::Write);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_PRIVATE, &transfer);
}

HttpResponse ResponseOf(Transfer& transfer, CURLcode result) {
  HttpResponse response;
  if (!transfer.easy) {
    response.error = TransportError{static_cast<int>(result), false, TransportDescription(result)};
    return response;
  }
  long status = 0;
  curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
  char* contentType = nullptr;
  curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_TYPE, &contentType);
  response.mediaType = MediaTypeWithoutParameters(contentType);
  response.body = std::move(transfer.body);
  response.bodyLimitExceeded = transfer.limitExceeded;
  if (result == CURLE_OK || (result == CURLE_WRITE_ERROR && transfer.limitExceeded)) {
    response.status = status;
  } else {
    response.error = TransportError{static_cast<int>(result), result == CURLE_OPERATION_TIMEDOUT,
                                    TransportDescription(result)};
  }
  return response;
}

}  // namespace

struct HttpSession::Engine {
  explicit Engine(Timeouts t) : timeouts(t), multi(curl_multi_init()) {}
  ~Engine() {
    active.clear();
    if (multi) curl_multi_cleanup(multi);
  }

  static void Deliver(std::unique_ptr<Transfer> transfer, CURLcode result) {
    HttpResponse response = ResponseOf(*transfer, result);
    HttpCompletion completion = std::move(transfer->completion);
    auto hold = std::move(transfer->hold);
    transfer.reset();
    // The hold outlives the completion, so a request chained from it keeps the work counted
    // without a gap.
    completion(std::move(response));
  }

  void Loop() {
    for (;;) {
      std::vector<std::unique_ptr<Transfer>> arrived;
      {
        std::lock_guard lock(mutex);
        if (stopping) break;
        arrived.swap(pending);
      }
      for (auto& transfer : arrived) {
        CURL* easy = transfer->easy;
        if (!easy) {
          Deliver(std::move(transfer), CURLE_FAILED_INIT);
          continue;
        }
        curl_multi_add_handle(multi, easy);
        active.emplace(easy, std::move(transfer));
      }
      int running = 0;
      curl_multi_perform(multi, &running);
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        CURL* easy = message->easy_handle;
        CURLcode result = message->data.result;
        curl_multi_remove_handle(multi, easy);
        auto found = active.find(easy);
        if (found == active.end()) continue;
        std::unique_ptr<Transfer> transfer = std::move(found->second);
        active.erase(found);
        Deliver(std::move(transfer), result);
      }
      curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    for (auto& [easy, transfer] : active) curl_multi_remove_handle(multi, easy);
    active.clear();
    std::vector<std::unique_ptr<Transfer>> abandoned;
    {
      std::lock_guard lock(mutex);
      abandoned.swap(pending);
    }
    // Released outside the lock: a completion's captures may end their owner's life.
  }

  const Timeouts timeouts;
  CURLM* multi;
  std::mutex mutex;
  std::vector<std::unique_ptr<Transfer>> pending;  // guarded by mutex
  bool stopping = false;                           // guarded by mutex
  std::map<CURL*, std::unique_ptr<Transfer>> active;  // the session thread's own
  std::thread thread;
};

HttpSession::HttpSession(Timeouts timeouts) {
  GlobalInitOnce();
  ExtraTrustBundle();
  engine_ = std::make_shared<Engine>(timeouts);
  engine_->thread = std::thread([engine = engine_] { engine->Loop(); });
}

HttpSession::~HttpSession() {
  {
    std::lock_guard lock(engine_->mutex);
    engine_->stopping = true;
  }
  curl_multi_wakeup(engine_->multi);
  if (engine_->thread.get_id() == std::this_thread::get_id()) {
    engine_->thread.detach();
  } else {
    engine_->thread.join();
  }
}

void HttpSession::Send(HttpRequest request, HttpCompletion completion) {
  auto transfer = std::make_unique<Transfer>();
  transfer->request = std::move(request);
  transfer->completion = std::move(completion);
  transfer->hold = queues::Hold();
  // A transfer without a handle (libcurl out of memory) is answered with a failure on the
  // session's thread like any other.
  Configure(*transfer, engine_->timeouts);
  {
    std::lock_guard lock(engine_->mutex);
    if (engine_->stopping) return;
    engine_->pending.push_back(std::move(transfer));
  }
  curl_multi_wakeup(engine_->multi);
}

}  // namespace tw::ai
