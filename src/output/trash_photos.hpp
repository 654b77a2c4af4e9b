#pragma once
// Moving rejected photo files to the freedesktop trash: never a deletion, and the page learns
// exactly which photos' files really moved so it drops only those.
#include "base/json.hpp"
#include "platform/platform.hpp"

#include <string>
#include <vector>

namespace tw::output {

// The files to move, in list order, each with the ids of the photo records that name it. A record
// takes part only when its "path" and "id" are non-empty strings; one whose file is missing is
// passed over silently. Only what a photo record can name is moved: an absolute path of a regular
// file the photo library imports (CR3, JPEG). Any other entry that is there (a folder, a text
// file, a relative path, which would otherwise be taken from the program's working folder) is
// refused: it stays where it is and counts as an entry that could not be moved.
struct TrashItem {
  std::string path;
  std::vector<std::string> ids;
};
struct TrashSelection {
  std::vector<TrashItem> items;
  long refused = 0;
};
TrashSelection SelectFilesToTrash(const Json& photos);

struct TrashReport {
  Json removedIDs = Json::array();  // ids whose files moved, in list order, each once
  std::string message;
};
// Any thread (a worker in practice: trashing across a slow card takes time). Moves each file with
// the platform's trash, which never deletes: a file on a volume without a trash stays where it is
// and counts as a file that could not be moved, with the system's text in the message; refused
// entries are counted in it with a text of ours.
TrashReport MoveFilesToTrash(const TrashSelection& selection, platform::Platform& platform);

// The answer when no file was there to select.
TrashReport NothingToTrash();

}  // namespace tw::output
