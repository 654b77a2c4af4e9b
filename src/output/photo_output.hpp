#pragma once
// Photo output: the operations by which a photographer's files leave the workbench. Moving rejects
// to the trash, the rated export with rating sidecars, the advanced (converting) export and the
// review manifest. Source photos are only ever read (or moved to the trash when asked).
//
// Every operation is called on the main queue, by the action table; long work moves to a worker
// and answers through the host's callback channel.
#include "base/json.hpp"
#include "base/queues.hpp"
#include "platform/feature_host.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tw::output {

class PhotoOutput {
 public:
  explicit PhotoOutput(FeatureHost& host);
  ~PhotoOutput();

  // Trash: moves the selected photos' files on a worker and answers trashComplete.
  void trashPhotos(const Json& photos);
  // options: "ratingAction" (true answers ratingTrashComplete) and "token" (echoed, "" when absent).
  void trashPhotos(const Json& photos, const Json& options);

  // Rated export: body "token", "photos", "folder". Without a folder the folder panel asks first.
  // The copying runs on the rating-export queue.
  void exportRatedPhotos(const Json& body);
  // The folder panel alone; the chosen folder is reported with ratingExportFolder.
  void chooseRatingExportFolder();
  // The folder panel: on OK ratingExportFolder, then done(path); on cancel done(nullopt).
  void chooseRatingExportFolderWithCompletion(std::function<void(std::optional<std::string>)> done);

  // Review manifest: body "photos", "projectName"; asks for the file in a save panel.
  void exportReviewManifest(const Json& body);

  // Advanced export (also the plain export with PlainExportOptions()): asks for the folder, then
  // exports on a user-initiated worker with progress after every photo.
  void exportPhotos(const Json& photos, const Json& options);

 private:
  // Created on first use and kept for the life of the controller.
  SerialQueue& ratingExportQueue();

  FeatureHost& host_;
  std::unique_ptr<SerialQueue> ratingExportQueue_;
};

}  // namespace tw::output
