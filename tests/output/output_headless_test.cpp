// End to end through `tidewick --headless`: the page's messages and the @panel answers a person
// would give, and what the page receives.
#include "base/files.hpp"
#include "output/export_destination.hpp"
#include "support/shoot_files.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <future>

namespace tw::testing {
namespace {

// The sandbox's data folder doubles as HOME, so files under /tmp share the home's file system and
// the trash is $XDG_DATA_HOME/Trash whatever /tmp is on this machine.
HeadlessOptions OptionsWithHome(const HeadlessSandbox& sandbox) {
  HeadlessOptions options = sandbox.Options();
  options.environment["HOME"] = sandbox.data.path();
  return options;
}

// One page message, with the folder panel answered by `panelFolder` when one is given.
HeadlessResult RunPage(const HeadlessSandbox& sandbox, const Json& message, const std::string& panelFolder = "") {
  std::vector<Json> lines{message};
  if (!panelFolder.empty()) lines.push_back({{"@panel", {{"paths", {panelFolder}}}}});
  HeadlessResult result = RunHeadless(lines, OptionsWithHome(sandbox));
  EXPECT_EQ(result.exitStatus, 0) << result.errorOutput;
  return result;
}

TEST(OutputHeadless, AShootExportedIntoItsOwnFolderKeepsThePhotographersFiles) {
  HeadlessSandbox sandbox;
  TempFolder base;
  const std::string day = output::DatedFolderName(std::time(nullptr));
  const std::string shoot = base / day;
  ASSERT_FALSE(CreateDirectories(shoot));
  std::string raw = CopySample("canon-r6-container-with-preview.CR3", shoot, "IMG_0001.CR3");
  CopySample("orientation-1.jpg", shoot, "IMG_0001.jpg");  // the camera's own JPEG of the shot
  std::string jpeg = CopySample("orientation-2.jpg", shoot, "IMG_0002.jpg");
  WriteBytes(shoot + "/IMG_0002.xmp", "the photographer's own sidecar");
  const FolderSnapshot before(base.path());
  Json photos = Json::array({{{"path", raw}, {"rating", 3}}, {{"path", jpeg}, {"rating", 1}}});

  for (const Json& options : {Json{{"format", "jpeg"}, {"conflict", "replace"}}, Json{{"format", "png"}}}) {
    auto result = RunPage(sandbox, {{"action", "exportAdvanced"}, {"photos", photos}, {"options", options}}, base.path());
    EXPECT_EQ(result.Payloads("window.Native.exportComplete").at(0)["message"], "已导出 2 张") << options;
  }
  // A copy never pairs with a sidecar this export did not write: IMG_0001（1）.xmp belongs to the
  // rendering above.
  auto rated = RunPage(sandbox, {{"action", "exportRatedPhotos"},
                             {"folder", base.path()},
                             {"photos", Json::array({{{"id", 7}, {"path", raw}, {"rating", 4}}})}});
  EXPECT_EQ(rated.Payloads("window.Native.ratingExportComplete").at(0)["outputs"],
            Json::array({{{"id", 7}, {"path", shoot + "/IMG_0001（2）.CR3"}}}));

  EXPECT_EQ(before.Changes({}, day), std::vector<std::string>{});
  EXPECT_EQ(Names(shoot), (std::vector<std::string>{
                              "IMG_0001.CR3", "IMG_0001.jpg", "IMG_0001.png", "IMG_0001.xmp", "IMG_0001（1）.jpg",
                              "IMG_0001（1）.xmp", "IMG_0001（2）.CR3", "IMG_0001（2）.xmp", "IMG_0002.jpg",
                              "IMG_0002.xmp", "IMG_0002（1）.jpg", "IMG_0002（1）.xmp", "IMG_0002（2）.png",
                              "IMG_0002（2）.xmp"}));
  EXPECT_EQ(Exiv2Value(shoot + "/IMG_0001（2）.xmp", "Xmp.xmp.Rating"), "4");
}

TEST(OutputHeadless, TheShotsOneSidecarCarriesItsHighestRating) {
  HeadlessSandbox sandbox;
  TempFolder shoot, rated, advanced;
  Json photos = Json::array();
  for (auto [name, rating, status] :
       {std::tuple{"IMG_0003.CR3", 2, "待定"}, {"IMG_0003.JPG", 5, "保留"}, {"IMG_0003.jpeg", 3, "淘汰"}}) {
    std::string path = CopySample("orientation-3.jpg", shoot.path(), name);
    photos.push_back({{"id", name}, {"path", path}, {"rating", rating}, {"status", status}});
  }
  const FolderSnapshot before(shoot.path());
  RunPage(sandbox, {{"action", "exportRatedPhotos"}, {"folder", rated.path()}, {"photos", photos}});
  RunPage(sandbox, {{"action", "exportAdvanced"}, {"photos", photos}}, advanced.path());
  const std::string day = output::DatedFolderName(std::time(nullptr));
  for (const std::string& folder : {rated / day, advanced / day}) {
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"IMG_0003.CR3", "IMG_0003.JPG", "IMG_0003.jpeg", "IMG_0003.xmp"}));
    EXPECT_EQ(Exiv2Value(folder + "/IMG_0003.xmp", "Xmp.xmp.Rating"), "5") << folder;
  }
  EXPECT_EQ(Exiv2Value(advanced / day + "/IMG_0003.xmp", "Xmp.xmp.Label"), "保留");
  EXPECT_EQ(before.Changes(), std::vector<std::string>{});
}

