#pragma once
// What a converted JPEG keeps of its photo, so that other tools still sort and filter the export by
// capture time, body, lens and exposure: those EXIF fields copied from the source, the orientation
// set upright (the pixels are turned already) and no embedded thumbnail (it would show the photo
// before the export's rendering); and the rating and decision label in the JPEG's own XMP, as in
// its sidecar. Any thread.
#include <optional>
#include <string>

namespace tw::output {

struct PhotoMarks {
  std::string rating;  // as the sidecar writes it
  std::string label;
};

// The encoded JPEG with that metadata, or nullopt when exiv2 cannot write it. A source exiv2 cannot
// read gives the marks alone.
std::optional<std::string> WithKeptMetadata(const std::string& jpeg, const std::string& source,
                                            const PhotoMarks& marks);

}  // namespace tw::output
