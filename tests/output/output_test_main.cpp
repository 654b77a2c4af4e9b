// The output tests move files to the trash and copy photos around. Before anything touches GLib
// (which remembers these folders on first use), HOME and XDG_DATA_HOME point into a private folder,
// so no test reaches the real trash; the sample photos are hashed before and after the whole run.
#include "support/shoot_files.hpp"

#include "base/files.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

class SamplePhotosStayUntouched : public ::testing::Environment {
 public:
  void SetUp() override { before_ = tw::testing::HashFolder(tw::testing::kSamplePhotos); }
  void TearDown() override {
    EXPECT_FALSE(before_.empty());
    EXPECT_EQ(tw::testing::HashFolder(tw::testing::kSamplePhotos), before_)
        << "an output test changed a sample photo";
  }

 private:
  std::map<std::string, unsigned long long> before_;
};

}  // namespace

int main(int argc, char** argv) {
  tw::testing::TempFolder home("/tmp/tidewick-output-home-");
  const std::string data = home / ".local/share";
  tw::CreateDirectories(data);
  setenv("HOME", home.path().c_str(), 1);
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);

  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new SamplePhotosStayUntouched);
  return RUN_ALL_TESTS();
}
