// File types by extension: the MIME table and the raw list.
#include "library/imaging/decoding.hpp"

#include <gtest/gtest.h>

namespace tw::imaging {
namespace {

TEST(MIMEType, TableByLowerCasedExtensionOfAnyPathForm) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a.jpg", "image/jpeg"}, {"a.jpeg", "image/jpeg"}, {"a.png", "image/png"}, {"a.webp", "image/webp"},
      {"a.heic", "image/heic"}, {"a.heif", "image/heic"}, {"a.tif", "image/tiff"}, {"a.tiff", "image/tiff"},
      {"a.cr3", "image/x-canon-cr3"}, {"IMG_0001.JPG", "image/jpeg"},
      {"/Volumes/EOS_DIGITAL/DCIM/100CANON/IMG_0001.CR3", "image/x-canon-cr3"},
      {"file:///home/me/%E7%85%A7%E7%89%87/a.HeIc", "image/heic"}, {"照片.Png", "image/png"},
      {"a.cr2", "application/octet-stream"}, {"a.dng", "application/octet-stream"},
      {"a.gif", "application/octet-stream"}, {"README", "application/octet-stream"}, {"", "application/octet-stream"},
      {"archive.jpg.zip", "application/octet-stream"}, {"/folder.jpg/file", "application/octet-stream"}};
  for (const auto& [path, type] : cases) EXPECT_EQ(MIMETypeForPath(path), type) << path;
}

TEST(RawExtension, EveryRawExtensionInAnyCaseAndNothingElse) {
  for (const char* extension : {"cr3", "cr2", "dng", "nef", "nrw", "arw", "raf", "rw2", "orf", "pef"}) {
    std::string lower = extension;
    std::string upper = lower;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(IsRAWURL("/photos/IMG." + lower)) << lower;
    EXPECT_TRUE(IsRAWURL("/photos/IMG." + upper)) << upper;
  }
  EXPECT_TRUE(IsRAWURL("file:///photos/IMG_0001.CR3"));
  for (const char* path : {"a.jpg", "a.tif", "a.heic", "a.crw", "a.cr", "cr3", "", "/photos/cr3/IMG", "a.cr3.jpg"}) {
    EXPECT_FALSE(IsRAWURL(path)) << path;
  }
}

}  // namespace
}  // namespace tw::imaging
