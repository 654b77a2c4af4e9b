#include "library/imaging/decoding.hpp"
#include "library/imaging/file_signature.hpp"
#include "library/imaging/raw_source.hpp"

namespace tw::imaging {

std::optional<std::pair<long, long>> ImagePixelSize(const std::string& pathOrURL) {
  try {
    EnsureVipsStarted();
    const std::string path = detail::LocalPath(pathOrURL);
    switch (detail::RouteForFile(path)) {
      case detail::DecoderRoute::Vips: {
        // Opening reads the header only; pixels are decoded when first asked for.
        vips::VImage header =
            vips::VImage::new_from_file(path.c_str(), vips::VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
        return std::pair<long, long>(header.width(), header.height());
      }
      case detail::DecoderRoute::Raw: {
        detail::RawSource source(path);
        auto [width, height] = source.FullSize();
        if (width <= 0 || height <= 0) return std::nullopt;
        return std::pair<long, long>(width, height);
      }
      case detail::DecoderRoute::Unreadable:
      case detail::DecoderRoute::Unsupported:
        return std::nullopt;
    }
  } catch (...) {
  }
  return std::nullopt;
}

}  // namespace tw::imaging
