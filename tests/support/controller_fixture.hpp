#pragma once
// An in-process controller over the scripted platform: a test posts page messages and reads the
// callback lines, with the main queue drained on the test's own thread.
#include "app/app_delegate.hpp"
#include "base/queues.hpp"
#include "platform/scripted/scripted_platform.hpp"
#include "support/headless_process.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace tw::testing {

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    queues::SetMainDriver(&loop_);
    Relaunch();
  }
  void TearDown() override {
    RunUntilQuiet();
    app_.reset();
    platform_.reset();
    queues::SetMainDriver(nullptr);
  }

  // Dispatches one page message on the main queue and runs until the program is quiet.
  void Send(const Json& body) {
    queues::Main([this, body] { app_->didReceiveScriptMessage(body); });
    RunUntilQuiet();
  }
  void RunUntilQuiet() { loop_.RunUntilQuiet(); }
  std::vector<Json> Payloads(const std::string& function) const { return PayloadsOf(lines_, function); }
  void ClearOutput() { lines_.clear(); }

  // Recreates the controller (a new launch over the same folders).
  void Relaunch(bool testMode = true) {
    RunUntilQuiet();
    app_.reset();
    platform_ = std::make_unique<platform::ScriptedPlatform>(
        [this](const std::string& line) { lines_.push_back(ParseJSON(line).value_or(Json(line))); }, config_ / "settings.json");
    app_ = std::make_unique<app::AppDelegate>(*platform_, app::LaunchOptions{support_.path(), testMode});
    app_->applicationDidFinishLaunching();
  }

  TempFolder support_{"/tmp/tidewick-qa-"}, config_;
  std::vector<Json> lines_;
  RunLoop loop_;
  std::unique_ptr<platform::ScriptedPlatform> platform_;
  std::unique_ptr<app::AppDelegate> app_;
};

}  // namespace tw::testing
