// libFuzzer target: whatever frames a plug-in sends, one connection's message handling neither
// crashes nor answers before "hello". Each input is one connection; its lines are its frames.
// The server has no AI client, so a request never leaves the machine; the files a request names
// are only looked at, never written.
#include "base/queues.hpp"
#include "bridge/bridge_protocol.hpp"
#include "bridge/bridge_server.hpp"

#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>

namespace {

using tw::bridge::BridgePeer;
using tw::bridge::TWBridgeServer;

class RecordingPeer final : public BridgePeer {
 public:
  void Send(std::shared_ptr<const std::string> text) override {
    std::lock_guard lock(mutex_);
    if (!closed_) sent_.push_back(std::move(text));
  }
  void Close() override {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }

 private:
  std::mutex mutex_;
  bool closed_ = false;
  std::vector<std::shared_ptr<const std::string>> sent_;
};

class SilentDelegate final : public tw::bridge::TWBridgeServerDelegate {
  void bridgeServer(TWBridgeServer&, tw::Json) override {}
};

struct Harness {
  tw::RunLoop loop;
  SilentDelegate delegate;
  std::shared_ptr<TWBridgeServer> server;

  Harness() {
    tw::queues::SetMainDriver(&loop);
    char pattern[] = "/tmp/tidewick-qa-fuzz-bridge-XXXXXX";
    server = TWBridgeServer::Create(&delegate, nullptr, mkdtemp(pattern));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness* harness = new Harness();
  auto peer = std::make_shared<RecordingPeer>();
  TWBridgeServer& server = *harness->server;
  server.post([&server, peer] { server.acceptConnection(peer); });
  std::string_view frames(reinterpret_cast<const char*>(data), size);
  while (!frames.empty()) {
    size_t end = frames.find('\n');
    std::string_view frame = frames.substr(0, end);
    frames = end == std::string_view::npos ? std::string_view() : frames.substr(end + 1);
    if (auto message = tw::bridge::BridgeMessageFromFrame(frame)) {
      server.post([&server, peer, message = std::move(*message)] { server.handleMessage(message, peer); });
    }
  }
  server.post([&server, peer] { server.connectionClosed(peer); });
  harness->loop.RunUntilQuiet();
  return 0;
}
