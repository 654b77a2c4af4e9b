#include "library/imaging/decoding.hpp"
#include "library/imaging/file_signature.hpp"
#include "library/imaging/raw_rendering.hpp"
#include "library/imaging/raw_thumbnail.hpp"
#include "library/imaging/vips_images.hpp"

namespace tw::imaging {

MaybeImage CreateFullEditImage(const std::string& pathOrURL, bool lensWanted) {
  try {
    EnsureVipsStarted();
    std::string path = detail::LocalPath(pathOrURL);
    switch (detail::RouteForFile(path)) {
      case detail::DecoderRoute::Vips:
        return detail::VipsFullImage(path);
      case detail::DecoderRoute::Raw: {
        detail::RawSource source(path);
        if (std::optional<detail::RawRendering> rendering = detail::RenderRaw(source, 0, lensWanted)) {
          return rendering->image;
        }
        return detail::FullSizePreview(source, detail::FullSizeRule::WholePicture);
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
