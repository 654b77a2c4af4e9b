#include <gio/gio.h>

#include "platform/platform.hpp"

namespace tw::platform {

TrashOutcome MoveToTrashWithGIO(const std::string& path) {
  TrashOutcome outcome;
  GFile* file = g_file_new_for_path(path.c_str());
  GError* error = nullptr;
  // g_file_trash never falls back to deleting: a volume without a trash answers NOT_SUPPORTED.
  outcome.moved = g_file_trash(file, nullptr, &error);
  if (!outcome.moved) outcome.error = error ? error->message : "无法移到废纸篓";
  if (error) g_error_free(error);
  g_object_unref(file);
  return outcome;
}

}  // namespace tw::platform
