#include "library/imaging/raw_source.hpp"

#include "library/imaging/vips_images.hpp"

namespace tw::imaging::detail {

const RawMetadata* RawSource::metadata() {
  if (!metadataRead_) {
    metadataRead_ = true;
    metadata_ = RawMetadata::Read(path_);
  }
  return metadata_.get();
}

RawFile* RawSource::raw() {
  if (!rawOpened_) {
    rawOpened_ = true;
    raw_ = RawFile::Open(path_);
  }
  return raw_.get();
}

int RawSource::Orientation() {
  if (const RawMetadata* exif = metadata(); exif != nullptr && exif->orientation() != 0) return exif->orientation();
  if (RawFile* file = raw()) return file->orientation();
  return 1;
}

std::pair<int, int> RawSource::FullSize() {
  if (RawFile* file = raw()) return {file->sensorWidth(), file->sensorHeight()};
  if (const RawMetadata* exif = metadata(); exif != nullptr && exif->pixelWidth() > 0 && exif->pixelHeight() > 0) {
    return {exif->pixelWidth(), exif->pixelHeight()};
  }
  return {0, 0};
}

std::vector<PreviewCandidate> RawSource::Previews(bool withLibRaw) {
  std::vector<PreviewCandidate> candidates;
  if (const RawMetadata* exif = metadata()) {
    for (const EmbeddedPreviewInfo& preview : exif->jpegPreviews()) {
      candidates.push_back({PreviewCandidate::Origin::Exiv2, preview.width, preview.height, preview});
    }
  }
  if (withLibRaw) {
    if (RawFile* file = raw(); file != nullptr && file->thumbnailWidth() > 0 && file->thumbnailHeight() > 0) {
      candidates.push_back({PreviewCandidate::Origin::LibRaw, file->thumbnailWidth(), file->thumbnailHeight(), {}});
    }
  }
  return candidates;
}

MaybeImage RawSource::Decode(const PreviewCandidate& candidate, int maxPixelSize) {
  int orientation = Orientation();
  try {
    if (candidate.origin == PreviewCandidate::Origin::Exiv2) {
      const RawMetadata* exif = metadata();
      if (exif == nullptr) return std::nullopt;
      std::optional<std::string> bytes = exif->PreviewBytes(candidate.exiv2);
      if (!bytes) return std::nullopt;
      return DecodeEncodedPreview(*bytes, maxPixelSize, orientation);
    }
    RawFile* file = raw();
    if (file == nullptr) return std::nullopt;
    std::optional<RawThumbnail> thumbnail = file->Thumbnail();
    if (!thumbnail) return std::nullopt;
    if (thumbnail->isJpeg) return DecodeEncodedPreview(thumbnail->bytes, maxPixelSize, orientation);
    return DecodeBitmapPreview(thumbnail->bytes, thumbnail->width, thumbnail->height, thumbnail->bands,
                               maxPixelSize, orientation);
  } catch (const vips::VError&) {
    return std::nullopt;
  }
}

}  // namespace tw::imaging::detail
