#include "output/rated_export.hpp"

#include "base/files.hpp"
#include "output/export_destination.hpp"
#include "output/output_texts.hpp"
#include "output/photo_fields.hpp"
#include "output/staged_file.hpp"
#include "output/xmp_sidecar.hpp"

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>
#include <fmt/format.h>

namespace tw::output {
namespace {

// Only when nothing is at the sidecar's name: a sidecar already there (another copy of the same
// stem, or the user's own) is left as it is. A failed sidecar loses only the sidecar.
void WriteRatingSidecar(const std::string& copyPath, long long rating) {
  StagedFile sidecar(ParentDirectory(copyPath));
  if (sidecar.Write(RatingSidecarText(rating))) return;
  sidecar.PlaceExactly(SidecarPathFor(copyPath));
}

}  // namespace

Json RunRatedExport(const RatedExportJob& job, std::time_t now) {
  const std::string datedFolder = JoinPath(job.baseFolder, DatedFolderName(now));
  const std::optional<std::string> folderError = CreateDirectories(datedFolder);

  Json outputs = Json::array();
  Json errors = Json::array();
  // Creating a file costs about as much as copying a photo the system has cached, so the sidecars
  // are written by a second thread while the next photo is copied: one thread, so they are still
  // written in list order (the first photo of a stem gets its sidecar). Joined before answering.
  boost::asio::thread_pool sidecarWriter(1);
  auto fail = [&](const std::string& id, const std::string& text) {
    errors.push_back({{"id", id}, {"error", text}});
  };

  for (const Json& photo : job.photos) {
    const std::string id = StringField(photo, "id");
    const std::string path = StringField(photo, "path");
    const FileStat source = StatPath(path);
    if (folderError || path.empty() || !source.exists || source.isDirectory) {
      fail(id, folderError ? *folderError : texts::kSourceUnreachable);
      continue;
    }
    StagedFile copy(datedFolder);
    if (auto error = copy.CopyFrom(path)) {
      fail(id, error->empty() ? texts::kCopyFailed : *error);
      continue;
    }
    PlaceResult placed = copy.Place(LastPathComponent(path), ConflictMode::Rename);
    if (placed.outcome != PlaceResult::Outcome::Placed) {
      fail(id, placed.error.empty() ? texts::kCopyFailed : placed.error);
      continue;
    }
    boost::asio::post(sidecarWriter, [copy = placed.path, rating = RatingInteger(photo)] { WriteRatingSidecar(copy, rating); });
    outputs.push_back({{"id", id}, {"path", placed.path}});
  }

  sidecarWriter.join();

  const long exported = static_cast<long>(outputs.size());
  const long failed = static_cast<long>(errors.size());
  std::string message =
      fmt::format(texts::kRatedExported, exported, failed > 0 ? fmt::format(texts::kRatedFailedClause, failed) : "");
  return Json{{"token", job.token},   {"outputs", std::move(outputs)}, {"errors", std::move(errors)},
              {"folder", datedFolder}, {"baseFolder", job.baseFolder}, {"message", std::move(message)}};
}

}  // namespace tw::output
