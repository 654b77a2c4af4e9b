// The destination name rule shared by both exports, and how a finished copy or rendering takes its
// name: never partial, never over a name taken in the meantime, never over the source.
#include "base/files.hpp"
#include "output/export_destination.hpp"
#include "output/paired_names.hpp"
#include "output/staged_file.hpp"
#include "support/shoot_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace tw::testing {
namespace {

using output::ConflictMode;
using output::ExportDestination;
using output::PlaceResult;
using output::StagedFile;

TEST(DestinationRule, FreeNamesAreUsedTakenOnesSkippedKeptForReplacingOrNumbered) {
  TempFolder folder;
  for (auto mode : {ConflictMode::Skip, ConflictMode::Replace, ConflictMode::Rename}) {
    bool skipped = false;
    EXPECT_EQ(ExportDestination(folder.path(), "IMG_0001.CR3", mode, &skipped), folder / "IMG_0001.CR3");
    EXPECT_FALSE(skipped);
  }
  WriteBytes(folder / "IMG_0001.CR3", "earlier");
  WriteBytes(folder / "IMG_0001（1）.CR3", "earlier too");
  WriteBytes(folder / "README", "no extension");
  ASSERT_EQ(symlink("/nonexistent/target", (folder / "A.jpg").c_str()), 0);  // a dangling link holds its name

  bool skipped = false;
  EXPECT_EQ(ExportDestination(folder.path(), "IMG_0001.CR3", ConflictMode::Skip, &skipped), std::nullopt);
  EXPECT_TRUE(skipped);
  EXPECT_EQ(ExportDestination(folder.path(), "IMG_0001.CR3", ConflictMode::Replace), folder / "IMG_0001.CR3");
  EXPECT_EQ(ReadBytes(folder / "IMG_0001.CR3"), "earlier") << "choosing a name deletes nothing";
  EXPECT_EQ(ExportDestination(folder.path(), "IMG_0001.CR3", ConflictMode::Rename), folder / "IMG_0001（2）.CR3");
  EXPECT_EQ(ExportDestination(folder.path(), "README", ConflictMode::Rename), folder / "README（1）");
  EXPECT_EQ(ExportDestination(folder.path(), "A.jpg", ConflictMode::Rename), folder / "A（1）.jpg");
  EXPECT_EQ(output::ConflictModeFromText("anything"), ConflictMode::Rename);
  EXPECT_EQ(output::ConflictModeFromText("skip"), ConflictMode::Skip);
  EXPECT_EQ(output::ConflictModeFromText("replace"), ConflictMode::Replace);
  // Names split at their last dot.
  EXPECT_EQ(output::SplitName("a.tar.gz").stem, "a.tar");
  EXPECT_EQ(output::SplitName("a.tar.gz").extension, "gz");
  EXPECT_EQ(output::SplitName(".hidden").stem, ".hidden");
}

TEST(DestinationRule, AfterNineThousandNineHundredNinetyNineNumbersAUUIDIsUsed) {
  TempFolder folder;
  WriteBytes(folder / "A.jpg", "");
  WriteBytes(folder / "B", "");
  for (int n = 1; n <= 9999; ++n) {
    close(open((folder / ("A（" + std::to_string(n) + "）.jpg")).c_str(), O_CREAT | O_WRONLY, 0644));
    close(open((folder / ("B（" + std::to_string(n) + "）")).c_str(), O_CREAT | O_WRONLY, 0644));
  }
  std::string name = LastPathComponent(*ExportDestination(folder.path(), "A.jpg", ConflictMode::Rename));
  ASSERT_EQ(name.size(), std::string("A-").size() + 36 + std::string(".jpg").size()) << name;
  EXPECT_EQ(name.substr(0, 2), "A-");
  EXPECT_EQ(name.substr(name.size() - 4), ".jpg");
  std::string uuid = name.substr(2, 36);
  EXPECT_TRUE(std::none_of(uuid.begin(), uuid.end(), [](char c) { return c >= 'a' && c <= 'z'; })) << uuid;
  std::string bare = LastPathComponent(*ExportDestination(folder.path(), "B", ConflictMode::Rename));
  EXPECT_EQ(bare.size(), 2u + 36u) << bare;
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

TEST_P(StagedFileTest, NothingGoesOverANameTakenMeanwhileTheSourceAFolderTheUsersSidecarOrAnEarlierFileOnAFailedWrite) {
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
  EXPECT_EQ(ReadBytes(folder_ / "DIR.jpg/inside.jpg"), "kept");
  EXPECT_EQ(ReadBytes(folder_ / "USER.xmp"), "the user's own sidecar");

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
  // Nothing but the named files: no temporary file is ever left behind.
  EXPECT_EQ(Names(folder_.path()), (std::vector<std::string>{"DIR.jpg", "IMG.jpg", "IMG（1）.jpg", "OLD.jpg", "SRC.jpg",
                                                             "SRC（1）.jpg", "USER.xmp"}));
}

TEST_P(StagedFileTest, CopiesKeepTheSourcesBytesPermissionsAndModificationTime) {
  std::string source = CopySample("orientation-6.jpg", folder_.path(), "SOURCE.jpg");
  ASSERT_EQ(chmod(source.c_str(), 0640), 0);
  TempFolder out;
  StagedFile staged(out.path(), naming_);
  ASSERT_FALSE(staged.CopyFrom(ReadableFile::Open(source)));
  PlaceResult placed = PlaceByRule(staged, out.path(), "SOURCE.jpg", ConflictMode::Rename);
  ASSERT_EQ(placed.outcome, PlaceResult::Outcome::Placed);
  EXPECT_EQ(ReadBytes(placed.path), ReadBytes(source));
  struct stat a {}, b {};
  stat(source.c_str(), &a);
  stat(placed.path.c_str(), &b);
  EXPECT_EQ(b.st_mode & 0777, 0640u);
  EXPECT_TRUE(SameTime(a.st_mtim, b.st_mtim));
  EXPECT_EQ(Names(out.path()), std::vector<std::string>{"SOURCE.jpg"});
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
}

TEST(ExclusivePlacement, ACopyThatFailsRemovesWhatItStarted) {
  TempFolder folder;
  const std::string temporary = folder / ".staged";
  WriteBytes(temporary, std::string(256 * 1024, 'x'));
  {
    FileSizeLimit limit(64 * 1024);
    EXPECT_EQ(output::PlaceExclusively(temporary, folder / "OUT.jpg", output::ExclusiveMethod::Copy), EFBIG);
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
  EXPECT_EQ(second.file.path, folder / "IMG.JPG");
  writer.Write(second.sidecar.value());
  EXPECT_EQ(ReadBytes(folder / "IMG.xmp"), "appeared meanwhile");
  EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"IMG.CR3", "IMG.JPG", "IMG.xmp"}));
}

INSTANTIATE_TEST_SUITE_P(Namings, StagedFileTest,
                         ::testing::Values(StagedFile::Naming::UnnamedWhereAvailable, StagedFile::Naming::HiddenName),
                         [](const auto& info) {
                           return info.param == StagedFile::Naming::HiddenName ? std::string("HiddenName")
                                                                              : std::string("Unnamed");
                         });

}  // namespace
}  // namespace tw::testing
