#pragma once
// Face batch retouching: the photographer gives one template pair (a photo before and after their
// own retouch) and a queue of photos; for each photo the generation pipeline receives the photo
// and the pair with an instruction to apply the same change, and the result is saved under the
// photo's own name in the plug-in's save folder. The page drives the queue one photo at a time.
// This feature also owns the picker of that save folder, shared with the plug-in bridge.
//
// Threads: every operation is called on the main queue and the item's state lives there;
// decoding (template previews, queue thumbnails, upload copies) runs on the user-initiated global
// queue, and the pipeline's reports are taken back to the main queue before they are passed on.
#include "ai/grsai_client.hpp"
#include "base/json.hpp"
#include "bridge/bridge_server.hpp"
#include "platform/feature_host.hpp"

#include <memory>
#include <optional>
#include <string>

namespace tw::bridge {

inline constexpr char kRetouchSaveLocationSetting[] = "TWRetouchSaveLocation";

class FaceBatch {
 public:
  FaceBatch(FeatureHost& host, std::shared_ptr<ai::TWGRSAIClient> client, std::shared_ptr<TWBridgeServer> server);

  // "before" or "after" (anything else does nothing): a panel for one photo, answered with
  // templateImageSelected {stage, image: {name, path, preview}}, or a status line when the photo
  // cannot be read.
  void chooseFaceTemplateImage(const std::string& stage);
  // A panel for the queue's photos, answered with faceBatchPhotosSelected {items: [{id, name, path,
  // thumbnail}]}; photos without a thumbnail are left out.
  void chooseFaceBatchPhotos();
  // One queue item: {item: {id, path}, template: {before: {path}, after: {path}, name?}, prompt?,
  // imageSize?}. Answers faceBatchProgress, then faceBatchComplete or faceBatchFailed, by item id.
  // Starting an item silences the one before it.
  void generateFaceBatchItem(const Json& body);
  // The item under way reports nothing more, and the shared client's generation stops.
  void cancel();
  // A folder panel; the chosen folder is stored as TWRetouchSaveLocation and handed to the server.
  void chooseSaveLocation();

 private:
  struct Item {
    std::string id;
    std::string path;
  };
  // Main queue, once the three images are prepared (or one could not be).
  void startGeneration(const std::string& request, const Item& item, std::optional<Json> images, Json payload);
  void finishItem(const Item& item, std::optional<Json> result, std::optional<Error> error);
  void Failed(const std::string& id, const std::string& message);

  FeatureHost& host_;
  std::shared_ptr<ai::TWGRSAIClient> client_;
  std::shared_ptr<TWBridgeServer> server_;
  // Main queue only. The request whose images are being prepared, and the item whose generation
  // is under way: only that item's reports reach the page.
  std::optional<std::string> preparingRequest_;
  std::optional<std::string> activeFaceBatchID_;
};

// Moves a generated file into `folder` as "<source name>（n）.<extension>" with the first free n
// from 1 to 9999 (then a UUID instead of n), never replacing a file. The new path, or nullopt when
// it could not be moved. Any thread.
std::optional<std::string> MoveToFaceBatchOutput(const std::string& generated, const std::string& source,
                                                 const std::string& folder);

}  // namespace tw::bridge
