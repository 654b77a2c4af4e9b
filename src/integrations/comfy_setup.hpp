#pragma once
// The optional local image-generation set-up: Comfy Desktop and its ComfyUI instance, the model
// files and GGUF node the installer completes, and the local server's probe. Every operation is
// called on the main queue and answers through the host's callback channel.
#include "ai/http_session.hpp"
#include "base/json.hpp"
#include "integrations/comfy_installer.hpp"
#include "platform/feature_host.hpp"

#include <memory>
#include <string>

namespace tw::integrations {

class ComfySetup {
 public:
  // setupResources: the folder holding comfy-setup.sh and ComfyUI-GGUF.
  ComfySetup(FeatureHost& host, std::string setupResources);
  // An installer still running is hung up on: it stops and keeps its partial downloads.
  ~ComfySetup();

  // The twelve-key snapshot (files are probed on the calling thread).
  Json comfySetupSnapshot() const;
  void sendComfySetupState();
  void openOfficialComfyDownload();
  void openComfyDesktop();
  // Answers later, from the HTTP session's thread.
  void checkComfyConnection();
  // While one installer runs, a second request starts nothing and is answered with the busy state.
  void installComfyModels();

 private:
  void Progress(const std::string& event, const std::string& message) const;
  void InstallerFinished(int status);

  FeatureHost& host_;
  std::string setupResources_;
  // Whether this object still exists, for work handed back to the main queue.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::unique_ptr<ComfyInstaller> comfySetupTask_;
  // Made at the first probe: most runs never ask.
  std::unique_ptr<ai::HttpSession> probeSession_;
};

}  // namespace tw::integrations
