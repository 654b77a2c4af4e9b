#pragma once
// The companion applications photographers continue in after culling (Photoshop, PixCake), found
// through the desktop's registry of installed applications and launched through the platform.
// Everything here runs on the main queue.
#include "base/json.hpp"
#include "platform/feature_host.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw::integrations {

// How one application is looked for, in this order: desktop ids, then any installed entry whose
// name contains one of `names`, then executables at `fallbacks` ("~/" stands for the home folder).
struct ApplicationIdentity {
  std::string displayName;
  std::vector<std::string> desktopIds;
  std::vector<std::string> names;
  std::vector<std::string> fallbacks;
};

// The key "pixcake" names PixCake; every other key (the page sends "photoshop") names Photoshop.
const ApplicationIdentity& WorkflowAppIdentity(std::string_view key);
// The desktop entry or executable of the application; nullopt when it is not installed.
std::optional<std::string> LocateApplication(const ApplicationIdentity& identity);

class WorkflowApps {
 public:
  explicit WorkflowApps(FeatureHost& host) : host_(host) {}

  // workflowAppsState: "photoshop" and "pixcake", each installed (1/0), name and path.
  void sendWorkflowAppsState();
  // body "app": the key. Answers workflowAppOpened with success, name and message.
  void openWorkflowApp(const Json& body);

 private:
  FeatureHost& host_;
};

}  // namespace tw::integrations
