#pragma once
// How an export's copy or rendering reaches its final name: it is written completely into a file
// that has no name yet (O_TMPFILE) in the destination folder and only then gets its name, in one
// step that fails when the name is taken. An interrupted or failed write therefore never leaves
// half a file under the final name (nor a stray temporary one), a name that another writer takes in
// the meantime is never overwritten, and with "replace" the earlier file stays until the new one is
// complete. File systems without unnamed files (FAT and exFAT cards, network shares) get a hidden
// named temporary file instead. Any thread; one StagedFile is used by one thread.
#include "base/files.hpp"

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace tw::output {

struct PlaceResult {
  enum class Outcome { Placed, Skipped, Failed };
  Outcome outcome = Outcome::Failed;
  std::string path;   // where the file now is (Placed)
  std::string error;  // the system's text (Failed)
};

class StagedFile {
 public:
  // HiddenName is what file systems without unnamed files get; choosing it serves their tests.
  enum class Naming { UnnamedWhereAvailable, HiddenName };
  // Creates the unnamed (or hidden temporary) file in folder; failure() tells whether that worked.
  explicit StagedFile(std::string folder, Naming naming = Naming::UnnamedWhereAvailable);
  // Drops the file unless it has been placed.
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  const std::optional<std::string>& failure() const { return failure_; }

  // The whole contents; permissions mode minus the umask, as a new file gets them.
  std::optional<std::string> Write(std::string_view bytes, mode_t mode = 0666);
  // The source file's contents, permission bits and access and modification times (a copy looks
  // like its original to a photo tool sorting by date). A source that failed to open gives its error.
  std::optional<std::string> CopyFrom(const ReadableFile& source);

  // Gives the finished file exactly this path, only when nothing is there (Skipped otherwise).
  PlaceResult PlaceExactly(const std::string& path);
  // Puts the finished file over the item at path in one rename (a folder there fails it); which
  // items may be replaced is the caller's rule (paired_names.hpp).
  PlaceResult PlaceReplacing(const std::string& path);

 private:
  // 0, EEXIST or errno: the finished file under `destination` only if nothing is there.
  int PlaceExclusivelyAt(const std::string& destination);
  // Replaces whatever item is at `destination` by the finished file in one rename.
  int ReplaceAt(const std::string& destination);

  std::string folder_;
  std::string temporary_;  // the hidden name, only where unnamed files are not available
  int fd_ = -1;
  bool placed_ = false;
  std::optional<std::string> failure_;
};

// How a named temporary file takes a new name without replacing anything. Each later method serves
// file systems that lack the earlier one:
//   RenameNoReplace  renameat2(2) with RENAME_NOREPLACE, exclusive and atomic;
//   HardLink         link(2), exclusive and atomic; the temporary name is removed afterwards;
//   Copy             an O_EXCL copy; a failed copy removes what it created.
// Returns 0, EEXIST when the destination exists, or the errno of the failure.
enum class ExclusiveMethod { RenameNoReplace, HardLink, Copy };
int PlaceExclusively(const std::string& temporary, const std::string& destination,
                     ExclusiveMethod first = ExclusiveMethod::RenameNoReplace);

// Copies every byte from one open file to another (in-kernel where the system can); errno or 0.
int CopyFileContents(int from, int to);

}  // namespace tw::output
