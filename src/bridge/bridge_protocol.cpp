// The messages of one plug-in connection: who may send what, and what each one gets back.
#include "bridge/bridge_protocol.hpp"

#include "bridge/bridge_server.hpp"
#include "bridge/bridge_texts.hpp"
#include "bridge/input_images.hpp"

#include <chrono>

namespace tw::bridge {
namespace {

constexpr int kAcceptedProgress = 8;

// The image a request names under `role`: its file when that is an input image file, else its
// inline image text, else null.
Json RequestImage(const Json& inputImages, const Json& inputFiles, const char* role) {
  Json file = ObjectField(inputFiles, role);
  if (IsInputImageFile(StringField(file, "path"))) return file;
  std::string text = StringField(inputImages, role);
  if (!text.empty()) return text;
  return nullptr;
}

double MillisecondsSinceEpoch() {
  using namespace std::chrono;
  return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

std::optional<Json> BridgeMessageFromFrame(std::string_view frame) {
  std::optional<Json> message = ParseJSON(frame);
  if (!message || !message->is_object() || NestedDeeperThan(*message, kMaxJsonNesting)) return std::nullopt;
  return message;
}

std::string ImageSizeForQuality(const Json& quality) {
  if (!quality.is_string()) return "2K";
  const std::string& value = quality.get_ref<const std::string&>();
  if (value == "high") return "4K";
  if (value == "standard") return "2K";
  return "1K";
}

Json RetouchPayload(const Json& request) {
  Json inputImages = ObjectField(request, "inputImages");
  Json inputFiles = ObjectField(request, "inputFiles");
  Json images = Json::array();
  for (const char* role : {"source", "reference"}) {
    Json image = RequestImage(inputImages, inputFiles, role);
    if (!image.is_null()) images.push_back(std::move(image));
  }
  return Json{{"prompt", StringField(request, "prompt")},
              {"images", std::move(images)},
              {"imageSize", ImageSizeForQuality(FieldOr(request, "quality", nullptr))}};
}

Json SettingsUpdatedMessage(const std::string& saveLocation) {
  return Json{{"type", "settings.updated"}, {"saveLocation", saveLocation}};
}

Json TaskProgressMessage(int percent, const std::string& stage, const std::string& detail) {
  return Json{{"type", "task.progress"},
              {"progress", percent},
              {"stage", stage.empty() ? std::string(texts::kDefaultStage) : stage},
              {"remainingText", detail}};
}

Json TaskFailedMessage(const std::string& message) { return Json{{"type", "task.failed"}, {"message", message}}; }

Json TaskCompleteMessage(Json result, const Json& document) {
  if (!result.is_object()) result = Json::object();
  result["type"] = "task.complete";
  result["documentId"] = FieldOr(document, "id", 0);
  result["bounds"] = FieldOr(document, "squareSelection", Json::object());
  result["layerName"] = texts::kLayerName;
  result["historyName"] = texts::kHistoryName;
  return result;
}

void SendMessage(BridgePeer& peer, const Json& message) {
  if (!message.is_object()) return;
  peer.Send(std::make_shared<const std::string>(JSONString(message)));
}

// ---- the server's side ---------------------------------------------------------------------

void TWBridgeServer::handleMessage(const Json& message, const std::shared_ptr<BridgePeer>& peer) {
  if (!peer) return;
  const std::string type = StringField(message, "type");
  if (type == "hello") {
    if (StringField(message, "client") != kPluginClientName) {
      peer->Close();
      return;
    }
    authenticatedConnections_.insert(peer);
    recountConnected();
    SendMessage(*peer, Json{{"type", "hello.accepted"},
                            {"connectionMode", "local"},
                            {"saveLocation", saveLocation()},
                            {"grsAI", client_ ? client_->stateSnapshot() : Json::object()}});
    notifyState();
    return;
  }
  // Before a valid "hello" a connection gets nothing at all.
  if (!authenticatedConnections_.count(peer)) return;
  if (type == "ping") {
    SendMessage(*peer, Json{{"type", "pong"}, {"receivedAt", MillisecondsSinceEpoch()}});
  } else if (type == "retouch.request") {
    retouch(message, peer);
  } else if (type == "retouch.cancel") {
    if (client_) client_->cancelCurrentTask();
    SendMessage(*peer, TaskFailedMessage(texts::kCancelledByPlugin));
  }
}

void TWBridgeServer::retouch(const Json& request, const std::shared_ptr<BridgePeer>& peer) {
  SendMessage(*peer, Json{{"type", "task.accepted"}, {"progress", kAcceptedProgress}, {"stage", texts::kTaskAccepted}});
  Json payload = RetouchPayload(request);
  if (!client_) {
    SendMessage(*peer, TaskFailedMessage(texts::kNoClient));
    return;
  }
  // Each answer goes to the connection that asked, through the queue; one that has gone gets nothing.
  std::weak_ptr<TWBridgeServer> server = weak_from_this();
  std::weak_ptr<BridgePeer> asker = peer;
  Json document = ObjectField(request, "document");
  client_->generateWithPayload(
      payload, saveLocation(),
      [server, asker](int percent, const std::string& stage, const std::string& detail) {
        if (auto self = server.lock()) self->sendFromQueue(asker, TaskProgressMessage(percent, stage, detail));
      },
      [server, asker, document = std::move(document)](std::optional<Json> result, std::optional<Error> error) {
        auto self = server.lock();
        // A generation cancelled or replaced by a newer one (from any plug-in or the face batch) is
        // silent: its request has had its last answer already.
        if (!self || (error && error->code == ai::codes::kCancelled)) return;
        if (error) {
          self->sendFromQueue(asker, TaskFailedMessage(error->message.empty() ? texts::kGenerationFailed : error->message));
        } else {
          self->sendFromQueue(asker, TaskCompleteMessage(std::move(*result), document));
        }
      });
}

}  // namespace tw::bridge
