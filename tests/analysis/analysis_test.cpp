// The analysis of one photo: measures with answers known in advance on pictures built from numbers
// and drawn face shapes, the assessment's rules over scripted faces, and the real detector on sample photos.
#include "analysis/analysis_texts.hpp"
#include "analysis/assessment.hpp"
#include "analysis/assessment_rules.hpp"
#include "analysis/dlib_face_detector.hpp"
#include "analysis/exact_resampling.hpp"
#include "analysis/eye_outline.hpp"
#include "analysis/face_detector.hpp"
#include "analysis/face_scores.hpp"
#include "analysis/face_shape.hpp"
#include "analysis/hog_model.hpp"
#include "analysis/image_metrics.hpp"
#include "analysis/landmark_model.hpp"
#include "library/imaging/decoded_image.hpp"
#include "library/imaging/decoding.hpp"
#include "library/imaging/thumbnail_keeping_loaded.hpp"

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/image_transforms.h>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tw::analysis {
namespace {

using Picture = dlib::array2d<unsigned char>;
using namespace texts;
const std::string kPhotos = std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/";

// An sRGB picture whose three channels all carry greyAt(x, y).
imaging::DecodedImage GreyPicture(int width, int height, const std::function<std::uint8_t(int, int)>& greyAt) {
  imaging::EnsureVipsStarted();
  std::vector<std::uint8_t> grey(std::size_t(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) grey[std::size_t(y) * width + x] = greyAt(x, y);
  const vips::VImage band = vips::VImage::new_from_memory(grey.data(), grey.size(), width, height, 1, VIPS_FORMAT_UCHAR);
  return vips::VImage::bandjoin({band, band, band})
      .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
      .copy_memory();
}

imaging::DecodedImage UniformPicture(int width, int height, std::uint8_t grey) {
  return GreyPicture(width, height, [grey](int, int) { return grey; });
}

TEST(GreyGridMeasures, KnownAnswersOverInteriorSamplesOnly) {
  GreyGrid ramp(20 * 10);  // a ramp's second difference vanishes everywhere
  for (unsigned y = 0; y < 10; ++y)
    for (unsigned x = 0; x < 20; ++x) ramp[y * 20 + x] = std::uint8_t(3 * x + 7 * y);
  struct Case {
    const char* name;
    GreyGrid grid;
    unsigned width, height;
    double laplacianVariance, noise;
  };
  const GreyGrid impulse = {0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0};
  for (const Case& grid : {
           Case{"ramp", ramp, 20, 10, 0, 0},
           // Two interior samples: Laplacians 40 and -10 (mean 15, variance 625); deviations 10 and 2.5.
           Case{"impulse", impulse, 4, 3, 625, 6.25},
           Case{"shorter than promised", impulse, 4, 4, 0, 0}}) {
    EXPECT_DOUBLE_EQ(LaplacianVariance(grid.grid, grid.width, grid.height), grid.laplacianVariance) << grid.name;
    EXPECT_DOUBLE_EQ(NoiseEstimate(grid.grid, grid.width, grid.height), grid.noise) << grid.name;
  }
}

TEST(GrayPixels, StretchesToTheSquareTopRowFirstKeepingGreysAndTurningColoursToTheirLuminance) {
  // 200 × 100: white top half, black bottom half.
  const GreyGrid grid = GrayPixels(GreyPicture(200, 100, [](int, int y) { return y < 50 ? 255 : 0; }), 16);
  ASSERT_EQ(grid.size(), 16u * 16u);
  EXPECT_EQ(std::pair(grid[0], grid[15 * 16 + 15]), std::pair(std::uint8_t(255), std::uint8_t(0)));
  EXPECT_TRUE(GrayPixels(imaging::DecodedImage(), 192).empty());
  const auto solid = [](double r, double g, double b) {
    return vips::VImage::black(10, 10)
        .new_from_image({r, g, b})
        .cast(VIPS_FORMAT_UCHAR)
        .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
  };
  const std::uint8_t green = GrayPixels(solid(0, 255, 0), 4)[5], red = GrayPixels(solid(255, 0, 0), 4)[5],
                     blue = GrayPixels(solid(0, 0, 255), 4)[5];
  EXPECT_TRUE(green > red && red > blue && blue > 0) << int(green) << " " << int(red) << " " << int(blue);
}

TEST(DHash, UniformIsAllZeroDarkeningColumnsAllOnesAndTheFirstComparisonIsTheMostSignificantBit) {
  EXPECT_EQ(DHash(imaging::DecodedImage()), "0");
  // A 9 × 8 picture is its own grid: a brighter (x, y) than its right neighbour sets bit 63 - (8y + x).
  const auto brighterAt = [](int column, int row) {
    return GreyPicture(9, 8, [=](int x, int y) { return std::uint8_t(y == row && x <= column ? 200 : 100); });
  };
  const std::pair<imaging::DecodedImage, const char*> cases[] = {
      {UniformPicture(300, 200, 90), "0000000000000000"},
      // Strictly darker from left to right, whatever the rows.
      {GreyPicture(90, 80, [](int x, int) { return std::uint8_t(250 - 2 * x); }), "ffffffffffffffff"},
      {brighterAt(0, 0), "8000000000000000"},
      {GreyPicture(9, 8, [](int x, int y) { return std::uint8_t(y == 7 && x == 7 ? 200 : 100); }), "0000000000000001"},
      {brighterAt(3, 1), "0010000000000000"},
  };
  for (const auto& [picture, hash] : cases) EXPECT_EQ(DHash(picture), hash);
}

// The ratio itself and the eyes without six points are the assessment's rows.
TEST(EyeAspect, AZeroWidthIsFloored) {
  EyeRegion tall(6, LandmarkPoint{0.4, 0.5});
  tall[0].y = 0.45;
  tall[3].y = 0.55;
  EXPECT_NEAR(EyeAspect(tall), 0.1 / 0.0001, 1.0);
}

TEST(FaceCheckVisible, SizeAndPoseLimits) {
  const FaceBox justLarge{0.3, 0.3, 0.12, 0.16};  // 48 × 48 px on 400 × 300
  const std::tuple<FaceBox, double, double, bool> cases[] = {
      {{0.3, 0.3, 0.5, 0.1599}, 0, 0, false}, {justLarge, 0, 0, true}, {{0.3, 0.3, 0.1199, 0.5}, 0, 0, false},
      {justLarge, 0.45, -0.45, true}, {justLarge, 0.4501, 0, false}, {justLarge, 0, -0.4501, false},
      {justLarge, std::nan(""), 0, false}};
  for (const auto& [box, yaw, roll, visible] : cases) {
    EXPECT_EQ(FaceCheckVisible(400, 300, box, yaw, roll), visible) << box.width << " " << yaw << " " << roll;
  }
}

TEST(FaceRegionSharpness, MeasuresOnlyTheFaceAndNotTooSmallOnes) {
  // Fine stripes in the lower-left quarter, flat elsewhere.
  const auto picture = GreyPicture(400, 300, [](int x, int y) {
    return x < 200 && y >= 150 ? std::uint8_t((x / 8) % 2 ? 230 : 30) : std::uint8_t(128);
  });
  EXPECT_EQ(FaceRegionSharpness(picture, FaceBox{0.3, 0.3, 0.1, 0.1}), -1.0);
  // Half outside on the left: 60 px wide box, only 30 px visible.
  EXPECT_EQ(FaceRegionSharpness(picture, FaceBox{-0.075, 0.3, 0.15, 0.4}), -1.0);
  // Half outside at the top (lower-left origin): 120 px tall box, 60 px visible, 80 px wide.
  EXPECT_EQ(FaceRegionSharpness(picture, FaceBox{0.3, 0.8, 0.2, 0.4}), 0.0);
  EXPECT_EQ(FaceRegionSharpness(imaging::DecodedImage(), FaceBox{0, 0, 1, 1}), -1.0);
  // The lower-left quarter, through the 96 × 96 grid of the whole-picture measure.
  const auto crop = picture.extract_area(0, 150, 200, 150);
  EXPECT_DOUBLE_EQ(FaceRegionSharpness(picture, FaceBox{0, 0, 0.5, 0.5}),
                   LaplacianVariance(GrayPixels(crop, 96), 96, 96));
}

// The detector's resampled pictures must be dlib's own, byte for byte: the HOG scores, and so
// every face found, depend on them.

Picture RandomPicture(long rows, long columns, std::mt19937& random) {
  Picture picture(rows, columns);
  std::uniform_int_distribution<int> value(0, 255);
  for (long r = 0; r < rows; ++r) {
    for (long c = 0; c < columns; ++c) picture[r][c] = static_cast<unsigned char>(value(random));
  }
  return picture;
}

void ExpectSamePictures(const Picture& ours, const Picture& theirs) {
  ASSERT_EQ(std::pair(ours.nr(), ours.nc()), std::pair(theirs.nr(), theirs.nc()));
  EXPECT_TRUE(std::equal(ours.begin(), ours.end(), theirs.begin()));
}

TEST(ExactResampling, DoublingResizingAndEveryPyramidLevelMatchDlib) {
  std::mt19937 random(20261207);
  // Analysis pictures both ways up, and the small and odd shapes where dlib's four-wide path
  // ends early or never starts.
  std::vector<std::pair<long, long>> shapes = {{512, 768}, {768, 512}, {768, 576}, {431, 768}, {1, 1}, {1, 9},
                                               {9, 1},     {2, 2},     {3, 5},     {7, 4},     {13, 17}, {64, 65}};
  std::uniform_int_distribution<long> side(1, 300);
  for (int round = 0; round < 60; ++round) shapes.emplace_back(side(random), side(random));
  for (const auto& [rows, columns] : shapes) {
    const Picture picture = RandomPicture(rows, columns, random);
    Picture doubled, dlibDoubled, resized(side(random), side(random)), dlibResized(resized.nr(), resized.nc());
    SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(columns) + " to " + std::to_string(resized.nr()) + "x" +
                 std::to_string(resized.nc()));
    DoublePicture(picture, doubled);
    dlib::pyramid_up(picture, dlibDoubled, dlib::pyramid_down<2>());
    ExpectSamePictures(doubled, dlibDoubled);
    ResizeGreyLikeDlib(picture, resized);
    dlib::resize_image(picture, dlibResized);
    ExpectSamePictures(resized, dlibResized);
  }
  Picture ours = RandomPicture(1024, 1536, random), theirs;
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
  // An empty picture stays empty: nothing to read, nothing written.
  Picture empty, emptyDoubled(3, 3), untouched(4, 4);
  DoublePicture(empty, emptyDoubled);
  EXPECT_EQ(emptyDoubled.size(), 0u);
  untouched[0][0] = 9;
  ResizeGreyLikeDlib(empty, untouched);
  EXPECT_EQ(untouched[0][0], 9);
}

TEST(FaceScores, ConfidenceIsLogisticOverTheHogScoreAndSkinShareCountsSkinColouredPixels) {
  EXPECT_NEAR(DetectionConfidence(-0.2), 0.5, 1e-6);
  EXPECT_GT(DetectionConfidence(0.5), 0.98);
  // Light skin, dark skin, grey, blue.
  const std::vector<std::uint8_t> pixels = {224, 172, 140, 141, 85, 36, 128, 128, 128, 40, 60, 200};
  EXPECT_DOUBLE_EQ(SkinShare(pixels.data(), 4), 0.5);
  EXPECT_EQ(SkinShare(pixels.data(), 0), 0);
}

TEST(CaptureQuality, FocusGatesTheScore) {
  const double good = CaptureQuality({.sharpness = 400, .sidePixels = 120});
  EXPECT_GT(good, 0.6);
  EXPECT_EQ(CaptureQuality({.sharpness = 0, .sidePixels = 120}), 0);
  // Smaller, turned, badly exposed or doubtful faces score lower.
  for (const CaptureInputs& worse : {CaptureInputs{.sharpness = 400, .sidePixels = 30},
                                     CaptureInputs{.sharpness = 400, .sidePixels = 120, .yaw = 0.6},
                                     CaptureInputs{.sharpness = 400, .sidePixels = 120, .meanGrey = 0.05},
                                     CaptureInputs{.sharpness = 400, .sidePixels = 120, .clippedShare = 0.5},
                                     CaptureInputs{.sharpness = 400, .sidePixels = 120, .detectionConfidence = 0.2f}}) {
    EXPECT_LT(CaptureQuality(worse), good);
  }
}

// A symmetric upright face around x = 100: jaw sides at 55 and 145, eyes at y 80, mouth at y 150.
FaceShape FrontalShape(double noseX = 100, double lipGap = 0) {
  FaceShape shape{};
  for (int i = 0; i <= 16; ++i) shape[i] = {i < 8 ? 55.0 : i > 8 ? 145.0 : 100.0, 80.0 + 8 * (8 - std::abs(i - 8))};
  shape[landmarks::kNoseTip] = {noseX, 120};
  const double eyeXs[] = {-12, -6, 6, 12, 6, -6};
  const double eyeYs[] = {0, -3, -3, 0, 3, 3};
  for (int i = 0; i < 6; ++i) {
    shape[landmarks::kFirstEyeFirst + i] = {75 + eyeXs[i], 80 + eyeYs[i]};
    shape[landmarks::kSecondEyeFirst + i] = {125 + eyeXs[i], 80 + eyeYs[i]};
  }
  shape[landmarks::kMouthLeftCorner] = {80, 150};
  shape[landmarks::kMouthRightCorner] = {120, 150};
  for (int i : {61, 62, 63}) shape[i] = {90 + 10.0 * (i - 61), 150 - lipGap / 2};
  for (int i : {67, 66, 65}) shape[i] = {90 + 10.0 * (67 - i), 150 + lipGap / 2};
  return shape;
}

FaceShape Rotated(const FaceShape& shape, double angle) {
  FaceShape turned = shape;
  for (ShapePoint& p : turned) {
    const double x = p.x - 100, y = p.y - 100;
    p = {100 + x * std::cos(angle) - y * std::sin(angle), 100 + x * std::sin(angle) + y * std::cos(angle)};
  }
  return turned;
}

TEST(FaceShape, YawFollowsTheNoseBetweenTheJawSidesAndRollIsTheEyeLineAngle) {
  EXPECT_NEAR(YawFromNose(FrontalShape()), 0, 1e-12);
  EXPECT_NEAR(RollFromEyes(FrontalShape()), 0, 1e-12);
  // Nose 70 % of the way to the right side of the jaw: atan(1.1 × 0.4).
  const double right = YawFromNose(FrontalShape(100 + 0.2 * 90));
  EXPECT_NEAR(right, std::atan(1.1 * 0.4), 1e-9);
  EXPECT_NEAR(YawFromNose(FrontalShape(100 - 0.2 * 90)), -right, 1e-9);
  // Past the eye-check limit well before the nose reaches the contour, and a folded jaw contour
  // counts as turned away.
  EXPECT_GT(YawFromNose(FrontalShape(100 + 0.25 * 90)), 0.45);
  FaceShape folded = FrontalShape();
  for (int i = 0; i <= 16; ++i) folded[i].x = 100;
  EXPECT_GT(std::fabs(YawFromNose(folded)), 0.45);
  // Turned clockwise in the picture (y down): the eye line descends to the right.
  EXPECT_NEAR(RollFromEyes(Rotated(FrontalShape(), 0.3)), 0.3, 1e-9);
  EXPECT_NEAR(RollFromEyes(Rotated(FrontalShape(), -0.2)), -0.2, 1e-9);
}

TEST(FaceShape, MouthOpeningIsLipGapOverMouthWidth) {
  EXPECT_NEAR(MouthOpening(FrontalShape(100, 0)), 0, 1e-12);
  EXPECT_NEAR(MouthOpening(FrontalShape(100, 12)), 0.3, 1e-12);
  FaceShape collapsed = FrontalShape();
  collapsed[landmarks::kMouthRightCorner] = collapsed[landmarks::kMouthLeftCorner];
  EXPECT_EQ(MouthOpening(collapsed), 0);
}

constexpr int kSide = 260;
constexpr double kSkin = 170;

struct Chip {
  std::vector<std::uint8_t> pixels;
  GreyView view() const { return {pixels.data(), kSide, kSide, kSide}; }
};

Chip Draw(const std::function<double(double, double)>& greyAt) {
  Chip chip;
  chip.pixels.resize(kSide * kSide);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) chip.pixels[y * kSide + x] = std::uint8_t(std::clamp(greyAt(x, y), 0.0, 255.0));
  return chip;
}

// An open eye 60 px wide between (100, 130) and (160, 130): white sclera in a lens-shaped
// opening 20 px high, a dark iris in its middle, thin lid lines.
Chip OpenEye() {
  return Draw([](double x, double y) {
    const double u = (x - 130) / 30;  // -1 .. 1 across the eye
    if (std::fabs(u) > 1) return kSkin;
    const double halfOpening = 10 * (1 - u * u);
    const double dy = std::fabs(y - 130);
    if (std::fabs(dy - halfOpening) < 1.5) return 60.0;  // lid line
    if (dy > halfOpening) return kSkin;
    return std::hypot(x - 130, y - 130) < 10 ? 40.0 : 225.0;
  });
}

// A shut eye: only a 4 px dark lash line along y = 130.
Chip ShutEye() {
  return Draw([](double x, double y) {
    const double u = (x - 130) / 30;
    if (std::fabs(u) > 1) return kSkin;
    return std::fabs(y - 130) < 2 ? 45.0 : kSkin;
  });
}

// Six landmark points with the given height over width.
EyePoints Landmarks(double aspect, double centreX = 130, double centreY = 130) {
  const double half = 30 * aspect;
  return {ShapePoint{centreX - 30, centreY}, {centreX - 10, centreY - half}, {centreX + 10, centreY - half},
          {centreX + 30, centreY},           {centreX + 10, centreY + half}, {centreX - 10, centreY + half}};
}

double Aspect(const EyePoints& points) {
  const auto [left, right] = std::ranges::minmax(points, {}, &ShapePoint::x);
  const auto [top, bottom] = std::ranges::minmax(points, {}, &ShapePoint::y);
  return (bottom.y - top.y) / (right.x - left.x);
}

TEST(EyeOutline, AnOpenEyeKeepsItsLandmarksAndAShutOneSeenNearlyShutIsDrawnShut) {
  const auto outline = RefineEyeOutline(OpenEye().view(), Landmarks(1.0 / 3), EyeDoubt::None);
  ASSERT_TRUE(outline);
  EXPECT_NEAR(Aspect(*outline), 1.0 / 3, 1e-9);
  // A shut eye the landmarks see nearly shut is drawn shut, its lids moved towards the lid line.
  const EyePoints landmarks = Landmarks(0.19);
  const auto shut = RefineEyeOutline(ShutEye().view(), landmarks, EyeDoubt::None);
  ASSERT_TRUE(shut);
  EXPECT_LT(Aspect(*shut), rules::kClosedEyeRatio);
  EXPECT_EQ((*shut)[3].y, landmarks[3].y);
}

TEST(EyeOutline, ThePictureAloneNeverShutsAnEyeTheLandmarksSeeOpenAndLaughingEyesStayInTheReviewBand) {
  const auto seenOpen = RefineEyeOutline(ShutEye().view(), Landmarks(0.30), EyeDoubt::None);
  ASSERT_TRUE(seenOpen);
  EXPECT_GT(Aspect(*seenOpen), rules::kClosedEyeRatio);
  EXPECT_LT(Aspect(*seenOpen), 0.30);
  const auto open = RefineEyeOutline(OpenEye().view(), Landmarks(1.0 / 3), EyeDoubt::SqueezedByLaugh);
  ASSERT_TRUE(open);
  EXPECT_NEAR(Aspect(*open), 0.2, 1e-9);
  const auto shut = RefineEyeOutline(ShutEye().view(), Landmarks(0.19), EyeDoubt::SqueezedByLaugh);
  ASSERT_TRUE(shut);
  EXPECT_GT(Aspect(*shut), rules::kClosedEyeRatio);
  EXPECT_LE(Aspect(*shut), 0.2);
}

TEST(EyeOutline, UnreadableEyesGiveNoOutline) {
  EXPECT_FALSE(RefineEyeOutline(Draw([](double, double) { return kSkin; }).view(), Landmarks(0.3), EyeDoubt::None));
  // Too small to read, or reaching off the crop.
  EyePoints tiny = Landmarks(0.3);
  for (auto& p : tiny) p.x = 130 + (p.x - 130) / 10;
  EXPECT_FALSE(RefineEyeOutline(OpenEye().view(), tiny, EyeDoubt::None));
  EXPECT_FALSE(RefineEyeOutline(OpenEye().view(), Landmarks(0.3, 20, 130), EyeDoubt::None));
  EXPECT_FALSE(RefineEyeOutline(OpenEye().view(), Landmarks(0.3, 130, 250), EyeDoubt::None));
  EXPECT_FALSE(RefineEyeOutline(GreyView{}, Landmarks(0.3), EyeDoubt::None));
}

class ScriptedFaceDetector final : public FaceDetector {
 public:
  explicit ScriptedFaceDetector(FaceDetection script) : script_(std::move(script)) {}
  using FaceDetector::Detect;
  FaceDetection Detect(const imaging::DecodedImage&, const vips::VImage&) override {
    ++calls;
    return script_;
  }
  int calls = 0;

 private:
  FaceDetection script_;
};

// Six outline points whose height over width is `aspect` (width 0.2 of the face box).
EyeRegion EyeWithAspect(double aspect, double centreX = 0.3) {
  const double half = 0.1 * aspect;
  return {{centreX - 0.1, 0.6},        {centreX - 0.03, 0.6 + half}, {centreX + 0.03, 0.6 + half},
          {centreX + 0.1, 0.6},        {centreX + 0.03, 0.6 - half}, {centreX - 0.03, 0.6 - half}};
}

// A face with both eyes at the given aspects, frontal unless posed.
DetectedFace FaceAt(FaceBox box, double leftAspect, double rightAspect, float confidence = 0.9f,
                    std::optional<double> yaw = 0.0, std::optional<double> roll = 0.0) {
  return DetectedFace{box, confidence, yaw, roll, EyeWithAspect(leftAspect, 0.7), EyeWithAspect(rightAspect, 0.3)};
}

FaceDetection Found(std::vector<DetectedFace> faces, std::vector<std::optional<double>> qualities = {}) {
  return FaceDetection{true, std::move(faces), std::move(qualities)};
}

const Json kAllChecks = {{"enabled", {kOverallBlur, kFaceOutOfFocus, kClosedEyes, kOverexposed, kUnderexposed, kTooNoisy}}};

Json Enabled(std::initializer_list<std::string_view> checks) {
  Json names = Json::array();
  for (std::string_view check : checks) names.push_back(check);
  return {{"enabled", names}};
}
Json List(std::initializer_list<std::string_view> texts) { return Enabled(texts)["enabled"]; }

Json Assess(const imaging::DecodedImage& picture, FaceDetection faces, const Json& settings = kAllChecks,
            const std::string& strictness = "标准") {
  ScriptedFaceDetector detector(std::move(faces));
  return AssessPhoto(picture, settings, strictness, detector);
}

// The record's values under the keys of `expected`.
Json Only(const Json& record, const Json& expected) {
  Json picked = Json::object();
  for (const auto& [key, value] : expected.items()) picked[key] = record.value(key, Json("<missing>"));
  return picked;
}

// A face box of `side` px centred at (cx, cy) (fractions, lower-left origin) on a 400 × 300 picture.
FaceBox BoxOnMid(double side, double cx = 0.5, double cy = 0.5) {
  return {cx - side / 800, cy - side / 600, side / 400, side / 300};
}

TEST(Assessment, APhotoWithoutFacesGivesTheTwentyOneKeysWithTheFaceDefaults) {
  const auto mid = UniformPicture(400, 300, 128);
  ScriptedFaceDetector detector(Found({}));
  const Json result = AssessPhoto(mid, kAllChecks, "标准", detector);
  EXPECT_EQ(detector.calls, 1) << "the detector is asked once per photo";
  // A flat picture is blurred by its sharpness alone when no face is there to say otherwise.
  EXPECT_TRUE(result["needsReview"].is_number_integer());
  EXPECT_EQ(result, (Json{{"algorithmVersion", 2}, {"issues", List({kOverallBlur})}, {"brightness", result["brightness"]},
                          {"highlight", 0.0}, {"shadow", 0.0}, {"sharpness", 0.0}, {"noise", result["noise"]},
                          {"faces", 0}, {"mainFaces", 0}, {"eyesChecked", 0}, {"closedEyes", 0},
                          {"faceSharpness", -1.0}, {"faceFocusScore", -1.0}, {"reviewReasons", Json::array()},
                          {"needsReview", 0}, {"faceQuality", 0.65}, {"poseScore", 0.65}, {"compositionScore", 0.55},
                          {"confidence", 0.78}, {"reason", kOverallBlur}, {"hash", DHash(mid)}}));

  // Top quarter white (≥ 250), bottom quarter black (≤ 5), middle grey: the grey grid's measures.
  const auto bands = GreyPicture(192, 192, [](int, int y) { return std::uint8_t(y < 48 ? 255 : y >= 144 ? 0 : 102); });
  const Json measured = Assess(bands, Found({}), Json::object());
  EXPECT_NEAR(measured["highlight"].get<double>(), 0.25, 1e-9);
  EXPECT_NEAR(measured["shadow"].get<double>(), 0.25, 1e-9);
  EXPECT_NEAR(measured["brightness"].get<double>(), (0.25 * 255 + 0.5 * 102) / 255, 0.005);
  const GreyGrid grid = GrayPixels(bands, 192);
  EXPECT_DOUBLE_EQ(measured["sharpness"].get<double>(), LaplacianVariance(grid, 192, 192));
  EXPECT_DOUBLE_EQ(measured["noise"].get<double>(), NoiseEstimate(grid, 192, 192));
}

TEST(Assessment, SharpnessExactlyAtTheMinimumIsNotBlurred) {
  // A 192 × 192 grey picture is its own grid. Thirty impulses of 95 on black, well apart, make
  // the Laplacian sum 0 and its square sum 30 × 20 × 95² = 150 × 190²: a variance of exactly 150.
  imaging::EnsureVipsStarted();
  std::vector<std::uint8_t> pixels(192 * 192, 0);
  for (int i = 0; i < 30; ++i) pixels[(10 + 5 * i) * 192 + 10 + 5 * i] = 95;
  const auto picture = vips::VImage::new_from_memory(pixels.data(), pixels.size(), 192, 192, 1, VIPS_FORMAT_UCHAR)
                           .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W))
                           .copy_memory();
  ASSERT_EQ(Assess(picture, Found({}))["sharpness"], 150.0);
  for (auto [strictness, issues] : {std::pair{"标准", Json::array()}, {"宽松", Json::array()}, {"严格", List({kOverallBlur})}}) {
    EXPECT_EQ(Assess(picture, Found({}), Enabled({kOverallBlur}), strictness)["issues"], issues) << strictness;
  }
}

