#pragma once
// Runs `tidewick --headless` as a child process: writes the given lines to its standard input,
// closes it, and collects every output line until the program exits by itself once idle.
#include "base/json.hpp"

#include <map>
#include <string>
#include <vector>

namespace tw::testing {

struct HeadlessResult {
  int exitStatus = -1;
  std::vector<Json> lines;   // standard output, one parsed JSON value per line
  std::string rawOutput;
  std::string errorOutput;

  // The callbacks' payloads of one function ("window.Native.status"), in order.
  std::vector<Json> Payloads(const std::string& function) const;
  // The function names of all callback lines, in order ("effect:openFolder" for effects).
  std::vector<std::string> Sequence() const;
};

struct HeadlessOptions {
  std::vector<std::string> arguments;             // after --headless (RunTidewick: all of them)
  std::map<std::string, std::string> environment; // added to (or replacing) the inherited one
};

HeadlessResult RunHeadless(const std::vector<std::string>& inputLines, const HeadlessOptions& options = {});
HeadlessResult RunHeadless(const std::vector<Json>& inputLines, const HeadlessOptions& options = {});
// Runs `tidewick ARGUMENTS` (no --headless added) the same way.
HeadlessResult RunTidewick(const std::vector<std::string>& inputLines, const HeadlessOptions& options);

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

// A test folder the program accepts, plus private XDG folders so nothing touches the real home.
struct HeadlessSandbox {
  TempFolder support{"/tmp/tidewick-qa-"};
  TempFolder config;
  TempFolder data;
  HeadlessOptions Options(bool testMode = true) const;
};

}  // namespace tw::testing
