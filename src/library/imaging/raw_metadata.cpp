#include "library/imaging/raw_metadata.hpp"

#include "library/imaging/exiv2_start.hpp"

#include "base/text.hpp"

#include <exiv2/exiv2.hpp>

#include <mutex>

namespace tw::imaging::detail {

namespace {

std::mutex gXmpToolkitLock;

void LockXmpToolkit(void*, bool lock) {
  if (lock) {
    gXmpToolkitLock.lock();
  } else {
    gXmpToolkitLock.unlock();
  }
}

std::string TagText(const Exiv2::ExifData& exif, const char* key) {
  auto found = exif.findKey(Exiv2::ExifKey(key));
  if (found == exif.end()) return "";
  return Trim(found->toString());
}

}  // namespace

void EnsureExiv2Started() {
  static std::once_flag once;
  std::call_once(once, [] {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::XmpParser::initialize(LockXmpToolkit, nullptr);
    Exiv2::enableBMFF(true);  // CR3 is an ISO BMFF container; exiv2 0.27 reads it only when asked
  });
}

struct RawMetadata::Handle {
  Exiv2::Image::AutoPtr image;
  Exiv2::PreviewPropertiesList previews;
};

RawMetadata::~RawMetadata() = default;

std::unique_ptr<RawMetadata> RawMetadata::Read(const std::string& path) {
  EnsureExiv2Started();
  try {
    auto handle = std::make_unique<Handle>();
    handle->image = Exiv2::ImageFactory::open(path, false);
    if (handle->image.get() == nullptr) return nullptr;
    handle->image->readMetadata();

    std::unique_ptr<RawMetadata> metadata(new RawMetadata());
    const Exiv2::ExifData& exif = handle->image->exifData();
    auto orientation = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (orientation != exif.end() && orientation->count() > 0) {
      long value = orientation->toLong();
      if (value >= 1 && value <= 8) metadata->orientation_ = static_cast<int>(value);
    }
    metadata->make_ = TagText(exif, "Exif.Image.Make");
    metadata->model_ = TagText(exif, "Exif.Image.Model");
    metadata->pixelWidth_ = handle->image->pixelWidth();
    metadata->pixelHeight_ = handle->image->pixelHeight();

    Exiv2::PreviewManager manager(*handle->image);
    handle->previews = manager.getPreviewProperties();
    for (size_t i = 0; i < handle->previews.size(); ++i) {
      const Exiv2::PreviewProperties& preview = handle->previews[i];
      if (preview.mimeType_ != "image/jpeg" || preview.width_ == 0 || preview.height_ == 0) continue;
      metadata->jpegPreviews_.push_back(
          {static_cast<int>(preview.width_), static_cast<int>(preview.height_), i});
    }
    metadata->handle_ = std::move(handle);
    return metadata;
  } catch (const std::exception&) {
    return nullptr;
  }
}

std::optional<std::string> RawMetadata::PreviewBytes(const EmbeddedPreviewInfo& preview) const {
  if (!handle_ || preview.index >= handle_->previews.size()) return std::nullopt;
  try {
    Exiv2::PreviewManager manager(*handle_->image);
    Exiv2::PreviewImage image = manager.getPreviewImage(handle_->previews[preview.index]);
    if (image.size() == 0) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(image.pData()), image.size());
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace tw::imaging::detail
