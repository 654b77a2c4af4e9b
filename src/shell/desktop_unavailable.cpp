#include "shell/desktop.hpp"

#include <iostream>

namespace tw::shell {
int RunDesktop(const std::vector<std::string>&) {
  std::cerr << "tidewick: this build has no desktop window; use tidewick --headless" << std::endl;
  return 2;
}
}  // namespace tw::shell
