#pragma once
#include <string>
#include <vector>

namespace tw::shell {
// The desktop window (GTK 4 + WebKitGTK). Returns the exit status; on a machine without a
// display it says so in one line and returns non-zero.
int RunDesktop(const std::vector<std::string>& arguments);
}  // namespace tw::shell
