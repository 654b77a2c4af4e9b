// Prints how the local assessment's verdicts compare with what a person sees in the sample photos
// (tests/data/labels.json): per photo, per face, closed-eye precision and recall, open eyes called
// closed or sent to review, blur and exposure agreement, and the time each photo took. Photos are
// assessed as analyzeURL does, small faces looked at again on a larger decode.
//
//   accuracy_report [--faces] [data folder]
//
// All six checks are enabled at standard strictness.
#include "analysis/analysis_texts.hpp"
#include "analysis/assessment.hpp"
#include "analysis/assessment_rules.hpp"
#include "analysis/dlib_face_detector.hpp"
#include "analysis/landmark_model.hpp"
#include "base/json.hpp"
#include "library/imaging/decoding.hpp"
#include "library/imaging/thumbnail_keeping_loaded.hpp"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tw::Json;
using namespace tw::analysis;
using Clock = std::chrono::steady_clock;

// Faces whose eyes are plainly shut, as a person sees them; centres in picture fractions with a
// top-left origin. labels.json only says which photos hold them.
struct ShutEyesFace {
  const char* photo;
  double centreX;
  double centreY;
  const char* who;
};
constexpr ShutEyesFace kShutEyesFaces[] = {
    {"face-group3-eyes-downcast-iso6400.jpg", 0.81, 0.22, "right woman, looking down"},
    {"face-group3-eyes-downcast-iso6400.jpg", 0.51, 0.27, "middle woman, looking down, one eye under hair"},
    {"face-group3-eyes-downcast-iso6400.jpg", 0.22, 0.17, "left woman, profile"},
    {"face-group2-girl-closed-laughing.jpg", 0.51, 0.24, "girl laughing, glasses"},
    {"face-closed-yawn.jpg", 0.59, 0.43, "man yawning, head turned"},
};

// Eyes plainly open but narrow (squinting, smiling), which must stay out of "闭眼".
struct NarrowOpenFace {
  const char* photo;
  double centreX;
  double centreY;
  const char* who;
};
constexpr NarrowOpenFace kNarrowOpenFaces[] = {
    {"face-group2-girl-closed-laughing.jpg", 0.47, 0.52, "woman squinting"},
};

// Forwards to the real detector and keeps what it found.
class RecordingDetector final : public FaceDetector {
 public:
  using FaceDetector::Detect;
  FaceDetection Detect(const tw::imaging::DecodedImage& image, const vips::VImage& grey) override {
    return Detect(image, grey, LargerDecode());
  }
  FaceDetection Detect(const tw::imaging::DecodedImage& image, const vips::VImage& grey,
                       const LargerDecode& larger) override {
    const auto start = Clock::now();
    last = inner.Detect(image, grey, larger);
    milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return last;
  }
  DlibFaceDetector inner;
  FaceDetection last;
  double milliseconds = 0;
};

const char* EyeStateName(EyeState state) {
  switch (state) {
    case EyeState::NotVisible: return "not checkable";
    case EyeState::Closed: return "closed";
    case EyeState::NearThreshold: return "near (review)";
    case EyeState::Open: return "open";
  }
  return "?";
}

bool Contains(const Json& list, std::string_view text) {
  for (const Json& item : list) {
    if (item.is_string() && item.get<std::string>() == text) return true;
  }
  return false;
}

std::string Joined(const Json& list) {
  std::string out;
  for (const Json& item : list) {
    if (!out.empty()) out += ",";
    out += item.get<std::string>();
  }
  return out.empty() ? "-" : out;
}

struct Tally {
  int agree = 0;
  int total = 0;
  void Count(bool agreed) {
    total += 1;
    agree += agreed ? 1 : 0;
  }
};

// Pads to a number of terminal columns: Chinese characters take two.
std::string Padded(const std::string& text, int columns) {
  int width = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) == 0x80) continue;  // continuation byte
    width += byte < 0x80 ? 1 : 2;
  }
  return text + std::string(std::size_t(std::max(1, columns - width)), ' ');
}

// Processor time of this thread: the assessment runs on it alone, and unlike the wall clock this
// does not grow when other programs share the machine.
double ThreadCpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double Ratio(int part, int whole) { return whole > 0 ? double(part) / whole : 0; }

}  // namespace

