#include "workbench/redaction.hpp"

#include "base/text.hpp"
#include "workbench/workbench_texts.hpp"

#include <glib.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <array>
#include <memory>
#include <vector>

namespace tw::workbench {
namespace {

struct Rule {
  const char* pattern;
  const char* replacement;
};

// The order matters: a bearer credential goes before its "Authorization:" label is read, and a
// key after a label is already "[密钥已隐藏]" when the label rule hides it again.
constexpr std::array<Rule, 5> kRules = {{
    {R"((?i)Bearer\s+[^\s]+)", texts::kHiddenBearer},
    {R"((?i)\bsk-[\w-]+)", texts::kHiddenKey},
    {R"((?i)(api.?key|authorization|token)\s*[:=]\s*[^\s,;]+)", texts::kHiddenLabelledValue},
    // A drive letter stands alone: the "s:/" of "https://" is no drive.
    {R"((?:/Users/|/home/|/root/|/media/|/run/media/|/mnt/|(?<![A-Za-z0-9])[A-Za-z]:[\\/])[^\n]+)", texts::kHiddenPath},
    {R"((?i)\b([a-z][a-z0-9+.-]*://)[^\s/@]+@)", texts::kHiddenCredentials},
}};

using Code = std::unique_ptr<pcre2_code, decltype(&pcre2_code_free)>;

const std::vector<Code>& CompiledRules() {
  static const std::vector<Code> compiled = [] {
    std::vector<Code> codes;
    for (const Rule& rule : kRules) {
      int error = 0;
      PCRE2_SIZE offset = 0;
      codes.emplace_back(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(rule.pattern), PCRE2_ZERO_TERMINATED,
                                       PCRE2_UTF | PCRE2_UCP, &error, &offset, nullptr),
                         &pcre2_code_free);
    }
    return codes;
  }();
  return compiled;
}

// Every match replaced; nullopt only if the library refuses, which the fixed rules never make it.
std::optional<std::string> ReplaceAll(const pcre2_code* code, const std::string& text, const char* replacement) {
  if (code == nullptr) return std::nullopt;
  std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> match(
      pcre2_match_data_create_from_pattern(code, nullptr), &pcre2_match_data_free);
  std::string output(text.size() + 64, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    PCRE2_SIZE length = output.size();
    int result = pcre2_substitute(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0,
                                  PCRE2_SUBSTITUTE_GLOBAL | PCRE2_SUBSTITUTE_OVERFLOW_LENGTH, match.get(), nullptr,
                                  reinterpret_cast<PCRE2_SPTR>(replacement), PCRE2_ZERO_TERMINATED,
                                  reinterpret_cast<PCRE2_UCHAR*>(output.data()), &length);
    if (result >= 0) {
      output.resize(length);
      return output;
    }
    if (result != PCRE2_ERROR_NOMEMORY) return std::nullopt;
    // `length` now holds what the whole result needs.
    output.assign(length, '\0');
  }
  return std::nullopt;
}

std::string ValidUTF8(const std::string& text) {
  if (IsValidUTF8(text)) return text;
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string result = valid;
  g_free(valid);
  return result;
}

}  // namespace

std::string TWRedact(const Json& value) {
  std::string text = ValidUTF8(value.is_string() ? value.get<std::string>() : "");
  const std::vector<Code>& codes = CompiledRules();
  for (size_t i = 0; i < kRules.size(); ++i) {
    std::optional<std::string> replaced = ReplaceAll(codes[i].get(), text, kRules[i].replacement);
    // Text that could not be checked is not passed on.
    if (!replaced) return "";
    text = std::move(*replaced);
  }
  return text;
}

std::string RedactWithSecret(const std::string& text, const std::string& secret) {
  std::string hidden = text;
  if (!secret.empty()) {
    const std::string replacement = texts::kHiddenKey;
    for (size_t at = hidden.find(secret); at != std::string::npos; at = hidden.find(secret, at + replacement.size())) {
      hidden.replace(at, secret.size(), replacement);
    }
  }
  return TWRedact(hidden);
}

}  // namespace tw::workbench
