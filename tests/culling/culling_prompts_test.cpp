// What the vision model is told: labels, the weight sentence, the local cross-check and the
// whole prompt, byte for byte.
#include "culling/cloud_review_image.hpp"
#include "culling/culling_prompts.hpp"

#include <gtest/gtest.h>
#include <vips/vips8>

namespace tw::culling {
namespace {

const std::string kWeightClosing = "。按相对权重判断，0 表示不据此淘汰；没有人物时忽略人脸项，偏好不能代替可见证据。";

TEST(CullingPrompt, LabelsFallBackToAutoAndConservative) {
  EXPECT_EQ(SceneLabel(Json::object()), "自动判断题材");
  EXPECT_EQ(SceneLabel({{"scene", "wedding"}}), "自动判断题材");
  EXPECT_EQ(SceneLabel({{"scene", "group"}}), "合照或多人");
  EXPECT_EQ(SceneLabel({{"scene", "product"}}), "商品或静物");
  EXPECT_EQ(PolicyLabel(Json("strict")), "保守，优先防止误淘汰");
  EXPECT_EQ(PolicyLabel({{"policy", "strict"}}), "严格，明显瑕疵可淘汰");
  EXPECT_EQ(PolicyLabel({{"policy", "balanced"}}), "均衡");
}

TEST(CullingPrompt, WeightsAreClampedToZeroTo115WithOneDecimalInTheirFixedOrder) {
  EXPECT_EQ(cullingWeightDescription({{"sharpness", 2}, {"eyes", -1}, {"exposure", "3"}}),
            "清晰度 2.0、睁眼状态 0.0、曝光 0.0、噪点 0.0、人脸质量 0.0、构图与姿态 0.0" + kWeightClosing);
  EXPECT_EQ(cullingWeightDescription({{"composition", 500}, {"noise", 0.25}, {"faceQuality", 1.05}}),
            "清晰度 0.0、睁眼状态 0.0、曝光 0.0、噪点 0.2、人脸质量 1.1、构图与姿态 115.0" + kWeightClosing);
  EXPECT_EQ(cullingWeightDescription(Json::array({1, 2})), cullingWeightDescription(Json::object()));
}

TEST(CullingPrompt, TheLocalResultIsQuotedAsItStandsOrAsUnknown) {
  Json photo = {{"issues", {"闭眼", "过曝"}},
                {"result", {{"sharpness", 152.5}, {"brightness", 0.4}, {"noise", 12}, {"confidence", 0.72}}}};
  EXPECT_EQ(LocalCrossCheckSentence(photo),
            "本地算法仅供交叉核对：问题=闭眼、过曝；清晰度=152.5；亮度=0.4；噪点=12；本地置信度=0.72。"
            "不得因为本地结果存在就直接判定，必须以画面可见证据复核。");
  EXPECT_EQ(LocalCrossCheckSentence({{"result", {{"sharpness", 150.0}}}}),
            "本地算法仅供交叉核对：问题=；清晰度=150；亮度=未知；噪点=未知；本地置信度=未知。"
            "不得因为本地结果存在就直接判定，必须以画面可见证据复核。");
}

TEST(CullingPrompt, TheWholePromptIsTwoLinesWithTheDoubledFullStop) {
  const std::string prompt =
      cloudReviewPromptForPhoto({{"path", "/a.jpg"}}, {{"scene", "portrait"}, {"weights", {{"eyes", 3}}}});
  const std::string first =
      "你是资深摄影选片师，只做质量判断，不修改图片。拍摄类型：单人人像。淘汰策略：保守，优先防止误淘汰。"
      "本地算法仅供交叉核对：问题=；清晰度=未知；亮度=未知；噪点=未知；本地置信度=未知。"
      "不得因为本地结果存在就直接判定，必须以画面可见证据复核。。用户评分偏好："
      "清晰度 0.0、睁眼状态 3.0、曝光 0.0、噪点 0.0、人脸质量 0.0、构图与姿态 0.0" + kWeightClosing;
  ASSERT_EQ(prompt.substr(0, prompt.find('\n')), first);
  EXPECT_TRUE(prompt.substr(prompt.find('\n') + 1).starts_with("按以下顺序逐项检查：1主体是否真正失焦"));
  EXPECT_TRUE(prompt.ends_with(
      "只返回一个 JSON 对象，禁止 Markdown 和额外文字：{\"decision\":\"保留|待定|淘汰\",\"rating\":1到5的整数,"
      "\"confidence\":0到1的小数,\"issues\":[\"问题名称\"],\"reason\":\"不超过45个中文字符且指出可见证据\","
      "\"bestCandidate\":true或false}。"));
  EXPECT_EQ(SecondPassPrompt(prompt),
            prompt + "\n这是独立的第二次复核。请重新从画面取证，不要假定第一次判断正确；证据不足必须选择待定。");
  const std::string burst = BurstComparisonPrompt(3, Json::object());
  EXPECT_TRUE(burst.starts_with("你是摄影选片师，对同一连拍组的 3 张图做相对比较。用户权重：清晰度 0.0、"));
  EXPECT_NE(burst.find("否则 winnerIndex 为图片编号 1 到 3。只输出 JSON：{\"winnerIndex\":整数,"), std::string::npos);
}

TEST(CloudReviewImage, IsAJpegOfTheAskedLongSideOrNothing) {
  const std::string photo = std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/nikon-d5300-6000x4000.jpg";
  auto jpeg = PreparedCloudReviewJPEG(photo, 1280, 0.78, true);
  ASSERT_TRUE(jpeg.has_value());
  vips::VImage sent = vips::VImage::new_from_buffer(*jpeg, "");
  EXPECT_EQ(std::max(sent.width(), sent.height()), 1280);
  EXPECT_EQ(sent.get_typeof("exif-data"), 0u) << "no metadata goes with the picture";
  EXPECT_FALSE(PreparedCloudReviewJPEG("/nonexistent/a.jpg", 768, 0.66, false).has_value());
  EXPECT_FALSE(PreparedCloudReviewJPEG("tests/data/photos/coffee.png", 768, 0.66, false).has_value());
}

}  // namespace
}  // namespace tw::culling
