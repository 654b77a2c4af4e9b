#include "library/imaging/decoded_image.hpp"

#include <mutex>

namespace tw::imaging {

void EnsureVipsStarted() {
  static std::once_flag once;
  std::call_once(once, [] {
    VIPS_INIT("tidewick");
    // The operation cache keys on file names; a photo replaced on disk must be read afresh.
    vips_cache_set_max(0);
  });
}

}  // namespace tw::imaging
