#include "app/support_folder.hpp"
#include "support/headless_process.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tw::app {
namespace {

TEST(TestFolder, ASymbolicLinkIntoThePrefixIsJudgedByItsTarget) {
  testing::TempFolder qa("/tmp/tidewick-qa-");
  testing::TempFolder elsewhere("/tmp/tidewick-other-");
  std::string link = elsewhere / "link";
  ASSERT_EQ(symlink(qa.path().c_str(), link.c_str()), 0);
  EXPECT_EQ(TWQASupportURL(link), qa.path());

  std::string outward = qa / "outward";
  ASSERT_EQ(symlink(elsewhere.path().c_str(), outward.c_str()), 0);
  EXPECT_FALSE(TWQASupportURL(outward).has_value());
}

TEST(TestFolder, ChoosingTheFolderAtStartUp) {
  testing::TempFolder qa("/tmp/tidewick-qa-");
  auto normal = ChooseSupportFolder({}, "");
  EXPECT_FALSE(normal.refused);
  EXPECT_FALSE(normal.testMode);
  EXPECT_TRUE(normal.folder.ends_with("/岚舟"));

  auto test = ChooseSupportFolder({"--test-support-dir", qa.path()}, "");
  EXPECT_TRUE(test.testMode);
  EXPECT_EQ(test.folder, qa.path());

  // The built-in folder serves when the flag names none, and a bad one refuses the start.
  EXPECT_EQ(ChooseSupportFolder({}, qa.path()).folder, qa.path());
  EXPECT_EQ(ChooseSupportFolder({"--test-support-dir"}, qa.path()).folder, qa.path());
  EXPECT_TRUE(ChooseSupportFolder({"--test-support-dir"}, "").refused);
  EXPECT_TRUE(ChooseSupportFolder({"--test-support-dir", "/home"}, "").refused);
  EXPECT_TRUE(ChooseSupportFolder({}, "/home").refused);
}

}  // namespace
}  // namespace tw::app
