#include "output/trash_photos.hpp"

#include "base/files.hpp"
#include "library/import_scan.hpp"
#include "output/output_texts.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <map>
#include <set>

namespace tw::output {
namespace {

// A path the page sent that the photo library could have imported: nothing else is moved.
bool IsPhotoFile(const std::string& path) {
  return !path.empty() && path[0] == '/' && StatPath(path).isRegular && !library::ListImportablePhotos({path}).photos.empty();
}

}  // namespace

TrashSelection SelectFilesToTrash(const Json& photos) {
  TrashSelection selection;
  if (!photos.is_array()) return selection;
  std::map<std::string, size_t> indexByPath;
  for (const Json& photo : photos) {
    std::string path = StringField(photo, "path");
    std::string id = StringField(photo, "id");
    if (path.empty() || id.empty()) continue;
    if (!IsPhotoFile(path)) {
      // A relative path is never looked up: it names nothing a photo record can hold.
      if (path[0] != '/' || PathExists(path)) ++selection.refused;
      continue;
    }
    // Two records naming one file: the file moves once, and both records learn that it did.
    auto [it, added] = indexByPath.emplace(path, selection.items.size());
    if (added) selection.items.push_back(TrashItem{path, {}});
    selection.items[it->second].ids.push_back(id);
  }
  return selection;
}

TrashReport NothingToTrash() { return TrashReport{Json::array(), texts::kTrashNothingAccessible}; }

TrashReport MoveFilesToTrash(const TrashSelection& selection, platform::Platform& platform) {
  if (selection.items.empty() && selection.refused == 0) return NothingToTrash();
  TrashReport report;
  std::set<std::string> reported;
  std::vector<std::string> reasons;
  for (const TrashItem& item : selection.items) {
    platform::TrashOutcome outcome = platform.MoveToTrash(item.path);
    if (!outcome.moved) {
      if (reasons.empty()) reasons.push_back(outcome.error.empty() ? texts::kUnknownError : outcome.error);
      continue;
    }
    for (const std::string& id : item.ids) {
      if (reported.insert(id).second) report.removedIDs.push_back(id);
    }
  }
  if (selection.refused > 0) reasons.push_back(fmt::format(texts::kTrashRefused, selection.refused));
  const long moved = static_cast<long>(report.removedIDs.size());
  report.message = reasons.empty()
                       ? fmt::format(texts::kTrashMoved, moved)
                       : fmt::format(texts::kTrashPartlyMoved, moved, fmt::join(reasons, texts::kTrashReasonSeparator));
  return report;
}

}  // namespace tw::output
