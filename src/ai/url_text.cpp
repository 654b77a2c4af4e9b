#include "ai/url_text.hpp"

#include "base/text.hpp"

#include <curl/curl.h>

#include <memory>

namespace tw::ai {

std::string PercentEncodedForQuery(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (unsigned char c : value) {
    bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

bool IsWebAddress(const std::string& address) {
  if (address.empty()) return false;
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), &curl_url_cleanup);
  if (!url || curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK) return false;
  char* scheme = nullptr;
  bool web = false;
  if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && scheme) {
    std::string lower = ToLower(scheme);
    web = lower == "http" || lower == "https";
  }
  curl_free(scheme);
  return web;
}

}  // namespace tw::ai
