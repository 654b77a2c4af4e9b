#include "base/queues.hpp"

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace tw {
namespace {

// The count of work in flight. Never destroyed, like the pools: a worker releasing its count
// may still be notifying waiters while the program's statics are being torn down.
struct WorkCount {
  std::mutex mutex;
  std::condition_variable changed;
  long count = 0;
  long manualTimers = 0;
};

WorkCount& TheWorkCount() {
  static WorkCount* count = new WorkCount();
  return *count;
}

// Observers woken when the count changes (RunLoops waiting for quiet).
std::atomic<MainQueueDriver*> g_mainDriver{nullptr};
std::thread::id g_mainThread;

void Acquire() {
  std::lock_guard lock(TheWorkCount().mutex);
  ++TheWorkCount().count;
}

void Release() {
  {
    std::lock_guard lock(TheWorkCount().mutex);
    --TheWorkCount().count;
  }
  TheWorkCount().changed.notify_all();
}

// Runs the task and releases its in-flight count afterwards, also when it throws.
Task Counted(Task task) {
  Acquire();
  return [task = std::move(task)]() {
    struct Releaser {
      ~Releaser() { Release(); }
    } releaser;
    task();
  };
}

class Pools {
 public:
  Pools()
      : user_(std::max(2u, std::thread::hardware_concurrency())), utility_(2) {}
  boost::asio::thread_pool& user() { return user_; }
  boost::asio::thread_pool& utility() { return utility_; }
  void Join() {
    user_.join();
    utility_.join();
  }

 private:
  boost::asio::thread_pool user_;
  boost::asio::thread_pool utility_;
};

Pools& ThePools() {
  // Deliberately never destroyed: worker threads may still touch it while statics go away.
  static Pools* pools = new Pools();
  return *pools;
}

// One timer thread serves every After call. With the manual clock, time only moves in
// AdvanceClock, so tests step through retries and polls without waiting.
class Timers {
 public:
  struct Entry {
    bool onMain;
    Task task;
  };

  void Schedule(Duration delay, bool onMain, Task task) {
    std::unique_lock lock(mutex_);
    EnsureThread();
    Acquire();
    if (manual_) {
      std::lock_guard countLock(TheWorkCount().mutex);
      ++TheWorkCount().manualTimers;
    }
    entries_.emplace(Now() + delay, Entry{onMain, std::move(task)});
    changed_.notify_all();
  }

  void SetManual(bool manual) {
    std::lock_guard lock(mutex_);
    manual_ = manual;
    manualNow_ = std::chrono::steady_clock::time_point{};
    changed_.notify_all();
  }

  void Advance(Duration by) {
    std::vector<Entry> due;
    {
      std::lock_guard lock(mutex_);
      manualNow_ += by;
      TakeDue(due);
    }
    Fire(due, /*wasManual=*/true);
  }

 private:
  std::chrono::steady_clock::time_point Now() const {
    return manual_ ? manualNow_ : std::chrono::steady_clock::now();
  }

  void TakeDue(std::vector<Entry>& due) {
    auto now = Now();
    while (!entries_.empty() && entries_.begin()->first <= now) {
      due.push_back(std::move(entries_.begin()->second));
      entries_.erase(entries_.begin());
    }
  }

  static void Fire(std::vector<Entry>& due, bool wasManual) {
    for (auto& entry : due) {
      if (entry.onMain) {
        queues::Main(std::move(entry.task));
      } else {
        queues::Global(QoS::Utility, std::move(entry.task));
      }
      if (wasManual) {
        std::lock_guard countLock(TheWorkCount().mutex);
        --TheWorkCount().manualTimers;
      }
      Release();
    }
  }

  void EnsureThread() {
    if (started_) return;
    started_ = true;
    std::thread([this] { Loop(); }).detach();
  }

  void Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (manual_ || entries_.empty()) {
        changed_.wait(lock);
        continue;
      }
      auto next = entries_.begin()->first;
      if (changed_.wait_until(lock, next) == std::cv_status::timeout || Now() >= next) {
        std::vector<Entry> due;
        TakeDue(due);
        lock.unlock();
        Fire(due, false);
        lock.lock();
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::multimap<std::chrono::steady_clock::time_point, Entry> entries_;
  bool manual_ = false;
  bool started_ = false;
  std::chrono::steady_clock::time_point manualNow_{};
};

Timers& TheTimers() {
  static Timers* timers = new Timers();
  return *timers;
}

}  // namespace

namespace queues {

void SetMainDriver(MainQueueDriver* driver) {
  g_mainDriver.store(driver);
  g_mainThread = std::this_thread::get_id();
}

bool IsMainThread() { return std::this_thread::get_id() == g_mainThread; }

void Main(Task task) {
  MainQueueDriver* driver = g_mainDriver.load();
  if (!driver) return;  // no main queue any more: the program is ending
  driver->Post(Counted(std::move(task)));
}

void Global(QoS qos, Task task) {
  auto& pool = qos == QoS::UserInitiated ? ThePools().user() : ThePools().utility();
  boost::asio::post(pool, Counted(std::move(task)));
}

void AfterOnMain(Duration delay, Task task) { TheTimers().Schedule(delay, true, std::move(task)); }
void AfterOnUtility(Duration delay, Task task) { TheTimers().Schedule(delay, false, std::move(task)); }

InFlight::InFlight() { Acquire(); }
InFlight::~InFlight() { Release(); }
std::shared_ptr<InFlight> Hold() { return std::make_shared<InFlight>(); }

long InFlightCount() {
  std::lock_guard lock(TheWorkCount().mutex);
  return TheWorkCount().count;
}

long PendingManualTimers() {
  std::lock_guard lock(TheWorkCount().mutex);
  return TheWorkCount().manualTimers;
}

bool WaitForQuiet(Duration timeout) {
  WorkCount& work = TheWorkCount();
  std::unique_lock lock(work.mutex);
  return work.changed.wait_for(lock, timeout, [&work] { return work.count - work.manualTimers <= 0; });
}

void UseManualClock(bool manual) { TheTimers().SetManual(manual); }
void AdvanceClock(Duration by) { TheTimers().Advance(by); }

void Shutdown() {
  g_mainDriver.store(nullptr);
  ThePools().Join();
}

}  // namespace queues

// ---- SerialQueue -------------------------------------------------------------------------

struct SerialQueue::State : std::enable_shared_from_this<SerialQueue::State> {
  std::mutex mutex;
  std::deque<Task> tasks;
  bool running = false;

  void Drain() {
    for (;;) {
      Task task;
      {
        std::lock_guard lock(mutex);
        if (tasks.empty()) {
          running = false;
          return;
        }
        task = std::move(tasks.front());
        tasks.pop_front();
      }
      task();
    }
  }
};

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)), state_(std::make_shared<State>()) {}
SerialQueue::~SerialQueue() = default;

