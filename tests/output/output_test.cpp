// The destination name rule shared by both exports, the rated and advanced exports, the review manifest
// and the trash, in-process and through `tidewick --headless`; HOME points into a private folder (see main).
#include "base/files.hpp"
#include "library/imaging/decoding.hpp"
#include "output/export_destination.hpp"
#include "output/paired_names.hpp"
#include "output/review_manifest.hpp"
#include "output/staged_file.hpp"
#include "support/controller_fixture.hpp"
#include "support/shoot_files.hpp"

#include <exiv2/exiv2.hpp>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <future>
#include <map>
#include <regex>

namespace tw::testing {
namespace {

using output::ConflictMode;
using output::ExportDestination;
using output::PlaceResult;
using output::StagedFile;

TEST(DestinationRule, FreeNamesAreUsedTakenOnesSkippedKeptForReplacingOrNumbered) {
  TempFolder folder;
  bool skipped = false;
  EXPECT_EQ(ExportDestination(folder.path(), "IMG_0001.CR3", ConflictMode::Skip, &skipped), folder / "IMG_0001.CR3");
  EXPECT_FALSE(skipped);
  WriteBytes(folder / "IMG_0001.CR3", "earlier");
  WriteBytes(folder / "IMG_0001（1）.CR3", "earlier too");
  WriteBytes(folder / "README", "no extension");
  ASSERT_EQ(symlink("/nonexistent/target", (folder / "A.jpg").c_str()), 0);  // a dangling link holds its name

  EXPECT_EQ(ExportDestination(folder.path(), "IMG_0001.CR3", ConflictMode::Skip, &skipped), std::nullopt);
  EXPECT_TRUE(skipped);
  EXPECT_EQ(ExportDestination(folder.path(), "IMG_0001.CR3", ConflictMode::Replace), folder / "IMG_0001.CR3");
  EXPECT_EQ(ExportDestination(folder.path(), "IMG_0001.CR3", ConflictMode::Rename), folder / "IMG_0001（2）.CR3");
  EXPECT_EQ(ExportDestination(folder.path(), "README", ConflictMode::Rename), folder / "README（1）");
  EXPECT_EQ(ExportDestination(folder.path(), "A.jpg", ConflictMode::Rename), folder / "A（1）.jpg");
  // Names split at their last dot.
  EXPECT_EQ(output::SplitName("a.tar.gz").stem + "|" + output::SplitName("a.tar.gz").extension, "a.tar|gz");
  EXPECT_EQ(output::SplitName(".hidden").stem, ".hidden");
}

TEST(DestinationRule, AfterNineThousandNineHundredNinetyNineNumbersAUUIDIsUsed) {
  TempFolder folder;
  WriteBytes(folder / "A.jpg", "");
  for (int n = 1; n <= 9999; ++n) {
    close(open((folder / ("A（" + std::to_string(n) + "）.jpg")).c_str(), O_CREAT | O_WRONLY, 0644));
  }
  std::string name = LastPathComponent(*ExportDestination(folder.path(), "A.jpg", ConflictMode::Rename));
  EXPECT_TRUE(std::regex_match(name, std::regex("A-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.jpg")))
      << name;
}

// How both exports place a finished file: the pairing of file and sidecar names, here for a source
// that is not there (so nothing is protected).
PlaceResult PlaceByRule(StagedFile& file, const std::string& folder, const std::string& name, ConflictMode mode,
                        const std::string& source = "/nonexistent/source.jpg") {
  return output::ExportPairing({source}, mode).Place(file, folder, name, source, {}).file;
}

// Every case runs with an unnamed file and with the hidden named file of FAT-like file systems.
class StagedFileTest : public ::testing::TestWithParam<StagedFile::Naming> {
 protected:
  TempFolder folder_;
  StagedFile::Naming naming_ = GetParam();
};

TEST_P(StagedFileTest, NothingGoesOverATakenNameTheSourceAFolderTheUsersSidecarOrAnEarlierFileAndCopiesKeepTheirSource) {
  const auto staged = [this](const std::string& bytes) {
    auto file = std::make_unique<StagedFile>(folder_.path(), naming_);
    EXPECT_FALSE(file->Write(bytes));
    return file;
  };
  // Another export takes the free name between the check and the write; skipping leaves it alone.
  std::string chosen = *ExportDestination(folder_.path(), "IMG.jpg", ConflictMode::Rename);
  WriteBytes(chosen, "the other export's file");
  PlaceResult placed = PlaceByRule(*staged("ours"), folder_.path(), "IMG.jpg", ConflictMode::Rename);
  ASSERT_EQ(placed.outcome, PlaceResult::Outcome::Placed) << placed.error;
  EXPECT_EQ(placed.path, folder_ / "IMG（1）.jpg");
  EXPECT_EQ(ReadBytes(placed.path), "ours");
  EXPECT_EQ(PlaceByRule(*staged("ours too"), folder_.path(), "IMG.jpg", ConflictMode::Skip).outcome, PlaceResult::Outcome::Skipped);
  EXPECT_EQ(ReadBytes(chosen), "the other export's file");

  // Replace swaps in the finished file, but never over the photo being exported (a folder into itself).
  WriteBytes(folder_ / "OLD.jpg", "earlier export");
  placed = PlaceByRule(*staged("new rendering"), folder_.path(), "OLD.jpg", ConflictMode::Replace);
  EXPECT_EQ(std::pair(placed.outcome, placed.path), std::pair(PlaceResult::Outcome::Placed, folder_ / "OLD.jpg"));
  EXPECT_EQ(ReadBytes(folder_ / "OLD.jpg"), "new rendering");
  WriteBytes(folder_ / "SRC.jpg", "the photographer's original");
  placed = PlaceByRule(*staged("rendering of SRC"), folder_.path(), "SRC.jpg", ConflictMode::Replace, folder_ / "SRC.jpg");
  EXPECT_EQ(std::pair(placed.outcome, placed.path), std::pair(PlaceResult::Outcome::Placed, folder_ / "SRC（1）.jpg"));
  EXPECT_EQ(ReadBytes(folder_ / "SRC.jpg"), "the photographer's original");

  // A folder, the user's own sidecar and a directory as copy source.
  ASSERT_FALSE(CreateDirectories(folder_ / "DIR.jpg"));
  WriteBytes(folder_ / "DIR.jpg/inside.jpg", "kept");
  WriteBytes(folder_ / "USER.xmp", "the user's own sidecar");
  EXPECT_EQ(PlaceByRule(*staged("x"), folder_.path(), "DIR.jpg", ConflictMode::Replace).outcome, PlaceResult::Outcome::Failed);
  EXPECT_EQ(staged("ours")->PlaceExactly(folder_ / "USER.xmp").outcome, PlaceResult::Outcome::Skipped);
  {
    StagedFile copy(folder_.path(), naming_);
    EXPECT_TRUE(copy.CopyFrom(ReadableFile::Open(folder_.path())).has_value());
    EXPECT_EQ(PlaceByRule(copy, folder_.path(), "X", ConflictMode::Rename).outcome, PlaceResult::Outcome::Failed);
  }

  // A write that fails on a full disk, replacing or not.
  {
    FileSizeLimit limit(64 * 1024);
    const std::string big(256 * 1024, 'x');
    StagedFile replacing(folder_.path(), naming_), fresh(folder_.path(), naming_);
    EXPECT_TRUE(replacing.Write(big).has_value());
    EXPECT_EQ(PlaceByRule(replacing, folder_.path(), "OLD.jpg", ConflictMode::Replace).outcome, PlaceResult::Outcome::Failed);
    EXPECT_TRUE(fresh.Write(big).has_value());
    EXPECT_EQ(PlaceByRule(fresh, folder_.path(), "NEW.jpg", ConflictMode::Rename).outcome, PlaceResult::Outcome::Failed);
  }
  EXPECT_EQ(ReadBytes(folder_ / "OLD.jpg"), "new rendering");

  // A copy keeps the source's bytes, permissions and modification time.
  std::string source = CopySample("orientation-6.jpg", folder_.path(), "SOURCE.jpg");
  ASSERT_EQ(chmod(source.c_str(), 0640), 0);
  StagedFile copy(folder_.path(), naming_);
  ASSERT_FALSE(copy.CopyFrom(ReadableFile::Open(source)));
  placed = PlaceByRule(copy, folder_.path(), "COPY.jpg", ConflictMode::Rename);
  EXPECT_EQ(ReadBytes(placed.path), ReadBytes(source));
  EXPECT_EQ(std::filesystem::status(placed.path).permissions(), std::filesystem::perms(0640));
  EXPECT_TRUE(SameTime(StatPath(source).modified, StatPath(placed.path).modified));
  // Nothing but the named files: no temporary file is ever left behind.
  EXPECT_EQ(Names(folder_.path()), (std::vector<std::string>{"COPY.jpg", "DIR.jpg", "IMG.jpg", "IMG（1）.jpg", "OLD.jpg",
                                                             "SOURCE.jpg", "SRC.jpg", "SRC（1）.jpg", "USER.xmp"}));
}

TEST(ExclusivePlacement, EveryMethodRefusesATakenNameAndPlacesAFreeOne) {
  using output::ExclusiveMethod;
  for (auto method : {ExclusiveMethod::HardLink, ExclusiveMethod::RenameNoReplace, ExclusiveMethod::Copy}) {
    TempFolder folder;
    const std::string temporary = folder / ".staged";
    WriteBytes(temporary, "finished bytes");
    timespec old[2] = {{1500000000, 0}, {1500000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, temporary.c_str(), old, 0), 0);
    WriteBytes(folder / "TAKEN.jpg", "someone else's");

    EXPECT_EQ(output::PlaceExclusively(temporary, folder / "TAKEN.jpg", method), EEXIST);
    EXPECT_EQ(ReadBytes(folder / "TAKEN.jpg"), "someone else's");
    ASSERT_EQ(output::PlaceExclusively(temporary, folder / "FREE.jpg", method), 0);
    EXPECT_EQ(ReadBytes(folder / "FREE.jpg"), "finished bytes");
    EXPECT_EQ(StatPath(folder / "FREE.jpg").modified.tv_sec, 1500000000);
    EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"FREE.jpg", "TAKEN.jpg"}));
  }
  // A copy that fails removes what it started.
  TempFolder folder;
  WriteBytes(folder / ".staged", std::string(256 * 1024, 'x'));
  {
    FileSizeLimit limit(64 * 1024);
    EXPECT_EQ(output::PlaceExclusively(folder / ".staged", folder / "OUT.jpg", ExclusiveMethod::Copy), EFBIG);
  }
  EXPECT_EQ(Names(folder.path()), std::vector<std::string>{".staged"});
}

