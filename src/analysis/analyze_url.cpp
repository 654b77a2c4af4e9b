// The assessment of a photo file: decode its thumbnail, then judge it.
#include "analysis/analysis_texts.hpp"
#include "analysis/assessment.hpp"
#include "analysis/assessment_rules.hpp"
#include "analysis/dlib_face_detector.hpp"
#include "library/imaging/decoding.hpp"

namespace tw::analysis {

Json analyzeURL(const std::string& path, const Json& settings, const std::string& strictness,
                FaceDetector& faceDetector) {
  const imaging::MaybeImage thumbnail =
      imaging::CreateThumbnail(path, rules::kThumbnailLongSide, imaging::Backdrop::Black);
  if (!thumbnail) {
    if (imaging::IsReadPermissionDenied(path)) return Json{{"error", std::string(texts::kNoReadPermission)}};
    return UndecodableRecord();
  }
  const LargerDecode larger = [&path](int longSide) {
    return imaging::CreateThumbnail(path, longSide, imaging::Backdrop::Black);
  };
  return AssessPhoto(*thumbnail, settings, strictness, faceDetector, larger);
}

Json analyzeURL(const std::string& path, const Json& settings, const std::string& strictness) {
  return analyzeURL(path, settings, strictness, ThreadFaceDetector());
}

}  // namespace tw::analysis
