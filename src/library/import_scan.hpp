#pragma once
// Turning a folder (searched recursively) or a hand-picked list of files into photo records:
// CR3 and JPEG only, each with a cached 640-pixel thumbnail, sorted by date and then by name.
#include "base/json.hpp"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tw::library {

inline constexpr const char* kReadingFilesStatus = "正在读取文件信息…";
inline constexpr const char* kNothingToImportStatus = "没有可导入的 CR3/JPG 照片，当前项目保持不变";
inline constexpr const char* kBackupFailedStatus = "旧项目记录保存失败，已暂停导入；当前项目保持不变";
inline constexpr const char* kNonUTF8NamesStatus = "有 {} 个文件名不是 UTF-8 编码，已跳过";
inline constexpr const char* kNotAnImportablePhoto = "不是可读取的 CR3/JPG 照片文件";
inline constexpr const char* kThumbnailCacheFolder = "ThumbnailCache";
inline constexpr const char* kProjectRecordsFolder = "ProjectRecords";
inline constexpr int kThumbnailSize = 640;
inline constexpr double kThumbnailQuality = 0.82;

struct ScanRequest {
  // When set, its contents are scanned and files is ignored; a relative folder holds nothing.
  std::optional<std::string> folder;
  std::vector<std::string> files;
  std::string supportFolder;
};

// How far a scan has come: photo files found, thumbnails ready (in the cache before, or made now,
// or given up on an undecodable photo), and the photos the import takes (0 while the folder is
// still being searched).
struct ScanProgress {
  long found = 0;
  long thumbnails = 0;
  long total = 0;
  bool operator==(const ScanProgress&) const = default;
};
// Progress is told at most this often, and once more when every thumbnail is ready.
inline constexpr std::chrono::milliseconds kScanProgressInterval{100};
// Records whose thumbnails are ready are told in batches, the first at once, later ones at most
// this often.
inline constexpr std::chrono::milliseconds kScanRecordsInterval{150};

struct ScanOutcome {
  bool superseded = false;       // a newer import took over: nothing may be published
  std::vector<Json> photos;      // sorted photo records
  long skipped = 0;              // acceptable names that were not regular files or not UTF-8
  long nonUTF8Names = 0;         // of those, the paths that are not UTF-8
};

// The absolute path with "." and ".." resolved by text and no trailing slash, as a file URL
// standardizes it; nullopt for a relative path, which is never resolved against the working folder.
std::optional<std::string> StandardizedPath(const std::string& path);

// Worker thread. stillCurrent is asked before every file (and by every thumbnail worker); once it
// answers false the scan stops and reports superseded. Thumbnails are made by up to one worker per
// core; the records and their order are exactly those of a one-by-one scan. progress and records
// (when given) are called from the scan's threads, one call at a time, before the scan returns.
// records hears the photo records (the very ones of the outcome, in no particular order) as their
// thumbnails become ready; those still waiting for their batch when the last thumbnail is ready are
// left to the outcome.
ScanOutcome ScanPhotos(const ScanRequest& request, const std::function<bool()>& stillCurrent,
                       const std::function<void(const ScanProgress&)>& progress = nullptr,
                       const std::function<void(std::vector<Json>)>& records = nullptr);

// The photos an import of these absolute files and folders would take (same rules and order),
// without making thumbnails: for command-line tools. Any thread.
struct PhotoListing {
  std::vector<std::string> photos;
  std::vector<std::string> notPhotos;  // given paths that are neither a folder nor an importable photo file
  long nonUTF8Names = 0;               // photos left out because their paths are not UTF-8
};
PhotoListing ListImportablePhotos(const std::vector<std::string>& filesOrFolders);

// Whether a path from outside names a photo this workbench imports: absolute, a regular file (after
// symbolic links), a CR3 or JPEG name that is not hidden. Any thread.
bool IsImportablePhoto(const std::string& path);

// The thumbnail cache name of a file version: the stable hash of "path-size-date", ".jpg".
std::string ThumbnailFileName(const std::string& standardizedPath, unsigned long long size, const timespec& modified);

// Main queue, before a scan is published: copies "current-project.json" (when it exists and is
// not empty) into ProjectRecords. False when the copy could not be made.
bool BackUpProject(const std::string& supportFolder);

}  // namespace tw::library