TEST(PairedNames, ASidecarNameTakenBeforeTheSidecarIsLostNotOverwritten) {
  TempFolder folder;
  output::ExportPairing pairing({"/shoot/IMG.CR3", "/shoot/IMG.JPG"}, ConflictMode::Rename);
  output::SidecarWriter writer;
  StagedFile raw(folder.path()), jpeg(folder.path());
  ASSERT_FALSE(raw.Write("raw") || jpeg.Write("jpeg"));
  auto first = pairing.Place(raw, folder.path(), "IMG.CR3", "/shoot/IMG.CR3", {1, "one star"});
  WriteBytes(folder / "IMG.xmp", "appeared meanwhile");
  writer.Write(first.sidecar.value());
  // The JPEG of the shot raises the rating of the pair's sidecar, which is not ours any more.
  auto second = pairing.Place(jpeg, folder.path(), "IMG.JPG", "/shoot/IMG.JPG", {5, "five stars"});
  writer.Write(second.sidecar.value());
  EXPECT_EQ(ReadBytes(folder / "IMG.xmp"), "appeared meanwhile");
  EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"IMG.CR3", "IMG.JPG", "IMG.xmp"}));
}

INSTANTIATE_TEST_SUITE_P(Namings, StagedFileTest,
                         ::testing::Values(StagedFile::Naming::UnnamedWhereAvailable, StagedFile::Naming::HiddenName),
                         [](const auto& info) { return std::string(info.index == 0 ? "Unnamed" : "HiddenName"); });

