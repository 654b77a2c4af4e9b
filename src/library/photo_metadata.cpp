#include "library/photo_metadata.hpp"

#include "base/text.hpp"
#include "library/import_scan.hpp"
#include "library/imaging/decoding.hpp"
#include "library/imaging/exiv2_start.hpp"

#include <exiv2/exiv2.hpp>
#include <fmt/format.h>

#include <cctype>
#include <cmath>
#include <optional>
#include <regex>

namespace tw::library {
namespace {

std::string TagText(const Exiv2::ExifData& exif, const char* key) {
  auto found = exif.findKey(Exiv2::ExifKey(key));
  if (found == exif.end() || found->count() == 0) return "";
  return Trim(found->toString());
}

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

// A rational or integer tag as a number; nullopt for a missing tag or a zero denominator.
std::optional<double> TagNumber(const Exiv2::ExifData& exif, const char* key) {
  auto found = exif.findKey(Exiv2::ExifKey(key));
  if (found == exif.end() || found->count() == 0) return std::nullopt;
  Exiv2::Rational value = found->toRational(0);
  if (value.second == 0) return std::nullopt;
  double number = static_cast<double>(value.first) / value.second;
  if (!std::isfinite(number)) return std::nullopt;
  return number;
}

Json NumberOrNull(const std::optional<double>& number) { return number ? Json(*number) : Json(nullptr); }

// "2024:05:01 14:03:22" with "37" and "+02:00" gives "2024-05-01T14:03:22.37+02:00". A time the
// camera did not set ("0000:00:00 00:00:00", blanks) is no time.
Json CaptureTime(const Exiv2::ExifData& exif) {
  static const std::regex kDateTime(R"((\d{4}):(\d{2}):(\d{2})[ T](\d{2}):(\d{2}):(\d{2}))");
  static const std::regex kSubSeconds(R"(\d{1,9})");
  static const std::regex kOffset(R"([+-]\d{2}:\d{2})");
  std::smatch parts;
  const std::string text = TagText(exif, "Exif.Photo.DateTimeOriginal");
  if (!std::regex_match(text, parts, kDateTime) || parts[1] == "0000") return nullptr;
  std::string time = fmt::format("{}-{}-{}T{}:{}:{}", parts[1].str(), parts[2].str(), parts[3].str(), parts[4].str(),
                                 parts[5].str(), parts[6].str());
  if (std::string sub = TagText(exif, "Exif.Photo.SubSecTimeOriginal"); std::regex_match(sub, kSubSeconds)) {
    time += "." + sub;
  }
  if (std::string offset = TagText(exif, "Exif.Photo.OffsetTimeOriginal"); std::regex_match(offset, kOffset)) {
    time += offset;
  }
  return time;
}

// The model alone when it already names the maker ("Canon EOS R6" beside "Canon"), else both.
Json CameraName(const Exiv2::ExifData& exif) {
  const std::string make = TagText(exif, "Exif.Image.Make");
  const std::string model = TagText(exif, "Exif.Image.Model");
  if (model.empty()) return TextOrNull(make);
  const std::string makeWord = ToLower(make.substr(0, make.find(' ')));
  if (make.empty() || ToLower(model).starts_with(makeWord)) return model;
  return make + " " + model;
}

// "1/250" up to a quarter second, tenths of seconds ("0.3s", "1.3s", "2s") beyond, as cameras show them.
Json ShutterText(const std::optional<double>& seconds) {
  if (!seconds || *seconds <= 0) return nullptr;
  if (*seconds < 0.29) return fmt::format("1/{}", std::lround(1 / *seconds));
  return fmt::format("{:g}s", std::round(*seconds * 10) / 10);
}

Json ISOSpeed(const Exiv2::ExifData& exif) {
  // 65535 is what the field holds once the speed outgrows it; the newer field has the real one.
  for (const char* key : {"Exif.Photo.ISOSpeedRatings", "Exif.Photo.RecommendedExposureIndex"}) {
    if (auto speed = TagNumber(exif, key); speed && *speed > 0 && *speed < 65535) return std::lround(*speed);
  }
  return nullptr;
}

}  // namespace

Json ReadPhotoMetadata(const std::string& id, const std::string& path) {
  if (!IsImportablePhoto(path)) return {{"id", id}, {"error", kNotAnImportablePhoto}};
  imaging::detail::EnsureExiv2Started();
  Json photo = {{"id", id}};
  long orientation = 1;
  try {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path, false);
    if (image.get() == nullptr) return {{"id", id}, {"error", kMetadataUnreadable}};
    image->readMetadata();
    const Exiv2::ExifData& exif = image->exifData();
    const std::optional<double> exposureTime = TagNumber(exif, "Exif.Photo.ExposureTime");
    photo["captureTime"] = CaptureTime(exif);
    photo["camera"] = CameraName(exif);
    photo["serial"] = TextOrNull(TagText(exif, "Exif.Photo.BodySerialNumber"));
    photo["lens"] = TextOrNull(TagText(exif, "Exif.Photo.LensModel"));
    photo["focalLength"] = NumberOrNull(TagNumber(exif, "Exif.Photo.FocalLength"));
    photo["aperture"] = NumberOrNull(TagNumber(exif, "Exif.Photo.FNumber"));
    photo["shutter"] = ShutterText(exposureTime);
    photo["exposureTime"] = NumberOrNull(exposureTime);
    photo["iso"] = ISOSpeed(exif);
    photo["exposureCompensation"] = NumberOrNull(TagNumber(exif, "Exif.Photo.ExposureBiasValue"));
    if (auto tag = TagNumber(exif, "Exif.Image.Orientation")) orientation = std::lround(*tag);
  } catch (const std::exception&) {
    return {{"id", id}, {"error", kMetadataUnreadable}};
  }
  // Upright, as the photo is shown: a portrait stored sideways is taller than wide.
  std::optional<std::pair<long, long>> size = imaging::ImagePixelSize(path);
  const bool sideways = orientation >= 5 && orientation <= 8;
  photo["width"] = size ? Json(sideways ? size->second : size->first) : Json(nullptr);
  photo["height"] = size ? Json(sideways ? size->first : size->second) : Json(nullptr);
  return photo;
}

Json PhotoMetadataPayload(const Json& body) {
  const Json ids = ArrayField(body, "ids");
  const Json paths = ArrayField(body, "paths");
  Json photos = Json::array();
  for (size_t i = 0; i < ids.size(); ++i) {
    if (!ids[i].is_string() || ids[i].get_ref<const std::string&>().empty()) continue;
    const std::string& id = ids[i].get_ref<const std::string&>();
    if (i >= kMaxMetadataPhotosPerMessage) {
      photos.push_back({{"id", id}, {"error", kMetadataTooMany}});
    } else {
      photos.push_back(ReadPhotoMetadata(id, i < paths.size() && paths[i].is_string() ? paths[i].get<std::string>() : ""));
    }
  }
  return Json{{"photos", std::move(photos)}};
}

}  // namespace tw::library
