// JSON field access, atomic files, URLs, the callback script text and the queues.
#include "base/call_js.hpp"
#include "base/files.hpp"
#include "base/json.hpp"
#include "base/queues.hpp"
#include "base/text.hpp"
#include "support/headless_process.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>

namespace tw {
namespace {

TEST(JsonFields, MissingOrMistypedFieldsFallBackToEmptyValuesAndTextIsCompactUtf8) {
  Json body = {{"path", 42}, {"name", "a"}, {"photos", "not an array"}, {"options", {1, 2}}, {"flag", true},
               {"absentPhotos", nullptr}};
  EXPECT_EQ(StringField(body, "path"), "");
  EXPECT_EQ(StringField(body, "name"), "a");
  EXPECT_EQ(ArrayField(body, "photos"), Json::array());
  EXPECT_EQ(ObjectField(body, "options"), Json::object());
  EXPECT_EQ(ObjectField(Json("a string body"), "options"), Json::object());
  EXPECT_TRUE(BoolField(body, "flag", false));
  EXPECT_FALSE(BoolField(body, "name", false));
  EXPECT_EQ(NumberField(body, "path"), 42.0);
  EXPECT_FALSE(NumberField(body, "name").has_value());
  EXPECT_TRUE(FieldOr(body, "absentPhotos", Json::array()).is_null());
  EXPECT_EQ(FieldOr(body, "absent", Json::array()), Json::array());
  // Text is compact UTF-8; broken text parses to nothing.
  EXPECT_EQ(JSONString("状态 \"引号\"\n"), "\"状态 \\\"引号\\\"\\n\"");
  EXPECT_EQ(JSONString(Json{{"a", 1}, {"b", {true, 2.5}}}), "{\"a\":1,\"b\":[true,2.5]}");
  // Bytes that are not UTF-8 are replaced instead of failing the whole callback.
  EXPECT_EQ(JSONString(std::string("a\xff")), "\"a\xEF\xBF\xBD\"");
  EXPECT_EQ(ScriptText("window.Native.status", JSONString("好")), "window.Native.status(\"好\")");
  EXPECT_FALSE(ParseJSON("{\"a\":").has_value());
  EXPECT_EQ(ParseJSON("\"bare\"")->get<std::string>(), "bare");
}

TEST(AtomicWrite, ReplacesTheFileLeavesNoTemporaryFilesAndReportsTheSystemText) {
  testing::TempFolder folder;
  std::string path = folder / "state.json";
  ASSERT_FALSE(WriteFileAtomically(path, "first").has_value());
  ASSERT_FALSE(WriteFileAtomically(path, "second", 0600).has_value());
  EXPECT_EQ(*ReadWholeFile(path), "second");
  EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0600));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
  EXPECT_FALSE(WriteFileAtomically(folder / "no-such-folder/state.json", "x").value_or("").empty());
}

TEST(FileURLs, RoundTripPathsWithSpacesAndChinese) {
  std::string path = "/tmp/岚舟 数据/ThumbnailCache/1.jpg";
  std::string url = FileURLFromPath(path);
  EXPECT_EQ(url, "file:///tmp/%E5%B2%9A%E8%88%9F%20%E6%95%B0%E6%8D%AE/ThumbnailCache/1.jpg");
  EXPECT_EQ(PathFromFileURL(url), path);
  EXPECT_FALSE(PathFromFileURL("https://example.com/a").has_value());
}

TEST(JsonNesting, CountsLevelsOfArraysAndObjectsWithoutRecursing) {
  EXPECT_FALSE(NestedDeeperThan(Json("text"), 0));
  EXPECT_TRUE(NestedDeeperThan(Json::array(), 0));
  Json two = {{"a", Json::array({Json::object()})}};  // object > array > object: three levels
  EXPECT_FALSE(NestedDeeperThan(two, 3));
  EXPECT_TRUE(NestedDeeperThan(two, 2));
  // Far deeper than any stack would survive if the walk recursed.
  std::string deep = std::string(200000, '[') + std::string(200000, ']');
  EXPECT_TRUE(NestedDeeperThan(ParseJSON(deep).value(), kMaxJsonNesting));
  // Refused before a single level is built; within the bound it parses as usual.
  EXPECT_FALSE(ParseJSONWithin(deep, kMaxJsonNesting).has_value());
  EXPECT_EQ(ParseJSONWithin(R"({"a": [{}]})", 3), two);
  EXPECT_EQ(ParseJSONWithin(R"({"a": [{}]})", 2), std::nullopt);
}

