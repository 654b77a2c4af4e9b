#pragma once
// What the assessment needs to know about the faces in a picture, and the interface of whatever
// finds them. The production detector is DlibFaceDetector; tests script their own faces.
#include "analysis/grey_band.hpp"
#include "analysis/image_metrics.hpp"
#include "library/imaging/decoded_image.hpp"

#include <functional>
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
  // Pixels of the picture the eyes were measured on per pixel of the detector's picture: 1, or
  // more where a face too small there was measured again on a larger decode of the photo.
  double eyeScale = 1;
};

// The photo a picture was made from, upright and larger than the picture: a picture already at
// hand (the one the thumbnail was shrunk from), or the photo decoded again with its long side at
// most the given number of pixels (never upscaled); nullopt when it cannot. Called on the
// detector's thread.
using LargerDecode = std::function<imaging::MaybeImage(int longSide)>;

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

  // The same, where a detector may look again at faces too small in `image` on a larger decode
  // of its photo. Detectors that cannot ignore `larger`.
  virtual FaceDetection Detect(const imaging::DecodedImage& image, const vips::VImage& grey,
                               const LargerDecode& larger) {
    (void)larger;
    return Detect(image, grey);
  }

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
