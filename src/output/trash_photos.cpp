#include "output/trash_photos.hpp"

#include "output/output_texts.hpp"

#include <fmt/format.h>

#include <map>
#include <set>
#include <sys/stat.h>

namespace tw::output {
namespace {

bool SomethingAt(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

std::vector<TrashItem> SelectFilesToTrash(const Json& photos) {
  std::vector<TrashItem> items;
  if (!photos.is_array()) return items;
  std::map<std::string, size_t> indexByPath;
  for (const Json& photo : photos) {
    std::string path = StringField(photo, "path");
    std::string id = StringField(photo, "id");
    if (path.empty() || id.empty() || !SomethingAt(path)) continue;
    // Two records naming one file: the file moves once, and both records learn that it did.
    auto [it, added] = indexByPath.emplace(path, items.size());
    if (added) items.push_back(TrashItem{path, {}});
    items[it->second].ids.push_back(id);
  }
  return items;
}

TrashReport NothingToTrash() { return TrashReport{Json::array(), texts::kTrashNothingAccessible}; }

TrashReport MoveFilesToTrash(const std::vector<TrashItem>& items, platform::Platform& platform) {
  if (items.empty()) return NothingToTrash();
  TrashReport report;
  std::set<std::string> reported;
  std::string firstError;
  bool anyFailed = false;
  for (const TrashItem& item : items) {
    platform::TrashOutcome outcome = platform.MoveToTrash(item.path);
    if (!outcome.moved) {
      if (!anyFailed) firstError = outcome.error;
      anyFailed = true;
      continue;
    }
    for (const std::string& id : item.ids) {
      if (reported.insert(id).second) report.removedIDs.push_back(id);
    }
  }
  const long moved = static_cast<long>(report.removedIDs.size());
  report.message = anyFailed
                       ? fmt::format(texts::kTrashPartlyMoved, moved, firstError.empty() ? texts::kUnknownError : firstError)
                       : fmt::format(texts::kTrashMoved, moved);
  return report;
}

}  // namespace tw::output
