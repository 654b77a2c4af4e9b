// What the program keeps between runs: the page's project state, the settings shared by every
// instance, and the support folder with its resources.
#include "app/support_folder.hpp"
#include "base/files.hpp"
#include "platform/resource_location.hpp"
#include "platform/settings.hpp"
#include "support/controller_fixture.hpp"
#include "support/shoot_files.hpp"

#include <filesystem>
#include <fstream>
#include <set>

namespace tw::testing {
namespace {

class PersistenceTest : public ControllerTest {
 protected:
  std::string ProjectFile() const { return support_ / "current-project.json"; }
  ino_t Inode() const { return testing::Inode(ProjectFile()); }
  void Save(const Json& state) { Send({{"action", "saveState"}, {"state", state}}); }
  std::vector<Json> Statuses() const { return Payloads("window.Native.status"); }
};

TEST_F(PersistenceTest, SavesChangesOnlyAsPrettySortedJsonAndTheNextLaunchRestoresThemAndRemovesTemporaryFilesACrashLeft) {
  Save({{"photos", Json::array({{{"name", "b.jpg"}, {"id", "1"}}})}, {"album", "婚礼"}});
  EXPECT_EQ(ReadWholeFile(ProjectFile()),
            "{\n  \"album\": \"婚礼\",\n  \"photos\": [\n    {\n      \"id\": \"1\",\n      \"name\": \"b.jpg\"\n    }\n  ]\n}");
  ino_t inode = Inode();
  // The same state with its keys in another order is the same project.
  const Json state = {{"album", "婚礼"}, {"photos", Json::array({{{"id", "1"}, {"name", "b.jpg"}}})}};
  Save(state);
  EXPECT_EQ(Inode(), inode);
  EXPECT_TRUE(Statuses().empty());
  ASSERT_TRUE(std::filesystem::remove(ProjectFile()));
  Save(state);
  EXPECT_TRUE(PathExists(ProjectFile())) << "deleted meanwhile";
  // Someone else touched the file: its date no longer matches, so the next save writes.
  inode = Inode();
  SetModified(ProjectFile(), 1);
  Save(state);
  EXPECT_NE(Inode(), inode);

  // Temporary files a crash left an hour ago are removed at the next start.
  std::filesystem::create_directories(support_ / "ProjectRecords");
  const std::vector<std::string> abandoned = {support_ / ".current-project.json.tmp-a1B2c3",
                                              support_ / "ProjectRecords/.1700000000-X.json.tmp-Zz0099",
                                              config_ / ".settings.json.tmp-qwerty"};
  const std::vector<std::string> kept = {support_ / ".current-project.json.tmp-fresh1",  // another instance's write
                                         support_ / ".current-project.json.tmp-long-name", support_ / "notes.tmp-abcdef"};
  const time_t hourAgo = time(nullptr) - 3600;
  for (const auto& path : abandoned) {
    ASSERT_FALSE(WriteFileAtomically(path, "{\"photos\": [").has_value());
    SetModified(path, hourAgo);
  }
  for (const auto& path : kept) ASSERT_FALSE(WriteFileAtomically(path, "x").has_value());
  SetModified(kept[1], hourAgo);

  // Restoring does not fill the write memory: the first save after a launch writes.
  inode = Inode();
  Relaunch();
  for (const auto& path : abandoned) EXPECT_FALSE(PathExists(path)) << path;
  for (const auto& path : kept) EXPECT_TRUE(PathExists(path)) << path;
  Send({{"action", "ready"}});
  EXPECT_EQ(Payloads("window.Native.receiveState"), std::vector<Json>{state});
  Save(state);
  EXPECT_NE(Inode(), inode);
}

TEST_F(PersistenceTest, AnUnreadableFileIsMovedAsideAndTheUserToldBeforeAnySaveReplacesIt) {
  const std::string deep = std::string(300, '[') + std::string(300, ']');
  std::multiset<std::string> expected, told, named, kept;
  for (const std::string content : {"\"just a string\"", "{\"photos\": [", deep.c_str(), ""}) {
    ASSERT_FALSE(WriteFileAtomically(ProjectFile(), content).has_value());
    ClearOutput();
    Send({{"action", "ready"}});
    EXPECT_EQ(Payloads("window.Native.receiveState"), std::vector<Json>{Json::object()}) << content;
    // An empty file holds nothing to keep; anything else is kept and the user told.
    if (!content.empty()) expected.insert(content);
    for (const Json& status : Statuses()) told.insert(status.get<std::string>());
    Save({{"photos", Json::array()}});
  }
  for (const auto& entry : std::filesystem::directory_iterator(support_ / "ProjectRecords")) {
    kept.insert(*ReadWholeFile(entry.path()));
    named.insert("项目文件无法读取，已原样移到 ProjectRecords/" + entry.path().filename().string() + "；当前为空项目");
  }
  EXPECT_EQ(kept, expected);
  EXPECT_EQ(told, named);
}

TEST_F(PersistenceTest, InvalidStatesAndFailedWritesAreReportedAndKeepTheOldFileAFailedWriteIsRetriedAndABrokenFileKept) {
  Save({{"photos", Json::array()}});
  std::string old = *ReadWholeFile(ProjectFile());
  Send({{"action", "saveState"}});
  Save("a string");
  EXPECT_EQ(Statuses(), std::vector<Json>(2, "项目保存失败：数据格式无效。原有项目未覆盖。"));
  EXPECT_EQ(*ReadWholeFile(ProjectFile()), old);

  ClearOutput();
  Json bigger = {{"photos", Json::array({{{"id", std::string(4096, 'x')}}})}};
  {
    FileSizeLimit full(64);  // every write of the new project fails, as on a full disk
    Save(bigger);
  }
  ASSERT_EQ(Statuses().size(), 1u);
  std::string text = Statuses()[0];
  EXPECT_TRUE(text.starts_with("项目保存失败：") && text.ends_with("。请检查磁盘空间和目录权限。")) << text;
  EXPECT_EQ(*ReadWholeFile(ProjectFile()), old);
  // The write memory kept its old values, so the same state is tried again and now lands.
  Save(bigger);
  EXPECT_EQ(Statuses().size(), 1u);
  EXPECT_EQ(ParseJSON(*ReadWholeFile(ProjectFile())), bigger);
  // An array at top level is a valid project.
  Save(Json::array({1}));
  EXPECT_EQ(ParseJSON(*ReadWholeFile(ProjectFile())), Json::array({1}));

  // A file broken while the program runs is kept, without a word, before the next save replaces it.
  ASSERT_FALSE(WriteFileAtomically(ProjectFile(), "{\"photos\": [ garbled").has_value());
  Save({{"photos", Json::array({2})}});
  EXPECT_EQ(Statuses().size(), 1u);
  std::vector<std::string> kept;
  for (const auto& entry : std::filesystem::directory_iterator(support_ / "ProjectRecords")) kept.push_back(*ReadWholeFile(entry.path()));
  EXPECT_EQ(kept, std::vector<std::string>{"{\"photos\": [ garbled"});
  EXPECT_EQ(ParseJSON(*ReadWholeFile(ProjectFile())), (Json{{"photos", {2}}}));
}

TEST(SettingsFile, AChangeKeepsWhatAnotherInstanceWroteMeanwhileAndAnUnreadableFileIsKeptBesideBeforeItIsWrittenOver) {
  TempFolder config;
  const std::string path = config / "tidewick/settings.json";
  platform::Settings first(path), second(path);
  ASSERT_FALSE(first.Set("TWRetouchSaveLocation", "/photos/retouched").has_value());
  // The second instance read the file before that change; its own change must not put it back.
  ASSERT_FALSE(second.Set("TWGRSAIAPIKey", "sk-second").has_value());
  EXPECT_EQ(second.GetString("TWRetouchSaveLocation"), "/photos/retouched");
  EXPECT_EQ(first.GetString("TWGRSAIAPIKey"), "sk-second") << "a read picks up the other instance's write";
  ASSERT_FALSE(first.Remove("TWGRSAIAPIKey").has_value());
  EXPECT_EQ(platform::Settings(path).Get("TWGRSAIAPIKey"), std::nullopt);
  EXPECT_EQ(platform::Settings(path).GetString("TWRetouchSaveLocation"), "/photos/retouched");

  ASSERT_FALSE(WriteFileAtomically(path, "{\"TWGRSAIAPIKey\": \"sk-typed-by-hand\",").has_value());
  EXPECT_EQ(first.Get("TWGRSAIAPIKey"), std::nullopt);
  ASSERT_FALSE(first.Set("TWLensCorrectionEnabled", false).has_value());
  EXPECT_EQ(ReadWholeFile(path + ".unreadable"), "{\"TWGRSAIAPIKey\": \"sk-typed-by-hand\",");
  EXPECT_EQ(platform::Settings(path).GetBool("TWLensCorrectionEnabled"), false);
}

TEST(TestFolder, OnlyAFolderUnderThePrefixServesAndAFlagNamingNoneFallsBackToTheBuiltInOne) {
  TempFolder qa("/tmp/tidewick-qa-"), elsewhere("/tmp/tidewick-other-");
  const std::string link = elsewhere / "link", outward = qa / "outward";
  std::filesystem::create_directory_symlink(qa.path(), link);
  std::filesystem::create_directory_symlink(elsewhere.path(), outward);
  std::filesystem::create_directory(qa / "sub");
  std::ofstream(qa / "a-file") << "x";
  // A symbolic link is judged by its target.
  EXPECT_EQ(app::TWQASupportURL(link), qa.path());
  for (const std::string& refused : {outward, qa / "sub/..", std::string("tmp/tidewick-qa-x"), qa / "a-file", qa / "missing"}) {
    EXPECT_FALSE(app::TWQASupportURL(refused).has_value()) << refused;
  }

  auto normal = app::ChooseSupportFolder({}, "");
  EXPECT_EQ(std::tuple(normal.refused, normal.testMode, normal.folder.ends_with("/岚舟")), std::tuple(false, false, true));
  auto test = app::ChooseSupportFolder({"--test-support-dir", qa.path()}, "");
  EXPECT_EQ(std::pair(test.testMode, test.folder), std::pair(true, qa.path()));
  EXPECT_EQ(app::ChooseSupportFolder({}, qa.path()).folder, qa.path());
  EXPECT_EQ(app::ChooseSupportFolder({"--test-support-dir"}, qa.path()).folder, qa.path());
  EXPECT_TRUE(app::ChooseSupportFolder({"--test-support-dir"}, "").refused);
  EXPECT_TRUE(app::ChooseSupportFolder({}, "/home").refused);
}

TEST(ResourceLocation, TheInstalledFolderBesideBinWinsOverTheBuildTreesAndIsTheAnswerWhenNeitherExists) {
  TempFolder root;
  for (const char* folder : {"build/src/shell", "resources", "usr/bin", "usr/share/tidewick", "opt/bin"}) {
    std::filesystem::create_directories(root / folder);
  }
  // A build-folder run: nothing installed beside it, the source tree's resources by their relative path.
  EXPECT_EQ(platform::ResourceDirectoryBeside(root / "build/src/shell", "../../../resources"), root / "resources");
  EXPECT_EQ(platform::ResourceDirectoryBeside(root / "usr/bin", "../../resources"), root / "usr/share/tidewick");
  EXPECT_EQ(platform::ResourceDirectoryBeside(root / "opt/bin", "../missing"), root / "opt/share/tidewick");
}

}  // namespace
}  // namespace tw::testing
