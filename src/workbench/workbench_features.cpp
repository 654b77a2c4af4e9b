#include "workbench/workbench_features.hpp"

#include "base/files.hpp"
#include "base/queues.hpp"
#include "base/text.hpp"
#include "base/uuid.hpp"
#include "library/imaging/decoding.hpp"
#include "library/import_scan.hpp"
#include "workbench/health_report.hpp"
#include "workbench/photo_relink.hpp"
#include "workbench/project_archive.hpp"
#include "workbench/project_backups.hpp"
#include "workbench/style_export.hpp"
#include "workbench/workbench_texts.hpp"

namespace tw::workbench {
namespace {

// A panel answers with absolute paths; anything else is treated as no usable answer.
std::optional<std::string> ChosenPath(const platform::PanelResult& result) {
  if (!result.ok || result.paths.empty() || !StartsWith(result.paths.front(), "/")) return std::nullopt;
  return result.paths.front();
}

}  // namespace

WorkbenchFeatures::WorkbenchFeatures(FeatureHost& host, library::ProjectStore& store,
                                     std::shared_ptr<ai::TWGRSAIClient> client, HealthSources sources)
    : host_(host), store_(store), client_(std::move(client)), sources_(std::move(sources)) {}

// ---- The reference photo -------------------------------------------------------------------

void WorkbenchFeatures::chooseProjectReference() {
  platform::PanelRequest request;
  request.kind = platform::PanelRequest::Kind::OpenFiles;
  request.title = texts::kReferencePanelTitle;
  request.extensions = {"jpg", "jpeg", "png", "tif", "tiff", "heic"};
  host_.presentFilePanel(request, [this](platform::PanelResult result) {
    if (!result.ok) {
      host_.Call(callbacks::kProjectReferenceSelected, Json{{"cancelled", true}});
      return;
    }
    const std::string path = result.paths.empty() ? "" : result.paths.front();
    queues::Global(QoS::UserInitiated, [this, path] {
      std::string preview = TWPhotoPath(path) ? imaging::ImagePreviewDataURL(path) : "";
      if (preview.empty()) {
        host_.Status(texts::kReferenceUnreadable);
        return;
      }
      host_.Call(callbacks::kProjectReferenceSelected,
                 Json{{"reference", {{"path", path}, {"name", LastPathComponent(path)}, {"preview", preview}}}});
    });
  });
}

// ---- Project archives ----------------------------------------------------------------------

void WorkbenchFeatures::exportProjectArchive(const Json& body) {
  ArchiveToSave archive = ArchiveForSaving(FieldOr(body, "archive", nullptr));
  if (archive.error) {
    host_.Call(callbacks::kProjectArchiveSaved, Json{{"error", *archive.error}});
    return;
  }
  platform::PanelRequest request;
  request.kind = platform::PanelRequest::Kind::SaveFile;
  request.title = texts::kArchiveSavePanelTitle;
  request.suggestedName = texts::kArchiveFileName;
  request.extensions = {texts::kArchiveExtension};
  host_.presentFilePanel(request, [this, bytes = std::move(archive.bytes)](platform::PanelResult result) {
    if (!result.ok) {
      host_.Call(callbacks::kProjectArchiveSaved, Json{{"cancelled", true}});
      return;
    }
    const std::optional<std::string> path = ChosenPath(result);
    if (!path || WriteFileAtomically(*path, bytes)) {
      host_.Call(callbacks::kProjectArchiveSaved, Json{{"error", texts::kArchiveWriteFailed}});
      return;
    }
    host_.Call(callbacks::kProjectArchiveSaved, Json{{"ok", true}});
  });
}

void WorkbenchFeatures::openProjectArchive() {
  platform::PanelRequest request;
  request.kind = platform::PanelRequest::Kind::OpenFiles;
  request.title = texts::kArchiveOpenPanelTitle;
  request.directory = JoinPath(host_.supportFolder(), library::kProjectRecordsFolder);
  host_.presentFilePanel(request, [this](platform::PanelResult result) {
    if (!result.ok) {
      host_.Call(callbacks::kProjectArchiveLoaded, Json{{"cancelled", true}});
      return;
    }
    const std::optional<std::string> path = ChosenPath(result);
    OpenedArchive opened = ReadProjectArchive(path.value_or(""));
    if (!opened.archive) {
      host_.Status(opened.status);
      return;
    }
    AdoptArchive(std::move(*opened.archive));
  });
}

void WorkbenchFeatures::listProjectBackups() {
  queues::Global(QoS::UserInitiated, [this] {
    host_.Call(callbacks::kProjectBackups, Json{{"backups", ListProjectBackups(host_.supportFolder())}});
  });
}

void WorkbenchFeatures::openProjectBackup(const Json& body) {
  const std::optional<std::string> path = ProjectBackupPath(host_.supportFolder(), FieldOr(body, "name", nullptr));
  if (!path) {
    host_.Status(texts::kBackupMissing);
    return;
  }
  OpenedArchive opened = ReadProjectArchive(*path);
  if (!opened.archive) {
    host_.Status(opened.status);
    return;
  }
  AdoptArchive(std::move(*opened.archive));
}

void WorkbenchFeatures::AdoptArchive(Json archive) {
  if (!library::BackUpProject(host_.supportFolder())) {
    host_.Status(texts::kArchiveBackupFailed);
    return;
  }
  // Stored as "saveState" stores it, so that what the page shows is what a restart restores.
  if (std::optional<std::string> failure = store_.saveState(&archive["state"])) {
    host_.Status(*failure);
    return;
  }
  host_.Call(callbacks::kProjectArchiveLoaded, Json{{"archive", std::move(archive)}});
}

// ---- Relinking -----------------------------------------------------------------------------

void WorkbenchFeatures::relinkProjectPhotos(const Json& body) {
  Json photos = ArrayField(body, "photos");
  if (photos.size() > kMaxRelinkPhotos) return;
  platform::PanelRequest request;
  request.kind = platform::PanelRequest::Kind::OpenFolder;
  request.title = texts::kRelinkPanelTitle;
  host_.presentFilePanel(request, [this, photos = std::move(photos)](platform::PanelResult result) {
    if (!result.ok) {
      host_.Call(callbacks::kProjectPhotosRelinked, Json{{"cancelled", true}});
      return;
    }
    queues::Global(QoS::UserInitiated, [this, photos, folder = ChosenPath(result).value_or("")] {
      host_.Call(callbacks::kProjectPhotosRelinked, RelinkPhotos(photos, folder, host_.supportFolder()));
    });
  });
}

// ---- The whole-set style -------------------------------------------------------------------

void WorkbenchFeatures::previewProjectStyle(const Json& body) {
  ReadPreviewRequest read = ReadStylePreviewRequest(body);
  const std::string token = read.request.token;
  if (token.empty()) return;
  if (projectStyleBusy_ || read.error) {
    host_.Call(callbacks::kProjectStylePreview,
               Json{{"token", token}, {"error", projectStyleBusy_ ? texts::kStyleBusy : *read.error}});
    return;
  }
  projectStyleToken_.Set(token);
  projectStyleSession_.reset();
  projectStyleBusy_ = true;
  const bool lens = host_.LensCorrectionEnabled();
  queues::Global(QoS::UserInitiated, [this, request = std::move(read.request), lens] {
    StylePreviewOutcome outcome =
        RunStylePreview(request, lens, [this, &request] { return projectStyleToken_.Is(request.token); });
    queues::Main([this, token = request.token, outcome = std::move(outcome)]() mutable {
      FinishPreview(token, std::move(outcome));
    });
  });
}

void WorkbenchFeatures::FinishPreview(const std::string& token, StylePreviewOutcome outcome) {
  projectStyleBusy_ = false;
  if (!projectStyleToken_.Is(token)) return;
  if (!outcome.preview) {
    host_.Call(callbacks::kProjectStylePreview, Json{{"token", token}, {"error", outcome.error}});
    return;
  }
  const size_t total = outcome.preview->plans.size();
  projectStyleSession_ = std::move(outcome.preview);
  host_.Call(callbacks::kProjectStylePreview,
             Json{{"token", token}, {"previews", std::move(outcome.previews)}, {"total", total}});
}

void WorkbenchFeatures::exportProjectStyle(const Json& body) {
  const Json token = FieldOr(body, "token", "");
  const bool current = token.is_string() && projectStyleSession_ && projectStyleSession_->token == token &&
                       projectStyleToken_.Is(token.get<std::string>());
  if (projectStyleBusy_ || !current) {
    host_.Call(callbacks::kProjectStyleComplete, Json{{"token", token}, {"error", texts::kStylePreviewExpired}});
    return;
  }
  projectStyleBusy_ = true;
  platform::PanelRequest request;
  request.kind = platform::PanelRequest::Kind::OpenFolder;
  request.title = texts::kStyleExportPanelTitle;
  request.canCreateFolders = true;
  host_.presentFilePanel(request, [this, preview = *projectStyleSession_](platform::PanelResult result) {
    const std::string& token = preview.token;
    if (!result.ok) {
      projectStyleBusy_ = false;
      host_.Call(callbacks::kProjectStyleComplete, Json{{"token", token}, {"cancelled", true}});
      return;
    }
    // Cancelled while the panel was open: nothing is written, and the page knows already.
    if (!projectStyleToken_.Is(token)) {
      projectStyleBusy_ = false;
      return;
    }
    // A folder that is no absolute path stays "", which the run refuses to create.
    const std::optional<std::string> chosen = ChosenPath(result);
    const std::string folder = chosen ? JoinPath(*chosen, texts::kStyleFolderPrefix + NewUUIDString()) : "";
    const bool lens = host_.LensCorrectionEnabled();
    queues::Global(QoS::UserInitiated, [this, preview, folder, lens] {
      StyleExportOutcome outcome =
          RunStyleExport(preview, folder, lens, [this, &preview] { return projectStyleToken_.Is(preview.token); });
      queues::Main([this, token = preview.token, outcome] {
        projectStyleBusy_ = false;
        if (!projectStyleToken_.Is(token)) return;
        projectStyleSession_.reset();
        host_.Call(callbacks::kProjectStyleComplete, Json{{"token", token}, {"message", StyleExportMessage(outcome)}});
      });
    });
  });
}

void WorkbenchFeatures::cancelProjectStyle() {
  projectStyleToken_.Clear();
  projectStyleSession_.reset();
}

// ---- The health report ---------------------------------------------------------------------

void WorkbenchFeatures::workbenchHealth() {
  Json rows = Json::array({BridgeRow(sources_.bridgeState()),
                           SaveLocationRow(SaveLocationWritable(sources_.saveLocation())), LocalProcessingRow(),
                           LocalModelRow(sources_.comfySetup())});
  client_->testConnection([this, rows = std::move(rows)](Json snapshot) mutable {
    rows.push_back(CloudRow(snapshot, client_->apiKey()));
    workbenchReport_ = Json{{"version", sources_.version}, {"build", sources_.build}, {"rows", std::move(rows)}};
    host_.Call(callbacks::kWorkbenchHealth, *workbenchReport_);
  });
}

void WorkbenchFeatures::exportHealthReport() {
  if (!workbenchReport_) return;
  platform::PanelRequest request;
  request.kind = platform::PanelRequest::Kind::SaveFile;
  request.suggestedName = texts::kReportFileName;
  request.extensions = {"txt"};
  host_.presentFilePanel(request, [this, report = *workbenchReport_](platform::PanelResult result) {
    if (!result.ok) return;
    const std::optional<std::string> path = ChosenPath(result);
    const bool saved = path && !WriteFileAtomically(*path, report.dump(2, ' ', false, Json::error_handler_t::replace));
    host_.Status(saved ? texts::kReportSaved : texts::kReportSaveFailed);
  });
}

}  // namespace tw::workbench
