#pragma once
// Helpers of the workbench tests: runs of the headless program with one panel answer, photos of
// one colour, and waiting for the first file a running export writes.
#include "base/json.hpp"
#include "support/headless_process.hpp"

#include <vips/vips8>

#include <array>
#include <string>
#include <vector>

namespace tw::testing {

// The next panel answered with OK and this path.
Json PanelAnswer(const std::string& path);
inline const Json kCancelPanel = {{"@panel", nullptr}};
// What Payloads() gives for one callback: braces alone may read as a list of several values.
inline std::vector<Json> One(Json payload) { return std::vector<Json>(1, std::move(payload)); }

// The messages (panel answers included) through `tidewick --headless` in test mode; checks the exit.
HeadlessResult RunPage(const HeadlessSandbox& sandbox, const std::vector<Json>& lines);

// A picture of one sRGB colour (0…255 per channel), and the same written as a JPEG at path (returned).
vips::VImage ColourImage(std::array<double, 3> rgb, int width, int height);
std::string ColourPhoto(const std::string& path, std::array<double, 3> rgb, int width = 600, int height = 400);

// Blocks until a file whose name ends with `suffix` exists in a folder directly below `parent`
// (inotify, not polling); fails the test after a minute. Returns its path.
std::string WaitForFileInSubfolder(const std::string& parent, const std::string& suffix);

}  // namespace tw::testing
