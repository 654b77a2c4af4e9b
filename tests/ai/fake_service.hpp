#pragma once
// fake_grsai.py started once per test program (the client reads the extra CA file once per process) and
// scripted through its standard input; ServiceTest drives the client against it on a manual clock.
#include "ai/grsai_client.hpp"
#include "base/json.hpp"
#include "base/queues.hpp"
#include "platform/settings.hpp"

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tw::ai::testing {

// A helper program with pipes to its standard input and output; closing its input ends it.
class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> args);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  std::string ReadLine();
  void WriteLine(const std::string& line);

 private:
  pid_t pid_ = -1;
  FILE* input_ = nullptr;
  FILE* output_ = nullptr;
};

class FakeService {
 public:
  // Starts the fake (generating its certificates) and points TIDEWICK_TEST_CA_FILE at its CA.
  FakeService();
  ~FakeService();

  int port() const { return port_; }
  std::string baseURL() const { return "https://127.0.0.1:" + std::to_string(port_); }
  std::string URL(const std::string& path) const { return baseURL() + path; }

  void Reset() { Command({{"op", "reset"}}); }
  // Answers for one path; the last one repeats.
  void Route(const std::string& method, const std::string& path, Json responses);
  // Every request received since the last reset, in order, or those to one path.
  Json Requests() { return Command({{"op", "requests"}}); }
  Json RequestsTo(const std::string& method, const std::string& path);
  // The bodies of those requests, decoded, in order.
  std::vector<std::string> BodiesTo(const std::string& method, const std::string& path);
  // Whether `count` requests to the path have arrived (each is logged before any delay), or waits for
  // them, failing the test after 30 s.
  bool Received(const std::string& method, const std::string& path, size_t count) {
    return RequestsTo(method, path).size() >= count;
  }
  void AwaitRequests(const std::string& method, const std::string& path, size_t count);

 private:
  Json Command(const Json& command);

  std::string workdir_;
  std::unique_ptr<ChildProcess> child_;
  int port_ = 0;
};

FakeService& TheFakeService();

inline constexpr char kTestKey[] = "sk-test-0123456789abcdef";

// The image service's paths, as the stand-in serves them.
inline constexpr char kTokenPath[] = "/client/resource/newUploadTokenZH";
inline constexpr char kUploadPath[] = "/storage/upload";
inline constexpr char kGeneratePath[] = "/v1/api/generate";
inline constexpr char kChatPath[] = "/v1/chat/completions";

// A vision model's answer; a null usage leaves it out.
inline Json ChatAnswer(Json content, Json usage = {{"prompt_tokens", 812}, {"completion_tokens", 64}}) {
  Json answer = {{"choices", Json::array({{{"message", {{"role", "assistant"}, {"content", std::move(content)}}}}})}};
  if (!usage.is_null()) answer["usage"] = std::move(usage);
  return {{"status", 200}, {"json", std::move(answer)}};
}

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

  std::shared_ptr<TWGRSAIClient> ConfiguredClient() {
    settings_->Set(kAPIKeySetting, kTestKey);
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
