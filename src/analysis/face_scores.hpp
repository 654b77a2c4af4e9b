#pragma once
// The 0..1 scores the face detector reports with each face: how sure it is that a detection is a
// face, and how well the face was captured.
#include <cstdint>

namespace tw::analysis {

// Detection confidence from the HOG detector's score: a logistic fitted to the detections of the
// sample photos at scores from -1 up (real faces against everything else).
float DetectionConfidence(double hogScore);

// Share of skin-coloured pixels among `count` RGB pixels (3 bytes each); the classic YCbCr box
// (Cb 77..127, Cr 133..173) that holds skin of every complexion under ordinary light. Grey pictures
// have no skin by this measure.
double SkinShare(const std::uint8_t* rgb, std::size_t count);

struct CaptureInputs {
  double sharpness = 0;       // LaplacianVariance of the face's grey grid at its own size (≤ 96)
  double sidePixels = 0;      // face box side in thumbnail pixels
  double yaw = 0;             // radians
  double roll = 0;            // radians
  double meanGrey = 0.5;      // face brightness 0..1
  double clippedShare = 0;    // share of face pixels at 250+ or 5-
  float detectionConfidence = 1;
};

// How usable the captured face is, 0..1. Focus gates everything else:
//   quality = (0.6 + 0.4 c) × √(s / (s + 100)) × (0.4 + 0.6 (0.4 size + 0.3 pose + 0.3 exposure))
// c: detection confidence; s: LaplacianVariance of the face's own pixels (never upsampled);
// size rises from 28 px (0) to 160 px (1); pose = 1 - (|yaw| + |roll|) / 1.2, at least 0;
// exposure = 1 - 2 |mean - 0.5| less the clipped share, at least 0. Measured on the sample
// portraits blurred on purpose: in focus 0.6-0.9; Gaussian blur of 1 px 0.5-0.6; 2 px and more
// (face detail gone) under 0.35.
double CaptureQuality(const CaptureInputs& inputs);

}  // namespace tw::analysis
