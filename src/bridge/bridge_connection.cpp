#include "bridge/bridge_connection.hpp"

#include "base/text.hpp"
#include "bridge/bridge_protocol.hpp"
#include "bridge/bridge_texts.hpp"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <chrono>

namespace tw::bridge {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;

// A client that connects and never finishes its handshake is dropped after this long.
constexpr auto kHandshakeTimeout = std::chrono::seconds(30);
constexpr std::uint32_t kMaxHandshakeHeaderBytes = 16 * 1024;
// A plug-in that stops reading while messages keep coming (pongs to a ping flood) is dropped
// instead of piling them up in memory.
constexpr size_t kMaxQueuedMessages = 1024;
// After a large message the read buffer is given back rather than kept for the connection's life.
constexpr size_t kKeptBufferBytes = 1 << 20;

}  // namespace

bool IsWebPageOrigin(std::string_view origin) {
  const std::string value = ToLower(Trim(origin));
  return value == "null" || StartsWith(value, "http:") || StartsWith(value, "https:");
}

BridgeConnection::BridgeConnection(net::ip::tcp::socket socket, Handlers handlers)
    : ws_(std::move(socket)), handlers_(std::move(handlers)) {}

void BridgeConnection::Start() {
  net::dispatch(ws_.get_executor(), [self = shared_from_this()] {
    beast::get_lowest_layer(self->ws_).expires_after(kHandshakeTimeout);
    self->request_.emplace();
    self->request_->header_limit(kMaxHandshakeHeaderBytes);
    http::async_read(self->ws_.next_layer(), self->buffer_, *self->request_,
                     [self](beast::error_code error, size_t) { self->OnRequest(error); });
  });
}

void BridgeConnection::OnRequest(beast::error_code error) {
  if (error) return Finish();
  const auto& request = request_->get();
  for (auto [field, end] = request.equal_range(http::field::origin); field != end; ++field) {
    if (IsWebPageOrigin(std::string_view(field->value().data(), field->value().size()))) return Refuse();
  }
  beast::get_lowest_layer(ws_).expires_never();
  ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
  ws_.read_message_max(kMaxMessageBytes);
  // Beast answers anything that is not a WebSocket upgrade itself, and fails the accept.
  ws_.async_accept(request, [self = shared_from_this()](beast::error_code error) { self->OnAccepted(error); });
}

void BridgeConnection::Refuse() {
  refusal_ = std::make_shared<http::response<http::string_body>>(http::status::forbidden, request_->get().version());
  refusal_->set(http::field::content_type, "text/plain; charset=utf-8");
  refusal_->body() = texts::kBrowserOriginRefused;
  refusal_->keep_alive(false);
  refusal_->prepare_payload();
  http::async_write(ws_.next_layer(), *refusal_, [self = shared_from_this()](beast::error_code, size_t) {
    self->Finish();
  });
}

void BridgeConnection::OnAccepted(beast::error_code error) {
  request_.reset();
  if (error) return Finish();
  open_ = true;
  ws_.text(true);
  ReadNext();
}

void BridgeConnection::ReadNext() {
  ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code error, size_t) { self->OnRead(error); });
}

void BridgeConnection::OnRead(beast::error_code error) {
  // A message over the limit or a broken frame fails the read (Beast has sent the close frame).
  if (error) return Finish();
  auto data = buffer_.data();
  std::optional<Json> message = BridgeMessageFromFrame(std::string_view(static_cast<const char*>(data.data()), data.size()));
  buffer_.consume(buffer_.size());
  if (buffer_.capacity() > kKeptBufferBytes) buffer_.shrink_to_fit();
  if (message) handlers_.message(shared_from_this(), std::move(*message));
  if (!finished_) ReadNext();
}

void BridgeConnection::Send(std::shared_ptr<const std::string> text) {
  net::post(ws_.get_executor(), [self = shared_from_this(), text = std::move(text)] {
    if (!self->open_ || self->finished_) return;
    if (self->outgoing_.size() >= kMaxQueuedMessages) return self->Finish();
    self->outgoing_.push_back(text);
    if (self->outgoing_.size() == 1) self->WriteNext();
  });
}

void BridgeConnection::WriteNext() {
  // The handler holds the text: the queue may be emptied while the write is still under way.
  std::shared_ptr<const std::string> text = outgoing_.front();
  ws_.async_write(net::buffer(*text), [self = shared_from_this(), text](beast::error_code error, size_t) {
    self->OnWritten(error);
  });
}

void BridgeConnection::OnWritten(beast::error_code error) {
  // A failed write drops what was waiting; the read loop notices the connection is gone.
  if (error || finished_) {
    outgoing_.clear();
    return;
  }
  outgoing_.pop_front();
  if (!outgoing_.empty() && !finished_) WriteNext();
}

void BridgeConnection::Close() {
  net::post(ws_.get_executor(), [self = shared_from_this()] { self->Finish(); });
}

void BridgeConnection::Finish() {
  if (finished_) return;
  finished_ = true;
  outgoing_.clear();
  beast::error_code ignored;
  beast::get_lowest_layer(ws_).socket().shutdown(net::ip::tcp::socket::shutdown_both, ignored);
  beast::get_lowest_layer(ws_).close();
  handlers_.closed(shared_from_this());
}

}  // namespace tw::bridge