// An export's sidecar; the advanced export's carries the label too.
std::string Sidecar(const std::string& rating, const std::string& label = "") {
  return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
         "<rdf:Description xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"" + rating + "\"" +
         (label.empty() ? "" : " xmp:Label=\"" + label + "\"") + "/></rdf:RDF></x:xmpmeta>";
}

// The coded picture from its first quantisation table on; what precedes it is the photo's metadata.
std::string PictureData(const std::string& jpeg) {
  const size_t tables = jpeg.find("\xFF\xDB");
  return tables == std::string::npos ? jpeg : jpeg.substr(tables);
}

class ExportTest : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    cr3_ = CopySample("canon-r6-container-with-preview.CR3", shoot_.path(), "IMG_0001.CR3");
    jpg_ = CopySample("canon-t6-coins-2000x1072.jpg", shoot_.path(), "IMG_0001.JPG");
    small_ = CopySample("orientation-1.jpg", shoot_.path(), "SMALL.jpg");
    corrupt_ = CopySample("canon-m50-stub-corrupt.cr3", shoot_.path(), "BROKEN.cr3");
    sources_.emplace(shoot_.path());
  }
  void TearDown() override {
    ControllerTest::TearDown();
    EXPECT_EQ(sources_->Changes(), std::vector<std::string>{}) << "a file of the shoot changed";
  }

  Json ExportRated(const Json& photos, const std::string& folder, const std::string& token = "T") {
    Send({{"action", "exportRatedPhotos"}, {"token", token}, {"photos", photos}, {"folder", folder}});
    auto answers = Payloads("window.Native.ratingExportComplete");
    return answers.empty() ? Json() : answers.back();
  }
  Json ExportAdvanced(const Json& photos, const Json& options, const std::string& folder, const char* action = "exportAdvanced") {
    platform_->QueuePanelAnswer(std::vector<std::string>{folder});
    Json body = {{"action", action}, {"photos", photos}};
    if (!options.is_null()) body["options"] = options;
    Send(body);
    auto answers = Payloads("window.Native.exportComplete");
    return answers.empty() ? Json() : answers.back();
  }
  std::string TrashablePhoto(const std::string& name) { return CopySample("orientation-1.jpg", shoot_.path(), name); }
  // Sends the message; nothing in the shoot may change but the files meant to move.
  void Trash(const Json& body, const std::set<std::string>& moving = {}) {
    FolderSnapshot before(shoot_.path());
    Send(body);
    EXPECT_EQ(before.Changes(moving), std::vector<std::string>{}) << "a file not meant to move changed";
    sources_.emplace(shoot_.path());
  }
  std::string Dated(const std::string& folder) const { return folder + "/" + output::DatedFolderName(std::time(nullptr)); }
  std::string Today() const { return Dated(exports_.path()); }

  TempFolder shoot_;
  TempFolder exports_;
  std::string cr3_, jpg_, small_, corrupt_;
  std::optional<FolderSnapshot> sources_;
};

using RatedExportTest = ExportTest;
using AdvancedExportTest = ExportTest;
using ReviewManifestTest = ExportTest;
using TrashTest = ExportTest;

// Each sidecar carries the rating as a whole number, no rating as 0.
TEST_F(RatedExportTest, ExportingTwiceOnOneDayGivesNumberedCopiesEachWithItsSidecar) {
  Json first = ExportRated(
      Json::array({{{"id", "P1"}, {"path", cr3_}, {"rating", 4.7}}, {{"id", "C"}, {"path", small_}, {"rating", "3"}}}),
      exports_.path(), "T1");
  Json second = ExportRated(Json::array({{{"id", "P1"}, {"path", cr3_}, {"rating", nullptr}}}), exports_.path(), "T2");
  const std::string dated = Today();
  EXPECT_EQ(first, (Json{{"token", "T1"},
                         {"outputs", {{{"id", "P1"}, {"path", dated + "/IMG_0001.CR3"}},
                                      {{"id", "C"}, {"path", dated + "/SMALL.jpg"}}}},
                         {"errors", Json::array()}, {"folder", dated}, {"baseFolder", exports_.path()},
                         {"message", "已导出 2 张原片"}}));
  EXPECT_EQ(std::pair(second["token"], second["outputs"]),
            std::pair(Json("T2"), Json::array({{{"id", "P1"}, {"path", dated + "/IMG_0001（1）.CR3"}}})));
  EXPECT_EQ(Names(dated), (std::vector<std::string>{"IMG_0001.CR3", "IMG_0001.xmp", "IMG_0001（1）.CR3", "IMG_0001（1）.xmp",
                                                    "SMALL.jpg", "SMALL.xmp"}));
  for (auto [name, rating] : {std::pair{"IMG_0001", "4"}, {"SMALL", "3"}, {"IMG_0001（1）", "0"}}) {
    EXPECT_EQ(ReadBytes(dated + "/" + name + ".xmp"), Sidecar(rating)) << name;
  }
  EXPECT_EQ(ReadBytes(dated + "/IMG_0001（1）.CR3"), ReadBytes(cr3_));
  EXPECT_TRUE(SameTime(StatPath(dated + "/IMG_0001（1）.CR3").modified, StatPath(cr3_).modified)) << "the copy keeps its date";
}

TEST_F(RatedExportTest, ARawAndAJpegOfOneNameShareOneSidecarWithTheHigherRating) {
  ExportRated(Json::array({{{"id", "RAW"}, {"path", cr3_}, {"rating", 2}}, {{"id", "JPG"}, {"path", jpg_}, {"rating", 5}}}),
              exports_.path());
  EXPECT_EQ(Names(Today()), (std::vector<std::string>{"IMG_0001.CR3", "IMG_0001.JPG", "IMG_0001.xmp"}));
  EXPECT_EQ(ReadBytes(Today() + "/IMG_0001.xmp"), Sidecar("5"));
  // The advanced export's one sidecar too, with the label of the best-rated file.
  TempFolder advanced;
  ExportAdvanced(Json::array({{{"path", cr3_}, {"rating", 5}, {"status", "保留"}}, {{"path", jpg_}, {"rating", 2}, {"status", "淘汰"}}}),
                 nullptr, advanced.path());
  EXPECT_EQ(Names(Dated(advanced.path())), (std::vector<std::string>{"IMG_0001.CR3", "IMG_0001.JPG", "IMG_0001.xmp"}));
  EXPECT_EQ(ReadBytes(Dated(advanced.path()) + "/IMG_0001.xmp"), Sidecar("5", "保留"));
}

