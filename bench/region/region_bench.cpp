// Time to a 100 % region of a photo, as the photoRegion action prepares it on its worker: cold (a
// fresh region cache, the photo in the page cache) and cached, for a loupe-sized rectangle at the
// top, the middle and the bottom of the picture, and at 200 %. Median and worst of N rounds.
//   region_bench [PHOTO] [ROUNDS]     (default: the 24 MP sample JPEG, 7 rounds)
#include "library/photo_region.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

double Milliseconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

struct Timing {
  double median = 0;
  double worst = 0;
};

Timing Summary(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times.back()};
}

}  // namespace

int main(int argc, char** argv) {
  const std::string photo = argc > 1 ? argv[1] : TIDEWICK_SOURCE_DIR "/tests/data/photos/nikon-d5300-6000x4000.jpg";
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  struct Case {
    const char* name;
    tw::Json body;
  };
  const std::vector<Case> cases = {
      {"1600x1000 top, 100 %", {{"x", 2200}, {"y", 0}, {"width", 1600}, {"height", 1000}, {"scale", 1}}},
      {"1600x1000 middle, 100 %", {{"x", 2200}, {"y", 1500}, {"width", 1600}, {"height", 1000}, {"scale", 1}}},
      {"1600x1000 bottom, 100 %", {{"x", 2200}, {"y", 3000}, {"width", 1600}, {"height", 1000}, {"scale", 1}}},
      {"800x500 middle, 200 %", {{"x", 2600}, {"y", 1750}, {"width", 800}, {"height", 500}, {"scale", 2}}},
  };
  std::printf("%s, %d rounds\n%-26s %18s %18s\n", photo.c_str(), rounds, "region", "cold ms (med/max)",
              "cached ms (med/max)");
  for (const Case& entry : cases) {
    tw::Json body = entry.body;
    body["id"] = "bench";
    body["path"] = photo;
    std::vector<double> cold, cached;
    for (int round = 0; round < rounds; ++round) {
      const fs::path support = fs::temp_directory_path() / ("tidewick-region-bench-" + std::to_string(round));
      fs::remove_all(support);
      auto start = std::chrono::steady_clock::now();
      std::optional<tw::Json> answer = tw::library::PreparePhotoRegion(body, support.string(), true);
      cold.push_back(Milliseconds(start));
      if (!answer || !answer->contains("url")) {
        std::fprintf(stderr, "no region: %s\n", answer ? answer->dump().c_str() : "no answer");
        return 1;
      }
      start = std::chrono::steady_clock::now();
      tw::library::PreparePhotoRegion(body, support.string(), true);
      cached.push_back(Milliseconds(start));
      fs::remove_all(support);
    }
    Timing c = Summary(cold), h = Summary(cached);
    std::printf("%-26s %8.1f / %7.1f %8.1f / %7.1f\n", entry.name, c.median, c.worst, h.median, h.worst);
  }
  return 0;
}
