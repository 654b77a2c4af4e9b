// The analysis run: progress, tokens, cancelling and superseding, driven by a scripted assessment; then the real one.
#include "analysis/run/analysis_run.hpp"
#include "imaging/image_test_support.hpp"
#include "support/controller_fixture.hpp"

#include <sys/stat.h>

#include <future>
#include <set>
#include <mutex>

namespace tw::testing {
namespace {

class AnalysisRunTest : public ControllerTest {
 protected:
  // Each assessment records what it was asked and answers with the photo's path; `during` runs
  // on the worker while the named photo is being assessed.
  std::unique_ptr<analysis::AnalysisRun> MakeRun(std::function<void(const std::string&)> during = {}) {
    return std::make_unique<analysis::AnalysisRun>(
        *app_, [this, during](const std::string& path, const Json&, const std::string& strictness) {
          {
            std::lock_guard lock(mutex_);
            asked_.emplace_back(path, strictness);
          }
          if (during) during(path);
          return Json{{"assessed", path}};
        });
  }
  // Runs a main-queue step from the worker and waits until the main queue has done it.
  void OnMainAndWait(std::function<void()> step) {
    std::promise<void> done;
    queues::Main([&] {
      step();
      done.set_value();
    });
    done.get_future().wait();
  }
  void Start(analysis::AnalysisRun& run, Json body) {
    queues::Main([&run, body] { run.analyzePhotos(body); });
    RunUntilQuiet();
  }
  static Json Photos(std::initializer_list<std::string> names) {
    Json photos = Json::array();
    for (const std::string& name : names) photos.push_back({{"id", "id-" + name}, {"path", name}});
    return photos;
  }

  std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> asked_;
};

TEST_F(AnalysisRunTest, ThreePhotosReportProgressThenCompleteWithTheSoundUnderAFreshTokenWhenNoneIsGiven) {
  auto run = MakeRun();
  Start(*run, {{"photos", Photos({"a", "b", "c"})}, {"settings", {{"sound", true}}}, {"token", 42}});
  auto results = Payloads("window.Native.analysisResult");
  ASSERT_EQ(results.size(), 3u);
  const Json token = results[0]["token"];
  EXPECT_EQ(token.get<std::string>().size(), 36u);
  // The estimated seconds left depend on timing; after the last photo there are none.
  std::vector<Json> expected;
  for (const char* name : {"a", "b", "c"}) {
    expected.push_back({{"token", token}, {"id", std::string("id-") + name}, {"result", {{"assessed", name}}},
                        {"processed", expected.size() + 1}, {"total", 3}, {"remaining", results[expected.size()]["remaining"]}});
  }
  EXPECT_EQ(results, expected);
  EXPECT_EQ(results[2]["remaining"], 0);
  EXPECT_EQ(Payloads("window.Native.analysisComplete"), (std::vector<Json>{{{"token", token}, {"cancelled", false}}}));
  ASSERT_EQ(lines_.size(), 5u) << "the three results, the completion, then the sound";
  EXPECT_EQ(lines_.back(), (Json{{"effect", "sound"}, {"name", "Glass"}}));

  ClearOutput();
  Start(*run, {{"token", "E"}, {"settings", {{"sound", true}}}});
  EXPECT_EQ(Payloads("window.Native.analysisComplete"), (std::vector<Json>{{{"token", "E"}, {"cancelled", false}}}));
  EXPECT_EQ(lines_.size(), 2u) << "an empty list only completes, with the sound";
}

TEST_F(AnalysisRunTest, CancellingDuringThePhotoDropsItsResult) {
  std::unique_ptr<analysis::AnalysisRun> run;
  run = MakeRun([&](const std::string& path) {
    if (path == "b") OnMainAndWait([&] { run->cancel(); });
  });
  Start(*run, {{"photos", Photos({"a", "b", "c"})}, {"settings", {{"sound", true}}}, {"token", "T"}});
  auto results = Payloads("window.Native.analysisResult");
  EXPECT_EQ(std::pair(results.size(), results.at(0)["id"]), std::pair(size_t(1), Json("id-a")));
  EXPECT_EQ(Payloads("window.Native.analysisComplete"), (std::vector<Json>{{{"token", "T"}, {"cancelled", true}}}));
  EXPECT_EQ(lines_.size(), 2u) << "no sound";
}

TEST_F(AnalysisRunTest, ANewRunRetiresTheOldOneWhichCompletesCancelled) {
  std::unique_ptr<analysis::AnalysisRun> run;
  run = MakeRun([&](const std::string& path) {
    if (path == "a2") {
      OnMainAndWait([&] { run->analyzePhotos({{"photos", Photos({"b1", "b2"})}, {"token", "B"},
                                              {"settings", {{"strictness", "严格"}}}}); });
    }
  });
  Start(*run, {{"photos", Photos({"a1", "a2", "a3"})}, {"token", "A"}});
  std::vector<std::string> seen;
  for (const auto& result : Payloads("window.Native.analysisResult")) {
    seen.push_back(result["token"].get<std::string>() + ":" + result["id"].get<std::string>());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"A:id-a1", "B:id-b1", "B:id-b2"}));
  // The two workers finish independently, so their completions may come in either order.
  auto completions = Payloads("window.Native.analysisComplete");
  EXPECT_EQ(std::multiset<Json>(completions.begin(), completions.end()),
            (std::multiset<Json>{{{"token", "A"}, {"cancelled", true}}, {{"token", "B"}, {"cancelled", false}}}));
  for (const auto& [path, strictness] : asked_) EXPECT_EQ(strictness, path[0] == 'b' ? "严格" : "标准") << path;
}

TEST_F(AnalysisRunTest, TheControllerRunsTheRealAssessment) {
  TempFolder folder;
  // Transparent pixels are measured as a drawing into a zero-filled buffer leaves them: black.
  imaging::EnsureVipsStarted();
  vips::VImage::black(64, 64, vips::VImage::option()->set("bands", 4))
      .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
      .cast(VIPS_FORMAT_UCHAR)
      .write_to_file((folder / "transparent.png").c_str());
  // A pipe is never waited on.
  ASSERT_EQ(mkfifo((folder / "pipe.jpg").c_str(), 0644), 0);
  const Json photos = Photos({imaging::testing::Photo("blur-defocus-text.jpg"), folder / "transparent.png", folder / "pipe.jpg"});
  Send({{"action", "analyze"}, {"token", "R"}, {"photos", photos}, {"settings", {{"enabled", {"整体模糊", "过曝"}}}}});
  auto results = Payloads("window.Native.analysisResult");
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0]["result"]["issues"], Json::array({"整体模糊"}));
  EXPECT_EQ(results[1]["result"]["brightness"], 0.0);
  EXPECT_EQ(results[1]["result"]["issues"], Json::array({"整体模糊"})) << "not overexposed";
  EXPECT_EQ(results[2]["result"], (Json{{"error", "无法解码照片预览"}}));
  EXPECT_EQ(Payloads("window.Native.analysisComplete").back()["cancelled"], false);
}

}  // namespace
}  // namespace tw::testing
