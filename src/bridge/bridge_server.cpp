#include "bridge/bridge_server.hpp"

#include "base/queues.hpp"
#include "bridge/bridge_connection.hpp"
#include "bridge/bridge_protocol.hpp"

#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>

#include <fcntl.h>
#include <pthread.h>

#include <chrono>
#include <iostream>

namespace tw::bridge {
namespace {

namespace net = boost::asio;
using net::ip::tcp;

constexpr auto kRestartDelay = std::chrono::seconds(1);
// The thread's name as the system shows it (at most 15 characters).
constexpr char kThreadName[] = "tw-bridge";

// A host without an IPv6 loopback has nothing to listen on there; IPv4 alone serves it.
bool NoIPv6Loopback(const boost::system::error_code& error) {
  return error == net::error::address_family_not_supported || error == boost::system::errc::address_not_available;
}

// Asio opens sockets without close-on-exec: a program started meanwhile (a folder opened, a
// companion app) would inherit them and keep the port, or a plug-in's connection, after we quit.
void CloseOnExec(int descriptor) { fcntl(descriptor, F_SETFD, fcntl(descriptor, F_GETFD) | FD_CLOEXEC); }

}  // namespace

std::shared_ptr<TWBridgeServer> TWBridgeServer::Create(TWBridgeServerDelegate* delegate,
                                                       std::shared_ptr<ai::TWGRSAIClient> client,
                                                       std::string saveLocation) {
  return std::make_shared<TWBridgeServer>(Passkey{}, delegate, std::move(client), std::move(saveLocation));
}

TWBridgeServer::TWBridgeServer(Passkey, TWBridgeServerDelegate* delegate, std::shared_ptr<ai::TWGRSAIClient> client,
                               std::string saveLocation)
    : work_(net::make_work_guard(io_)),
      queue_(net::make_strand(io_)),
      delegate_(delegate),
      client_(std::move(client)),
      restartTimer_(queue_),
      saveLocation_(std::move(saveLocation)) {
  thread_ = std::thread([this] {
    pthread_setname_np(pthread_self(), kThreadName);
    // A handler that throws must not take the whole program with it.
    for (;;) {
      try {
        io_.run();
        return;
      } catch (const std::exception& failure) {
        std::cerr << "tidewick: plug-in bridge: " << failure.what() << "\n";
      }
    }
  });
}

TWBridgeServer::~TWBridgeServer() { shutdown(); }

void TWBridgeServer::shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  delegate_ = nullptr;
  // Nothing more for the main queue: it may never run again, and a report left on it would count
  // as work in flight forever.
  silenced_ = true;
  net::post(queue_, [this] {
    stopOnQueue();
    io_.stop();
  });
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void TWBridgeServer::post(std::function<void()> task) {
  net::post(queue_, [hold = queues::Hold(), task = std::move(task)] { task(); });
}

void TWBridgeServer::start() {
  post([this] {
    stopping_ = false;
    startListenerOnQueue();
  });
}

void TWBridgeServer::stop() {
  post([this] { stopOnQueue(); });
}

void TWBridgeServer::updateSaveLocation(std::string path) {
  post([this, path = std::move(path)] {
    {
      std::lock_guard lock(stateMutex_);
      saveLocation_ = path;
    }
    for (const auto& peer : authenticatedConnections_) SendMessage(*peer, SettingsUpdatedMessage(path));
    notifyState();
  });
}

Json TWBridgeServer::stateSnapshot() const {
  Json grsAI = client_ ? client_->stateSnapshot() : Json::object();
  std::lock_guard lock(stateMutex_);
  return Json{{"listening", listening_},
              {"connected", connected_},
              {"connectedCount", connectedCount_},
              {"mode", "local"},
              {"port", kBridgePort},
              {"saveLocation", saveLocation_},
              {"grsAI", std::move(grsAI)},
              {"error", lastError_}};
}

std::string TWBridgeServer::saveLocation() const {
  std::lock_guard lock(stateMutex_);
  return saveLocation_;
}

void TWBridgeServer::notifyState() {
  if (silenced_) return;
  queues::Main([weak = weak_from_this(), state = stateSnapshot()]() mutable {
    auto self = weak.lock();
    if (self && self->delegate_) self->delegate_->bridgeServer(*self, std::move(state));
  });
}

// ---- the listener --------------------------------------------------------------------------

void TWBridgeServer::startListenerOnQueue() {
  if (!listener_.empty()) return;
  restartScheduled_ = false;
  for (const auto& address : {net::ip::address(net::ip::address_v4::loopback()),
                              net::ip::address(net::ip::address_v6::loopback())}) {
    const tcp::endpoint endpoint(address, kBridgePort);
    auto acceptor = std::make_shared<Acceptor>(queue_);
    boost::system::error_code error;
    acceptor->open(endpoint.protocol(), error);
    if (!error) CloseOnExec(acceptor->native_handle());
    if (!error && address.is_v6()) acceptor->set_option(net::ip::v6_only(true), error);
    // Connections of an earlier run still closing must not keep the port from us.
    if (!error) acceptor->set_option(Acceptor::reuse_address(true), error);
    if (!error) acceptor->bind(endpoint, error);
    if (!error) acceptor->listen(net::socket_base::max_listen_connections, error);
    if (error && address.is_v6() && NoIPv6Loopback(error)) continue;
    listener_.push_back(acceptor);
    if (error) return listenerFailed(error.message());
  }
  for (const auto& acceptor : listener_) acceptNext(acceptor);
  {
    std::lock_guard lock(stateMutex_);
    listening_ = true;
    lastError_.clear();
  }
  notifyState();
}

void TWBridgeServer::listenerFailed(const std::string& systemText) {
  closeListener();
  {
    std::lock_guard lock(stateMutex_);
    listening_ = false;
    lastError_ = systemText;
  }
  if (!stopping_ && !restartScheduled_) {
    restartScheduled_ = true;
    restartTimer_.expires_after(kRestartDelay);
    restartTimer_.async_wait([this](const boost::system::error_code& error) {
      if (error) return;  // cancelled by stop()
      restartScheduled_ = false;
      if (!stopping_) startListenerOnQueue();
    });
  }
  notifyState();
}

void TWBridgeServer::closeListener() {
  for (const auto& acceptor : listener_) {
    boost::system::error_code ignored;
    acceptor->close(ignored);
  }
  listener_.clear();
}

void TWBridgeServer::acceptNext(const std::shared_ptr<Acceptor>& acceptor) {
  acceptor->async_accept(net::make_strand(io_), [this, acceptor](const boost::system::error_code& error,
                                                                 tcp::socket socket) {
    if (!acceptor->is_open() || error == net::error::operation_aborted) return;
    if (error) return listenerFailed(error.message());
    CloseOnExec(socket.native_handle());
    BridgeConnection::Handlers handlers{
        [this](std::shared_ptr<BridgePeer> peer, Json message) {
          net::post(queue_, [this, peer = std::move(peer), message = std::move(message)] { handleMessage(message, peer); });
        },
        [this](std::shared_ptr<BridgePeer> peer) {
          net::post(queue_, [this, peer = std::move(peer)] { connectionClosed(peer); });
        }};
    auto connection = std::make_shared<BridgeConnection>(std::move(socket), std::move(handlers));
    acceptConnection(connection);
    connection->Start();
    acceptNext(acceptor);
  });
}

// ---- connections ---------------------------------------------------------------------------

void TWBridgeServer::acceptConnection(const std::shared_ptr<BridgePeer>& peer) {
  if (peer) connections_.insert(peer);
}

void TWBridgeServer::connectionClosed(const std::shared_ptr<BridgePeer>& peer) {
  if (!connections_.erase(peer)) return;
  authenticatedConnections_.erase(peer);
  recountConnected();
  notifyState();
}

void TWBridgeServer::recountConnected() {
  std::lock_guard lock(stateMutex_);
  connected_ = !authenticatedConnections_.empty();
  connectedCount_ = authenticatedConnections_.size();
}

void TWBridgeServer::stopOnQueue() {
  stopping_ = true;
  restartScheduled_ = false;
  restartTimer_.cancel();
  for (const auto& peer : connections_) peer->Close();
  connections_.clear();
  authenticatedConnections_.clear();
  closeListener();
  recountConnected();
  {
    std::lock_guard lock(stateMutex_);
    listening_ = false;
  }
  notifyState();
}

void TWBridgeServer::sendFromQueue(std::weak_ptr<BridgePeer> peer, Json message) {
  post([peer = std::move(peer), message = std::move(message)] {
    if (auto connection = peer.lock()) SendMessage(*connection, message);
  });
}

}  // namespace tw::bridge
