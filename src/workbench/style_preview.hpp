#pragma once
// The style preview: the reference and every selected photo are measured on reduced renderings,
// each photo gets its style values (its plan), and the first three photos come back as
// before/after pictures. The plans stay in the program, so that the export applies exactly what
// was previewed, and only to photos that have not changed since.
#include "base/json.hpp"
#include "workbench/style_algorithm.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tw::workbench {

inline constexpr size_t kMaxStylePhotos = 256;
inline constexpr size_t kMaxStylePreviews = 3;
inline constexpr int kReferenceRenderPixels = 1024;
inline constexpr int kPhotoRenderPixels = 1400;
inline constexpr double kStylePreviewQuality = 0.8;

// A string holding an absolute path whose lower-cased extension is jpg, jpeg, png, tif, tiff, heic
// or cr3.
bool TWPhotoPath(const Json& value);

// One photo's planned correction, measured when its file had `stamp`.
struct StylePlan {
  std::string path;
  std::string name;
  std::optional<FileStamp> stamp;
  StyleValues values;
};

// What a successful preview leaves for the export.
struct StoredPreview {
  std::string token;
  std::string reference;
  std::optional<FileStamp> referenceStamp;
  Json options;  // as the page sent them
  std::vector<StylePlan> plans;
};

struct StylePreviewRequest {
  std::string token;
  std::string reference;
  struct Photo {
    std::string path;
    std::string name;
  };
  std::vector<Photo> photos;
  Json options;
};
// The "previewProjectStyle" body read and checked: the request, or the error to answer it with.
// Whether the token is empty is the caller's concern (such a request is ignored).
struct ReadPreviewRequest {
  StylePreviewRequest request;
  std::optional<std::string> error;
};
ReadPreviewRequest ReadStylePreviewRequest(const Json& body);

struct StylePreviewOutcome {
  std::optional<StoredPreview> preview;  // on success
  Json previews = Json::array();         // {name, before, after} data URLs
  std::string error;                     // on failure
};
// Worker thread. stillCurrent is asked before every photo; once false the work ends early (its
// outcome is then dropped by the caller).
StylePreviewOutcome RunStylePreview(const StylePreviewRequest& request, bool lensWanted,
                                    const std::function<bool()>& stillCurrent);

}  // namespace tw::workbench