TEST(Assessment, RulesOfIssuesReviewReasonsScoresAndConfidence) {
  const auto mid = UniformPicture(400, 300, 128);
  // Mid grey and soft everywhere except a 144 px face of fine stripes; the whole-picture grid
  // averages the stripes away, the face grid keeps them.
  const auto soft = GreyPicture(768, 512, [](int x, int y) {
    return std::uint8_t(x >= 312 && x < 456 && y >= 184 && y < 328 ? ((x / 2) % 2 ? 200 : 56) : 128);
  });
  const FaceBox sharpBox{312.0 / 768, 1 - 328.0 / 512, 144.0 / 768, 144.0 / 512};
  const auto clean = GreyPicture(400, 300, [](int x, int y) { return std::uint8_t(60 + ((x / 3 + y / 3) % 2) * 120); });
  const auto bright = UniformPicture(64, 64, 217), dark = UniformPicture(64, 64, 41);
  const auto speckled = GreyPicture(192, 192, [](int x, int y) { return std::uint8_t((x * 7 + y * 13) % 5 == 0 ? 90 : 2); });
  const auto face = [](double left, double right, float confidence = 0.9f) {
    return FaceAt(BoxOnMid(120), left, right, confidence);
  };
  DetectedFace noEye = face(0.3, 0.3), fiveEyePoints = face(0.3, 0.3);
  noEye.leftEye.reset();
  fiveEyePoints.rightEye->pop_back();
  const FaceDetection failed{false, {face(0.15, 0.15)}, {}};  // whatever a failed pass left behind
  const Json closedOnly = Enabled({kClosedEyes}), focusOnly = Enabled({kFaceOutOfFocus}), blurOnly = Enabled({kOverallBlur});
  const Json exposure = Enabled({kOverexposed, kUnderexposed}), none = Enabled({});
  struct Case {
    const char* name;
    const imaging::DecodedImage& picture;
    FaceDetection faces;
    Json settings;
    Json expected;
    const char* strictness = "标准";
  };
  const Case cases[] = {
      {"a sharp face keeps a soft picture clear", soft, Found({FaceAt(sharpBox, 0.3, 0.3)}, {0.8}), kAllChecks,
       {{"issues", Json::array()}}},
      {"a flat face of low quality is out of focus", mid, Found({face(0.3, 0.3)}, {0.2, std::nullopt}), focusOnly,
       {{"faceSharpness", 0.0}, {"faceFocusScore", 0.0}, {"faceQuality", 0.2}, {"issues", List({kFaceOutOfFocus})},
        {"reviewReasons", Json::array()}}},
      {"of good quality it is reviewed", mid, Found({face(0.3, 0.3)}, {0.6}), focusOnly,
       {{"issues", Json::array()}, {"reviewReasons", List({kFaceDetailLow})}}},
      {"without a quality value it counts 0.5", mid, Found({face(0.3, 0.3)}, {std::nullopt}), focusOnly,
       {{"faceQuality", 0.5}, {"reviewReasons", List({kFaceDetailLow})}}},
      {"shut eyes", mid, Found({face(0.15, 0.15)}, {0.8}), kAllChecks,
       {{"eyesChecked", 1}, {"closedEyes", 1}, {"issues", List({kOverallBlur, kClosedEyes})}}},
      {"one eye near the threshold", mid, Found({face(0.15, 0.30)}, {0.8}), closedOnly,
       {{"eyesChecked", 1}, {"closedEyes", 0}, {"reviewReasons", List({kEyesNearThreshold})}}},
      {"both eyes near the threshold", mid, Found({face(0.18, 0.20)}, {0.8}), closedOnly,
       {{"closedEyes", 0}, {"reviewReasons", List({kEyesNearThreshold})}}},
      {"open eyes", mid, Found({face(0.25, 0.25)}, {0.8}), closedOnly, {{"reviewReasons", Json::array()}}},
      {"shut eyes with the check off are counted only", mid, Found({face(0.15, 0.15)}, {0.8}), blurOnly,
       {{"closedEyes", 1}, {"issues", List({kOverallBlur})}, {"reviewReasons", Json::array()}}},
      {"an eye without points", mid, Found({noEye}), closedOnly, {{"reviewReasons", List({kEyesNotVisible})}}},
      {"an eye of five points", mid, Found({fiveEyePoints}), closedOnly, {{"eyesChecked", 0}}},
      {"a tilted head", mid, Found({FaceAt(BoxOnMid(120), 0.15, 0.15, 0.9f, 0.0, -0.5)}), closedOnly,
       {{"closedEyes", 0}, {"reviewReasons", List({kEyesNotVisible})}}},
      {"missing angles count as 0", mid, Found({FaceAt(BoxOnMid(120), 0.15, 0.15, 0.9f, std::nullopt, std::nullopt)}),
       closedOnly, {{"closedEyes", 1}, {"poseScore", 1.0}}},
      {"at a quarter of the largest area a face is a main face", mid,
       Found({FaceAt(FaceBox{0.1, 0.1, 0.25, 0.25}, 0.3, 0.3), FaceAt(FaceBox{0.4, 0.4, 0.5, 0.5}, 0.3, 0.3)}), kAllChecks,
       {{"mainFaces", 2}}},
      {"a 40 px face is too small for eyes and focus", mid, Found({FaceAt(BoxOnMid(40), 0.3, 0.3)}, {0.8}), kAllChecks,
       {{"faceSharpness", -1.0}, {"faceFocusScore", -1.0}, {"reviewReasons", List({kEyesNotVisible, kFaceTooSmallForFocus})}}},
      {"the lowest face sharpness is kept", soft,
       Found({FaceAt(sharpBox, 0.3, 0.3), FaceAt({0.02, 0.6, sharpBox.width, sharpBox.height}, 0.3, 0.3)}), kAllChecks,
       {{"faceSharpness", 0.0}}},
      {"reasons once, in order of first occurrence", mid,
       Found({FaceAt(BoxOnMid(60, 0.2), 0.15, 0.30), FaceAt(BoxOnMid(60, 0.5), 0.3, 0.3, 0.9f, 1.0),
              FaceAt(BoxOnMid(60, 0.8), 0.18, 0.20)},
             {0.8}),
       closedOnly, {{"reviewReasons", List({kEyesNearThreshold, kEyesNotVisible})}, {"needsReview", 1}, {"confidence", 0.55}}},
      {"a clean photo takes its best face's confidence", clean, Found({face(0.3, 0.3, 0.9f)}, {0.8}), none,
       {{"issues", Json::array()}, {"reviewReasons", Json::array()}, {"confidence", double(0.9f)}}},
      {"a weaker face does not lower the floor", clean, Found({face(0.3, 0.3, 0.5f)}), none, {{"confidence", 0.72}}},
      {"dark and speckled: issues in rule order, joined", speckled, Found({}), kAllChecks,
       {{"issues", List({kUnderexposed, kTooNoisy})}, {"reason", std::string(kUnderexposed) + "、" + std::string(kTooNoisy)}}},
      {"0.85 bright at standard, as an unknown strictness", bright, Found({}), exposure,
       {{"issues", List({kOverexposed})}}, "随便"},
      {"0.85 bright when lenient", bright, Found({}), exposure, {{"issues", Json::array()}}, "宽松"},
      {"0.16 dark when strict", dark, Found({}), exposure, {{"issues", List({kUnderexposed})}}, "严格"},
      {"0.16 dark when lenient", dark, Found({}), exposure, {{"issues", Json::array()}}, "宽松"},
      {"a failed detection with the eye check on", mid, failed, closedOnly,
       {{"faces", 0}, {"closedEyes", 0}, {"faceQuality", 0.65}, {"reviewReasons", List({kFaceDetectionIncomplete})}}},
      {"a failed detection with the focus check on", mid, failed, focusOnly,
       {{"reviewReasons", List({kFaceDetectionIncomplete})}}},
      {"a failed detection without face checks", mid, failed, Enabled({kOverallBlur, kOverexposed}),
       {{"reviewReasons", Json::array()}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Only(Assess(c.picture, c.faces, c.settings, c.strictness), c.expected), c.expected);
  }

  // All faces score, main or not: pose (1 + (1 - 0.7 / 1.4)) / 2; composition with the large face
  // on the centre anchor (1) and the small one 0.1886 from (1/3, 2/3).
  const Json scored = Assess(mid, Found({FaceAt(BoxOnMid(150), 0.3, 0.3), FaceAt(BoxOnMid(74, 0.2, 0.8), 0.1, 0.1, 0.9f, 0.7)},
                                        {0.8, 0.6}));
  EXPECT_EQ(Only(scored, {{"faces", 2}, {"mainFaces", 1}, {"eyesChecked", 1}, {"closedEyes", 0}}),
            (Json{{"faces", 2}, {"mainFaces", 1}, {"eyesChecked", 1}, {"closedEyes", 0}}));
  EXPECT_DOUBLE_EQ(scored["faceQuality"].get<double>(), 0.7);
  EXPECT_DOUBLE_EQ(scored["poseScore"].get<double>(), 0.75);
  EXPECT_NEAR(scored["compositionScore"].get<double>(), (2 - std::hypot(0.2 - 1.0 / 3, 0.8 - 2.0 / 3) / 0.48) / 2, 1e-9);
  // The strictness row's K decides what is "below": 150 when strict.
  const double measured = FaceRegionSharpness(soft, sharpBox);
  EXPECT_NEAR(Assess(soft, Found({FaceAt(sharpBox, 0.3, 0.3)}, {0.2}), focusOnly, "严格")["faceFocusScore"].get<double>(),
              measured / (measured + 150), 1e-12);
}

// A dark, soft face of low quality with one eye near the threshold: every rule would speak if asked.
TEST(Assessment, NothingEnabledMeansNoIssuesAndNoReasons) {
  const FaceDetection faces = Found({FaceAt(BoxOnMid(120), 0.15, 0.30)}, {0.1});
  const Json expected = {{"issues", Json::array()}, {"reviewReasons", Json::array()}, {"reason", kNoIssueReason},
                         {"confidence", double(0.9f)}};
  for (const Json& settings : {Json{{"enabled", "闭眼"}}, Json{{"enabled", {1, true, nullptr}}}}) {
    EXPECT_EQ(Only(Assess(UniformPicture(400, 300, 3), faces, settings), expected), expected) << settings.dump();
  }
}

TEST(Assessment, APictureThatCannotBeSampledOrAFileThatMayNotBeReadGivesTheErrorRecord) {
  ScriptedFaceDetector detector(Found({FaceAt(BoxOnMid(120), 0.3, 0.3)}));
  EXPECT_EQ(AssessPhoto(imaging::DecodedImage(), kAllChecks, "标准", detector), Json({{"error", "无法解码照片预览"}}));
  EXPECT_EQ(detector.calls, 0);

  char folder[] = "/tmp/tidewick-analysis-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string photo = std::string(folder) + "/IMG_1.jpg";
  std::filesystem::copy_file(kPhotos + "orientation-1.jpg", photo);
  // Root reads everything; the photo is analysed as another user on this thread.
  int previous = setfsuid(65534);
  Json denied = analyzeURL(photo, kAllChecks, "标准", detector);
  setfsuid(previous);
  std::filesystem::remove_all(folder);
  EXPECT_EQ(denied, Json({{"error", "照片文件没有读取权限"}}));
}

// The real detector on sample photos (what a person sees in them is in tests/data/labels.json).

imaging::DecodedImage Thumbnail(const std::string& name) {
  return imaging::CreateThumbnail(kPhotos + name, 768).value();
}

const Json kEyeAndFocusChecks = {{"enabled", {texts::kClosedEyes, texts::kFaceOutOfFocus}}};

TEST(DlibFaceDetector, TheLinkedInDetectorIsDlibsOwn) {
  const std::string dlibs = dlib::get_serialized_frontal_faces();
  EXPECT_EQ(SerialisedFrontalFaceDetector(), std::string_view(dlibs));
}

TEST(DlibFaceDetector, MissingOrBrokenModelMeansDetectionDidNotRun) {
  const auto picture = UniformPicture(200, 200, 128);
  const FaceDetection detection = DlibFaceDetector("/nonexistent/tidewick/landmarks.dat").Detect(picture);
  EXPECT_FALSE(detection.succeeded || !detection.faces.empty());

  const auto broken = std::filesystem::temp_directory_path() / "tidewick-broken-landmarks.dat";
  std::ofstream(broken) << "not a model";
  EXPECT_FALSE(DlibFaceDetector(broken.string()).Detect(picture).succeeded);
  std::filesystem::remove(broken);

  ::setenv("TIDEWICK_FACE_LANDMARK_MODEL", "/nonexistent/tidewick/other.dat", 1);
  EXPECT_EQ(DefaultFaceLandmarkModelPath(), "/nonexistent/tidewick/other.dat");
  EXPECT_FALSE(DlibFaceDetector().Detect(picture).succeeded);
  ::unsetenv("TIDEWICK_FACE_LANDMARK_MODEL");
}

TEST(DlibFaceDetector, ReportsBoxPoseAndEyesInTheAgreedFrames) {
  const FaceDetection detection = ThreadFaceDetector().Detect(Thumbnail("face-open-portrait-hopper.jpg"));
  ASSERT_EQ(detection.faces.size(), 1u);
  const DetectedFace& face = detection.faces[0];
  // The face sits in the upper middle of the 512 × 600 portrait; y counts from the bottom.
  const double centreX = face.box.x + face.box.width / 2, centreY = face.box.y + face.box.height / 2;
  EXPECT_NEAR(centreX, 0.53, 0.08);
  EXPECT_NEAR(centreY, 0.61, 0.08);
  EXPECT_NEAR(face.box.width * 512, face.box.height * 600, 1.0);  // square in pixels
  EXPECT_GT(face.confidence, 0.9f);
  ASSERT_TRUE(face.yaw && face.roll);
  EXPECT_LT(std::fabs(*face.yaw), 0.3);
  EXPECT_LT(std::fabs(*face.roll), 0.2);
  ASSERT_TRUE(face.leftEye && face.rightEye);
  // The person's left eye is on the picture's right; both sit in the upper half of the box.
  double leftX = 0, rightX = 0;
  for (int i = 0; i < 6; ++i) {
    leftX += (*face.leftEye)[i].x / 6;
    rightX += (*face.rightEye)[i].x / 6;
    EXPECT_GT((*face.leftEye)[i].y, 0.5);
  }
  EXPECT_GT(leftX, rightX);
  EXPECT_GE(EyeAspect(face.leftEye), 0.22);
  EXPECT_GE(EyeAspect(face.rightEye), 0.22);
  ASSERT_EQ(detection.captureQualities.size(), 1u);
  EXPECT_GT(*detection.captureQualities[0], 0.6);
}

// Turned by 15° either way in the picture, the head's roll turns with it (the sign of the yaw is never used).
TEST(DlibFaceDetector, RollFollowsTheHead) {
  const auto portrait = Thumbnail("face-open-portrait-astronaut.png");
  DlibFaceDetector detector;
  // The most confident face: turned pictures show the detector a badge or two as faint faces.
  const auto rollOf = [&detector](const imaging::DecodedImage& picture) {
    const FaceDetection detection = detector.Detect(picture);
    EXPECT_FALSE(detection.faces.empty());
    if (detection.faces.empty()) return 0.0;
    const DetectedFace* best = &detection.faces[0];
    for (const DetectedFace& face : detection.faces)
      if (face.confidence > best->confidence) best = &face;
    return *best->roll;
  };
  const double roll = rollOf(portrait);
  const auto turned = [&portrait](double degrees) {
    return portrait.similarity(vips::VImage::option()->set("angle", degrees)).copy_memory();
  };
  const double clockwise = rollOf(turned(15)), counter = rollOf(turned(-15));
  EXPECT_NEAR(std::fabs(clockwise - roll), 15 * M_PI / 180, 0.07);
  EXPECT_NEAR(std::fabs(counter - roll), 15 * M_PI / 180, 0.07);
  EXPECT_LT((clockwise - roll) * (counter - roll), 0);
}

TEST(Assessment, FindsTheFacesAPersonSeesAndDoesNotCallOpenEyesClosed) {
  const std::pair<const char*, int> photos[] = {
      {"face-open-portrait-hopper.jpg", 1}, {"face-open-portrait-astronaut.png", 1},  // badges are not faces
      {"face-group3-open.jpg", 3},          {"face-group3-open-iso1600.jpg", 3},
      {"flower.webp", 0}};
  for (const auto& [name, faces] : photos) {
    const Json result = AssessPhoto(Thumbnail(name), kEyeAndFocusChecks, "标准", ThreadFaceDetector());
    EXPECT_EQ(std::pair(result["faces"], result["closedEyes"]), std::pair(Json(faces), Json(0))) << name;
    EXPECT_EQ(std::count(result["reviewReasons"].begin(), result["reviewReasons"].end(), kFaceDetectionIncomplete), 0) << name;
  }
}

TEST(AnalyzeURL, ConcurrentCallsAgreeWithOneAtATime) {
  const std::vector<std::string> paths = {kPhotos + "face-open-portrait-hopper.jpg", kPhotos + "face-group3-open.jpg"};
  std::vector<Json> alone;
  for (const auto& path : paths) alone.push_back(analyzeURL(path, kEyeAndFocusChecks, "标准"));
  ASSERT_EQ(alone[0]["faces"], 1);

  std::vector<Json> together(paths.size());
  std::vector<std::thread> workers;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    workers.emplace_back([&, i] { together[i] = analyzeURL(paths[i], kEyeAndFocusChecks, "标准"); });
  }
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(together, alone);
}