TEST(OutputHeadless, TrashMovesOnlyPhotoFilesAPhotoRecordCanName) {
  HeadlessSandbox sandbox;
  TempFolder shoot;
  std::string photo = CopySample("orientation-1.jpg", shoot.path(), "REJECT.jpg");
  std::string relative = std::filesystem::relative(CopySample("orientation-2.jpg", shoot.path(), "REL.jpg")).string();
  WriteBytes(shoot / "notes.txt", "the photographer's notes");
  ASSERT_FALSE(CreateDirectories(shoot / "SUBFOLDER.jpg"));
  WriteBytes(shoot / "SUBFOLDER.jpg/inside.jpg", "kept");
  const FolderSnapshot before(shoot.path());
  Json photos = Json::array({{{"id", "OK"}, {"path", photo}},
                             {{"id", "DIR"}, {"path", shoot / "SUBFOLDER.jpg"}},
                             {{"id", "TEXT"}, {"path", shoot / "notes.txt"}},
                             {{"id", "REL"}, {"path", relative}},
                             {{"id", "GONE"}, {"path", shoot / "gone.jpg"}}});
  auto result = RunPage(sandbox, {{"action", "trashPhotos"}, {"photos", photos}});
  EXPECT_EQ(result.Payloads("window.Native.trashComplete"),
            (std::vector<Json>{{{"token", ""},
                                {"removedIDs", {"OK"}},
                                {"message", "已移动 1 张，另有文件无法移动：3 个条目不是可移动的照片文件"}}}));
  EXPECT_EQ(before.Changes({"REJECT.jpg"}), std::vector<std::string>{});
  EXPECT_FALSE(Exists(photo));
}

// A photo replaced by a pipe after the scan: opening it for reading would wait for a writer forever
// and hold the export (and the rated exports queued after it). The wait here is bounded: past it
// the test fails and gives the pipe's readers an end of file so the program can finish.
TEST(OutputHeadless, APipeWhereAPhotoWasFailsThatPhotoAndNothingWaits) {
  HeadlessSandbox sandbox;
  TempFolder shoot, rated, advanced;
  std::string photo = CopySample("orientation-1.jpg", shoot.path(), "A.jpg");
  const std::string pipe = shoot / "B.jpg";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  Json photos =
      Json::array({{{"id", 1}, {"path", photo}, {"status", "待定"}}, {{"id", 2}, {"path", pipe}, {"status", "保留"}}});
  const FolderSnapshot before(shoot.path());
  auto run = std::async(std::launch::async, [&] {
    return RunHeadless(std::vector<Json>{{{"action", "exportRatedPhotos"}, {"folder", rated.path()}, {"photos", photos}},
                                         {{"action", "exportAdvanced"},
                                          {"photos", photos},
                                          {"options", {{"format", "jpeg"}, {"organize", true}}}},
                                         {{"@panel", {{"paths", {advanced.path()}}}}}},
                       OptionsWithHome(sandbox));
  });
  if (run.wait_for(std::chrono::seconds(60)) == std::future_status::timeout) {
    ADD_FAILURE() << "an export waited on the pipe";
    while (run.wait_for(std::chrono::milliseconds(50)) == std::future_status::timeout) {
      close(open(pipe.c_str(), O_WRONLY | O_NONBLOCK));
    }
  }
  HeadlessResult result = run.get();
  const std::string day = output::DatedFolderName(std::time(nullptr));
  Json answer = result.Payloads("window.Native.ratingExportComplete").at(0);
  EXPECT_EQ(answer["outputs"], Json::array({{{"id", 1}, {"path", rated / day + "/A.jpg"}}}));
  EXPECT_EQ(answer["errors"], Json::array({{{"id", 2}, {"error", "原文件不可访问"}}}));
  EXPECT_EQ(result.Payloads("window.Native.exportComplete").at(0)["message"], "已导出 1 张，失败 1 张");
  EXPECT_EQ(Names(advanced / day), std::vector<std::string>{"待定"}) << "no empty decision folder is left";
  EXPECT_EQ(before.Changes(), std::vector<std::string>{});
}

}  // namespace
}  // namespace tw::testing
