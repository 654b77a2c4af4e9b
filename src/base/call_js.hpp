#pragma once
// The callback channel to the page: every answer is a call of one function of window.Native
// with one JSON argument, evaluated on the main queue.
#include "base/json.hpp"

#include <memory>
#include <string>

namespace tw {

// What receives callbacks: the desktop web view, or the headless shell's standard output.
// Called on the main queue only.
class PageView {
 public:
  virtual ~PageView() = default;
  virtual void EvaluateCallback(const std::string& function, const std::string& argumentJSON) = 0;
};

// "function(argument)": the script text the web view evaluates.
std::string ScriptText(const std::string& function, const std::string& argumentJSON);

// Any thread. Hands the call to the main queue, where the payload is serialised and delivered;
// calls from one thread therefore arrive in the order they were made, and a call made on the
// main thread is never delivered synchronously.
void CallJS(std::shared_ptr<PageView> view, std::string function, Json payload = nullptr);

}  // namespace tw