TEST_F(RatedExportTest, AnUnreachableSourceIsOneErrorAndTheOthersAreStillExported) {
  Json answer = ExportRated(Json::array({{{"id", "GONE"}, {"path", shoot_ / "DELETED.jpg"}}, {{"id", "OK"}, {"path", jpg_}},
                                         {{"path", 42}}, {{"id", 7}, {"path", "IMG_0001.JPG"}}}),
                            exports_.path());
  EXPECT_EQ(answer["outputs"], Json::array({{{"id", "OK"}, {"path", Today() + "/IMG_0001.JPG"}}}));
  EXPECT_EQ(answer["errors"], Json::array({{{"id", "GONE"}, {"error", "原文件不可访问"}},
                                           {{"id", ""}, {"error", "原文件不可访问"}},
                                           {{"id", 7}, {"error", "原文件不可访问"}}}));
  EXPECT_EQ(answer["message"], "已导出 1 张原片，3 张失败，原片保留");
}

TEST_F(RatedExportTest, AFolderThatIsAFileOrAnEmptyListIsUnusableWithoutAPanel) {
  WriteBytes(exports_ / "not-a-folder", "");
  Json photos = Json::array({{{"id", "A"}, {"path", jpg_}}});
  Json unusable = {{"token", "T"}, {"outputs", Json::array()}, {"message", "导出文件夹不可用，请到高级中重新选择；原片保留"}};
  EXPECT_EQ(ExportRated(photos, exports_ / "not-a-folder"), unusable);
  EXPECT_EQ(ExportRated(Json::array(), exports_.path()), unusable);
  EXPECT_EQ(Names(exports_.path()), std::vector<std::string>{"not-a-folder"});
}

TEST_F(RatedExportTest, WithoutAFolderThePanelAsksAndItsFolderIsReportedFirstAndThenUsed) {
  platform_->QueuePanelAnswer(std::nullopt);
  Send({{"action", "exportRatedPhotos"}, {"token", "T-C"}, {"photos", Json::array({{{"id", "A"}, {"path", jpg_}}})}});
  EXPECT_EQ(lines_, (std::vector<Json>{{{"fn", "window.Native.ratingExportComplete"},
                                        {"arg", {{"token", "T-C"}, {"cancelled", true}, {"outputs", Json::array()},
                                                 {"message", "已取消导出，星级和原片保留"}}}}}));
  ClearOutput();
  platform_->QueuePanelAnswer(std::vector<std::string>{exports_.path()});
  Send({{"action", "exportRatedPhotos"}, {"token", 5}, {"photos", Json::array({{{"id", "A"}, {"path", jpg_}, {"rating", 1}}})}});
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_[0], (Json{{"fn", "window.Native.ratingExportFolder"}, {"arg", {{"path", exports_.path()}}}}));
  // A token that is not a string counts as empty.
  EXPECT_EQ(lines_[1]["arg"], (Json{{"token", ""}, {"outputs", {{{"id", "A"}, {"path", Today() + "/IMG_0001.JPG"}}}},
                                    {"errors", Json::array()}, {"folder", Today()}, {"baseFolder", exports_.path()},
                                    {"message", "已导出 1 张原片"}}));

  // Choosing the folder alone only reports it; a cancelled panel answers nothing.
  ClearOutput();
  platform_->QueuePanelAnswer(std::vector<std::string>{shoot_.path()});
  Send({{"action", "chooseRatingExportFolder"}});
  platform_->QueuePanelAnswer(std::nullopt);
  Send({{"action", "chooseRatingExportFolder"}});
  EXPECT_EQ(lines_, (std::vector<Json>{{{"fn", "window.Native.ratingExportFolder"}, {"arg", {{"path", shoot_.path()}}}}}));
}

TEST_F(RatedExportTest, ExportsStartedTogetherRunOneAfterTheOther) {
  Json photos = Json::array({{{"id", "A"}, {"path", cr3_}}, {{"id", "B"}, {"path", jpg_}}});
  for (const char* token : {"FIRST", "SECOND"}) {
    Json body = {{"action", "exportRatedPhotos"}, {"token", token}, {"photos", photos}, {"folder", exports_.path()}};
    queues::Main([this, body] { app_->didReceiveScriptMessage(body); });
  }
  RunUntilQuiet();
  auto answers = Payloads("window.Native.ratingExportComplete");
  EXPECT_EQ(std::pair(answers.at(0)["token"], answers.at(1)["token"]), std::pair(Json("FIRST"), Json("SECOND")));
  EXPECT_EQ(answers.at(1)["outputs"], Json::array({{{"id", "A"}, {"path", Today() + "/IMG_0001（1）.CR3"}},
                                                {{"id", "B"}, {"path", Today() + "/IMG_0001（1）.JPG"}}}));
}

TEST_F(RatedExportTest, WritesThatFailReportEachPhotoWithTheSystemsTextAndLeaveNoPartialFile) {
  WriteBytes(Today(), "a file where the dated folder belongs");
  const Json photos = Json::array({{{"id", "A"}, {"path", cr3_}}, {{"id", "B"}, {"path", jpg_}}});
  Json noFolder = ExportRated(photos, exports_.path());
  std::filesystem::remove(Today());
  Json full;
  {
    FileSizeLimit limit(64 * 1024);  // every copy hits a full disk
    full = ExportRated(photos, exports_.path());
  }
  for (const Json& answer : {noFolder, full}) {
    EXPECT_EQ(answer["message"], "已导出 0 张原片，2 张失败，原片保留");
    for (const Json& error : answer["errors"]) EXPECT_NE(error["error"], "原文件不可访问") << "the system's text";
  }
  EXPECT_TRUE(Names(Today()).empty()) << "no half copy and no temporary file is left";
}

