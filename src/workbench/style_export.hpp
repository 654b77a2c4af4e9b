#pragma once
// The style export: every planned photo decoded at full resolution, given its planned values and
// written as a new numbered JPEG into a folder made for this run, beside a run record
// ("处理记录.json") that lists what was written with which values and says how far the run got.
// Source photos are only read; every file of the run is placed under a name nothing holds yet, so
// no earlier run's output, no source and no reference is ever written over.
#include "base/json.hpp"
#include "workbench/style_preview.hpp"

#include <functional>
#include <string>

namespace tw::workbench {

inline constexpr double kStyleCopyQuality = 0.95;
inline constexpr long long kMaxStyleSourcePixels = 80'000'000;

struct StyleExportOutcome {
  long written = 0;
  std::string error;  // what stopped the run, "" when every plan was written
  bool stopped = false;  // stillCurrent said no: the run was cancelled
  bool recordSaved = false;
};

// Worker thread. Creates outputFolder (its parent must exist), writes the copies one full-resolution
// photo at a time, asking stillCurrent before each photo and again before writing it, and writes
// the run record whenever the folder was made.
StyleExportOutcome RunStyleExport(const StoredPreview& preview, const std::string& outputFolder, bool lensWanted,
                                  const std::function<bool()>& stillCurrent);

// The completion message: how many copies, the error or that the sources are unchanged, and
// whether the record was saved.
std::string StyleExportMessage(const StyleExportOutcome& outcome);

}  // namespace tw::workbench