void SerialQueue::Post(Task task) {
  bool start = false;
  {
    std::lock_guard lock(state_->mutex);
    state_->tasks.push_back(Counted(std::move(task)));
    if (!state_->running) {
      state_->running = true;
      start = true;
    }
  }
  if (start) {
    // The drain itself is not counted: each task it runs carries its own count.
    boost::asio::post(ThePools().user(), [state = state_] { state->Drain(); });
  }
}

// ---- RunLoop -------------------------------------------------------------------------------

struct RunLoop::State {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Task> tasks;
  bool stopped = false;
};

RunLoop::RunLoop() : state_(std::make_unique<State>()) {}
RunLoop::~RunLoop() = default;

// Post and Stop notify under the lock: once the loop can see the task it may run it, end and be
// destroyed, so the posting thread must not touch the loop after unlocking.
void RunLoop::Post(Task task) {
  std::lock_guard lock(state_->mutex);
  state_->tasks.push_back(std::move(task));
  state_->wake.notify_all();
}

void RunLoop::Stop() {
  std::lock_guard lock(state_->mutex);
  state_->stopped = true;
  state_->wake.notify_all();
}

void RunLoop::Run(const std::function<bool()>& until) {
  // The in-flight count changes on other threads without posting here; a short bounded wait
  // lets the loop notice it without a second wake-up channel.
  for (;;) {
    Task task;
    {
      std::unique_lock lock(state_->mutex);
      if (state_->stopped) {
        state_->stopped = false;
        return;
      }
      if (state_->tasks.empty()) {
        lock.unlock();
        if (until && until()) return;
        lock.lock();
        state_->wake.wait_for(lock, std::chrono::milliseconds(5),
                              [&] { return !state_->tasks.empty() || state_->stopped; });
        continue;
      }
      task = std::move(state_->tasks.front());
      state_->tasks.pop_front();
    }
    task();
  }
}

void RunLoop::RunUntilQuiet() {
  Run([] { return queues::InFlightCount() - queues::PendingManualTimers() <= 0; });
}

}  // namespace tw
