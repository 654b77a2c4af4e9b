// libFuzzer target: whatever the AI service answers (an HTTP body, a model's free text), the
// client's readings of it and the merge of two verdicts neither crash nor read past the answer.
#include "ai/grsai_client.hpp"
#include "culling/cloud_double_check.hpp"

#include <string_view>

using tw::Json;
using tw::ai::TWGRSAIClient;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)TWGRSAIClient::responseText(bytes, 300);
  const std::optional<Json> response = TWGRSAIClient::JSONDictionaryFromData(bytes);
  (void)TWGRSAIClient::messageFromResponse(response, "fallback");
  if (response) (void)TWGRSAIClient::statusFromResponse(*response);
  if (const std::optional<Json> verdict = TWGRSAIClient::analysisDictionaryFromText(bytes)) {
    const Json options{{"doubleCheck", true}};
    if (tw::culling::shouldDoubleCheckCloudResult(*verdict, options)) {
      (void)tw::culling::mergedCloudResult(*verdict, Json{{"decision", "保留"}, {"confidence", 0.9}});
    }
    (void)tw::culling::mergedCloudResult(*verdict, *verdict);
  }
  return 0;
}
