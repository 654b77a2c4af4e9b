#pragma once
// Whether a ComfyUI server runs on this machine: its /system_stats answer on 127.0.0.1:8188.
#include "ai/http_session.hpp"
#include "base/json.hpp"

#include <string>

namespace tw::integrations {

inline constexpr long kComfyProbeTimeoutSeconds = 5;

// The address asked. The test suite moves the port with TIDEWICK_TEST_COMFY_PORT, so that its
// stand-in server never meets a real ComfyUI on this machine.
std::string ComfyProbeURL();
// Connected: no transport error, status 200, and a JSON object with a "system" entry.
bool ComfyConnected(const ai::HttpResponse& response);
// The comfySetupConnection payload.
Json ComfyConnectionResult(bool connected);

}  // namespace tw::integrations