TEST_F(AdvancedExportTest, AnEmptyListAnswersWithoutAPanelAndACancelledPanelExportsNothing) {
  Send({{"action", "exportAdvanced"}});
  Send({{"action", "export"}, {"photos", Json::array()}});
  platform_->QueuePanelAnswer(std::nullopt);
  Send({{"action", "exportAdvanced"}, {"photos", Json::array({{{"path", small_}}})}});
  std::vector<Json> expected(2, Json{{"message", "没有可导出的照片"}});
  expected.push_back({{"message", "已取消导出，原片保留"}});
  EXPECT_EQ(Payloads("window.Native.exportComplete"), expected);
  EXPECT_TRUE(Names(exports_.path()).empty());
}

TEST_F(AdvancedExportTest, JpegQualityIsClampedOtherFormatTextsAreJpegAndPngTiffAndHeicDecode) {
  const imaging::DecodedImage rendered = imaging::CreateRenderedImage(small_, 8192, true).value();
  const std::pair<Json, double> qualities[] = {{{{"format", "jpeg"}, {"quality", 0.3}}, 0.5},
                                               {{{"format", "jpeg"}, {"quality", 1.4}}, 1.0}, {{{"format", "jpeg"}}, 0.92},
                                               {{{"format", "jpeg"}, {"quality", 0}}, 0.92}, {{{"format", "gif"}}, 0.75}};
  for (const auto& [options, quality] : qualities) {
    TempFolder folder;
    const std::string dated = Dated(folder.path());
    EXPECT_EQ(ExportAdvanced(Json::array({{{"path", small_}}}), options, folder.path()),
              (Json{{"message", "已导出 1 张"}, {"folder", dated}}));
    EXPECT_EQ(PictureData(ReadBytes(dated + "/SMALL.jpg")), PictureData(imaging::EncodeJPEG(rendered, quality).value_or("")))
        << options;
    EXPECT_EQ(ReadBytes(dated + "/SMALL.xmp"), Sidecar("0", "未分类"));
  }
  for (const std::string format : {"png", "tiff", "heic"}) {
    TempFolder folder;
    ExportAdvanced(Json::array({{{"path", small_}, {"status", "保留"}, {"rating", 3}}}), {{"format", format}}, folder.path());
    auto image = imaging::CreateThumbnail(Dated(folder.path()) + "/SMALL." + format, 8192);
    ASSERT_TRUE(image) << format;
    EXPECT_EQ(std::pair(image->width(), image->height()), std::pair(rendered.width(), rendered.height()));
  }
}

TEST_F(AdvancedExportTest, SortingByDecisionPutsKeptAndPendingPhotosInSubfolders) {
  Json answer = ExportAdvanced(Json::array({{{"path", small_}, {"status", "保留"}, {"rating", 4}},
                                            {{"path", cr3_}, {"status", "淘汰"}, {"rating", 1}},
                                            {{"path", corrupt_}, {"rating", 2.5}},
                                            {{"path", jpg_}, {"status", "待定"}}}),
                               {{"organize", true}}, exports_.path());
  const std::string dated = Dated(exports_.path());
  EXPECT_EQ(answer["message"], "已导出 4 张");
  EXPECT_EQ(Names(dated),
            (std::vector<std::string>{"BROKEN.cr3", "BROKEN.xmp", "IMG_0001.CR3", "IMG_0001.xmp", "保留", "待定"}));
  EXPECT_EQ(Names(dated + "/保留"), (std::vector<std::string>{"SMALL.jpg", "SMALL.xmp"}));
  EXPECT_EQ(Names(dated + "/待定"), (std::vector<std::string>{"IMG_0001.JPG", "IMG_0001.xmp"}));
  EXPECT_EQ(ReadBytes(dated + "/保留/SMALL.xmp"), Sidecar("4", "保留"));
  EXPECT_EQ(ReadBytes(dated + "/IMG_0001.xmp"), Sidecar("1", "淘汰"));
  EXPECT_EQ(ReadBytes(dated + "/BROKEN.xmp"), Sidecar("2.5", "未分类"));
  EXPECT_EQ(Exiv2Value(dated + "/保留/SMALL.xmp", "Xmp.xmp.Label"), "保留");
}

TEST_F(AdvancedExportTest, SkipKeepsAnEarlierFileReplaceSwapsItAndThePlainExportSkips) {
  const std::string dated = Dated(exports_.path());
  ASSERT_FALSE(CreateDirectories(dated));
  WriteBytes(dated + "/IMG_0001.CR3", "earlier export");
  Json answer = ExportAdvanced(Json::array({{{"path", cr3_}}}), {{"conflict", "skip"}}, exports_.path());
  EXPECT_EQ(answer["message"], "已导出 0 张，跳过 1 张");
  EXPECT_EQ(Payloads("window.Native.exportProgress"), (std::vector<Json>{{{"completed", 1}, {"total", 1}, {"name", "IMG_0001.CR3"}}}));
  EXPECT_EQ(ReadBytes(dated + "/IMG_0001.CR3"), "earlier export");
  EXPECT_EQ(Names(dated), std::vector<std::string>{"IMG_0001.CR3"}) << "no sidecar for a skipped photo";

  WriteBytes(dated + "/SMALL.jpg", "earlier export");
  WriteBytes(dated + "/SMALL.xmp", Sidecar("1", "保留"));  // an earlier export's
  answer = ExportAdvanced(Json::array({{{"path", small_}, {"rating", 5}}}), {{"conflict", "replace"}}, exports_.path());
  EXPECT_EQ(answer["message"], "已导出 1 张");
  EXPECT_EQ(ReadBytes(dated + "/SMALL.jpg"), ReadBytes(small_));
  EXPECT_EQ(ReadBytes(dated + "/SMALL.xmp"), Sidecar("5", "未分类"));
  EXPECT_EQ(Names(dated), (std::vector<std::string>{"IMG_0001.CR3", "SMALL.jpg", "SMALL.xmp"}));

  // The plain export copies, sorted, and its options are fixed: what is there is skipped.
  TempFolder plain;
  Json photos = Json::array({{{"path", small_}, {"status", "保留"}, {"rating", 2}}, {{"path", cr3_}, {"status", "淘汰"}}});
  EXPECT_EQ(ExportAdvanced(photos, nullptr, plain.path(), "export")["message"], "已导出 2 张");
  EXPECT_EQ(ReadBytes(Dated(plain.path()) + "/保留/SMALL.jpg"), ReadBytes(small_));
  EXPECT_EQ(ExportAdvanced(photos, {{"format", "png"}, {"conflict", "replace"}}, plain.path(), "export")["message"], "已导出 0 张，跳过 2 张");
}