TEST(ReadableFiles, OpenOnlyAbsoluteRegularFilesAndNeverWaitOnAPipe) {
  testing::TempFolder folder;
  const std::string photo = folder / "IMG_1.jpg";
  ASSERT_FALSE(WriteFileAtomically(photo, "bytes").has_value());
  ReadableFile file = ReadableFile::Open(photo);
  ASSERT_TRUE(file);
  char buffer[8];
  EXPECT_EQ(read(file.fd(), buffer, sizeof buffer), 5);

  ASSERT_EQ(mkfifo((folder / "pipe.jpg").c_str(), 0600), 0);
  EXPECT_EQ(ReadableFile::Open(folder / "pipe.jpg").error(), EINVAL);  // returns at once, no writer needed
  EXPECT_EQ(ReadableFile::Open(folder.path()).error(), EISDIR);
  EXPECT_EQ(ReadableFile::Open(folder / "missing.jpg").error(), ENOENT);
  EXPECT_EQ(ReadableFile::Open("IMG_1.jpg").error(), EINVAL);  // relative: never against the working directory
}

TEST(StableHash, IsFixedAcrossRunsAndBuilds) {
  // FNV-1a reference values: cache file names must not change between versions.
  EXPECT_EQ(StableHash64(""), 14695981039346656037ULL);
  EXPECT_EQ(StableHash64("a"), 12638187200555641996ULL);
}

TEST(FileNameOrder, NumbersByValueCaseAsideThenBytes) {
  std::vector<std::string> names = {"/s/IMG_10.jpg", "/s/b.jpg", "/s/IMG_2.jpg", "/s/a.jpg", "/s/A.JPG",
                                    "/s/IMG_02.jpg", "/s/Été.jpg", "/s/été.jpg", "/s/z.jpg"};
  std::sort(names.begin(), names.end(), FileNameOrderLess);
  EXPECT_EQ(names, (std::vector<std::string>{"/s/A.JPG", "/s/a.jpg", "/s/b.jpg", "/s/IMG_02.jpg", "/s/IMG_2.jpg",
                                             "/s/IMG_10.jpg", "/s/z.jpg", "/s/Été.jpg", "/s/été.jpg"}));
  EXPECT_FALSE(FileNameOrderLess("/s/a.jpg", "/s/a.jpg"));
}

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
  std::vector<int> next(kThreads, 0);  // touched on the main queue only
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &next] {
      for (int i = 0; i < kCalls; ++i) {
        queues::Main([t, i, &next] {
          EXPECT_TRUE(queues::IsMainThread());
          EXPECT_EQ(i, next[t]++) << "thread " << t;
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  loop_.RunUntilQuiet();
  EXPECT_EQ(next, std::vector<int>(kThreads, kCalls));
}

TEST_F(QueuesTest, QuietWaitsForBackgroundWorkItsFollowUpsAndTimersAndTheMainQueueNeverRunsATaskAtOnce) {
  bool ran = false;
  queues::Main([&] { ran = true; });
  EXPECT_FALSE(ran);
  bool finishedOnMain = false;
  queues::Global(QoS::UserInitiated, [&] {
    queues::Global(QoS::Utility, [&] { queues::Main([&] { finishedOnMain = true; }); });
  });
  loop_.RunUntilQuiet();
  EXPECT_TRUE(ran && finishedOnMain);

  // And for a real timer.
  bool fired = false;
  auto start = std::chrono::steady_clock::now();
  queues::AfterOnMain(std::chrono::milliseconds(50), [&] { fired = true; });
  loop_.RunUntilQuiet();
  EXPECT_TRUE(fired);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST_F(QueuesTest, ManualClockFiresTimersOnlyWhenAdvancedAndInDeadlineOrder) {
  queues::UseManualClock(true);
  std::vector<std::string> fired;  // touched on the main queue only
  queues::AfterOnMain(std::chrono::seconds(2), [&] { fired.push_back("main 2s"); });
  queues::AfterOnUtility(std::chrono::seconds(1), [&] { queues::Main([&] { fired.push_back("utility 1s"); }); });
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
  std::vector<int> order, expected;
  for (int i = 0; i < 50; ++i) {
    expected.push_back(i);
    queue.Post([&, i] {
      if (++running > 1) overlapped = true;
      order.push_back(i);
      --running;
    });
  }
  loop_.RunUntilQuiet();
  EXPECT_FALSE(overlapped.load());
  EXPECT_EQ(order, expected);
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
