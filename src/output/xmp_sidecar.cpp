#include "output/xmp_sidecar.hpp"

#include "base/files.hpp"
#include "output/export_destination.hpp"

namespace tw::output {
namespace {

constexpr const char* kPacketStart =
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
    "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
    "<rdf:Description xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"";
constexpr const char* kPacketEnd = "/></rdf:RDF></x:xmpmeta>";

std::string AttributeEscaped(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\t': escaped += "&#9;"; break;
      case '\n': escaped += "&#10;"; break;
      case '\r': escaped += "&#13;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

// Takes ` name="value"` from the front of text; the value as AttributeEscaped leaves it.
bool TakeAttribute(std::string_view& text, std::string_view name) {
  const std::string opening = " " + std::string(name) + "=\"";
  if (!text.starts_with(opening)) return false;
  text.remove_prefix(opening.size());
  size_t end = text.find_first_of("\"<>\t\n\r");
  if (end == std::string_view::npos || text[end] != '"') return false;
  text.remove_prefix(end + 1);
  return true;
}

}  // namespace

std::string RatingSidecarText(long long rating) {
  return std::string(kPacketStart) + " xmp:Rating=\"" + std::to_string(rating) + "\"" + kPacketEnd;
}

std::string RatingAndLabelSidecarText(const std::string& rating, const std::string& label) {
  return std::string(kPacketStart) + " xmp:Rating=\"" + AttributeEscaped(rating) + "\" xmp:Label=\"" +
         AttributeEscaped(label) + "\"" + kPacketEnd;
}

bool IsOwnSidecarText(std::string_view text) {
  const std::string_view start = kPacketStart, end = kPacketEnd;
  if (text.size() < start.size() + end.size() || !text.starts_with(start) || !text.ends_with(end)) return false;
  std::string_view attributes = text.substr(start.size(), text.size() - start.size() - end.size());
  if (!TakeAttribute(attributes, "xmp:Rating")) return false;
  return attributes.empty() || (TakeAttribute(attributes, "xmp:Label") && attributes.empty());
}

std::string SidecarPathFor(const std::string& outputPath) {
  return JoinPath(ParentDirectory(outputPath), SplitName(LastPathComponent(outputPath)).stem + ".xmp");
}

}  // namespace tw::output