TEST(EyeAppearance, SampleEyesLookAsAPersonSeesThem) {
  // Each face by its centre in picture fractions (top-left origin), and whether its eyes are open.
  const std::tuple<const char*, double, double, bool> samples[] = {
      {"face-open-portrait-astronaut.png", 0.43, 0.24, true},
      {"face-open-portrait-hopper.jpg", 0.53, 0.39, true},         // behind glasses
      {"face-group2-girl-closed-laughing.jpg", 0.47, 0.52, true},  // narrow, squinting
      {"face-group3-open.jpg", 0.53, 0.67, true},                  // a small face
      {"face-group3-eyes-downcast-iso6400.jpg", 0.81, 0.22, false}};  // shut, looking down
  DlibFaceDetector detector;
  for (const auto& [photo, centreX, centreY, open] : samples) {
    SCOPED_TRACE(photo);
    const std::string path = kPhotos + photo;
    const imaging::DecodedImage thumbnail = imaging::CreateThumbnail(path, rules::kThumbnailLongSide).value();
    const LargerDecode larger = [&path](int longSide) { return imaging::CreateThumbnail(path, longSide); };
    const FaceDetection detection = detector.Detect(thumbnail, GreyBand(thumbnail), larger);
    const FaceDiagnostics* numbers = nullptr;
    for (std::size_t i = 0; i < detection.faces.size(); ++i) {
      const FaceBox& box = detection.faces[i].box;
      if (centreX >= box.x && centreX <= box.x + box.width && centreY >= 1 - box.y - box.height && centreY <= 1 - box.y) {
        numbers = &detector.LastDiagnostics()[i];
      }
    }
    ASSERT_TRUE(numbers);
    for (const EyeEvidence& eye : {numbers->pictureLeftEye, numbers->pictureRightEye}) {
      ASSERT_GE(eye.reportedAspect, 0);
      EXPECT_EQ(eye.reportedAspect >= rules::kClosedEyeRatio, open) << eye.reportedAspect;
      if (open) EXPECT_EQ(eye.openness, 1.0);
      else EXPECT_LT(eye.openness, 0.75);
    }
  }
}

