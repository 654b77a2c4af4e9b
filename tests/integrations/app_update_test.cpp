// The update check as the page drives it: `tidewick --headless` reading manifests from files and,
// over HTTPS, from the AI service's stand-in.
#include "base/files.hpp"
#include "fake_service.hpp"
#include "integrations/app_update.hpp"
#include "platform/settings.hpp"
#include "support/headless_process.hpp"

#include <gtest/gtest.h>

namespace tw::integrations {
namespace {

using ai::testing::TheFakeService;
using tw::testing::HeadlessResult;
using tw::testing::HeadlessSandbox;
using tw::testing::HeadlessSession;
using tw::testing::TempFolder;

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
  // Each check's outcome after its "checking" state.
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
  for (const std::string address : {"http://127.0.0.1/update.json", "ftp://127.0.0.1/u.json", "不是地址"}) {
    app.Send(Check(address));
    EXPECT_EQ(failure(next()),
              (std::vector<Json>{"更新地址无效", "更新地址必须使用 HTTPS；本地测试可使用 file:// 地址。"}));
  }
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
  // A local manifest may not send the browser to a local file either.
  EXPECT_EQ(failure(checked(Check(ManifestFile("local.json", Manifest("9.0", "file:///tmp/x.tar.gz").dump())))),
            (std::vector<Json>{"清单格式错误", "需要 version 与 HTTPS downloadURL"}));
  Json large = Manifest("9.0", kPage);
  large["releaseNotes"] = std::string(kManifestSizeLimit, 'x');
  EXPECT_EQ(failure(checked(Check(ManifestFile("large.json", large.dump())))),
            (std::vector<Json>{"清单格式错误", "更新清单超过 1 MB"}));
  EXPECT_EQ(failure(checked(Check(ManifestFile("broken.json", "{\"version\":")))),
            (std::vector<Json>{"清单格式错误", "未能读取数据，因为它的格式不正确。"}));
  EXPECT_EQ(failure(checked(Check(TheFakeService().URL("/gone.json")))),
            (std::vector<Json>{"检查失败", "更新服务器返回 HTTP 404"}));
  EXPECT_EQ(failure(checked(Check("file://" + manifests_ / "missing.json"))),
            (std::vector<Json>{"检查失败", "无法读取本地更新清单"}));
  // A manifest no longer found has nothing to download.
  app.Send({{"action", "downloadAppUpdate"}});
  EXPECT_EQ(app.WaitFor(kDownload).value_or(Json())["success"], false);

  HeadlessResult run = app.Finish();
  std::vector<Json> opened;
  for (const Json& line : run.lines) {
    if (line.value("effect", "") == "openURL") opened.push_back(line["url"]);
  }
  EXPECT_EQ(opened, std::vector<Json>{kPage});
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
  EXPECT_EQ(CompareVersions("1.2", "1.2.0"), 0);
  EXPECT_EQ(CompareVersions("1.10", "1.9"), 1);
  EXPECT_EQ(CompareVersions("0.7.1", "0.7.2"), -1);
  EXPECT_EQ(CompareVersions("1.2beta", "1.2"), 0);
  EXPECT_EQ(CompareVersions("1.x", "1"), 0);
  EXPECT_EQ(CompareVersions("99999999999999999999999", "1"), 1);
}

}  // namespace
}  // namespace tw::integrations
