// The whole-set style: the bounded values and the direction they move a photo, then preview, export,
// refusals and a cancel in the middle through the headless program.
#include "ai/base64.hpp"
#include "base/files.hpp"
#include "library/imaging/decoding.hpp"
#include "support/shoot_files.hpp"
#include "workbench/style_algorithm.hpp"
#include "workbench_test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace tw::testing {
namespace {

using workbench::ColorProfile;
using workbench::StyleValues;
using workbench::TWStyleValues;

Json Options(double strength, bool preserveColors = false) {
  return {{"strength", strength}, {"preserveColors", preserveColors}};
}

void ExpectValues(const std::optional<StyleValues>& v, double exposure, double r, double g, double b, double s) {
  ASSERT_TRUE(v.has_value());
  const double got[] = {v->exposure, v->r, v->g, v->b, v->saturation}, expected[] = {exposure, r, g, b, s};
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(got[i], expected[i], 1e-9) << i;
}

vips::VImage Colour(std::array<double, 3> rgb) { return ColourImage(rgb, 64, 48); }

std::array<double, 3> Means(const vips::VImage& image) {
  return {image.extract_band(0).avg(), image.extract_band(1).avg(), image.extract_band(2).avg()};
}

TEST(StyleValues, StrengthScalesClampedCorrectionsAndOutOfRangeGivesNone) {
  const ColorProfile grey{0.5, 0.5, 0.5, 0.5, 0.3};
  const ColorProfile redder{0.75, 0.5, 0.5, 0.5, 0.3};  // a red share 1.5 times the photo's
  ExpectValues(TWStyleValues(grey, redder, Options(100)), 0, 1.2, 1, 1, 1);
  ExpectValues(TWStyleValues(grey, redder, Options(50)), 0, 1.1, 1, 1, 1);
  ExpectValues(TWStyleValues(grey, ColorProfile{0.25, 0.25, 0.25, 0.25, 0.3}, Options(100)), -0.7, 1, 1, 1, 1);
  ExpectValues(TWStyleValues(grey, redder, Options(0)), 0, 1, 1, 1, 1);
  // Colours are kept when the options do not say otherwise.
  ExpectValues(TWStyleValues(grey, redder, {{"strength", 100}}), 0, 1, 1, 1, 1);
  const ColorProfile nearlyGrey{0.5, 0.5, 0.5, 0.5, 0.04};
  ExpectValues(TWStyleValues(nearlyGrey, nearlyGrey, Options(100)), 0, 1, 1, 1, 0.8);
  EXPECT_FALSE(TWStyleValues(grey, redder, Options(100.5)) || TWStyleValues(grey, redder, Options(-1)) ||
               TWStyleValues(std::nullopt, redder, Options(50)));

  const std::vector<ColorProfile> extremes = {{0, 0, 0, 0, 0}, {1, 0, 0, 0.2126, 1}, {0, 0, 1, 0.0722, 1},
                                              {1, 1, 1, 1, 0}, {0.02, 0.9, 0.1, 0.65, 0.97}};
  for (const ColorProfile& photo : extremes) {
    for (const ColorProfile& reference : extremes) {
      for (double strength : {25.0, 100.0}) {
        const double s = strength / 100;
        auto v = TWStyleValues(photo, reference, Options(strength));
        ASSERT_TRUE(v.has_value());
        EXPECT_LE(std::abs(v->exposure), 0.7 * s + 1e-12);
        for (double gain : {v->r, v->g, v->b, v->saturation}) EXPECT_LE(std::abs(gain - 1), 0.2 * s + 1e-12);
      }
    }
  }
}

TEST(StyledImage, ProfilesOfMidtonesOnlyAndABrightReferenceBrightensAndAWarmOneWarms) {
  EXPECT_FALSE(workbench::TWColorProfile(Colour({255, 255, 255})) || workbench::TWColorProfile(Colour({0, 0, 0})) ||
               workbench::TWColorProfile(std::nullopt));
  auto warm = workbench::TWColorProfile(Colour({200, 150, 100}));
  ASSERT_TRUE(warm.has_value());
  EXPECT_NEAR(warm->r, 200 / 255.0, 1e-9);
  EXPECT_NEAR(warm->saturation, 0.5, 1e-9);
  EXPECT_NEAR(warm->luma, (0.2126 * 200 + 0.7152 * 150 + 0.0722 * 100) / 255, 1e-9);

  const vips::VImage dark = Colour({40, 40, 40}), neutral = Colour({128, 128, 128});
  auto profile = [](const vips::VImage& image) { return workbench::TWColorProfile(image); };
  auto brighter =
      workbench::TWStyledImage(dark, TWStyleValues(profile(dark), profile(Colour({200, 200, 200})), Options(100)));
  ASSERT_TRUE(brighter.has_value());
  EXPECT_EQ(brighter->width(), 64);
  EXPECT_GT(Means(*brighter)[1], 50);

  auto warmer = workbench::TWStyledImage(neutral, TWStyleValues(profile(neutral), warm, Options(100)));
  ASSERT_TRUE(warmer.has_value());
  const auto means = Means(*warmer);
  EXPECT_GT(means[0], means[1] + 5);
  EXPECT_GT(means[1], means[2] + 5);
}

class StyleHeadless : public ::testing::Test {
 protected:
  // count photos of one dark colour named IMG_<n>.jpg, and a bright warm reference beside them.
  Json Photos(int count, int width = 600, int height = 400) {
    Json photos = Json::array();
    for (int i = 1; i <= count; ++i) {
      const std::string name = "IMG_" + std::to_string(i) + ".jpg";
      photos.push_back({{"path", ColourPhoto(shoot / name, {60, 60, 70}, width, height)}});
    }
    ColourPhoto(reference, {220, 170, 120});
    return photos;
  }
  Json Preview(const std::string& token, const Json& photos) {
    return {{"action", "previewProjectStyle"}, {"token", token}, {"reference", {{"path", reference}}},
            {"photos", photos}, {"options", Options(80)}};
  }
  // The one folder a run made below `exports`, and its record.
  std::pair<std::string, Json> Run() {
    std::vector<std::string> runs = Names(exports.path());
    EXPECT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs.at(0).starts_with("整组风格-") && runs.at(0).size() == std::string("整组风格-").size() + 36);
    std::string folder = exports / runs.at(0);
    return {folder, ParseJSON(ReadBytes(folder + "/处理记录.json")).value_or(Json())};
  }

