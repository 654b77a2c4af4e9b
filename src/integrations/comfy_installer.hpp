#pragma once
// The local model installer (resources/Setup/comfy-setup.sh) as a child process whose output is
// read line by line while it runs. Downloads take hours, so its output is read on a thread of its
// own rather than holding one of the two utility workers that long.
#include <sys/types.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tw::integrations {

// The installer's output: lines of "event|message". Bytes after the last line break wait for the
// next piece; a line that is not UTF-8 or has no "|" says nothing.
class InstallerOutput {
 public:
  struct Event {
    std::string event;
    std::string message;
  };
  std::vector<Event> Feed(std::string_view bytes);

 private:
  std::string pending_;
  bool overlong_ = false;  // the current line outgrew the bound and is skipped up to its end
};

class ComfyInstaller {
 public:
  struct Handlers {
    // The reader thread: one event of the output.
    std::function<void(std::string event, std::string message)> progress;
    // The reader thread, once the output has ended and the process has exited (its status, or
    // 128 + the signal that ended it).
    std::function<void(int status)> finished;
  };

  // Main queue. Starts argv[0] (an absolute path) with the arguments, standard output and error
  // into one pipe, no input, in a process group of its own. nullptr and the system's text on failure.
  static std::unique_ptr<ComfyInstaller> Start(const std::vector<std::string>& argv, Handlers handlers,
                                               std::string& error);

  // Hangs up on an installer still running (it stops and keeps what it has downloaded), then waits
  // for the reader thread.
  ~ComfyInstaller();
  ComfyInstaller(const ComfyInstaller&) = delete;
  ComfyInstaller& operator=(const ComfyInstaller&) = delete;

 private:
  ComfyInstaller() = default;
  void Read(int fd, Handlers handlers);

  pid_t pid_ = -1;
  std::mutex mutex_;
  bool exited_ = false;  // under mutex_: the process is gone, its id may be another's
  std::thread reader_;
};

}  // namespace tw::integrations
