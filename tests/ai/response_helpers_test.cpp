// Readers of the service's answers: error texts, JSON objects, effective payloads, status words,
// excerpts, the JSON object inside a model's prose, and the masked key.
#include "ai/grsai_client.hpp"

#include <gtest/gtest.h>

namespace tw::ai {
namespace {

using Client = TWGRSAIClient;

TEST(ResponseReaders, TheMessageIsTheFirstNonEmptyTextInKeyOrderOrTheFallback) {
  const std::vector<std::pair<std::optional<Json>, std::string>> cases = {
      {Json{{"msg", "b"}, {"message", "a"}}, "a"},
      {Json{{"message", ""}, {"msg", "b"}}, "b"},
      {Json{{"failure_reason", "d"}}, "d"},
      {Json{{"message", 12}, {"error", "c"}}, "c"},
      {Json{{"error", {{"message", "密钥错误"}}}}, "密钥错误"},
      {Json{{"error", {{"detail", "d"}, {"msg", "m"}}}}, "m"},
      // The first inner key present decides; an empty one does not fall through to the next.
      {Json{{"error", {{"message", ""}, {"detail", "d"}}}}, "fb"},
      {Json{{"error", {{"message", ""}}}, {"failure_reason", "r"}}, "r"},
      {Json{{"msg", ""}}, "fb"},
      {std::nullopt, "fb"},
      {Json::array(), "fb"}};
  for (const auto& [response, expected] : cases) {
    EXPECT_EQ(Client::messageFromResponse(response, "fb"), expected) << (response ? response->dump() : "none");
  }
}

TEST(ResponseReaders, ObjectsPayloadsAndStatusWords) {
  EXPECT_EQ(Client::JSONDictionaryFromData(R"({"a":1})"), (Json{{"a", 1}}));
  for (const char* notAnObject : {"", "[1,2]", "<html>404</html>", "\"text\""}) {
    EXPECT_EQ(Client::JSONDictionaryFromData(notAnObject), std::nullopt) << notAnObject;
  }
  // The payload is "data", else "result" when an object, else the whole response.
  EXPECT_EQ(Client::effectivePayload({{"data", {{"x", 1}}}, {"result", {{"y", 2}}}}), (Json{{"x", 1}}));
  EXPECT_EQ(Client::effectivePayload({{"data", "text"}, {"result", {{"y", 2}}}}), (Json{{"y", 2}}));
  const Json neither = {{"data", Json::array()}, {"z", 3}};
  EXPECT_EQ(Client::effectivePayload(neither), neither);
  EXPECT_EQ(Client::statusFromResponse(Json{{"data", {{"status", "SucCeeded"}}}, {"status", "x"}}), "succeeded");
  EXPECT_EQ(Client::statusFromResponse(Json{{"data", {{"status", 3}}}, {"status", "Running"}}), "running");
  EXPECT_EQ(Client::statusFromResponse(Json{{"status", 200}}), "");
}

TEST(ResponseReaders, TheAnswerObjectNeedsTheWholeSpanBetweenTheOuterBracesToParse) {
  EXPECT_EQ(Client::analysisDictionaryFromText("好的：\n```json\n{\"decision\": \"保留\", \"rating\": 4}\n```\n以上。"),
            (Json{{"decision", "保留"}, {"rating", 4}}));
  EXPECT_EQ(Client::analysisDictionaryFromText("[{\"a\":1}]"), (Json{{"a", 1}}));
  for (const char* text : {"note {oops {\"decision\": \"保留\"}", "} before {", "no braces", ""}) {
    EXPECT_EQ(Client::analysisDictionaryFromText(text), std::nullopt) << text;
  }
}

TEST(ResponseReaders, ErrorsExcerptsAndTheMaskedKey) {
  Error error = Client::errorWithMessage("出错了", 42);
  EXPECT_EQ(std::tuple(error.domain, error.code, error.message), std::tuple("com.avo.tidewick.grsai", 42L, "出错了"));
  EXPECT_EQ(Client::errorWithMessage("", -999).message, "未知错误");
  // Excerpts are cut to characters and refuse invalid UTF-8.
  EXPECT_EQ(Client::responseText(std::string(1000, 'x'), 240), std::string(240, 'x'));
  EXPECT_EQ(Client::responseText("网络错误", 2), "网络");
  EXPECT_EQ(Client::responseText(std::string("ok\xC3\x28", 4), 240), "");
  // Only the ends of long keys show.
  EXPECT_EQ(MaskedAPIKey("abcdefgh"), "abc…efgh");
  EXPECT_EQ(MaskedAPIKey("abcdefg"), "已保存");
  EXPECT_EQ(MaskedAPIKey(""), "未设置");
}

}  // namespace
}  // namespace tw::ai
