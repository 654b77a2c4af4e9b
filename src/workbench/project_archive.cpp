#include "workbench/project_archive.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "workbench/workbench_texts.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string_view>

namespace tw::workbench {
namespace {

constexpr std::array<std::string_view, 10> kRemovedKeys = {
    "apikey", "api_key", "authorization", "password", "secret", "token", "baseurl", "thumbnail", "preview",
    "previewdataurl"};

bool IsRemovedKey(const std::string& key) {
  const std::string lower = ToLower(key);
  for (std::string_view removed : kRemovedKeys) {
    if (lower == removed) return true;
  }
  return false;
}

bool IsArchive(const Json& archive) {
  return archive.is_object() && StringField(archive, "format") == texts::kArchiveFormat &&
         archive.contains("state") && archive["state"].is_object();
}

}  // namespace

Json TWProjectClean(const Json& value, int depth) {
  if (depth > kMaxArchiveDepth) return nullptr;
  if (value.is_object()) {
    Json cleaned = Json::object();
    for (auto it = value.begin(); it != value.end(); ++it) {
      if (!IsRemovedKey(it.key())) cleaned[it.key()] = TWProjectClean(it.value(), depth + 1);
    }
    return cleaned;
  }
  if (value.is_array()) {
    Json cleaned = Json::array();
    for (const Json& element : value) {
      if (cleaned.size() == kMaxArchiveArrayElements) break;
      cleaned.push_back(TWProjectClean(element, depth + 1));
    }
    return cleaned;
  }
  if (value.is_string() && StartsWith(value.get_ref<const std::string&>(), "data:")) return "";
  return value;
}

ArchiveToSave ArchiveForSaving(const Json& archive) {
  if (!archive.is_object()) return {"", texts::kArchiveInvalid};
  Json cleaned = TWProjectClean(archive);
  if (!IsArchive(cleaned)) return {"", texts::kArchiveInvalid};
  std::string bytes;
  try {
    bytes = cleaned.dump(2, ' ', false, Json::error_handler_t::strict);
  } catch (const std::exception&) {
    // Text that is not UTF-8 cannot be written as JSON.
    return {"", texts::kArchiveTooLarge};
  }
  if (bytes.size() > kMaxArchiveBytes) return {"", texts::kArchiveTooLarge};
  return {std::move(bytes), std::nullopt};
}

OpenedArchive ReadProjectArchive(const std::string& path) {
  const ReadableFile file = ReadableFile::Open(path);
  if (!file) return {std::nullopt, texts::kArchiveNotSupported};
  struct stat st {};
  if (fstat(file.fd(), &st) == 0 && static_cast<unsigned long long>(st.st_size) > kMaxArchiveBytes) {
    return {std::nullopt, texts::kArchiveOpenTooLarge};
  }
  std::optional<std::string> bytes = ReadAtMost(file, kMaxArchiveBytes);
  if (!bytes) return {std::nullopt, texts::kArchiveNotSupported};
  if (bytes->size() > kMaxArchiveBytes) return {std::nullopt, texts::kArchiveOpenTooLarge};

  std::optional<Json> parsed = ParseJSONWithin(*bytes, kMaxJsonNesting);
  if (!parsed) return {std::nullopt, texts::kArchiveNotSupported};
  Json archive = std::move(*parsed);
  // The page tags the state it stores with a format of its own; a copy of current-project.json (an
  // automatic backup) is a bare state either way.
  const bool bareState = archive.is_object() &&
                         (!archive.contains("format") || archive["format"] == texts::kPageStateFormat) &&
                         archive.contains("photos") && archive["photos"].is_array();
  if (bareState) {
    archive = Json{{"format", texts::kArchiveFormat}, {"version", 1}, {"state", std::move(archive)}};
  }
  Json cleaned = TWProjectClean(archive);
  if (!IsArchive(cleaned)) return {std::nullopt, texts::kArchiveNotSupported};
  return {std::move(cleaned), ""};
}

}  // namespace tw::workbench
