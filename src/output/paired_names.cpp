#include "output/paired_names.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "output/xmp_sidecar.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tw::output {
namespace {

// Larger than any packet this program writes with a sensible label; a bigger file is not ours.
constexpr size_t kLargestOwnSidecar = 4096;

std::string StemOf(const std::string& path) { return SplitName(LastPathComponent(path)).stem; }

// Read without waiting on a pipe and without following a link: only a plain file can be ours.
bool HoldsOwnSidecar(const std::string& path) {
  struct stat item {};
  if (lstat(path.c_str(), &item) != 0 || !S_ISREG(item.st_mode) || item.st_size > off_t{kLargestOwnSidecar}) {
    return false;
  }
  ReadableFile file = ReadableFile::Open(path);
  if (!file) return false;
  std::string text(kLargestOwnSidecar + 1, '\0');
  size_t length = 0;
  while (length < text.size()) {
    ssize_t n = read(file.fd(), text.data() + length, text.size() - length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    length += static_cast<size_t>(n);
  }
  text.resize(length);
  return IsOwnSidecarText(text);
}

}  // namespace

ExportPairing::ExportPairing(const std::vector<std::string>& sources, ConflictMode mode) : mode_(mode) {
  // Only "replace" ever asks what is protected.
  if (mode_ != ConflictMode::Replace) return;
  for (const std::string& source : sources) {
    struct stat st {};
    // The file a link names, and the link itself.
    if (stat(source.c_str(), &st) == 0) sources_.insert({st.st_dev, st.st_ino});
    if (lstat(source.c_str(), &st) == 0) sources_.insert({st.st_dev, st.st_ino});
    if (stat(ParentDirectory(source).c_str(), &st) == 0) {
      sourceStems_.insert({{st.st_dev, st.st_ino}, ToLower(StemOf(source))});
    }
  }
}

bool ExportPairing::Protected(const std::string& path) const {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && sources_.count({st.st_dev, st.st_ino})) return true;
  return stat(ParentDirectory(path).c_str(), &st) == 0 &&
         sourceStems_.count({{st.st_dev, st.st_ino}, ToLower(StemOf(path))});
}

ExportPairing::Use ExportPairing::UseOfFile(const std::string& path, long n) const {
  // A sidecar claimed by this run holds its name even before the sidecar thread has written it.
  const bool ours = kept_.count(path) || sidecars_.count(path);
  if (!ours && !NameTaken(path)) return Use::Free;
  if (mode_ == ConflictMode::Skip && n == 0) return Use::SkipPhoto;
  if (mode_ == ConflictMode::Replace && !ours && !Protected(path)) return Use::Replace;
  return Use::Taken;
}

ExportPairing::Use ExportPairing::UseOfSidecar(const std::string& path, const std::string& file,
                                               const std::string& pair) const {
  if (path == file) return Use::None;
  if (auto claim = sidecars_.find(path); claim != sidecars_.end()) {
    return claim->second.pair == pair ? Use::Shared : Use::Taken;
  }
  if (!NameTaken(path)) return Use::Free;
  if (mode_ == ConflictMode::Replace && !kept_.count(path) && HoldsOwnSidecar(path) && !Protected(path)) {
    return Use::Replace;
  }
  return Use::Taken;
}

std::optional<ExportPairing::Choice> ExportPairing::Choose(const std::string& folder, const std::string& name,
                                                          const std::string& pair) const {
  for (long n = 0;; ++n) {
    Choice choice{n, JoinPath(folder, NumberedName(name, n)), Use::Free, "", Use::None};
    choice.sidecar = SidecarPathFor(choice.file);
    // The UUID names are new by construction.
    if (n > kLastNumberedName) {
      choice.sidecarUse = choice.sidecar == choice.file ? Use::None : Use::Free;
      return choice;
    }
    choice.fileUse = UseOfFile(choice.file, n);
    if (choice.fileUse == Use::SkipPhoto) return std::nullopt;
    if (choice.fileUse == Use::Taken) continue;
    choice.sidecarUse = UseOfSidecar(choice.sidecar, choice.file, pair);
    if (choice.sidecarUse != Use::Taken) return choice;
  }
}

PairPlacement ExportPairing::Place(StagedFile& file, const std::string& folder, const std::string& name,
                                   const std::string& source, const SidecarContent& sidecar) {
  const std::string pair = JoinPath(ParentDirectory(source), StemOf(source));
  PairPlacement placement;
  for (;;) {
    std::optional<Choice> choice = Choose(folder, name, pair);
    if (!choice) {
      placement.file.outcome = PlaceResult::Outcome::Skipped;
      return placement;
    }
    placement.file =
        choice->fileUse == Use::Replace ? file.PlaceReplacing(choice->file) : file.PlaceExactly(choice->file);
    if (placement.file.outcome == PlaceResult::Outcome::Failed) return placement;
    kept_.insert(choice->file);
    if (placement.file.outcome == PlaceResult::Outcome::Skipped) {
      // Someone took the name after it was found free: with "skip" that is a name taken, and
      // "replace" is meant for what held a name when the export chose it, not for a newcomer.
      if (mode_ == ConflictMode::Skip && choice->n == 0) return placement;
      continue;
    }
    switch (choice->sidecarUse) {
      case Use::Shared: {
        Claim& claim = sidecars_.at(choice->sidecar);
        if (sidecar.rating > claim.rating) {
          claim.rating = sidecar.rating;
          placement.sidecar = SidecarWrite{SidecarWrite::Kind::Replace, choice->sidecar, sidecar.text};
        }
        break;
      }
      case Use::Free:
      case Use::Replace:
        sidecars_[choice->sidecar] = Claim{pair, sidecar.rating};
        placement.sidecar = SidecarWrite{
            choice->sidecarUse == Use::Free ? SidecarWrite::Kind::New : SidecarWrite::Kind::Replace, choice->sidecar,
            sidecar.text};
        break;
      default:  // None: the file's own name is its sidecar's
        break;
    }
    return placement;
  }
}

void SidecarWriter::Write(const SidecarWrite& sidecar) {
  if (sidecar.kind == SidecarWrite::Kind::Replace) {
    if (!lost_.count(sidecar.path)) WriteFileAtomically(sidecar.path, sidecar.text);
    return;
  }
  StagedFile staged(ParentDirectory(sidecar.path));
  if (staged.Write(sidecar.text) || staged.PlaceExactly(sidecar.path).outcome != PlaceResult::Outcome::Placed) {
    lost_.insert(sidecar.path);
  }
}

}  // namespace tw::output
