#pragma once
// Small pictures built from numbers, for measurements whose answers are known in advance.
#include "library/imaging/decoded_image.hpp"

#include <cstdint>
#include <functional>
#include <vector>

namespace tw::analysis::testing {

// An sRGB picture whose three channels all carry greyAt(x, y).
inline imaging::DecodedImage GreyPicture(int width, int height,
                                         const std::function<std::uint8_t(int, int)>& greyAt) {
  imaging::EnsureVipsStarted();
  std::vector<std::uint8_t> pixels(std::size_t(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t value = greyAt(x, y);
      std::uint8_t* pixel = &pixels[(std::size_t(y) * width + x) * 3];
      pixel[0] = pixel[1] = pixel[2] = value;
    }
  }
  vips::VImage view = vips::VImage::new_from_memory(pixels.data(), pixels.size(), width, height, 3,
                                                    VIPS_FORMAT_UCHAR);
  return view.copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
      .copy_memory();
}

inline imaging::DecodedImage UniformPicture(int width, int height, std::uint8_t grey) {
  return GreyPicture(width, height, [grey](int, int) { return grey; });
}

}  // namespace tw::analysis::testing
