#pragma once
// Moving rejected photo files to the freedesktop trash: never a deletion, and the page learns
// exactly which photos' files really moved so it drops only those.
#include "base/json.hpp"
#include "platform/platform.hpp"

#include <string>
#include <vector>

namespace tw::output {

// The files to move, in list order, each with the ids of the photo records that name it. A record
// takes part only when its "path" and "id" are non-empty strings and something exists at the path;
// every other entry is passed over silently.
struct TrashItem {
  std::string path;
  std::vector<std::string> ids;
};
std::vector<TrashItem> SelectFilesToTrash(const Json& photos);

struct TrashReport {
  Json removedIDs = Json::array();  // ids whose files moved, in list order, each once
  std::string message;
};
// Any thread (a worker in practice: trashing across a slow card takes time). Moves each file with
// the platform's trash, which never deletes: a file on a volume without a trash stays where it is
// and counts as a file that could not be moved, with the system's text in the message.
TrashReport MoveFilesToTrash(const std::vector<TrashItem>& items, platform::Platform& platform);

// The answer when no file could be selected.
TrashReport NothingToTrash();

}  // namespace tw::output
