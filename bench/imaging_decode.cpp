// Decoding speed of the sizes the program asks for most: scan thumbnails (640), analysis images
// (768), previews (2800) and full-size edits. Prints the median of several runs per case.
//
// Build: it links tw_imaging only, e.g.
//   add_executable(imaging_decode_bench imaging_decode.cpp)
//   target_link_libraries(imaging_decode_bench PRIVATE tw_imaging)
// Run: imaging_decode_bench [photos folder] [runs]   (default: tests/data/photos, 7 runs)
#include "library/imaging/decoding.hpp"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using tw::imaging::MaybeImage;

struct Case {
  std::string label;
  std::function<MaybeImage()> decode;
};

void Measure(const Case& benchCase, int runs) {
  std::vector<double> milliseconds;
  std::vector<double> cpuMilliseconds;  // all threads; steadier than wall time on a shared machine
  std::string size = "none";
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    std::clock_t cpuStart = std::clock();
    MaybeImage image = benchCase.decode();
    cpuMilliseconds.push_back(1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
    milliseconds.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (image) size = std::to_string(image->width()) + "x" + std::to_string(image->height());
  }
  std::sort(milliseconds.begin(), milliseconds.end());
  std::sort(cpuMilliseconds.begin(), cpuMilliseconds.end());
  std::printf("%-44s %-10s wall median %7.1f ms (min %7.1f)   cpu median %7.1f ms\n", benchCase.label.c_str(),
              size.c_str(), milliseconds[milliseconds.size() / 2], milliseconds.front(),
              cpuMilliseconds[cpuMilliseconds.size() / 2]);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tw::imaging;
  std::string folder = argc > 1 ? argv[1] : std::string(TIDEWICK_SOURCE_DIR) + "/tests/data/photos";
  int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  auto photo = [&](const char* name) { return folder + "/" + name; };
  const std::string jpeg24 = photo("nikon-d5300-6000x4000.jpg");
  const std::string cr3 = photo("canon-r6-container-with-preview.CR3");
  const std::string cr2 = photo("canon-30d-landscape.CR2");
  const std::string heic = photo("iphone-colorchecker.heic");

  // The first decode loads libvips' modules; keep it out of the figures.
  CreateThumbnail(photo("orientation-1.jpg"), 64);

  std::vector<Case> cases = {
      {"24 MP JPEG thumbnail 640", [&] { return CreateThumbnail(jpeg24, 640); }},
      {"24 MP JPEG thumbnail 768", [&] { return CreateThumbnail(jpeg24, 768); }},
      {"24 MP JPEG full edit image", [&] { return CreateFullEditImage(jpeg24, false); }},
      {"CR3 (R6 container) thumbnail 640", [&] { return CreateThumbnail(cr3, 640); }},
      {"CR3 (R6 container) thumbnail 768", [&] { return CreateThumbnail(cr3, 768); }},
      {"CR3 (R6 container) rendered 2800, lens", [&] { return CreateRenderedImage(cr3, 2800, true); }},
      {"CR2 (30D) thumbnail 640", [&] { return CreateThumbnail(cr2, 640); }},
      {"CR2 (30D) rendered 768, lens (half size)", [&] { return CreateRenderedImage(cr2, 768, true); }},
      {"CR2 (30D) rendered 2800, lens", [&] { return CreateRenderedImage(cr2, 2800, true); }},
      {"CR2 (30D) full edit image, lens", [&] { return CreateFullEditImage(cr2, true); }},
      {"HEIC 12 MP thumbnail 640", [&] { return CreateThumbnail(heic, 640); }},
  };
  for (const Case& benchCase : cases) Measure(benchCase, runs);
  return 0;
}
