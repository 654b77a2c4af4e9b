// The input images of a generation: descriptors turned into bytes, and the multipart body that
// carries one of them to the storage service.
#include "ai/base64.hpp"
#include "ai/grsai_client.hpp"
#include "ai/media_type.hpp"
#include "base/files.hpp"
#include "base/text.hpp"

#include <unistd.h>

#include <cerrno>

namespace tw::ai {
namespace {

constexpr char kDefaultMediaType[] = "image/png";

// The whole content of a regular file named from outside; nullopt for anything else (a FIFO put
// there would otherwise hold the thread in open() forever).
std::optional<std::string> ReadRegularFile(const std::string& path) {
  ReadableFile file = ReadableFile::Open(path);
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = read(file.fd(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return bytes;
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

std::optional<DecodedImage> FromFileDescriptor(const Json& descriptor) {
  std::string path = StringField(descriptor, "path");
  auto bytes = ReadRegularFile(path);
  if (!bytes || bytes->empty()) return std::nullopt;
  DecodedImage image;
  image.data = std::move(*bytes);
  auto mime = descriptor.find("mime");
  image.mime = mime != descriptor.end() && mime->is_string() ? mime->get<std::string>() : kDefaultMediaType;
  image.extension = ToLower(PathExtension(path));
  if (image.extension.empty()) image.extension = ExtensionForMediaType(image.mime);
  return image;
}

// "data:<media type>;base64,<data>"
std::optional<DecodedImage> FromDataURL(const std::string& url) {
  size_t comma = url.find(',');
  if (comma == std::string::npos) return std::nullopt;
  DecodedImage image;
  image.data = Base64DecodeIgnoringUnknown(std::string_view(url).substr(comma + 1));
  if (image.data.empty()) return std::nullopt;
  std::string header = url.substr(0, comma);
  size_t colon = header.find(':');
  size_t semicolon = header.find(';');
  bool named = colon != std::string::npos && semicolon != std::string::npos && semicolon > colon + 1;
  image.mime = named ? header.substr(colon + 1, semicolon - colon - 1) : kDefaultMediaType;
  image.extension = ExtensionForMediaType(image.mime);
  return image;
}

}  // namespace

std::optional<DecodedImage> TWGRSAIClient::decodedImage(const Json& descriptor) {
  if (descriptor.is_object()) return FromFileDescriptor(descriptor);
  if (descriptor.is_string() && StartsWith(descriptor.get_ref<const std::string&>(), "data:")) {
    return FromDataURL(descriptor.get<std::string>());
  }
  return std::nullopt;
}

std::string TWGRSAIClient::multipartBodyWithBoundary(const std::string& boundary, const std::string& token,
                                                     const std::string& key, const DecodedImage& image) {
  static constexpr char kCRLF[] = "\r\n";
  std::string body;
  body.reserve(image.data.size() + 512);
  auto field = [&](const std::string& name, const std::string& value) {
    body += "--" + boundary + kCRLF;
    body += "Content-Disposition: form-data; name=\"" + name + "\"" + kCRLF;
    body += kCRLF;
    body += value + kCRLF;
  };
  field("token", token);
  field("key", key);
  body += "--" + boundary + kCRLF;
  body += "Content-Disposition: form-data; name=\"file\"; filename=\"image." + image.extension + "\"" + kCRLF;
  body += "Content-Type: " + image.mime + kCRLF;
  body += kCRLF;
  body += image.data;
  body += kCRLF;
  body += "--" + boundary + "--" + kCRLF;
  return body;
}

}  // namespace tw::ai
