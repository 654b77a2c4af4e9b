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
#include <iterator>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace tw::library {
namespace {

namespace fs = std::filesystem;

struct Candidate {
  std::string path;  // standardized
  FileStat stat;
  std::string thumbnailPath;
  std::string id;
};

bool IsImportableName(const std::string& name) {
  if (name.empty() || name[0] == '.') return false;
  std::string extension = ToLower(PathExtension(name));
  return extension == "cr3" || extension == "jpg" || extension == "jpeg";
}

// Lets a report through at most once per interval, the first one at once. Its caller serialises.
class Throttle {
 public:
  explicit Throttle(std::chrono::milliseconds interval) : interval_(interval) {}
  bool Due(bool force = false) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && passed_ && now - passedAt_ < interval_) return false;
    passed_ = true;
    passedAt_ = now;
    return true;
  }

 private:
  std::chrono::milliseconds interval_;
  bool passed_ = false;
  std::chrono::steady_clock::time_point passedAt_;
};

// Tells a scan's progress from any of its threads, one call at a time, at most once per interval
// unless forced, and never the same numbers twice.
class ProgressReporter {
 public:
  explicit ProgressReporter(const std::function<void(const ScanProgress&)>& progress) : progress_(progress) {}
  void Report(const ScanProgress& now, bool force = false) {
    if (!progress_) return;
    std::lock_guard lock(mutex_);
    if (now == last_ || !throttle_.Due(force)) return;
    last_ = now;
    progress_(now);
  }

 private:
  const std::function<void(const ScanProgress&)>& progress_;
  std::mutex mutex_;
  ScanProgress last_;
  Throttle throttle_{kScanProgressInterval};
};

// Tells records from any of a scan's threads in batches, one call at a time, at most once per
// interval; records added in between wait for the next batch.
class RecordBatcher {
 public:
  explicit RecordBatcher(const std::function<void(std::vector<Json>)>& records) : records_(records) {}
  void Add(std::vector<Json> ready) {
    std::lock_guard lock(mutex_);
    waiting_.insert(waiting_.end(), std::make_move_iterator(ready.begin()), std::make_move_iterator(ready.end()));
    if (!waiting_.empty() && throttle_.Due()) records_(std::exchange(waiting_, {}));
  }

 private:
  const std::function<void(std::vector<Json>)>& records_;
  std::mutex mutex_;
  std::vector<Json> waiting_;
  Throttle throttle_{kScanRecordsInterval};
};

// Every entry under the folder in enumeration order; hidden files and the contents of hidden
// folders are left out, unreadable entries are passed over. found (when given) hears the count of
// importable names so far.
std::vector<std::string> EnumerateFolder(const std::string& folder, const std::function<bool()>& stillCurrent,
                                         const std::function<void(long)>& found = nullptr) {
  long importable = 0;
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
    if (found && IsImportableName(name)) found(++importable);
    if ((entries.size() & 1023) == 0 && !stillCurrent()) break;
  }
  return entries;
}

struct Selection {
  bool superseded = false;
  std::vector<Candidate> candidates;
  long skipped = 0;
  long nonUTF8Names = 0;
};

// The entries an import takes, each once: importable names, absolute UTF-8 paths of regular files.
// The page holds only UTF-8 text: other bytes would reach it as U+FFFD, and two files could then
// share one path (and trashing one record move the other file).
Selection SelectCandidates(const std::vector<std::string>& entries, const std::function<bool()>& stillCurrent) {
  Selection selection;
  std::set<std::string> seen;
  for (const auto& entry : entries) {
    if (!stillCurrent()) {
      selection.superseded = true;
      return selection;
    }
    if (!IsImportableName(LastPathComponent(entry))) continue;
    std::optional<std::string> path = StandardizedPath(entry);
    if (path && !seen.insert(*path).second) continue;
    if (path && !IsValidUTF8(*path)) {
      ++selection.skipped;
      ++selection.nonUTF8Names;
      continue;
    }
    FileStat stat = path ? StatPath(*path) : FileStat{};
    if (!stat.isRegular) {
      ++selection.skipped;
      continue;
    }
    selection.candidates.push_back({std::move(*path), stat, {}});
  }
  return selection;
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

Json PhotoRecord(const Candidate& candidate) {
  std::string name = LastPathComponent(candidate.path);
  return {{"id", candidate.id},
          {"path", candidate.path},
          {"name", name},
          {"format", ToLower(PathExtension(name)) == "cr3" ? "CR3" : "JPG"},
          {"size", candidate.stat.size},
          {"date", RecordDate(candidate.stat.modified)},
          {"thumbnail", FileURLFromPath(candidate.thumbnailPath)}};
}

void MakeThumbnail(const Candidate& candidate) {
  auto image = imaging::CreateThumbnail(candidate.path, kThumbnailSize);
  if (!image) return;
  auto bytes = imaging::EncodeJPEG(*image, kThumbnailQuality);
  // Written atomically, so no half thumbnail ever takes the final name. Not flushed: after a crash
  // an empty cache file may remain, and an empty thumbnail counts as missing.
  if (bytes) WriteFileAtomically(candidate.thumbnailPath, *bytes, 0666, Durability::Cached);
}

// Makes the missing thumbnails with up to one worker per core; ready hears how many are ready and
// which candidates have just become so, first those already cached, then one after every thumbnail
// tried.
using ThumbnailsReady = std::function<void(long count, const std::vector<const Candidate*>& now)>;
void MakeMissingThumbnails(const std::vector<Candidate>& candidates, const std::function<bool()>& stillCurrent,
                           std::atomic<bool>& superseded, const ThumbnailsReady& ready) {
  std::vector<const Candidate*> missing;
  std::vector<const Candidate*> cached;
  for (const auto& candidate : candidates) {
    FileStat thumbnail = StatPath(candidate.thumbnailPath);
    (!thumbnail.exists || thumbnail.size == 0 ? missing : cached).push_back(&candidate);
  }
  std::atomic<long> readyCount{static_cast<long>(cached.size())};
  ready(readyCount, cached);
  if (missing.empty()) return;
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next++) < missing.size();) {
      if (superseded || !stillCurrent()) {
        superseded = true;
        return;
      }
      MakeThumbnail(*missing[i]);
      ready(++readyCount, {missing[i]});
    }
  };
  size_t workers = std::min<size_t>(missing.size(), std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::thread> threads;
  for (size_t i = 1; i < workers; ++i) threads.emplace_back(work);
  work();
  for (auto& thread : threads) thread.join();
}

