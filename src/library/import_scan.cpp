#include "library/import_scan.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "base/uuid.hpp"
#include "library/imaging/decoding.hpp"
#include "library/project_store.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <set>
#include <thread>

namespace tw::library {
namespace {

namespace fs = std::filesystem;

struct Candidate {
  std::string path;  // standardized
  FileStat stat;
  std::string thumbnailPath;
};

bool IsImportableName(const std::string& name) {
  if (name.empty() || name[0] == '.') return false;
  std::string extension = ToLower(PathExtension(name));
  return extension == "cr3" || extension == "jpg" || extension == "jpeg";
}

// The absolute path with "." and ".." resolved by text, as a URL standardizes it.
std::string StandardizedPath(const std::string& path) {
  fs::path absolute = fs::path(path).is_absolute() ? fs::path(path) : fs::current_path() / path;
  std::string text = absolute.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// Every entry under the folder in enumeration order; hidden files and the contents of hidden
// folders are left out, unreadable entries are passed over.
std::vector<std::string> EnumerateFolder(const std::string& folder, const std::function<bool()>& stillCurrent) {
  std::vector<std::string> entries;
  std::error_code error;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  if (error) return entries;
  for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) {
      error.clear();
      continue;
    }
    std::string name = it->path().filename().string();
    if (!name.empty() && name[0] == '.') {
      std::error_code dirError;
      if (it->is_directory(dirError)) it.disable_recursion_pending();
      continue;
    }
    entries.push_back(it->path().string());
    if ((entries.size() & 1023) == 0 && !stillCurrent()) break;
  }
  return entries;
}

// The modification date as the thumbnail key writes it: "2024-05-01 08:30:00 +0000".
std::string KeyDate(const timespec& modified) {
  std::tm utc{};
  gmtime_r(&modified.tv_sec, &utc);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc);
  return text;
}

// The record's "date": local time, "yyyy-MM-dd'T'HH:mm:ss", no zone.
std::string RecordDate(const timespec& modified) {
  std::tm local{};
  if (!localtime_r(&modified.tv_sec, &local)) return "";
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

void MakeThumbnail(const Candidate& candidate) {
  auto image = imaging::CreateThumbnail(candidate.path, kThumbnailSize);
  if (!image) return;
  auto bytes = imaging::EncodeJPEG(*image, kThumbnailQuality);
  // Written atomically, so no half thumbnail ever takes the final name. Not flushed: after a crash
  // an empty cache file may remain, and an empty thumbnail counts as missing.
  if (bytes) WriteFileAtomically(candidate.thumbnailPath, *bytes, 0666, Durability::Cached);
}

// Makes the missing thumbnails with up to one worker per core.
void MakeMissingThumbnails(const std::vector<Candidate>& candidates, const std::function<bool()>& stillCurrent,
                           std::atomic<bool>& superseded) {
  std::vector<const Candidate*> missing;
  for (const auto& candidate : candidates) {
    FileStat thumbnail = StatPath(candidate.thumbnailPath);
    if (!thumbnail.exists || thumbnail.size == 0) missing.push_back(&candidate);
  }
  if (missing.empty()) return;
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next++) < missing.size();) {
      if (superseded || !stillCurrent()) {
        superseded = true;
        return;
      }
      MakeThumbnail(*missing[i]);
    }
  };
  size_t workers = std::min<size_t>(missing.size(), std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::thread> threads;
  for (size_t i = 1; i < workers; ++i) threads.emplace_back(work);
  work();
  for (auto& thread : threads) thread.join();
}

// Sorts by date text (empty dates first), then by path in file-manager order.
template <typename Item, typename DateAndPath>
void SortByDateThenName(std::vector<Item>& items, DateAndPath dateAndPath) {
  struct Keyed {
    std::string date;
    std::string collationKey;
    Item item;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(items.size());
  for (auto& item : items) {
    auto [date, path] = dateAndPath(item);
    keyed.push_back({std::move(date), FileNameCollationKey(path), std::move(item)});
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    return a.date != b.date ? a.date < b.date : a.collationKey < b.collationKey;
  });
  items.clear();
  for (auto& entry : keyed) items.push_back(std::move(entry.item));
}

}  // namespace