const Json kEyeCheck = {{"enabled", {texts::kClosedEyes}}};

TEST(CloserLook, TheFortyEightPixelsAreCountedWhereTheEyesWereMeasured) {
  // A 30 px face on a 768 × 512 picture: too small, unless its eyes were measured at twice the size.
  const FaceBox box{0.5, 0.5, 30.0 / 768, 30.0 / 512};
  DetectedFace face = FaceAt(box, 0.15, 0.15);
  EXPECT_EQ(CheckEyes(face, 768, 512), EyeState::NotVisible);
  face.eyeScale = 2;
  EXPECT_EQ(CheckEyes(face, 768, 512), EyeState::Closed);
  face.eyeScale = 1.5;  // 45 px
  EXPECT_EQ(CheckEyes(face, 768, 512), EyeState::NotVisible);
}

// The portrait (its face about 190 px) in a 3600 × 2400 frame: about 40 px in the thumbnail.
TEST(CloserLook, ASmallFaceInALargePhotoHasItsEyesChecked) {
  const std::string photo = std::filesystem::temp_directory_path() / ("tidewick-closer-" + std::to_string(getpid()) + ".jpg");
  imaging::EnsureVipsStarted();
  const vips::VImage portrait = vips::VImage::new_from_file((kPhotos + "face-open-portrait-hopper.jpg").c_str());
  const vips::VImage frame = vips::VImage::black(3600, 2400, vips::VImage::option()->set("bands", 3))
                                 .linear(1, 110)
                                 .cast(VIPS_FORMAT_UCHAR)
                                 .insert(portrait, 1500, 900);
  frame.jpegsave(photo.c_str(), vips::VImage::option()->set("Q", 92));

  DlibFaceDetector detector;
  const auto thumbnail = imaging::CreateThumbnail(photo, rules::kThumbnailLongSide, imaging::Backdrop::Black).value();
  const Json thumbnailOnly = AssessPhoto(thumbnail, kEyeCheck, "标准", detector);
  const Json closer = analyzeURL(photo, kEyeCheck, "标准", detector);
  std::filesystem::remove(photo);

  EXPECT_EQ(Only(thumbnailOnly, {{"faces", 1}, {"eyesChecked", 0}}), (Json{{"faces", 1}, {"eyesChecked", 0}}));
  EXPECT_EQ(Only(closer, {{"faces", 1}, {"eyesChecked", 1}, {"closedEyes", 0}}),
            (Json{{"faces", 1}, {"eyesChecked", 1}, {"closedEyes", 0}}));
  EXPECT_EQ(closer.size(), thumbnailOnly.size());
}

