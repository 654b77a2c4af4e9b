#include "culling/burst_comparison.hpp"

#include "base/queues.hpp"
#include "culling/burst_texts.hpp"
#include "culling/cloud_review_image.hpp"
#include "culling/culling_prompts.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <unordered_set>
#include <utility>

namespace tw::culling {
namespace {

constexpr size_t kFewestFrames = 2;
constexpr size_t kMostFrames = 60;
constexpr size_t kLargestGroup = 3;
// The picture each frame is shown as: large enough for eyes and focus, small enough to send three.
constexpr int kFramePixelSize = 1280;
constexpr double kFrameQuality = 0.78;
// Below this the model's pick is a guess; the prompt tells it so.
constexpr double kAcceptedConfidence = 0.65;
// No request costs this many tokens; a larger count is not one.
constexpr double kLargestTokenCount = 1e15;

// Every frame must name itself by a string id, used once, and its file by an absolute path. "~"
// is refused too: nothing here expands it, so it would be read against the working folder.
bool FramesAreValid(const Json& photos) {
  std::unordered_set<std::string> ids;
  for (const Json& photo : photos) {
    if (!photo.is_object()) return false;
    auto id = photo.find("id");
    auto path = photo.find("path");
    if (id == photo.end() || !id->is_string() || path == photo.end() || !path->is_string()) return false;
    const std::string& pathText = path->get_ref<const std::string&>();
    if (pathText.empty() || pathText.front() != '/') return false;
    if (!ids.insert(id->get<std::string>()).second) return false;
  }
  return true;
}

struct Verdict {
  long winnerIndex = 0;  // 0: undecided, else the frame's number in its group from 1
  double confidence = 0;
  std::string reason;
};

// The model's answer, taken only when every field has the shape the prompt asked for.
std::optional<Verdict> VerdictFromAnswer(const Json& answer, size_t frames) {
  std::optional<double> winner = NumberField(answer, "winnerIndex");
  std::optional<double> confidence = NumberField(answer, "confidence");
  auto reason = answer.find("reason");
  if (!winner || !std::isfinite(*winner) || std::trunc(*winner) != *winner || *winner < 0 ||
      *winner > static_cast<double>(frames)) {
    return std::nullopt;
  }
  if (!confidence || !std::isfinite(*confidence) || *confidence < 0 || *confidence > 1) return std::nullopt;
  if (reason == answer.end() || !reason->is_string()) return std::nullopt;
  return Verdict{static_cast<long>(*winner), *confidence, reason->get<std::string>()};
}

// A token count of the service's usage record; a missing or nonsensical count adds nothing.
long long TokenCount(const Json& usage, const char* key) {
  std::optional<double> count = NumberField(usage, key);
  if (!count || !std::isfinite(*count) || *count < 0 || *count > kLargestTokenCount) return 0;
  return static_cast<long long>(*count);
}

}  // namespace

BurstComparison::BurstComparison(FeatureHost& host) : host_(host) {}

long BurstComparison::RequestCount(size_t frames) {
  long total = 0;
  for (size_t n = frames; n > 1; n = (n + 2) / 3) {
    // Groups of three, a last group of two; a single frame left over advances unopposed.
    total += static_cast<long>(n / 3) + (n % 3 == 2 ? 1 : 0);
  }
  return total;
}

void BurstComparison::startBurstComparison(const Json& body) {
  const Json photos = ArrayField(body, "photos");
  const std::string token = StringField(body, "token");
  // Without a token the page could not tell the answer apart; it is not a request at all.
  if (token.empty()) return;
  if (burstToken_) {
    host_.Call("window.Native.burstComplete", Json{{"token", token}, {"error", texts::kBurstAlreadyRunning}});
    return;
  }

  burstToken_ = token;
  activeRun_ = ++lastRun_;
  burstInputTokens_ = 0;
  burstOutputTokens_ = 0;
  burstProcessed_ = 0;
  burstConfidence_ = 1.0;
  burstReason_.clear();
  if (!FramesAreValid(photos)) {
    finishBurstComparison(std::nullopt, texts::kBurstInvalidPhotos);
    return;
  }
  if (photos.size() < kFewestFrames || photos.size() > kMostFrames) {
    finishBurstComparison(std::nullopt, texts::kBurstPhotoCount);
    return;
  }

  burstClient_ = newBurstClient();
  burstOptions_ = body;
  burstPending_.assign(photos.begin(), photos.end());
  burstWinners_.clear();
  burstTotal_ = RequestCount(photos.size());
  processNextBurstRound();
}

void BurstComparison::cancel() {
  burstToken_.reset();
  activeRun_ = 0;
  if (burstClient_) burstClient_->cancelCurrentTask();
  burstPending_.clear();
  burstWinners_.clear();
}

std::shared_ptr<ai::TWGRSAIClient> BurstComparison::newBurstClient() {
  // Made afresh, so that the key, address and model saved last are the ones used.
  return ai::TWGRSAIClient::Create(host_.platform().settings());
}

void BurstComparison::processNextBurstRound() {
  if (!burstToken_) return;
  if (burstPending_.size() == 1) {
    burstWinners_.push_back(std::move(burstPending_.front()));
    burstPending_.clear();
  }
  if (burstPending_.empty()) {
    if (burstWinners_.size() == 1) {
      Json result = {{"winnerId", FieldOr(burstWinners_.front(), "id", "")},
                     {"confidence", burstConfidence_},
                     {"reason", burstReason_.empty() ? std::string(texts::kBurstCompleted) : burstReason_}};
      finishBurstComparison(std::move(result), std::nullopt);
      return;
    }
    burstPending_ = std::exchange(burstWinners_, {});
  }

  const auto groupEnd = burstPending_.begin() + static_cast<long>(std::min(kLargestGroup, burstPending_.size()));
  std::vector<Json> group(std::make_move_iterator(burstPending_.begin()), std::make_move_iterator(groupEnd));
  burstPending_.erase(burstPending_.begin(), groupEnd);

  host_.Call("window.Native.burstProgress",
             Json{{"token", *burstToken_}, {"processed", burstProcessed_}, {"total", burstTotal_}});
  queues::Global(QoS::UserInitiated, [this, run = activeRun_.load(), group = std::move(group)]() mutable {
    renderGroup(run, std::move(group));
  });
}

void BurstComparison::renderGroup(std::uint64_t run, std::vector<Json> group) {
  const bool lensWanted = host_.LensCorrectionEnabled();
  std::vector<std::string> images;
  for (const Json& frame : group) {
    if (!IsCurrent(run)) return;
    std::optional<std::string> jpeg =
        PreparedCloudReviewJPEG(StringField(frame, "path"), kFramePixelSize, kFrameQuality, lensWanted);
    if (!jpeg || jpeg->empty()) break;
    images.push_back(std::move(*jpeg));
  }
  queues::Main([this, run, group = std::move(group), images = std::move(images)]() mutable {
    sendGroup(run, std::move(group), std::move(images));
  });
}

void BurstComparison::sendGroup(std::uint64_t run, std::vector<Json> group, std::vector<std::string> images) {
  if (!IsCurrent(run)) return;
  if (images.size() < group.size()) {
    finishBurstComparison(std::nullopt, texts::kBurstUnreadableFrame);
    return;
  }
  const Json model = FieldOr(burstOptions_, "model", nullptr);
  const std::string prompt = BurstComparisonPrompt(group.size(), FieldOr(burstOptions_, "weights", Json::object()));
  burstClient_->analyzePhotosData(
      images, model.is_string() ? model.get<std::string>() : std::string(ai::kDefaultVisionModel), prompt,
      [this, run, group = std::move(group)](std::optional<Json> answer, std::optional<Error> error) {
        handleAnswer(run, group, std::move(answer), std::move(error));
      });
}

void BurstComparison::handleAnswer(std::uint64_t run, const std::vector<Json>& group, std::optional<Json> answer,
                                   std::optional<Error> error) {
  if (!IsCurrent(run)) return;
  ++burstProcessed_;
  if (error || !answer) {
    const bool described = error && !error->message.empty();
    finishBurstComparison(std::nullopt, std::string(texts::kBurstRequestFailed) +
                                            (described ? error->message : texts::kBurstUnknownReason));
    return;
  }
  const Json usage = ObjectField(*answer, "usage");
  burstInputTokens_ += TokenCount(usage, "prompt_tokens");
  burstOutputTokens_ += TokenCount(usage, "completion_tokens");

  std::optional<Verdict> verdict = VerdictFromAnswer(*answer, group.size());
  if (!verdict) {
    finishBurstComparison(std::nullopt, texts::kBurstInvalidAnswer);
    return;
  }
  if (verdict->winnerIndex != 0 && verdict->confidence >= kAcceptedConfidence) {
    burstConfidence_ = std::min(burstConfidence_, verdict->confidence);
    burstReason_ = std::move(verdict->reason);
    burstWinners_.push_back(group[static_cast<size_t>(verdict->winnerIndex - 1)]);
    processNextBurstRound();
    return;
  }
  // The frames that are left are not compared: a pick the model itself doubts decides nothing.
  finishBurstComparison(Json{{"reason", texts::kBurstUndecided + verdict->reason}, {"confidence", verdict->confidence}},
                        std::nullopt);
}

void BurstComparison::finishBurstComparison(std::optional<Json> result, std::optional<std::string> error) {
  if (!burstToken_) return;
  Json finished = result && result->is_object() ? std::move(*result) : Json::object();
  finished["usage"] = {{"prompt_tokens", burstInputTokens_}, {"completion_tokens", burstOutputTokens_}};
  finished["requests"] = burstProcessed_;
  Json payload = {{"token", *burstToken_}, {"result", std::move(finished)}};
  if (error && !error->empty()) payload["error"] = std::move(*error);
  host_.Call("window.Native.burstComplete", std::move(payload));
  burstToken_.reset();
  activeRun_ = 0;
  burstPending_.clear();
  burstWinners_.clear();
}

}  // namespace tw::culling
