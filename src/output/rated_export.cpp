#include "output/rated_export.hpp"

#include "base/files.hpp"
#include "output/output_texts.hpp"
#include "output/paired_names.hpp"
#include "output/photo_fields.hpp"
#include "output/xmp_sidecar.hpp"

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>
#include <fmt/format.h>

namespace tw::output {

Json RunRatedExport(const RatedExportJob& job, std::time_t now) {
  const std::string datedFolder = JoinPath(job.baseFolder, DatedFolderName(now));
  const std::optional<std::string> folderError = CreateDirectories(datedFolder);

  Json outputs = Json::array();
  Json errors = Json::array();
  ExportPairing pairing(PhotoPaths(job.photos), ConflictMode::Rename);
  // Creating a file costs about as much as copying a photo the system has cached, so the sidecars
  // are written by a second thread while the next photo is copied: one thread, so they are still
  // written in list order. Joined before answering.
  boost::asio::thread_pool sidecarThread(1);
  SidecarWriter sidecarWriter;
  auto fail = [&](const Json& id, const std::string& text) { errors.push_back({{"id", id}, {"error", text}}); };

  for (const Json& photo : job.photos) {
    // Echoed as the page sent it, so the page finds its record again.
    const Json id = FieldOr(photo, "id", "");
    const std::string path = StringField(photo, "path");
    if (folderError) {
      fail(id, *folderError);
      continue;
    }
    // A pipe or device put where the photo was is unreachable too; opening it never waits.
    const ReadableFile source = ReadableFile::Open(path);
    if (!source) {
      fail(id, texts::kSourceUnreachable);
      continue;
    }
    StagedFile copy(datedFolder);
    if (auto error = copy.CopyFrom(source)) {
      fail(id, error->empty() ? texts::kCopyFailed : *error);
      continue;
    }
    const long long rating = RatingInteger(photo);
    PairPlacement placed = pairing.Place(copy, datedFolder, LastPathComponent(path), path,
                                         SidecarContent{static_cast<double>(rating), RatingSidecarText(rating)});
    if (placed.file.outcome != PlaceResult::Outcome::Placed) {
      fail(id, placed.file.error.empty() ? texts::kCopyFailed : placed.file.error);
      continue;
    }
    if (placed.sidecar) {
      boost::asio::post(sidecarThread,
                        [&sidecarWriter, sidecar = std::move(*placed.sidecar)] { sidecarWriter.Write(sidecar); });
    }
    outputs.push_back({{"id", id}, {"path", placed.file.path}});
  }

  sidecarThread.join();

  const long exported = static_cast<long>(outputs.size());
  const long failed = static_cast<long>(errors.size());
  std::string message =
      fmt::format(texts::kRatedExported, exported, failed > 0 ? fmt::format(texts::kRatedFailedClause, failed) : "");
  return Json{{"token", job.token},   {"outputs", std::move(outputs)}, {"errors", std::move(errors)},
              {"folder", datedFolder}, {"baseFolder", job.baseFolder}, {"message", std::move(message)}};
}

}  // namespace tw::output
