// Builds the benchmark corpus deterministically from the sample photographs:
//   make_corpus OUT_FOLDER [--jpeg N] [--cr3 N] [--small N]
// - N 24-megapixel camera JPEGs: the 6000x4000 sample with one of the face photographs placed in it
//   (position, size and exposure vary with the index), saved at quality 92;
// - N copies of the CR3 container sample with distinct names;
// - N small JPEGs (copies of a 308x410 photo) for the warm re-import figure.
// Every file gets a fixed modification date (2024-05-01 plus two seconds per index), so two runs
// give the same corpus, the same sort order and the same cache keys.
#include "library/imaging/decoded_image.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kPhotos = std::string(TIDEWICK_SOURCE_DIR) + "/tests/data/photos/";

void SetDate(const std::string& path, int index) {
  const time_t base = 1714550400;  // 2024-05-01 08:00:00 UTC
  timespec times[2] = {{base + 2 * index, 0}, {base + 2 * index, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

void MakeJpegs(const fs::path& out, int count) {
  const std::vector<std::string> faces = {"face-group3-open.jpg", "face-open-portrait-hopper.jpg",
                                          "face-closeup-open-canon350d.jpg", "face-group3-open-iso1600.jpg",
                                          "face-group2-girl-closed-laughing.jpg", "face-closed-yawn.jpg"};
  vips::VImage base = vips::VImage::new_from_file((kPhotos + "nikon-d5300-6000x4000.jpg").c_str()).copy_memory();
  for (int i = 0; i < count; ++i) {
    std::string path = (out / ("DSC_" + std::to_string(1000 + i) + ".JPG")).string();
    if (fs::exists(path)) continue;
    vips::VImage face = vips::VImage::new_from_file((kPhotos + faces[i % faces.size()]).c_str());
    if (face.bands() > 3) face = face.extract_band(0, vips::VImage::option()->set("n", 3));
    double width = 1400 + 200 * (i % 5);
    face = face.resize(width / face.width(), vips::VImage::option()->set("kernel", VIPS_KERNEL_LANCZOS3));
    int x = 300 + (i * 397) % std::max(1, base.width() - face.width() - 600);
    int y = 200 + (i * 211) % std::max(1, base.height() - face.height() - 400);
    double gain = 0.85 + 0.3 * (i % 7) / 6.0;
    vips::VImage frame = base.insert(face, x, y).linear(gain, 0).cast(VIPS_FORMAT_UCHAR);
    frame.jpegsave(path.c_str(), vips::VImage::option()->set("Q", 92));
    SetDate(path, i);
    std::printf("\r%d/%d 24 MP JPEGs", i + 1, count);
    std::fflush(stdout);
  }
  if (count) std::printf("\n");
}

void CopyMany(const fs::path& out, const std::string& sample, const std::string& prefix, const std::string& extension,
              int count, int dateOffset) {
  for (int i = 0; i < count; ++i) {
    fs::path path = out / (prefix + std::to_string(1000 + i) + extension);
    if (!fs::exists(path)) fs::copy_file(kPhotos + sample, path);
    SetDate(path.string(), dateOffset + i);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_corpus OUT_FOLDER [--jpeg N] [--cr3 N] [--small N]\n");
    return 2;
  }
  tw::imaging::EnsureVipsStarted();
  fs::path out = argv[1];
  int jpegs = 0, raws = 0, small = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    std::string flag = argv[i];
    int value = std::atoi(argv[i + 1]);
    if (flag == "--jpeg") jpegs = value;
    if (flag == "--cr3") raws = value;
    if (flag == "--small") small = value;
  }
  if (jpegs) fs::create_directories(out / "jpeg");
  if (raws) fs::create_directories(out / "cr3");
  if (small) fs::create_directories(out / "small");
  MakeJpegs(out / "jpeg", jpegs);
  if (raws) CopyMany(out / "cr3", "canon-r6-container-with-preview.CR3", "IMG_", ".CR3", raws, 0);
  if (small) CopyMany(out / "small", "orientation-1.jpg", "SMALL_", ".jpg", small, 0);
  std::printf("corpus in %s: %d JPEG, %d CR3, %d small\n", out.c_str(), jpegs, raws, small);
  return 0;
}
