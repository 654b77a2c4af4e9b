#include "library/imaging/file_signature.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "library/imaging/decoding.hpp"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
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

size_t ReadAt(int fd, off_t offset, char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

// Whether a JPEG's first scan has entropy-coded data after its header. libjpeg fills a scan that
// ends at once with flat grey and only warns, and a few kilobytes of header that promise 30000 ×
// 30000 pixels would become a large grey picture. Only the markers are read, never the segments.
// A structure this walk cannot follow is left to the decoder.
bool HoldsImageData(int fd) {
  off_t offset = 2;  // past SOI
  unsigned char bytes[4];
  for (;;) {
    if (ReadAt(fd, offset, reinterpret_cast<char*>(bytes), 2) < 2) return false;
    if (bytes[0] != 0xFF) return true;
    unsigned char marker = bytes[1];
    if (marker == 0xFF) {  // fill byte before a marker
      ++offset;
      continue;
    }
    if (marker == 0xD9) return false;  // EOI before any scan
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // markers without a length
      offset += 2;
      continue;
    }
    if (ReadAt(fd, offset + 2, reinterpret_cast<char*>(bytes + 2), 2) < 2) return false;
    off_t length = (bytes[2] << 8) | bytes[3];
    if (length < 2) return true;
    offset += 2 + length;
    if (marker != 0xDA) continue;
    // The first byte after the scan header: data, a stuffed 0xFF, a restart marker, or (no data) a marker.
    if (ReadAt(fd, offset, reinterpret_cast<char*>(bytes), 2) < 1) return false;
    if (bytes[0] != 0xFF) return true;
    return bytes[1] == 0x00 || (bytes[1] >= 0xD0 && bytes[1] <= 0xD7);
  }
}

}  // namespace

std::string LocalPath(const std::string& pathOrURL) {
  if (StartsWith(pathOrURL, "file:")) {
    if (auto path = PathFromFileURL(pathOrURL)) return *path;
  }
  return pathOrURL;
}

DecoderRoute RouteForFile(const std::string& path) {
  // Never an ifstream on a path from outside: a FIFO put where a photo was would hold the
  // decoding thread in open() forever.
  ReadableFile file = ReadableFile::Open(path);
  if (!file) return DecoderRoute::Unreadable;
  std::array<char, 32> buffer{};
  std::string_view head(buffer.data(), ReadAt(file.fd(), 0, buffer.data(), buffer.size()));
  bool rawExtension = IsRAWURL(path);
  switch (SignatureOf(head)) {
    case Signature::None:
      return DecoderRoute::Unreadable;
    case Signature::Jpeg:
      return HoldsImageData(file.fd()) ? DecoderRoute::Vips : DecoderRoute::Unreadable;
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

namespace tw::imaging {

bool IsReadPermissionDenied(const std::string& path) {
  int error = ReadableFile::Open(detail::LocalPath(path)).error();
  return error == EACCES || error == EPERM;
}

}  // namespace tw::imaging
