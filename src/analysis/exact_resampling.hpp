#pragma once
// dlib's bilinear resampling of grey pictures, byte for byte, at a fraction of its cost. The HOG
// scan resamples the whole picture once up and then a dozen times down; dlib gathers every
// neighbour through SIMD lane inserts, which cost as much as a fifth of the scan. Every row of a
// resampling reads the same column positions, so those are worked out once per picture here.
// The HOG scores, and so every face found, stay exactly dlib's. Any thread.
#include <dlib/array2d.h>
#include <dlib/image_transforms/image_pyramid.h>

#include <type_traits>

namespace tw::analysis {

using GreyPicture = dlib::array2d<unsigned char>;

// dlib::resize_image(picture, resized) with its default bilinear interpolation, into the size
// `resized` already has.
void ResizeGreyLikeDlib(const GreyPicture& picture, GreyPicture& resized);

// dlib::pyramid_up(picture, doubled, dlib::pyramid_down<2>()).
void DoublePicture(const GreyPicture& picture, GreyPicture& doubled);

// dlib::pyramid_down<6> for the detector's scanner: the same levels and coordinate mappings, with
// grey levels made by ResizeGreyLikeDlib.
class PyramidDownSixths : public dlib::pyramid_down<6> {
 public:
  template <typename InputImage, typename OutputImage>
  void operator()(const InputImage& original, OutputImage& down) const {
    if constexpr (std::is_same_v<InputImage, GreyPicture> && std::is_same_v<OutputImage, GreyPicture>) {
      // dlib's size rule: five sixths, rounded down.
      down.set_size((5 * original.nr()) / 6, (5 * original.nc()) / 6);
      ResizeGreyLikeDlib(original, down);
    } else {
      dlib::pyramid_down<6>::operator()(original, down);
    }
  }

  template <typename Image>
  void operator()(Image& picture) const {
    Image smaller;
    (*this)(picture, smaller);
    swap(smaller, picture);
  }
};

}  // namespace tw::analysis
