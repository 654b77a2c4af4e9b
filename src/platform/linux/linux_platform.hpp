#pragma once
// The desktop platform: the GTK 4 window's web view receives callbacks, panels are GTK file
// choosers modal to the window, the workspace is GIO, sounds are libcanberra. Main thread only,
// except MoveToTrash and settings().
#include "platform/platform.hpp"

#include <gtk/gtk.h>
#include <webkit/webkit.h>

struct ca_context;

namespace tw::platform {

class LinuxPlatform final : public Platform {
 public:
  LinuxPlatform(GtkWindow* window, WebKitWebView* webView, std::string settingsPath);
  ~LinuxPlatform() override;

  std::shared_ptr<PageView> page() override { return page_; }
  Settings& settings() override { return settings_; }
  bool HasWindow() const override { return window_ != nullptr; }
  bool IsPanelOpen() const override { return panelOpen_; }
  void RunPanel(const PanelRequest& request, std::function<void(PanelResult)> done) override;
  bool OpenURL(const std::string& url) override;
  void OpenFolder(const std::string& path) override;
  LaunchOutcome LaunchApp(const std::string& location) override { return LaunchWithGIO(location); }
  void Activate() override;
  void PlaySound(const std::string& name) override;
  TrashOutcome MoveToTrash(const std::string& path) override { return MoveToTrashWithGIO(path); }
  std::vector<std::string> MountedVolumes() override;
  void WatchVolumeMounts(std::function<void(const std::string&)> mounted) override;

 private:
  static void OnMountAdded(GVolumeMonitor* monitor, GMount* mount, gpointer self);

  GtkWindow* window_;
  std::shared_ptr<PageView> page_;
  Settings settings_;
  bool panelOpen_ = false;
  GVolumeMonitor* volumeMonitor_ = nullptr;
  std::function<void(const std::string&)> mountWatcher_;
  ::ca_context* sounds_ = nullptr;
};

}  // namespace tw::platform
