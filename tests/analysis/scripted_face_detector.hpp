#pragma once
// A face detector that reports the faces a test wrote for it.
#include "analysis/face_detector.hpp"

#include <cmath>
#include <utility>

namespace tw::analysis::testing {

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
inline EyeRegion EyeWithAspect(double aspect, double centreX = 0.3) {
  const double halfWidth = 0.1, halfHeight = 0.1 * aspect;
  return {{centreX - halfWidth, 0.6},
          {centreX - 0.03, 0.6 + halfHeight},
          {centreX + 0.03, 0.6 + halfHeight},
          {centreX + halfWidth, 0.6},
          {centreX + 0.03, 0.6 - halfHeight},
          {centreX - 0.03, 0.6 - halfHeight}};
}

// A frontal face with both eyes at the given aspects.
inline DetectedFace FaceAt(FaceBox box, double leftAspect, double rightAspect, float confidence = 0.9f) {
  DetectedFace face;
  face.box = box;
  face.confidence = confidence;
  face.yaw = 0.0;
  face.roll = 0.0;
  face.leftEye = EyeWithAspect(leftAspect, 0.7);
  face.rightEye = EyeWithAspect(rightAspect, 0.3);
  return face;
}

inline FaceDetection Found(std::vector<DetectedFace> faces, std::vector<std::optional<double>> qualities = {}) {
  FaceDetection detection;
  detection.succeeded = true;
  detection.faces = std::move(faces);
  detection.captureQualities = std::move(qualities);
  return detection;
}

}  // namespace tw::analysis::testing
