#pragma once
// Burst comparison: the best frame of a burst, picked by a knockout tournament of relative
// comparisons made by the vision model. Each request shows the model two or three frames and asks
// for the number of the best one; the winners meet in the next round until one frame is left, and
// a frame left over alone advances without a comparison. When the model cannot tell the frames
// apart the tournament ends undecided and the photographer compares by hand.
//
// Every comparison runs on a private AI client made for it, so cancelling it never silences the
// shared client that the cloud run and the plug-in use, nor the other way round.
//
// Threads: everything runs on the main queue except the rendering of a group's frames, which runs
// on the user-initiated global queue. At any time at most one group is being rendered or one
// request is in flight.
#include "ai/grsai_client.hpp"
#include "base/json.hpp"
#include "platform/feature_host.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tw::culling {

class BurstComparison {
 public:
  explicit BurstComparison(FeatureHost& host);

  // Main queue: the "compareBurst" action with the whole message body ({photos, token, model?,
  // weights?}). Without a token nothing happens at all; while a comparison runs, a second one is
  // refused and the first goes on.
  void startBurstComparison(const Json& body);
  // Main queue: the "cancelBurst" action. The comparison under way reports nothing more.
  void cancel();

  // How many requests a tournament over `frames` frames sends when every comparison is decided.
  static long RequestCount(size_t frames);

 private:
  // Main queue: plans and sends the next request, or ends the tournament.
  void processNextBurstRound();
  // Global (user-initiated): renders the group's frames one after another, stopping at the first
  // that cannot be read, then goes on with sendGroup on the main queue.
  void renderGroup(std::uint64_t run, std::vector<Json> group);
  // Main queue: sends the rendered group, or ends when a frame gave no image.
  void sendGroup(std::uint64_t run, std::vector<Json> group, std::vector<std::string> images);
  // Main queue: one answer of the model.
  void handleAnswer(std::uint64_t run, const std::vector<Json>& group, std::optional<Json> answer,
                    std::optional<Error> error);
  // Main queue: sends "burstComplete" with the result or the error and returns to idle.
  void finishBurstComparison(std::optional<Json> result, std::optional<std::string> error);
  std::shared_ptr<ai::TWGRSAIClient> newBurstClient();
  // Whether the comparison a step belongs to is still the one under way. Any thread.
  bool IsCurrent(std::uint64_t run) const { return activeRun_.load() == run; }

  FeatureHost& host_;

  // The comparison under way: its number (0 when idle), which each asynchronous step compares with
  // its own copy. The page's token alone is not enough: a comparison cancelled and started again
  // under the same token would otherwise let the first one's steps run on.
  std::atomic<std::uint64_t> activeRun_{0};
  std::uint64_t lastRun_ = 0;

  // Main queue only.
  std::optional<std::string> burstToken_;
  std::shared_ptr<ai::TWGRSAIClient> burstClient_;
  Json burstOptions_;
  std::vector<Json> burstPending_;   // frames still to be compared in this round, in order
  std::vector<Json> burstWinners_;   // this round's winners, in the order they were decided
  long burstTotal_ = 0;
  long burstProcessed_ = 0;
  double burstConfidence_ = 1.0;     // the smallest accepted confidence
  std::string burstReason_;          // the last accepted comparison's reason
  long long burstInputTokens_ = 0;
  long long burstOutputTokens_ = 0;
};

}  // namespace tw::culling
