#include "workbench/style_preview.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "library/imaging/decoding.hpp"
#include "workbench/workbench_texts.hpp"

#include <array>
#include <string_view>

namespace tw::workbench {

bool TWPhotoPath(const Json& value) {
  static constexpr std::array<std::string_view, 7> kExtensions = {"jpg", "jpeg", "png", "tif", "tiff", "heic", "cr3"};
  if (!value.is_string()) return false;
  const std::string& path = value.get_ref<const std::string&>();
  if (!StartsWith(path, "/")) return false;
  const std::string extension = ToLower(PathExtension(path));
  for (std::string_view accepted : kExtensions) {
    if (extension == accepted) return true;
  }
  return false;
}

ReadPreviewRequest ReadStylePreviewRequest(const Json& body) {
  ReadPreviewRequest read;
  StylePreviewRequest& request = read.request;
  request.token = StringField(body, "token");
  request.options = ObjectField(body, "options");
  const Json photos = ArrayField(body, "photos");
  const Json reference = FieldOr(ObjectField(body, "reference"), "path", nullptr);
  if (!TWPhotoPath(reference) || photos.empty() || photos.size() > kMaxStylePhotos) {
    read.error = texts::kStyleSelectionInvalid;
    return read;
  }
  request.reference = reference.get<std::string>();
  for (const Json& photo : photos) {
    const Json path = FieldOr(photo, "path", nullptr);
    if (!photo.is_object() || !TWPhotoPath(path)) {
      read.error = texts::kStylePhotoPathInvalid;
      return read;
    }
    const std::string name = StringField(photo, "name");
    const std::string& pathText = path.get_ref<const std::string&>();
    request.photos.push_back({pathText, name.empty() ? LastPathComponent(pathText) : name});
  }
  return read;
}

StylePreviewOutcome RunStylePreview(const StylePreviewRequest& request, bool lensWanted,
                                    const std::function<bool()>& stillCurrent) {
  StylePreviewOutcome outcome;
  StoredPreview stored{request.token, request.reference, TWFileStamp(request.reference), request.options, {}};
  const std::optional<ColorProfile> referenceProfile =
      TWColorProfile(imaging::CreateRenderedImage(request.reference, kReferenceRenderPixels, lensWanted));
  if (!referenceProfile) outcome.error = texts::kStyleReferenceUnusable;

  for (const StylePreviewRequest::Photo& photo : request.photos) {
    if (!outcome.error.empty() || !stillCurrent()) break;
    const std::optional<FileStamp> stamp = TWFileStamp(photo.path);
    const imaging::MaybeImage image = imaging::CreateRenderedImage(photo.path, kPhotoRenderPixels, lensWanted);
    const std::optional<StyleValues> values = TWStyleValues(TWColorProfile(image), referenceProfile, request.options);
    if (!image || !values || !SameStamp(stamp, TWFileStamp(photo.path))) {
      outcome.error = texts::kStylePhotoUnusable;
      break;
    }
    stored.plans.push_back({photo.path, photo.name, stamp, *values});
    if (outcome.previews.size() < kMaxStylePreviews) {
      const std::optional<vips::VImage> styled = TWStyledImage(image, values);
      std::optional<std::string> before = imaging::EncodeJPEG(*image, kStylePreviewQuality);
      std::optional<std::string> after = styled ? imaging::EncodeJPEG(*styled, kStylePreviewQuality) : std::nullopt;
      if (!before || !after) {
        outcome.error = texts::kStyleRenderFailed;
        break;
      }
      outcome.previews.push_back(
          {{"name", photo.name}, {"before", imaging::JPEGDataURL(*before)}, {"after", imaging::JPEGDataURL(*after)}});
    }
  }
  if (!SameStamp(stored.referenceStamp, TWFileStamp(request.reference))) outcome.error = texts::kStyleReferenceChanged;
  if (outcome.error.empty()) outcome.preview = std::move(stored);
  return outcome;
}

}  // namespace tw::workbench
