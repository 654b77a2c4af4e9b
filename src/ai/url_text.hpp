#pragma once
// URL text helpers of the AI client.
#include <string>
#include <string_view>

namespace tw::ai {

// A value percent-encoded for a URL query: everything but the unreserved characters
// (letters, digits, "-", ".", "_", "~") is escaped, so "&", "=", "+" and "#" in a task id
// cannot split or end the query.
std::string PercentEncodedForQuery(std::string_view value);

// True for an absolute http or https address that libcurl can parse. Result addresses come from
// the service, and nothing but the web is fetched from them (never a file:// of this machine).
bool IsWebAddress(const std::string& address);

}  // namespace tw::ai
