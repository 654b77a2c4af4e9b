#include "workbench/photo_relink.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "base/uuid.hpp"
#include "library/imaging/decoding.hpp"
#include "workbench/style_preview.hpp"
#include "workbench/workbench_texts.hpp"

#include <filesystem>
#include <map>
#include <optional>

namespace tw::workbench {
namespace {

namespace fs = std::filesystem;

// Lower-cased file name → the one photo of that name, or nullopt once a second one turned up.
using NameIndex = std::map<std::string, std::optional<std::string>>;

// nullopt when the folder holds more entries than a shoot would.
std::optional<NameIndex> IndexPhotos(const std::string& folder) {
  NameIndex index;
  if (!StartsWith(folder, "/")) return index;
  std::error_code error;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  long visited = 0;
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (++visited > kMaxRelinkEntries) return std::nullopt;
    const std::string name = it->path().filename().string();
    if (StartsWith(name, ".")) {
      if (it->is_directory(error)) it.disable_recursion_pending();
      error.clear();
      continue;
    }
    const std::string path = it->path().string();
    if (!it->is_regular_file(error) || !TWPhotoPath(path)) {
      error.clear();
      continue;
    }
    auto [entry, inserted] = index.emplace(ToLower(name), path);
    if (!inserted) entry->second.reset();
  }
  return index;
}

// The thumbnail's file URL, or nullopt when the photo could not be read or the file not written.
std::optional<std::string> WriteThumbnail(const std::string& photo, const std::string& thumbnails) {
  imaging::MaybeImage image = imaging::CreateThumbnail(photo, kRelinkThumbnailPixels);
  std::optional<std::string> jpeg = image ? imaging::EncodeJPEG(*image, kRelinkThumbnailQuality) : std::nullopt;
  if (!jpeg) return std::nullopt;
  const std::string path = JoinPath(thumbnails, NewUUIDString() + ".jpg");
  if (WriteFileAtomically(path, *jpeg, 0666, Durability::Cached)) return std::nullopt;
  return FileURLFromPath(path);
}

}  // namespace

Json RelinkPhotos(const Json& photos, const std::string& folder, const std::string& supportFolder) {
  const std::optional<NameIndex> index = IndexPhotos(folder);
  const std::string thumbnails = JoinPath(supportFolder, texts::kProjectThumbnailsFolder);
  CreateDirectories(thumbnails);
  Json linked = Json::array();
  long missing = 0;
  for (const Json& photo : photos) {
    const std::string name = LastPathComponent(StringField(photo, "path"));
    std::optional<std::string> found;
    if (index && !name.empty()) {
      auto entry = index->find(ToLower(name));
      if (entry != index->end()) found = entry->second;
    }
    std::optional<std::string> thumbnail = found ? WriteThumbnail(*found, thumbnails) : std::nullopt;
    if (!thumbnail) {
      ++missing;
      continue;
    }
    linked.push_back({{"id", StringField(photo, "id")},
                      {"path", *found},
                      {"name", LastPathComponent(*found)},
                      {"thumbnail", *thumbnail}});
  }
  return Json{{"photos", std::move(linked)}, {"missing", missing}};
}

}  // namespace tw::workbench
