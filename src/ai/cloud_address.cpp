#include "ai/cloud_address.hpp"

#include "ai/unicode_text.hpp"
#include "base/text.hpp"

#include <curl/curl.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <memory>

namespace tw::ai {
namespace {

// "[https://a](https://b)": the label and the target of a Markdown link, when both are web
// addresses and the link is the whole text.
std::optional<std::pair<std::string, std::string>> MarkdownLinkAddresses(const std::string& text) {
  static const auto pattern = [] {
    int error = 0;
    PCRE2_SIZE offset = 0;
    const char* source = R"(^\[(https?://[^\]\s]+)\]\((https?://[^)\s]+)\)$)";
    return std::unique_ptr<pcre2_code, decltype(&pcre2_code_free)>(
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(source), PCRE2_ZERO_TERMINATED, PCRE2_UTF | PCRE2_UCP,
                      &error, &offset, nullptr),
        &pcre2_code_free);
  }();
  if (!pattern) return std::nullopt;
  std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> match(
      pcre2_match_data_create_from_pattern(pattern.get(), nullptr), &pcre2_match_data_free);
  if (!match) return std::nullopt;
  int found = pcre2_match(pattern.get(), reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0,
                          match.get(), nullptr);
  if (found < 3) return std::nullopt;
  PCRE2_SIZE* spans = pcre2_get_ovector_pointer(match.get());
  auto group = [&](int i) { return text.substr(spans[2 * i], spans[2 * i + 1] - spans[2 * i]); };
  return std::make_pair(group(1), group(2));
}

bool HasPart(CURLU* url, CURLUPart part) {
  char* value = nullptr;
  CURLUcode code = curl_url_get(url, part, &value, 0);
  curl_free(value);
  return code == CURLUE_OK;
}

bool IsPlainHTTPSAddress(const std::string& text) {
  // The "//" is required so that "https:/host" or "https:host" is not read as a host.
  if (!StartsWith(ToLower(text), "https://")) return false;
  // An empty query or fragment ("https://host/?") would swallow the paths appended later.
  if (text.find_first_of("?#") != std::string::npos) return false;
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), &curl_url_cleanup);
  if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return false;
  char* host = nullptr;
  bool hasHost = curl_url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK && host && host[0];
  curl_free(host);
  if (!hasHost) return false;
  return !HasPart(url.get(), CURLUPART_USER) && !HasPart(url.get(), CURLUPART_PASSWORD) &&
         !HasPart(url.get(), CURLUPART_QUERY) && !HasPart(url.get(), CURLUPART_FRAGMENT);
}

}  // namespace

std::optional<std::string> TWCloudAddress(const Json& value) {
  if (!value.is_string()) return std::nullopt;
  const std::string& input = value.get_ref<const std::string&>();
  if (!IsValidUTF8(input)) return std::nullopt;
  std::string text = TrimUnicodeSpace(input);
  if (auto link = MarkdownLinkAddresses(text)) {
    if (link->first != link->second) return std::nullopt;
    text = link->first;
  }
  if (text.size() >= 2 && text.front() == '<' && text.back() == '>') text = text.substr(1, text.size() - 2);
  if (ContainsUnicodeSpace(text)) return std::nullopt;
  if (!IsPlainHTTPSAddress(text)) return std::nullopt;
  while (!text.empty() && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace tw::ai
