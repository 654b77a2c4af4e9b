#include "fake_service.hpp"

#include "ai/base64.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>
#include <utility>

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

ChildProcess::ChildProcess(std::vector<std::string> args) {
  int input[2], output[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  close(output[1]);
  input_ = fdopen(input[1], "w");
  output_ = fdopen(output[0], "r");
  if (spawned != 0) throw std::runtime_error("could not start " + args[1]);
}

ChildProcess::~ChildProcess() {
  fclose(input_);
  if (pid_ > 0) waitpid(pid_, nullptr, 0);
  fclose(output_);
}

std::string ChildProcess::ReadLine() {
  char* line = nullptr;
  size_t capacity = 0;
  const ssize_t length = getline(&line, &capacity, output_);
  std::string text = length > 0 ? std::string(line, static_cast<size_t>(length) - 1) : "";
  free(line);
  if (length <= 0) throw std::runtime_error("a helper program stopped answering");
  return text;
}

void ChildProcess::WriteLine(const std::string& line) {
  if (fprintf(input_, "%s\n", line.c_str()) < 0 || fflush(input_) != 0) {
    throw std::runtime_error("a helper program stopped reading");
  }
}

FakeService::FakeService() {
  std::string base = std::filesystem::temp_directory_path() / "tidewick-fake-grsai-XXXXXX";
  if (!mkdtemp(base.data())) throw std::runtime_error("mkdtemp failed");
  workdir_ = base;
  child_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      TIDEWICK_PYTHON3, TIDEWICK_FAKE_GRSAI_SCRIPT, "--workdir", workdir_, "--openssl", TIDEWICK_OPENSSL});
  std::istringstream ready(child_->ReadLine());
  std::string word, caFile;
  ready >> word >> port_ >> caFile;
  if (word != "ready" || port_ <= 0) throw std::runtime_error("the fake service did not start");
  setenv("TIDEWICK_TEST_CA_FILE", caFile.c_str(), 1);
}

FakeService::~FakeService() {
  child_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(workdir_, ignored);
}

Json FakeService::Command(const Json& command) {
  child_->WriteLine(command.dump());
  auto answer = ParseJSON(child_->ReadLine());
  if (!answer) throw std::runtime_error("the fake service answered garbage");
  return *answer;
}

void FakeService::Route(const std::string& method, const std::string& path, Json responses) {
  // `{answer}` is one answer or a list of one, depending on the compiler: both mean the same here.
  if (!responses.is_array()) responses = Json::array({std::move(responses)});
  Command({{"op", "route"}, {"method", method}, {"path", path}, {"responses", std::move(responses)}});
}

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

void FakeService::AwaitRequests(const std::string& method, const std::string& path, size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!Received(method, path, count)) ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no request to " << path;
}

}  // namespace tw::ai::testing
