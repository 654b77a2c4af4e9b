// libFuzzer target: whatever a published update manifest holds, reading it gives a failure with its
// text or a complete state whose download address is HTTPS; versions compare as a total order.
#include "integrations/app_update_manifest.hpp"

#include <cstdlib>
#include <string>
#include <string_view>

using namespace tw::integrations;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const ManifestReading reading = ReadUpdateManifest(bytes, "1.2.0");
  if (reading.valid && !IsHTTPSAddress(reading.latest.value("downloadURL", ""))) std::abort();
  if (!reading.valid && !reading.latest.contains("error")) std::abort();

  // The same bytes as a manifest address the user typed, and as two version strings.
  (void)ClassifyManifestAddress(std::string(bytes.substr(0, 4096)));
  const size_t cut = bytes.find('\n');
  const std::string a(bytes.substr(0, cut)), b(cut == std::string_view::npos ? "" : bytes.substr(cut + 1));
  if (CompareVersions(a, b) != -CompareVersions(b, a) || CompareVersions(a, a) != 0) std::abort();
  return 0;
}
