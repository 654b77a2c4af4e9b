// tidewick: the desktop workbench, its headless line protocol, and its command-line tools.
#include "shell/cli_analyze.hpp"
#include "shell/desktop.hpp"
#include "shell/headless.hpp"

#include <csignal>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  // A write that would exceed a file-size limit must fail as an error value, not end the program.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (!arguments.empty() && arguments.front() == "--headless") {
    return tw::shell::RunHeadless({arguments.begin() + 1, arguments.end()});
  }
  if (!arguments.empty() && arguments.front() == "analyze") {
    return tw::shell::RunAnalyzeCommand({arguments.begin() + 1, arguments.end()});
  }
  return tw::shell::RunDesktop(arguments);
}
