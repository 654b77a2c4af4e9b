#pragma once
// The plug-in's message protocol: every message in either direction is one text frame holding one
// JSON object whose "type" names it. Incoming: "hello" {client}, then (authenticated only) "ping",
// "retouch.request" {inputImages, inputFiles, quality, prompt, document} and "retouch.cancel".
// Outgoing: "hello.accepted", "pong", "task.accepted", "task.progress", "task.complete",
// "task.failed" and "settings.updated". The handling itself is TWBridgeServer::handleMessage.
#include "base/json.hpp"
#include "bridge/bridge_peer.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tw::bridge {

// The largest message a plug-in may send (64 MiB); a larger one ends its connection.
inline constexpr size_t kMaxMessageBytes = 64u << 20;
// The one client name a "hello" is accepted with (case matters).
inline constexpr char kPluginClientName[] = "photoshop";

// The message a frame carries: a JSON object nested no deeper than kMaxJsonNesting (writing a
// deeper one back would overflow the stack). Anything else is no message and is dropped.
std::optional<Json> BridgeMessageFromFrame(std::string_view frame);

// The generation payload of a "retouch.request": {prompt, images, imageSize}. The source comes
// before the reference; each is the plug-in's file descriptor when its path names an input image
// file (input_images.hpp), else the inline image text when there is one, else left out. Reads the
// named files' first bytes: call it on a worker or the server's queue.
Json RetouchPayload(const Json& request);

// The size class of a request's "quality": "high" 4K, "standard" or none 2K, anything else 1K.
std::string ImageSizeForQuality(const Json& quality);

Json SettingsUpdatedMessage(const std::string& saveLocation);
Json TaskProgressMessage(int percent, const std::string& stage, const std::string& detail);
Json TaskFailedMessage(const std::string& message);
// The pipeline's result with what the plug-in needs to insert it: the request's document id and
// square selection as they came (0 and {} when absent), the layer and history names.
Json TaskCompleteMessage(Json result, const Json& document);

// Serialises the message compactly and queues it on the peer.
void SendMessage(BridgePeer& peer, const Json& message);

}  // namespace tw::bridge
