#include "support/controller_fixture.hpp"

namespace tw::testing {

void ControllerTest::SetUp() {
  queues::SetMainDriver(&loop_);
  Relaunch();
}

void ControllerTest::TearDown() {
  loop_.RunUntilQuiet();
  app_.reset();
  platform_.reset();
  queues::SetMainDriver(nullptr);
}

void ControllerTest::Relaunch(bool testMode) {
  loop_.RunUntilQuiet();
  app_.reset();
  platform_ = std::make_unique<platform::ScriptedPlatform>(
      [this](const std::string& line) {
        auto parsed = ParseJSON(line);
        lines_.push_back(parsed ? *parsed : Json(line));
      },
      config_ / "settings.json");
  app_ = std::make_unique<app::AppDelegate>(*platform_, app::LaunchOptions{support_.path(), testMode});
  app_->applicationDidFinishLaunching();
}

void ControllerTest::Send(const Json& body) {
  queues::Main([this, body] { app_->didReceiveScriptMessage(body); });
  loop_.RunUntilQuiet();
}

std::vector<Json> ControllerTest::Effects(const std::string& effect) const {
  std::vector<Json> effects;
  for (const auto& line : lines_) {
    if (line.is_object() && line.value("effect", "") == effect) effects.push_back(line);
  }
  return effects;
}

}  // namespace tw::testing
