#include "integrations/app_update.hpp"

#include "base/files.hpp"
#include "base/queues.hpp"
#include "base/text.hpp"
#include "integrations/integration_texts.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <cerrno>

namespace tw::integrations {
namespace {

// A manifest answers at once or not at all; these are the patience of a browser's fetch.
constexpr ai::HttpSession::Timeouts kManifestTimeouts{60, 120};

double SecondsSinceEpoch() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

ManifestReading ReadFetched(const std::string& data, const std::string& currentVersion) {
  if (data.empty()) return {UpdateFailure(texts::kUpdateCheckFailed, texts::kUpdateNothingReceived)};
  return ReadUpdateManifest(data, currentVersion);
}

// Worker. Reads at most one byte past the size limit, which is enough to refuse the file.
ManifestReading ReadManifestFile(const std::string& path, const std::string& currentVersion) {
  ReadableFile file = ReadableFile::Open(path);
  if (!file) return {UpdateFailure(texts::kUpdateCheckFailed, texts::kUpdateFileUnreadable)};
  std::string data;
  char buffer[64 * 1024];
  while (data.size() <= kManifestSizeLimit) {
    ssize_t count = read(file.fd(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return {UpdateFailure(texts::kUpdateCheckFailed, texts::kUpdateFileUnreadable)};
    if (count == 0) break;
    data.append(buffer, static_cast<size_t>(count));
  }
  return ReadFetched(data, currentVersion);
}

}  // namespace

AppUpdate::AppUpdate(FeatureHost& host, std::string currentVersion, std::string currentBuild)
    : host_(host),
      currentVersion_(currentVersion.empty() ? "0.0.0" : std::move(currentVersion)),
      currentBuild_(currentBuild.empty() ? "0" : std::move(currentBuild)) {}

AppUpdate::~AppUpdate() = default;

Json AppUpdate::baseAppUpdateState() const {
  platform::Settings& settings = host_.platform().settings();
  return Json{{"currentVersion", currentVersion_},
              {"currentBuild", currentBuild_},
              {"manifestURL", settings.GetString(kManifestURLSetting).value_or("")},
              {"automatic", settings.GetBool(kAutomaticChecksSetting).value_or(true)},
              {"status", texts::kUpdateNotChecked}};
}

void AppUpdate::sendAppUpdateState() {
  Json state = baseAppUpdateState();
  if (latestAppUpdate_) state.update(*latestAppUpdate_);
  host_.Call(callbacks::kAppUpdateState, std::move(state));
}

void AppUpdate::Publish(Json outcome) {
  latestAppUpdate_ = std::move(outcome);
  sendAppUpdateState();
}

void AppUpdate::saveUpdateSettings(const Json& body) {
  platform::Settings& settings = host_.platform().settings();
  settings.Set(kManifestURLSetting, Trim(StringField(body, "manifestURL")));
  settings.Set(kAutomaticChecksSetting, BoolField(body, "automatic", false));
  sendAppUpdateState();
}

bool AppUpdate::CheckedRecently() const {
  std::optional<Json> stamp = host_.platform().settings().Get(kLastCheckSetting);
  if (!stamp || !stamp->is_number()) return false;
  // A stamp in the future (the clock was set back) proves nothing and holds no check back.
  const double age = SecondsSinceEpoch() - stamp->get<double>();
  return age >= 0 && age < static_cast<double>(kSilentCheckInterval.count());
}

void AppUpdate::checkSilentlyWhenAutomatic() {
  platform::Settings& settings = host_.platform().settings();
  if (!settings.GetBool(kAutomaticChecksSetting).value_or(true)) return;
  // Nobody has published a manifest yet: nothing to look at, and nothing to nag about.
  if (Trim(settings.GetString(kManifestURLSetting).value_or("")).empty()) return;
  checkForAppUpdate(Json{{"silent", true}});
}

void AppUpdate::checkForAppUpdate(const Json& body) {
  if (BoolField(body, "silent", false) && CheckedRecently()) return;
  const unsigned long check = ++checks_;
  std::string address = Trim(StringField(body, "manifestURL"));
  if (address.empty()) address = Trim(host_.platform().settings().GetString(kManifestURLSetting).value_or(""));
  if (address.empty()) {
    Publish(UpdateFailure(texts::kUpdateNeedsAddress, texts::kUpdateNeedsAddressError));
    return;
  }
  const ManifestAddress where = ClassifyManifestAddress(address);
  if (where.kind == ManifestAddress::Kind::Invalid) {
    Publish(UpdateFailure(texts::kUpdateInvalidAddress, texts::kUpdateInvalidAddressError));
    return;
  }
  Publish(Json{{"checking", true}, {"status", texts::kUpdateChecking}});
  if (where.kind == ManifestAddress::Kind::File) {
    FetchFile(where.filePath, check);
  } else {
    FetchWeb(address, check);
  }
}

void AppUpdate::FetchFile(const std::string& path, unsigned long check) {
  queues::Global(QoS::Utility, [this, path, check, version = currentVersion_] {
    ManifestReading reading = ReadManifestFile(path, version);
    queues::Main([this, check, reading = std::move(reading)]() mutable { Finish(check, std::move(reading)); });
  });
}

void AppUpdate::FetchWeb(const std::string& address, unsigned long check) {
  if (!session_) session_ = std::make_unique<ai::HttpSession>(kManifestTimeouts);
  ai::HttpRequest request;
  request.url = address;
  request.maxBodyBytes = kManifestSizeLimit;
  // An HTTPS manifest stays on HTTPS, redirects included, as if it carried a secret.
  request.carriesCredentials = true;
  session_->Send(std::move(request), [this, check, version = currentVersion_](ai::HttpResponse response) {
    ManifestReading reading;
    if (response.error) {
      reading = {UpdateFailure(texts::kUpdateCheckFailed, response.error->description)};
    } else if (response.status < 200 || response.status > 299) {
      // An error page is the server's answer, not a manifest in a wrong format.
      reading = {UpdateFailure(texts::kUpdateCheckFailed, fmt::format(texts::kUpdateHTTPStatus, response.status))};
    } else {
      reading = ReadFetched(response.body, version);
    }
    queues::Main([this, check, reading = std::move(reading)]() mutable { Finish(check, std::move(reading)); });
  });
}

void AppUpdate::Finish(unsigned long check, ManifestReading reading) {
  // A check started since has the last word.
  if (check != checks_) return;
  if (reading.valid) host_.platform().settings().Set(kLastCheckSetting, SecondsSinceEpoch());
  Publish(std::move(reading.latest));
}

void AppUpdate::downloadAppUpdate() {
  const std::string url = latestAppUpdate_ ? StringField(*latestAppUpdate_, "downloadURL") : "";
  if (!IsHTTPSAddress(url)) {
    host_.Call(callbacks::kAppUpdateDownload, Json{{"success", false}, {"message", texts::kUpdateNothingToDownload}});
    return;
  }
  const bool opened = host_.platform().OpenURL(url);
  host_.Call(callbacks::kAppUpdateDownload,
             Json{{"success", opened},
                  {"message", opened ? texts::kUpdateDownloadOpened : texts::kUpdateDownloadNotOpened}});
}

}  // namespace tw::integrations
