// The detector's resampled pictures must be dlib's own, byte for byte: the HOG scores, and so
// every face found, depend on them.
#include "analysis/exact_resampling.hpp"

#include <dlib/image_transforms.h>
#include <gtest/gtest.h>

#include <random>
#include <utility>

namespace tw::analysis {
namespace {

using Picture = dlib::array2d<unsigned char>;

Picture RandomPicture(long rows, long columns, std::mt19937& random) {
  Picture picture(rows, columns);
  std::uniform_int_distribution<int> value(0, 255);
  for (long r = 0; r < rows; ++r) {
    for (long c = 0; c < columns; ++c) picture[r][c] = static_cast<unsigned char>(value(random));
  }
  return picture;
}

void ExpectSamePictures(const Picture& ours, const Picture& theirs) {
  ASSERT_EQ(ours.nr(), theirs.nr());
  ASSERT_EQ(ours.nc(), theirs.nc());
  long differing = 0;
  for (long r = 0; r < ours.nr(); ++r) {
    for (long c = 0; c < ours.nc(); ++c) differing += ours[r][c] != theirs[r][c];
  }
  EXPECT_EQ(differing, 0) << "of " << ours.size() << " pixels";
}

void ExpectSameAsDlib(const Picture& picture) {
  Picture ours, theirs;
  DoublePicture(picture, ours);
  dlib::pyramid_up(picture, theirs, dlib::pyramid_down<2>());
  ExpectSamePictures(ours, theirs);
}

TEST(ExactResampling, DoublingMatchesDlibOnEveryShape) {
  std::mt19937 random(20261207);
  // Analysis pictures both ways up, and the small and odd shapes where dlib's four-wide path
  // ends early or never starts.
  const std::pair<long, long> shapes[] = {{512, 768}, {768, 512}, {768, 576}, {431, 768}, {1, 1}, {1, 9},
                                          {9, 1},     {2, 2},     {3, 5},     {7, 4},     {13, 17}, {64, 65}};
  for (const auto& [rows, columns] : shapes) {
    SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(columns));
    ExpectSameAsDlib(RandomPicture(rows, columns, random));
  }
  std::uniform_int_distribution<long> side(1, 300);
  for (int round = 0; round < 40; ++round) {
    const long rows = side(random), columns = side(random);
    SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(columns));
    ExpectSameAsDlib(RandomPicture(rows, columns, random));
  }
}

TEST(ExactResampling, AnyResizeMatchesDlibAndAnEmptyPictureStaysEmpty) {
  std::mt19937 random(7);
  std::uniform_int_distribution<long> side(1, 200);
  for (int round = 0; round < 60; ++round) {
    const Picture picture = RandomPicture(side(random), side(random), random);
    Picture ours(side(random), side(random)), theirs(ours.nr(), ours.nc());
    SCOPED_TRACE(std::to_string(picture.nr()) + "x" + std::to_string(picture.nc()) + " to " +
                 std::to_string(ours.nr()) + "x" + std::to_string(ours.nc()));
    ResizeGreyLikeDlib(picture, ours);
    dlib::resize_image(picture, theirs);
    ExpectSamePictures(ours, theirs);
  }
  // An empty picture stays empty: nothing to read, nothing written.
  Picture empty, doubled(3, 3), resized(4, 4);
  DoublePicture(empty, doubled);
  EXPECT_EQ(doubled.size(), 0u);
  resized[0][0] = 9;
  ResizeGreyLikeDlib(empty, resized);
  EXPECT_EQ(resized[0][0], 9);
}

TEST(ExactResampling, EveryPyramidLevelMatchesDlib) {
  std::mt19937 random(11);
  Picture ours = RandomPicture(1024, 1536, random);
  Picture theirs;
  dlib::assign_image(theirs, ours);
  const PyramidDownSixths pyramid;
  const dlib::pyramid_down<6> dlibPyramid;
  for (int level = 1; ours.size() > 0 && level <= 30; ++level) {
    SCOPED_TRACE(level);
    pyramid(ours);
    dlibPyramid(theirs);
    ExpectSamePictures(ours, theirs);
    EXPECT_EQ(pyramid.rect_down(dlib::rectangle(0, 0, 99, 99)), dlibPyramid.rect_down(dlib::rectangle(0, 0, 99, 99)));
  }
}

}  // namespace
}  // namespace tw::analysis
