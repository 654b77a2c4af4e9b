// The client's configuration, its state snapshot and the connection check against the fake.
#include "service_test_fixture.hpp"

#include "ai/cloud_address.hpp"
#include "base/files.hpp"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tw::ai::testing {
namespace {

class ConfigurationTest : public ServiceTest {};

TEST_F(ConfigurationTest, StartsFromTheStoredSettingsOrTheDefaultsAndMasksTheKey) {
  EXPECT_TRUE(TWCloudAddress(GRSAIDefaultBaseURL()).has_value()) << "the build's default address is valid";
  auto fresh = TWGRSAIClient::Create(settings(), "https://default.example.com");
  EXPECT_EQ(fresh->stateSnapshot(), (Json{{"maskedKey", "未设置"}, {"configured", false}, {"baseURL", "https://default.example.com"},
                                          {"model", "nano-banana-2-lite"}, {"status", "未检查"},
                                          {"detail", "请填写 API 密钥后执行连通性检查"}}));
  fresh->storeAPIKey("abcdefgh");
  Json snapshot = fresh->stateSnapshot();
  EXPECT_EQ(snapshot["maskedKey"], "abc…efgh");
  EXPECT_EQ(snapshot["configured"], true);
  EXPECT_EQ(JSONString(snapshot).find("abcdefgh"), std::string::npos);

  settings().Set("TWGRSAIAPIKey", "sk-abcdefgh");
  settings().Set("TWGRSAIBaseURL", "https://proxy.example.com/ai");
  settings().Set("TWGRSAIModel", "other-model");
  auto stored = TWGRSAIClient::Create(settings(), "https://default.example.com");
  EXPECT_EQ(stored->stateSnapshot(), (Json{{"maskedKey", "sk-…efgh"}, {"configured", true}, {"baseURL", "https://proxy.example.com/ai"},
                                           {"model", "other-model"}, {"status", "已配置"},
                                           {"detail", "API 密钥已保存，可执行连通性检查"}}));

  // A plain HTTP address edited into the file by hand disables the client.
  settings().Set("TWGRSAIBaseURL", "http://proxy.example.com");
  auto edited = TWGRSAIClient::Create(settings(), "https://default.example.com");
  EXPECT_EQ(edited->status(), "地址无效");
  EXPECT_FALSE(edited->configured());
}

TEST_F(ConfigurationTest, SavingNormalisesAndTrimsKeepsWhatIsLeftEmptyAndStoresNothingForARejectedAddress) {
  auto client = TWGRSAIClient::Create(settings(), "https://default.example.com");
  client->updateAPIKey("  sk-new-key-123\n", "<https://api.example.com///>", "gen-2");
  EXPECT_EQ(client->status(), "已保存");
  EXPECT_EQ(client->statusDetail(), "API 密钥已保存在当前用户的本地配置中");
  EXPECT_TRUE(client->configured());
  // Every client reads the same settings.
  auto other = TWGRSAIClient::Create(settings(), "https://default.example.com");
  EXPECT_EQ(std::tuple(other->apiKey(), other->baseURL(), other->model()),
            std::tuple(std::string("sk-new-key-123"), std::string("https://api.example.com"), std::string("gen-2")));

  client->updateAPIKey(" \n", "https://api2.example.com", "");
  EXPECT_EQ(client->status(), "已保存");
  EXPECT_EQ(client->apiKey(), "sk-new-key-123");
  EXPECT_EQ(client->baseURL(), "https://api2.example.com");
  EXPECT_EQ(settings().GetString("TWGRSAIModel"), "gen-2");

  std::string fileBefore = ReadWholeFile(settings().path()).value_or("");
  for (const char* address : {"http://api.example.com", "https://u:p@api.example.com", ""}) {
    SCOPED_TRACE(address);
    client->updateAPIKey("sk-second-key", address, "gen-3");
    EXPECT_EQ(client->status(), "地址无效");
    EXPECT_EQ(client->statusDetail(), "请填写纯 HTTPS 接口网址，不含密钥或查询参数。此次更改未保存。");
    EXPECT_EQ(std::tuple(client->configured(), client->apiKey(), client->baseURL(), client->model()),
              std::tuple(false, std::string("sk-new-key-123"), std::string("https://api2.example.com"), std::string("gen-2")));
    EXPECT_EQ(ReadWholeFile(settings().path()).value_or(""), fileBefore);
  }
  client->updateAPIKey("", "https://api.example.com", "");
  EXPECT_TRUE(client->configured());
}

TEST_F(ConfigurationTest, ACheckWithoutKeyOrAfterARejectedAddressAnswersAtOnceAndSendsNothing) {
  auto unconfigured = TWGRSAIClient::Create(settings(), fake().baseURL());
  std::optional<Json> answer;
  unconfigured->testConnection([&](Json snapshot) { answer = std::move(snapshot); });
  ASSERT_TRUE(answer);  // at once, on the caller's thread
  EXPECT_EQ((*answer)["status"], "未配置");
  EXPECT_EQ((*answer)["detail"], "请先填写 GRS AI API 密钥");

  auto client = ConfiguredClient();
  client->updateAPIKey("", "http://insecure.example.com", "");
  answer.reset();
  client->testConnection([&](Json snapshot) { answer = std::move(snapshot); });
  ASSERT_TRUE(answer);
  EXPECT_EQ((*answer)["status"], "地址无效");
  EXPECT_EQ((*answer)["configured"], false);
  Drive();
  EXPECT_TRUE(fake().Requests().empty());
}

TEST_F(ConfigurationTest, TheProbesAnswerMapsToAStatusWord) {
  const std::string notAPI = "网络有响应，但不是有效 API 数据，请检查节点地址或网络拦截。";
  const auto answer = [](int status, Json body) { return Json{{"status", status}, {"json", std::move(body)}}; };
  const auto text = [](int status, const char* text, const char* type) {
    return Json{{"status", status}, {"text", text}, {"content_type", type}};
  };
  const std::tuple<Json, std::string, std::string> cases[] = {
      {answer(404, {{"code", 404}, {"msg", "task not found"}}), "连接正常", "节点返回 API 数据（HTTP 404），未提交生成；不代表已验证模型额度。"},
      {answer(200, {{"status", "running"}}), "连接正常", "节点返回 API 数据（HTTP 200），未提交生成；不代表已验证模型额度。"},
      {text(404, "<html><body>Not Found</body></html>", "text/html"), "响应格式错误", notAPI},
      {answer(200, Json::array({1, 2})), "响应格式错误", notAPI},
      {Json{{"status", 200}}, "响应格式错误", notAPI},
      {text(502, "bad gateway", "text/plain"), "服务异常", "GRS AI 返回 HTTP 502"},
      {answer(418, Json::object()), "节点响应异常", "网络已连通，但接口返回 HTTP 418"},
      {answer(401, {{"error", "invalid key"}}), "密钥无效", "GRS AI 返回 HTTP 401"},
      {answer(403, Json::object()), "密钥无效", "GRS AI 返回 HTTP 403"},
      {answer(429, Json::object()), "请求过于频繁", "网络已连通，但服务商正在限流，请稍后再检查。"},
      {Json{{"drop", true}}, "连接失败", "网络连接已中断。"},
  };
  for (const auto& [response, status, detail] : cases) {
    SCOPED_TRACE(response.dump());
    fake().Reset();
    fake().Route("GET", "/v1/api/result", Json::array({response}));
    auto client = ConfiguredClient();
    std::optional<Json> answered;
    bool onMain = false;
    client->testConnection([&](Json snapshot) {
      onMain = queues::IsMainThread();
      answered = std::move(snapshot);
    });
    EXPECT_EQ(std::pair(client->status(), client->statusDetail()), std::pair(std::string("检查中"), std::string("正在连接 GRS AI…")));
    EXPECT_FALSE(answered);
    Drive([&] { return answered.has_value(); });
    ASSERT_TRUE(answered);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(std::pair((*answered)["status"], (*answered)["detail"]), std::pair(Json(status), Json(detail)));
    Json probes = fake().RequestsTo("GET", "/v1/api/result");
    ASSERT_EQ(probes.size(), 1u);
    std::string query = probes[0]["query"];
    EXPECT_TRUE(query.starts_with("id=tidewick-connectivity-")) << query;
    EXPECT_EQ(query.size(), std::string("id=tidewick-connectivity-").size() + 36);
    EXPECT_EQ(probes[0]["headers"]["authorization"], std::string("Bearer ") + kTestKey);
    EXPECT_EQ(probes[0]["headers"]["user-agent"], "TidewickWorkbench/0.7.1");
    EXPECT_EQ(probes[0]["headers"]["content-type"], "application/json");
  }
}

TEST_F(ConfigurationTest, ARefusedConnectionOrAnUntrustedCertificateIsAConnectionFailure) {
  // A bound socket that never listens refuses every connection.
  int blocker = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(blocker, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(getsockname(blocker, reinterpret_cast<sockaddr*>(&address), &length), 0);
  // The fake's certificate names 127.0.0.1 only; the same server reached as "localhost" must
  // fail verification rather than be accepted.
  for (auto [base, detail] :
       {std::pair{"https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)), "未能连接到服务器。"},
        std::pair{"https://localhost:" + std::to_string(fake().port()), "发生了 SSL 错误，无法建立与该服务器的安全连接。"}}) {
    settings().Set("TWGRSAIAPIKey", kTestKey);
    settings().Set("TWGRSAIBaseURL", base);
    auto client = TWGRSAIClient::Create(settings(), "https://default.invalid");
    std::optional<Json> answer;
    client->testConnection([&](Json snapshot) { answer = std::move(snapshot); });
    Drive([&] { return answer.has_value(); });
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)["status"], "连接失败");
    EXPECT_EQ((*answer)["detail"], detail);
  }
  close(blocker);
}

}  // namespace
}  // namespace tw::ai::testing
