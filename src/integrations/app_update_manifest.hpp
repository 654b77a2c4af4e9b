#pragma once
// The rules of the update check that need no network: which manifest addresses are accepted, how
// a manifest's bytes become the update state, and how two version strings compare. Any thread.
#include "base/json.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace tw::integrations {

// A manifest is a few hundred bytes; a larger answer is not one the user published (a login page,
// a download put at the wrong address) and is refused before it is parsed.
inline constexpr size_t kManifestSizeLimit = 1u << 20;

// Where a manifest address points: a local file (read from disk) or an HTTPS address (fetched).
struct ManifestAddress {
  enum class Kind { Invalid, File, Web };
  Kind kind = Kind::Invalid;
  std::string filePath;  // Kind::File: the decoded path
};
ManifestAddress ClassifyManifestAddress(const std::string& address);

// Whether the text parses as a URL whose scheme, in any case, is "https". The only addresses ever
// handed to the browser.
bool IsHTTPSAddress(const std::string& address);

// -1, 0 or 1 as a is lower than, equal to or higher than b. Components split at "." compare by
// their leading integer ("10" above "9", text reads as 0); missing components count as 0, so
// "1.2" equals "1.2.0".
int CompareVersions(const std::string& a, const std::string& b);

// The latest outcome of a check as the update state shows it: a status with its error text.
Json UpdateFailure(const char* status, std::string error);

// What a fetched manifest says to a program running currentVersion: the update state's latest
// part, and whether the manifest was valid (only a valid one counts as a completed check).
struct ManifestReading {
  Json latest;
  bool valid = false;
};
ManifestReading ReadUpdateManifest(std::string_view data, const std::string& currentVersion);

}  // namespace tw::integrations
