// libFuzzer target: the decoding family on arbitrary photo bytes. The first byte chooses the file
// type the bytes are named as (the decoders go by name and by content); the rest is the file.
#include "base/files.hpp"
#include "library/imaging/decoding.hpp"

#include <array>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    char pattern[] = "/tmp/tidewick-qa-fuzz-photo-XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
  static constexpr std::array<const char*, 6> kExtensions = {"jpg", "png", "tif", "CR3", "webp", "heic"};
  if (size == 0) return 0;
  const std::string path = folder + "/photo." + kExtensions[data[0] % kExtensions.size()];
  if (tw::WriteFileAtomically(path, std::string(reinterpret_cast<const char*>(data + 1), size - 1))) return 0;
  (void)tw::imaging::ImagePixelSize(path);
  if (auto thumbnail = tw::imaging::CreateThumbnail(path, 160)) (void)tw::imaging::EncodeJPEG(*thumbnail, 0.8);
  (void)tw::imaging::CreateRenderedImage(path, 320, /*lensWanted=*/false);
  return 0;
}
