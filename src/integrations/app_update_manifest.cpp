#include "integrations/app_update_manifest.hpp"

#include "base/text.hpp"
#include "integrations/integration_texts.hpp"

#include <curl/curl.h>

#include <cctype>
#include <climits>
#include <memory>
#include <optional>
#include <vector>

namespace tw::integrations {
namespace {

using ParsedURL = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

std::optional<ParsedURL> ParseURL(const std::string& address) {
  ParsedURL url(curl_url(), &curl_url_cleanup);
  if (address.empty() || !url || curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK) {
    return std::nullopt;
  }
  return url;
}

std::string Part(CURLU* url, CURLUPart part, unsigned int flags = 0) {
  char* text = nullptr;
  std::string value;
  if (curl_url_get(url, part, &text, flags) == CURLUE_OK && text) value = text;
  curl_free(text);
  return value;
}

std::vector<std::string> Components(const std::string& version) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t dot = version.find('.', start);
    parts.push_back(version.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) return parts;
    start = dot + 1;
  }
}

// A manifest's "build" may be written as text or as a number; the state carries it as text.
std::string BuildText(const Json& manifest) {
  auto build = manifest.find("build");
  if (build == manifest.end()) return "";
  if (build->is_string()) return build->get<std::string>();
  if (build->is_boolean()) return build->get<bool>() ? "1" : "0";
  return JSONString(*build);
}

}  // namespace

ManifestAddress ClassifyManifestAddress(const std::string& address) {
  auto url = ParseURL(address);
  if (!url) return {};
  const std::string scheme = ToLower(Part(url->get(), CURLUPART_SCHEME));
  if (scheme == "https") return {ManifestAddress::Kind::Web, ""};
  if (scheme != "file") return {};
  std::string path = Part(url->get(), CURLUPART_PATH, CURLU_URLDECODE);
  if (path.empty() || path.find('\0') != std::string::npos) return {};
  return {ManifestAddress::Kind::File, std::move(path)};
}

bool IsHTTPSAddress(const std::string& address) {
  auto url = ParseURL(address);
  return url && ToLower(Part(url->get(), CURLUPART_SCHEME)) == "https";
}

int CompareVersions(const std::string& a, const std::string& b) {
  const std::vector<std::string> left = Components(a), right = Components(b);
  for (size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
    long long x = i < left.size() ? LeadingInteger(left[i]) : 0;
    long long y = i < right.size() ? LeadingInteger(right[i]) : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

Json UpdateFailure(const char* status, std::string error) {
  return Json{{"status", status}, {"error", std::move(error)}};
}

ManifestReading ReadUpdateManifest(std::string_view data, const std::string& currentVersion) {
  if (data.size() > kManifestSizeLimit) {
    return {UpdateFailure(texts::kUpdateBadManifest, texts::kUpdateManifestTooLarge)};
  }
  std::optional<Json> manifest = ParseJSONWithin(data, kMaxJsonNesting);
  if (!manifest) return {UpdateFailure(texts::kUpdateBadManifest, texts::kUpdateNotJSON)};
  const std::string version = StringField(*manifest, "version");
  const std::string downloadURL = StringField(*manifest, "downloadURL");
  // A manifest read from a local file is held to the same rule: the browser only ever gets HTTPS.
  if (!manifest->is_object() || version.empty() || !IsHTTPSAddress(downloadURL)) {
    return {UpdateFailure(texts::kUpdateBadManifest, texts::kUpdateManifestIncomplete)};
  }
  const bool available = CompareVersions(currentVersion, version) < 0;
  return {Json{{"status", available ? texts::kUpdateAvailable : texts::kUpdateUpToDate},
               {"available", available},
               {"latestVersion", version},
               {"latestBuild", BuildText(*manifest)},
               {"downloadURL", downloadURL},
               {"releaseNotes", StringField(*manifest, "releaseNotes")},
               {"publishedAt", StringField(*manifest, "publishedAt")},
               {"sha256", StringField(*manifest, "sha256")}},
          true};
}

}  // namespace tw::integrations
