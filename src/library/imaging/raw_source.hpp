#pragma once
// One raw file as seen by both of its readers: exiv2 (EXIF strings, orientation, the preview list)
// and LibRaw (sensor size, the thumbnail it picks, development). Each reader opens on first use,
// so a thumbnail served from an exiv2 preview never pays for LibRaw. One object per call.
#include "library/imaging/decoded_image.hpp"
#include "library/imaging/raw_file.hpp"
#include "library/imaging/raw_metadata.hpp"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tw::imaging::detail {

struct PreviewCandidate {
  enum class Origin { Exiv2, LibRaw };
  Origin origin = Origin::Exiv2;
  int width = 0;  // as listed, sensor orientation
  int height = 0;
  EmbeddedPreviewInfo exiv2;  // which exiv2 preview, for Origin::Exiv2

  int longSide() const { return width > height ? width : height; }
};

class RawSource {
 public:
  explicit RawSource(std::string path) : path_(std::move(path)) {}

  const RawMetadata* metadata();  // nullptr when exiv2 cannot read the file
  RawFile* raw();                 // nullptr when LibRaw cannot open the file

  // The raw's own orientation (embedded previews and developed data are stored unturned): the
  // EXIF tag, else LibRaw's, else upright.
  int Orientation();
  // The full picture's width and height in sensor orientation: LibRaw's visible area, else the EXIF
  // pixel size; {0, 0} when neither reader knows.
  std::pair<int, int> FullSize();

  // The embedded previews exiv2 lists, plus LibRaw's thumbnail when withLibRaw (opening LibRaw).
  std::vector<PreviewCandidate> Previews(bool withLibRaw);
  // One preview decoded and turned upright, at most maxPixelSize on its long side (0: as stored).
  MaybeImage Decode(const PreviewCandidate& candidate, int maxPixelSize);

 private:
  std::string path_;
  bool metadataRead_ = false;
  std::unique_ptr<RawMetadata> metadata_;
  bool rawOpened_ = false;
  std::unique_ptr<RawFile> raw_;
};

}  // namespace tw::imaging::detail
