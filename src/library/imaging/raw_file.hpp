#pragma once
// LibRaw's view of one raw file: sensor size, orientation, shooting data, the embedded thumbnail it
// picks (the largest JPEG: full size in CR3) and development. One LibRaw object per RawFile, so
// each call on each thread has its own (libraw_r is the reentrant build).
#include <vips/vips8>

#include <memory>
#include <optional>
#include <string>

class LibRaw;

namespace tw::imaging::detail {

struct RawShotInfo {
  std::string make;               // LibRaw's normalised maker ("Canon")
  std::string model;              // LibRaw's model without the maker ("EOS 30D")
  std::string lensName;           // EXIF lens model as LibRaw read it
  std::string makernoteLensName;  // the maker's own lens name, when EXIF has none
  float focalLength = 0;          // mm
  float aperture = 0;             // f-number
};

struct RawThumbnail {
  bool isJpeg = false;  // encoded JPEG bytes; otherwise an interleaved 8-bit bitmap
  std::string bytes;
  int width = 0;
  int height = 0;
  int bands = 0;
};

class RawFile {
 public:
  // nullptr when LibRaw does not take the file for a raw it knows.
  static std::unique_ptr<RawFile> Open(const std::string& path);
  ~RawFile();

  int sensorWidth() const { return sensorWidth_; }  // visible raw area, sensor orientation
  int sensorHeight() const { return sensorHeight_; }
  int orientation() const { return orientation_; }  // EXIF-style 1...8
  int thumbnailWidth() const { return thumbnailWidth_; }
  int thumbnailHeight() const { return thumbnailHeight_; }
  const RawShotInfo& shot() const { return shot_; }

  std::optional<RawThumbnail> Thumbnail();

  // The raw data developed to linear 16-bit RGB (sRGB primaries, camera white balance) in sensor
  // orientation, at half size when asked. nullopt when LibRaw cannot develop it (unknown codec,
  // corrupt or missing data: such files come out entirely black, which no exposure produces).
  std::optional<vips::VImage> DevelopLinear(bool halfSize);

 private:
  explicit RawFile(std::string path);
  bool Reopen();

  std::string path_;
  std::unique_ptr<LibRaw> raw_;
  bool used_ = false;  // LibRaw needs a fresh open after an unpack, failed or not
  int sensorWidth_ = 0;
  int sensorHeight_ = 0;
  int orientation_ = 1;
  int thumbnailWidth_ = 0;
  int thumbnailHeight_ = 0;
  RawShotInfo shot_;
};

}  // namespace tw::imaging::detail
