#pragma once
// The cloud analysis run: the photos the page wants reviewed by the vision model, one request at
// a time in the page's order, each verdict reported as soon as it arrives ("cloudAnalysisResult"),
// with progress before every request and one "cloudAnalysisComplete" at the end. A doubtful first
// verdict may be checked by an independent second request and merged with it.
//
// The preview of the next photo is rendered while the current photo's request is under way, so
// the service's answer time hides the rendering; still only one request is ever in flight and at
// most one rendered preview waits.
//
// A cancel stops the run at its next step; a request under way is silenced through the shared
// client, and a run silenced that way ends without a completion, as its answer never comes. A
// second "cloudAnalyze" replaces the run under way (see startCloudAnalysis).
//
// Everything here runs on the main queue except the preview rendering (global, user-initiated).
#include "ai/grsai_client.hpp"
#include "base/job_token.hpp"
#include "base/json.hpp"
#include "platform/feature_host.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace tw::culling {

class CloudAnalysisRun {
 public:
  // `client` is the controller's shared AI client.
  CloudAnalysisRun(FeatureHost& host, std::shared_ptr<ai::TWGRSAIClient> client);

  // Main queue: the "cloudAnalyze" action with the whole message body ("photos", "options").
  void startCloudAnalysis(const Json& body);
  // Main queue: the "cancelCloudAnalysis" action.
  void cancel();

 private:
  // A rendered preview of the photo at `index`; no bytes when the photo has no readable file or
  // cannot be rendered (the client then refuses the request with its own error).
  struct Preview {
    size_t index = 0;
    std::string jpeg;
  };

  // Main queue. Completes the run when it is cancelled or every photo is finished; otherwise
  // announces the photo at cloudAnalysisIndex_ and sends it once its preview is there.
  void processNextCloudPhotoWithFailed(long failed);
  // Main queue: renders the photo at `index` on a worker, then hands it to PreviewReady.
  void PreparePreview(size_t index);
  void PreviewReady(const std::string& run, Preview preview);
  // Main queue: the first request of the photo under way.
  void SendPhoto(long failed, std::string jpeg);
  void FirstAnswer(const std::string& run, long failed, std::shared_ptr<const std::string> jpeg, std::string prompt,
                   std::optional<Json> result, std::optional<Error> error);
  // Main queue: reports the photo under way (unless the run was cancelled) and goes on.
  void Finish(long failed, std::optional<Json> result, std::optional<Error> error);
  // Back to idle: nothing of the run is kept, and whatever of it is still on its way is dropped.
  void Forget();

  // The photo under way.
  const Json& Photo() const { return (*cloudAnalysisPhotos_)[cloudAnalysisIndex_]; }
  // Whether `run` is still the run under way: a later start replaces it and completion ends it.
  bool Current(const std::string& run) const { return runToken_.Is(run); }

  FeatureHost& host_;
  std::shared_ptr<ai::TWGRSAIClient> client_;

  // The run under way; none when idle.
  std::optional<Json> cloudAnalysisPhotos_;
  Json cloudAnalysisOptions_ = Json::object();
  // Photos finished so far (answered or failed): the index of the photo under way.
  size_t cloudAnalysisIndex_ = 0;
  bool cancelCloudAnalysis_ = false;
  JobToken runToken_;  // any thread

  // The rendering under way (its photo's index), the preview that came back before its photo's
  // turn, and the failures so far while the photo under way waits for its preview.
  std::optional<size_t> preparing_;
  std::optional<Preview> prepared_;
  std::optional<long> waitingWithFailed_;
};

}  // namespace tw::culling
