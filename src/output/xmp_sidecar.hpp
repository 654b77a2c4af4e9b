#pragma once
// The XMP sidecars written next to exported files, so that other photo tools pick up the star
// rating (and the decision as a label). One line of UTF-8, no XML declaration, no packet wrapper,
// no line break; attributes in a fixed order. Any thread.
#include <string>
#include <string_view>

namespace tw::output {

// <x:xmpmeta …><rdf:RDF …><rdf:Description xmlns:xmp="…" xmp:Rating="4"/></rdf:RDF></x:xmpmeta>
std::string RatingSidecarText(long long rating);
// The same with xmp:Rating and then xmp:Label. Both values are escaped for an XML attribute, so a
// label holding a quote or "<" still gives a readable packet.
std::string RatingAndLabelSidecarText(const std::string& rating, const std::string& label);

// Whether text is exactly one packet of the two shapes above and nothing else: what an earlier
// export of this program left, which "replace" may replace.
bool IsOwnSidecarText(std::string_view text);

// The output file's path with its extension replaced by "xmp" ("IMG_0001（1）.CR3" → "IMG_0001（1）.xmp",
// "README（1）" → "README（1）.xmp").
std::string SidecarPathFor(const std::string& outputPath);

}  // namespace tw::output
