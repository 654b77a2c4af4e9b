#pragma once
// The four kinds of queue every part of the program is written against.
//
//  main     one thread drains it: message dispatch, controller state, panels, callback delivery.
//           The shell installs the driver (GLib main context on the desktop, a RunLoop headless).
//  global   thread pools at two priorities for scans, analysis, rendering, exports and polls.
//  serial   a labelled queue whose tasks run one after another, in order.
//  after    a task posted to main or a global queue once a delay has passed; tests can swap the
//           clock for a manual one and advance it, so nothing waits for real time.
//
// Every posted task, pending timer and held InFlight counts as work in flight until it has run
// (or is released). The headless shell exits once nothing is in flight; tests wait on the same
// count instead of sleeping.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace tw {

using Task = std::function<void()>;
using Duration = std::chrono::steady_clock::duration;

enum class QoS { UserInitiated, Utility };

// Where the main queue's tasks go. Post may be called from any thread.
class MainQueueDriver {
 public:
  virtual ~MainQueueDriver() = default;
  virtual void Post(Task task) = 0;
};

namespace queues {

// Installs the main queue's driver and marks the calling thread as the main thread.
// Call before anything posts to main; passing nullptr detaches it.
void SetMainDriver(MainQueueDriver* driver);
bool IsMainThread();

// Any thread.
void Main(Task task);
void Global(QoS qos, Task task);
// Runs the task on the main queue (main = true) or the utility queue once delay has passed.
void AfterOnMain(Duration delay, Task task);
void AfterOnUtility(Duration delay, Task task);

// Work that is not a queued task but must keep the program alive (an HTTP exchange, a child
// process). The count drops when the returned object is destroyed.
class InFlight {
 public:
  InFlight();
  ~InFlight();
  InFlight(const InFlight&) = delete;
  InFlight& operator=(const InFlight&) = delete;
};
std::shared_ptr<InFlight> Hold();

// Work in flight, pending timers included.
long InFlightCount();
// Timers waiting for a manual clock to be advanced (always 0 with the real clock).
long PendingManualTimers();
// Blocks the caller until InFlightCount() - PendingManualTimers() has been 0 (the main queue's
// own drain must happen elsewhere, e.g. RunLoop). Returns false on timeout.
bool WaitForQuiet(Duration timeout);

// Test clock: after UseManualClock(true) timers fire only through AdvanceClock.
void UseManualClock(bool manual);
void AdvanceClock(Duration by);

// Joins the pools; the process is about to end.
void Shutdown();

}  // namespace queues

// A labelled serial queue (e.g. "com.avo.tidewick.rating-export"). Any thread may post; tasks
// run one at a time, in posting order, on the user-initiated pool.
class SerialQueue {
 public:
  explicit SerialQueue(std::string label);
  ~SerialQueue();
  const std::string& label() const { return label_; }
  void Post(Task task);

 private:
  struct State;
  std::string label_;
  std::shared_ptr<State> state_;
};

// A main queue drained by the thread that calls Run: the headless shell's loop and the tests'.
class RunLoop final : public MainQueueDriver {
 public:
  RunLoop();
  ~RunLoop() override;
  void Post(Task task) override;
  // Runs main-queue tasks until Stop() or until `until` returns true (checked after each task and
  // whenever the in-flight count changes).
  void Run(const std::function<bool()>& until);
  // Runs until nothing is in flight except timers waiting for a manual clock.
  void RunUntilQuiet();
  void Stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tw