TEST(CloserLook, AJpegIsDecodedOnceForBothPictures) {
  const std::string photo =
      std::filesystem::temp_directory_path() / ("tidewick-closer-turned-" + std::to_string(getpid()) + ".jpg");
  imaging::EnsureVipsStarted();
  vips::VImage stored = vips::VImage::new_from_file((kPhotos + "coffee.png").c_str()).resize(6).copy();
  stored.set("orientation", 6);
  stored.jpegsave(photo.c_str());  // 3600 × 2400 stored, upright 2400 × 3600
  const auto kept = imaging::CreateThumbnailKeepingLoaded(photo, rules::kThumbnailLongSide, imaging::Backdrop::Black);
  const imaging::MaybeImage alone = imaging::CreateThumbnail(photo, rules::kThumbnailLongSide, imaging::Backdrop::Black);
  std::filesystem::remove(photo);
  ASSERT_TRUE(kept && kept->loaded && alone);
  EXPECT_EQ(std::pair(kept->loaded->width(), kept->loaded->height()), std::pair(1200, 1800));  // shrunk by 2 on load
  ASSERT_EQ(std::pair(kept->thumbnail.width(), kept->thumbnail.height()), std::pair(alone->width(), alone->height()));
  EXPECT_EQ((kept->thumbnail - *alone).abs().max(), 0);
  // Upright the same way: the loaded picture shrunk to the thumbnail's size looks like it.
  const vips::VImage loadedSmall = kept->loaded->resize(double(alone->width()) / kept->loaded->width());
  EXPECT_LT((loadedSmall.cast(VIPS_FORMAT_FLOAT) - alone->cast(VIPS_FORMAT_FLOAT)).abs().avg(), 4);

  EXPECT_FALSE(imaging::CreateThumbnailKeepingLoaded(kPhotos + "orientation-6.jpg",
                                                     rules::kThumbnailLongSide, imaging::Backdrop::Black)
                   ->loaded);
}

}  // namespace
}  // namespace tw::analysis
