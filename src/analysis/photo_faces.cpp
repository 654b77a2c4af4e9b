#include "analysis/photo_faces.hpp"

#include "analysis/analysis_texts.hpp"
#include "analysis/assessment.hpp"
#include "analysis/dlib_face_detector.hpp"
#include "library/imaging/decoding.hpp"
#include "library/import_scan.hpp"

#include <algorithm>
#include <cmath>
#include <string>

namespace tw::analysis {
namespace {

// Thumbnail pixels (top-left origin) to full-resolution pixels.
struct ToPhoto {
  double pictureWidth = 0;
  double pictureHeight = 0;
  long photoWidth = 0;
  long photoHeight = 0;
  double factor = 1;
  long operator()(double thumbnailPixels) const { return std::lround(thumbnailPixels * factor); }
};

const char* EyesName(EyeState eyes) {
  switch (eyes) {
    case EyeState::Closed: return "closed";
    case EyeState::NearThreshold: return "review";
    case EyeState::Open: return "open";
    case EyeState::NotVisible: break;
  }
  return "notCheckable";
}

const char* FocusName(FaceFocus focus) {
  switch (focus) {
    case FaceFocus::Sharp: return "sharp";
    case FaceFocus::Soft: return "soft";
    case FaceFocus::NotCheckable: break;
  }
  return "notCheckable";
}

// The eye outline's centre. The outline was measured on the face turned upright by its roll, in
// units of the face box; turned back here about the box's centre.
Json EyePoint(const std::optional<EyeRegion>& eye, const DetectedFace& face, const ToPhoto& toPhoto) {
  if (!eye || eye->empty()) return nullptr;
  double u = 0, v = 0;
  for (const LandmarkPoint& point : *eye) {
    u += point.x / eye->size();
    v += point.y / eye->size();
  }
  const double boxWidth = face.box.width * toPhoto.pictureWidth;
  const double boxHeight = face.box.height * toPhoto.pictureHeight;
  const double centreX = face.box.x * toPhoto.pictureWidth + boxWidth / 2;
  const double centreY = (1 - face.box.y) * toPhoto.pictureHeight - boxHeight / 2;
  const double dx = (u - 0.5) * boxWidth, dy = (0.5 - v) * boxHeight;
  const double roll = face.roll.value_or(0);
  return Json::array({toPhoto(centreX + std::cos(roll) * dx - std::sin(roll) * dy),
                      toPhoto(centreY + std::sin(roll) * dx + std::cos(roll) * dy)});
}

Json FaceEntry(const FaceVerdict& verdict, const ToPhoto& toPhoto) {
  // A detection may reach past the picture's edge; the mark is the part of it in the photo.
  const FaceBox& box = verdict.face.box;
  const long left = std::clamp(toPhoto(box.x * toPhoto.pictureWidth), 0L, toPhoto.photoWidth);
  const long top = std::clamp(toPhoto((1 - box.y - box.height) * toPhoto.pictureHeight), 0L, toPhoto.photoHeight);
  const long right = std::clamp(toPhoto((box.x + box.width) * toPhoto.pictureWidth), left, toPhoto.photoWidth);
  const long bottom = std::clamp(toPhoto((1 - box.y) * toPhoto.pictureHeight), top, toPhoto.photoHeight);
  return {{"box", {{"x", left}, {"y", top}, {"width", right - left}, {"height", bottom - top}}},
          {"leftEye", EyePoint(verdict.face.leftEye, verdict.face, toPhoto)},
          {"rightEye", EyePoint(verdict.face.rightEye, verdict.face, toPhoto)},
          {"eyes", EyesName(verdict.eyes)},
          {"focus", FocusName(verdict.focus)},
          {"main", verdict.main},
          {"triggers", verdict.triggers}};
}

}  // namespace

std::optional<Json> PhotoFacesPayload(const Json& body) {
  const std::string id = StringField(body, "id");
  if (id.empty()) return std::nullopt;
  auto failed = [&id](std::string_view text) { return Json{{"id", id}, {"error", std::string(text)}}; };
  const std::string path = StringField(body, "path");
  if (!library::IsImportablePhoto(path)) return failed(library::kNotAnImportablePhoto);

  // Only the face checks decide a face's triggers; the strictness is the page's (standard when not given).
  const Json settings = {{"enabled", {std::string(texts::kClosedEyes), std::string(texts::kFaceOutOfFocus)}}};
  const PhotoAssessment assessment = AssessFile(path, settings, StringField(body, "strictness"), ThreadFaceDetector());
  if (assessment.record.contains("error")) return failed(StringField(assessment.record, "error"));
  if (!assessment.facesDetected) return failed(texts::kFaceDetectionIncomplete);

  // The picture assessed is the upright photo shrunk; its file states the stored size, on its side
  // for a photo the camera turned.
  const std::optional<std::pair<long, long>> stored = imaging::ImagePixelSize(path);
  if (!stored || assessment.pictureWidth <= 0 || assessment.pictureHeight <= 0) return failed(texts::kUndecodable);
  const bool turned = (stored->first > stored->second) != (assessment.pictureWidth > assessment.pictureHeight) &&
                      stored->first != stored->second;
  const long width = turned ? stored->second : stored->first;
  const long height = turned ? stored->first : stored->second;
  const ToPhoto toPhoto{double(assessment.pictureWidth), double(assessment.pictureHeight), width, height,
                        double(std::max(width, height)) / std::max(assessment.pictureWidth, assessment.pictureHeight)};

  Json faces = Json::array();
  for (const FaceVerdict& verdict : assessment.faces) faces.push_back(FaceEntry(verdict, toPhoto));
  return Json{{"id", id}, {"width", width}, {"height", height}, {"faces", std::move(faces)}};
}

}  // namespace tw::analysis
