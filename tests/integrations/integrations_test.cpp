// Through the headless program: the local image-generation set-up (planted Comfy Desktop files, a local
// file server), companion applications from planted desktop entries, and the update check.
#include "base/files.hpp"
#include "fake_service.hpp"
#include "integrations/app_update.hpp"
#include "integrations/comfy_installer.hpp"
#include "integrations/comfy_setup_snapshot.hpp"
#include "platform/settings.hpp"
#include "support/headless_process.hpp"
#include "support/shoot_files.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tw::integrations {
namespace {

using testing::HeadlessOptions;
using testing::HeadlessSandbox;
using testing::RunHeadless;
using testing::TempFolder;
namespace fs = std::filesystem;

void WriteText(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

void Sparse(const std::string& path, unsigned long long size) {
  WriteText(path, "");
  fs::resize_file(path, size);
}

// local_file_server.py serving one folder; its requests are logged to log().
class LocalFileServer {
 public:
  LocalFileServer() : child_({TIDEWICK_PYTHON3, TIDEWICK_FILE_SERVER, folder_.path(), log()}) {
    if (std::sscanf(child_.ReadLine().c_str(), "ready %d", &port_) != 1) throw std::runtime_error("no file server");
  }
  std::string operator/(const std::string& name) const { return folder_ / name; }
  std::string log() const { return folder_ / "requests.log"; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int port() const { return port_; }

 private:
  TempFolder folder_;
  ai::testing::ChildProcess child_;
  int port_ = 0;
};

struct ComfySandbox : HeadlessSandbox {
  std::string instance = home / "ComfyUI-Studio";
  std::string comfyConfig = config / "Comfy Desktop";
  std::string models = instance + "/ComfyUI/models";

  ComfySandbox() { WriteText(instance + "/ComfyUI/main.py", ""); }
  void List(const Json& installations) { WriteText(comfyConfig + "/installations.json", installations.dump()); }
  void ListTheInstance() {
    List(Json::array({{{"status", "installed"}, {"sourceId", "standalone"}, {"installPath", instance}}}));
  }
};

TEST(ComfySetup, SnapshotFromComfyDesktopsFiles) {
  ComfySandbox box;
  WriteText(box.home / "broken/ComfyUI/README", "");  // no main.py: skipped for a later entry
  box.List(Json::array({"not an entry",
                        {{"status", "installed"}, {"sourceId", "standalone"}, {"installPath", box.home / "broken"}},
                        {{"status", "removed"}, {"sourceId", "standalone"}, {"installPath", box.instance}},
                        {{"status", "installed"}, {"sourceId", "git"}, {"installPath", box.instance}},
                        {{"status", "installed"}, {"sourceId", "standalone"}, {"installPath", "relative/path"}},
                        {{"status", "installed"}, {"sourceId", "standalone"}, {"installPath", box.instance},
                         {"id", "abc"}, {"name", "工作室"}}}));
  const std::string root = box.home / "models";
  WriteText(box.comfyConfig + "/instance-model-paths/abc.yaml", "comfyui:\n  base_path: '" + root + "/.'\n");
  const auto& files = ComfyModelFiles();
  Sparse(root + "/" + files[0].relativePath, files[0].size);
  Sparse(root + "/" + files[2].relativePath, 336213556);  // the VAE's other published size
  Sparse(root + "/" + files[3].relativePath, files[3].size - 1);
  WriteText(box.instance + "/ComfyUI/custom_nodes/ComfyUI-GGUF/nodes.py", "");
  WriteText(box.instance + "/ComfyUI/.venv/lib/python3.12/site-packages/gguf/__init__.py", "");

  auto result = RunHeadless(std::vector<Json>{{{"action", "refreshComfySetup"}}, {{"action", "workbenchHealth"}}},
                            box.Options());
  Json state = result.Payloads("window.Native.comfySetupState").at(0);
  EXPECT_GT(state["memoryGB"].get<long>(), 0);
  state.erase("memoryGB");
  EXPECT_EQ(state, (Json{{"desktopInstalled", 0}, {"instanceInstalled", 1}, {"instanceName", "工作室"},
                         {"instancePath", box.instance}, {"modelRoot", root}, {"modelsReady", 2}, {"modelsTotal", 4},
                         {"nodeReady", true}, {"dependencyReady", true},
                         {"missingBytes", files[1].size + files[3].size}, {"busy", 0}}));
  // The health report's local-model row reads the same snapshot.
  EXPECT_EQ(result.Payloads("window.Native.workbenchHealth").at(0)["rows"][3],
            (Json{{"name", "本地生图模型（可选）"}, {"ok", 0},
                  {"message", "模型文件 2 / 4；GGUF 节点已配置；依赖已配置。这不代表已经完成真实推理。"}}));
}

TEST(ComfySetup, ModelRootFallsBackUnlessTheFileNamesAnAbsoluteFolder) {
  TempFolder config;
  const ComfyInstallation instance{"i1", "ComfyUI", "/srv/comfy"};
  const std::string fallback = "/srv/comfy/ComfyUI/models";
  for (const std::string& yaml : std::vector<std::string>{"base_path: 'relative/models'\n", "base_path: \"/\"\n", "base_path: /unquoted\n",
                                 "other: 1\n", std::string("base_path: '/x\xff'\n")}) {
    WriteText(config / "instance-model-paths/i1.yaml", yaml);
    EXPECT_EQ(comfyModelRootForInstallation(instance, config.path()), fallback) << yaml;
  }
  WriteText(config / "instance-model-paths/i1.yaml", "a: 1\n  base_path:   \"/data/models/\"\n");
  EXPECT_EQ(comfyModelRootForInstallation(instance, config.path()), "/data/models");
  // An id that would leave the folder is not used to name a file.
  WriteText(config / "x.yaml", "base_path: '/data/models'\n");
  EXPECT_EQ(comfyModelRootForInstallation({"../x", "", "/srv/comfy"}, config / "instance-model-paths"), fallback);
}

TEST(ComfySetup, InstallerOutputBecomesEventsLineByLine) {
  InstallerOutput output;
  EXPECT_TRUE(output.Feed("download|正在下").empty());
  std::vector<std::pair<std::string, std::string>> events;
  for (const auto& e : output.Feed("载\nno bar here\nready|a|b\n\xff|x\ntail|")) events.emplace_back(e.event, e.message);
  EXPECT_EQ(events, (std::vector<std::pair<std::string, std::string>>{{"download", "正在下载"}, {"ready", "a"}}));
  EXPECT_EQ(output.Feed(std::string(70000, 'x') + "\nend|1\n").size(), 1u) << "an overlong line is dropped whole";
}

TEST(ComfySetup, ProbeAnswersConnectedOnlyWhenTheServerDescribesItsSystem) {
  LocalFileServer server;
  WriteText(server / "system_stats", R"({"system": {"os": "posix"}, "devices": []})");
  HeadlessSandbox box;
  auto options = box.Options();
  options.environment["TIDEWICK_TEST_COMFY_PORT"] = std::to_string(server.port());
  auto connected = RunHeadless(std::vector<Json>{{{"action", "checkComfyConnection"}}}, options);
  EXPECT_EQ(connected.Payloads("window.Native.comfySetupConnection"),
            (std::vector<Json>{{{"connected", true}, {"message", "本机 ComfyUI 已连通 · 127.0.0.1:8188"}}}));

  WriteText(server / "system_stats", R"({"devices": []})");
  auto refused = RunHeadless(std::vector<Json>{{{"action", "checkComfyConnection"}}}, options);
  EXPECT_EQ(refused.Payloads("window.Native.comfySetupConnection").at(0)["connected"], false);
}

std::vector<std::string> Events(const testing::HeadlessResult& result) {
  std::vector<std::string> events;
  for (const Json& event : result.Payloads("window.Native.comfySetupProgress")) {
    events.push_back(event["event"].get<std::string>() + "|" + event["message"].get<std::string>());
  }
  if (events.empty()) events.push_back("<no event>");
  return events;
}

TEST(ComfySetup, InstallerResumesAfterACutAndRefusesAWrongSize) {
  ComfySandbox box;
  box.ListTheInstance();
  const auto& files = ComfyModelFiles();
  for (int i = 0; i < 3; ++i) Sparse(box.models + "/" + files[i].relativePath, files[i].size);
  // The instance's Python: installs the package the way pip would.
  WriteText(box.instance + "/ComfyUI/.venv/bin/python",
            "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/../pip-arguments\"\n"
            "mkdir -p \"$(dirname \"$0\")/../lib/python3.12/site-packages/gguf\" && "
            "touch \"$(dirname \"$0\")/../lib/python3.12/site-packages/gguf/__init__.py\"\n");
  fs::permissions(box.instance + "/ComfyUI/.venv/bin/python", fs::perms::owner_all);

  LocalFileServer server;
  const std::string upscaler = files[3].relativePath;
  std::string content(files[3].size, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 7919) >> 8);
  const std::string target = box.models + "/" + upscaler;
  auto options = box.Options();
  options.environment["TIDEWICK_TEST_MODEL_BASE_URL"] = server.url();
  const Json install{{"action", "installComfyModels"}};

  // The server has only the start of the file: the size check fails and the part stays.
  WriteText(server / upscaler, content.substr(0, 1000));
  auto first = RunHeadless(std::vector<Json>{install, install}, options);
  auto events = Events(first);
  EXPECT_EQ(events[0], "ready|flux-2-klein-4b-Q4_K_M.gguf 已就绪");
  EXPECT_NE(std::find(events.begin(), events.end(),
                      "error|realesr-general-x4v3.pth 大小校验失败（1000 字节，应为 4885111）"), events.end());
  EXPECT_EQ(events.back(), "failed|安装未完成；可再次点击继续，已下载的部分会保留。");
  EXPECT_EQ(std::count_if(events.begin(), events.end(), [](auto& e) { return e.rfind("download|", 0) == 0; }), 1)
      << "the second request while the first ran started nothing";
  // The busy state answers the second request; the node and its package are installed all the same.
  std::vector<Json> states;
  for (const Json& state : first.Payloads("window.Native.comfySetupState")) states.push_back({state["busy"], state["nodeReady"]});
  EXPECT_EQ(states, (std::vector<Json>{{1, false}, {1, false}, {0, true}}));
  EXPECT_EQ(fs::file_size(target + ".part"), 1000u);
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(testing::ReadBytes(box.instance + "/ComfyUI/.venv/pip-arguments"),
            "-m pip install --disable-pip-version-check -r " TIDEWICK_SETUP_DIR "/ComfyUI-GGUF/requirements.txt\n");

  // The whole file now, but the connection breaks after a million bytes.
  WriteText(server / upscaler, content);
  WriteText(server / (upscaler + ".cut"), "1000000");
  auto cut = RunHeadless(std::vector<Json>{install}, options);
  EXPECT_EQ(Events(cut).back(), "failed|安装未完成；可再次点击继续，已下载的部分会保留。") << cut.rawOutput << cut.errorOutput;
  EXPECT_EQ(fs::file_size(target + ".part"), 1001000u);

  auto resumed = RunHeadless(std::vector<Json>{install}, options);
  EXPECT_EQ(Events(resumed).back(), "finished|本地图生图文件已就绪。若刚安装节点，请重启 Comfy Desktop 后检查连接。")
      << resumed.rawOutput;
  EXPECT_EQ(testing::ReadBytes(target), content);
  EXPECT_FALSE(fs::exists(target + ".part"));
  EXPECT_EQ(testing::ReadBytes(server.log()), "/" + upscaler + " -\n/" + upscaler + " bytes=1000-\n/" + upscaler +
                                        " bytes=1001000-\n");
  EXPECT_EQ(resumed.Payloads("window.Native.comfySetupState").back()["modelsReady"], 4);
}

TEST(ComfySetup, InstallRefusedWithoutItsResources) {
  ComfySandbox box;
  box.ListTheInstance();
  TempFolder emptyResources;
  auto options = box.Options();
  options.environment["TIDEWICK_RESOURCES"] = emptyResources.path();
  auto missing = RunHeadless(std::vector<Json>{{{"action", "installComfyModels"}}}, options);
  EXPECT_EQ(Events(missing), std::vector<std::string>{"error|安装包缺少本地模型安装资源"});
  EXPECT_TRUE(missing.Payloads("window.Native.comfySetupState").empty());
}

std::string Entry(const std::string& name) {
  return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=/bin/true\n";
}

// A sandbox whose application registry holds only what a test plants.
struct AppSandbox : HeadlessSandbox {
  TempFolder systemData;
  std::string applications = data / "applications";
  HeadlessOptions Options() const {
    HeadlessOptions options = HeadlessSandbox::Options();
    options.environment["XDG_DATA_DIRS"] = systemData.path();
    options.environment["TIDEWICK_TEST_COMFY_PORT"] = "1";  // nothing listens there
    return options;
  }
};

TEST(WorkflowApps, FoundByDesktopIdOrNameAndLaunched) {
  AppSandbox box;
  WriteText(box.applications + "/pixcake.desktop", Entry("像素蛋糕"));
  WriteText(box.applications + "/wine-ps-2025.desktop", Entry("Adobe Photoshop 2025 (Wine)"));
  auto result = RunHeadless(std::vector<Json>{{{"action", "ready"}},
                                              {{"action", "openWorkflowApp"}, {"app", "pixcake"}},
                                              {{"action", "openWorkflowApp"}, {"app", 7}}},
                            box.Options());
  EXPECT_EQ(result.Payloads("window.Native.workflowAppsState"),
            (std::vector<Json>{{{"photoshop", {{"installed", 1}, {"name", "Photoshop"},
                                               {"path", box.applications + "/wine-ps-2025.desktop"}}},
                                {"pixcake", {{"installed", 1}, {"name", "像素蛋糕"},
                                             {"path", box.applications + "/pixcake.desktop"}}}}}));
  // Each launch is answered; a key that is not pixcake means Photoshop.
  auto launches = result.lines;
  std::erase_if(launches, [](const Json& line) {
    return line.value("effect", "") != "launchApp" && line.value("fn", "") != "window.Native.workflowAppOpened";
  });
  const auto opened = [](const char* name) {
    return Json{{"fn", "window.Native.workflowAppOpened"}, {"arg", {{"success", true}, {"name", name}, {"message", ""}}}};
  };
  EXPECT_EQ(launches, (std::vector<Json>{{{"effect", "launchApp"}, {"path", box.applications + "/pixcake.desktop"}},
                                         opened("像素蛋糕"),
                                         {{"effect", "launchApp"}, {"path", box.applications + "/wine-ps-2025.desktop"}},
                                         opened("Photoshop")}));
}

TEST(WorkflowApps, MissingApplicationsAndComfyDesktopFromItsFallbackPlace) {
  AppSandbox box;
  // Not runnable: a data file where an application could be is none.
  WriteText(box.home / ".local/bin/pixcake", "#!/bin/sh\n");
  WriteText(box.home / "Applications/ComfyUI.AppImage", "#!/bin/sh\n");
  fs::permissions(box.home / "Applications/ComfyUI.AppImage", fs::perms::owner_all);
  auto result = RunHeadless(std::vector<Json>{{{"action", "openWorkflowApp"}, {"app", "pixcake"}},
                                              {{"action", "openWorkflowApp"}},
                                              {{"action", "refreshComfySetup"}},
                                              {{"action", "openComfyDesktop"}}},
                            box.Options());
  EXPECT_EQ(result.Payloads("window.Native.workflowAppOpened"),
            (std::vector<Json>{{{"success", false}, {"name", "像素蛋糕"},
                                {"message", "未检测到像素蛋糕，你仍可从导出文件夹手动继续"}},
                               {{"success", false}, {"name", "Photoshop"},
                                {"message", "未检测到Photoshop，你仍可从导出文件夹手动继续"}}}));
  EXPECT_EQ(result.Payloads("window.Native.comfySetupState").at(0)["desktopInstalled"], 1);
  auto launched = result.lines;
  std::erase_if(launched, [](const Json& line) { return line.value("effect", "") != "launchApp"; });
  EXPECT_EQ(launched,
            (std::vector<Json>{{{"effect", "launchApp"}, {"path", box.home / "Applications/ComfyUI.AppImage"}}}));
  EXPECT_EQ(result.Payloads("window.Native.comfySetupProgress"),
            (std::vector<Json>{{{"event", "notice"}, {"message", "Comfy Desktop 已打开；请选择本地实例并等待服务启动。"}}}));
}

using ai::testing::TheFakeService;
using tw::testing::HeadlessSession;

constexpr char kState[] = "window.Native.appUpdateState";
constexpr char kDownload[] = "window.Native.appUpdateDownload";
constexpr char kPage[] = "https://example.com/tidewick-9.0.tar.gz";
const Json kReady = {{"action", "ready"}};
constexpr double kDay = 86400;

Json Manifest(const std::string& version, const std::string& downloadURL) {
  return {{"version", version}, {"downloadURL", downloadURL}, {"build", 42}, {"releaseNotes", "修复导出"}};
}

Json Check(const std::string& address, bool silent = false) {
  return {{"action", "checkForAppUpdate"}, {"manifestURL", address}, {"silent", silent}};
}

double Now() { return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(); }

class AppUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override { TheFakeService().Reset(); }

  std::string ManifestFile(const std::string& name, const std::string& text) {
    EXPECT_FALSE(WriteFileAtomically(manifests_ / name, text).has_value());
    return "file://" + manifests_ / name;
  }
  std::vector<std::string> Statuses(const std::vector<Json>& lines) {
    std::vector<std::string> statuses;
    for (const Json& state : RunHeadless(lines, sandbox_.Options()).Payloads(kState)) {
      statuses.push_back(StringField(state, "status"));
    }
    return statuses;
  }

  HeadlessSandbox sandbox_;
  TempFolder manifests_;
  platform::Settings settings_{sandbox_.config / "tidewick/settings.json"};
};

TEST_F(AppUpdateTest, EveryOutcomeReachesThePageInOrder) {
  TheFakeService().Route("GET", "/update.json", {{{"json", Manifest("9.0", kPage)}}});
  TheFakeService().Route("GET", "/gone.json", {{{"status", 404}, {"text", "not here"}}});
  HeadlessSession app(sandbox_.Options());
  auto next = [&app] { return app.WaitFor(kState).value_or(Json::object()); };
  auto checked = [&](const Json& message) {
    app.Send(message);
    EXPECT_EQ(next(), (Json{{"currentVersion", "0.7.1"}, {"currentBuild", "1"}, {"manifestURL", ""},
                            {"automatic", true}, {"status", "正在检查…"}, {"checking", true}}));
    return next();
  };
  auto failure = [](const Json& state) { return std::vector<Json>{state["status"], state["error"]}; };

  app.Send(kReady);
  EXPECT_EQ(next(), (Json{{"currentVersion", "0.7.1"}, {"currentBuild", "1"}, {"manifestURL", ""},
                          {"automatic", true}, {"status", "尚未检查"}}));
  app.Send(Check(""));
  EXPECT_EQ(failure(next()), (std::vector<Json>{"需要设置更新地址", "先填写你上传后的 update.json 公网地址。"}));
  app.Send(Check("http://127.0.0.1/update.json"));
  EXPECT_EQ(failure(next()), (std::vector<Json>{"更新地址无效", "更新地址必须使用 HTTPS；本地测试可使用 file:// 地址。"}));
  app.Send({{"action", "downloadAppUpdate"}});
  EXPECT_EQ(app.WaitFor(kDownload), (Json{{"success", false}, {"message", "没有可下载的新版本"}}));

  // The address a message names is trimmed, and used for this check only.
  Json found = checked(Check("  " + TheFakeService().URL("/update.json") + "\n"));
  EXPECT_EQ(found, (Json{{"currentVersion", "0.7.1"}, {"currentBuild", "1"}, {"manifestURL", ""}, {"automatic", true},
                         {"status", "发现新版本"}, {"available", true}, {"latestVersion", "9.0"}, {"latestBuild", "42"},
                         {"downloadURL", kPage}, {"releaseNotes", "修复导出"}, {"publishedAt", ""}, {"sha256", ""}}));
  app.Send({{"action", "downloadAppUpdate"}});
  EXPECT_EQ(app.WaitFor(kDownload),
            (Json{{"success", true}, {"message", "已在浏览器打开下载页面；下载后请退出旧版再覆盖安装。"}}));

  Json same = checked(Check(ManifestFile("same.json", Manifest("0.7.1.0", kPage).dump())));
  EXPECT_EQ(std::pair(same["status"], same["available"]), std::pair(Json("已经是最新版"), Json(false)));
  Json large = Manifest("9.0", kPage);
  large["releaseNotes"] = std::string(kManifestSizeLimit, 'x');
  // A local manifest may not send the browser to a local file either.
  for (const auto& [address, expected] : std::vector<std::pair<std::string, std::vector<Json>>>{
           {ManifestFile("local.json", Manifest("9.0", "file:///tmp/x.tar.gz").dump()),
            {"清单格式错误", "需要 version 与 HTTPS downloadURL"}},
           {ManifestFile("large.json", large.dump()), {"清单格式错误", "更新清单超过 1 MB"}},
           {ManifestFile("broken.json", "{\"version\":"), {"清单格式错误", "未能读取数据，因为它的格式不正确。"}},
           {TheFakeService().URL("/gone.json"), {"检查失败", "更新服务器返回 HTTP 404"}},
           {"file://" + manifests_ / "missing.json", {"检查失败", "无法读取本地更新清单"}}}) {
    EXPECT_EQ(failure(checked(Check(address))), expected) << address;
  }
  // A manifest no longer found has nothing to download.
  app.Send({{"action", "downloadAppUpdate"}});
  EXPECT_EQ(app.WaitFor(kDownload).value_or(Json())["success"], false);

  std::vector<Json> effects = app.Finish().lines;
  std::erase_if(effects, [](const Json& line) { return !line.contains("effect"); });
  EXPECT_EQ(effects, std::vector<Json>(1, {{"effect", "openURL"}, {"url", kPage}}));
  EXPECT_FALSE(settings_.GetString(kManifestURLSetting).has_value());
  EXPECT_NEAR(settings_.Get(kLastCheckSetting).value_or(0).get<double>(), Now(), 60);
}

TEST_F(AppUpdateTest, SilentChecksWaitThirtyDaysAfterTheLastValidManifest) {
  settings_.Set(kManifestURLSetting, ManifestFile("update.json", Manifest("9.0", kPage).dump()));
  const std::vector<std::string> quiet = {"尚未检查"}, checked = {"尚未检查", "正在检查…", "发现新版本"};

  settings_.Set(kLastCheckSetting, Now() - 29 * kDay);
  // Neither the handshake's check nor one the page asks for silently.
  EXPECT_EQ(Statuses({kReady, Check("", true)}), quiet);
  EXPECT_EQ(Statuses({kReady, Check("")}), checked) << "a check asked for runs at any time";

  settings_.Set(kLastCheckSetting, Now() - 31 * kDay);
  EXPECT_EQ(Statuses({kReady}), checked);
  EXPECT_EQ(Statuses({kReady}), quiet) << "the check just made was stamped";
  // A stamp from the future (a clock set back) holds nothing back.
  settings_.Set(kLastCheckSetting, Now() + 5 * kDay);
  EXPECT_EQ(Statuses({kReady}), checked);

  settings_.Set(kLastCheckSetting, Now() - 31 * kDay);
  settings_.Set(kAutomaticChecksSetting, false);
  EXPECT_EQ(Statuses({kReady}), quiet);
}

TEST_F(AppUpdateTest, AnOlderCheckAnsweringLastIsNotShown) {
  TheFakeService().Route("GET", "/slow.json", {{{"json", Manifest("9.0", kPage)}, {"delay_ms", 1500}}});
  EXPECT_EQ(Statuses({Check(TheFakeService().URL("/slow.json")),
                      Check(ManifestFile("same.json", Manifest("0.7.1", kPage).dump()))}),
            (std::vector<std::string>{"正在检查…", "正在检查…", "已经是最新版"}));
}

TEST_F(AppUpdateTest, SettingsAreStoredTrimmedAndAnythingButTrueTurnsAutomaticChecksOff) {
  const std::vector<Json> saves = {
      {{"action", "saveUpdateSettings"}, {"manifestURL", " https://a.example/u.json\n"}},
      {{"action", "saveUpdateSettings"}, {"manifestURL", 5}, {"automatic", true}}};
  auto run = RunHeadless(saves, sandbox_.Options());
  std::vector<Json> states;
  for (const Json& state : run.Payloads(kState)) states.push_back({state["manifestURL"], state["automatic"], state["status"]});
  EXPECT_EQ(states, (std::vector<Json>{{"https://a.example/u.json", false, "尚未检查"}, {"", true, "尚未检查"}})) << run.rawOutput;
  EXPECT_EQ(settings_.GetString(kManifestURLSetting), "");
}

TEST(CompareVersions, ComponentsCompareByTheirLeadingNumbers) {
  EXPECT_EQ(CompareVersions("1.10", "1.9"), 1);
  EXPECT_EQ(CompareVersions("1.x", "1"), 0);
  EXPECT_EQ(CompareVersions("99999999999999999999999", "1"), 1);
}

}  // namespace
}  // namespace tw::integrations
