// Project archives: what cleaning removes and bounds, and saving and opening through the headless
// program with the panels a person would answer.
#include "base/files.hpp"
#include "support/shoot_files.hpp"
#include "workbench/project_archive.hpp"
#include "workbench_test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace tw::testing {
namespace {

using workbench::TWProjectClean;
const std::string kProjectFile = "current-project.json";

Json Nested(int levels, Json inner) {
  for (int i = 0; i < levels; ++i) inner = Json{{"n", inner}};
  return inner;
}

TEST(ProjectClean, DepthAndLengthAreBoundedSecretsAddressesAndImagesGoAtAnyDepthOtherValuesStay) {
  Json photo = {{"id", "A"}, {"thumbnail", "file:///t.jpg"}, {"PREVIEW", 3}, {"previewDataURL", "x"},
                {"note", "data:image/png;base64,AAAA"}, {"label", "Data:kept"}, {"rating", 4}};
  Json state = {{"photos", {photo}}, {"settings", Nested(5, {{"apiKey", "sk-1"}, {"Token", "t"}, {"baseURL", "u"},
                                                             {"Authorization", "b"}, {"api_key", 1},
                                                             {"password", "p"}, {"Secret", "s"}, {"keep", true}})}};
  Json cleaned = TWProjectClean({{"format", "tidewick-project"}, {"state", state}, {"token", "T"}});
  EXPECT_EQ(cleaned, (Json{{"format", "tidewick-project"},
                           {"state", {{"photos", {{{"id", "A"}, {"note", ""}, {"label", "Data:kept"}, {"rating", 4}}}},
                                      {"settings", Nested(5, {{"keep", true}})}}}}));
  // Depth and length are bounded.
  EXPECT_EQ(TWProjectClean(Nested(19, 1)), Nested(19, nullptr)) << "a value 19 levels below the top is null";
  EXPECT_EQ(TWProjectClean(Nested(18, 1)), Nested(18, 1));
  EXPECT_EQ(TWProjectClean(Json(std::vector<int>(25000, 7))).size(), 20000u);
}

TEST(ProjectArchiveFile, SavingAndReadingAreBoundedInSizeAndNesting) {
  Json big = {{"format", "tidewick-project"}, {"state", {{"notes", std::string(21 << 20, 'x')}}}};
  EXPECT_EQ(workbench::ArchiveForSaving(big).error, "项目档案超过 20 MB，请缩小项目");
  EXPECT_EQ(workbench::ArchiveForSaving({{"format", "tidewick-project"}, {"state", {{"n", "\xff"}}}}).error,
            "项目档案超过 20 MB，请缩小项目")
      << "text that is not UTF-8 cannot be written";
  TempFolder folder;
  WriteBytes(folder / "big.tideproject", big.dump());
  EXPECT_EQ(workbench::ReadProjectArchive(folder / "big.tideproject").status, "档案超过 20 MB，当前项目未改变");
  WriteBytes(folder / "deep.tideproject", R"({"format":"tidewick-project","state":{"a":)" + std::string(300, '[') +
                                              std::string(300, ']') + "}}");
  EXPECT_EQ(workbench::ReadProjectArchive(folder / "deep.tideproject").status, "不是支持的项目档案，当前项目未改变");
  WriteBytes(folder / "ok.tideproject", R"({"format":"tidewick-project","state":{"photos":[]},"version":3})");
  EXPECT_EQ(workbench::ReadProjectArchive("ok.tideproject").status, "不是支持的项目档案，当前项目未改变")
      << "a relative path is never read";
  EXPECT_EQ(workbench::ReadProjectArchive(folder / "ok.tideproject").archive->at("version"), 3);
}

TEST(ProjectArchiveHeadless, SavedArchiveIsCleanedAndPrettyWhereThePanelSays) {
  HeadlessSandbox sandbox;
  TempFolder target;
  const std::string file = target / "拍摄项目.tideproject";
  Json archive = {{"format", "tidewick-project"}, {"version", 2},
                  {"state", {{"photos", {{{"id", "A"}, {"thumbnail", "data:x"}, {"apiKey", "sk-secret"}}}}}}};
  auto result = RunPage(sandbox, {{{"action", "exportProjectArchive"}, {"archive", archive}}, PanelAnswer(file)});
  EXPECT_EQ(result.Payloads("window.Native.projectArchiveSaved"), One({{"ok", true}}));
  const std::string bytes = ReadBytes(file);
  EXPECT_EQ(ParseJSON(bytes), (Json{{"format", "tidewick-project"}, {"version", 2},
                                    {"state", {{"photos", {{{"id", "A"}}}}}}}));
  EXPECT_NE(bytes.find("\n  \"format\""), std::string::npos) << "pretty-printed";

  std::vector<std::pair<std::vector<Json>, Json>> refused = {
      {{{{"action", "exportProjectArchive"}, {"archive", {{"format", "tidewick-project"}, {"state", {1}}}}}},
       {{"error", "项目格式无效，没有保存"}}},
      {{{{"action", "exportProjectArchive"}, {"archive", {{"format", "other"}, {"state", Json::object()}}}}},
       {{"error", "项目格式无效，没有保存"}}},
      {{{{"action", "exportProjectArchive"}, {"archive", archive}}, kCancelPanel}, {{"cancelled", true}}}};
  for (const auto& [lines, answer] : refused) {
    EXPECT_EQ(RunPage(sandbox, lines).Payloads("window.Native.projectArchiveSaved"), One(answer));
  }
}

TEST(ProjectArchiveHeadless, OpeningABareProjectBacksUpTheCurrentOneAndStoresTheArchive) {
  HeadlessSandbox sandbox;
  TempFolder elsewhere;
  const Json current = {{"photos", {{{"id", "OLD"}}}}};
  ASSERT_EQ(RunPage(sandbox, {{{"action", "saveState"}, {"state", current}}}).lines.size(), 0u);
  const std::string oldBytes = ReadBytes(sandbox.support / kProjectFile);
  WriteBytes(elsewhere / "copy.json", R"({"photos": [{"id": "NEW", "preview": "p", "path": "/p/a.jpg"}]})");

  auto result = RunPage(sandbox, {{{"action", "openProjectArchive"}}, PanelAnswer(elsewhere / "copy.json")});
  const Json state = {{"photos", {{{"id", "NEW"}, {"path", "/p/a.jpg"}}}}};
  EXPECT_EQ(result.Payloads("window.Native.projectArchiveLoaded"),
            One({{"archive", {{"format", "tidewick-project"}, {"version", 1}, {"state", state}}}}));
  std::vector<std::string> backups;
  for (const auto& entry : std::filesystem::directory_iterator(sandbox.support / "ProjectRecords")) {
    backups.push_back(ReadBytes(entry.path()));
  }
  EXPECT_EQ(backups, std::vector<std::string>{oldBytes});
  EXPECT_EQ(ReadBytes(sandbox.support / kProjectFile), state.dump(2));
}

TEST(ProjectArchiveHeadless, WhatIsNotAProjectArchiveLeavesTheCurrentProjectAndTakesNoBackup) {
  HeadlessSandbox sandbox;
  TempFolder elsewhere;
  ASSERT_EQ(RunPage(sandbox, {{{"action", "saveState"}, {"state", {{"photos", Json::array()}}}}}).lines.size(), 0u);
  const std::string before = ReadBytes(sandbox.support / kProjectFile);
  WriteBytes(elsewhere / "notes.txt", "not json at all");
  WriteBytes(elsewhere / "list.json", "[1, 2]");
  WriteBytes(elsewhere / "other.json", R"({"format": "something-else", "state": {}})");
  WriteBytes(elsewhere / "stateless.json", R"({"format": "tidewick-project", "state": [1]})");
  for (const std::string name : {"notes.txt", "list.json", "other.json", "stateless.json", "missing.json", ""}) {
    auto result = RunPage(sandbox, {{{"action", "openProjectArchive"}}, PanelAnswer(elsewhere / name)});
    EXPECT_EQ(result.Payloads("window.Native.status"), One("不是支持的项目档案，当前项目未改变")) << name;
    EXPECT_TRUE(result.Payloads("window.Native.projectArchiveLoaded").empty());
  }
  auto cancelled = RunPage(sandbox, {{{"action", "openProjectArchive"}}, kCancelPanel});
  EXPECT_EQ(cancelled.Payloads("window.Native.projectArchiveLoaded"), One({{"cancelled", true}}));
  EXPECT_EQ(ReadBytes(sandbox.support / kProjectFile), before);
  EXPECT_FALSE(PathExists(sandbox.support / "ProjectRecords"));

  // A good archive when no backup can be made: no switch either.
  WriteBytes(sandbox.support / "ProjectRecords", "a file where the backups' folder belongs");
  WriteBytes(elsewhere / "good.tideproject", R"({"format": "tidewick-project", "state": {"photos": [1]}})");
  auto unsaved = RunPage(sandbox, {{{"action", "openProjectArchive"}}, PanelAnswer(elsewhere / "good.tideproject")});
  EXPECT_EQ(unsaved.Payloads("window.Native.status"), One("当前项目备份失败，已取消切换，原项目保持不变"));
  EXPECT_TRUE(unsaved.Payloads("window.Native.projectArchiveLoaded").empty());
  EXPECT_EQ(ReadBytes(sandbox.support / kProjectFile), before);
}

TEST(ProjectArchiveHeadless, BackupsAreListedNewestFirstAndOneOpensOnlyByItsOwnName) {
  HeadlessSandbox sandbox;
  const std::string records = sandbox.support / "ProjectRecords";
  std::filesystem::create_directories(records);
  WriteBytes(records + "/A.json", R"({"format": "tidewick-page-state", "photos": [{"id": "1"}, {"id": "2"}]})");
  WriteBytes(records + "/B.json", "not a project");
  WriteBytes(records + "/.hidden.json", R"({"photos": []})");
  WriteBytes(records + "/notes.txt", "x");
  std::filesystem::create_directory(records + "/folder.json");
  std::filesystem::last_write_time(records + "/A.json", std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));

