#include "library/imaging/vips_images.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace tw::imaging::detail {

namespace {

using vips::VImage;

// A truncated photo must fail rather than come back with a grey lower half.
constexpr VipsFailOn kFailOn = VIPS_FAIL_ON_TRUNCATED;

// Whether an embedded ICC profile describes sRGB (by its description tag, in either the v2
// "desc" or the v4 "mluc" form). Most camera and web photos carry one; converting sRGB to sRGB
// would cost a colour transform per photo for nothing.
bool IsSRGBProfile(const VImage& image) {
  const void* data = nullptr;
  size_t length = 0;
  if (vips_image_get_blob(image.get_image(), VIPS_META_ICC_NAME, &data, &length) != 0 || length < 132) return false;
  const auto* bytes = static_cast<const unsigned char*>(data);
  auto u32 = [&](size_t at) {
    return at + 4 <= length ? (uint32_t(bytes[at]) << 24) | (uint32_t(bytes[at + 1]) << 16) |
                                  (uint32_t(bytes[at + 2]) << 8) | uint32_t(bytes[at + 3])
                            : 0u;
  };
  uint32_t count = u32(128);
  for (uint32_t i = 0; i < count && 132 + 12 * (i + 1) <= length; ++i) {
    size_t entry = 132 + 12 * i;
    if (std::memcmp(bytes + entry, "desc", 4) != 0) continue;
    size_t offset = u32(entry + 4), size = u32(entry + 8);
    if (offset >= length || size > length - offset) return false;
    // Drop the zero bytes of UTF-16 so both forms read as plain letters.
    std::string text;
    for (size_t k = offset; k < offset + size; ++k) {
      if (bytes[k] != 0) text.push_back(static_cast<char>(bytes[k]));
    }
    return text.find("sRGB") != std::string::npos;
  }
  return false;
}

VImage ToSRGB(VImage image) {
  if (image.get_typeof(VIPS_META_ICC_NAME) != 0 && !IsSRGBProfile(image)) {
    try {
      image = image.icc_transform("srgb", VImage::option()->set("embedded", true)->set("intent", VIPS_INTENT_RELATIVE));
    } catch (const vips::VError&) {
      // A broken or unsuitable profile: the numbers are read as sRGB, as a browser would.
    }
  }
  VipsInterpretation interpretation = image.interpretation();
  if (!vips_colourspace_issupported(image.get_image())) {
    interpretation = vips_image_guess_interpretation(image.get_image());
    image = image.copy(VImage::option()->set("interpretation", interpretation));
  }
  image = image.colourspace(VIPS_INTERPRETATION_sRGB);
  if (image.format() != VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_UCHAR);
  return image;
}

VImage ThreeBands(VImage image, Backdrop backdrop) {
  if (image.has_alpha()) {
    const double background = backdrop == Backdrop::White ? 255.0 : 0.0;
    image = image.flatten(VImage::option()->set("background", std::vector<double>{background}));
    if (image.format() != VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_UCHAR);
  }
  if (image.bands() == 1) return VImage::bandjoin({image, image, image});
  if (image.bands() == 2) image = image.extract_band(0);
  if (image.bands() == 1) return VImage::bandjoin({image, image, image});
  if (image.bands() > 3) return image.extract_band(0, VImage::option()->set("n", 3));
  return image;
}

int Clamped(int maxPixelSize) { return std::max(1, maxPixelSize); }

// Throws unless the header promises at most kMaxDecodePixels.
const VImage& WithinPixelLimit(const VImage& header) {
  if (static_cast<double>(header.width()) * header.height() > kMaxDecodePixels) {
    throw vips::VError("the image is larger than 256 megapixels");
  }
  return header;
}

// A JPEG decoded by libjpeg's scaled IDCT (a power of two up to 8), so that at least kLanczosRoom of
// the reduction to `size` is left to the Lanczos step; nullopt for any other file. libvips' own
// thumbnail leaves at least 2; 1.9 lets a 24 MP frame (6000 px) decode at a quarter (1500 px, then
// 1.95 to 768) instead of at half, a sixth less work for the analysis picture, while its Laplacian
// variance moves by 1.7 % and its noise by 0.7 % on the bench photos. Leaving less (1.25 for a
// 1920 px frame at half scale) lost face detail in the sample portraits.
constexpr double kLanczosRoom = 1.9;

std::optional<VImage> JPEGShrunkOnLoad(const std::string& path, int size, double room = kLanczosRoom) {
  const char* loader = vips_foreign_find_load(path.c_str());
  if (loader == nullptr || std::strcmp(loader, "VipsForeignLoadJpegFile") != 0) return std::nullopt;
  const VImage header = WithinPixelLimit(VImage::jpegload(path.c_str(), VImage::option()->set("fail_on", kFailOn)));
  const int longSide = std::max(header.width(), header.height());
  int shrink = 1;
  while (shrink < 8 && (longSide + 2 * shrink - 1) / (2 * shrink) >= room * size) shrink *= 2;
  return VImage::jpegload(path.c_str(), VImage::option()
                                            ->set("shrink", shrink)
                                            ->set("access", VIPS_ACCESS_SEQUENTIAL)
                                            ->set("fail_on", kFailOn));
}

VImage ShrunkToFit(VImage image, int maxPixelSize) {
  if (maxPixelSize <= 0) return image;
  int size = Clamped(maxPixelSize);
  return image.thumbnail_image(size, VImage::option()->set("height", size)->set("size", VIPS_SIZE_DOWN));
}

}  // namespace

