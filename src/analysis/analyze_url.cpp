// The assessment of a photo file: decode its thumbnail, then judge it.
#include "analysis/analysis_texts.hpp"
#include "analysis/assessment.hpp"
#include "analysis/assessment_rules.hpp"
#include "analysis/dlib_face_detector.hpp"
#include "library/imaging/decoding.hpp"
#include "library/imaging/thumbnail_keeping_loaded.hpp"

namespace tw::analysis {

PhotoAssessment AssessFile(const std::string& path, const Json& settings, const std::string& strictness,
                           FaceDetector& faceDetector) {
  const std::optional<imaging::ThumbnailWithLoaded> decoded =
      imaging::CreateThumbnailKeepingLoaded(path, rules::kThumbnailLongSide, imaging::Backdrop::Black);
  if (!decoded) {
    PhotoAssessment failed;
    failed.record = imaging::IsReadPermissionDenied(path) ? Json{{"error", std::string(texts::kNoReadPermission)}}
                                                          : UndecodableRecord();
    return failed;
  }
  // A JPEG's picture as loaded costs nothing more; any other photo is decoded again, and only
  // when a small face asks for it.
  const LargerDecode larger = [&path, &decoded](int longSide) -> imaging::MaybeImage {
    if (decoded->loaded) return decoded->loaded;
    return imaging::CreateThumbnail(path, longSide, imaging::Backdrop::Black);
  };
  return AssessPhotoWithFaces(decoded->thumbnail, settings, strictness, faceDetector, larger);
}

Json analyzeURL(const std::string& path, const Json& settings, const std::string& strictness,
                FaceDetector& faceDetector) {
  return AssessFile(path, settings, strictness, faceDetector).record;
}

Json analyzeURL(const std::string& path, const Json& settings, const std::string& strictness) {
  return analyzeURL(path, settings, strictness, ThreadFaceDetector());
}

}  // namespace tw::analysis
