#pragma once
// The identifier of the current long job (an import, an analysis run...). Written on the main
// queue, read from workers: each step compares its own copy and stops quietly once a newer job or
// a cancel has replaced it. Any thread.
#include <mutex>
#include <optional>
#include <string>

namespace tw {

class JobToken {
 public:
  void Set(std::optional<std::string> token) {
    std::lock_guard lock(mutex_);
    token_ = std::move(token);
  }
  void Clear() { Set(std::nullopt); }
  std::optional<std::string> Get() const {
    std::lock_guard lock(mutex_);
    return token_;
  }
  bool Is(const std::string& token) const {
    std::lock_guard lock(mutex_);
    return token_ && *token_ == token;
  }

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> token_;
};

}  // namespace tw
