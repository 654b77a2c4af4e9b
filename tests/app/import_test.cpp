// Folder and file import: which files become records, their order, thumbnails, backups and progress.
#include "base/files.hpp"
#include "library/imaging/decoding.hpp"
#include "support/controller_fixture.hpp"
#include "support/shoot_files.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>

namespace tw::testing {
namespace {

namespace fs = std::filesystem;

class ImportTest : public ControllerTest {
 protected:
  void Copy(const std::string& sample, const std::string& to) {
    fs::create_directories(fs::path(to).parent_path());
    fs::copy_file(kSamplePhotos + sample, to, fs::copy_options::overwrite_existing);
  }
  Json LastScan() {
    auto scans = Payloads("window.Native.receiveScan");
    return scans.empty() ? Json() : scans.back();
  }
  std::vector<std::string> Names(const Json& scan) {
    std::vector<std::string> names;
    for (const auto& photo : scan["photos"]) names.push_back(photo["name"]);
    return names;
  }
  TempFolder shoot_;
};

TEST_F(ImportTest, KeepsCr3AndJpegFilesAsSeparateRecordsWithThumbnailsReusedOnReimportAndNoneForBrokenFiles) {
  Copy("canon-r6-container-with-preview.CR3", shoot_ / "A.CR3");
  Copy("orientation-1.jpg", shoot_ / "A.JPG");
  Copy("flower.webp", shoot_ / "b.jpeg");
  Copy("coffee.png", shoot_ / "c.png");
  for (const char* name : {"A.CR3", "A.JPG", "b.jpeg"}) SetModified(shoot_ / name, 1700000000);

  Send({{"action", "scanPath"}, {"path", shoot_.path()}});
  EXPECT_TRUE(Payloads("window.Native.scanProgress").empty() && Payloads("window.Native.scanRecords").empty())
      << "a page that never asked defines no scanProgress";
  Json first = LastScan();
  EXPECT_EQ(std::tuple(first["folder"], first["source"], first["skipped"]), std::tuple(Json(shoot_.path()), Json("folder"), Json(0)));
  EXPECT_EQ(Names(first), (std::vector<std::string>{"A.CR3", "A.JPG", "b.jpeg"}));
  Json record = first["photos"][1];
  EXPECT_TRUE(std::regex_match(record["date"].get<std::string>(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")));
  EXPECT_EQ(record, (Json{{"id", record["id"]}, {"name", "A.JPG"}, {"path", shoot_ / "A.JPG"}, {"format", "JPG"},
                          {"size", fs::file_size(shoot_ / "A.JPG")}, {"date", record["date"]}, {"thumbnail", record["thumbnail"]}}));
  EXPECT_EQ(std::pair(first["photos"][0]["format"], first["photos"][2]["format"]), std::pair(Json("CR3"), Json("JPG")));
  auto image = imaging::CreateThumbnail(*PathFromFileURL(first["photos"][0]["thumbnail"]), 10000);
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(std::max(image->width(), image->height()), 640) << "the CR3's embedded picture";

  // Imported again: new ids, no thumbnail made again.
  const auto thumbnails = [&] {
    std::map<std::string, fs::file_time_type> made;
    for (auto& entry : fs::directory_iterator(support_ / "ThumbnailCache")) made[entry.path()] = entry.last_write_time();
    return made;
  };
  const auto made = thumbnails();
  EXPECT_EQ(made.size(), 3u);
  Send({{"action", "scanPath"}, {"path", shoot_.path()}});
  Json second = LastScan();
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_NE(first["photos"][i]["id"], second["photos"][i]["id"]);
    EXPECT_EQ(first["photos"][i]["thumbnail"], second["photos"][i]["thumbnail"]);
  }
  EXPECT_EQ(thumbnails(), made);
  // A changed file gets a thumbnail of its own; a broken file becomes a record without one.
  SetModified(shoot_ / "A.JPG", 1500000000);
  std::ofstream(shoot_ / "empty.jpg");
  Send({{"action", "scanPath"}, {"path", shoot_.path()}});
  const Json third = LastScan()["photos"];  // by date: A.JPG is now the oldest, empty.jpg the newest
  ASSERT_EQ(Names(LastScan()), (std::vector<std::string>{"A.JPG", "A.CR3", "b.jpeg", "empty.jpg"}));
  EXPECT_NE(third[0]["thumbnail"], record["thumbnail"]);
  EXPECT_FALSE(PathExists(*PathFromFileURL(third[3]["thumbnail"])));
}

TEST_F(ImportTest, FindsSubfoldersButNotHiddenNamesOrNamesThatAreNotUTF8AndSortsByDateThenByNameWithNumbersByValue) {
  // Latin-1 "café" and "cafè" would both reach the page as "caf\uFFFD.jpg": they are left out, counted and reported.
  for (const char* name : {"day1/.IMG_2.jpg", ".trash/IMG_3.jpg", "day2/deeper/IMG_4.JPEG", "IMG_10.jpg", "b.jpg",
                           "IMG_2.jpg", "a.jpg", "IMG_1.jpg", "A.JPG", "early.jpg", "caf\xE9.jpg", "caf\xE8.jpg"}) {
    Copy("orientation-1.jpg", shoot_ / name);
    SetModified(shoot_ / name, 1700000500);
  }
  SetModified(shoot_ / "early.jpg", 1600000000);
  SetModified(shoot_ / "day2/deeper/IMG_4.JPEG", 1800000000);
  fs::create_directories(shoot_ / "folder.jpg");
  Send({{"action", "scanPath"}, {"path", shoot_.path()}});
  EXPECT_EQ(Names(LastScan()), (std::vector<std::string>{"early.jpg", "A.JPG", "a.jpg", "b.jpg", "IMG_1.jpg",
                                                         "IMG_2.jpg", "IMG_10.jpg", "IMG_4.JPEG"}));
  EXPECT_EQ(LastScan()["skipped"], 3) << "a directory named like a photo and the two names";
  const Json notice = {{"fn", "window.Native.status"}, {"arg", "有 2 个文件名不是 UTF-8 编码，已跳过"}};
  EXPECT_EQ(lines_.back(), notice) << "after the scan is published";
  for (const auto& name : testing::Names(shoot_.path())) {
    if (!name.starts_with("caf")) fs::remove_all(shoot_ / name);
  }
  ClearOutput();
  Send({{"action", "scanPath"}, {"path", shoot_.path()}});
  EXPECT_EQ(lines_.back(), notice) << "after the nothing-to-import status";
  EXPECT_EQ(Payloads("window.Native.status").size(), 3u);
}

TEST_F(ImportTest, PathsAreNormalisedASelectionNamingAFileTwiceGivesOneRecordAndANewerImportSilencesTheRunningOne) {
  Copy("orientation-1.jpg", shoot_ / "day1/IMG_1.jpg");
  Send({{"action", "scanPath"}, {"path", shoot_ / "./day1/../day1//"}});
  EXPECT_EQ(std::pair(LastScan()["folder"], app_->selectedFolder.value_or("")), std::pair(Json(shoot_ / "day1"), shoot_ / "day1"));
  // A named file that is not there is skipped.
  queues::Main([&] {
    app_->scanPhotos({shoot_ / "day1/IMG_1.jpg", shoot_ / "day1/../day1/IMG_1.jpg", shoot_ / "missing.jpg"}, std::nullopt);
  });
  RunUntilQuiet();
  Json scan = LastScan();
  EXPECT_EQ(std::tuple(scan["source"], scan["folder"], scan["skipped"]), std::tuple(Json("files"), Json(""), Json(1)));
  EXPECT_EQ(Names(scan), std::vector<std::string>{"IMG_1.jpg"});
  EXPECT_EQ(app_->selectedFolder, shoot_ / "day1");

  // A newer import silences the running one.
  Copy("orientation-2.jpg", shoot_ / "day2/second.jpg");
  ClearOutput();
  queues::Main([&] {
    app_->scanFolder(shoot_ / "day1");
    app_->scanFolder(shoot_ / "day2");
  });
  RunUntilQuiet();
  ASSERT_EQ(Payloads("window.Native.receiveScan").size(), 1u);
  EXPECT_EQ(Names(LastScan()), std::vector<std::string>{"second.jpg"});
}

TEST_F(ImportTest, PhotosOpenedFromTheFileManagerAreImportedOnlyOnThePagesYesToTheNewestRequest) {
  Copy("orientation-1.jpg", shoot_ / "IMG 1.jpg");
  Send({{"action", "ready"}});
  for (int i = 0; i < 2; ++i) queues::Main([&] { app_->openURLs({"file://" + shoot_ / "IMG%201.jpg"}); });
  RunUntilQuiet();
  auto asked = Payloads("window.Native.openPhotosRequested");
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1], (Json{{"token", asked[1]["token"]}, {"count", 1}, {"names", Json::array({"IMG 1.jpg"})}}));
  for (const Json& token : {asked[0]["token"], Json("")}) {
    Send({{"action", "importRequestedPhotos"}, {"token", token}, {"paths", Json::array({shoot_ / "IMG 1.jpg"})}});
  }
  EXPECT_TRUE(Payloads("window.Native.receiveScan").empty()) << "nothing before the newest request's yes";
  for (int i = 0; i < 2; ++i) Send({{"action", "importRequestedPhotos"}, {"token", asked[1]["token"]}});
  ASSERT_EQ(Payloads("window.Native.receiveScan").size(), 1u) << "a request is taken once";
  EXPECT_EQ(Names(LastScan()), std::vector<std::string>{"IMG 1.jpg"});
}

TEST_F(ImportTest, TheStoredProjectIsBackedUpBeforePublishingAndAFailedBackupHoldsTheImportBack) {
  Copy("coffee.png", shoot_ / "c.png");
  // Nothing importable (the working folder is not the user's choice), or no stored project: nothing to back up.
  Send({{"action", "scanPath"}, {"path", shoot_.path()}});
  Copy("orientation-1.jpg", shoot_ / "IMG_1.jpg");
  Send({{"action", "scanPath"}, {"path", fs::relative(shoot_.path(), fs::current_path()).string()}});
  EXPECT_TRUE(Payloads("window.Native.receiveScan").empty());
  std::vector<Json> statuses;
  for (int i = 0; i < 2; ++i) statuses.insert(statuses.end(), {"正在读取文件信息…", "没有可导入的 CR3/JPG 照片，当前项目保持不变"});
  EXPECT_EQ(Payloads("window.Native.status"), statuses);
  Send({{"action", "scanPath"}, {"path", shoot_.path()}});
  EXPECT_FALSE(PathExists(support_ / "ProjectRecords"));

  Send({{"action", "saveState"}, {"state", {{"photos", Json::array({{{"id", "old"}}})}}}});
  std::string stored = *ReadWholeFile(support_ / "current-project.json");
  Send({{"action", "scanPath"}, {"path", shoot_.path()}});
  EXPECT_EQ(Payloads("window.Native.receiveScan").size(), 2u);
  const std::vector<std::string> backups = testing::Names(support_ / "ProjectRecords");
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_TRUE(std::regex_match(backups[0], std::regex(R"(\d{10}-[0-9A-F-]{36}\.json)")));
  EXPECT_EQ(*ReadWholeFile(support_ / ("ProjectRecords/" + backups[0])), stored);

  fs::remove_all(support_ / "ProjectRecords");
  std::ofstream(support_ / "ProjectRecords") << "a file where the folder should be";
  Send({{"action", "scanPath"}, {"path", shoot_.path()}});
  EXPECT_EQ(Payloads("window.Native.receiveScan").size(), 2u);
  EXPECT_EQ(Payloads("window.Native.status").back(), "旧项目记录保存失败，已暂停导入；当前项目保持不变");
  EXPECT_EQ(app_->selectedFolder, shoot_.path());
}

using ScanProgressTest = ImportTest;

TEST_F(ScanProgressTest, CountsUpToTheWholeImportBeforeItIsReceived) {
  constexpr long kPhotoCount = 60;
  for (long i = 0; i < kPhotoCount; ++i) Copy("canon-t6-coins-2000x1072.jpg", shoot_ / ("IMG_" + std::to_string(1000 + i) + ".jpg"));
  Copy("coffee.png", shoot_ / "not-imported.png");
  Send({{"action", "watchScanProgress"}, {"enabled", true}});
  const auto start = std::chrono::steady_clock::now();
  Send({{"action", "scanPath"}, {"path", shoot_.path()}});
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  EXPECT_EQ(lines_.back().value("fn", ""), "window.Native.receiveScan") << "every progress comes first";
  auto progress = Payloads("window.Native.scanProgress");
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), (Json{{"found", kPhotoCount}, {"thumbnails", kPhotoCount}, {"total", kPhotoCount}}));
  for (size_t i = 0; i < progress.size(); ++i) {
    // While the folder is searched the total is not known yet; the png is never counted.
    EXPECT_LE(progress[i]["found"], kPhotoCount);
    EXPECT_TRUE(progress[i]["total"] == 0 || progress[i]["total"] == kPhotoCount) << progress[i];
    if (i > 0) EXPECT_GE(progress[i]["thumbnails"], progress[i - 1]["thumbnails"]);
  }
  // Two forced ones (first and full) besides those the interval allows.
  EXPECT_LE(progress.size(), 2 + static_cast<size_t>(seconds / 0.1) + 1) << seconds << " s";

  // Records come in batches as their thumbnails are made, each once, each the very record received.
  auto batches = Payloads("window.Native.scanRecords");
  ASSERT_FALSE(batches.empty());
  EXPECT_LE(batches.size(), 1 + static_cast<size_t>(seconds / 0.15) + 1) << seconds << " s";
  std::multiset<Json> told;
  for (const Json& batch : batches) {
    EXPECT_EQ(batch["token"], batches[0]["token"]);
    told.insert(batch["photos"].begin(), batch["photos"].end());
  }
  const Json received = Payloads("window.Native.receiveScan").back()["photos"];
  const std::multiset<Json> records(received.begin(), received.end());
  EXPECT_TRUE(std::includes(records.begin(), records.end(), told.begin(), told.end()));

  // Again with every thumbnail cached: full as soon as the total is known.
  ClearOutput();
  Send({{"action", "scanPath"}, {"path", shoot_.path()}});
  for (const Json& told : Payloads("window.Native.scanProgress")) {
    if (told["total"] != 0) EXPECT_EQ(told["thumbnails"], kPhotoCount);
  }
  EXPECT_TRUE(Payloads("window.Native.scanRecords").empty()) << "the scan itself follows at once";
}

}  // namespace
}  // namespace tw::testing
