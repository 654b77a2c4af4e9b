#include "platform/scripted/scripted_platform.hpp"

#include "base/queues.hpp"

namespace tw::platform {
namespace {

class LinePageView final : public PageView {
 public:
  explicit LinePageView(ScriptedPlatform::LineSink emit) : emit_(std::move(emit)) {}
  void EvaluateCallback(const std::string& function, const std::string& argumentJSON) override {
    emit_("{\"fn\":" + JSONString(function) + ",\"arg\":" + argumentJSON + "}");
  }

 private:
  ScriptedPlatform::LineSink emit_;
};

}  // namespace

ScriptedPlatform::ScriptedPlatform(LineSink emit, std::string settingsPath)
    : emit_(std::move(emit)),
      settings_(std::move(settingsPath)),
      page_(std::make_shared<LinePageView>(emit_)),
      settle_([](Task task) { queues::Main(std::move(task)); }) {}

void ScriptedPlatform::QueuePanelAnswer(std::optional<std::vector<std::string>> paths) {
  answers_.push_back(std::move(paths));
}

void ScriptedPlatform::AnnounceMount(const std::string& mountPath) {
  mounts_.push_back(mountPath);
  if (watcher_) watcher_(mountPath);
}

void ScriptedPlatform::RunPanel(const PanelRequest& request, std::function<void(PanelResult)> done) {
  ++openPanels_;
  settle_([this, kind = request.kind, done = std::move(done)] {
    --openPanels_;
    PanelResult result;
    if (!answers_.empty()) {
      auto answer = std::move(answers_.front());
      answers_.pop_front();
      if (answer && !answer->empty()) {
        result.ok = true;
        result.paths = *answer;
        // A folder or save panel answers with one path.
        if (kind != PanelRequest::Kind::OpenFiles) result.paths.resize(1);
      }
    }
    done(std::move(result));
  });
}

void ScriptedPlatform::Effect(Json line) {
  // Effects travel through the main queue like callbacks, so the two stay in delivery order.
  queues::Main([this, line = std::move(line)] { emit_(JSONString(line)); });
}

bool ScriptedPlatform::OpenURL(const std::string& url) {
  Effect({{"effect", "openURL"}, {"url", url}});
  return true;
}
void ScriptedPlatform::OpenFolder(const std::string& path) { Effect({{"effect", "openFolder"}, {"path", path}}); }
LaunchOutcome ScriptedPlatform::LaunchApp(const std::string& location) {
  Effect({{"effect", "launchApp"}, {"path", location}});
  return LaunchOutcome{true, ""};
}
void ScriptedPlatform::Activate() { Effect({{"effect", "activate"}}); }
void ScriptedPlatform::PlaySound(const std::string& name) { Effect({{"effect", "sound"}, {"name", name}}); }

}  // namespace tw::platform
