#include "integrations/workflow_apps.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "integrations/integration_texts.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <cstdlib>

namespace tw::integrations {
namespace {

// Neither application ships for Linux: these are the names a Wine or Bottles launcher, or a
// hand-made entry, gives them.
const ApplicationIdentity kPhotoshop{texts::kPhotoshopName,
                                     {"com.adobe.Photoshop.desktop", "photoshop.desktop", "adobe-photoshop.desktop"},
                                     {"Photoshop"},
                                     {"~/.local/bin/photoshop", "/opt/photoshop/photoshop"}};
const ApplicationIdentity kPixcake{texts::kPixcakeName,
                                   {"com.xiangtian.pixcakepc.desktop", "pixcake.desktop"},
                                   {"PixCake", texts::kPixcakeName},
                                   {"~/Applications/PixCake.AppImage", "~/.local/bin/pixcake", "/opt/pixcake/pixcake"}};

std::string ExpandHome(const std::string& path) {
  if (!StartsWith(path, "~/")) return path;
  const char* home = std::getenv("HOME");
  if (!home || home[0] != '/') return "";
  return JoinPath(home, path.substr(2));
}

Json AppState(const ApplicationIdentity& identity) {
  std::optional<std::string> location = LocateApplication(identity);
  return Json{{"installed", location ? 1 : 0}, {"name", identity.displayName}, {"path", location.value_or("")}};
}

}  // namespace

const ApplicationIdentity& WorkflowAppIdentity(std::string_view key) { return key == "pixcake" ? kPixcake : kPhotoshop; }

std::optional<std::string> LocateApplication(const ApplicationIdentity& identity) {
  std::string entry = platform::FindDesktopEntry(identity.desktopIds, identity.names);
  if (!entry.empty()) return entry;
  for (const auto& fallback : identity.fallbacks) {
    const std::string path = ExpandHome(fallback);
    if (path.empty()) continue;
    // Only a regular file that may be run: a folder or a data file of that name is no application.
    if (StatPath(path).isRegular && access(path.c_str(), X_OK) == 0) return path;
  }
  return std::nullopt;
}

void WorkflowApps::sendWorkflowAppsState() {
  host_.Call(callbacks::kWorkflowAppsState,
             Json{{"photoshop", AppState(WorkflowAppIdentity("photoshop"))}, {"pixcake", AppState(kPixcake)}});
}

void WorkflowApps::openWorkflowApp(const Json& body) {
  const ApplicationIdentity& identity = WorkflowAppIdentity(StringField(body, "app"));
  std::optional<std::string> location = LocateApplication(identity);
  if (!location) {
    host_.Call(callbacks::kWorkflowAppOpened, Json{{"success", false},
                                                   {"name", identity.displayName},
                                                   {"message", fmt::format(texts::kAppNotFound, identity.displayName)}});
    return;
  }
  platform::LaunchOutcome outcome = host_.platform().LaunchApp(*location);
  host_.Call(callbacks::kWorkflowAppOpened,
             Json{{"success", outcome.launched}, {"name", identity.displayName}, {"message", outcome.error}});
}

}  // namespace tw::integrations