int main(int argc, char** argv) {
  bool printFaces = false;
  std::string dataFolder = TIDEWICK_TEST_DATA_DIR;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--faces") printFaces = true;
    else dataFolder = argument;
  }
  std::ifstream labelFile(dataFolder + "/labels.json");
  std::stringstream labelText;
  labelText << labelFile.rdbuf();
  const auto labels = tw::ParseJSON(labelText.str());
  if (!labels || !labels->is_object()) {
    std::fprintf(stderr, "cannot read %s/labels.json\n", dataFolder.c_str());
    return 1;
  }

  const auto loadStart = Clock::now();
  if (!PreloadFaceLandmarkModel()) {
    std::fprintf(stderr, "landmark model missing: %s\n", DefaultFaceLandmarkModelPath().c_str());
    return 1;
  }
  const double loadMs = std::chrono::duration<double, std::milli>(Clock::now() - loadStart).count();

  const Json settings = {{"enabled",
                          {texts::kOverallBlur, texts::kFaceOutOfFocus, texts::kClosedEyes,
                           texts::kOverexposed, texts::kUnderexposed, texts::kTooNoisy}}};
  RecordingDetector detector;
  int closedTruePositive = 0, closedFalsePositive = 0, closedPositives = 0, closedOrReviewHits = 0;
  int openPhotos = 0, openPhotosNear = 0;
  int openFacesChecked = 0, openFacesClosed = 0, openFacesNear = 0, openFacesMain = 0;
  int shutChecked = 0, shutClosed = 0, shutNear = 0;
  int narrowChecked = 0, narrowClosed = 0, narrowNear = 0;
  Tally blur, exposure;
  std::vector<double> decodeTimes, assessTimes, detectTimes, assessCpuTimes;
  std::vector<std::string> shutLines;

  std::printf("%s%s%s%s%s\n", Padded("photo", 42).c_str(), Padded("label", 18).c_str(), Padded("issues", 24).c_str(),
              Padded("review reasons", 70).c_str(),
              "faces main/checked/closed   sharp bright    hi    lo noise  decode+assess ms (assess cpu)");
  for (const auto& [name, label] : labels->items()) {
    if (!label.is_object()) continue;
    const std::string path = dataFolder + "/photos/" + name;
    const auto decodeStart = Clock::now();
    const auto decoded = tw::imaging::CreateThumbnailKeepingLoaded(path, rules::kThumbnailLongSide,
                                                                   tw::imaging::Backdrop::Black);
    const tw::imaging::MaybeImage thumbnail = decoded ? tw::imaging::MaybeImage(decoded->thumbnail) : std::nullopt;
    const double decodeMs = std::chrono::duration<double, std::milli>(Clock::now() - decodeStart).count();
    if (!thumbnail) {
      std::printf("%-42s cannot be decoded\n", name.c_str());
      continue;
    }
    const auto assessStart = Clock::now();
    const double cpuStart = ThreadCpuMilliseconds();
    const LargerDecode larger = [&path, &decoded](int longSide) -> tw::imaging::MaybeImage {
      if (decoded->loaded) return decoded->loaded;
      return tw::imaging::CreateThumbnail(path, longSide, tw::imaging::Backdrop::Black);
    };
    const Json result = AssessPhoto(*thumbnail, settings, "标准", detector, larger);
    const double assessMs = std::chrono::duration<double, std::milli>(Clock::now() - assessStart).count();
    assessCpuTimes.push_back(ThreadCpuMilliseconds() - cpuStart);
    decodeTimes.push_back(decodeMs);
    assessTimes.push_back(assessMs);
    detectTimes.push_back(detector.milliseconds);

    std::string labelText = tw::StringField(label, "eyes");
    if (label.contains("blur")) labelText += std::string(labelText.empty() ? "" : " ") + (label["blur"].get<bool>() ? "blur" : "sharp");
    if (label.contains("exposure")) labelText += std::string(labelText.empty() ? "" : " ") + tw::StringField(label, "exposure");
    const Json& issues = result["issues"];
    const Json& reasons = result["reviewReasons"];
    std::printf("%s%s%s%s%5d %2d/%d/%d %13.1f %6.2f %5.3f %5.3f %5.1f %7.0f+%.0f (%.0f)\n", Padded(name, 42).c_str(),
                Padded(labelText, 18).c_str(), Padded(Joined(issues), 24).c_str(), Padded(Joined(reasons), 70).c_str(),
                result["faces"].get<int>(),
                result["mainFaces"].get<int>(), result["eyesChecked"].get<int>(), result["closedEyes"].get<int>(),
                result["sharpness"].get<double>(), result["brightness"].get<double>(),
                result["highlight"].get<double>(), result["shadow"].get<double>(), result["noise"].get<double>(),
                decodeMs, assessMs, assessCpuTimes.back());

    const unsigned width = unsigned(thumbnail->width()), height = unsigned(thumbnail->height());
    const std::string eyes = tw::StringField(label, "eyes");
    if (!eyes.empty()) {
      const bool closedLabel = eyes == "closed" || eyes == "mixed";
      const bool flagged = Contains(issues, texts::kClosedEyes);
      closedPositives += closedLabel ? 1 : 0;
      closedTruePositive += closedLabel && flagged ? 1 : 0;
      closedFalsePositive += !closedLabel && flagged ? 1 : 0;
      closedOrReviewHits += closedLabel && (flagged || Contains(reasons, texts::kEyesNearThreshold)) ? 1 : 0;
      openPhotos += eyes == "open" ? 1 : 0;
      openPhotosNear += eyes == "open" && Contains(reasons, texts::kEyesNearThreshold) ? 1 : 0;
    }

    // Per face: largest area decides the main faces, as the assessment does.
    const auto& faces = detector.last.faces;
    const auto& numbers = detector.inner.LastDiagnostics();
    // The face whose box holds a point given in picture fractions (top-left origin), or null.
    const auto faceAt = [&faces](double x, double y) -> const DetectedFace* {
      for (const DetectedFace& face : faces) {
        const double top = 1 - face.box.y - face.box.height, bottom = 1 - face.box.y;
        if (x >= face.box.x && x <= face.box.x + face.box.width && y >= top && y <= bottom) return &face;
      }
      return nullptr;
    };
    double largest = 0;
    for (const auto& face : faces) largest = std::max(largest, face.box.width * face.box.height);
    for (std::size_t i = 0; i < faces.size(); ++i) {
      const DetectedFace& face = faces[i];
      const bool main = face.box.width * face.box.height >= rules::kMainFaceAreaShare * largest;
      const EyeState state = CheckEyes(face, width, height);
      openFacesMain += eyes == "open" && main ? 1 : 0;
      if (eyes == "open" && main && state != EyeState::NotVisible) {
        openFacesChecked += 1;
        openFacesClosed += state == EyeState::Closed ? 1 : 0;
        openFacesNear += state == EyeState::NearThreshold ? 1 : 0;
      }
      if (printFaces && i < numbers.size()) {
        const FaceDiagnostics& n = numbers[i];
        std::printf("    face %zu%s hog %5.2f conf %.2f side %5.1f yaw %5.2f roll %5.2f mouth %4.2f quality %.2f"
                    " x%.1f at (%.2f, %.2f)"
                    " | eyes L %.3f c%.2f h%.2f o%.2f -> %.3f  R %.3f c%.2f h%.2f o%.2f -> %.3f  => %s\n",
                    i, main ? "*" : " ", n.hogScore, face.confidence, n.sidePixels, n.yaw, n.roll, n.mouthOpening,
                    n.captureQuality, face.eyeScale, face.box.x + face.box.width / 2,
                    1 - face.box.y - face.box.height / 2, n.pictureLeftEye.landmarkAspect,
                    n.pictureLeftEye.openingContrast, n.pictureLeftEye.darkHeight, n.pictureLeftEye.openness,
                    n.pictureLeftEye.reportedAspect, n.pictureRightEye.landmarkAspect,
                    n.pictureRightEye.openingContrast, n.pictureRightEye.darkHeight, n.pictureRightEye.openness,
                    n.pictureRightEye.reportedAspect, EyeStateName(state));
      }
    }
    for (const ShutEyesFace& shut : kShutEyesFaces) {
      if (name != shut.photo) continue;
      const DetectedFace* face = faceAt(shut.centreX, shut.centreY);
      const EyeState state = face ? CheckEyes(*face, width, height) : EyeState::NotVisible;
      if (face && state != EyeState::NotVisible) {
        shutChecked += 1;
        shutClosed += state == EyeState::Closed ? 1 : 0;
        shutNear += state == EyeState::NearThreshold ? 1 : 0;
      }
      shutLines.push_back(std::string("  shut: ") + shut.photo + " — " + shut.who + ": " +
                          (face ? EyeStateName(state) : "not found"));
    }
    for (const NarrowOpenFace& narrow : kNarrowOpenFaces) {
      if (name != narrow.photo) continue;
      const DetectedFace* face = faceAt(narrow.centreX, narrow.centreY);
      const EyeState state = face ? CheckEyes(*face, width, height) : EyeState::NotVisible;
      if (face && state != EyeState::NotVisible) {
        narrowChecked += 1;
        narrowClosed += state == EyeState::Closed ? 1 : 0;
        narrowNear += state == EyeState::NearThreshold ? 1 : 0;
      }
      shutLines.push_back(std::string("  narrow open: ") + narrow.photo + " — " + narrow.who + ": " +
                          (face ? EyeStateName(state) : "not found"));
    }

    if (label.contains("blur") && label["blur"].is_boolean()) {
      blur.Count(Contains(issues, texts::kOverallBlur) == label["blur"].get<bool>());
    }
    const std::string exposureLabel = tw::StringField(label, "exposure");
    if (exposureLabel == "under" || exposureLabel == "over" || exposureLabel == "normal") {
      const bool under = Contains(issues, texts::kUnderexposed), over = Contains(issues, texts::kOverexposed);
      exposure.Count(exposureLabel == "under" ? under && !over
                     : exposureLabel == "over" ? over && !under
                                               : !under && !over);
    }
  }

  const auto mean = [](const std::vector<double>& values) {
    double sum = 0;
    for (double v : values) sum += v;
    return values.empty() ? 0 : sum / values.size();
  };
  const auto maximum = [](const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
  };
  std::printf("\nFaces a person labelled:\n");
  for (const std::string& line : shutLines) std::printf("%s\n", line.c_str());
  const int shutFaces = int(std::size(kShutEyesFaces));
  std::printf("\nClosed eyes, per face (%d shut-eye faces; %d of them checkable by the eye rules):\n", shutFaces,
              shutChecked);
  std::printf("  \"闭眼\" %d, near-threshold review %d, together %d of %d (%.0f %%; %.0f %% of the checkable)\n",
              shutClosed, shutNear, shutClosed + shutNear, shutFaces, 100 * Ratio(shutClosed + shutNear, shutFaces),
              100 * Ratio(shutClosed + shutNear, shutChecked));
  std::printf("Open eyes, per face (main faces of the open-eye photos):\n");
  std::printf("  %d main faces, %d checked; \"闭眼\" (false alarm) %d; near-threshold review %d\n", openFacesMain,
              openFacesChecked, openFacesClosed, openFacesNear);
  std::printf("  narrow but open faces: %d checked; \"闭眼\" (false alarm) %d; near-threshold review %d\n",
              narrowChecked, narrowClosed, narrowNear);
  std::printf("Closed eyes, per photo (label closed or mixed):\n");
  std::printf("  \"闭眼\" precision %.2f (%d of %d flagged photos), recall %.2f (%d of %d)\n",
              Ratio(closedTruePositive, closedTruePositive + closedFalsePositive), closedTruePositive,
              closedTruePositive + closedFalsePositive, Ratio(closedTruePositive, closedPositives),
              closedTruePositive, closedPositives);
  std::printf("  \"闭眼\" or eye review reason: recall %.2f (%d of %d)\n", Ratio(closedOrReviewHits, closedPositives),
              closedOrReviewHits, closedPositives);
  std::printf("Open eyes, per photo: %d photos; \"闭眼\" (false alarm) %d; near-threshold review %d\n", openPhotos,
              closedFalsePositive, openPhotosNear);
  std::printf("Blur agreement: %d of %d\n", blur.agree, blur.total);
  std::printf("Exposure agreement (under/over/normal labels; high-key listed only): %d of %d\n",
              exposure.agree, exposure.total);
  std::printf("Time: model load %.0f ms once; per photo decode %.0f ms mean, assessment %.0f ms mean"
              " (face detection %.0f ms mean, %.0f ms max); assessment processor time %.0f ms mean, %.0f ms max\n",
              loadMs, mean(decodeTimes), mean(assessTimes), mean(detectTimes), maximum(detectTimes),
              mean(assessCpuTimes), maximum(assessCpuTimes));
  return 0;
}
