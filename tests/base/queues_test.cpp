#include "base/queues.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

namespace tw {
namespace {

class QueuesTest : public ::testing::Test {
 protected:
  void SetUp() override { queues::SetMainDriver(&loop_); }
  void TearDown() override {
    queues::UseManualClock(false);
    loop_.RunUntilQuiet();
    queues::SetMainDriver(nullptr);
  }
  RunLoop loop_;
};

TEST_F(QueuesTest, CallbacksFromSeveralThreadsArriveInPerThreadOrder) {
  constexpr int kThreads = 4, kCalls = 500;
  std::vector<std::pair<int, int>> delivered;  // touched on the main queue only
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &delivered] {
      for (int i = 0; i < kCalls; ++i) {
        queues::Main([t, i, &delivered] {
          EXPECT_TRUE(queues::IsMainThread());
          delivered.emplace_back(t, i);
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  loop_.RunUntilQuiet();

  ASSERT_EQ(delivered.size(), static_cast<size_t>(kThreads * kCalls));
  std::map<int, int> next;
  for (auto [thread, index] : delivered) {
    EXPECT_EQ(index, next[thread]) << "thread " << thread;
    next[thread] = index + 1;
  }
}

TEST_F(QueuesTest, QuietWaitsForBackgroundWorkAndItsFollowUpsAndTheMainQueueNeverRunsATaskAtOnce) {
  bool ran = false;
  queues::Main([&] { ran = true; });
  EXPECT_FALSE(ran);
  std::atomic<int> steps{0};
  bool finishedOnMain = false;
  queues::Global(QoS::UserInitiated, [&] {
    ++steps;
    queues::Global(QoS::Utility, [&] {
      ++steps;
      queues::Main([&] { finishedOnMain = true; });
    });
  });
  loop_.RunUntilQuiet();
  EXPECT_EQ(steps.load(), 2);
  EXPECT_TRUE(ran);
  EXPECT_TRUE(finishedOnMain);
  EXPECT_EQ(queues::InFlightCount(), 0);
}

TEST_F(QueuesTest, QuietWaitsForARealTimer) {
  bool fired = false;
  auto start = std::chrono::steady_clock::now();
  queues::AfterOnMain(std::chrono::milliseconds(50), [&] { fired = true; });
  loop_.RunUntilQuiet();
  EXPECT_TRUE(fired);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST_F(QueuesTest, ManualClockFiresTimersOnlyWhenAdvancedAndInDeadlineOrder) {
  queues::UseManualClock(true);
  std::vector<std::string> fired;
  std::mutex mutex;
  queues::AfterOnMain(std::chrono::seconds(2), [&] { fired.push_back("main 2s"); });
  queues::AfterOnUtility(std::chrono::seconds(1), [&] {
    std::lock_guard lock(mutex);
    queues::Main([&] { fired.push_back("utility 1s"); });
  });
  EXPECT_EQ(queues::PendingManualTimers(), 2);
  loop_.RunUntilQuiet();  // returns although the timers are still waiting
  EXPECT_TRUE(fired.empty());

  queues::AdvanceClock(std::chrono::milliseconds(1500));
  loop_.RunUntilQuiet();
  EXPECT_EQ(fired, std::vector<std::string>{"utility 1s"});

  queues::AdvanceClock(std::chrono::milliseconds(500));
  loop_.RunUntilQuiet();
  EXPECT_EQ(fired, (std::vector<std::string>{"utility 1s", "main 2s"}));
  EXPECT_EQ(queues::PendingManualTimers(), 0);
}

TEST_F(QueuesTest, SerialQueueRunsOneTaskAtATimeInOrder) {
  SerialQueue queue("com.avo.tidewick.test");
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  std::vector<int> order;
  for (int i = 0; i < 50; ++i) {
    queue.Post([&, i] {
      if (++running > 1) overlapped = true;
      order.push_back(i);
      --running;
    });
  }
  loop_.RunUntilQuiet();
  EXPECT_FALSE(overlapped.load());
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(queue.label(), "com.avo.tidewick.test");
}

TEST_F(QueuesTest, HeldWorkKeepsTheProgramBusyUntilReleased) {
  auto hold = queues::Hold();
  EXPECT_FALSE(queues::WaitForQuiet(std::chrono::milliseconds(20)));
  queues::Global(QoS::Utility, [h = std::move(hold)]() mutable { h.reset(); });
  loop_.RunUntilQuiet();
  EXPECT_EQ(queues::InFlightCount(), 0);
}

}  // namespace
}  // namespace tw
