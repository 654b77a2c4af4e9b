#pragma once
// One plug-in connection as the server's message handling sees it: something that takes text
// messages and can be closed. The WebSocket connection is the real one; the fuzz harness has its own.
#include <memory>
#include <string>

namespace tw::bridge {

class BridgePeer {
 public:
  virtual ~BridgePeer() = default;
  // Any thread. Queues one complete text message; messages go out in the order they were queued.
  // Does nothing once the connection is closed.
  virtual void Send(std::shared_ptr<const std::string> text) = 0;
  // Any thread. Ends the connection at once, without a closing handshake.
  virtual void Close() = 0;
};

}  // namespace tw::bridge
