#pragma once
// The local analysis run: the photos the page wants judged, assessed one after another on a
// background queue, one "analysisResult" per photo with progress and the time left, then one
// "analysisComplete". A newer run or a cancel retires the current one at its next check.
#include "base/job_token.hpp"
#include "base/json.hpp"
#include "platform/feature_host.hpp"

#include <atomic>
#include <functional>
#include <string>

namespace tw::analysis {

// Assesses one photo: path, the run's settings, the strictness. Called on the run's worker.
using Assessment = std::function<Json(const std::string& path, const Json& settings, const std::string& strictness)>;

class AnalysisRun {
 public:
  // assess defaults to analyzeURL with this thread's face detector.
  explicit AnalysisRun(FeatureHost& host, Assessment assess = {});

  // Main queue: the "analyze" action with the whole message body.
  void analyzePhotos(const Json& body);
  // Main queue: the "cancelAnalysis" action.
  void cancel();

 private:
  // Worker (global, user-initiated): assesses the photos strictly one at a time.
  void Work(const Json& photos, const Json& settings, const std::string& strictness, const std::string& token);

  FeatureHost& host_;
  Assessment assess_;
  std::atomic<bool> cancelAnalysis_{false};
  JobToken analysisToken_;
};

}  // namespace tw::analysis
