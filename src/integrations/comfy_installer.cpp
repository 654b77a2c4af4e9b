#include "integrations/comfy_installer.hpp"

#include "base/queues.hpp"
#include "base/text.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

extern char** environ;

namespace tw::integrations {
namespace {

// No line of the installer comes near this; a longer one is not one of its lines.
constexpr size_t kMaxLineBytes = 64u << 10;

std::optional<InstallerOutput::Event> EventOfLine(std::string_view line) {
  if (!IsValidUTF8(line)) return std::nullopt;
  const size_t bar = line.find('|');
  if (bar == std::string_view::npos) return std::nullopt;
  const size_t end = line.find('|', bar + 1);
  return InstallerOutput::Event{std::string(line.substr(0, bar)),
                                std::string(line.substr(bar + 1, end == std::string_view::npos ? end : end - bar - 1))};
}

}  // namespace

std::vector<InstallerOutput::Event> InstallerOutput::Feed(std::string_view bytes) {
  std::vector<Event> events;
  while (!bytes.empty()) {
    const size_t newline = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, newline);
    if (!overlong_) pending_.append(piece);
    if (pending_.size() > kMaxLineBytes) {
      pending_.clear();
      overlong_ = true;
    }
    if (newline == std::string_view::npos) break;
    if (!overlong_) {
      if (auto event = EventOfLine(pending_)) events.push_back(std::move(*event));
    }
    pending_.clear();
    overlong_ = false;
    bytes.remove_prefix(newline + 1);
  }
  return events;
}

std::unique_ptr<ComfyInstaller> ComfyInstaller::Start(const std::vector<std::string>& argv, Handlers handlers,
                                                      std::string& error) {
  int output[2];
  if (argv.empty() || pipe2(output, O_CLOEXEC) != 0) {
    error = argv.empty() ? "" : std::strerror(errno);
    return nullptr;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  posix_spawn_file_actions_adddup2(&actions, output[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own group, so that hanging up reaches the download it runs; signals this program ignores
  // or blocks are the installer's to handle again.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int signal : {SIGPIPE, SIGHUP, SIGINT, SIGTERM, SIGCHLD}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> arguments;
  for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  std::unique_ptr<ComfyInstaller> installer(new ComfyInstaller);
  const int failed = posix_spawn(&installer->pid_, argv[0].c_str(), &actions, &attributes, arguments.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(output[1]);
  if (failed != 0) {
    close(output[0]);
    error = std::strerror(failed);
    return nullptr;
  }
  // Held from here, before the thread runs, so that the headless program never finds itself idle
  // between the start and the first read.
  installer->reader_ = std::thread(
      [self = installer.get(), fd = output[0], handlers = std::move(handlers), hold = queues::Hold()] {
        self->Read(fd, handlers);
      });
  return installer;
}

void ComfyInstaller::Read(int fd, Handlers handlers) {
  InstallerOutput output;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (auto& event : output.Feed(std::string_view(chunk, static_cast<size_t>(n)))) {
      handlers.progress(std::move(event.event), std::move(event.message));
    }
  }
  close(fd);
  // Waited for without reaping first, so that its id stays its own while hanging up may still
  // reach it.
  siginfo_t info{};
  while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  {
    std::lock_guard lock(mutex_);
    exited_ = true;
  }
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  handlers.finished(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

ComfyInstaller::~ComfyInstaller() {
  {
    std::lock_guard lock(mutex_);
    if (!exited_ && pid_ > 0) kill(-pid_, SIGHUP);
  }
  if (reader_.joinable()) reader_.join();
}

}  // namespace tw::integrations
