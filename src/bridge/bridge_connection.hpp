#pragma once
// One plug-in connection: the WebSocket opening handshake, the read loop, and a queue of outgoing
// messages of which one write is in flight at a time. Each connection runs on a strand of its own
// on the server's thread, so a slow or misbehaving plug-in holds up nobody else.
//
// The handshake is refused (HTTP 403) when it carries the Origin of a web page: any page open in a
// browser could otherwise drive the socket and have local files uploaded with the user's key. The
// plug-in's own client sends no Origin. A message over the size limit or a frame that breaks the
// protocol ends this connection only.
#include "base/json.hpp"
#include "bridge/bridge_peer.hpp"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tw::bridge {

// Whether an Origin header's value names a web page: an http: or https: origin, or "null" (a
// sandboxed frame, a page opened from a file). Case does not matter.
bool IsWebPageOrigin(std::string_view origin);

class BridgeConnection final : public BridgePeer, public std::enable_shared_from_this<BridgeConnection> {
 public:
  struct Handlers {
    // A complete message that parsed to a JSON object. On the connection's strand.
    std::function<void(std::shared_ptr<BridgePeer>, Json)> message;
    // The connection has ended (once, whatever ended it). On the connection's strand.
    std::function<void(std::shared_ptr<BridgePeer>)> closed;
  };

  // The socket's executor must be a strand of its own.
  BridgeConnection(boost::asio::ip::tcp::socket socket, Handlers handlers);

  // Starts reading the opening handshake. Any thread.
  void Start();
  void Send(std::shared_ptr<const std::string> text) override;
  void Close() override;

 private:
  using Stream = boost::beast::websocket::stream<boost::beast::tcp_stream>;
  using Request = boost::beast::http::request_parser<boost::beast::http::empty_body>;

  void OnRequest(boost::beast::error_code error);
  void Refuse();
  void OnAccepted(boost::beast::error_code error);
  void ReadNext();
  void OnRead(boost::beast::error_code error);
  void WriteNext();
  void OnWritten(boost::beast::error_code error);
  // Closes the socket and reports the end once.
  void Finish();

  Stream ws_;
  Handlers handlers_;
  boost::beast::flat_buffer buffer_;
  std::optional<Request> request_;
  std::shared_ptr<boost::beast::http::response<boost::beast::http::string_body>> refusal_;
  std::deque<std::shared_ptr<const std::string>> outgoing_;
  bool open_ = false;      // the WebSocket handshake has completed
  bool finished_ = false;
};

}  // namespace tw::bridge
