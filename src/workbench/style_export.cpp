#include "workbench/style_export.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "library/imaging/decoding.hpp"
#include "output/export_destination.hpp"
#include "output/staged_file.hpp"
#include "workbench/workbench_texts.hpp"

#include <fmt/format.h>
#include <sys/stat.h>

namespace tw::workbench {
namespace {

// The file goes into the folder only under a name that nothing holds yet.
bool PlaceNewFile(const std::string& folder, const std::string& name, const std::string& bytes) {
  output::StagedFile staged(folder);
  if (staged.Write(bytes)) return false;
  return staged.PlaceExactly(JoinPath(folder, name)).outcome == output::PlaceResult::Outcome::Placed;
}

// The copy of one plan, encoded; the error that stops the run otherwise.
struct StyledCopy {
  std::string jpeg;
  std::string error;
};

StyledCopy RenderCopy(const StylePlan& plan, bool lensWanted) {
  std::optional<std::pair<long, long>> size = imaging::ImagePixelSize(plan.path);
  const long long pixels = size ? static_cast<long long>(size->first) * size->second : 0;
  if (pixels < 1 || pixels > kMaxStyleSourcePixels) return {"", texts::kStylePixelsInvalid};
  // A reduced rendering is never passed off as the copy: without the full picture the run stops.
  std::optional<vips::VImage> styled = TWStyledImage(imaging::CreateFullEditImage(plan.path, lensWanted), plan.values);
  std::optional<std::string> jpeg = styled ? imaging::EncodeJPEG(*styled, kStyleCopyQuality) : std::nullopt;
  if (!jpeg) return {"", texts::kStyleFullSizeFailed};
  return {std::move(*jpeg), ""};
}

}  // namespace

StyleExportOutcome RunStyleExport(const StoredPreview& preview, const std::string& outputFolder, bool lensWanted,
                                  const std::function<bool()>& stillCurrent) {
  StyleExportOutcome outcome;
  // The folder comes first, so that even a run the reference stops leaves its record.
  if (!StartsWith(outputFolder, "/") || mkdir(outputFolder.c_str(), 0777) != 0) {
    outcome.error = texts::kStyleFolderFailed;
    return outcome;
  }
  if (!SameStamp(preview.referenceStamp, TWFileStamp(preview.reference))) outcome.error = texts::kStyleReferenceChanged;

  Json files = Json::array();
  for (const StylePlan& plan : preview.plans) {
    if (!outcome.error.empty()) break;
    if (!stillCurrent()) {
      outcome.stopped = true;
      break;
    }
    if (!SameStamp(plan.stamp, TWFileStamp(plan.path))) {
      outcome.error = texts::kStyleSourceChanged;
      break;
    }
    StyledCopy copy = RenderCopy(plan, lensWanted);
    if (!copy.error.empty()) {
      outcome.error = copy.error;
      break;
    }
    if (!stillCurrent() || !SameStamp(plan.stamp, TWFileStamp(plan.path))) {
      outcome.stopped = !stillCurrent();
      outcome.error = texts::kStyleStoppedBeforeWriting;
      break;
    }
    const std::string name =
        fmt::format(texts::kStyleCopyName, outcome.written + 1, output::SplitName(LastPathComponent(plan.path)).stem);
    if (!PlaceNewFile(outputFolder, name, copy.jpeg)) {
      outcome.error = texts::kStyleWriteFailed;
      break;
    }
    files.push_back({{"source", plan.path}, {"output", name}, {"values", ToJson(plan.values)}});
    ++outcome.written;
  }

  const Json record = {{"format", texts::kStyleRunFormat},
                       {"version", 1},
                       {"options", preview.options},
                       {"completed", outcome.written},
                       {"total", preview.plans.size()},
                       {"stopped", outcome.stopped ? 1 : 0},
                       {"error", outcome.error},
                       {"files", std::move(files)}};
  outcome.recordSaved = PlaceNewFile(outputFolder, texts::kStyleRunRecordName,
                                     record.dump(2, ' ', false, Json::error_handler_t::replace));
  return outcome;
}

std::string StyleExportMessage(const StyleExportOutcome& outcome) {
  return fmt::format(texts::kStyleExported, outcome.written,
                     outcome.error.empty() ? texts::kStyleSourcesKept : outcome.error,
                     outcome.recordSaved ? texts::kStyleRecordSaved : texts::kStyleRecordNotSaved);
}

}  // namespace tw::workbench
