#pragma once
// What the plug-in bridge's and the face batch's tests share: a program whose AI client is
// configured for the service's stand-in and whose save folder is set, and a generation the
// stand-in answers (an upload token and an upload per image, the result at once, its image).
#include "ai/base64.hpp"
#include "ai/grsai_client.hpp"
#include "bridge/face_batch.hpp"
#include "fake_service.hpp"
#include "platform/settings.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tw::bridge::testing {

using ai::testing::TheFakeService;

inline constexpr char kKey[] = "sk-bridge-test-0123456789";
inline constexpr char kTokenPath[] = "/client/resource/newUploadTokenZH";
inline constexpr char kUploadPath[] = "/storage/upload";
inline constexpr char kGeneratePath[] = "/v1/api/generate";
inline constexpr char kResultImagePath[] = "/files/result.png";
inline constexpr char kResultBytes[] = "\x89PNG generated";

// Answers one generation; the generation answer comes after delayMs (the request is logged at once).
inline void ScriptGeneration(int delayMs = 0) {
  auto& fake = TheFakeService();
  fake.Route("POST", kTokenPath,
             Json{{"json", {{"data", {{"token", "t"}, {"key", "in/1"}, {"url", fake.URL(kUploadPath)},
                                      {"domain", "https://cdn.example.com"}}}}}});
  fake.Route("POST", kUploadPath, Json{{"json", {{"ok", true}}}});
  fake.Route("POST", kGeneratePath,
             Json{{"delay_ms", delayMs}, {"json", {{"results", {{{"url", fake.URL(kResultImagePath)}}}}}}});
  fake.Route("GET", kResultImagePath, Json{{"b64", ai::Base64Encode(kResultBytes)}});
}

// The settings of a program whose AI client talks to the stand-in and whose save folder is set.
inline void ConfigureForTheStandIn(platform::Settings& settings, const std::string& saveFolder) {
  settings.Set(ai::kAPIKeySetting, kKey);
  settings.Set(ai::kBaseURLSetting, TheFakeService().baseURL());
  settings.Set(kRetouchSaveLocationSetting, saveFolder);
}

}  // namespace tw::bridge::testing
