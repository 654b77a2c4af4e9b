#pragma once
// The whole-set style ("整组风格"): a set of photos takes on the overall tone of one reference
// photo, entirely on this machine. A few global colour statistics of the reference and of each
// photo give at most five tightly bounded correction values per photo (an exposure shift, three
// channel gains, a saturation factor), scaled by the user's strength, and those are applied in
// linear light. Textures and local edits are never transferred.
//
// Pure functions apart from TWFileStamp's look at the file system; any thread.
#include "base/json.hpp"
#include "library/imaging/decoded_image.hpp"

#include <sys/types.h>

#include <ctime>
#include <optional>
#include <string>

namespace tw::workbench {

// One version of a file: a later stamp that differs means the file changed (or was replaced) on disk.
struct FileStamp {
  unsigned long long bytes = 0;
  timespec modified{};
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileStamp& other) const;
};
// nullopt when the file's attributes cannot be read; a missing stamp equals nothing.
std::optional<FileStamp> TWFileStamp(const std::string& path);
bool SameStamp(const std::optional<FileStamp>& a, const std::optional<FileStamp>& b);

// Mean colour statistics of an image's midtones, each in 0…1 (sRGB-encoded values).
struct ColorProfile {
  double r = 0, g = 0, b = 0;
  double luma = 0;        // 0.2126 r + 0.7152 g + 0.0722 b of the three means
  double saturation = 0;  // mean of (max − min) / max over the pixels
};
// Measured on the image drawn into 32 × 32 pixels (aspect not kept), over the pixels whose largest
// channel is at least 0.02 and whose smallest is at most 0.98; nullopt when no pixel qualifies.
std::optional<ColorProfile> TWColorProfile(const std::optional<imaging::DecodedImage>& image);

// The corrections of one photo; neutral is exposure 0 and 1 for the rest.
struct StyleValues {
  double exposure = 0;  // stops, within ±0.7 × strength
  double r = 1, g = 1, b = 1;
  double saturation = 1;  // gains and saturation within 1 ± 0.2 × strength
};
Json ToJson(const StyleValues& values);

// options: "strength" (0…100 percent, missing counts as 0) and "preserveColors" (true when missing:
// only the exposure is matched). nullopt when a profile is missing or the strength is out of range.
std::optional<StyleValues> TWStyleValues(const std::optional<ColorProfile>& photo,
                                         const std::optional<ColorProfile>& reference, const Json& options);

// The image with the values applied in linear light: exposure and channel gains as one gain per
// channel, then saturation around the pixel's luminance; 8-bit sRGB, 3 bands, the input's size.
// The result is a libvips pipeline over the input, computed when it is read (encoded): a whole
// full-resolution copy is never held beside the decoded photo. nullopt when there is no image.
std::optional<vips::VImage> TWStyledImage(const std::optional<imaging::DecodedImage>& image,
                                          const std::optional<StyleValues>& values);

}  // namespace tw::workbench
