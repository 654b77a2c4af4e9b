// Where the program finds its page and other resources, installed or run from its build folder.
#include "platform/resource_location.hpp"
#include "support/headless_process.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace tw::testing {
namespace {

TEST(ResourceLocation, TheInstalledFolderBesideBinWinsOverTheBuildTreesAndIsTheAnswerWhenNeitherExists) {
  TempFolder root;
  std::filesystem::create_directories(root / "build/src/shell");
  std::filesystem::create_directories(root / "resources");
  // A build-folder run: nothing installed beside it, the source tree's resources by their relative path.
  EXPECT_EQ(platform::ResourceDirectoryBeside(root / "build/src/shell", "../../../resources"), root / "resources");

  std::filesystem::create_directories(root / "usr/bin");
  std::filesystem::create_directories(root / "usr/share/tidewick");
  EXPECT_EQ(platform::ResourceDirectoryBeside(root / "usr/bin", "../../resources"), root / "usr/share/tidewick");

  std::filesystem::create_directories(root / "opt/bin");
  EXPECT_EQ(platform::ResourceDirectoryBeside(root / "opt/bin", "../missing"), root / "opt/share/tidewick");
}

}  // namespace
}  // namespace tw::testing
