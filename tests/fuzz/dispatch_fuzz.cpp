// libFuzzer target: any bytes the page could post must dispatch without crashing.
// Actions that walk, read or move arbitrary files are left out: they would trash or scan whatever
// paths the fuzzer invents. So are the update check and its stored address, which the handshake
// checks: they would wait on whatever addresses the fuzzer invents; and the local model installer,
// which on a machine with a ComfyUI instance would start downloading gigabytes. Their input
// handling has its own tests.
#include "app/app_delegate.hpp"
#include "base/queues.hpp"
#include "platform/scripted/scripted_platform.hpp"

#include <cstdlib>
#include <set>
#include <string>

namespace {

struct Harness {
  tw::RunLoop loop;
  std::string folder;
  std::unique_ptr<tw::platform::ScriptedPlatform> platform;
  std::unique_ptr<tw::app::AppDelegate> app;

  Harness() {
    char pattern[] = "/tmp/tidewick-qa-fuzz-XXXXXX";
    folder = mkdtemp(pattern);
    tw::queues::SetMainDriver(&loop);
    platform = std::make_unique<tw::platform::ScriptedPlatform>([](const std::string&) {}, folder + "/settings.json");
    app = std::make_unique<tw::app::AppDelegate>(*platform, tw::app::LaunchOptions{folder, true});
    app->applicationDidFinishLaunching();
  }
};

const std::set<std::string> kFileWalkingActions = {
    "scanPath", "analyze", "previewPhoto", "editPhoto", "trashPhotos", "trashRatedPhotos", "exportRatedPhotos",
    "exportAdvanced", "export", "exportReviewManifest", "cloudAnalyze", "compareBurst", "previewProjectStyle",
    "checkForAppUpdate", "saveUpdateSettings", "installComfyModels"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness* harness = new Harness();
  std::string text(reinterpret_cast<const char*>(data), size);
  auto parsed = tw::ParseJSON(text);
  // The web view hands over JSON values; text that is not JSON arrives as a string.
  tw::Json body = parsed ? std::move(*parsed) : tw::Json(text);
  if (body.is_object() && kFileWalkingActions.count(tw::StringField(body, "action"))) return 0;
  harness->app->didReceiveScriptMessage(body);
  harness->loop.RunUntilQuiet();
  return 0;
}
