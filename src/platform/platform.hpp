#pragma once
// The program's view of the operating system. Features ask this interface, never GTK or GIO.
// Two implementations: linux/ (the desktop window, GTK 4 + WebKitGTK + GIO + libcanberra) and
// scripted/ (the headless line protocol and the tests).
#include "base/call_js.hpp"
#include "platform/settings.hpp"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tw::platform {

struct PanelRequest {
  enum class Kind { OpenFolder, OpenFiles, SaveFile };
  Kind kind = Kind::OpenFolder;
  std::string title;
  std::string button;           // "" keeps the toolkit's default
  bool multiple = false;
  bool canCreateFolders = false;
  std::vector<std::string> extensions;  // lower-case, without dot; empty allows every file
  std::string directory;        // initial folder; "" for the toolkit's default
  std::string suggestedName;    // save panels
};

struct PanelResult {
  bool ok = false;
  std::vector<std::string> paths;  // absolute paths; for a folder or save panel exactly one
};

struct LaunchOutcome {
  bool launched = false;
  std::string error;  // the system's text when not launched
};

struct TrashOutcome {
  bool moved = false;
  std::string error;  // the system's text when not moved
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Main queue only unless stated otherwise.
  virtual std::shared_ptr<PageView> page() = 0;
  virtual Settings& settings() = 0;  // any thread

  // File panels. The panel is modal; done runs later on the main queue.
  virtual bool HasWindow() const = 0;
  virtual bool IsPanelOpen() const = 0;
  virtual void RunPanel(const PanelRequest& request, std::function<void(PanelResult)> done) = 0;

  // Workspace. OpenURL hands a web address to the default browser and says whether the system
  // accepted it.
  virtual bool OpenURL(const std::string& url) = 0;
  virtual void OpenFolder(const std::string& path) = 0;
  // Starts an application: a desktop entry file (".desktop") or an executable, both absolute.
  virtual LaunchOutcome LaunchApp(const std::string& location) = 0;
  virtual void Activate() = 0;
  virtual void PlaySound(const std::string& name) = 0;

  // Any thread. Moves a file to the freedesktop trash; never deletes when the volume has no trash.
  virtual TrashOutcome MoveToTrash(const std::string& path) = 0;

  // Removable volumes mounted now (mount points, in the system's order), and a watch for new ones.
  virtual std::vector<std::string> MountedVolumes() = 0;
  virtual void WatchVolumeMounts(std::function<void(const std::string& mountPath)> mounted) = 0;
};

// The freedesktop trash through GIO; shared by both implementations.
TrashOutcome MoveToTrashWithGIO(const std::string& path);

// Installed applications as the desktop's registry lists them (desktop entries below
// $XDG_DATA_HOME and $XDG_DATA_DIRS, read through GIO). Main queue. The entry file of the first
// desktop id that is installed, else of the first entry whose name contains one of `names`
// (ASCII letters compared without case); "" when none.
std::string FindDesktopEntry(const std::vector<std::string>& desktopIds, const std::vector<std::string>& names);
// Launches a desktop entry file or an executable through GIO. Main queue.
LaunchOutcome LaunchWithGIO(const std::string& location);

}  // namespace tw::platform
