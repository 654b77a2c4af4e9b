#pragma once
// The application controller: the one owner of every job's state. It receives every page
// message (on the main queue), dispatches it by the action table, and answers through CallJS.
// Unless a member says otherwise, everything here runs on the main queue.
#include "ai/grsai_client.hpp"
#include "analysis/run/analysis_run.hpp"
#include "app/build_info.hpp"
#include "base/call_js.hpp"
#include "base/job_token.hpp"
#include "base/json.hpp"
#include "bridge/bridge_server.hpp"
#include "bridge/face_batch.hpp"
#include "culling/cloud_analysis_run.hpp"
#include "culling/burst_comparison.hpp"
#include "integrations/app_update.hpp"
#include "integrations/comfy_setup.hpp"
#include "integrations/workflow_apps.hpp"
#include "library/project_store.hpp"
#include "output/photo_output.hpp"
#include "platform/feature_host.hpp"
#include "platform/platform.hpp"
#include "workbench/workbench_features.hpp"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tw::app {

// How long quitting waits for the page's last save.
inline constexpr std::chrono::seconds kQuitSaveWait{2};

struct LaunchOptions {
  std::string supportFolder;  // the data folder (the verified test folder in test mode)
  bool testMode = false;
};

class AppDelegate final : public FeatureHost, public bridge::TWBridgeServerDelegate {
 public:
  AppDelegate(platform::Platform& platform, LaunchOptions launch);
  ~AppDelegate() override;

  // Start-up after the window and page exist: the data folder and, outside test mode, the plug-in
  // server and the volume monitor. (Refusing an invalid test folder happens earlier, in the shell.)
  void applicationDidFinishLaunching();
  // Stops the plug-in server.
  void applicationWillTerminate();

  // Every way of quitting goes through here: the page is asked to hand over the changes it has
  // not saved yet ("flushState"), and `quit` runs once it answers "stateFlushed" with the same
  // token (its save is written by then: messages arrive in order), or after kQuitSaveWait at the
  // latest. Before the page has said "ready" there is nothing to save and `quit` runs at once.
  // A second request while one waits is dropped; the first one quits.
  void prepareToQuit(std::function<void()> quit);
  // The "stateFlushed" action.
  void stateFlushed(const Json& body);

  // The script message handler "native".
  void didReceiveScriptMessage(const Json& body);
  // The URL scheme "tidewick:", and photos handed over as file URLs (the file manager's "open with").
  // Photos are kept here and the page is asked first (window.Native.openPhotosRequested): an
  // import replaces its project, and it knows whether that holds decisions.
  void openURLs(const std::vector<std::string>& urls);
  // The "importRequestedPhotos" action: the page's yes to the newest request, by its token. The
  // photos imported are the ones kept, never paths the page sends; a stale token does nothing.
  void importRequestedPhotos(const Json& body);

  // ---- Operations reached from the action table -------------------------------------------
  void ready();
  void saveState(const Json* state);
  void sendSavedState();
  void saveLensSettings(const Json& body);
  void sendLensCorrectionState();
  void openFolder(const std::string& path);
  // The AI service's settings and connection check.
  void saveGRSAISettings(const Json& body);
  void testGRSAIConnection();
  // The plug-in server's state, told to the page as bridgeStatus (from the handshake on).
  void bridgeServer(bridge::TWBridgeServer& server, Json state) override;
  void detectExistingCameraCard();
  void startVolumeMonitor();
  // Import.
  void chooseFolder();
  void choosePhotos(const Json& initialPath);
  void scanFolder(const std::string& folder);
  void scanPhotos(std::vector<std::string> files, std::optional<std::string> folder);
  // The "watchScanProgress" action: whether imports from now on tell window.Native.scanProgress, and
  // window.Native.scanRecords with the records whose thumbnails are ready.
  // A page that never asked (an older one, or one just reloaded) defines no such function.
  void watchScanProgress(const Json& body);
  // Previews and edits.
  void previewPhoto(const Json& body);
  void editPhoto(const Json& body);
  // Capture data of the photos named by the parallel "ids" and "paths" arrays, read on a worker and
  // answered in one window.Native.photoMetadata.
  void photoMetadata(const Json& body);
  // The full-resolution pixels of a rectangle of a photo (100 % and 200 % views), made or taken
  // from the region cache on a worker and answered as window.Native.photoRegion.
  void photoRegion(const Json& body);
  // The faces the local analysis finds in a photo with their verdicts, found on a worker and
  // answered as window.Native.photoFaces.
  void photoFaces(const Json& body);