  HeadlessSandbox sandbox;
  TempFolder shoot, exports;
  const std::string reference = shoot / "reference.jpg";
};

TEST_F(StyleHeadless, PreviewPairsThenNumberedFullSizeCopiesWithTheirRecordAndTheSourcesUntouched) {
  Json photos = Photos(4);
  photos[1]["name"] = "Second";
  const FolderSnapshot sources(shoot.path());
  HeadlessSession session(sandbox.Options());
  session.Send(Preview("T", photos));
  Json preview = session.WaitFor("window.Native.projectStylePreview").value_or(Json());
  EXPECT_EQ(std::pair(preview["token"], preview["total"]), std::pair(Json("T"), Json(4)));
  ASSERT_EQ(preview["previews"].size(), 3u);
  EXPECT_EQ(preview["previews"][1]["name"], "Second");
  auto decoded = [](const Json& url) {
    const std::string text = url.get<std::string>();
    EXPECT_TRUE(text.starts_with("data:image/jpeg;base64,"));
    return Means(vips::VImage::new_from_buffer(ai::Base64DecodeIgnoringUnknown(text.substr(23)), ""));
  };
  EXPECT_GT(decoded(preview["previews"][0]["after"])[0], decoded(preview["previews"][0]["before"])[0] + 10);

  // The panel's answer goes first: the program may show the panel before a later line arrives.
  session.Send(PanelAnswer(exports.path()));
  session.Send({{"action", "exportProjectStyle"}, {"token", "T"}});
  EXPECT_EQ(session.WaitFor("window.Native.projectStyleComplete"),
            (Json{{"token", "T"}, {"message", "已另存 4 张 JPEG 副本。原片不变。参数记录已保存。"}}));
  session.Send({{"action", "exportProjectStyle"}, {"token", "T"}});
  EXPECT_EQ(session.WaitFor("window.Native.projectStyleComplete"),
            (Json{{"token", "T"}, {"error", "样片预览已失效，请重新预览"}}));
  EXPECT_EQ(session.Finish().exitStatus, 0);

  auto [folder, record] = Run();
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"0001-IMG_1-风格.jpg", "0002-IMG_2-风格.jpg", "0003-IMG_3-风格.jpg",
                                                     "0004-IMG_4-风格.jpg", "处理记录.json"}));
  EXPECT_EQ(imaging::ImagePixelSize(folder + "/0004-IMG_4-风格.jpg"), std::make_pair(600L, 400L));
  ASSERT_EQ(record["files"].size(), 4u);
  EXPECT_TRUE(record["files"][1]["values"]["exposure"] > 0.5 && record["files"][1]["values"]["r"] > 1) << record["files"][1];
  EXPECT_EQ(record["files"][1]["source"], shoot / "IMG_2.jpg");
  record.erase("files");
  EXPECT_EQ(record, (Json{{"format", "tidewick-style-run"}, {"version", 1}, {"options", Options(80)}, {"completed", 4},
                          {"total", 4}, {"stopped", 0}, {"error", ""}}));
  EXPECT_EQ(sources.Changes(), std::vector<std::string>{});
}

