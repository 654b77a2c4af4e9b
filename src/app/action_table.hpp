#pragma once
// The page's actions, compared in table order; the first match runs. An action that matches no
// row, or a body without a string "action", does nothing and answers nothing.
#include "base/json.hpp"

#include <string_view>
#include <vector>

namespace tw::app {

class AppDelegate;

struct ActionRow {
  std::string_view action;
  void (*run)(AppDelegate& app, const Json& body);
};

const std::vector<ActionRow>& ActionTable();

// Main queue. A body that is not an object counts as an empty object.
void DispatchScriptMessage(AppDelegate& app, const Json& body);

}  // namespace tw::app
