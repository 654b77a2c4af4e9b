#include "culling/cloud_analysis_run.hpp"

#include "base/files.hpp"
#include "base/queues.hpp"
#include "base/text.hpp"
#include "base/uuid.hpp"
#include "culling/cloud_double_check.hpp"
#include "culling/cloud_review_image.hpp"
#include "culling/culling_prompts.hpp"
#include "culling/culling_texts.hpp"

#include <fmt/format.h>

#include <utility>

namespace tw::culling {
namespace {

// How large and how finely the model is shown each photo ("quality" of the options).
struct QualityMode {
  int longSide;
  double jpegQuality;
};

QualityMode QualityModeOf(const Json& options) {
  const std::string quality = StringField(options, "quality");
  if (quality == "economy") return {768, 0.66};
  if (quality == "fine") return {2048, 0.9};
  return {1280, 0.78};
}

bool IsAbsoluteRegularFile(const std::string& path) { return StartsWith(path, "/") && StatPath(path).isRegular; }

// The file that shows the photo: its path, else the file its thumbnail URL names. Records come
// from the page, so a relative path (it would resolve against our working folder) or anything that
// is not a regular file (a pipe would hold the renderer) counts as no file. Worker.
std::optional<std::string> PhotoFile(const Json& photo) {
  std::string path = StringField(photo, "path");
  if (IsAbsoluteRegularFile(path)) return path;
  auto thumbnail = PathFromFileURL(StringField(photo, "thumbnail"));
  if (thumbnail && IsAbsoluteRegularFile(*thumbnail)) return thumbnail;
  return std::nullopt;
}

// The photo's id as the page sent it, so the page can match the answer; "" without one.
Json PhotoID(const Json& photo) {
  Json id = FieldOr(photo, "id", nullptr);
  return id.is_null() ? Json("") : id;
}

}  // namespace

CloudAnalysisRun::CloudAnalysisRun(FeatureHost& host, std::shared_ptr<ai::TWGRSAIClient> client)
    : host_(host), client_(std::move(client)) {}

void CloudAnalysisRun::startCloudAnalysis(const Json& body) {
  // A start while a run is under way replaces that run instead of being refused: the page asked
  // for these photos now, and the run's state can describe one list only. The old run's request is
  // silenced, anything it rendered is dropped when it comes back (each step checks the run token),
  // and it reports nothing more, not even a completion, so the page never sees two runs' answers
  // interleaved.
  if (cloudAnalysisPhotos_) client_->cancelCurrentTask();
  Forget();

  Json photos = ArrayField(body, "photos");
  if (photos.empty()) {
    host_.Call("window.Native.cloudAnalysisComplete", Json{{"cancelled", false}, {"processed", 0}, {"failed", 0}});
    return;
  }
  cancelCloudAnalysis_ = false;
  cloudAnalysisPhotos_ = std::move(photos);
  cloudAnalysisOptions_ = ObjectField(body, "options");
  cloudAnalysisIndex_ = 0;
  runToken_.Set(NewUUIDString());
  processNextCloudPhotoWithFailed(0);
}

void CloudAnalysisRun::cancel() {
  cancelCloudAnalysis_ = true;
  client_->cancelCurrentTask();
  // A preview rendered ahead is never sent now.
  prepared_.reset();
}

void CloudAnalysisRun::processNextCloudPhotoWithFailed(long failed) {
  const size_t total = cloudAnalysisPhotos_->size();
  if (cancelCloudAnalysis_ || cloudAnalysisIndex_ >= total) {
    host_.Call("window.Native.cloudAnalysisComplete",
               Json{{"cancelled", cancelCloudAnalysis_}, {"processed", cloudAnalysisIndex_}, {"failed", failed}});
    Forget();
    return;
  }
  host_.Call("window.Native.cloudAnalysisProgress",
             Json{{"processed", cloudAnalysisIndex_}, {"total", total}, {"name", StringField(Photo(), "name")}});
  if (prepared_ && prepared_->index == cloudAnalysisIndex_) {
    std::string jpeg = std::move(prepared_->jpeg);
    prepared_.reset();
    SendPhoto(failed, std::move(jpeg));
    return;
  }
  waitingWithFailed_ = failed;
  if (preparing_ != cloudAnalysisIndex_) PreparePreview(cloudAnalysisIndex_);
}

void CloudAnalysisRun::PreparePreview(size_t index) {
  preparing_ = index;
  const QualityMode mode = QualityModeOf(cloudAnalysisOptions_);
  queues::Global(QoS::UserInitiated, [this, run = runToken_.Get().value_or(""), index,
                                      photo = (*cloudAnalysisPhotos_)[index], mode] {
    // A run replaced or finished meanwhile renders nothing more.
    if (!Current(run)) return;
    Preview preview{index, ""};
    if (auto file = PhotoFile(photo)) {
      preview.jpeg = PreparedCloudReviewJPEG(*file, mode.longSide, mode.jpegQuality, host_.LensCorrectionEnabled())
                         .value_or("");
    }
    queues::Main([this, run, preview = std::move(preview)]() mutable { PreviewReady(run, std::move(preview)); });
  });
}

void CloudAnalysisRun::PreviewReady(const std::string& run, Preview preview) {
  if (!Current(run) || preparing_ != preview.index) return;
  preparing_.reset();
  if (waitingWithFailed_ && preview.index == cloudAnalysisIndex_) {
    const long failed = *waitingWithFailed_;
    waitingWithFailed_.reset();
    SendPhoto(failed, std::move(preview.jpeg));
  } else if (!cancelCloudAnalysis_) {
    prepared_ = std::move(preview);
  }
}

void CloudAnalysisRun::SendPhoto(long failed, std::string jpeg) {
  if (cancelCloudAnalysis_) {
    processNextCloudPhotoWithFailed(failed);
    return;
  }
  // The next photo renders while this one's answer is awaited.
  const size_t next = cloudAnalysisIndex_ + 1;
  if (next < cloudAnalysisPhotos_->size() && !preparing_ && !prepared_) PreparePreview(next);

  auto preview = std::make_shared<const std::string>(std::move(jpeg));
  std::string prompt = cloudReviewPromptForPhoto(Photo(), cloudAnalysisOptions_);
  const std::string run = runToken_.Get().value_or("");
  // No bytes (no readable file) are refused by the client at once with its own error; an empty
  // model is sent as the client's default vision model.
  client_->analyzePhotoData(
      *preview, StringField(cloudAnalysisOptions_, "model"), prompt,
      [this, run, failed, preview, prompt](std::optional<Json> result, std::optional<Error> error) {
        FirstAnswer(run, failed, preview, prompt, std::move(result), std::move(error));
      });
}

void CloudAnalysisRun::FirstAnswer(const std::string& run, long failed, std::shared_ptr<const std::string> jpeg,
                                   std::string prompt, std::optional<Json> result, std::optional<Error> error) {
  if (!Current(run)) return;
  // After a cancel no second request goes out: the run ends with what Finish makes of it.
  if (error || !result || cancelCloudAnalysis_ || !shouldDoubleCheckCloudResult(*result, cloudAnalysisOptions_)) {
    Finish(failed, std::move(result), std::move(error));
    return;
  }
  host_.Call("window.Native.cloudAnalysisProgress",
             Json{{"processed", cloudAnalysisIndex_},
                  {"total", cloudAnalysisPhotos_->size()},
                  {"name", fmt::format(texts::kSecondPassProgressName, StringField(Photo(), "name"))}});
  client_->analyzePhotoData(*jpeg, StringField(cloudAnalysisOptions_, "model"), SecondPassPrompt(prompt),
                            [this, run, failed, first = std::move(*result)](std::optional<Json> second,
                                                                             std::optional<Error> error) {
                              if (!Current(run)) return;
                              // A failed second look leaves the first verdict standing alone.
                              Finish(failed, error || !second ? first : mergedCloudResult(first, *second),
                                     std::nullopt);
                            });
}

void CloudAnalysisRun::Finish(long failed, std::optional<Json> result, std::optional<Error> error) {
  if (cancelCloudAnalysis_) {
    processNextCloudPhotoWithFailed(failed);
    return;
  }
  const Json photo = Photo();
  cloudAnalysisIndex_ += 1;
  Json payload = {{"id", PhotoID(photo)}, {"processed", cloudAnalysisIndex_}, {"total", cloudAnalysisPhotos_->size()}};
  if (error) {
    payload["error"] = error->message.empty() ? std::string(texts::kCloudReviewFailed) : error->message;
    ++failed;
  } else {
    payload["result"] = result ? std::move(*result) : Json::object();
  }
  host_.Call("window.Native.cloudAnalysisResult", std::move(payload));
  processNextCloudPhotoWithFailed(failed);
}

void CloudAnalysisRun::Forget() {
  cloudAnalysisPhotos_.reset();
  cloudAnalysisOptions_ = Json::object();
  runToken_.Clear();
  preparing_.reset();
  prepared_.reset();
  waitingWithFailed_.reset();
}

}  // namespace tw::culling
