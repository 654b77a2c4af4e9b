#include "analysis/run/analysis_run.hpp"

#include "analysis/assessment.hpp"
#include "base/queues.hpp"
#include "base/uuid.hpp"

#include <chrono>
#include <cmath>

namespace tw::analysis {

AnalysisRun::AnalysisRun(FeatureHost& host, Assessment assess)
    : host_(host), assess_(assess ? std::move(assess) : Assessment([](const std::string& path, const Json& settings,
                                                                      const std::string& strictness) {
        return analyzeURL(path, settings, strictness);
      })) {}

void AnalysisRun::analyzePhotos(const Json& body) {
  Json photos = ArrayField(body, "photos");
  Json settings = ObjectField(body, "settings");
  std::string strictness = settings.contains("strictness") ? StringField(settings, "strictness") : "标准";
  std::string token = StringField(body, "token");
  if (!body.contains("token") || !body["token"].is_string()) token = NewUUIDString();

  cancelAnalysis_ = false;
  analysisToken_.Set(token);
  queues::Global(QoS::UserInitiated, [this, photos = std::move(photos), settings = std::move(settings),
                                      strictness = std::move(strictness), token = std::move(token)] {
    Work(photos, settings, strictness, token);
  });
}

void AnalysisRun::cancel() {
  cancelAnalysis_ = true;
  analysisToken_.Clear();
}

void AnalysisRun::Work(const Json& photos, const Json& settings, const std::string& strictness,
                       const std::string& token) {
  const auto start = std::chrono::steady_clock::now();
  const long total = static_cast<long>(photos.size());
  long processed = 0;
  auto retired = [&] { return cancelAnalysis_ || !analysisToken_.Is(token); };

  for (const Json& photo : photos) {
    if (retired()) break;
    Json result = assess_(StringField(photo, "path"), settings, strictness);
    if (!result.is_object()) result = Json::object();
    ++processed;
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long remaining = processed == 0 ? 0 : std::lround(elapsed / processed * static_cast<double>(total - processed));
    // A photo finished after a cancel or a newer run is dropped.
    if (!analysisToken_.Is(token)) break;
    host_.Call("window.Native.analysisResult",
               Json{{"token", token},
                    {"id", photo.is_object() && photo.contains("id") ? photo["id"] : Json()},
                    {"result", std::move(result)},
                    {"processed", processed},
                    {"total", total},
                    {"remaining", remaining}});
  }

  const bool cancelled = retired();
  host_.Call("window.Native.analysisComplete", Json{{"token", token}, {"cancelled", cancelled}});
  if (!cancelled && BoolField(settings, "sound", false)) {
    queues::Main([this] { host_.platform().PlaySound("Glass"); });
  }
}

}  // namespace tw::analysis