TEST_F(AdvancedExportTest, APhotoThatCannotBeDecodedCountsAsFailedAndTheOthersGoOn) {
  Json answer = ExportAdvanced(Json::array({{{"path", small_}}, {{"path", corrupt_}}, {{"path", cr3_}}, {{"rating", 1}}}),
                       {{"format", "png"}}, exports_.path());
  EXPECT_EQ(Payloads("window.Native.exportProgress"),
            (std::vector<Json>{{{"completed", 1}, {"total", 4}, {"name", "SMALL.jpg"}},
                               {{"completed", 2}, {"total", 4}, {"name", "BROKEN.cr3"}},
                               {{"completed", 3}, {"total", 4}, {"name", "IMG_0001.CR3"}},
                               {{"completed", 4}, {"total", 4}, {"name", ""}}}));
  EXPECT_EQ(answer["message"], "已导出 2 张，失败 2 张");
  EXPECT_EQ(Names(Dated(exports_.path())),
            (std::vector<std::string>{"IMG_0001.png", "IMG_0001.xmp", "SMALL.png", "SMALL.xmp"}));
}

TEST_F(AdvancedExportTest, APanelAskedForWhileAnotherIsOpenTakesTheCancelPath) {
  platform_->QueuePanelAnswer(std::vector<std::string>{exports_.path()});
  Json photos = Json::array({{{"path", small_}, {"name", "SMALL.jpg"}}});
  queues::Main([this, photos] { app_->didReceiveScriptMessage({{"action", "exportAdvanced"}, {"photos", photos}}); });
  queues::Main([this, photos] { app_->didReceiveScriptMessage({{"action", "exportReviewManifest"}, {"photos", photos}}); });
  RunUntilQuiet();
  EXPECT_EQ(Payloads("window.Native.status"), std::vector<Json>{"请先完成或取消当前文件选择窗口。"});
  EXPECT_EQ(Payloads("window.Native.reviewManifestCancelled").size(), 1u);
  EXPECT_EQ(Payloads("window.Native.exportComplete").at(0)["message"], "已导出 1 张");
}

TEST_F(AdvancedExportTest, AConvertedJPEGKeepsCaptureDataAndStandsUprightWithMarksAndLongEdge) {
  // A portrait stored sideways, with the camera's thumbnail in its EXIF.
  const std::string portrait = CopySample("face-closeup-open-canon350d.jpg", shoot_.path(), "PORTRAIT.jpg");
  {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(portrait);
    image->readMetadata();
    image->exifData()["Exif.Image.Orientation"] = static_cast<uint16_t>(6);
    image->writeMetadata();
  }
  sources_.emplace(shoot_.path());
  struct Case {
    Json photo;
    Json options;
    std::map<std::string, std::string> metadata;
    int width, height;
  };
  const Case cases[] = {
      {{{"path", portrait}, {"rating", 5}, {"status", "保留"}},
       {{"format", "jpeg"}, {"longEdge", 400}},
       {{"Exif.Photo.DateTimeOriginal", "2005:12:29 23:45:22"}, {"Xmp.xmp.Rating", "5"}, {"Xmp.xmp.Label", "保留"}},
       267, 400},
      {{{"path", cr3_}, {"rating", 4}},
       {{"format", "jpeg"}},
       {{"Exif.Photo.DateTimeOriginal", "2021:05:12 12:21:21"}, {"Exif.Photo.LensModel", "RF70-200mm F2.8 L IS USM"},
        {"Xmp.xmp.Rating", "4"}},
       3584, 2016},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    ExportAdvanced(Json::array({c.photo}), c.options, folder.path());
    const std::string exported =
        Dated(folder.path()) + "/" + output::SplitName(LastPathComponent(StringField(c.photo, "path"))).stem + ".jpg";
    ASSERT_TRUE(Exists(exported)) << c.photo;
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(exported);
    image->readMetadata();
    std::map<std::string, std::string> metadata;
    for (const auto& datum : image->exifData()) metadata[datum.key()] = datum.toString();
    for (const auto& datum : image->xmpData()) metadata[datum.key()] = datum.toString();
    for (const auto& [key, value] : c.metadata) EXPECT_EQ(metadata[key], value) << key << " of " << exported;
    EXPECT_EQ(metadata["Exif.Image.Orientation"], "1");
    EXPECT_EQ(metadata.count("Exif.Thumbnail.JPEGInterchangeFormat"), 0u) << "no stale thumbnail";
    EXPECT_EQ(metadata.lower_bound("Exif.Canon"), metadata.lower_bound("Exif.Canoo")) << "no maker notes";
    auto pixels = imaging::CreateThumbnail(exported, 100000);
    ASSERT_TRUE(pixels.has_value());
    EXPECT_EQ(std::pair(pixels->width(), pixels->height()), std::pair(c.width, c.height));
  }
}

