#pragma once
// The production face detector: dlib's HOG frontal face detector (one pyramid upsample, so faces
// from about 28 px are found) and the 68-point landmark model, refined on an upright, upscaled
// crop of each face. About 110-140 ms per 768-px picture plus ~5 ms per face on one core.
//
// Threads: one instance per worker thread (the HOG scanner keeps scratch buffers); the landmark
// model is shared read-only between all instances and loaded on the first Detect.
//
// Weak spots, as measured on the sample photos (bench/accuracy prints them):
// - Faces under about 30 px are not found. Faces under 48 px are found but too small for the eye
//   check (a review reason, never a verdict) unless the photo holds them larger.
// - Profiles and heads turned past ~0.45 rad: the frontal detector finds them late or not at all,
//   and yaw from the jaw contour grows unreliable there; such faces are not eye-checked.
// - Eyes squeezed shut (laughing): the landmark model keeps the lids apart. A wide-open mouth
//   marks the eyes as doubtful and sends them to review instead of calling them open or shut.
// - Glasses: rims and reflections over the eye confuse the opening contrast; the landmarks then
//   decide alone, which rarely reaches the closed range.
// - Faces looking down with lowered lids and heavy eyeliner are the case the picture check was
//   made for; a lash line under hair or in deep shadow gives no eye outline (review).
// - Detections scoring below 0 are half false; they are kept only where skin tones show, so grey
//   pictures lose their faintest faces.
#include "analysis/eye_outline.hpp"
#include "analysis/face_detector.hpp"

#include <memory>
#include <string>
#include <vector>

namespace tw::analysis {

// Per-face numbers behind a detection, for the accuracy report and for tuning.
struct FaceDiagnostics {
  double hogScore = 0;
  double sidePixels = 0;
  double yaw = 0;
  double roll = 0;
  double mouthOpening = 0;
  double captureQuality = 0;
  EyeEvidence pictureLeftEye;   // the eye on the picture's left (the person's right eye)
  EyeEvidence pictureRightEye;
};

class DlibFaceDetector final : public FaceDetector {
 public:
  // `modelPath` names the landmark model; empty means DefaultFaceLandmarkModelPath(). A missing
  // or unreadable model makes every Detect report failure.
  explicit DlibFaceDetector(std::string modelPath = {});
  ~DlibFaceDetector() override;
  DlibFaceDetector(const DlibFaceDetector&) = delete;
  DlibFaceDetector& operator=(const DlibFaceDetector&) = delete;

  // Faces with box, confidence, pose and eye outlines (the person's left eye as leftEye), and one
  // capture quality per face in the same order. Worker threads only.
  FaceDetection Detect(const imaging::DecodedImage& image, const vips::VImage& grey) override;
  // Faces that may be main faces and are under 96 px in `image` get their landmarks and eyes
  // measured again on a crop of a larger decode when the photo holds them larger (at most four
  // per photo, one decode of at most four times the picture's size); their eyeScale says so, and
  // the eye check's 48 px are then counted there.
  FaceDetection Detect(const imaging::DecodedImage& image, const vips::VImage& grey,
                       const LargerDecode& larger) override;
  using FaceDetector::Detect;

  // The faces of the last Detect, in the same order.
  const std::vector<FaceDiagnostics>& LastDiagnostics() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The calling thread's own detector with the default model, made on first use.
FaceDetector& ThreadFaceDetector();

}  // namespace tw::analysis
