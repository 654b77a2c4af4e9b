#pragma once
// The lens-correction setting: read afresh at every use, from any thread, by everything that
// develops raw files.
#include "platform/settings.hpp"

namespace tw::library {

inline constexpr const char* kLensCorrectionKey = "TWLensCorrectionEnabled";

// True until the user has switched it off.
inline bool LensCorrectionEnabled(const platform::Settings& settings) {
  return settings.GetBool(kLensCorrectionKey).value_or(true);
}

}  // namespace tw::library