std::vector<std::string> ListImportablePhotos(const std::vector<std::string>& filesOrFolders) {
  std::vector<std::string> entries;
  for (const auto& path : filesOrFolders) {
    if (IsDirectory(path)) {
      auto inside = EnumerateFolder(path, [] { return true; });
      entries.insert(entries.end(), inside.begin(), inside.end());
    } else {
      entries.push_back(path);
    }
  }
  std::vector<std::string> photos;
  std::set<std::string> seen;
  for (const auto& entry : entries) {
    if (!IsImportableName(LastPathComponent(entry))) continue;
    std::string path = StandardizedPath(entry);
    if (seen.insert(path).second && StatPath(path).isRegular) photos.push_back(std::move(path));
  }
  SortByDateThenName(photos, [](const std::string& path) { return std::pair(RecordDate(StatPath(path).modified), path); });
  return photos;
}

std::string ThumbnailFileName(const std::string& standardizedPath, unsigned long long size, const timespec& modified) {
  std::string key = fmt::format("{}-{}-{}", standardizedPath, size, KeyDate(modified));
  return fmt::format("{}.jpg", StableHash64(key));
}

ScanOutcome ScanPhotos(const ScanRequest& request, const std::function<bool()>& stillCurrent) {
  ScanOutcome outcome;
  std::vector<std::string> entries =
      request.folder ? (request.folder->empty() ? std::vector<std::string>{} : EnumerateFolder(*request.folder, stillCurrent))
                     : request.files;

  const std::string cache = JoinPath(request.supportFolder, kThumbnailCacheFolder);
  CreateDirectories(cache);

  std::vector<Candidate> candidates;
  std::set<std::string> seen;
  for (const auto& entry : entries) {
    if (!stillCurrent()) {
      outcome.superseded = true;
      return outcome;
    }
    if (!IsImportableName(LastPathComponent(entry))) continue;
    std::string path = StandardizedPath(entry);
    if (!seen.insert(path).second) continue;
    FileStat stat = StatPath(path);
    if (!stat.exists || !stat.isRegular) {
      ++outcome.skipped;
      continue;
    }
    std::string thumbnail = JoinPath(cache, ThumbnailFileName(path, stat.size, stat.modified));
    candidates.push_back({std::move(path), stat, std::move(thumbnail)});
  }

  std::atomic<bool> superseded{false};
  MakeMissingThumbnails(candidates, stillCurrent, superseded);
  if (superseded || !stillCurrent()) {
    outcome.superseded = true;
    return outcome;
  }

  std::vector<Json> records;
  records.reserve(candidates.size());
  for (const auto& candidate : candidates) {
    std::string name = LastPathComponent(candidate.path);
    records.push_back({{"id", NewUUIDString()},
                       {"path", candidate.path},
                       {"name", name},
                       {"format", ToLower(PathExtension(name)) == "cr3" ? "CR3" : "JPG"},
                       {"size", candidate.stat.size},
                       {"date", RecordDate(candidate.stat.modified)},
                       {"thumbnail", FileURLFromPath(candidate.thumbnailPath)}});
  }
  SortByDateThenName(records, [](const Json& record) {
    return std::pair(record["date"].get<std::string>(), record["path"].get<std::string>());
  });
  outcome.photos = std::move(records);
  return outcome;
}

bool BackUpProject(const std::string& supportFolder) {
  auto bytes = ReadWholeFile(JoinPath(supportFolder, kProjectFileName));
  if (!bytes || bytes->empty()) return true;
  const std::string records = JoinPath(supportFolder, kProjectRecordsFolder);
  if (CreateDirectories(records)) return false;
  double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  std::string name = fmt::format("{:.0f}-{}.json", std::round(now), NewUUIDString());
  return !WriteFileAtomically(JoinPath(records, name), *bytes).has_value();
}

}  // namespace tw::library
