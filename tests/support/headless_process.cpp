#include "support/headless_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tw::testing {

std::vector<Json> HeadlessResult::Payloads(const std::string& function) const {
  std::vector<Json> payloads;
  for (const auto& line : lines) {
    if (line.is_object() && line.value("fn", "") == function) payloads.push_back(line["arg"]);
  }
  return payloads;
}

std::vector<std::string> HeadlessResult::Sequence() const {
  std::vector<std::string> names;
  for (const auto& line : lines) {
    if (!line.is_object()) continue;
    if (line.contains("fn")) names.push_back(line["fn"].get<std::string>());
    if (line.contains("effect")) names.push_back("effect:" + line["effect"].get<std::string>());
  }
  return names;
}

HeadlessResult RunHeadless(const std::vector<Json>& inputLines, const HeadlessOptions& options) {
  std::vector<std::string> texts;
  for (const auto& line : inputLines) texts.push_back(JSONString(line));
  return RunHeadless(texts, options);
}

HeadlessResult RunHeadless(const std::vector<std::string>& inputLines, const HeadlessOptions& options) {
  HeadlessOptions withFlag = options;
  withFlag.arguments.insert(withFlag.arguments.begin(), "--headless");
  return RunTidewick(inputLines, withFlag);
}

HeadlessResult RunTidewick(const std::vector<std::string>& inputLines, const HeadlessOptions& options) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);

  std::vector<std::string> argumentTexts{TIDEWICK_BIN};
  argumentTexts.insert(argumentTexts.end(), options.arguments.begin(), options.arguments.end());
  std::vector<char*> argv;
  for (auto& a : argumentTexts) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::map<std::string, std::string> environment;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    auto eq = entry.find('=');
    if (eq != std::string::npos) environment[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [key, value] : options.environment) environment[key] = value;
  std::vector<std::string> envTexts;
  for (const auto& [key, value] : environment) envTexts.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (auto& e : envTexts) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid;
  if (posix_spawn(&pid, TIDEWICK_BIN, &actions, nullptr, argv.data(), envp.data()) != 0) {
    throw std::runtime_error("spawn tidewick");
  }
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);

  std::string input;
  for (const auto& line : inputLines) input += line + "\n";
  // One write of everything, as a script piping a file would.
  std::thread writer([fd = in[1], input] {
    size_t done = 0;
    while (done < input.size()) {
      ssize_t n = write(fd, input.data() + done, input.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(fd);
  });

  HeadlessResult result;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) continue;
    for (auto& fd : fds) {
      if (fd.fd < 0 || !(fd.revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = read(fd.fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fd.fd);
        fd.fd = -1;
        --open;
        continue;
      }
      (fd.fd == out[0] ? result.rawOutput : result.errorOutput).append(buffer, static_cast<size_t>(n));
    }
  }
  writer.join();
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

  size_t start = 0;
  while (start < result.rawOutput.size()) {
    size_t end = result.rawOutput.find('\n', start);
    if (end == std::string::npos) end = result.rawOutput.size();
    auto parsed = ParseJSON(std::string_view(result.rawOutput).substr(start, end - start));
    result.lines.push_back(parsed ? *parsed : Json("<not json>"));
    start = end + 1;
  }
  return result;
}

TempFolder::TempFolder(const std::string& prefix) {
  std::string pattern = prefix + "XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code error;
  // Restore permissions a test may have taken away, then remove everything.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
       it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 error);
  }
  std::filesystem::remove_all(path_, error);
}

HeadlessOptions HeadlessSandbox::Options(bool testMode) const {
  HeadlessOptions options;
  if (testMode) options.arguments = {"--test-support-dir", support.path()};
  options.environment = {{"XDG_CONFIG_HOME", config.path()}, {"XDG_DATA_HOME", data.path()}};
  return options;
}

}  // namespace tw::testing
