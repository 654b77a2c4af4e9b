#pragma once
// The update check: the program never updates itself. It reads the small manifest the user
// publishes (HTTPS, or a file:// address for trying one out), tells the page whether a newer
// version exists, and on request hands the manifest's HTTPS download page to the browser.
//
// Every operation is called on the main queue, and the update state changes there only. A file
// manifest is read on the utility queue, an HTTPS one on the update session's own thread; either
// outcome comes back to the main queue before the page hears it.
#include "ai/http_session.hpp"
#include "base/json.hpp"
#include "integrations/app_update_manifest.hpp"
#include "platform/feature_host.hpp"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace tw::integrations {

// Settings keys.
inline constexpr char kManifestURLSetting[] = "TWAppUpdateManifestURL";
inline constexpr char kAutomaticChecksSetting[] = "TWAutomaticUpdateChecks";
// When the last check that found a valid manifest ended, in seconds since 1970 (UTC).
inline constexpr char kLastCheckSetting[] = "TWLastUpdateCheck";

// A silent check is skipped this soon after the last completed one.
inline constexpr std::chrono::seconds kSilentCheckInterval{2'592'000};

class AppUpdate {
 public:
  // currentVersion and currentBuild: what the build carries ("" when it has none).
  AppUpdate(FeatureHost& host, std::string currentVersion, std::string currentBuild);
  ~AppUpdate();

  // body "silent" (boolean) and "manifestURL" (overrides the stored address for this check only).
  void checkForAppUpdate(const Json& body);
  // Opens the download page of the last manifest found.
  void downloadAppUpdate();
  // body "manifestURL" and "automatic".
  void saveUpdateSettings(const Json& body);
  void sendAppUpdateState();
  // At the page's start: a silent check when automatic checks are on and an address is stored.
  void checkSilentlyWhenAutomatic();

 private:
  Json baseAppUpdateState() const;
  // Makes outcome the latest one and tells the page.
  void Publish(Json outcome);
  bool CheckedRecently() const;
  void FetchFile(const std::string& path, unsigned long check);
  void FetchWeb(const std::string& address, unsigned long check);
  // The end of check number `check`.
  void Finish(unsigned long check, ManifestReading reading);

  FeatureHost& host_;
  const std::string currentVersion_;
  const std::string currentBuild_;
  std::optional<Json> latestAppUpdate_;
  // Numbers the checks, so that only the latest one started may report its outcome.
  unsigned long checks_ = 0;
  // Made at the first HTTPS check.
  std::unique_ptr<ai::HttpSession> session_;
};

}  // namespace tw::integrations
