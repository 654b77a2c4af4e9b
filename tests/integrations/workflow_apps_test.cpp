// Companion applications and Comfy Desktop found through planted desktop entries and executables,
// launched (as effects) through the headless program.
#include "support/headless_process.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tw::integrations {
namespace {

using testing::HeadlessOptions;
using testing::HeadlessSandbox;
using testing::RunHeadless;
using testing::TempFolder;
namespace fs = std::filesystem;

void Plant(const std::string& path, const std::string& text, fs::perms perms = fs::perms::owner_read | fs::perms::owner_write) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path) << text;
  fs::permissions(path, perms);
}

std::string Entry(const std::string& name) {
  return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=/bin/true\n";
}

// A sandbox whose application registry holds only what a test plants.
struct AppSandbox : HeadlessSandbox {
  TempFolder systemData;
  std::string applications = data / "applications";
  HeadlessOptions Options() const {
    HeadlessOptions options = HeadlessSandbox::Options();
    options.environment["XDG_DATA_DIRS"] = systemData.path();
    options.environment["TIDEWICK_TEST_COMFY_PORT"] = "1";  // nothing listens there
    return options;
  }
};

TEST(WorkflowApps, FoundByDesktopIdOrNameAndLaunched) {
  AppSandbox box;
  Plant(box.applications + "/pixcake.desktop", Entry("像素蛋糕"));
  Plant(box.applications + "/wine-ps-2025.desktop", Entry("Adobe Photoshop 2025 (Wine)"));
  auto result = RunHeadless(std::vector<Json>{{{"action", "ready"}},
                                              {{"action", "openWorkflowApp"}, {"app", "pixcake"}},
                                              {{"action", "openWorkflowApp"}, {"app", 7}}},
                            box.Options());
  auto states = result.Payloads("window.Native.workflowAppsState");
  ASSERT_EQ(states.size(), 1u) << result.rawOutput;
  EXPECT_EQ(states[0], (Json{{"photoshop", {{"installed", 1}, {"name", "Photoshop"},
                                            {"path", box.applications + "/wine-ps-2025.desktop"}}},
                             {"pixcake", {{"installed", 1}, {"name", "像素蛋糕"},
                                          {"path", box.applications + "/pixcake.desktop"}}}}));
  auto sequence = result.Sequence();
  std::erase(sequence, "window.Native.comfySetupConnection");  // the handshake's probe, answering on its own
  sequence.erase(sequence.begin(), sequence.end() - 4);
  EXPECT_EQ(sequence, (std::vector<std::string>{"effect:launchApp", "window.Native.workflowAppOpened",
                                                "effect:launchApp", "window.Native.workflowAppOpened"}));
  for (const auto& line : result.lines) {
    if (line.value("effect", "") == "launchApp") {
      EXPECT_TRUE(line["path"].get<std::string>().ends_with(".desktop"));
    }
  }
  EXPECT_EQ(result.Payloads("window.Native.workflowAppOpened").at(1),
            (Json{{"success", true}, {"name", "Photoshop"}, {"message", ""}}))
      << "a key that is not pixcake means Photoshop";
}

TEST(WorkflowApps, MissingApplicationsAndComfyDesktopFromItsFallbackPlace) {
  AppSandbox box;
  // Not runnable: a data file where an application could be is none.
  Plant(box.home / ".local/bin/pixcake", "#!/bin/sh\n");
  Plant(box.home / "Applications/ComfyUI.AppImage", "#!/bin/sh\n", fs::perms::owner_all);
  auto result = RunHeadless(std::vector<Json>{{{"action", "openWorkflowApp"}, {"app", "pixcake"}},
                                              {{"action", "openWorkflowApp"}},
                                              {{"action", "refreshComfySetup"}},
                                              {{"action", "openComfyDesktop"}}},
                            box.Options());
  EXPECT_EQ(result.Payloads("window.Native.workflowAppOpened"),
            (std::vector<Json>{{{"success", false}, {"name", "像素蛋糕"},
                                {"message", "未检测到像素蛋糕，你仍可从导出文件夹手动继续"}},
                               {{"success", false}, {"name", "Photoshop"},
                                {"message", "未检测到Photoshop，你仍可从导出文件夹手动继续"}}}));
  EXPECT_EQ(result.Payloads("window.Native.comfySetupState").at(0)["desktopInstalled"], 1);
  auto launched = result.lines;
  std::erase_if(launched, [](const Json& line) { return line.value("effect", "") != "launchApp"; });
  EXPECT_EQ(launched,
            (std::vector<Json>{{{"effect", "launchApp"}, {"path", box.home / "Applications/ComfyUI.AppImage"}}}));
  EXPECT_EQ(result.Payloads("window.Native.comfySetupProgress"),
            (std::vector<Json>{{{"event", "notice"}, {"message", "Comfy Desktop 已打开；请选择本地实例并等待服务启动。"}}}));

  // Without Comfy Desktop, opening it opens the download page instead.
  fs::remove(box.home / "Applications/ComfyUI.AppImage");
  auto download = RunHeadless(std::vector<Json>{{{"action", "openComfyDesktop"}}}, box.Options());
  EXPECT_EQ(download.Sequence(), (std::vector<std::string>{"effect:openURL", "window.Native.comfySetupProgress"}));
  EXPECT_EQ(download.Payloads("window.Native.comfySetupProgress").at(0)["event"], "notice");
}

}  // namespace
}  // namespace tw::integrations
