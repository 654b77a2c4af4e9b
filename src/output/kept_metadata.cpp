#include "output/kept_metadata.hpp"

#include "library/imaging/exiv2_start.hpp"

#include <exiv2/exiv2.hpp>

namespace tw::output {
namespace {

// Capture time, body, lens and exposure. Maker notes stay behind: they hold offsets into the
// original file and the camera's own previews.
constexpr const char* kKeptExifKeys[] = {
    "Exif.Image.Make", "Exif.Image.Model", "Exif.Image.Artist", "Exif.Image.Copyright",
    "Exif.Photo.DateTimeOriginal", "Exif.Photo.DateTimeDigitized", "Exif.Photo.SubSecTimeOriginal",
    "Exif.Photo.SubSecTimeDigitized", "Exif.Photo.OffsetTimeOriginal", "Exif.Photo.OffsetTimeDigitized",
    "Exif.Photo.BodySerialNumber", "Exif.Photo.CameraOwnerName", "Exif.Photo.LensMake", "Exif.Photo.LensModel",
    "Exif.Photo.LensSerialNumber", "Exif.Photo.LensSpecification", "Exif.Photo.FocalLength",
    "Exif.Photo.FocalLengthIn35mmFilm", "Exif.Photo.FNumber", "Exif.Photo.ExposureTime",
    "Exif.Photo.ISOSpeedRatings", "Exif.Photo.SensitivityType", "Exif.Photo.RecommendedExposureIndex",
    "Exif.Photo.ExposureBiasValue", "Exif.Photo.ExposureProgram", "Exif.Photo.ExposureMode",
    "Exif.Photo.MeteringMode", "Exif.Photo.Flash", "Exif.Photo.WhiteBalance",
};

Exiv2::ExifData KeptExif(const std::string& source) {
  Exiv2::ExifData kept;
  try {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(source, false);
    if (image.get() != nullptr) {
      image->readMetadata();
      const Exiv2::ExifData& exif = image->exifData();
      for (const char* key : kKeptExifKeys) {
        auto found = exif.findKey(Exiv2::ExifKey(key));
        if (found != exif.end()) kept.add(*found);
      }
    }
  } catch (const std::exception&) {
    // A photo whose metadata exiv2 cannot read keeps none of it; the export itself goes on.
  }
  return kept;
}

}  // namespace

std::optional<std::string> WithKeptMetadata(const std::string& jpeg, const std::string& source,
                                            const PhotoMarks& marks) {
  imaging::detail::EnsureExiv2Started();
  try {
    Exiv2::ExifData exif = KeptExif(source);
    exif["Exif.Image.Orientation"] = static_cast<uint16_t>(1);
    Exiv2::XmpData xmp;
    xmp["Xmp.xmp.Rating"] = marks.rating;
    xmp["Xmp.xmp.Label"] = marks.label;

    Exiv2::Image::AutoPtr image =
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(jpeg.data()), static_cast<long>(jpeg.size()));
    if (image.get() == nullptr) return std::nullopt;
    image->setExifData(exif);
    image->setXmpData(xmp);
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    Exiv2::DataBuf written = io.read(static_cast<long>(io.size()));
    if (written.size_ <= 0) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(written.pData_), static_cast<size_t>(written.size_));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace tw::output
