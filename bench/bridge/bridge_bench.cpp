// The plug-in socket under load, through `tidewick --headless` outside test mode (private home and
// XDG folders): 100 plug-ins connected and authenticated at once, pinging; the round trip's median
// and 99th percentile and the program's resident memory above idle; then one request carrying a
// 48 MiB source image in one message, and the time until "task.accepted" comes back.
//
// usage: bridge_bench   (the plug-in port must be free)
#include "plugin_client.hpp"
#include "support/headless_process.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using tw::Json;
using tw::bridge::testing::PluginClient;
using Clock = std::chrono::steady_clock;

constexpr int kConnections = 100;
constexpr int kPingsPerConnection = 50;
constexpr int kClientThreads = 2;
constexpr size_t kLargeImageBytes = 48u << 20;

// VmRSS or VmHWM of a process, in MB.
double MemoryMB(int pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024.0;
  }
  return -1;
}

double Percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(share * values.size()))];
}

double Milliseconds(Clock::duration elapsed) { return std::chrono::duration<double, std::milli>(elapsed).count(); }

}  // namespace

int main() {
  tw::testing::HeadlessSandbox sandbox;
  tw::testing::HeadlessSession program(sandbox.Options(/*testMode=*/false));
  program.Send({{"action", "ready"}});
  for (;;) {
    auto state = program.WaitFor("window.Native.bridgeStatus");
    if (!state) return std::fprintf(stderr, "the program never reported the plug-in server\n"), 1;
    if (state->value("listening", false)) break;
    if (!state->value("error", std::string()).empty()) {
      std::fprintf(stderr, "the plug-in port is busy: %s\n", state->value("error", std::string()).c_str());
      return 1;
    }
  }
  const double idleMB = MemoryMB(program.pid(), "VmRSS");

  std::vector<std::unique_ptr<PluginClient>> plugins;
  for (int i = 0; i < kConnections; ++i) plugins.push_back(PluginClient::ConnectAsPlugin());
  const double connectedMB = MemoryMB(program.pid(), "VmRSS");

  // Each client thread pings its share of the connections in turn, one ping in flight per thread.
  std::vector<std::vector<double>> roundTrips(kClientThreads);
  std::vector<std::thread> threads;
  const auto pingStart = Clock::now();
  for (int t = 0; t < kClientThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kPingsPerConnection; ++round) {
        for (int i = t; i < kConnections; i += kClientThreads) {
          const auto sent = Clock::now();
          plugins[i]->Send({{"type", "ping"}});
          auto answer = plugins[i]->Receive();
          if (!answer || (*answer)["type"] != "pong") std::abort();
          roundTrips[t].push_back(Milliseconds(Clock::now() - sent));
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const double pingSeconds = std::chrono::duration<double>(Clock::now() - pingStart).count();
  std::vector<double> all;
  for (auto& share : roundTrips) all.insert(all.end(), share.begin(), share.end());
  const double underLoadMB = MemoryMB(program.pid(), "VmRSS");

  std::printf("%d plug-ins connected, %zu pings (%.0f per second over %d client threads)\n", kConnections,
              all.size(), all.size() / pingSeconds, kClientThreads);
  std::printf("ping round trip: median %.3f ms, p99 %.3f ms, max %.3f ms   (target p99 < 5 ms)\n",
              Percentile(all, 0.5), Percentile(all, 0.99), Percentile(all, 1.0));
  std::printf("resident memory: idle %.1f MB, connected %.1f MB, after the pings %.1f MB: %.1f MB above idle "
              "(target < 50 MB)\n",
              idleMB, connectedMB, underLoadMB, underLoadMB - idleMB);

  // One 48 MiB source image inline, as the plug-in sends a large canvas.
  std::string request = R"({"type":"retouch.request","prompt":"bench","quality":"standard","inputImages":{"source":")";
  request += "data:image/jpeg;base64,";
  request.append(kLargeImageBytes, 'A');
  request += R"("}})";
  const auto sent = Clock::now();
  plugins[0]->SendText(request);
  for (;;) {
    auto answer = plugins[0]->Receive();
    if (!answer) return std::fprintf(stderr, "the connection ended before task.accepted\n"), 1;
    if ((*answer)["type"] == "task.accepted") break;
  }
  std::printf("48 MiB message to task.accepted: %.1f ms; peak resident memory of the program %.1f MB\n",
              Milliseconds(Clock::now() - sent), MemoryMB(program.pid(), "VmHWM"));
  plugins.clear();
  return 0;
}
