#include "plugin_client.hpp"

#include "bridge/bridge_server.hpp"

#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <stdexcept>

namespace tw::bridge::testing {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;

constexpr auto kSilenceLimit = std::chrono::seconds(30);

PluginClient::PluginClient() : ws_(io_) {}

std::unique_ptr<PluginClient> PluginClient::Connect(const Options& options, int* refusedStatus) {
  std::unique_ptr<PluginClient> client(new PluginClient());
  auto& ws = client->ws_;
  beast::get_lowest_layer(ws).connect(net::ip::tcp::endpoint(net::ip::make_address(options.host), kBridgePort));
  ws.set_option(websocket::stream_base::decorator([origin = options.origin](websocket::request_type& request) {
    if (origin) request.set(beast::http::field::origin, *origin);
  }));
  ws.set_option(websocket::stream_base::timeout{kSilenceLimit, kSilenceLimit, false});
  ws.control_callback([raw = client.get()](websocket::frame_type kind, beast::string_view) {
    if (kind == websocket::frame_type::pong) ++raw->pongs_;
  });
  websocket::response_type response;
  beast::error_code error;
  ws.handshake(response, options.host, "/", error);
  if (refusedStatus) *refusedStatus = error ? static_cast<int>(response.result_int()) : 0;
  if (error) return nullptr;
  ws.text(true);
  return client;
}

std::unique_ptr<PluginClient> PluginClient::ConnectAsPlugin() {
  auto client = Connect();
  if (!client) throw std::runtime_error("the bridge refused the connection");
  client->Send({{"type", "hello"}, {"client", "photoshop"}});
  auto answer = client->Receive();
  if (!answer || (*answer)["type"] != "hello.accepted") throw std::runtime_error("hello was not accepted");
  return client;
}

void PluginClient::SendText(const std::string& text) {
  beast::error_code ignored;
  ws_.write(net::buffer(text), ignored);
}

void PluginClient::SendRaw(const std::string& bytes) {
  beast::error_code ignored;
  net::write(beast::get_lowest_layer(ws_).socket(), net::buffer(bytes), ignored);
}

std::optional<Json> PluginClient::Receive() {
  beast::flat_buffer buffer;
  std::optional<beast::error_code> error;
  ws_.async_read(buffer, [&](beast::error_code result, size_t) { error = result; });
  // Only until the read is done: the stream's silence timer stays armed in the context.
  io_.restart();
  while (!error && io_.run_one()) {
  }
  if (!error || *error) return std::nullopt;
  return ParseJSON(beast::buffers_to_string(buffer.data())).value_or(Json("<not json>"));
}

}  // namespace tw::bridge::testing
