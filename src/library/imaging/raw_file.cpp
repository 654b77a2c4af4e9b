#include "library/imaging/raw_file.hpp"

#include "base/text.hpp"

#include <libraw/libraw.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tw::imaging::detail {

namespace {

// LibRaw reports damaged data through this callback, by default on stderr; the error code it
// returns is what counts.
void IgnoreDataError(void*, const char*, const int) {}

// LibRaw's flip (bit 0 mirror, bit 1 flip, bit 2 transpose) as an EXIF orientation.
int OrientationFromFlip(int flip) {
  switch (flip) {
    case 1: return 2;
    case 2: return 4;
    case 3: return 3;
    case 4: return 5;
    case 5: return 8;
    case 6: return 6;
    case 7: return 7;
    default: return 1;
  }
}

std::string Text(const char* field, size_t capacity) { return Trim(std::string(field, strnlen(field, capacity))); }

// Stripped or zero-filled sample files unpack "successfully" into a constant frame; a real
// exposure always carries noise. Checking here spares the demosaicing of nothing.
bool HoldsNoExposure(const libraw_data_t& data) {
  const libraw_rawdata_t& raw = data.rawdata;
  const uint16_t* samples = nullptr;
  if (raw.raw_image != nullptr) {
    samples = raw.raw_image;
  } else if (raw.color4_image != nullptr) {
    samples = &raw.color4_image[0][0];
  } else if (raw.color3_image != nullptr) {
    samples = &raw.color3_image[0][0];
  }
  if (samples == nullptr) return false;  // float data: leave the judgement to the developed image
  size_t count = static_cast<size_t>(data.sizes.raw_pitch / sizeof(uint16_t)) * data.sizes.raw_height;
  if (count == 0) return false;
  uint16_t first = samples[0];
  return std::all_of(samples, samples + count, [first](uint16_t v) { return v == first; });
}

struct ProcessedImageRelease {
  void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};
using ProcessedImage = std::unique_ptr<libraw_processed_image_t, ProcessedImageRelease>;

}  // namespace

RawFile::RawFile(std::string path) : path_(std::move(path)), raw_(std::make_unique<LibRaw>()) {
  raw_->set_dataerror_handler(IgnoreDataError, nullptr);
}

RawFile::~RawFile() = default;

std::unique_ptr<RawFile> RawFile::Open(const std::string& path) {
  std::unique_ptr<RawFile> file(new RawFile(path));
  if (file->raw_->open_file(path.c_str()) != LIBRAW_SUCCESS) return nullptr;
  const libraw_data_t& data = file->raw_->imgdata;
  if (data.sizes.width == 0 || data.sizes.height == 0) return nullptr;
  file->sensorWidth_ = data.sizes.width;
  file->sensorHeight_ = data.sizes.height;
  file->orientation_ = OrientationFromFlip(data.sizes.flip);
  file->thumbnailWidth_ = data.thumbnail.twidth;
  file->thumbnailHeight_ = data.thumbnail.theight;
  file->shot_.make = Text(data.idata.make, sizeof data.idata.make);
  file->shot_.model = Text(data.idata.model, sizeof data.idata.model);
  file->shot_.lensName = Text(data.lens.Lens, sizeof data.lens.Lens);
  file->shot_.makernoteLensName = Text(data.lens.makernotes.Lens, sizeof data.lens.makernotes.Lens);
  file->shot_.focalLength = data.other.focal_len;
  file->shot_.aperture = data.other.aperture;
  return file;
}

bool RawFile::Reopen() {
  if (!used_) {
    used_ = true;
    return true;
  }
  raw_->recycle();
  return raw_->open_file(path_.c_str()) == LIBRAW_SUCCESS;
}

std::optional<RawThumbnail> RawFile::Thumbnail() {
  if (thumbnailWidth_ <= 0 || thumbnailHeight_ <= 0 || !Reopen()) return std::nullopt;
  if (raw_->unpack_thumb() != LIBRAW_SUCCESS) return std::nullopt;
  const libraw_thumbnail_t& thumb = raw_->imgdata.thumbnail;
  if (thumb.thumb == nullptr || thumb.tlength == 0) return std::nullopt;
  RawThumbnail result;
  result.bytes.assign(thumb.thumb, thumb.tlength);
  result.width = thumb.twidth;
  result.height = thumb.theight;
  if (thumb.tformat == LIBRAW_THUMBNAIL_JPEG) {
    result.isJpeg = true;
  } else if (thumb.tformat == LIBRAW_THUMBNAIL_BITMAP && (thumb.tcolors == 1 || thumb.tcolors == 3)) {
    result.bands = thumb.tcolors;
  } else {
    return std::nullopt;
  }
  return result;
}

std::optional<vips::VImage> RawFile::DevelopLinear(bool halfSize) {
  if (!Reopen()) return std::nullopt;
  libraw_output_params_t& params = raw_->imgdata.params;
  params.output_bps = 16;
  params.gamm[0] = 1.0;  // linear: scaling and lens correction work on light, not on gamma values
  params.gamm[1] = 1.0;
  params.use_camera_wb = 1;
  params.output_color = 1;  // sRGB primaries
  params.user_flip = 0;     // orientation is applied by the caller, the same way as for previews
  params.half_size = halfSize ? 1 : 0;
  if (raw_->unpack() != LIBRAW_SUCCESS) return std::nullopt;
  if (HoldsNoExposure(raw_->imgdata)) return std::nullopt;
  if (raw_->dcraw_process() != LIBRAW_SUCCESS) return std::nullopt;
  int error = LIBRAW_SUCCESS;
  ProcessedImage image(raw_->dcraw_make_mem_image(&error));
  if (!image || error != LIBRAW_SUCCESS) return std::nullopt;
  // The output is a copy; LibRaw's working buffers (four samples a pixel) can go before vips copies it.
  raw_->recycle();
  if (image->type != LIBRAW_IMAGE_BITMAP || image->bits != 16 || image->colors != 3 || image->width == 0 ||
      image->height == 0) {
    return std::nullopt;
  }
  const auto* samples = reinterpret_cast<const uint16_t*>(image->data);
  size_t count = static_cast<size_t>(image->width) * image->height * 3;
  if (std::all_of(samples, samples + count, [](uint16_t v) { return v == 0; })) return std::nullopt;
  VipsImage* copy = vips_image_new_from_memory_copy(image->data, image->data_size, image->width, image->height, 3,
                                                    VIPS_FORMAT_USHORT);
  if (copy == nullptr) return std::nullopt;
  vips::VImage developed(copy);
  return developed.copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
}

}  // namespace tw::imaging::detail
