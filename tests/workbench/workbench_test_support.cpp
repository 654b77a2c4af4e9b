#include "workbench_test_support.hpp"

#include "base/files.hpp"
#include "library/imaging/decoding.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>

namespace tw::testing {

Json PanelAnswer(const std::string& path) { return {{"@panel", {{"paths", {path}}}}}; }

HeadlessResult RunPage(const HeadlessSandbox& sandbox, const std::vector<Json>& lines) {
  HeadlessResult result = RunHeadless(lines, sandbox.Options());
  EXPECT_EQ(result.exitStatus, 0) << result.errorOutput;
  return result;
}

vips::VImage ColourImage(std::array<double, 3> rgb, int width, int height) {
  imaging::EnsureVipsStarted();
  return (vips::VImage::black(width, height, vips::VImage::option()->set("bands", 3)) +
          std::vector<double>(rgb.begin(), rgb.end()))
      .cast(VIPS_FORMAT_UCHAR)
      .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

std::string ColourPhoto(const std::string& path, std::array<double, 3> rgb, int width, int height) {
  EXPECT_FALSE(WriteFileAtomically(path, imaging::EncodeJPEG(ColourImage(rgb, width, height), 0.95).value()));
  return path;
}

std::string WaitForFileInSubfolder(const std::string& parent, const std::string& suffix) {
  namespace fs = std::filesystem;
  const int events = inotify_init1(IN_CLOEXEC);
  inotify_add_watch(events, parent.c_str(), IN_CREATE);
  std::string found;
  for (;;) {
    // Watch first, then look: nothing made in between goes unseen.
    for (const auto& folder : fs::directory_iterator(parent)) {
      if (!folder.is_directory()) continue;
      inotify_add_watch(events, folder.path().c_str(), IN_CREATE | IN_MOVED_TO);
      for (const auto& file : fs::directory_iterator(folder.path())) {
        if (file.path().string().ends_with(suffix)) found = file.path();
      }
    }
    pollfd ready{events, POLLIN, 0};
    if (!found.empty() || poll(&ready, 1, 60000) != 1) break;
    char buffer[4096];
    (void)!read(events, buffer, sizeof buffer);
  }
  close(events);
  EXPECT_FALSE(found.empty()) << "nothing ending in " << suffix << " appeared below " << parent;
  return found;
}

}  // namespace tw::testing
