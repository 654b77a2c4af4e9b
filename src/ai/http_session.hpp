#pragma once
// The AI client's HTTP session: libcurl transfers driven by one thread of the session's own,
// which is also the session's callback queue (every completion runs there, one at a time).
//
// TLS peers are always verified. The only extra trust is a CA file named by the environment
// variable TIDEWICK_TEST_CA_FILE, read once per process and trusted in addition to the system's
// store; the test suite uses it for its local stand-in of the service.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tw::ai {

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // sent when non-empty or when the method is POST
  // Seconds without any progress (also while connecting) before the request fails as timed
  // out; 0 keeps the session's value.
  long idleTimeoutSeconds = 0;
  // The answer body is kept up to this many bytes plus one; a longer answer is cut off there
  // and marked with bodyLimitExceeded.
  size_t maxBodyBytes = 64u << 20;
  // A request that carries the API key may only go to HTTPS addresses, redirects included.
  // Other requests (uploads to storage, result downloads) may also use plain HTTP.
  bool carriesCredentials = false;
};

struct TransportError {
  int code = 0;           // libcurl's code
  bool timedOut = false;  // no progress within the idle time, or the whole exchange took too long
  std::string description;  // Chinese, never holding request headers
};

struct HttpResponse {
  long status = 0;  // the HTTP status; 0 whenever there is a transport error
  std::string body;
  std::string mediaType;  // the Content-Type without parameters; "" when none was sent
  bool bodyLimitExceeded = false;
  std::optional<TransportError> error;
};

using HttpCompletion = std::function<void(HttpResponse response)>;

class HttpSession {
 public:
  struct Timeouts {
    long idleSeconds = 90;
    long totalSeconds = 420;
  };

  explicit HttpSession(Timeouts timeouts);
  // Stops the thread; transfers still running are abandoned without calling their completion.
  // May run on the session's own thread (the thread then ends after the current completion).
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // Any thread. Starts the request; its completion runs later on the session's thread, exactly
  // once unless the session is destroyed first. The request counts as work in flight
  // (queues::Hold) until its completion has returned.
  void Send(HttpRequest request, HttpCompletion completion);

 private:
  struct Engine;
  std::shared_ptr<Engine> engine_;
};

}  // namespace tw::ai
