#pragma once
// The health report ("诊断报告"): five rows telling whether the plug-in is connected, whether the
// folder for generated images is writable, that local processing is available, how far the
// optional local image-generation set-up has got, and whether the cloud service answers. It never
// holds a path, a key, a token or an address with credentials: every text is fixed except the AI
// service's status detail, which is redacted first.
#include "base/json.hpp"

#include <string>

namespace tw::workbench {

// Each row: {"name", "ok", "message"}; "ok" is a boolean except in the local model row (1 or 0).
Json BridgeRow(const Json& bridgeState);
Json SaveLocationRow(bool writable);
Json LocalProcessingRow();
Json LocalModelRow(const Json& comfySetup);
// aiState: the AI client's snapshot after its connection check; apiKey: the stored key, hidden
// wherever it appears in the detail.
Json CloudRow(const Json& aiState, const std::string& apiKey);

// Whether a new file can be made in the folder: absolute, an existing folder, and a file
// "tidewick-write-check-<UUID>" created there exclusively and written; it is removed again.
// Worker or main thread.
bool SaveLocationWritable(const std::string& folder);

}  // namespace tw::workbench
