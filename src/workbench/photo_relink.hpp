#pragma once
// Relinking: after a shoot's folder has moved, the project's photos are found again by file name
// (case-insensitive) below a folder the user points at. A name that occurs more than once there is
// never linked to either file: guessing would attach the wrong picture's thumbnail and path.
#include "base/json.hpp"

#include <cstddef>
#include <string>

namespace tw::workbench {

// More photos than this and the request is ignored; more folder entries than this and every photo
// counts as missing (a whole disk was chosen, not a shoot).
inline constexpr size_t kMaxRelinkPhotos = 20000;
inline constexpr long kMaxRelinkEntries = 100000;
inline constexpr int kRelinkThumbnailPixels = 640;
inline constexpr double kRelinkThumbnailQuality = 0.8;

// Worker thread. photos: the page's records ({id, path}); folder: absolute (anything else finds
// nothing). Thumbnails of the found photos go into ProjectThumbnails of the data folder. Answers
// {"photos": [{id, path, name, thumbnail}], "missing": count}.
Json RelinkPhotos(const Json& photos, const std::string& folder, const std::string& supportFolder);

}  // namespace tw::workbench
