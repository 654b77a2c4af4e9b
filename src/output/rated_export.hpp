#pragma once
// The rated export: copies of the rated photos' source files in a dated folder under the export
// folder, each with an XMP sidecar carrying its star rating. Sources are only read.
#include "base/json.hpp"

#include <ctime>
#include <string>

namespace tw::output {

struct RatedExportJob {
  std::string token;
  Json photos = Json::array();  // photo records; "path", "id" and "rating" are read
  std::string baseFolder;       // the export folder the user chose
};

// The rating-export queue (one export after another). Creates "<baseFolder>/yyyy-MM-dd" (the date
// of `now`), copies each photo in list order under a free pair of names for the copy and its
// sidecar (paired_names.hpp; a RAW and a JPEG of one shot share the sidecar with the higher
// rating), and returns the ratingExportComplete payload of a finished export: token,
// outputs [{id, path}], errors [{id, error}], folder, baseFolder, message; each "id" as the page
// sent it ("" when absent). A photo that fails is one error entry; the others go on.
Json RunRatedExport(const RatedExportJob& job, std::time_t now);

}  // namespace tw::output
