// The settings file shared by every instance of the program.
#include "base/files.hpp"
#include "platform/settings.hpp"
#include "support/headless_process.hpp"

#include <gtest/gtest.h>

namespace tw::testing {
namespace {

TEST(SettingsFile, AChangeKeepsWhatAnotherInstanceWroteMeanwhile) {
  TempFolder config;
  const std::string path = config / "tidewick/settings.json";
  platform::Settings first(path), second(path);
  ASSERT_FALSE(first.Set("TWRetouchSaveLocation", "/photos/retouched").has_value());
  // The second instance read the file before that change; its own change must not put it back.
  ASSERT_FALSE(second.Set("TWGRSAIAPIKey", "sk-second").has_value());
  EXPECT_EQ(second.GetString("TWRetouchSaveLocation"), "/photos/retouched");
  EXPECT_EQ(first.GetString("TWGRSAIAPIKey"), "sk-second") << "a read picks up the other instance's write";
  ASSERT_FALSE(first.Remove("TWGRSAIAPIKey").has_value());
  EXPECT_EQ(platform::Settings(path).Get("TWGRSAIAPIKey"), std::nullopt);
  EXPECT_EQ(platform::Settings(path).GetString("TWRetouchSaveLocation"), "/photos/retouched");
}

TEST(SettingsFile, AnUnreadableFileIsKeptBesideBeforeItIsWrittenOver) {
  TempFolder config;
  const std::string path = config / "settings.json";
  ASSERT_FALSE(WriteFileAtomically(path, "{\"TWGRSAIAPIKey\": \"sk-typed-by-hand\",").has_value());
  platform::Settings settings(path);
  EXPECT_EQ(settings.Get("TWGRSAIAPIKey"), std::nullopt);
  ASSERT_FALSE(settings.Set("TWLensCorrectionEnabled", false).has_value());
  EXPECT_EQ(ReadWholeFile(path + ".unreadable"), "{\"TWGRSAIAPIKey\": \"sk-typed-by-hand\",");
  EXPECT_EQ(platform::Settings(path).GetBool("TWLensCorrectionEnabled"), false);
}

}  // namespace
}  // namespace tw::testing