TEST_F(StyleHeadless, RequestsOutsideTheRulesAreRefusedWithTheirTexts) {
  Json photos = Photos(2);
  Json many = Json::array();
  for (int i = 0; i < 257; ++i) many.push_back(photos[0]);
  Json gifReference = Preview("T2", photos);
  gifReference["reference"]["path"] = shoot / "reference.gif";
  auto result = RunPage(sandbox, {Preview("", photos), Preview("T1", many), gifReference,
                                  Preview("T3", Json::array({photos[0], {{"path", "IMG_2.jpg"}}})),
                                  Preview("A", photos),
                                  Preview("B", photos), {{"action", "exportProjectStyle"}, {"token", "A"}},
                                  {{"action", "exportProjectStyle"}, {"token", 7}}});
  auto previews = result.Payloads("window.Native.projectStylePreview");
  ASSERT_EQ(previews.size(), 5u);
  previews[4] = {{"token", previews[4]["token"]}, {"total", previews[4]["total"]}};
  EXPECT_EQ(previews, (std::vector<Json>{{{"token", "T1"}, {"error", "请选择参考图和 1–256 张待处理照片"}},
                                         {{"token", "T2"}, {"error", "请选择参考图和 1–256 张待处理照片"}},
                                         {{"token", "T3"}, {"error", "照片路径无效"}},
                                         {{"token", "B"}, {"error", "上一项本地处理正在完成或停止，请稍后重新预览"}},
                                         {{"token", "A"}, {"total", 2}}}));
  EXPECT_EQ(result.Payloads("window.Native.projectStyleComplete"),
            (std::vector<Json>{{{"token", "A"}, {"error", "样片预览已失效，请重新预览"}},
                               {{"token", 7}, {"error", "样片预览已失效，请重新预览"}}}));
}

TEST_F(StyleHeadless, ACancelInTheMiddleStopsTheRunReportsNothingAndTheRecordSaysHowFarItGot) {
  const Json photos = Photos(16, 3000, 2000);
  HeadlessSession session(sandbox.Options());
  session.Send(Preview("T", photos));
  ASSERT_EQ(session.WaitFor("window.Native.projectStylePreview").value_or(Json())["total"], 16);
  // The panel's answer goes first: the program may show the panel before a later line arrives.
  session.Send(PanelAnswer(exports.path()));
  session.Send({{"action", "exportProjectStyle"}, {"token", "T"}});
  WaitForFileInSubfolder(exports.path(), "-风格.jpg");
  session.Send({{"action", "cancelProjectStyle"}});
  session.Send({{"action", "exportProjectStyle"}, {"token", "T"}});
  EXPECT_EQ(session.WaitFor("window.Native.projectStyleComplete"),
            (Json{{"token", "T"}, {"error", "样片预览已失效，请重新预览"}}));
  HeadlessResult result = session.Finish();
  EXPECT_EQ(result.Payloads("window.Native.projectStyleComplete").size(), 1u) << "the cancelled run reports nothing";

  auto [folder, record] = Run();
  const size_t completed = record["completed"];
  EXPECT_EQ(record["stopped"], 1);
  EXPECT_TRUE(completed >= 1 && completed < 16) << completed;
  EXPECT_EQ(std::pair(record["files"].size(), Names(folder).size()), std::pair(completed, completed + 1));
}

}  // namespace
}  // namespace tw::testing
