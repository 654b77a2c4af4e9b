#include "analysis/landmark_model.hpp"

#include <dlib/image_processing/shape_predictor.h>
#include <dlib/serialize.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>

namespace tw::analysis {
namespace {

constexpr const char* kDebianModelPath = "/usr/share/dlib/shape_predictor_68_face_landmarks.dat";
constexpr const char* kModelPathVariable = "TIDEWICK_FACE_LANDMARK_MODEL";

std::shared_ptr<const dlib::shape_predictor> LoadModel(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return nullptr;
  try {
    auto model = std::make_shared<dlib::shape_predictor>();
    dlib::deserialize(*model, file);
    // The 68-point layout is what the pose and eye measurements index into.
    if (model->num_parts() != 68) return nullptr;
    return model;
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace

std::string DefaultFaceLandmarkModelPath() {
  const char* configured = std::getenv(kModelPathVariable);
  return configured && *configured ? configured : kDebianModelPath;
}

std::shared_ptr<const dlib::shape_predictor> SharedFaceLandmarkModel(const std::string& path) {
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<const dlib::shape_predictor>> models;
  std::lock_guard lock(mutex);
  auto found = models.find(path);
  if (found != models.end()) return found->second;
  auto model = LoadModel(path);
  models.emplace(path, model);
  return model;
}

bool PreloadFaceLandmarkModel() {
  return SharedFaceLandmarkModel(DefaultFaceLandmarkModelPath()) != nullptr;
}

}  // namespace tw::analysis
