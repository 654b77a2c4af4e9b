#pragma once
// TWBridgeServer: the local WebSocket server of the image editor's plug-in. A plug-in connects to
// ws://127.0.0.1:32188 (or [::1]), introduces itself with "hello", and sends retouch requests; the
// server hands each one to the shared AI client's generation pipeline, relays the pipeline's
// progress, and returns the generated image with what the plug-in needs to insert it as a layer.
// It also tells the plug-ins when the save folder changes, and reports its own state to its
// delegate (the controller, which shows it in the page).
//
// Threads: the server runs on a thread of its own, never on the main loop. Its state lives on the
// serial queue kBridgeQueueLabel (a strand on that thread); each connection has a strand of its
// own there. Public entry points may be called from any thread and hop onto the queue; the
// delegate hears about every change on the main queue. Nothing here blocks the main queue.
//
// Listening: on the loopback addresses only (127.0.0.1 and ::1, the latter where the system has
// it). When the port cannot be taken (another program holds it) the error is reported with the
// system's text and listening is retried every second until it works or the server stops.
#include "ai/grsai_client.hpp"
#include "base/json.hpp"
#include "bridge/bridge_peer.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tw::bridge {

inline constexpr char kBridgeQueueLabel[] = "com.avo.tidewick.bridge";
inline constexpr unsigned short kBridgePort = 32188;

class TWBridgeServer;

class TWBridgeServerDelegate {
 public:
  virtual ~TWBridgeServerDelegate() = default;
  // Main queue. `state` is the server's stateSnapshot() taken when the change happened.
  virtual void bridgeServer(TWBridgeServer& server, Json state) = 0;
};

class TWBridgeServer : public std::enable_shared_from_this<TWBridgeServer> {
  struct Passkey {};

 public:
  // Main queue. The server's thread starts at once (idle until `start`); the delegate must
  // outlive the server or call shutdown() first.
  static std::shared_ptr<TWBridgeServer> Create(TWBridgeServerDelegate* delegate,
                                                std::shared_ptr<ai::TWGRSAIClient> client, std::string saveLocation);
  TWBridgeServer(Passkey, TWBridgeServerDelegate* delegate, std::shared_ptr<ai::TWGRSAIClient> client,
                 std::string saveLocation);
  ~TWBridgeServer();
  TWBridgeServer(const TWBridgeServer&) = delete;
  TWBridgeServer& operator=(const TWBridgeServer&) = delete;

  // Any thread; the work happens on the queue.
  void start();
  // Closes every connection and the listener; no restart follows until the next start().
  void stop();
  // Sets the folder generated images go to, tells every authenticated plug-in ("settings.updated")
  // and the delegate.
  void updateSaveLocation(std::string path);

  // Any thread.
  // {listening, connected, connectedCount, mode, port, saveLocation, grsAI, error}
  Json stateSnapshot() const;
  std::string saveLocation() const;

  // Main queue: stops everything and waits for the server's thread; the delegate hears nothing
  // more. Also done by the destructor, which must then not run on the server's thread.
  void shutdown();

  // Any thread: runs the task on the queue. It counts as work in flight until it has run.
  void post(std::function<void()> task);

  // ---- on the queue ----
  // One message of a plug-in (bridge_protocol.cpp).
  void handleMessage(const Json& message, const std::shared_ptr<BridgePeer>& peer);
  // A new connection, and the end of one.
  void acceptConnection(const std::shared_ptr<BridgePeer>& peer);
  void connectionClosed(const std::shared_ptr<BridgePeer>& peer);

 private:
  using Strand = boost::asio::strand<boost::asio::io_context::executor_type>;
  using Acceptor = boost::asio::ip::tcp::acceptor;

  // ---- on the queue ----
  void startListenerOnQueue();
  void stopOnQueue();
  void listenerFailed(const std::string& systemText);
  void acceptNext(const std::shared_ptr<Acceptor>& acceptor);
  void closeListener();
  void notifyState();
  void retouch(const Json& request, const std::shared_ptr<BridgePeer>& peer);
  // Any thread: sends one message to the peer from the queue, if the peer is still there.
  void sendFromQueue(std::weak_ptr<BridgePeer> peer, Json message);
  void recountConnected();

  // Declared first: destroyed last, after everything that uses it.
  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
  Strand queue_;
  TWBridgeServerDelegate* delegate_;  // main queue
  const std::shared_ptr<ai::TWGRSAIClient> client_;

  // Queue only.
  std::vector<std::shared_ptr<Acceptor>> listener_;  // empty while not listening
  std::set<std::shared_ptr<BridgePeer>> connections_;
  std::set<std::shared_ptr<BridgePeer>> authenticatedConnections_;
  bool stopping_ = false;
  bool restartScheduled_ = false;
  boost::asio::steady_timer restartTimer_;

  // What stateSnapshot reads from any thread; written on the queue.
  mutable std::mutex stateMutex_;
  bool listening_ = false;
  bool connected_ = false;
  size_t connectedCount_ = 0;
  std::string saveLocation_;
  std::string lastError_;

  std::thread thread_;
  bool shutDown_ = false;  // main queue
  std::atomic<bool> silenced_ = false;  // any thread: set once shutdown has begun
};

}  // namespace tw::bridge
