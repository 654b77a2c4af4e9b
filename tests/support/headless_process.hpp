#pragma once
// Runs `tidewick --headless` as a child process: writes the given lines to its standard input,
// closes it, and collects every output line until the program exits by itself once idle.
#include "base/json.hpp"

#include <chrono>
#include <map>
#include <memory>
#include <optional>

namespace tw::testing {

// The payloads of one callback function ("window.Native.status") among callback lines, in order.
std::vector<Json> PayloadsOf(const std::vector<Json>& lines, const std::string& function);

struct HeadlessResult {
  int exitStatus = -1;
  std::vector<Json> lines;   // standard output, one parsed JSON value per line
  std::string rawOutput, errorOutput;

  std::vector<Json> Payloads(const std::string& function) const { return PayloadsOf(lines, function); }
  // The function names of all callback lines, in order ("effect:openFolder" for effects).
  std::vector<std::string> Sequence() const;
};

struct HeadlessOptions {
  std::vector<std::string> arguments;             // after --headless (RunTidewick: all of them)
  std::map<std::string, std::string> environment; // added to (or replacing) the inherited one
};

HeadlessResult RunHeadless(const std::vector<Json>& inputLines, const HeadlessOptions& options = {});
// Runs `tidewick ARGUMENTS` (no --headless added) the same way, with any text as input lines.
HeadlessResult RunTidewick(const std::vector<std::string>& inputLines, const HeadlessOptions& options);

// A `tidewick --headless` that keeps running while a test talks to it (a cancel while a request is under
// way). Finish() closes its input and collects everything, as RunHeadless does.
class HeadlessSession {
 public:
  explicit HeadlessSession(const HeadlessOptions& options = {});
  ~HeadlessSession();

  void Send(const Json& line);
  // The payload of the next callback of `function` not yet waited for; nullopt (and a test failure) when none comes.
  std::optional<Json> WaitFor(const std::string& function, std::chrono::seconds timeout = std::chrono::seconds(60));
  HeadlessResult Finish();
  // The program's process id (the benchmarks read its memory from /proc).
  int pid() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// A fresh folder under /tmp whose name starts with the prefix (removed with its contents on destruction).
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "/tmp/tidewick-test-");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A test folder the program accepts, plus a private home and XDG folders so nothing touches the real ones.
struct HeadlessSandbox {
  TempFolder support{"/tmp/tidewick-qa-"};
  TempFolder config, data, home;
  HeadlessOptions Options(bool testMode = true) const;
};

}  // namespace tw::testing
