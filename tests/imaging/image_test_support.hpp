#pragma once
// Helpers of the decoding tests: sample paths, the decoded form, pixel comparisons, a scratch folder.
#include "library/imaging/decoded_image.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace tw::imaging::testing {

inline std::string Photo(const std::string& name) { return std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/" + name; }

// Every decoder hands out this form and nothing else; an upright image carries no orientation.
inline void ExpectDecodedForm(const DecodedImage& image) {
  EXPECT_EQ(std::tuple(image.format(), image.bands(), image.interpretation(), image.get_typeof(VIPS_META_ORIENTATION)),
            std::tuple(VIPS_FORMAT_UCHAR, 3, VIPS_INTERPRETATION_sRGB, GType(0)));
}

inline int LongSide(const DecodedImage& image) { return std::max(image.width(), image.height()); }

// Both pictures squeezed to the same small grid of floats, so that pictures of different sizes compare;
// resize, not thumbnail_image, which would turn a stored image by its orientation tag.
inline vips::VImage SmallGrid(const vips::VImage& image) {
  return image.resize(48.0 / image.width(), vips::VImage::option()->set("vscale", 64.0 / image.height()))
      .cast(VIPS_FORMAT_FLOAT);
}

// Mean absolute difference per sample (0...255) on the small grid.
inline double MeanDifference(const vips::VImage& a, const vips::VImage& b) { return (SmallGrid(a) - SmallGrid(b)).abs().avg(); }

// Correlation of the grey values on the small grid (-1...1): the same scene under a different tone
// rendering (a developed raw against the camera's JPEG) still correlates strongly.
inline double GreyCorrelation(const vips::VImage& a, const vips::VImage& b) {
  const vips::VImage ga = SmallGrid(a.colourspace(VIPS_INTERPRETATION_B_W));
  const vips::VImage gb = SmallGrid(b.colourspace(VIPS_INTERPRETATION_B_W));
  return ((ga - ga.avg()) * (gb - gb.avg())).avg() / (ga.deviate() * gb.deviate());
}

class ScratchFolder {
 public:
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }

 private:
  std::string pattern_ = (std::filesystem::temp_directory_path() / "tidewick-imaging-XXXXXX").string();
  std::string path_ = mkdtemp(pattern_.data());
};

inline std::string ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A JPEG whose header promises 30000 × 30000 pixels: a real (progressive) photo cut right after its
// first scan header, its frame size patched, then scanData and an end marker. Without scan data
// libjpeg would only warn and fill the whole frame with grey.
inline std::string HugeFrameJPEG(const std::string& scanData = "") {
  std::string bytes = ReadBytes(Photo("orientation-1.jpg"));
  bytes.replace(bytes.find("\xFF\xC2") + 5, 4, "\x75\x30\x75\x30");
  size_t scan = bytes.find("\xFF\xDA");
  size_t header = (static_cast<unsigned char>(bytes[scan + 2]) << 8) | static_cast<unsigned char>(bytes[scan + 3]);
  return bytes.substr(0, scan + 2 + header) + scanData + "\xFF\xD9";
}

}  // namespace tw::imaging::testing
