#pragma once
// What the assessment needs to know about the faces in a picture, and the interface of whatever
// finds them. The production detector is DlibFaceDetector; tests script their own faces.
#include "analysis/grey_band.hpp"
#include "analysis/image_metrics.hpp"
#include "library/imaging/decoded_image.hpp"

#include <optional>
#include <vector>

namespace tw::analysis {

struct DetectedFace {
  FaceBox box;                      // normalised, lower-left origin
  float confidence = 0;             // 0..1, how sure the detector is that this is a face
  std::optional<double> yaw;        // radians, 0 frontal; absent counts as 0
  std::optional<double> roll;       // radians, 0 upright; absent counts as 0
  std::optional<EyeRegion> leftEye;   // points in the face box's frame (EyeAspect reads them)
  std::optional<EyeRegion> rightEye;
};

struct FaceDetection {
  // False when the detector could not run at all (e.g. its model is missing); `faces` is then empty.
  bool succeeded = false;
  std::vector<DetectedFace> faces;
  // Capture quality (0..1) of each face the quality pass saw; not matched to `faces`, and a face
  // without a value is nullopt. Empty when that pass failed.
  std::vector<std::optional<double>> captureQualities;
};

class FaceDetector {
 public:
  virtual ~FaceDetector() = default;
  // `grey` is GreyBand(image): the assessment converts the picture once for all its measurements
  // and the detector. Called on analysis worker threads; one instance serves one thread at a time.
  virtual FaceDetection Detect(const imaging::DecodedImage& image, const vips::VImage& grey) = 0;

  // The same for a caller without the grey picture at hand.
  FaceDetection Detect(const imaging::DecodedImage& image) {
    try {
      return Detect(image, GreyBand(image));
    } catch (const vips::VError&) {
      return {};
    }
  }
};

}  // namespace tw::analysis
