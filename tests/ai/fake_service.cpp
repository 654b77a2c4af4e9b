#include "fake_service.hpp"

#include "ai/base64.hpp"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <utility>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace tw::ai::testing {
namespace {

FakeService* g_instance = nullptr;

class FakeServiceEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { g_instance = new FakeService(); }
  void TearDown() override { delete std::exchange(g_instance, nullptr); }
};

[[maybe_unused]] auto* const g_environment = ::testing::AddGlobalTestEnvironment(new FakeServiceEnvironment);

}  // namespace

FakeService& TheFakeService() {
  if (!g_instance) throw std::runtime_error("the fake service is not running");
  return *g_instance;
}

FakeService::FakeService() {
  std::string base = std::filesystem::temp_directory_path() / "tidewick-fake-grsai-XXXXXX";
  if (!mkdtemp(base.data())) throw std::runtime_error("mkdtemp failed");
  workdir_ = base;

  int input[2], output[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  std::vector<std::string> args = {TIDEWICK_PYTHON3, TIDEWICK_FAKE_GRSAI_SCRIPT, "--workdir", workdir_,
                                   "--openssl", TIDEWICK_OPENSSL};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int spawned = posix_spawn(&child_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  close(output[1]);
  if (spawned != 0) throw std::runtime_error("could not start the fake service");
  toChild_ = fdopen(input[1], "w");
  fromChild_ = fdopen(output[0], "r");

  std::istringstream ready(ReadLine());
  std::string word, caFile;
  ready >> word >> port_ >> caFile;
  if (word != "ready" || port_ <= 0) throw std::runtime_error("the fake service did not start");
  setenv("TIDEWICK_TEST_CA_FILE", caFile.c_str(), 1);
}

FakeService::~FakeService() {
  if (toChild_) fclose(toChild_);  // end of input ends the fake
  if (child_ > 0) waitpid(child_, nullptr, 0);
  if (fromChild_) fclose(fromChild_);
  std::error_code ignored;
  std::filesystem::remove_all(workdir_, ignored);
}

std::string FakeService::baseURL() const { return "https://127.0.0.1:" + std::to_string(port_); }

std::string FakeService::ReadLine() {
  char* line = nullptr;
  size_t capacity = 0;
  const ssize_t length = getline(&line, &capacity, fromChild_);
  std::string text = length > 0 ? std::string(line, static_cast<size_t>(length) - 1) : "";
  free(line);
  if (length <= 0) throw std::runtime_error("the fake service stopped answering");
  return text;
}

Json FakeService::Command(const Json& command) {
  if (fprintf(toChild_, "%s\n", command.dump().c_str()) < 0 || fflush(toChild_) != 0) {
    throw std::runtime_error("the fake service stopped reading");
  }
  auto answer = ParseJSON(ReadLine());
  if (!answer) throw std::runtime_error("the fake service answered garbage");
  return *answer;
}

void FakeService::Reset() { Command({{"op", "reset"}}); }

void FakeService::Route(const std::string& method, const std::string& path, Json responses) {
  // `{answer}` is one answer or a list of one, depending on the compiler: both mean the same here.
  if (!responses.is_array()) responses = Json::array({std::move(responses)});
  Command({{"op", "route"}, {"method", method}, {"path", path}, {"responses", std::move(responses)}});
}

Json FakeService::Requests() { return Command({{"op", "requests"}}); }

Json FakeService::RequestsTo(const std::string& method, const std::string& path) {
  Json matching = Json::array();
  for (const Json& request : Requests()) {
    if (request["method"] == method && request["path"] == path) matching.push_back(request);
  }
  return matching;
}

std::vector<std::string> FakeService::BodiesTo(const std::string& method, const std::string& path) {
  std::vector<std::string> bodies;
  for (const Json& request : RequestsTo(method, path)) {
    bodies.push_back(Base64DecodeIgnoringUnknown(request["body_b64"].get<std::string>()));
  }
  return bodies;
}

bool FakeService::Received(const std::string& method, const std::string& path, size_t count) {
  return RequestsTo(method, path).size() >= count;
}

void FakeService::AwaitRequests(const std::string& method, const std::string& path, size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!Received(method, path, count)) ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no request to " << path;
}

}  // namespace tw::ai::testing
