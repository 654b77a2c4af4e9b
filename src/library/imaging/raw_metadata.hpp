#pragma once
// What exiv2 reads from a raw file: the EXIF strings, the orientation and the embedded JPEG
// previews (in CR3 the THMB and PRVW images; in CR2/NEF/DNG the IFD previews). Any thread: each
// object belongs to one call.
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tw::imaging::detail {

struct EmbeddedPreviewInfo {
  int width = 0;
  int height = 0;
  size_t index = 0;  // position in exiv2's preview list
};

class RawMetadata {
 public:
  // nullptr when exiv2 cannot read the file (unknown or corrupt container).
  static std::unique_ptr<RawMetadata> Read(const std::string& path);
  ~RawMetadata();

  int orientation() const { return orientation_; }  // 0 when the file states none
  int pixelWidth() const { return pixelWidth_; }
  int pixelHeight() const { return pixelHeight_; }
  const std::string& make() const { return make_; }    // Exif.Image.Make as written
  const std::string& model() const { return model_; }  // Exif.Image.Model as written
  const std::vector<EmbeddedPreviewInfo>& jpegPreviews() const { return jpegPreviews_; }

  // The encoded bytes of one listed preview; nullopt when it cannot be read.
  std::optional<std::string> PreviewBytes(const EmbeddedPreviewInfo& preview) const;

 private:
  struct Handle;
  RawMetadata() = default;
  std::unique_ptr<Handle> handle_;
  int orientation_ = 0;
  int pixelWidth_ = 0;
  int pixelHeight_ = 0;
  std::string make_;
  std::string model_;
  std::vector<EmbeddedPreviewInfo> jpegPreviews_;
};

}  // namespace tw::imaging::detail