  const Json backups =
      RunPage(sandbox, {{{"action", "listProjectBackups"}}}).Payloads("window.Native.projectBackups").at(0)["backups"];
  ASSERT_EQ(backups.size(), 2u);
  EXPECT_EQ(std::tuple(backups[0]["name"], backups[0]["readable"], backups[0]["photos"], backups[1]["name"], backups[1]["photos"]),
            std::tuple(Json("B.json"), Json(false), Json(nullptr), Json("A.json"), Json(2)));
  EXPECT_LT(backups[1]["savedAt"].get<double>(), backups[0]["savedAt"].get<double>());

  ASSERT_EQ(RunPage(sandbox, {{{"action", "saveState"}, {"state", {{"photos", Json::array()}}}}}).lines.size(), 0u);
  const std::string current = ReadBytes(sandbox.support / kProjectFile);
  for (const Json& name : {Json("../current-project.json"), Json(".hidden.json"), Json("folder.json"), Json(7),
                           Json("missing.json")}) {
    auto refused = RunPage(sandbox, {{{"action", "openProjectBackup"}, {"name", name}}});
    EXPECT_EQ(refused.Payloads("window.Native.status"), One("找不到这份备份，当前项目未改变")) << name;
  }
  EXPECT_EQ(RunPage(sandbox, {{{"action", "openProjectBackup"}, {"name", "B.json"}}}).Payloads("window.Native.status"),
            One("不是支持的项目档案，当前项目未改变"));
  EXPECT_EQ(ReadBytes(sandbox.support / kProjectFile), current);

  auto opened = RunPage(sandbox, {{{"action", "openProjectBackup"}, {"name", "A.json"}}});
  EXPECT_EQ(opened.Payloads("window.Native.projectArchiveLoaded").at(0)["archive"]["state"]["photos"].size(), 2u);
  // Going back is itself undoable: the project it replaced is now a backup too.
  EXPECT_EQ(RunPage(sandbox, {{{"action", "listProjectBackups"}}}).Payloads("window.Native.projectBackups")[0]["backups"].size(), 3u);
}

}  // namespace
}  // namespace tw::testing
