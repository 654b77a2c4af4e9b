#pragma once
// Where an export puts a photo's file and its XMP sidecar. The two names are chosen together, so
// that a file never pairs with somebody else's sidecar: the plain "stem.ext" + "stem.xmp" first,
// then "stem（n）.ext" + "stem（n）.xmp" as the destination rule numbers them
// (export_destination.hpp), the first pair at which the file's name is usable and the sidecar's
// name is free or a sidecar this run wrote for the same pair. A pair is a source's folder and name
// stem: the RAW and the JPEG of one shot share one sidecar, which carries the higher of their
// ratings (a star given is never dropped).
//
// "replace" never replaces a source of the export, an item in a source's folder whose stem is a
// source's stem (a camera JPEG or the photographer's own sidecar beside the RAW, when a shoot is
// exported into its own folder), a file this run placed, a name that appeared after it was chosen,
// or a sidecar other than one this run wrote or exactly a packet this program writes.
//
// One ExportPairing per export run, used by the run's thread; one SidecarWriter per run, used by
// the thread that writes the sidecars (in the order the pairing handed them out).
#include "output/export_destination.hpp"
#include "output/staged_file.hpp"

#include <sys/types.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tw::output {

// A sidecar's contents as one photo of the pair would have it.
struct SidecarContent {
  double rating = 0;  // compared between the photos of a pair
  std::string text;
};

// A sidecar to write once the photo's file is in place.
struct SidecarWrite {
  enum class Kind {
    New,      // the name was free: written only if it still is
    Replace,  // this run's sidecar of the pair, or an earlier export's packet: replaced atomically
  };
  Kind kind = Kind::New;
  std::string path;
  std::string text;
};

struct PairPlacement {
  PlaceResult file;
  // Nothing when the pair's sidecar already carries a rating at least as high, or when the file's
  // own name is its sidecar's (a source named "….xmp").
  std::optional<SidecarWrite> sidecar;
};

class ExportPairing {
 public:
  // sources: the paths of every photo of the export, which with their stems are never replaced.
  ExportPairing(const std::vector<std::string>& sources, ConflictMode mode);

  // Gives the finished file the first usable pair of names for `name` in `folder` and claims the
  // sidecar that goes with it. "skip" answers Skipped when the plain name is taken (also when it
  // was taken only a moment ago); a pair whose name is taken meanwhile is chosen again.
  PairPlacement Place(StagedFile& file, const std::string& folder, const std::string& name, const std::string& source,
                      const SidecarContent& sidecar);

 private:
  struct Identity {
    dev_t device;
    ino_t inode;
    auto operator<=>(const Identity&) const = default;
  };
  struct Claim {
    std::string pair;  // the source's folder and stem
    double rating;
  };
  enum class Use { Free, Replace, Shared, None, Taken, SkipPhoto };
  struct Choice {
    long n;
    std::string file;
    Use fileUse;
    std::string sidecar;
    Use sidecarUse;
  };

  std::optional<Choice> Choose(const std::string& folder, const std::string& name, const std::string& pair) const;
  Use UseOfFile(const std::string& path, long n) const;
  Use UseOfSidecar(const std::string& path, const std::string& file, const std::string& pair) const;
  bool Protected(const std::string& path) const;

  ConflictMode mode_;
  std::set<Identity> sources_;
  std::set<std::pair<Identity, std::string>> sourceStems_;  // folder and lower-case stem
  std::set<std::string> kept_;                             // placed by this run, or appeared meanwhile
  std::map<std::string, Claim> sidecars_;                  // by path
};

class SidecarWriter {
 public:
  // A failed or lost sidecar loses only the sidecar. A name that a foreign file took before the
  // sidecar could take it is remembered, so a later photo of the pair never replaces that file.
  void Write(const SidecarWrite& sidecar);

 private:
  std::set<std::string> lost_;
};

}  // namespace tw::output
