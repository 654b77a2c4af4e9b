// Readers of the service's answers: error texts, JSON objects, effective payloads, status words,
// excerpts, the JSON object inside a model's prose, and the masked key.
#include "ai/grsai_client.hpp"

#include <gtest/gtest.h>

namespace tw::ai {
namespace {

using Client = TWGRSAIClient;

TEST(ErrorObjectTest, CarriesTheDomainCodeAndMessage) {
  Error error = Client::errorWithMessage("出错了", 42);
  EXPECT_EQ(error.domain, "com.avo.tidewick.grsai");
  EXPECT_EQ(error.code, 42);
  EXPECT_EQ(error.message, "出错了");
  EXPECT_EQ(Client::errorWithMessage("", -999).message, "未知错误");
}

TEST(MessageFromResponseTest, TakesTheFirstNonEmptyTextInKeyOrder) {
  EXPECT_EQ(Client::messageFromResponse(Json{{"msg", "b"}, {"message", "a"}}, "fb"), "a");
  EXPECT_EQ(Client::messageFromResponse(Json{{"message", ""}, {"msg", "b"}}, "fb"), "b");
  EXPECT_EQ(Client::messageFromResponse(Json{{"failure_reason", "d"}}, "fb"), "d");
  EXPECT_EQ(Client::messageFromResponse(Json{{"message", 12}, {"error", "c"}}, "fb"), "c");
}

TEST(MessageFromResponseTest, LooksInsideObjects) {
  EXPECT_EQ(Client::messageFromResponse(Json{{"error", {{"message", "密钥错误"}}}}, "fb"), "密钥错误");
  EXPECT_EQ(Client::messageFromResponse(Json{{"error", {{"detail", "d"}, {"msg", "m"}}}}, "fb"), "m");
  // The first inner key present decides; an empty one does not fall through to the next.
  EXPECT_EQ(Client::messageFromResponse(Json{{"error", {{"message", ""}, {"detail", "d"}}}}, "fb"), "fb");
  EXPECT_EQ(Client::messageFromResponse(Json{{"error", {{"message", ""}}}, {"failure_reason", "r"}}, "fb"), "r");
}

TEST(MessageFromResponseTest, FallsBackWithoutAText) {
  EXPECT_EQ(Client::messageFromResponse(Json{{"msg", ""}}, "fb"), "fb");
  EXPECT_EQ(Client::messageFromResponse(std::nullopt, "fb"), "fb");
  EXPECT_EQ(Client::messageFromResponse(Json::array(), "fb"), "fb");
}

TEST(JSONDictionaryFromDataTest, KeepsOnlyObjects) {
  EXPECT_EQ(Client::JSONDictionaryFromData(R"({"a":1})"), (Json{{"a", 1}}));
  EXPECT_EQ(Client::JSONDictionaryFromData(""), std::nullopt);
  EXPECT_EQ(Client::JSONDictionaryFromData("[1,2]"), std::nullopt);
  EXPECT_EQ(Client::JSONDictionaryFromData("<html>404</html>"), std::nullopt);
  EXPECT_EQ(Client::JSONDictionaryFromData("\"text\""), std::nullopt);
}

TEST(EffectivePayloadTest, PrefersDataThenResultThenTheResponse) {
  Json both = {{"data", {{"x", 1}}}, {"result", {{"y", 2}}}};
  EXPECT_EQ(Client::effectivePayload(both), (Json{{"x", 1}}));
  Json resultOnly = {{"data", "text"}, {"result", {{"y", 2}}}};
  EXPECT_EQ(Client::effectivePayload(resultOnly), (Json{{"y", 2}}));
  Json neither = {{"data", Json::array()}, {"z", 3}};
  EXPECT_EQ(Client::effectivePayload(neither), neither);
}

TEST(StatusFromResponseTest, LowerCasesTheEffectiveStatus) {
  EXPECT_EQ(Client::statusFromResponse(Json{{"data", {{"status", "SucCeeded"}}}, {"status", "x"}}), "succeeded");
  EXPECT_EQ(Client::statusFromResponse(Json{{"data", {{"status", 3}}}, {"status", "Running"}}), "running");
  EXPECT_EQ(Client::statusFromResponse(Json{{"status", 200}}), "");
  EXPECT_EQ(Client::statusFromResponse(Json::object()), "");
}

TEST(ResponseTextTest, CutsToCharactersAndRefusesInvalidUTF8) {
  std::string thousand(1000, 'x');
  EXPECT_EQ(Client::responseText(thousand, 240), std::string(240, 'x'));
  EXPECT_EQ(Client::responseText("短文本", 240), "短文本");
  EXPECT_EQ(Client::responseText("网络错误", 2), "网络");
  EXPECT_EQ(Client::responseText(std::string("ok\xC3\x28", 4), 240), "");
  EXPECT_EQ(Client::responseText("", 240), "");
}

TEST(AnalysisDictionaryTest, FindsTheObjectInProseAndCodeFences) {
  auto found = Client::analysisDictionaryFromText("好的，结果如下：\n```json\n{\"decision\": \"保留\", \"rating\": 4}\n```\n以上。");
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, (Json{{"decision", "保留"}, {"rating", 4}}));
}

TEST(AnalysisDictionaryTest, NeedsTheWholeSpanBetweenTheOuterBracesToParse) {
  EXPECT_EQ(Client::analysisDictionaryFromText("note {oops {\"decision\": \"保留\"}"), std::nullopt);
  EXPECT_EQ(Client::analysisDictionaryFromText("} before {"), std::nullopt);
  EXPECT_EQ(Client::analysisDictionaryFromText("no braces"), std::nullopt);
  EXPECT_EQ(Client::analysisDictionaryFromText(""), std::nullopt);
  EXPECT_EQ(Client::analysisDictionaryFromText("[{\"a\":1}]"), (Json{{"a", 1}}));
}

TEST(MaskedKeyTest, ShowsOnlyTheEndsOfLongKeys) {
  EXPECT_EQ(MaskedAPIKey("abcdefgh"), "abc…efgh");
  EXPECT_EQ(MaskedAPIKey("sk-1234567890"), "sk-…7890");
  EXPECT_EQ(MaskedAPIKey("abcdefg"), "已保存");
  EXPECT_EQ(MaskedAPIKey("a"), "已保存");
  EXPECT_EQ(MaskedAPIKey(""), "未设置");
}

}  // namespace
}  // namespace tw::ai