DecodedImage FinishDecodedImage(VImage image, Backdrop backdrop) {
  VImage finished = ThreeBands(ToSRGB(image), backdrop)
                        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
  finished.remove(VIPS_META_ORIENTATION);
  finished.remove(VIPS_META_ICC_NAME);
  return finished.copy_memory();
}

VImage Upright(VImage image, int orientation) {
  if (orientation <= 1 || orientation > 8) return image;
  VImage tagged = image.copy();
  tagged.set(VIPS_META_ORIENTATION, orientation);
  return tagged.autorot();
}

DecodedImage VipsThumbnail(const std::string& path, int maxPixelSize, Backdrop backdrop, ShrinkOnLoad shrinkOnLoad) {
  int size = Clamped(maxPixelSize);
  // A picture only looked at leaves the whole reduction it can to libjpeg's scaled decoding, which
  // is itself a clean reduction: a 24 MP frame decodes at half for the 2800 px preview, a third
  // less processor time per preview than a full decode.
  const double room = shrinkOnLoad == ShrinkOnLoad::Full ? 1.0 : kLanczosRoom;
  if (std::optional<VImage> jpeg = JPEGShrunkOnLoad(path, size, room)) {
    return FinishDecodedImage(ShrunkToFit(*jpeg, size), backdrop);
  }
  WithinPixelLimit(VImage::new_from_file(path.c_str(), VImage::option()->set("fail_on", kFailOn)));
  VImage thumbnail = VImage::thumbnail(
      path.c_str(), size,
      VImage::option()->set("height", size)->set("size", VIPS_SIZE_DOWN)->set("fail_on", kFailOn));
  return FinishDecodedImage(thumbnail, backdrop);
}

ThumbnailAndLoaded VipsThumbnailKeepingLoaded(const std::string& path, int maxPixelSize, Backdrop backdrop) {
  int size = Clamped(maxPixelSize);
  std::optional<VImage> jpeg = JPEGShrunkOnLoad(path, size);
  if (!jpeg) return {VipsThumbnail(path, maxPixelSize, backdrop), std::nullopt};
  // Decoded once into memory, then shrunk exactly as VipsThumbnail shrinks the stream.
  const VImage loaded = jpeg->copy_memory();
  ThumbnailAndLoaded result{FinishDecodedImage(ShrunkToFit(loaded, size), backdrop), std::nullopt};
  if (std::max(loaded.width(), loaded.height()) > size) {
    const int orientation = vips_image_get_orientation(loaded.get_image());
    result.loaded = Upright(FinishDecodedImage(loaded, backdrop), orientation).copy_memory();
  }
  return result;
}

DecodedImage VipsFullImage(const std::string& path) {
  VImage loaded = WithinPixelLimit(VImage::new_from_file(
      path.c_str(), VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL)->set("fail_on", kFailOn)));
  int orientation = vips_image_get_orientation(loaded.get_image());
  // Decode in stored order first: turning needs random access, which a sequential read lacks.
  DecodedImage stored = FinishDecodedImage(loaded);
  if (orientation <= 1) return stored;
  return Upright(stored, orientation).copy_memory();
}

