#pragma once
// Lens correction from the lensfun database: distortion (the condition for offering a correction
// at all), lateral chromatic aberration and vignetting where the lens profile has them. Applied to
// linear 16-bit RGB in sensor orientation after downscaling: the models are in relative
// coordinates, so a smaller image costs less and corrects the same. Any thread.
#include <vips/vips8>

#include <optional>
#include <string>

struct lfLens;

namespace tw::imaging::detail {

struct LensQuery {
  std::string cameraMake;   // EXIF make and model as written in the file
  std::string cameraModel;
  std::string lensName;           // tried first
  std::string fallbackLensName;   // the maker-note name, when the first finds nothing usable
  float focalLength = 0;
  float aperture = 0;
};

class LensCorrection {
 public:
  // A correction when lensfun knows the camera and a lens with distortion data at this focal length.
  static std::optional<LensCorrection> Find(const LensQuery& query);

  // The corrected image (same size and format); nullopt when lensfun has nothing to do for it.
  // Throws vips::VError when the image cannot be read.
  std::optional<vips::VImage> Apply(const vips::VImage& linear16) const;

 private:
  LensCorrection(const lfLens* lens, float cropFactor, float focalLength, float aperture)
      : lens_(lens), cropFactor_(cropFactor), focalLength_(focalLength), aperture_(aperture) {}
  const lfLens* lens_;  // owned by the process-wide database, which is never unloaded
  float cropFactor_;
  float focalLength_;
  float aperture_;
};

}  // namespace tw::imaging::detail