TEST_F(AdvancedExportTest, AShootExportedIntoItsOwnFolderKeepsThePhotographersFiles) {
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
    EXPECT_EQ(ExportAdvanced(photos, options, base.path())["message"], "已导出 2 张") << options;
  }
  // A copy never pairs with a sidecar this export did not write: IMG_0001（1）.xmp belongs to the
  // rendering above.
  EXPECT_EQ(ExportRated(Json::array({{{"id", 7}, {"path", raw}, {"rating", 4}}}), base.path())["outputs"],
            Json::array({{{"id", 7}, {"path", shoot + "/IMG_0001（2）.CR3"}}}));
  EXPECT_EQ(before.Changes({}, day), std::vector<std::string>{});
  EXPECT_EQ(Names(shoot), (std::vector<std::string>{
                              "IMG_0001.CR3", "IMG_0001.jpg", "IMG_0001.png", "IMG_0001.xmp", "IMG_0001（1）.jpg",
                              "IMG_0001（1）.xmp", "IMG_0001（2）.CR3", "IMG_0001（2）.xmp", "IMG_0002.jpg",
                              "IMG_0002.xmp", "IMG_0002（1）.jpg", "IMG_0002（1）.xmp", "IMG_0002（2）.png",
                              "IMG_0002（2）.xmp"}));
  EXPECT_EQ(Exiv2Value(shoot + "/IMG_0001（2）.xmp", "Xmp.xmp.Rating"), "4");
}

const std::string kHeader = "编号\t完整文件名\t星级\t问题\t连拍组\t云端建议";

Json ThreePhotos() {
  return Json::array({{{"name", "IMG_0001.CR3"}, {"status", "保留"}, {"rating", 3}, {"issues", {"闭眼", "过曝"}}},
                      {{"name", "IMG_0002.JPG"}, {"status", "保留"}, {"rating", 5}, {"group", "B3"}, {"best", true},
                       {"cloudReason", "表情自然"}, {"cloudConfidence", 0.856}, {"cloudBest", true}},
                      {{"name", "IMG_0003.JPG"}, {"status", "淘汰"}, {"best", true}, {"cloudBest", true}}});
}

TEST(ReviewManifestText, OtherStatusesAreUndecidedValuesLoseTabsAndLineBreaksAndPercentagesRoundAsPrintf) {
  std::string text = output::ReviewManifestText(
      Json::array({{{"name", "A\tB\nC.jpg"}, {"status", "keep"}, {"cloudReason", "眼神\r\n好"}, {"group", "G\t1"},
                    {"issues", {"闭眼", 3}}},
                   {{"name", "A.jpg"}, {"status", 1}, {"cloudReason", "a"}, {"cloudConfidence", 0.125}},
                   {{"name", "B.jpg"}, {"cloudReason", "b"}, {"cloudConfidence", 0.375}},
                   {{"name", "C.jpg"}, {"cloudReason", "c"}, {"cloudConfidence", "0.9"}}}),
      "P", 0);
  EXPECT_NE(text.find("保留：0  待定：0  淘汰：0  未决定：4\n"), std::string::npos);
  // The undecided section comes last.
  EXPECT_EQ(text.substr(text.find("[未决定]")), "[未决定]（4 张）\n" + kHeader + "\nA B C\tA B C.jpg\t0星\t闭眼\tG 1\t眼神  好 · 0%\n"
            "A\tA.jpg\t0星\t无\t—\ta · 12%\nB\tB.jpg\t0星\t无\t—\tb · 38%\nC\tC.jpg\t0星\t无\t—\tc · 0%\n");
}

TEST(ReviewManifestText, FileNameStemsLoseTheCharactersFileSystemsReject) {
  for (auto [name, stem] : {std::pair{"///", "拍摄项目"}, {"婚礼 2024", "婚礼 2024"},
                            {"1/2:3\\4?5%6*7|8\"9<10>11", "1-2-3-4-5-6-7-8-9-10-11"}}) {
    EXPECT_EQ(output::ManifestFileStem(name), stem);
  }
}

TEST_F(ReviewManifestTest, NoPhotosAnswerWithoutAPanelAndACancelledPanelWritesNothing) {
  Send({{"action", "exportReviewManifest"}, {"photos", "many"}});
  platform_->QueuePanelAnswer(std::nullopt);
  Send({{"action", "exportReviewManifest"}, {"photos", ThreePhotos()}});
  EXPECT_EQ(Payloads("window.Native.reviewManifestComplete"),
            (std::vector<Json>{{{"success", false}, {"message", "当前项目没有照片"}}}));
  EXPECT_EQ(Payloads("window.Native.reviewManifestCancelled"), (std::vector<Json>{Json::object()}));
  EXPECT_TRUE(Names(exports_.path()).empty());
}

// The whole text is checked where the page's photos reach it.
TEST_F(ReviewManifestTest, TheChosenFileIsWrittenAndReplacedUnderTheProjectsNameOrTheDefault) {
  const std::string path = exports_ / "婚礼-筛片清单.txt";
  WriteBytes(path, "an older list");
  platform_->QueuePanelAnswer(std::vector<std::string>{path});
  Send({{"action", "exportReviewManifest"}, {"photos", ThreePhotos()}, {"projectName", "婚礼 a/b"}});
  EXPECT_EQ(Payloads("window.Native.reviewManifestComplete"),
            (std::vector<Json>{{{"success", true}, {"message", "已保存 3 张照片的编号与筛选结果"}, {"folder", exports_.path()}}}));
  // The whole file, its time line apart.
  const std::string text = ReadBytes(path);
  const std::regex time("\n生成时间：\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\n");
  EXPECT_EQ(std::regex_replace(text, time, "\n生成时间：…\n"),
            "岚舟 · 筛片清单\n项目：婚礼 a/b\n生成时间：…\n照片总数：3\n保留：2  待定：0  淘汰：1  未决定：0\n\n"
            "说明：第一列为不含扩展名的照片编号，可直接用于按编号选片。\n\n[保留]（2 张）\n" + kHeader +
            "\nIMG_0001\tIMG_0001.CR3\t3星\t闭眼、过曝\t—\t—\n"
            "IMG_0002\tIMG_0002.JPG\t5星\t无\tB3（本组最佳）\t表情自然（云端推荐） · 86%\n\n[待定]（0 张）\n" + kHeader +
            "\n\n[淘汰]（1 张）\n" + kHeader + "\nIMG_0003\tIMG_0003.JPG\t0星\t无\t本组最佳\t云端推荐 · 0%\n\n[未决定]（0 张）\n" +
            kHeader + "\n");

  platform_->QueuePanelAnswer(std::vector<std::string>{path});
  Send({{"action", "exportReviewManifest"}, {"photos", ThreePhotos()}, {"projectName", 12}});
  EXPECT_NE(ReadBytes(path).find("\n项目：拍摄项目\n"), std::string::npos);

  ClearOutput();
  platform_->QueuePanelAnswer(std::vector<std::string>{exports_ / "missing/list.txt"});
  Send({{"action", "exportReviewManifest"}, {"photos", ThreePhotos()}});
  Json answer = Payloads("window.Native.reviewManifestComplete").at(0);
  EXPECT_EQ(answer, (Json{{"success", false}, {"folder", ""}, {"message", answer["message"]}})) << "the system's text";
  EXPECT_EQ(Names(exports_.path()), std::vector<std::string>{"婚礼-筛片清单.txt"}) << "no temporary file is left";
}

