#pragma once
// The local verdict on one photo: exposure, sharpness, noise, faces, eyes and face focus measured
// on a 768-px thumbnail, turned into issues (for the checks the user enabled), review reasons and
// a confidence. The result is the 21-key record the page stores under `result`, or the one-key
// error record: {"error": "照片文件没有读取权限"} when the photo may not be read,
// {"error": "无法解码照片预览"} when it cannot be decoded for any other reason.
//
// `settings` is the run's settings object; only `enabled` (array of check names) is read, and
// without it no check is enabled (everything is still measured). `strictness` selects the row of
// limits ("宽松", "严格", anything else standard).
#include "analysis/face_detector.hpp"
#include "base/json.hpp"
#include "library/imaging/decoded_image.hpp"

#include <string>
#include <vector>

namespace tw::analysis {

enum class EyeState { NotVisible, Closed, NearThreshold, Open };
enum class FaceFocus { NotCheckable, Soft, Sharp };

// One detected face as the assessment judged it. Only main faces (near the largest in size) are
// checked; the others keep NotVisible and NotCheckable.
struct FaceVerdict {
  DetectedFace face;
  bool main = false;
  EyeState eyes = EyeState::NotVisible;
  FaceFocus focus = FaceFocus::NotCheckable;
  // The issues of the record this face brought about ("闭眼", "人脸失焦").
  std::vector<std::string> triggers;
};

// The assessment record together with the faces behind it.
struct PhotoAssessment {
  Json record;
  // False when the detector could not run; `faces` is then empty.
  bool facesDetected = false;
  std::vector<FaceVerdict> faces;
  // The upright picture assessed, in pixels.
  int pictureWidth = 0;
  int pictureHeight = 0;
};

// The eye rule for one main face on a picture of the given size (the face's size is taken where
// its eyes were measured, see DetectedFace::eyeScale): not visible (too small, turned,
// or an eye without a measurement), closed (both eyes under the closed limit), near the limit
// (one eye under it, or their mean under the review limit) or open.
EyeState CheckEyes(const DetectedFace& face, unsigned imageWidth, unsigned imageHeight);

// {"error": "无法解码照片预览"}.
Json UndecodableRecord();

// The assessment of an already decoded thumbnail with the given detector; the error record when
// the picture cannot even be sampled. `larger`, when given, decodes the photo at a larger size
// for faces too small in the thumbnail. Any worker thread; the detector must not be shared with
// another thread during the call.
Json AssessPhoto(const imaging::DecodedImage& thumbnail, const Json& settings,
                 const std::string& strictness, FaceDetector& faceDetector,
                 const LargerDecode& larger = {});

// AssessPhoto keeping the faces with their verdicts.
PhotoAssessment AssessPhotoWithFaces(const imaging::DecodedImage& thumbnail, const Json& settings,
                                     const std::string& strictness, FaceDetector& faceDetector,
                                     const LargerDecode& larger = {});

// Decodes the photo's 768-px thumbnail (transparency on black) and assesses it with this thread's
// own face detector.
// Any worker thread, concurrently; the first call in the process loads the landmark model.
Json analyzeURL(const std::string& path, const Json& settings, const std::string& strictness);

// The same with a given detector (tests, tools).
Json analyzeURL(const std::string& path, const Json& settings, const std::string& strictness,
                FaceDetector& faceDetector);

// The same keeping the faces with their verdicts.
PhotoAssessment AssessFile(const std::string& path, const Json& settings, const std::string& strictness,
                           FaceDetector& faceDetector);

}  // namespace tw::analysis
