// Storing and restoring the page's project state.
#include "base/files.hpp"
#include "support/controller_fixture.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

namespace tw::testing {
namespace {

class PersistenceTest : public ControllerTest {
 protected:
  std::string ProjectFile() const { return support_ / "current-project.json"; }
  ino_t Inode() const {
    struct stat st {};
    return stat(ProjectFile().c_str(), &st) == 0 ? st.st_ino : 0;
  }
  void Save(const Json& state) { Send({{"action", "saveState"}, {"state", state}}); }
  std::vector<Json> Statuses() const { return Payloads("window.Native.status"); }
};

TEST_F(PersistenceTest, WritesPrettySortedJsonAndSkipsAnIdenticalSecondSave) {
  Save({{"photos", Json::array({{{"name", "b.jpg"}, {"id", "1"}}})}, {"album", "婚礼"}});
  ASSERT_TRUE(PathExists(ProjectFile()));
  std::string bytes = *ReadWholeFile(ProjectFile());
  EXPECT_NE(bytes.find('\n'), std::string::npos);
  EXPECT_LT(bytes.find("\"album\""), bytes.find("\"photos\""));
  EXPECT_LT(bytes.find("\"id\""), bytes.find("\"name\""));
  EXPECT_NE(bytes.find("婚礼"), std::string::npos);
  auto before = StatPath(ProjectFile());
  ino_t inode = Inode();

  // The same state with its keys in another order is the same project.
  Save({{"album", "婚礼"}, {"photos", Json::array({{{"id", "1"}, {"name", "b.jpg"}}})}});
  EXPECT_EQ(Inode(), inode);
  EXPECT_TRUE(SameTime(StatPath(ProjectFile()).modified, before.modified));
  EXPECT_TRUE(Statuses().empty());
}

TEST_F(PersistenceTest, AChangedOrDeletedFileIsWrittenAgainEvenForTheSameState) {
  Json state = {{"photos", Json::array()}};
  Save(state);
  ASSERT_EQ(unlink(ProjectFile().c_str()), 0);
  Save(state);
  EXPECT_TRUE(PathExists(ProjectFile()));

  // Someone else touched the file: its date no longer matches, so the next save writes.
  ino_t inode = Inode();
  timespec times[2] = {{1, 0}, {1, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, ProjectFile().c_str(), times, 0), 0);
  Save(state);
  EXPECT_NE(Inode(), inode);
}

TEST_F(PersistenceTest, InvalidStatesAreRefusedAndKeepTheOldFile) {
  Save({{"photos", {1, 2}}});
  std::string old = *ReadWholeFile(ProjectFile());
  Send({{"action", "saveState"}});
  Send({{"action", "saveState"}, {"state", "a string"}});
  Send({{"action", "saveState"}, {"state", nullptr}});
  Send({{"action", "saveState"}, {"state", 12}});
  auto statuses = Statuses();
  ASSERT_EQ(statuses.size(), 4u);
  for (const auto& status : statuses) EXPECT_EQ(status, "项目保存失败：数据格式无效。原有项目未覆盖。");
  EXPECT_EQ(*ReadWholeFile(ProjectFile()), old);

  // An array at top level is a valid project.
  Save(Json::array({1}));
  EXPECT_NE(*ReadWholeFile(ProjectFile()), old);
}

TEST_F(PersistenceTest, ReadyRestoresTheStateAndTheFirstSaveAfterLaunchWrites) {
  Json state = {{"photos", Json::array({{{"id", "A"}}})}};
  Save(state);
  ino_t inode = Inode();
  Relaunch();
  ClearOutput();
  Send({{"action", "ready"}});
  auto restored = Payloads("window.Native.receiveState");
  ASSERT_EQ(restored.size(), 1u);
  EXPECT_EQ(restored[0], state);
  // Restoring does not fill the write memory.
  Save(state);
  EXPECT_NE(Inode(), inode);
}

TEST_F(PersistenceTest, ABareStringOrBrokenFileRestoresAsAnEmptyObject) {
  for (const char* content : {"\"just a string\"", "{\"photos\": [", "", "42"}) {
    ASSERT_FALSE(WriteFileAtomically(ProjectFile(), content).has_value());
    ClearOutput();
    Send({{"action", "ready"}});
    auto restored = Payloads("window.Native.receiveState");
    ASSERT_EQ(restored.size(), 1u) << content;
    EXPECT_EQ(restored[0], Json::object()) << content;
  }
}

TEST_F(PersistenceTest, AFailedWriteReportsTheSystemTextKeepsTheOldFileAndRetries) {
  Save({{"photos", Json::array()}});
  std::string old = *ReadWholeFile(ProjectFile());
  Json bigger = {{"photos", Json::array({{{"id", std::string(4096, 'x')}}})}};

  // A file-size limit makes every write of the new project fail, as a full disk would.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  Save(bigger);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);

  auto statuses = Statuses();
  ASSERT_EQ(statuses.size(), 1u);
  std::string text = statuses[0];
  EXPECT_EQ(text.rfind("项目保存失败：", 0), 0u);
  EXPECT_NE(text.find("。请检查磁盘空间和目录权限。"), std::string::npos);
  EXPECT_EQ(text.find("数据格式无效"), std::string::npos);
  EXPECT_EQ(*ReadWholeFile(ProjectFile()), old);

  // The write memory kept its old values, so the same state is tried again and now lands.
  Save(bigger);
  EXPECT_EQ(Statuses().size(), 1u);
  EXPECT_NE(*ReadWholeFile(ProjectFile()), old);
}

TEST_F(PersistenceTest, AnUnwritableDataFolderReportsAndKeepsTheOldFile) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root; the file-size test covers this path";
  Save({{"photos", Json::array()}});
  std::string old = *ReadWholeFile(ProjectFile());
  ASSERT_EQ(chmod(support_.path().c_str(), 0555), 0);
  Save({{"photos", Json::array({1})}});
  chmod(support_.path().c_str(), 0755);
  ASSERT_EQ(Statuses().size(), 1u);
  EXPECT_EQ(*ReadWholeFile(ProjectFile()), old);
}

}  // namespace
}  // namespace tw::testing