TEST_F(TrashTest, OnlyPhotoFilesAPhotoRecordCanNameMoveAndNothingWithoutAStringIdAndAPathThatIsThere) {
  std::string numeric = TrashablePhoto("NUMERIC.jpg"), photo = TrashablePhoto("REJECT.jpg");
  const Json nothing = {{"token", ""}, {"removedIDs", Json::array()}, {"message", "原文件不可访问，未删除任何照片"}};
  Trash({{"action", "trashPhotos"}});
  Trash({{"action", "trashPhotos"}, {"photos", Json::array({{{"id", "A"}, {"path", shoot_ / "gone.jpg"}}})}});
  Trash({{"action", "trashPhotos"}, {"photos", Json::array({{{"id", 7}, {"path", numeric}}, {{"id", "X"}}, 12})}});
  EXPECT_EQ(Payloads("window.Native.trashComplete"), std::vector<Json>(3, nothing));

  ClearOutput();
  WriteBytes(shoot_ / "notes.txt", "the photographer's notes");
  ASSERT_FALSE(CreateDirectories(shoot_ / "SUBFOLDER.jpg"));
  WriteBytes(shoot_ / "SUBFOLDER.jpg/inside.jpg", "kept");
  // Relative paths are refused unlooked, whether or not they name a photo from the working folder.
  const std::string relative = std::filesystem::relative(TrashablePhoto("REL.jpg")).string();
  Trash({{"action", "trashPhotos"},
         {"photos", Json::array({{{"id", "OK"}, {"path", photo}}, {{"id", "DIR"}, {"path", shoot_ / "SUBFOLDER.jpg"}},
                                 {{"id", "TEXT"}, {"path", shoot_ / "notes.txt"}}, {{"id", "REL"}, {"path", relative}},
                                 {{"id", "BARE"}, {"path", "IMG_9.jpg"}}, {{"id", "GONE"}, {"path", shoot_ / "gone.jpg"}}})}},
        {"REJECT.jpg"});
  EXPECT_EQ(Payloads("window.Native.trashComplete"),
            (std::vector<Json>{{{"token", ""}, {"removedIDs", {"OK"}}, {"message", "已移动 1 张，另有文件无法移动：4 个条目不是可移动的照片文件"}}}));
}

TEST_F(TrashTest, MovedFilesGoToTheTrashAndTheirIdsAreReported) {
  std::string a = TrashablePhoto("A.jpg"), b = TrashablePhoto("B.jpg");
  std::string bBytes = ReadBytes(b);
  Trash({{"action", "trashPhotos"},
        {"photos", Json::array({{{"id", "ID-A"}, {"path", a}},
                                {{"id", "ID-B"}, {"path", b}},
                                {{"id", "ID-B2"}, {"path", b}}})}},  // two records of one file
        {"A.jpg", "B.jpg"});
  EXPECT_EQ(Payloads("window.Native.trashComplete"),
            (std::vector<Json>{{{"token", ""}, {"removedIDs", {"ID-A", "ID-B", "ID-B2"}}, {"message", "已将 3 张照片移到废纸篓"}}}));
  EXPECT_FALSE(Exists(a) || Exists(b));
  EXPECT_EQ(ReadBytes(HomeTrashFiles() + "/B.jpg"), bBytes) << "moved, not deleted";

  std::string rejected = TrashablePhoto("REJECT.jpg");
  Trash({{"action", "trashRatedPhotos"}, {"token", "T-1"}, {"photos", Json::array({{{"id", "R"}, {"path", rejected}}})}},
        {"REJECT.jpg"});
  EXPECT_EQ(Payloads("window.Native.ratingTrashComplete"),
            (std::vector<Json>{{{"token", "T-1"}, {"removedIDs", {"R"}}, {"message", "已将 1 张照片移到废纸篓"}}}));
}

TEST_F(TrashTest, AFileOnAVolumeWithoutTrashIsReportedAsNotMovedAndStaysInPlace) {
  if (!NoTrashVolumeAvailable()) GTEST_SKIP() << "no file system without a trash on this machine";
  TempFolder volume(kNoTrashPrefix);
  std::string card = CopySample("orientation-2.jpg", volume.path(), "CARD.jpg");
  std::string cardBytes = ReadBytes(card);
  std::string a = TrashablePhoto("A.jpg"), b = TrashablePhoto("B.jpg");

  Trash({{"action", "trashPhotos"},
        {"photos", Json::array({{{"id", "ID-A"}, {"path", a}}, {{"id", "ID-CARD"}, {"path", card}}, {{"id", "ID-B"}, {"path", b}}})}},
        {"A.jpg", "B.jpg"});
  Json answer = Payloads("window.Native.trashComplete").at(0);
  EXPECT_EQ(answer["removedIDs"], Json::array({"ID-A", "ID-B"}));
  const std::string prefix = "已移动 2 张，另有文件无法移动：", message = answer["message"];
  EXPECT_TRUE(message.starts_with(prefix) && message.size() > prefix.size()) << message << ": the system's text follows";
  EXPECT_EQ(ReadBytes(card), cardBytes) << "neither moved nor deleted";
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
                       sandbox.Options());
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

int main(int argc, char** argv) {
  tw::testing::TempFolder home("/tmp/tidewick-output-home-");
  const std::string data = home / ".local/share";
  tw::CreateDirectories(data);
  setenv("HOME", home.path().c_str(), 1);
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
