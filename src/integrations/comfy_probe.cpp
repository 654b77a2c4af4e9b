#include "integrations/comfy_probe.hpp"

#include "integrations/integration_texts.hpp"

#include <cstdlib>
#include <string_view>

namespace tw::integrations {
namespace {

constexpr std::string_view kDefaultPort = "8188";

}  // namespace

std::string ComfyProbeURL() {
  std::string_view port = kDefaultPort;
  if (const char* test = std::getenv("TIDEWICK_TEST_COMFY_PORT")) {
    const std::string_view given = test;
    const bool digits = !given.empty() && given.size() <= 5 && given.find_first_not_of("0123456789") == std::string_view::npos;
    if (digits && std::atol(test) > 0 && std::atol(test) < 65536) port = given;
  }
  return "http://127.0.0.1:" + std::string(port) + "/system_stats";
}

bool ComfyConnected(const ai::HttpResponse& response) {
  if (response.error || response.status != 200 || response.bodyLimitExceeded) return false;
  std::optional<Json> body = ParseJSONWithin(response.body, kMaxJsonNesting);
  return body && body->is_object() && body->contains("system");
}

Json ComfyConnectionResult(bool connected) {
  return Json{{"connected", connected}, {"message", connected ? texts::kComfyConnected : texts::kComfyNotConnected}};
}

}  // namespace tw::integrations