// Sorts by date text (empty dates first), then by path in file-name order.
template <typename Item, typename DateAndPath>
void SortByDateThenName(std::vector<Item>& items, DateAndPath dateAndPath) {
  struct Keyed {
    std::string date;
    std::string path;
    Item item;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(items.size());
  for (auto& item : items) {
    auto [date, path] = dateAndPath(item);
    keyed.push_back({std::move(date), std::move(path), std::move(item)});
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    return a.date != b.date ? a.date < b.date : FileNameOrderLess(a.path, b.path);
  });
  items.clear();
  for (auto& entry : keyed) items.push_back(std::move(entry.item));
}

}  // namespace

std::optional<std::string> StandardizedPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return std::nullopt;
  std::string text = fs::path(path).lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

bool IsImportablePhoto(const std::string& path) {
  return StandardizedPath(path) && IsImportableName(LastPathComponent(path)) && StatPath(path).isRegular;
}

PhotoListing ListImportablePhotos(const std::vector<std::string>& filesOrFolders) {
  PhotoListing listing;
  std::vector<std::string> entries;
  for (const auto& path : filesOrFolders) {
    FileStat stat = StandardizedPath(path) ? StatPath(path) : FileStat{};
    if (stat.isDirectory) {
      auto inside = EnumerateFolder(path, [] { return true; });
      entries.insert(entries.end(), inside.begin(), inside.end());
    } else if (stat.isRegular && IsImportableName(LastPathComponent(path))) {
      entries.push_back(path);
    } else {
      listing.notPhotos.push_back(path);
    }
  }
  Selection selection = SelectCandidates(entries, [] { return true; });
  SortByDateThenName(selection.candidates, [](const Candidate& candidate) {
    return std::pair(RecordDate(candidate.stat.modified), candidate.path);
  });
  for (auto& candidate : selection.candidates) listing.photos.push_back(std::move(candidate.path));
  listing.nonUTF8Names = selection.nonUTF8Names;
  return listing;
}

std::string ThumbnailFileName(const std::string& standardizedPath, unsigned long long size, const timespec& modified) {
  std::string key = fmt::format("{}-{}-{}", standardizedPath, size, KeyDate(modified));
  return fmt::format("{}.jpg", StableHash64(key));
}

ScanOutcome ScanPhotos(const ScanRequest& request, const std::function<bool()>& stillCurrent,
                       const std::function<void(const ScanProgress&)>& progress,
                       const std::function<void(std::vector<Json>)>& records) {
  ScanOutcome outcome;
  ProgressReporter reporter(progress);
  RecordBatcher batcher(records);
  std::vector<std::string> entries = request.files;
  if (request.folder) {
    auto folder = StandardizedPath(*request.folder);
    entries = folder ? EnumerateFolder(*folder, stillCurrent, [&](long found) { reporter.Report({found, 0, 0}); })
                     : std::vector<std::string>{};
  }

  const std::string cache = JoinPath(request.supportFolder, kThumbnailCacheFolder);
  CreateDirectories(cache);

  Selection selection = SelectCandidates(entries, stillCurrent);
  if (selection.superseded) {
    outcome.superseded = true;
    return outcome;
  }
  outcome.skipped = selection.skipped;
  outcome.nonUTF8Names = selection.nonUTF8Names;
  std::vector<Candidate>& candidates = selection.candidates;
  for (auto& candidate : candidates) {
    candidate.thumbnailPath =
        JoinPath(cache, ThumbnailFileName(candidate.path, candidate.stat.size, candidate.stat.modified));
    candidate.id = NewUUIDString();
  }

  std::atomic<bool> superseded{false};
  const long total = static_cast<long>(candidates.size());
  // The first count and the last are always told: the page learns the whole at once, and sees it full.
  std::atomic<bool> first{true};
  auto ready = [&](long count, const std::vector<const Candidate*>& now) {
    reporter.Report({total, count, total}, first.exchange(false) || count == total);
    // With every thumbnail ready the outcome follows at once, and carries them all.
    if (!records || count == total) return;
    std::vector<Json> batch;
    for (const Candidate* candidate : now) batch.push_back(PhotoRecord(*candidate));
    batcher.Add(std::move(batch));
  };
  MakeMissingThumbnails(candidates, stillCurrent, superseded, ready);
  if (superseded || !stillCurrent()) {
    outcome.superseded = true;
    return outcome;
  }

  std::vector<Json> photos;
  photos.reserve(candidates.size());
  for (const auto& candidate : candidates) photos.push_back(PhotoRecord(candidate));
  SortByDateThenName(photos, [](const Json& record) {
    return std::pair(record["date"].get<std::string>(), record["path"].get<std::string>());
  });
  outcome.photos = std::move(photos);
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
