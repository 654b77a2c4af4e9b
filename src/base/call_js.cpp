#include "base/call_js.hpp"

#include "base/queues.hpp"

namespace tw {

std::string ScriptText(const std::string& function, const std::string& argumentJSON) {
  return function + "(" + argumentJSON + ")";
}

void CallJS(std::shared_ptr<PageView> view, std::string function, Json payload) {
  queues::Main([view = std::move(view), function = std::move(function), payload = std::move(payload)] {
    if (view) view->EvaluateCallback(function, JSONString(payload));
  });
}

}  // namespace tw
