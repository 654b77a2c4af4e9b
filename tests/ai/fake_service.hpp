#pragma once
// The test side of fake_grsai.py: starts it as a child process, waits for its "ready" line and
// scripts it through its standard input. One instance serves a whole test program, because the
// client reads the extra CA file only once per process.
#include "base/json.hpp"

#include <sys/types.h>

#include <cstdio>

#include <string>
#include <vector>

namespace tw::ai::testing {

class FakeService {
 public:
  // Starts the fake (generating its certificates) and points TIDEWICK_TEST_CA_FILE at its CA.
  FakeService();
  ~FakeService();
  FakeService(const FakeService&) = delete;
  FakeService& operator=(const FakeService&) = delete;

  int port() const { return port_; }
  std::string baseURL() const;  // "https://127.0.0.1:<port>"
  std::string URL(const std::string& path) const { return baseURL() + path; }

  void Reset();
  // Answers for one path; the last one repeats.
  void Route(const std::string& method, const std::string& path, Json responses);
  // Every request received since the last reset, in order.
  Json Requests();
  Json RequestsTo(const std::string& method, const std::string& path);
  // The bodies of those requests, decoded, in order.
  std::vector<std::string> BodiesTo(const std::string& method, const std::string& path);
  // Whether `count` requests to the path have been logged (each is logged on arrival, before any delay).
  bool Received(const std::string& method, const std::string& path, size_t count);
  // Waits until they have; fails the test after 30 s.
  void AwaitRequests(const std::string& method, const std::string& path, size_t count);

 private:
  Json Command(const Json& command);
  std::string ReadLine();

  std::string workdir_;
  pid_t child_ = -1;
  FILE* toChild_ = nullptr;
  FILE* fromChild_ = nullptr;
  int port_ = 0;
};

// The instance started by the test program's environment.
FakeService& TheFakeService();

}  // namespace tw::ai::testing
