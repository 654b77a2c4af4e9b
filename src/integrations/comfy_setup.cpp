#include "integrations/comfy_setup.hpp"

#include "base/files.hpp"
#include "base/queues.hpp"
#include "integrations/comfy_probe.hpp"
#include "integrations/comfy_setup_snapshot.hpp"
#include "integrations/integration_texts.hpp"
#include "integrations/workflow_apps.hpp"

namespace tw::integrations {
namespace {

// Comfy Desktop is an Electron application published as an AppImage and as distribution packages.
const ApplicationIdentity kComfyDesktop{"Comfy Desktop",
                                        {"comfyui-electron.desktop", "comfy-desktop.desktop", "comfyui.desktop"},
                                        {"Comfy Desktop", "ComfyUI"},
                                        {"~/Applications/Comfy Desktop.AppImage", "~/Applications/ComfyUI.AppImage",
                                         "/opt/ComfyUI/comfyui-electron", "/opt/Comfy Desktop/comfy-desktop"}};

// The installer is a bash script: a Linux machine need not have zsh.
constexpr const char* kShell = "/bin/bash";

}  // namespace

ComfySetup::ComfySetup(FeatureHost& host, std::string setupResources)
    : host_(host), setupResources_(std::move(setupResources)) {}

ComfySetup::~ComfySetup() {
  *alive_ = false;
  comfySetupTask_.reset();
}

Json ComfySetup::comfySetupSnapshot() const {
  const std::string config = ComfyDesktopConfigFolder();
  return ComfySetupSnapshot(comfyInstallation(config), config, LocateApplication(kComfyDesktop).has_value(),
                            comfySetupTask_ != nullptr);
}

void ComfySetup::sendComfySetupState() { host_.Call(callbacks::kComfySetupState, comfySetupSnapshot()); }

void ComfySetup::Progress(const std::string& event, const std::string& message) const {
  host_.Call(callbacks::kComfySetupProgress, Json{{"event", event}, {"message", message}});
}

void ComfySetup::openOfficialComfyDownload() {
  if (host_.platform().OpenURL(texts::kOfficialDownloadURL)) {
    Progress(texts::kEventNotice, texts::kDownloadPageOpened);
  } else {
    Progress(texts::kEventError, texts::kDownloadPageFailed);
  }
}

void ComfySetup::openComfyDesktop() {
  std::optional<std::string> location = LocateApplication(kComfyDesktop);
  if (!location) {
    openOfficialComfyDownload();
    return;
  }
  platform::LaunchOutcome outcome = host_.platform().LaunchApp(*location);
  if (outcome.launched) {
    Progress(texts::kEventNotice, texts::kComfyDesktopOpened);
  } else {
    Progress(texts::kEventError, outcome.error);
  }
}

void ComfySetup::checkComfyConnection() {
  ai::HttpRequest request;
  request.url = ComfyProbeURL();
  request.idleTimeoutSeconds = kComfyProbeTimeoutSeconds;
  request.maxBodyBytes = 1u << 20;
  if (!probeSession_) {
    probeSession_ = std::make_unique<ai::HttpSession>(
        ai::HttpSession::Timeouts{kComfyProbeTimeoutSeconds, kComfyProbeTimeoutSeconds});
  }
  probeSession_->Send(std::move(request), [this, alive = alive_](ai::HttpResponse response) {
    // The session goes with this object and drops its completions then; the flag is for clarity.
    if (!*alive) return;
    host_.Call(callbacks::kComfySetupConnection, ComfyConnectionResult(ComfyConnected(response)));
  });
}

void ComfySetup::installComfyModels() {
  if (comfySetupTask_) {
    sendComfySetupState();
    return;
  }
  const std::string config = ComfyDesktopConfigFolder();
  std::optional<ComfyInstallation> installation = comfyInstallation(config);
  if (!installation) {
    Progress(texts::kEventError, texts::kNoInstance);
    return;
  }
  const std::string script = JoinPath(setupResources_, "comfy-setup.sh");
  const std::string node = JoinPath(setupResources_, "ComfyUI-GGUF");
  if (!StatPath(script).isRegular || !IsDirectory(node)) {
    Progress(texts::kEventError, texts::kSetupResourcesMissing);
    return;
  }
  ComfyInstaller::Handlers handlers;
  handlers.progress = [this](std::string event, std::string message) { Progress(event, message); };
  handlers.finished = [this, alive = alive_](int status) {
    queues::Main([this, alive, status] {
      if (*alive) InstallerFinished(status);
    });
  };
  std::string error;
  comfySetupTask_ = ComfyInstaller::Start(
      {kShell, script, "install", installation->path, comfyModelRootForInstallation(*installation, config), node},
      std::move(handlers), error);
  if (!comfySetupTask_) {
    Progress(texts::kEventError, error.empty() ? texts::kInstallerNotStarted : error);
    return;
  }
  sendComfySetupState();
}

void ComfySetup::InstallerFinished(int status) {
  comfySetupTask_.reset();
  sendComfySetupState();
  if (status == 0) {
    Progress(texts::kEventFinished, texts::kInstallFinished);
  } else {
    Progress(texts::kEventFailed, texts::kInstallFailed);
  }
}

}  // namespace tw::integrations
