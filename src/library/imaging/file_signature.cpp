#include "library/imaging/file_signature.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "library/imaging/decoding.hpp"

#include <array>
#include <cstring>
#include <fstream>
#include <string_view>

namespace tw::imaging::detail {

namespace {

enum class Signature { None, Jpeg, Png, Gif, WebP, Heif, Tiff, CanonCR2, CanonCR3, OtherRaw, Unknown };

bool At(std::string_view head, size_t offset, std::string_view magic) {
  return head.size() >= offset + magic.size() && head.substr(offset, magic.size()) == magic;
}

Signature SignatureOf(std::string_view head) {
  using namespace std::string_view_literals;
  if (head.empty()) return Signature::None;
  if (At(head, 0, "\xFF\xD8\xFF"sv)) return Signature::Jpeg;
  if (At(head, 0, "\x89PNG\r\n\x1A\n"sv)) return Signature::Png;
  if (At(head, 0, "GIF8"sv)) return Signature::Gif;
  if (At(head, 0, "RIFF"sv) && At(head, 8, "WEBP"sv)) return Signature::WebP;
  if (At(head, 4, "ftyp"sv)) {
    if (At(head, 8, "crx "sv)) return Signature::CanonCR3;
    for (std::string_view brand : {"heic"sv, "heix"sv, "hevc"sv, "hevx"sv, "heim"sv, "heis"sv, "mif1"sv,
                                   "msf1"sv, "avif"sv}) {
      if (At(head, 8, brand)) return Signature::Heif;
    }
    return Signature::Unknown;
  }
  if (At(head, 0, "II*\0"sv) || At(head, 0, "MM\0*"sv)) {
    return At(head, 8, "CR\x02"sv) ? Signature::CanonCR2 : Signature::Tiff;
  }
  if (At(head, 0, "FUJIFILM"sv) || At(head, 0, "IIRO"sv) || At(head, 0, "IIRS"sv) || At(head, 0, "MMOR"sv) ||
      At(head, 0, "IIU\0"sv) || At(head, 6, "HEAPCCDR"sv)) {
    return Signature::OtherRaw;
  }
  return Signature::Unknown;
}

}  // namespace

std::string LocalPath(const std::string& pathOrURL) {
  if (StartsWith(pathOrURL, "file:")) {
    if (auto path = PathFromFileURL(pathOrURL)) return *path;
  }
  return pathOrURL;
}

DecoderRoute RouteForFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return DecoderRoute::Unreadable;
  std::array<char, 32> buffer{};
  file.read(buffer.data(), buffer.size());
  std::string_view head(buffer.data(), static_cast<size_t>(file.gcount()));
  bool rawExtension = IsRAWURL(path);
  switch (SignatureOf(head)) {
    case Signature::None:
      return DecoderRoute::Unreadable;
    case Signature::Jpeg:
    case Signature::Png:
    case Signature::Gif:
    case Signature::WebP:
    case Signature::Heif:
      return DecoderRoute::Vips;
    case Signature::Tiff:
      // DNG, NEF, ARW, PEF and friends are TIFF files too; only the extension tells them apart.
      return rawExtension ? DecoderRoute::Raw : DecoderRoute::Vips;
    case Signature::CanonCR2:
    case Signature::CanonCR3:
    case Signature::OtherRaw:
      return DecoderRoute::Raw;
    case Signature::Unknown:
      return rawExtension ? DecoderRoute::Raw : DecoderRoute::Unsupported;
  }
  return DecoderRoute::Unsupported;
}

}  // namespace tw::imaging::detail
