#pragma once
#include <string>
#include <vector>

namespace tw::shell {
// `tidewick --headless [--test-support-dir DIR]`: the whole controller driven by JSON lines on
// standard input, answering with JSON lines on standard output. Returns the exit status.
int RunHeadless(const std::vector<std::string>& arguments);
}  // namespace tw::shell
