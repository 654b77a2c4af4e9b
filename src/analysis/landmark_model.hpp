#pragma once
// The 68-point landmark model (about 100 MB, ~0.5 s to read) is loaded once per process and
// shared read-only by every analysis thread.
#include <memory>
#include <string>

namespace dlib {
class shape_predictor;
}

namespace tw::analysis {

// $TIDEWICK_FACE_LANDMARK_MODEL when set and not empty, else Debian's libdlib-data model.
std::string DefaultFaceLandmarkModelPath();

// The model at `path`, loaded on first request; nullptr when it is missing or unreadable (the
// failure is remembered, so a broken file is not read again for every photo). Any thread; a
// caller arriving during the load waits for it.
std::shared_ptr<const dlib::shape_predictor> SharedFaceLandmarkModel(const std::string& path);

// Loads the default model now, so the first photo does not pay for it. Call it on a background
// queue (never on main); returns whether the model is usable.
bool PreloadFaceLandmarkModel();

}  // namespace tw::analysis
