#pragma once
// The platform of the headless shell and the tests: callbacks and effects become JSON lines,
// file panels are answered from a queue of scripted answers, volumes are announced by hand.
#include "base/queues.hpp"
#include "platform/platform.hpp"

#include <deque>
#include <functional>
#include <optional>

namespace tw::platform {

class ScriptedPlatform final : public Platform {
 public:
  using LineSink = std::function<void(const std::string& line)>;
  // emit receives every output line (callbacks and effects) on the main queue, in order.
  ScriptedPlatform(LineSink emit, std::string settingsPath);

  // A panel's answer is taken when the panel resolves, not when it opens; resolution is handed
  // to `settle`, which the headless shell uses to wait until the input read so far has been
  // dispatched (as a person would finish what they typed before the dialog closes).
  void SetPanelSettler(std::function<void(Task)> settle) { settle_ = std::move(settle); }
  // Queues the answer for the next panel: paths for OK, nullopt for Cancel. Main queue.
  void QueuePanelAnswer(std::optional<std::vector<std::string>> paths);
  // Announces a mounted volume to the watcher. Main queue.
  void AnnounceMount(const std::string& mountPath);

  std::shared_ptr<PageView> page() override { return page_; }
  Settings& settings() override { return settings_; }
  bool HasWindow() const override { return false; }
  bool IsPanelOpen() const override { return openPanels_ > 0; }
  void RunPanel(const PanelRequest& request, std::function<void(PanelResult)> done) override;
  // Reported as an effect line; that counts as accepted.
  bool OpenURL(const std::string& url) override;
  void OpenFolder(const std::string& path) override;
  // Reported, not done; counts as launched.
  LaunchOutcome LaunchApp(const std::string& location) override;
  void Activate() override;
  void PlaySound(const std::string& name) override;
  TrashOutcome MoveToTrash(const std::string& path) override { return MoveToTrashWithGIO(path); }
  std::vector<std::string> MountedVolumes() override { return mounts_; }
  void WatchVolumeMounts(std::function<void(const std::string&)> mounted) override { watcher_ = std::move(mounted); }

 private:
  void Effect(Json line);

  LineSink emit_;
  Settings settings_;
  std::shared_ptr<PageView> page_;
  std::function<void(Task)> settle_;
  std::deque<std::optional<std::vector<std::string>>> answers_;
  int openPanels_ = 0;
  std::vector<std::string> mounts_;
  std::function<void(const std::string&)> watcher_;
};

}  // namespace tw::platform
