#pragma once
// An error as a value: where it was detected writes the text once, callers pass it on.
#include <string>

namespace tw {

struct Error {
  std::string domain;
  long code = 0;
  std::string message;  // the user-facing (Chinese) description
};

}  // namespace tw