  // The one way every panel is shown: at most one is open at a time.
  void presentFilePanel(const platform::PanelRequest& request,
                        std::function<void(platform::PanelResult)> done) override;

  // ---- Shared by the features ---------------------------------------------------------------
  // Any thread.
  void Call(std::string function, Json payload = nullptr) const override;
  void Status(std::string text) const override;
  bool LensCorrectionEnabled() const override;

  platform::Platform& platform() override { return platform_; }
  const std::string& supportFolder() const override { return launch_.supportFolder; }
  bool testMode() const { return launch_.testMode; }
  output::PhotoOutput& output() { return output_; }

  analysis::AnalysisRun& analysisRun() { return analysisRun_; }
  culling::BurstComparison& burstComparison() { return burstComparison_; }
  culling::CloudAnalysisRun& cloudAnalysisRun() { return cloudAnalysisRun_; }
  workbench::WorkbenchFeatures& workbench() { return workbench_; }
  integrations::AppUpdate& appUpdate() { return appUpdate_; }
  bridge::FaceBatch& faceBatch() { return faceBatch_; }
  integrations::WorkflowApps& workflowApps() { return workflowApps_; }
  integrations::ComfySetup& comfySetup() { return comfySetup_; }

  // Controller fields (main queue unless noted).
  std::optional<std::string> selectedFolder;
  JobToken importToken;  // any thread

 private:
  void SendCardNotice(const std::string& volumePath);
  // What the health report reads of the local image-generation set-up.
  Json comfySetupSnapshot() const { return comfySetup_.comfySetupSnapshot(); }
  workbench::HealthSources HealthSourcesOfThisProgram();

  void AskToOpenPhotos();
  void PublishScan(const std::string& token, std::optional<std::string> folder, Json photos, long skipped,
                   long nonUTF8Names);

  platform::Platform& platform_;
  LaunchOptions launch_;
  std::shared_ptr<PageView> webView_;
  library::ProjectStore projectStore_;
  // What the user must hear about the stored project (an unreadable file moved aside), told at the
  // end of the handshake.
  std::optional<std::string> savedStateNotice_;
  bool pageReady_ = false;
  bool scanProgressWanted_ = false;
  // Photos handed over to be opened, until the page says yes to them or a newer request replaces
  // them. One handed over before "ready" is asked about once the handshake has restored the project.
  struct OpenRequest {
    std::string token;
    std::vector<std::string> photos;
    bool asked = false;
  };
  std::optional<OpenRequest> openRequest_;
  struct QuitRequest {
    std::string token;
    std::function<void()> quit;
  };
  std::optional<QuitRequest> quitRequest_;
  // The one AI service client, shared with the features that call the service.
  std::shared_ptr<ai::TWGRSAIClient> grsAIClient_;
  // The plug-in's server; it also holds where generated images are saved.
  std::shared_ptr<bridge::TWBridgeServer> bridgeServer_;
  // The feature operations, each owning its own job state.
  analysis::AnalysisRun analysisRun_{*this};
  culling::CloudAnalysisRun cloudAnalysisRun_{*this, grsAIClient_};
  output::PhotoOutput output_{*this};
  culling::BurstComparison burstComparison_{*this};
  workbench::WorkbenchFeatures workbench_{*this, projectStore_, grsAIClient_, HealthSourcesOfThisProgram()};
  bridge::FaceBatch faceBatch_{*this, grsAIClient_, bridgeServer_};
  integrations::AppUpdate appUpdate_{*this, build_info::kShortVersion, build_info::kBuildNumber};
  integrations::WorkflowApps workflowApps_{*this};
  integrations::ComfySetup comfySetup_;
};

// The window title for the mode.
const char* WindowTitle(bool testMode);

}  // namespace tw::app
