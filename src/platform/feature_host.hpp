#pragma once
// What a feature's operations need from the controller that owns them: the callback channel,
// the shared file-panel rule, the platform, the data folder and the lens setting.
#include "base/json.hpp"
#include "platform/platform.hpp"

#include <functional>
#include <string>

namespace tw {

class FeatureHost {
 public:
  virtual ~FeatureHost() = default;
  // Any thread: hands a callback to the main queue.
  virtual void Call(std::string function, Json payload = nullptr) const = 0;
  virtual void Status(std::string text) const = 0;
  // Main queue: shows a panel unless one is open already (then reports it and answers cancel).
  virtual void presentFilePanel(const platform::PanelRequest& request,
                                std::function<void(platform::PanelResult)> done) = 0;
  virtual platform::Platform& platform() = 0;
  virtual const std::string& supportFolder() const = 0;
  // Any thread: read afresh at every use.
  virtual bool LensCorrectionEnabled() const = 0;
};

}  // namespace tw
