#pragma once
// The plug-in's side of the socket for tests and the benchmark, on Beast's WebSocket client: one
// connection, blocking calls. A call that hears nothing for 30 s gives up (a failing test, not a wait).
#include "base/json.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <memory>
#include <optional>
#include <string>

namespace tw::bridge::testing {

class PluginClient {
 public:
  struct Options {
    std::string host = "127.0.0.1";
    std::optional<std::string> origin;  // an Origin header, as a browser page sends it
  };
  // The connection, or null with the HTTP status of a refused handshake in *refusedStatus.
  static std::unique_ptr<PluginClient> Connect(const Options& options, int* refusedStatus = nullptr);
  static std::unique_ptr<PluginClient> Connect() { return Connect(Options{}); }
  // Connects and says hello as the plug-in; the answer is checked to be "hello.accepted".
  static std::unique_ptr<PluginClient> ConnectAsPlugin();

  void Send(const Json& message) { SendText(JSONString(message)); }
  // Write failures are left for Receive to tell (the server may close while a message goes out).
  void SendText(const std::string& text);
  // A WebSocket ping frame; pongs that come back are counted in pongs().
  void PingFrame() { ws_.ping({}); }
  // Bytes on the socket under the WebSocket layer.
  void SendRaw(const std::string& bytes);
  // The next message; nullopt once the connection has ended.
  std::optional<Json> Receive();
  int pongs() const { return pongs_; }

 private:
  PluginClient();
  boost::asio::io_context io_;
  boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
  int pongs_ = 0;
};

}  // namespace tw::bridge::testing
