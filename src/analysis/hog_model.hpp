#pragma once
// dlib's frontal face detector as dlib::serialize writes it. dlib ships it compressed with an
// arithmetic coder that takes a quarter of a second of every start to undo; the build undoes it
// once (hog_model_writer) and links the plain bytes in here. Any thread.
#include <string_view>

namespace tw::analysis {

std::string_view SerialisedFrontalFaceDetector();

}  // namespace tw::analysis
