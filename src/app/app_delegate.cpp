#include "app/app_delegate.hpp"

#include "app/action_table.hpp"
#include "app/build_info.hpp"
#include "platform/resource_location.hpp"
#include "analysis/photo_faces.hpp"
#include "app/texts.hpp"
#include "base/files.hpp"
#include "base/queues.hpp"
#include "base/text.hpp"
#include "library/import_scan.hpp"
#include "library/photo_edit.hpp"
#include "library/photo_metadata.hpp"
#include "library/photo_region.hpp"
#include "library/preview.hpp"
#include "library/lens_setting.hpp"
#include "base/uuid.hpp"

#include <fmt/format.h>
#include <libraw/libraw.h>

#include <chrono>
#include <utility>

namespace tw::app {

namespace {
// A temporary file this old belongs to no write still under way, in this instance or another.
constexpr std::chrono::seconds kAbandonedTemporaryAge{300};
// The page names this many of the photos it is asked to open.
constexpr size_t kOpenRequestNames = 3;
}  // namespace

const char* WindowTitle(bool testMode) { return testMode ? texts::kWindowTitleTestMode : texts::kWindowTitle; }

AppDelegate::AppDelegate(platform::Platform& platform, LaunchOptions launch)
    : platform_(platform),
      launch_(std::move(launch)),
      webView_(platform.page()),
      projectStore_(launch_.supportFolder),
      grsAIClient_(ai::TWGRSAIClient::Create(platform.settings())),
      bridgeServer_(bridge::TWBridgeServer::Create(
          this, grsAIClient_, platform.settings().GetString(bridge::kRetouchSaveLocationSetting).value_or(""))),
      comfySetup_(*this, JoinPath(platform::ResourceDirectory(), "Setup")) {}

AppDelegate::~AppDelegate() {
  // Its thread must be gone, and it must not call back, before this object is.
  bridgeServer_->shutdown();
}

void AppDelegate::applicationDidFinishLaunching() {
  // A missing data folder is not fatal here: whatever writes into it reports its own failure.
  CreateDirectories(launch_.supportFolder);
  // Half-written copies of the project, its backups and the settings that a crash left behind.
  for (const std::string& folder : {launch_.supportFolder, JoinPath(launch_.supportFolder, library::kProjectRecordsFolder),
                                    ParentDirectory(platform_.settings().path())}) {
    RemoveAbandonedTemporaryFiles(folder, kAbandonedTemporaryAge);
  }
  // A test run opens no port and reacts to no card.
  if (!launch_.testMode) {
    bridgeServer_->start();
    startVolumeMonitor();
  }
}

void AppDelegate::applicationWillTerminate() { bridgeServer_->stop(); }

void AppDelegate::prepareToQuit(std::function<void()> quit) {
  if (quitRequest_) return;
  if (!pageReady_) {
    quit();
    return;
  }
  const std::string token = NewUUIDString();
  quitRequest_ = QuitRequest{token, std::move(quit)};
  Call("window.Native.flushState", Json{{"token", token}});
  queues::AfterOnMain(kQuitSaveWait, [this, token] { stateFlushed(Json{{"token", token}}); });
}

void AppDelegate::stateFlushed(const Json& body) {
  if (!quitRequest_ || StringField(body, "token") != quitRequest_->token) return;
  auto quit = std::move(quitRequest_->quit);
  quitRequest_.reset();
  quit();
}

void AppDelegate::didReceiveScriptMessage(const Json& body) { DispatchScriptMessage(*this, body); }

void AppDelegate::Call(std::string function, Json payload) const {
  CallJS(webView_, std::move(function), std::move(payload));
}

void AppDelegate::Status(std::string text) const { Call("window.Native.status", std::move(text)); }

bool AppDelegate::LensCorrectionEnabled() const { return library::LensCorrectionEnabled(platform_.settings()); }

// ---- The handshake -------------------------------------------------------------------------

void AppDelegate::ready() {
  pageReady_ = true;
  // A reloaded page asks again when it follows imports.
  scanProgressWanted_ = false;
  const char* version = build_info::kShortVersion;
  Call("window.Native.version", *version ? version : texts::kUnknownVersion);
  Call("window.Native.grsAIState", grsAIClient_ ? grsAIClient_->stateSnapshot() : Json::object());
  workflowApps_.sendWorkflowAppsState();
  comfySetup_.sendComfySetupState();
  // Its answer comes later, on its own; started once the handshake's own answers are on their way,
  // so that a quick refusal never lands between them.
  queues::Main([this] { comfySetup_.checkComfyConnection(); });
  sendSavedState();
  sendLensCorrectionState();
  appUpdate_.sendAppUpdateState();
  // Told last, so that nothing the page shows for the restored project hides it.
  if (savedStateNotice_) Status(*std::exchange(savedStateNotice_, std::nullopt));
  // Photos the program was started with: the page asks about them against the restored project.
  if (openRequest_ && !openRequest_->asked) AskToOpenPhotos();
  // Its answers come later, after the handshake.
  appUpdate_.checkSilentlyWhenAutomatic();
  if (!launch_.testMode) {
    queues::AfterOnMain(std::chrono::milliseconds(600), [this] { detectExistingCameraCard(); });
  }
}

// ---- Project persistence -------------------------------------------------------------------

void AppDelegate::saveState(const Json* state) {
  if (auto failure = projectStore_.saveState(state)) Status(*failure);
}

void AppDelegate::sendSavedState() {
  library::ProjectStore::LoadedState loaded = projectStore_.LoadSavedState();
  savedStateNotice_ = std::move(loaded.status);
  Call("window.Native.receiveState", std::move(loaded.state));
  Call("window.Native.bridgeStatus", bridgeServer_->stateSnapshot());
}

workbench::HealthSources AppDelegate::HealthSourcesOfThisProgram() {
  const char* version = build_info::kShortVersion;
  const char* build = build_info::kBuildNumber;
  return workbench::HealthSources{[this] { return bridgeServer_->stateSnapshot(); },
                                  [this] { return bridgeServer_->saveLocation(); },
                                  [this] { return comfySetupSnapshot(); },
                                  *version ? version : texts::kUnknownVersion,
                                  *build ? build : "0"};
}

// ---- Lens correction -----------------------------------------------------------------------

void AppDelegate::saveLensSettings(const Json& body) {
  platform_.settings().Set(library::kLensCorrectionKey, BoolField(body, "enabled", false));
  sendLensCorrectionState();
}

void AppDelegate::sendLensCorrectionState() {
  const bool enabled = LensCorrectionEnabled();
  Call("window.Native.lensCorrectionState",
       Json{{"enabled", enabled},
            {"engine", texts::kLensEngine},
            {"cameraCount", libraw_cameraCount()},
            {"detail", enabled ? texts::kLensDetailOn : texts::kLensDetailOff}});
}

// ---- The AI service ------------------------------------------------------------------------

void AppDelegate::saveGRSAISettings(const Json& body) {
  grsAIClient_->updateAPIKey(StringField(body, "apiKey"), StringField(body, "baseURL"), StringField(body, "model"));
  Call("window.Native.grsAIState", grsAIClient_->stateSnapshot());
  // The plug-in server's state embeds the client's.
  bridgeServer(*bridgeServer_, bridgeServer_->stateSnapshot());
}

void AppDelegate::testGRSAIConnection() {
  grsAIClient_->testConnection([this](Json snapshot) {
    Call("window.Native.grsAIState", std::move(snapshot));
    bridgeServer(*bridgeServer_, bridgeServer_->stateSnapshot());
  });
}

void AppDelegate::bridgeServer(bridge::TWBridgeServer&, Json state) {
  // The page hears the state first in the handshake; before it, there is no page to tell.
  if (pageReady_) Call("window.Native.bridgeStatus", std::move(state));
}

// ---- Workspace -----------------------------------------------------------------------------

void AppDelegate::openFolder(const std::string& path) {
  if (!path.empty()) platform_.OpenFolder(path);
}

void AppDelegate::openURLs(const std::vector<std::string>& urls) {
  if (urls.empty()) return;
  // Photos are imported as if chosen in the photo panel once the page says yes; the import takes
  // only the regular CR3 and JPEG files among them.
  std::vector<std::string> photos;
  for (const std::string& url : urls) {
    if (auto path = PathFromFileURL(url)) photos.push_back(std::move(*path));
  }
  if (!photos.empty()) {
    platform_.Activate();
    openRequest_ = OpenRequest{NewUUIDString(), std::move(photos)};
    if (pageReady_) AskToOpenPhotos();
    return;
  }
  const std::string& url = urls.front();
  auto colon = url.find(':');
  if (colon == std::string::npos || ToLower(url.substr(0, colon)) != "tidewick") return;

  platform_.Activate();
  // The command is the URL's host: what follows "//" up to the next "/", "?" or "#".
  std::string command;
  if (url.compare(colon + 1, 2, "//") == 0) {
    auto start = colon + 3;
    auto end = url.find_first_of("/?#", start);
    command = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (auto at = command.rfind('@'); at != std::string::npos) command = command.substr(at + 1);
    if (auto port = command.find(':'); port != std::string::npos) command = command.substr(0, port);
  }
  if (command.empty()) command = "retouch";
  if (command == "history") {
    std::string saveLocation = bridgeServer_->saveLocation();
    if (!saveLocation.empty()) platform_.OpenFolder(saveLocation);
  }
  Status(fmt::format(texts::kOpenedFromPlugin, command));
}

void AppDelegate::AskToOpenPhotos() {
  openRequest_->asked = true;
  Json names = Json::array();
  for (const std::string& path : openRequest_->photos) {
    if (names.size() == kOpenRequestNames) break;
    // The page holds only UTF-8 text; the import counts such a name among the skipped ones.
    if (std::string name = LastPathComponent(path); IsValidUTF8(name)) names.push_back(std::move(name));
  }
  Call("window.Native.openPhotosRequested",
       Json{{"token", openRequest_->token}, {"count", openRequest_->photos.size()}, {"names", std::move(names)}});
}

void AppDelegate::importRequestedPhotos(const Json& body) {
  if (!openRequest_ || StringField(body, "token") != openRequest_->token) return;
  std::vector<std::string> photos = std::move(openRequest_->photos);
  openRequest_.reset();
  scanPhotos(std::move(photos), std::nullopt);
}

// ---- Camera cards --------------------------------------------------------------------------

void AppDelegate::SendCardNotice(const std::string& volumePath) {
  Call("window.Native.cardDetected", Json{{"path", volumePath}, {"dcim", JoinPath(volumePath, "DCIM")}});
}

void AppDelegate::startVolumeMonitor() {
  platform_.WatchVolumeMounts([this](const std::string& mountPath) {
    if (mountPath.empty()) return;
    if (IsDirectory(JoinPath(mountPath, "DCIM"))) SendCardNotice(mountPath);
  });
}

void AppDelegate::detectExistingCameraCard() {
  for (const std::string& volume : platform_.MountedVolumes()) {
    std::string name = LastPathComponent(volume);
    if (name.empty() || name[0] == '.') continue;
    if (!IsDirectory(JoinPath(volume, "DCIM"))) continue;
    Status(fmt::format(texts::kCardDetected, name));
    SendCardNotice(volume);
    return;
  }
}

// ---- Panels --------------------------------------------------------------------------------

void AppDelegate::presentFilePanel(const platform::PanelRequest& request,
                                   std::function<void(platform::PanelResult)> done) {
  if (platform_.IsPanelOpen()) {
    Status(texts::kPanelAlreadyOpen);
    done(platform::PanelResult{});
    return;
  }
  platform_.RunPanel(request, std::move(done));
}

// ---- Import ------------------------------------------------------------------------------

void AppDelegate::chooseFolder() {
  platform::PanelRequest request;
  request.kind = platform::PanelRequest::Kind::OpenFolder;
  request.title = texts::kChooseFolderTitle;
  presentFilePanel(request, [this](platform::PanelResult result) {
    if (result.ok) scanFolder(result.paths.front());
  });
}

void AppDelegate::choosePhotos(const Json& initialPath) {
  platform::PanelRequest request;
  request.kind = platform::PanelRequest::Kind::OpenFiles;
  request.title = texts::kChoosePhotosTitle;
  request.button = texts::kChoosePhotosButton;
  request.multiple = true;
  request.extensions = {"jpg", "jpeg", "cr3"};
  if (initialPath.is_string() && !initialPath.get<std::string>().empty()) {
    request.directory = initialPath.get<std::string>();
  } else if (selectedFolder) {
    request.directory = *selectedFolder;
  }
  presentFilePanel(request, [this](platform::PanelResult result) {
    if (result.ok) scanPhotos(result.paths, std::nullopt);
  });
}

void AppDelegate::scanFolder(const std::string& folder) { scanPhotos({}, folder); }

void AppDelegate::watchScanProgress(const Json& body) { scanProgressWanted_ = BoolField(body, "enabled", false); }

void AppDelegate::scanPhotos(std::vector<std::string> files, std::optional<std::string> folder) {
  const std::string token = NewUUIDString();
  importToken.Set(token);
  Status(library::kReadingFilesStatus);
  // The folder is reported and remembered in one form, however the request spelled it.
  if (folder) folder = library::StandardizedPath(*folder).value_or("");
  library::ScanRequest request{std::move(folder), std::move(files), launch_.supportFolder};
  std::function<void(const library::ScanProgress&)> progress;
  std::function<void(std::vector<Json>)> records;
  if (scanProgressWanted_) {
    progress = [this, token](const library::ScanProgress& told) {
      if (!importToken.Is(token)) return;
      Call("window.Native.scanProgress",
           Json{{"found", told.found}, {"thumbnails", told.thumbnails}, {"total", told.total}});
    };
    // The token tells the page which import a batch belongs to: a superseded one's may still be
    // on its way when the next import starts.
    records = [this, token](std::vector<Json> batch) {
      if (!importToken.Is(token)) return;
      Call("window.Native.scanRecords", Json{{"token", token}, {"photos", std::move(batch)}});
    };
  }
  queues::Global(QoS::UserInitiated, [this, token, request = std::move(request), progress = std::move(progress),
                                      records = std::move(records)] {
    auto outcome =
        library::ScanPhotos(request, [this, &token] { return importToken.Is(token); }, progress, records);
    if (outcome.superseded) return;
    Json photos = Json::array();
    for (auto& record : outcome.photos) photos.push_back(std::move(record));
    queues::Main([this, token, folder = request.folder, photos = std::move(photos), skipped = outcome.skipped,
                  nonUTF8Names = outcome.nonUTF8Names]() mutable {
      PublishScan(token, std::move(folder), std::move(photos), skipped, nonUTF8Names);
    });
  });
}

void AppDelegate::PublishScan(const std::string& token, std::optional<std::string> folder, Json photos, long skipped,
                              long nonUTF8Names) {
  if (!importToken.Is(token)) return;
  if (photos.empty()) {
    Status(library::kNothingToImportStatus);
  } else {
    selectedFolder = folder ? *folder : ParentDirectory(StringField(photos.front(), "path"));
    if (!library::BackUpProject(launch_.supportFolder)) {
      Status(library::kBackupFailedStatus);
      return;
    }
    Call("window.Native.receiveScan", Json{{"folder", folder.value_or("")},
                                           {"source", folder ? "folder" : "files"},
                                           {"skipped", skipped},
                                           {"photos", std::move(photos)}});
  }
  if (nonUTF8Names > 0) Status(fmt::format(library::kNonUTF8NamesStatus, nonUTF8Names));
}

// ---- Previews and edits --------------------------------------------------------------------

void AppDelegate::previewPhoto(const Json& body) {
  std::string id = StringField(body, "id");
  std::string path = StringField(body, "path");
  if (id.empty() || path.empty()) return;
  // The setting as it stands when the page asks: a change made while the preview waits for a
  // worker belongs to the next request.
  const bool lens = LensCorrectionEnabled();
  queues::Global(QoS::UserInitiated, [this, id, path, lens] {
    Call("window.Native.previewReady", library::PreparePreview(id, path, launch_.supportFolder, lens));
  });
}

void AppDelegate::photoMetadata(const Json& body) {
  queues::Global(QoS::UserInitiated,
                 [this, body] { Call("window.Native.photoMetadata", library::PhotoMetadataPayload(body)); });
}

void AppDelegate::photoRegion(const Json& body) {
  // The lens setting as it stands when the page asks, as for the previews.
  const bool lens = LensCorrectionEnabled();
  queues::Global(QoS::UserInitiated, [this, body, lens] {
    if (auto answer = library::PreparePhotoRegion(body, launch_.supportFolder, lens)) {
      Call("window.Native.photoRegion", std::move(*answer));
    }
  });
}

void AppDelegate::photoFaces(const Json& body) {
  queues::Global(QoS::UserInitiated, [this, body] {
    if (auto answer = analysis::PhotoFacesPayload(body)) Call("window.Native.photoFaces", std::move(*answer));
  });
}

void AppDelegate::editPhoto(const Json& body) {
  library::EditRequest request = library::ReadEditRequest(body);
  if (request.path.empty() || request.token.empty() || !PathExists(request.path)) {
    Call("window.Native.photoEditResult", Json{{"token", request.token}, {"error", library::kEditSourceUnreachable}});
    return;
  }
  platform::PanelRequest panel;
  panel.kind = platform::PanelRequest::Kind::OpenFolder;
  panel.title = library::kEditPanelTitle;
  panel.button = library::kEditPanelButton;
  panel.canCreateFolders = true;
  panel.directory = ParentDirectory(request.path);
  presentFilePanel(panel, [this, request](platform::PanelResult result) {
    if (!result.ok) {
      Call("window.Native.photoEditResult", Json{{"token", request.token}, {"cancelled", true}});
      return;
    }
    queues::Global(QoS::UserInitiated, [this, request, folder = result.paths.front()] {
      Call("window.Native.photoEditResult", library::SaveEditedPhoto(request, folder, LensCorrectionEnabled()));
    });
  });
}

}  // namespace tw::app
