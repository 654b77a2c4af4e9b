#include "library/photo_region.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "base/uuid.hpp"
#include "library/import_scan.hpp"
#include "library/imaging/decoding.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace tw::library {
namespace {

const char* const kAnswerNumbers[] = {"x", "y", "width", "height", "scale", "photoWidth", "photoHeight"};

std::optional<long> WholeNumber(const Json& body, const char* key) {
  std::optional<double> number = NumberField(body, key);
  if (!number || !std::isfinite(*number)) return std::nullopt;
  // Far beyond any photo; keeps the conversion defined.
  return std::lround(std::clamp(*number, -1e9, 1e9));
}

struct RegionRequest {
  std::string path;
  imaging::PixelRect wanted;
  int scale = 1;
};

std::optional<RegionRequest> ReadRegionRequest(const Json& body) {
  RegionRequest request{StringField(body, "path")};
  auto x = WholeNumber(body, "x"), y = WholeNumber(body, "y");
  auto width = WholeNumber(body, "width"), height = WholeNumber(body, "height");
  if (!x || !y || !width || !height || *width < 1 || *height < 1) return std::nullopt;
  request.wanted = {*x, *y, *width, *height};
  if (body.contains("scale")) {
    auto scale = NumberField(body, "scale");
    if (scale != 1.0 && scale != 2.0) return std::nullopt;
    request.scale = static_cast<int>(*scale);
  }
  return request;
}

// The request as asked is the key: the rectangle actually taken depends on the photo's size, which
// is not known before decoding.
std::string RegionCacheFileName(const RegionRequest& request, bool lens) {
  return fmt::format("{}-{}-{}-{}x{}-{}x-{}.png", StableHash64(request.path), request.wanted.x, request.wanted.y,
                     request.wanted.width, request.wanted.height, request.scale, lens ? "lens" : "plain");
}

// What the cached region's answer says besides id and url; written beside it, read back as untrusted.
std::string NumbersPath(const std::string& cache) { return cache + ".json"; }

std::optional<Json> ReadNumbers(const std::string& cache) {
  std::optional<std::string> text = ReadWholeFile(NumbersPath(cache));
  std::optional<Json> numbers = text ? ParseJSONWithin(*text, 1) : std::nullopt;
  if (!numbers || !numbers->is_object() || numbers->size() != std::size(kAnswerNumbers)) return std::nullopt;
  for (const char* key : kAnswerNumbers) {
    auto it = numbers->find(key);
    if (it == numbers->end() || !it->is_number_integer()) return std::nullopt;
  }
  return numbers;
}

Json Answer(const std::string& id, const std::string& cache, Json numbers) {
  numbers["id"] = id;
  numbers["url"] = FileURLFromPath(cache);
  return numbers;
}

}  // namespace

std::optional<Json> PreparePhotoRegion(const Json& body, const std::string& supportFolder, bool lens) {
  const std::string id = StringField(body, "id");
  if (id.empty()) return std::nullopt;
  auto failed = [&id](const char* text) { return Json{{"id", id}, {"error", text}}; };
  std::optional<RegionRequest> request = ReadRegionRequest(body);
  if (!request) return failed(kRegionInvalid);
  if (!IsImportablePhoto(request->path)) {
    return failed(StandardizedPath(request->path) && !PathExists(request->path) ? kRegionSourceMissing
                                                                                  : kNotAnImportablePhoto);
  }

  const std::string folder = JoinPath(supportFolder, kRegionCacheFolder);
  CreateDirectories(folder);
  const std::string cache = JoinPath(folder, RegionCacheFileName(*request, lens));
  if (!imaging::PreviewCacheNeedsRefresh(request->path, cache)) {
    if (std::optional<Json> numbers = ReadNumbers(cache)) return Answer(id, cache, std::move(*numbers));
  }

  std::optional<imaging::PreviewSource> source = imaging::ReadPreviewSource(request->path);
  std::optional<imaging::RegionImage> region =
      source ? imaging::CreateRegionImage(request->path, request->wanted, request->scale, kMaxRegionSide, lens)
             : std::nullopt;
  if (!region) {
    return failed(imaging::IsReadPermissionDenied(request->path) ? kRegionNoReadPermission : kRegionUndecodable);
  }
  std::optional<std::string> bytes = imaging::EncodePNG(region->pixels, kRegionPNGCompression);
  if (!bytes) return failed(kRegionUndecodable);
  const Json numbers = {{"x", region->region.x},           {"y", region->region.y},
                        {"width", region->region.width},   {"height", region->region.height},
                        {"scale", request->scale},         {"photoWidth", region->photoWidth},
                        {"photoHeight", region->photoHeight}};
  const std::string temporary = JoinPath(folder, ".region-" + NewUUIDString() + ".png");
  const bool placed = !WriteFileAtomically(temporary, *bytes, 0666, Durability::Cached) &&
                      !WriteFileAtomically(NumbersPath(cache), JSONString(numbers), 0666, Durability::Cached) &&
                      imaging::PlacePreview(temporary, cache, *source);
  unlink(temporary.c_str());
  if (!placed) return failed(kRegionCacheFailed);
  return Answer(id, cache, numbers);
}

}  // namespace tw::library
