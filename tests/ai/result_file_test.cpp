// Saving a generated image never replaces an existing file.
#include "ai/result_file.hpp"
#include "base/files.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace tw::ai {
namespace {

TEST(ResultFileTest, SameSecondResultsGetACounterAndNothingElseIsLeft) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(ResultFileStem(1767225599), "AI修图-20251231-235959");

  std::string folder = std::filesystem::temp_directory_path() / "tidewick-result-file-XXXXXX";
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  for (const auto& [bytes, name] : {std::pair{"first", "AI修图-20260101-120000.png"},
                                    {"second", "AI修图-20260101-120000-2.png"},
                                    {"third", "AI修图-20260101-120000-3.png"}}) {
    auto saved = SaveResultFile(folder, "AI修图-20260101-120000", "png", bytes);
    ASSERT_FALSE(saved.error);
    EXPECT_EQ(saved.fileName, name);
    EXPECT_EQ(ReadWholeFile(saved.filePath), bytes);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 3) << "no temporary file is left";

  auto missing = SaveResultFile(JoinPath(folder, "missing"), "AI修图-20260101-120000", "png", "x");
  ASSERT_TRUE(missing.error);
  EXPECT_FALSE(missing.error->message.empty());
  EXPECT_TRUE(missing.fileName.empty());
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tw::ai
