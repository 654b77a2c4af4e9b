#include "output/photo_output.hpp"

#include "base/files.hpp"
#include "output/advanced_export.hpp"
#include "output/output_texts.hpp"
#include "output/rated_export.hpp"
#include "output/review_manifest.hpp"
#include "output/trash_photos.hpp"

#include <fmt/format.h>

#include <ctime>

namespace tw::output {

inline constexpr const char* kRatingExportQueueLabel = "com.avo.tidewick.rating-export";

PhotoOutput::PhotoOutput(FeatureHost& host) : host_(host) {}
PhotoOutput::~PhotoOutput() = default;

SerialQueue& PhotoOutput::ratingExportQueue() {
  if (!ratingExportQueue_) ratingExportQueue_ = std::make_unique<SerialQueue>(kRatingExportQueueLabel);
  return *ratingExportQueue_;
}

// ---- Trash ---------------------------------------------------------------------------------

void PhotoOutput::trashPhotos(const Json& photos) { trashPhotos(photos, Json::object()); }

void PhotoOutput::trashPhotos(const Json& photos, const Json& options) {
  const bool ratingAction = BoolField(options, "ratingAction", false);
  const char* callback = ratingAction ? callbacks::kRatingTrashComplete : callbacks::kTrashComplete;
  Json token = FieldOr(options, "token", "");
  if (token.is_null()) token = "";

  auto answer = [this, callback, token](TrashReport report) {
    host_.Call(callback, Json{{"token", token}, {"removedIDs", std::move(report.removedIDs)}, {"message", report.message}});
  };
  TrashSelection selection = SelectFilesToTrash(photos);
  if (selection.items.empty() && selection.refused == 0) {
    answer(NothingToTrash());
    return;
  }
  queues::Global(QoS::UserInitiated, [this, answer, selection = std::move(selection)] {
    answer(MoveFilesToTrash(selection, host_.platform()));
  });
}

// ---- Rated export --------------------------------------------------------------------------

void PhotoOutput::chooseRatingExportFolder() { chooseRatingExportFolderWithCompletion(nullptr); }

void PhotoOutput::chooseRatingExportFolderWithCompletion(std::function<void(std::optional<std::string>)> done) {
  platform::PanelRequest request;
  request.kind = platform::PanelRequest::Kind::OpenFolder;
  request.title = texts::kRatedPanelTitle;
  request.button = texts::kRatedPanelButton;
  request.canCreateFolders = true;
  host_.presentFilePanel(request, [this, done = std::move(done)](platform::PanelResult result) {
    if (!result.ok) {
      if (done) done(std::nullopt);
      return;
    }
    std::string path = result.paths.empty() ? "" : result.paths.front();
    host_.Call(callbacks::kRatingExportFolder, Json{{"path", path}});
    if (done) done(path);
  });
}

void PhotoOutput::exportRatedPhotos(const Json& body) {
  RatedExportJob job{StringField(body, "token"), ArrayField(body, "photos"), StringField(body, "folder")};

  if (job.baseFolder.empty()) {
    chooseRatingExportFolderWithCompletion([this, body, token = job.token](std::optional<std::string> chosen) {
      if (!chosen) {
        host_.Call(callbacks::kRatingExportComplete, Json{{"token", token},
                                                          {"cancelled", true},
                                                          {"outputs", Json::array()},
                                                          {"message", texts::kRatedCancelled}});
        return;
      }
      Json again = body.is_object() ? body : Json::object();
      again["folder"] = *chosen;
      exportRatedPhotos(again);
    });
    return;
  }

  if (job.photos.empty() || !IsDirectory(job.baseFolder)) {
    host_.Call(callbacks::kRatingExportComplete,
               Json{{"token", job.token}, {"outputs", Json::array()}, {"message", texts::kRatedFolderUnusable}});
    return;
  }

  ratingExportQueue().Post([this, job = std::move(job)] {
    host_.Call(callbacks::kRatingExportComplete, RunRatedExport(job, std::time(nullptr)));
  });
}

// ---- Review manifest -----------------------------------------------------------------------

void PhotoOutput::exportReviewManifest(const Json& body) {
  Json photos = ArrayField(body, "photos");
  if (photos.empty()) {
    host_.Call(callbacks::kReviewManifestComplete,
               Json{{"success", false}, {"message", texts::kManifestNoPhotos}});
    return;
  }
  std::string projectName = texts::kManifestDefaultProject;
  if (auto it = body.find("projectName"); it != body.end() && it->is_string()) projectName = it->get<std::string>();

  platform::PanelRequest request;
  request.kind = platform::PanelRequest::Kind::SaveFile;
  request.title = texts::kManifestPanelTitle;
  request.button = texts::kManifestPanelButton;
  request.extensions = {"txt"};
  request.suggestedName = fmt::format(texts::kManifestFileName, ManifestFileStem(projectName));
  host_.presentFilePanel(request, [this, photos = std::move(photos), projectName](platform::PanelResult result) {
    if (!result.ok || result.paths.empty()) {
      host_.Call(callbacks::kReviewManifestCancelled, Json::object());
      return;
    }
    const std::string& path = result.paths.front();
    std::string text = ReviewManifestText(photos, projectName, std::time(nullptr));
    if (auto error = WriteFileAtomically(path, text)) {
      host_.Call(callbacks::kReviewManifestComplete,
                 Json{{"success", false},
                      {"message", error->empty() ? texts::kManifestSaveFailed : *error},
                      {"folder", ""}});
      return;
    }
    host_.Call(callbacks::kReviewManifestComplete,
               Json{{"success", true},
                    {"message", fmt::format(texts::kManifestSaved, static_cast<long>(photos.size()))},
                    {"folder", ParentDirectory(path)}});
  });
}

// ---- Advanced export -----------------------------------------------------------------------

void PhotoOutput::exportPhotos(const Json& photos, const Json& options) {
  if (!photos.is_array() || photos.empty()) {
    host_.Call(callbacks::kExportComplete, Json{{"message", texts::kNothingToExport}});
    return;
  }
  platform::PanelRequest request;
  request.kind = platform::PanelRequest::Kind::OpenFolder;
  request.title = texts::kExportPanelTitle;
  request.button = texts::kExportPanelButton;
  host_.presentFilePanel(request, [this, photos, options](platform::PanelResult result) {
    if (!result.ok || result.paths.empty()) {
      host_.Call(callbacks::kExportComplete, Json{{"message", texts::kExportCancelled}});
      return;
    }
    AdvancedExportJob job{photos, result.paths.front(), ReadExportOptions(options)};
    queues::Global(QoS::UserInitiated, [this, job = std::move(job)] {
      Json done = RunAdvancedExport(
          job, std::time(nullptr), [this] { return host_.LensCorrectionEnabled(); },
          [this](Json progress) { host_.Call(callbacks::kExportProgress, std::move(progress)); });
      host_.Call(callbacks::kExportComplete, std::move(done));
    });
  });
}

}  // namespace tw::output
