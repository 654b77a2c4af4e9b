// Saving a generated image never replaces an existing file.
#include "ai/result_file.hpp"
#include "base/files.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace tw::ai {
namespace {

class ResultFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string base = std::filesystem::temp_directory_path() / "tidewick-result-file-XXXXXX";
    ASSERT_NE(mkdtemp(base.data()), nullptr);
    folder_ = base;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string folder_;
};

TEST_F(ResultFileTest, StemCarriesTheLocalTimeToTheSecond) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(ResultFileStem(1767225599), "AI修图-20251231-235959");
}

TEST_F(ResultFileTest, SameSecondResultsGetACounterInsteadOfReplacing) {
  auto first = SaveResultFile(folder_, "AI修图-20260101-120000", "png", "first");
  auto second = SaveResultFile(folder_, "AI修图-20260101-120000", "png", "second");
  auto third = SaveResultFile(folder_, "AI修图-20260101-120000", "png", "third");
  ASSERT_FALSE(first.error);
  ASSERT_FALSE(second.error);
  ASSERT_FALSE(third.error);
  EXPECT_EQ(first.fileName, "AI修图-20260101-120000.png");
  EXPECT_EQ(second.fileName, "AI修图-20260101-120000-2.png");
  EXPECT_EQ(third.fileName, "AI修图-20260101-120000-3.png");
  EXPECT_EQ(ReadWholeFile(first.filePath), "first");
  EXPECT_EQ(ReadWholeFile(second.filePath), "second");
  EXPECT_EQ(ReadWholeFile(third.filePath), "third");
}

TEST_F(ResultFileTest, AMissingFolderIsAnErrorValue) {
  auto saved = SaveResultFile(JoinPath(folder_, "missing"), "AI修图-20260101-120000", "png", "x");
  ASSERT_TRUE(saved.error);
  EXPECT_FALSE(saved.error->message.empty());
  EXPECT_TRUE(saved.fileName.empty());
}

TEST_F(ResultFileTest, LeavesNoTemporaryFilesBehind) {
  SaveResultFile(folder_, "AI修图-20260101-120000", "jpg", "bytes");
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
    (void)entry;
    ++count;
  }
  EXPECT_EQ(count, 1);
}

}  // namespace
}  // namespace tw::ai
