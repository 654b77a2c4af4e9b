#include "analysis/dlib_face_detector.hpp"

#include "analysis/assessment_rules.hpp"
#include "analysis/exact_resampling.hpp"
#include "analysis/face_scores.hpp"
#include "analysis/face_shape.hpp"
#include "analysis/hog_model.hpp"
#include "analysis/image_metrics.hpp"
#include "analysis/landmark_model.hpp"

#include <dlib/image_processing.h>
#include <dlib/image_processing/object_detector.h>
#include <dlib/image_processing/scan_fhog_pyramid.h>
#include <dlib/image_transforms.h>

#include <algorithm>
#include <cmath>
#include <sstream>

namespace tw::analysis {
namespace {

// Detections down to this HOG score are considered; below 0 about half of them are faces, so
// those must also show skin (below). Faces looking down or half hidden score there.
constexpr double kWeakestScore = -0.5;
constexpr double kWeakDetectionSkinShare = 0.3;

// Landmarks are fitted on upright (roll undone), upscaled crops of the face, where its box is at
// least 220 px: the model places points on whole pixels, which are then fractions of a thumbnail
// pixel. A single fit moves the lids by about half a thumbnail pixel with every resampling (a
// large share of a shut eye's height), so fits at two scales are averaged.
constexpr double kFitFaceSides[] = {220, 270};
// The crop the eyes are read on; a face larger than this keeps its own size.
constexpr double kEyeCropFaceSide = 240;
// Crops reach this many box sides around the face, so the model sees the whole head outline.
constexpr double kCropMargin = 1.6;

// Lips apart by this share of the mouth's width: a wide laugh (see EyeDoubt).
constexpr double kWideLaughOpening = 0.3;

constexpr unsigned kQualityGridMaximum = 96;

// Faces under this side in the picture are read from upscaled pixels; where the photo holds them
// larger they are measured again on a larger decode (LookCloser), made large enough that the
// smallest of them reaches this side, at most kLargestCloserScale times the picture's size. At
// most kMostFacesLookedCloser faces per photo are measured again, largest first, which bounds the
// work to one decode and four landmark fits.
constexpr double kCloserFaceSide = 96;
constexpr double kLargestCloserScale = 4;
constexpr std::size_t kMostFacesLookedCloser = 4;
// The crop around each: this many face sides on every side of its box.
constexpr double kCloserMargin = 0.6;

// dlib's frontal face detector: its five HOG filters, scanning dlib's own pyramid levels.
using HogFaceDetector = dlib::object_detector<dlib::scan_fhog_pyramid<PyramidDownSixths>>;

struct UprightCrop {
  dlib::chip_details place;
  GreyPicture pixels;
  dlib::drectangle faceBox;  // where the detection box lies in the crop
};

// The face turned upright by `roll`, its box drawn at faceSide pixels (never fewer than it has).
UprightCrop CropUpright(const GreyPicture& grey, const dlib::drectangle& box, double roll, double faceSide) {
  faceSide = std::max(faceSide, std::ceil(box.width()));
  const double side = std::round(faceSide * kCropMargin);
  UprightCrop crop;
  crop.place = dlib::chip_details(
      dlib::centered_drect(dlib::center(box), box.width() * kCropMargin, box.height() * kCropMargin),
      dlib::chip_dims(unsigned(side), unsigned(side)), roll);
  dlib::extract_image_chip(grey, crop.place, crop.pixels);
  crop.faceBox = dlib::centered_drect(dlib::dpoint(side / 2, side / 2), faceSide, faceSide);
  return crop;
}

// The grey band (GreyBand's result) in dlib's picture type.
GreyPicture ToDlibGrey(const vips::VImage& grey) {
  std::size_t size = 0;
  void* memory = grey.write_to_memory(&size);
  const int width = grey.width(), height = grey.height();
  GreyPicture picture(height, width);
  const auto* bytes = static_cast<const unsigned char*>(memory);
  for (int y = 0; y < height; ++y) std::copy_n(bytes + std::size_t(y) * width, width, &picture[y][0]);
  g_free(memory);
  return picture;
}

FaceShape ToShape(const dlib::full_object_detection& detection,
                  const dlib::pyramid_down<2>* fromDoubled) {
  FaceShape shape;
  for (unsigned long i = 0; i < detection.num_parts() && i < shape.size(); ++i) {
    dlib::dpoint point = detection.part(i);
    if (fromDoubled) point = fromDoubled->point_down(point);
    shape[i] = {point.x(), point.y()};
  }
  return shape;
}

EyePoints EyeOf(const FaceShape& shape, int first) {
  EyePoints eye;
  for (int i = 0; i < landmarks::kEyePointCount; ++i) eye[i] = shape[first + i];
  return eye;
}

// Pixel rectangle of the box clipped to the picture; empty when nothing is left.
struct PixelArea {
  int left = 0, top = 0, width = 0, height = 0;
};
PixelArea Clip(double left, double top, double width, double height, int pictureWidth, int pictureHeight) {
  const int x0 = std::max(0, int(std::floor(left)));
  const int y0 = std::max(0, int(std::floor(top)));
  const int x1 = std::min(pictureWidth, int(std::ceil(left + width)));
  const int y1 = std::min(pictureHeight, int(std::ceil(top + height)));
  if (x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

double SkinShareOfCentre(const vips::VImage& picture, const dlib::drectangle& box) {
  if (picture.bands() < 3) return 0;
  // Cheeks and nose: the middle half across, from under the eyes to above the chin.
  const PixelArea area = Clip(box.left() + 0.25 * box.width(), box.top() + 0.3 * box.height(),
                              0.5 * box.width(), 0.5 * box.height(), picture.width(), picture.height());
  if (area.width == 0) return 0;
  vips::VImage crop = picture.extract_area(area.left, area.top, area.width, area.height);
  if (crop.bands() > 3) crop = crop.extract_band(0, vips::VImage::option()->set("n", 3));
  std::size_t size = 0;
  void* memory = crop.cast(VIPS_FORMAT_UCHAR).write_to_memory(&size);
  const double share = SkinShare(static_cast<const std::uint8_t*>(memory), size / 3);
  g_free(memory);
  return share;
}

struct FaceLight {
  double sharpness = 0;
  double meanGrey = 0.5;
  double clippedShare = 0;
};

// Sharpness and exposure of the face at its own resolution (never upsampled), for the capture
// quality.
FaceLight MeasureFaceLight(const vips::VImage& picture, const dlib::drectangle& box) {
  FaceLight light;
  const PixelArea area = Clip(box.left(), box.top(), box.width(), box.height(), picture.width(), picture.height());
  if (area.width < 3 || area.height < 3) return light;
  const unsigned side = std::min<unsigned>(kQualityGridMaximum, unsigned(std::min(area.width, area.height)));
  const GreyGrid grid = GrayPixels(picture.extract_area(area.left, area.top, area.width, area.height), side);
  if (grid.empty()) return light;
  double sum = 0, clipped = 0;
  for (std::uint8_t value : grid) {
    sum += value;
    if (value >= 250 || value <= 5) clipped += 1;
  }
  light.sharpness = LaplacianVariance(grid, side, side);
  light.meanGrey = sum / double(grid.size()) / 255.0;
  light.clippedShare = clipped / double(grid.size());
  return light;
}

// Outline points from the chip into the face box's frame: 0..1 across the box, lower-left origin.
EyeRegion ToBoxFrame(const EyePoints& outline, const dlib::drectangle& chipBox) {
  EyeRegion region;
  for (const ShapePoint& p : outline) {
    region.push_back({(p.x - chipBox.left()) / chipBox.width(),
                      1.0 - (p.y - chipBox.top()) / chipBox.height()});
  }
  return region;
}

struct MeasuredFace {
  DetectedFace face;
  FaceDiagnostics numbers;
};

// Pose and eye outlines of the face in `box` of `grey`, turned upright by `roll` (a first
// estimate from a fit on the detection). Fills the pose, mouth and eye fields of `measured`.
void MeasureLandmarks(const dlib::shape_predictor& model, const GreyPicture& grey, const dlib::drectangle& box,
                      double roll, MeasuredFace& measured) {
  FaceShape fitted{};
  for (double faceSide : kFitFaceSides) {
    const UprightCrop crop = CropUpright(grey, box, roll, faceSide);
    const FaceShape shape = ToShape(model(crop.pixels, dlib::rectangle(crop.faceBox)), nullptr);
    const dlib::point_transform_affine toPicture = dlib::inv(dlib::get_mapping_to_chip(crop.place));
    for (std::size_t i = 0; i < shape.size(); ++i) {
      const dlib::dpoint inPicture = toPicture(dlib::dpoint(shape[i].x, shape[i].y));
      fitted[i].x += inPicture.x() / std::size(kFitFaceSides);
      fitted[i].y += inPicture.y() / std::size(kFitFaceSides);
    }
  }
  const UprightCrop eyeCrop = CropUpright(grey, box, roll, kEyeCropFaceSide);
  const dlib::point_transform_affine toEyeCrop = dlib::get_mapping_to_chip(eyeCrop.place);
  FaceShape upright;
  for (std::size_t i = 0; i < fitted.size(); ++i) {
    const dlib::dpoint inCrop = toEyeCrop(dlib::dpoint(fitted[i].x, fitted[i].y));
    upright[i] = {inCrop.x(), inCrop.y()};
  }

  FaceDiagnostics& numbers = measured.numbers;
  numbers.roll = roll;
  numbers.yaw = YawFromNose(upright);
  numbers.mouthOpening = MouthOpening(upright);
  const EyeDoubt doubt = numbers.mouthOpening >= kWideLaughOpening ? EyeDoubt::SqueezedByLaugh : EyeDoubt::None;
  const GreyPicture& pixels = eyeCrop.pixels;
  const GreyView view{&pixels[0][0], int(pixels.nc()), int(pixels.nr()), int(pixels.nc())};
  const auto pictureLeft =
      RefineEyeOutline(view, EyeOf(upright, landmarks::kFirstEyeFirst), doubt, &numbers.pictureLeftEye);
  const auto pictureRight =
      RefineEyeOutline(view, EyeOf(upright, landmarks::kSecondEyeFirst), doubt, &numbers.pictureRightEye);

  DetectedFace& face = measured.face;
  face.yaw = numbers.yaw;
  face.roll = roll;
  // The person's left eye is the one on the picture's right.
  face.leftEye.reset();
  face.rightEye.reset();
  if (pictureRight) face.leftEye = ToBoxFrame(*pictureRight, eyeCrop.faceBox);
  if (pictureLeft) face.rightEye = ToBoxFrame(*pictureLeft, eyeCrop.faceBox);
}

// Box, confidence, pose, eye outlines and capture quality of one detection.
MeasuredFace MeasureFace(const dlib::shape_predictor& model, const GreyPicture& grey, const GreyPicture& doubled,
                         const dlib::pyramid_down<2>& pyramid, const dlib::rect_detection& detection,
                         const vips::VImage& greyImage) {
  const dlib::drectangle box = pyramid.rect_down(dlib::drectangle(detection.rect));
  // A first fit on the doubled picture gives the roll the crops undo.
  const double roll = RollFromEyes(ToShape(model(doubled, detection.rect), &pyramid));
  MeasuredFace measured;
  MeasureLandmarks(model, grey, box, roll, measured);
  FaceDiagnostics& numbers = measured.numbers;
  numbers.hogScore = detection.detection_confidence;
  numbers.sidePixels = box.width();

  DetectedFace& face = measured.face;
  face.box = {box.left() / greyImage.width(), 1.0 - (box.top() + box.height()) / greyImage.height(),
              box.width() / greyImage.width(), box.height() / greyImage.height()};
  face.confidence = DetectionConfidence(detection.detection_confidence);

  const FaceLight light = MeasureFaceLight(greyImage, box);
  CaptureInputs capture;
  capture.sharpness = light.sharpness;
  capture.sidePixels = box.width();
  capture.yaw = numbers.yaw;
  capture.roll = roll;
  capture.meanGrey = light.meanGrey;
  capture.clippedShare = light.clippedShare;
  capture.detectionConfidence = face.confidence;
  numbers.captureQuality = CaptureQuality(capture);
  return measured;
}

// Faces that may be main faces (see the assessment) but are small in the picture, largest first,
// at most kMostFacesLookedCloser of them.
std::vector<std::size_t> FacesToLookCloser(const std::vector<MeasuredFace>& faces, double pictureWidth,
                                           double pictureHeight) {
  double largestArea = 0;
  for (const MeasuredFace& measured : faces) {
    largestArea = std::max(largestArea, measured.face.box.width * measured.face.box.height);
  }
  std::vector<std::size_t> chosen;
  for (std::size_t i = 0; i < faces.size(); ++i) {
    const FaceBox& box = faces[i].face.box;
    const bool small = std::min(box.width * pictureWidth, box.height * pictureHeight) < kCloserFaceSide;
    if (small && box.width * box.height >= rules::kMainFaceAreaShare * largestArea) chosen.push_back(i);
  }
  std::sort(chosen.begin(), chosen.end(), [&faces](std::size_t a, std::size_t b) {
    return faces[a].face.box.width * faces[a].face.box.height > faces[b].face.box.width * faces[b].face.box.height;
  });
  if (chosen.size() > kMostFacesLookedCloser) chosen.resize(kMostFacesLookedCloser);
  return chosen;
}

// Measures the chosen small faces again on a larger decode of the photo, each on a crop around it
// there: same landmarks, same eye reading, on real pixels instead of upscaled ones. A face keeps
// its first measurement when the decode fails, is no larger than the picture, or leaves it under
// the eye check's size.
void LookCloser(const dlib::shape_predictor& model, const LargerDecode& larger, int pictureWidth,
                int pictureHeight, std::vector<MeasuredFace>& faces) {
  const std::vector<std::size_t> chosen = FacesToLookCloser(faces, pictureWidth, pictureHeight);
  if (chosen.empty()) return;
  double smallestSide = kCloserFaceSide;
  for (std::size_t i : chosen) {
    const FaceBox& box = faces[i].face.box;
    smallestSide = std::min({smallestSide, box.width * pictureWidth, box.height * pictureHeight});
  }
  const double wantedScale = std::clamp(kCloserFaceSide / std::max(smallestSide, 1.0), 1.0, kLargestCloserScale);
  const int longSide = int(std::lround(std::max(pictureWidth, pictureHeight) * wantedScale));
  const imaging::MaybeImage decoded = larger(longSide);
  if (!decoded || decoded->width() <= pictureWidth) return;
  const double scale = double(decoded->width()) / pictureWidth;
  for (std::size_t i : chosen) {
    MeasuredFace& measured = faces[i];
    const FaceBox& box = measured.face.box;
    const double width = box.width * pictureWidth * scale, height = box.height * pictureHeight * scale;
    if (std::min(width, height) < kFaceMinimumPixels) continue;
    const double left = box.x * pictureWidth * scale;
    const double top = (1 - box.y - box.height) * pictureHeight * scale;
    // Enough around the face for the upright crops at any roll the eye check accepts.
    const PixelArea area = Clip(left - kCloserMargin * width, top - kCloserMargin * height,
                                (1 + 2 * kCloserMargin) * width, (1 + 2 * kCloserMargin) * height,
                                decoded->width(), decoded->height());
    if (area.width < 3 || area.height < 3) continue;
    GreyPicture crop;
    try {
      crop = ToDlibGrey(GreyBand(decoded->extract_area(area.left, area.top, area.width, area.height)));
    } catch (const vips::VError&) {
      continue;
    }
    const dlib::drectangle faceInCrop(left - area.left, top - area.top, left - area.left + width - 1,
                                      top - area.top + height - 1);
    const double roll = RollFromEyes(ToShape(model(crop, dlib::rectangle(faceInCrop)), nullptr));
    MeasuredFace closer = measured;
    MeasureLandmarks(model, crop, faceInCrop, roll, closer);
    // Only the eyes are taken from here: the pose stays the one every face was measured with, so
    // looking closer never turns a face the eye check accepted into one it refuses.
    closer.face.yaw = measured.face.yaw;
    closer.face.roll = measured.face.roll;
    closer.numbers.yaw = measured.numbers.yaw;
    closer.numbers.roll = measured.numbers.roll;
    closer.face.eyeScale = scale;
    measured = closer;
  }
}

// Building the detector from its serialised form computes its separable filters; each thread copies
// the one built here instead. The serialised form names no pyramid, so it loads into our scanner.
const HogFaceDetector& HogDetectorPrototype() {
  static const HogFaceDetector prototype = [] {
    std::istringstream serialised{std::string(SerialisedFrontalFaceDetector())};
    HogFaceDetector detector;
    dlib::deserialize(detector, serialised);
    return detector;
  }();
  return prototype;
}

}  // namespace

struct DlibFaceDetector::State {
  std::string modelPath;
  HogFaceDetector detector = HogDetectorPrototype();
  std::vector<FaceDiagnostics> diagnostics;
};

DlibFaceDetector::DlibFaceDetector(std::string modelPath) : state_(std::make_unique<State>()) {
  state_->modelPath = modelPath.empty() ? DefaultFaceLandmarkModelPath() : std::move(modelPath);
}

DlibFaceDetector::~DlibFaceDetector() = default;

const std::vector<FaceDiagnostics>& DlibFaceDetector::LastDiagnostics() const {
  return state_->diagnostics;
}

FaceDetection DlibFaceDetector::Detect(const imaging::DecodedImage& image, const vips::VImage& grey) {
  return Detect(image, grey, LargerDecode());
}

FaceDetection DlibFaceDetector::Detect(const imaging::DecodedImage& image, const vips::VImage& grey,
                                       const LargerDecode& larger) {
  state_->diagnostics.clear();
  if (!image.get_image() || image.width() <= 0 || image.height() <= 0) return {};

  FaceDetection result;
  std::vector<FaceDiagnostics> diagnostics;
  try {
    imaging::EnsureVipsStarted();
    const GreyPicture picture = ToDlibGrey(grey);
    GreyPicture doubled;
    const dlib::pyramid_down<2> pyramid;
    DoublePicture(picture, doubled);
    std::vector<dlib::rect_detection> found;
    state_->detector(doubled, found, kWeakestScore);
    std::vector<MeasuredFace> measuredFaces;
    // Fetched only now: the first photos' scans run while another thread may still be reading it.
    const std::shared_ptr<const dlib::shape_predictor> model = SharedFaceLandmarkModel(state_->modelPath);
    if (!model) return {};

    for (const dlib::rect_detection& detection : found) {
      const dlib::drectangle box = pyramid.rect_down(dlib::drectangle(detection.rect));
      if (box.width() <= 0) continue;
      if (detection.detection_confidence < 0 &&
          SkinShareOfCentre(image, box) < kWeakDetectionSkinShare) {
        continue;
      }

      measuredFaces.push_back(MeasureFace(*model, picture, doubled, pyramid, detection, grey));
    }
    if (larger) LookCloser(*model, larger, grey.width(), grey.height(), measuredFaces);
    for (MeasuredFace& measured : measuredFaces) {
      result.captureQualities.push_back(measured.numbers.captureQuality);
      result.faces.push_back(std::move(measured.face));
      diagnostics.push_back(measured.numbers);
    }
  } catch (const std::exception&) {
    return {};
  }
  result.succeeded = true;
  state_->diagnostics = std::move(diagnostics);
  return result;
}

FaceDetector& ThreadFaceDetector() {
  thread_local DlibFaceDetector detector;
  return detector;
}

}  // namespace tw::analysis
