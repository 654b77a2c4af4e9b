#pragma once
// What every test against the fake service shares: a RunLoop as the main queue, the manual
// clock for retries and polls, a settings file of its own, and a way to drive everything until
// the work under test is done.
#include "ai/grsai_client.hpp"
#include "base/queues.hpp"
#include "fake_service.hpp"
#include "platform/settings.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace tw::ai::testing {

inline constexpr char kTestKey[] = "sk-test-0123456789abcdef";

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    queues::SetMainDriver(&loop_);
    queues::UseManualClock(true);
    fake().Reset();
    std::string base = std::filesystem::temp_directory_path() / "tidewick-ai-test-XXXXXX";
    ASSERT_NE(mkdtemp(base.data()), nullptr);
    folder_ = base;
    settings_ = std::make_unique<platform::Settings>(folder_ + "/settings.json");
  }

  void TearDown() override {
    loop_.RunUntilQuiet();
    queues::UseManualClock(false);
    queues::SetMainDriver(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  FakeService& fake() { return TheFakeService(); }
  platform::Settings& settings() { return *settings_; }
  const std::string& folder() const { return folder_; }

  // A client with a stored key whose base address is the fake.
  std::shared_ptr<TWGRSAIClient> ConfiguredClient(const std::string& key = kTestKey) {
    settings_->Set(kAPIKeySetting, key);
    settings_->Set(kBaseURLSetting, fake().baseURL());
    return TWGRSAIClient::Create(*settings_, "https://default.invalid");
  }

  // Runs the main queue until nothing is in flight, moving the manual clock on whenever only
  // timers are left, until `done` holds or nothing at all is left to do.
  void Drive(const std::function<bool()>& done = [] { return false; }) {
    for (;;) {
      loop_.RunUntilQuiet();
      if (done() || queues::PendingManualTimers() == 0) return;
      queues::AdvanceClock(std::chrono::seconds(2));
    }
  }

  RunLoop loop_;

 private:
  std::string folder_;
  std::unique_ptr<platform::Settings> settings_;
};

}  // namespace tw::ai::testing
