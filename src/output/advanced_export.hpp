#pragma once
// The advanced export: copies or converted renderings of the chosen photos in a dated folder,
// optionally sorted by decision, with a conflict rule and a rating-and-label sidecar chosen
// together with each file's name (paired_names.hpp).
#include "base/json.hpp"
#include "output/export_destination.hpp"

#include <ctime>
#include <functional>
#include <string>

namespace tw::output {

struct AdvancedExportOptions {
  std::string format = "original";  // "original", "jpeg", "png", "tiff" (and "heic")
  ConflictMode conflict = ConflictMode::Rename;
  bool organize = false;            // "保留" and "待定" photos into subfolders named after them
  double quality = 0.92;            // JPEG, before clamping to 0.5…1
  long longEdge = 0;                // a conversion's long side at most, in pixels; 0: full size
};
// The action's "options" with the defaults for missing or mistyped keys; a quality of 0 counts as
// missing, as does a longEdge below one pixel. Anything but an object gives all defaults.
AdvancedExportOptions ReadExportOptions(const Json& options);

// The options of the page's plain export: copies, existing files skipped, sorted by decision.
Json PlainExportOptions();

struct AdvancedExportJob {
  Json photos = Json::array();  // photo records; "path", "status" and "rating" are read
  std::string folder;           // the folder the user chose
  AdvancedExportOptions options;
};

// Worker thread (user-initiated; exports may overlap, each with its own counters). Writes into
// "<folder>/yyyy-MM-dd" (the date of `now`), hands an exportProgress payload to `progress` after
// every photo (skipped ones too), and returns the exportComplete payload: message and folder.
// lensWanted is asked afresh for every rendering.
Json RunAdvancedExport(const AdvancedExportJob& job, std::time_t now, const std::function<bool()>& lensWanted,
                       const std::function<void(Json)>& progress);

}  // namespace tw::output