VipsPicture OpenVipsPicture(const std::string& path) {
  VipsPicture picture;
  picture.stored = WithinPixelLimit(VImage::new_from_file(
      path.c_str(), VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL)->set("fail_on", kFailOn)));
  picture.orientation = std::clamp(vips_image_get_orientation(picture.stored.get_image()), 1, 8);
  const bool sideways = picture.orientation >= 5;
  picture.uprightWidth = sideways ? picture.stored.height() : picture.stored.width();
  picture.uprightHeight = sideways ? picture.stored.width() : picture.stored.height();
  return picture;
}

DecodedImage DecodeUprightArea(const VipsPicture& picture, int x, int y, int width, int height) {
  // Where each corner of the upright rectangle lies in the stored picture (inverse of the turn).
  const int storedWidth = picture.stored.width(), storedHeight = picture.stored.height();
  auto stored = [&](int ux, int uy) -> std::pair<int, int> {
    switch (picture.orientation) {
      case 2: return {storedWidth - 1 - ux, uy};
      case 3: return {storedWidth - 1 - ux, storedHeight - 1 - uy};
      case 4: return {ux, storedHeight - 1 - uy};
      case 5: return {uy, ux};
      case 6: return {uy, storedHeight - 1 - ux};
      case 7: return {storedWidth - 1 - uy, storedHeight - 1 - ux};
      case 8: return {storedWidth - 1 - uy, ux};
      default: return {ux, uy};
    }
  };
  auto [ax, ay] = stored(x, y);
  auto [bx, by] = stored(x + width - 1, y + height - 1);
  VImage area = picture.stored.extract_area(std::min(ax, bx), std::min(ay, by), std::abs(bx - ax) + 1,
                                            std::abs(by - ay) + 1);
  // Decoded in stored order first: turning needs random access, which a sequential read lacks.
  DecodedImage decoded = FinishDecodedImage(area);
  if (picture.orientation <= 1) return decoded;
  return Upright(decoded, picture.orientation).copy_memory();
}

DecodedImage DecodeEncodedPreview(const std::string& bytes, int maxPixelSize, int orientation) {
  VipsBlob* blob = vips_blob_copy(bytes.data(), bytes.size());
  VImage decoded;
  try {
    if (maxPixelSize > 0) {
      int size = Clamped(maxPixelSize);
      decoded = VImage::thumbnail_buffer(blob, size,
                                         VImage::option()
                                             ->set("height", size)
                                             ->set("size", VIPS_SIZE_DOWN)
                                             ->set("no_rotate", true)
                                             ->set("fail_on", kFailOn));
    } else {
      decoded = VImage::new_from_buffer(bytes, "", VImage::option()->set("fail_on", kFailOn));
    }
    decoded = FinishDecodedImage(decoded);
  } catch (...) {
    vips_area_unref(VIPS_AREA(blob));
    throw;
  }
  vips_area_unref(VIPS_AREA(blob));
  if (orientation <= 1) return decoded;
  return Upright(decoded, orientation).copy_memory();
}

DecodedImage DecodeBitmapPreview(const std::string& pixels, int width, int height, int bands, int maxPixelSize,
                                 int orientation) {
  if (width <= 0 || height <= 0 || bands <= 0 ||
      pixels.size() < static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(bands)) {
    throw vips::VError("bitmap preview is smaller than its stated size");
  }
  VipsImage* raw = vips_image_new_from_memory_copy(pixels.data(), pixels.size(), width, height, bands,
                                                   VIPS_FORMAT_UCHAR);
  if (raw == nullptr) throw vips::VError();
  VImage image(raw);
  image = image.copy(VImage::option()->set("interpretation",
                                           bands >= 3 ? VIPS_INTERPRETATION_sRGB : VIPS_INTERPRETATION_B_W));
  DecodedImage decoded = FinishDecodedImage(ShrunkToFit(image, maxPixelSize));
  if (orientation <= 1) return decoded;
  return Upright(decoded, orientation).copy_memory();
}

std::optional<std::string> TakeBlob(VipsBlob* blob) {
  if (!blob) return std::nullopt;
  size_t length = 0;
  const void* data = vips_blob_get(blob, &length);
  std::string bytes(static_cast<const char*>(data), length);
  vips_area_unref(VIPS_AREA(blob));
  if (bytes.empty()) return std::nullopt;
  return bytes;
}

}  // namespace tw::imaging::detail
