#include "support/headless_process.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace tw::testing {

std::vector<Json> PayloadsOf(const std::vector<Json>& lines, const std::string& function) {
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

namespace {

HeadlessOptions WithHeadlessFlag(HeadlessOptions options) {
  options.arguments.insert(options.arguments.begin(), "--headless");
  return options;
}

struct Child {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1;
};

Child Spawn(const HeadlessOptions& options) {
  int in[2], out[2], err[2];
  // The input is a socket, so that a write to a program that died fails (MSG_NOSIGNAL) and the test reports its
  // status, where a pipe would kill the test with SIGPIPE.
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) {
    throw std::runtime_error("pipe");
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);

  std::vector<std::string> arguments{TIDEWICK_BIN}, environment;
  arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (!options.environment.count(entry.substr(0, entry.find('=')))) environment.push_back(entry);
  }
  for (const auto& [key, value] : options.environment) environment.push_back(key + "=" + value);
  auto pointers = [](std::vector<std::string>& texts) {
    std::vector<char*> list;
    for (auto& text : texts) list.push_back(text.data());
    list.push_back(nullptr);
    return list;
  };
  Child child{-1, in[1], out[0], err[0]};
  if (posix_spawn(&child.pid, TIDEWICK_BIN, &actions, nullptr, pointers(arguments).data(), pointers(environment).data()) != 0) {
    throw std::runtime_error("spawn tidewick");
  }
  posix_spawn_file_actions_destroy(&actions);
  for (int unused : {in[0], out[1], err[1]}) close(unused);
  return child;
}

void WriteAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

// The child's output is read by a thread of its own, so that a test can wait for one line while
// the program goes on writing.
struct HeadlessSession::State {
  Child child;
  std::thread reader;
  std::mutex mutex;
  std::condition_variable changed;
  HeadlessResult result;
  std::string partial;
  bool ended = false;
  std::map<std::string, size_t> waited;  // callbacks of each function already handed out

  void Start(const HeadlessOptions& options) {
    child = Spawn(options);
    reader = std::thread([this] { Read(); });
  }

  // Waits for the program to end and hands over everything it wrote.
  HeadlessResult Collect() {
    if (child.in >= 0) close(std::exchange(child.in, -1));
    if (reader.joinable()) reader.join();
    int status = 0;
    waitpid(child.pid, &status, 0);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
  }

  void Read() {
    pollfd fds[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
      if (poll(fds, 2, -1) < 0) continue;
      for (auto& fd : fds) {
        if (fd.fd < 0 || !(fd.revents & (POLLIN | POLLHUP))) continue;
        ssize_t n = read(fd.fd, buffer, sizeof buffer);
        std::lock_guard lock(mutex);
        if (n <= 0) {
          close(std::exchange(fd.fd, -1));
          --open;
        } else if (fd.fd == child.err) {
          result.errorOutput.append(buffer, static_cast<size_t>(n));
        } else {
          result.rawOutput.append(buffer, static_cast<size_t>(n));
          partial.append(buffer, static_cast<size_t>(n));
          for (size_t end; (end = partial.find('\n')) != std::string::npos; partial.erase(0, end + 1)) {
            result.lines.push_back(ParseJSON(std::string_view(partial).substr(0, end)).value_or(Json("<not json>")));
          }
          changed.notify_all();
        }
      }
    }
    std::lock_guard lock(mutex);
    if (!partial.empty()) result.lines.push_back(ParseJSON(partial).value_or(Json("<not json>")));
    ended = true;
    changed.notify_all();
  }
};

HeadlessSession::HeadlessSession(const HeadlessOptions& options) : state_(std::make_unique<State>()) {
  state_->Start(WithHeadlessFlag(options));
}

int HeadlessSession::pid() const { return state_->child.pid; }

HeadlessSession::~HeadlessSession() {
  if (state_->reader.joinable()) Finish();
}

void HeadlessSession::Send(const Json& line) {
  if (state_->child.in >= 0) WriteAll(state_->child.in, JSONString(line) + "\n");
}

std::optional<Json> HeadlessSession::WaitFor(const std::string& function, std::chrono::seconds timeout) {
  std::unique_lock lock(state_->mutex);
  std::optional<Json> found;
  auto arrived = [&] {
    const std::vector<Json> payloads = PayloadsOf(state_->result.lines, function);
    if (payloads.size() > state_->waited[function]) found = payloads[state_->waited[function]];
    return found || state_->ended;
  };
  state_->changed.wait_for(lock, timeout, arrived);
  if (!found) {
    ADD_FAILURE() << "no " << function << " arrived; output so far:\n" << state_->result.rawOutput;
    return std::nullopt;
  }
  ++state_->waited[function];
  return found;
}

HeadlessResult HeadlessSession::Finish() { return state_->Collect(); }

HeadlessResult RunTidewick(const std::vector<std::string>& inputLines, const HeadlessOptions& options) {
  HeadlessSession::State state;
  state.Start(options);
  std::string input;
  for (const auto& line : inputLines) input += line + "\n";
  // One write of everything, as a script piping a file would; the reader thread drains the output meanwhile.
  WriteAll(state.child.in, input);
  return state.Collect();
}

HeadlessResult RunHeadless(const std::vector<Json>& inputLines, const HeadlessOptions& options) {
  std::vector<std::string> texts;
  for (const auto& line : inputLines) texts.push_back(JSONString(line));
  return RunTidewick(texts, WithHeadlessFlag(options));
}

TempFolder::TempFolder(const std::string& prefix) : path_(prefix + "XXXXXX") {
  if (!mkdtemp(path_.data())) throw std::runtime_error("mkdtemp");
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
  options.environment = {{"XDG_CONFIG_HOME", config.path()}, {"XDG_DATA_HOME", data.path()}, {"HOME", home.path()}};
  return options;
}

}  // namespace tw::testing
