#include "shell/headless.hpp"

#include "app/app_delegate.hpp"
#include "app/build_info.hpp"
#include "app/support_folder.hpp"
#include "base/queues.hpp"
#include "base/text.hpp"
#include "platform/scripted/scripted_platform.hpp"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <thread>

namespace tw::shell {
namespace {

// Reads standard input line by line on its own thread. It notes when everything typed so far has
// been read (no more bytes waiting), so a file panel can stay open until the lines before it are done.
class LineReader {
 public:
  template <typename OnLine, typename OnIdle, typename OnBusy>
  void Run(OnLine onLine, OnIdle onIdle, OnBusy onBusy) {
    std::string buffer;
    char chunk[65536];
    for (;;) {
      size_t newline;
      while ((newline = buffer.find('\n')) != std::string::npos) {
        onLine(buffer.substr(0, newline));
        buffer.erase(0, newline + 1);
      }
      pollfd fd{STDIN_FILENO, POLLIN, 0};
      if (poll(&fd, 1, 0) == 0) onIdle(false);
      ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      onBusy();
      buffer.append(chunk, static_cast<size_t>(n));
    }
    if (!Trim(buffer).empty()) onLine(buffer);
    onIdle(true);
  }
};

class HeadlessSession {
 public:
  HeadlessSession(const app::SupportFolderChoice& choice)
      : platform_([](const std::string& line) { Emit(line); }, platform::Settings::DefaultPath()),
        app_(platform_, app::LaunchOptions{choice.folder, choice.testMode}) {
    platform_.SetPanelSettler([this](Task task) { HoldUntilSettled(std::move(task)); });
  }

  int Run() {
    queues::SetMainDriver(&loop_);
    app_.applicationDidFinishLaunching();

    std::thread reader([this] {
      LineReader().Run(
          [this](std::string line) {
            ++linesWaiting_;
            queues::Main([this, line = std::move(line)] {
              HandleLine(line);
              --linesWaiting_;
              SettleIfReady();
            });
          },
          [this](bool endOfInput) {
            readerIdle_ = true;
            // The end of input is marked by a counted main-queue task, so the session cannot end
            // (and destroy its loop) while this thread is still posting to it.
            queues::Main([this, endOfInput] {
              if (endOfInput) endOfInput_ = true;
              SettleIfReady();
            });
          },
          [this] { readerIdle_ = false; });
    });
    reader.detach();

    loop_.Run([this] { return quit_ || (endOfInput_ && queues::InFlightCount() == 0); });
    app_.applicationWillTerminate();
    std::fflush(stdout);
    if (quit_) {
      // "@quit" ends at once, without waiting for work still under way.
      std::_Exit(0);
    }
    queues::Shutdown();
    return 0;
  }

 private:
  static void Emit(const std::string& line) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

  // A panel resolves once every line read so far has been dispatched and no more input is
  // waiting; until then it stays open (and keeps the program alive).
  void HoldUntilSettled(Task task) {
    pendingPanels_.push_back({std::move(task), queues::Hold()});
    queues::Main([this] { SettleIfReady(); });
  }

  void SettleIfReady() {
    if (pendingPanels_.empty()) return;
    if (!readerIdle_ || linesWaiting_ > 0) return;
    auto panels = std::move(pendingPanels_);
    pendingPanels_.clear();
    for (auto& panel : panels) queues::Main(std::move(panel.task));
  }

  void HandleLine(const std::string& line) {
    if (Trim(line).empty()) return;
    auto value = ParseJSON(line);
    if (!value) {
      std::cerr << "tidewick: ignoring a line that is not JSON\n";
      return;
    }
    if (value->is_object() && value->size() == 1 && StartsWith(value->begin().key(), "@")) {
      HandleControl(value->begin().key(), value->begin().value());
      return;
    }
    app_.didReceiveScriptMessage(*value);
  }

  void HandleControl(const std::string& control, const Json& argument) {
    if (control == "@panel") {
      if (argument.is_object()) {
        std::vector<std::string> paths;
        for (const auto& path : ArrayField(argument, "paths")) {
          if (path.is_string()) paths.push_back(path.get<std::string>());
        }
        platform_.QueuePanelAnswer(std::move(paths));
      } else {
        platform_.QueuePanelAnswer(std::nullopt);
      }
    } else if (control == "@mount") {
      if (argument.is_string()) platform_.AnnounceMount(argument.get<std::string>());
    } else if (control == "@open-url") {
      if (argument.is_string()) app_.openURLs({argument.get<std::string>()});
    } else if (control == "@quit") {
      quit_ = true;
      loop_.Stop();
    } else {
      std::cerr << "tidewick: unknown control " << control << "\n";
    }
  }

  struct PendingPanel {
    Task task;
    std::shared_ptr<queues::InFlight> hold;
  };

  RunLoop loop_;
  platform::ScriptedPlatform platform_;
  app::AppDelegate app_;
  std::vector<PendingPanel> pendingPanels_;
  std::atomic<int> linesWaiting_{0};
  std::atomic<bool> readerIdle_{false};
  std::atomic<bool> endOfInput_{false};
  std::atomic<bool> quit_{false};
};

}  // namespace

int RunHeadless(const std::vector<std::string>& arguments) {
  auto choice = app::ChooseSupportFolder(arguments, build_info::kTestSupportDirectory);
  if (choice.refused) {
    std::cerr << app::kInvalidTestFolderLog << std::endl;
    return 1;
  }
  HeadlessSession session(choice);
  return session.Run();
}

}  // namespace tw::shell
