#pragma once
// The project workbench's operations, reached from the action table: project archives, the
// whole-set style (reference, preview, export, cancel), relinking moved photos, and the health
// report with its export.
//
// Every operation is called on the main queue. Reading a reference's preview, the style preview,
// the style export and relinking run on the user-initiated global queue and answer through the
// host's callback channel; archives and the report are read and written on the main queue.
#include "ai/grsai_client.hpp"
#include "base/job_token.hpp"
#include "base/json.hpp"
#include "library/project_store.hpp"
#include "platform/feature_host.hpp"
#include "workbench/style_preview.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tw::workbench {

// What the health report reads from the rest of the program. The functions run on the main queue.
struct HealthSources {
  std::function<Json()> bridgeState;         // the plug-in bridge's state snapshot ({} when none)
  std::function<std::string()> saveLocation;  // the folder generated images are saved into
  std::function<Json()> comfySetup;          // the local image-generation set-up's snapshot ({} when none)
  std::string version;
  std::string build;
};

class WorkbenchFeatures {
 public:
  // store: the project state file "saveState" writes, which an opened archive replaces.
  WorkbenchFeatures(FeatureHost& host, library::ProjectStore& store, std::shared_ptr<ai::TWGRSAIClient> client,
                    HealthSources sources);

  // The reference photo: a file panel, then its preview (read on a worker).
  void chooseProjectReference();
  // body "archive": cleaned, checked, then saved where a save panel says.
  void exportProjectArchive(const Json& body);
  // An open panel; the archive read replaces the stored project only after it was backed up.
  void openProjectArchive();
  // The automatic backups, newest first (read on a worker), and one of them opened like an archive.
  void listProjectBackups();
  // body "name": a backup's file name as listProjectBackups gave it.
  void openProjectBackup(const Json& body);
  // body "photos": matched by file name below the folder a panel names.
  void relinkProjectPhotos(const Json& body);
  // body "token", "reference", "photos", "options".
  void previewProjectStyle(const Json& body);
  // body "token": the token of the latest successful preview.
  void exportProjectStyle(const Json& body);
  // The running preview or export reports nothing more; the stored preview is dropped.
  void cancelProjectStyle();
  void workbenchHealth();
  void exportHealthReport();

 private:
  void FinishPreview(const std::string& token, StylePreviewOutcome outcome);
  // Backs up the current project, stores the archive's state in its place and hands the archive
  // to the page; the status text of the first step that fails otherwise.
  void AdoptArchive(Json archive);

  FeatureHost& host_;
  library::ProjectStore& store_;
  std::shared_ptr<ai::TWGRSAIClient> client_;
  HealthSources sources_;

  // The request that owns the style workflow; read by the workers to notice a cancel. Any thread.
  JobToken projectStyleToken_;
  // Main queue only.
  std::optional<StoredPreview> projectStyleSession_;
  bool projectStyleBusy_ = false;
  std::optional<Json> workbenchReport_;
};

}  // namespace tw::workbench
