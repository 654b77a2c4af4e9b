#include "output/advanced_export.hpp"

#include "base/files.hpp"
#include "output/output_texts.hpp"
#include "output/paired_names.hpp"
#include "output/photo_fields.hpp"
#include "output/render_photo.hpp"
#include "output/xmp_sidecar.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tw::output {
namespace {

std::string StatusOf(const Json& photo) {
  if (photo.is_object()) {
    auto it = photo.find("status");
    if (it != photo.end() && it->is_string()) return it->get<std::string>();
  }
  return texts::kUnclassified;
}

// Puts the copy or rendering of one photo in place under a free pair of names.
PairPlacement ExportOne(const std::string& source, const std::string& targetFolder, const std::string& outputName,
                        const ExportFormat& format, bool lensWanted, const PhotoMarks& marks,
                        ExportPairing& pairing, const SidecarContent& sidecar) {
  auto failed = [](std::string text) {
    return PairPlacement{PlaceResult{PlaceResult::Outcome::Failed, "", std::move(text)}, std::nullopt};
  };
  // Opened before anything else, so a pipe or device put where the photo was fails the photo
  // instead of holding the export; for a rendering this is the check alone.
  const ReadableFile original = ReadableFile::Open(source);
  if (!original) return failed(std::strerror(original.error()));
  std::optional<std::string> rendering;
  if (!format.copiesOriginal) {
    RenderedPhoto rendered = RenderPhoto(source, format, lensWanted, marks);
    if (!rendered.bytes) return failed(rendered.error->message);
    rendering = std::move(rendered.bytes);
  }
  StagedFile staged(targetFolder);
  if (rendering) {
    if (staged.Write(*rendering)) return failed(ExportError(ExportErrorCode::ConversionFailed).message);
  } else if (auto error = staged.CopyFrom(original)) {
    return failed(*error);
  }
  return pairing.Place(staged, targetFolder, outputName, source, sidecar);
}

}  // namespace

AdvancedExportOptions ReadExportOptions(const Json& options) {
  AdvancedExportOptions read;
  if (!options.is_object()) return read;
  if (auto it = options.find("format"); it != options.end() && it->is_string()) read.format = it->get<std::string>();
  read.conflict = ConflictModeFromText(StringField(options, "conflict"));
  read.organize = BoolField(options, "organize", false);
  if (auto quality = NumberField(options, "quality"); quality && *quality != 0) read.quality = *quality;
  if (auto longEdge = NumberField(options, "longEdge"); longEdge && *longEdge >= 1) {
    read.longEdge = std::lround(std::min(*longEdge, 1e9));
  }
  return read;
}

Json PlainExportOptions() { return Json{{"format", "original"}, {"conflict", "skip"}, {"organize", true}}; }

Json RunAdvancedExport(const AdvancedExportJob& job, std::time_t now, const std::function<bool()>& lensWanted,
                       const std::function<void(Json)>& progress) {
  const std::string datedFolder = JoinPath(job.folder, DatedFolderName(now));
  // A folder that cannot be made shows up as failed photos below.
  CreateDirectories(datedFolder);
  const ExportFormat format = ExportFormatFor(job.options.format, job.options.quality, job.options.longEdge);
  const long total = static_cast<long>(job.photos.size());
  long completed = 0, exported = 0, skipped = 0, failed = 0;

  ExportPairing pairing(PhotoPaths(job.photos), job.options.conflict);
  SidecarWriter sidecarWriter;

  for (const Json& photo : job.photos) {
    const std::string source = StringField(photo, "path");
    const std::string name = LastPathComponent(source);
    const std::string status = StatusOf(photo);
    const bool sorted = job.options.organize && (status == texts::kKeep || status == texts::kPending);
    const std::string targetFolder = sorted ? JoinPath(datedFolder, status) : datedFolder;
    const NameParts parts = SplitName(name);
    const std::string outputName = JoinName(parts.stem, format.copiesOriginal ? parts.extension : format.extension);

    bool skip = false;
    if (source.empty()) {
      ++failed;  // nothing to read
    } else if (ExportDestination(targetFolder, outputName, job.options.conflict, &skip); skip) {
      ++skipped;
    } else {
      // A decision folder exists only with something in it: one made for this photo goes again
      // when the photo did not arrive (rmdir takes only an empty folder).
      const bool madeFolder = sorted && !IsDirectory(targetFolder) && !CreateDirectories(targetFolder);
      const PhotoMarks marks{RatingText(photo), status};
      const SidecarContent sidecar{RatingNumber(photo), RatingAndLabelSidecarText(marks.rating, marks.label)};
      PairPlacement result = ExportOne(source, targetFolder, outputName, format, lensWanted(), marks, pairing, sidecar);
      switch (result.file.outcome) {
        case PlaceResult::Outcome::Placed:
          ++exported;
          if (result.sidecar) sidecarWriter.Write(*result.sidecar);
          break;
        case PlaceResult::Outcome::Skipped:
          ++skipped;
          break;
        case PlaceResult::Outcome::Failed:
          ++failed;
          break;
      }
      if (madeFolder && result.file.outcome != PlaceResult::Outcome::Placed) rmdir(targetFolder.c_str());
    }
    ++completed;
    progress(Json{{"completed", completed}, {"total", total}, {"name", name}});
  }

  std::string message = fmt::format(texts::kExported, exported,
                                    skipped > 0 ? fmt::format(texts::kSkippedClause, skipped) : "",
                                    failed > 0 ? fmt::format(texts::kFailedClause, failed) : "");
  return Json{{"message", std::move(message)}, {"folder", datedFolder}};
}

}  // namespace tw::output
