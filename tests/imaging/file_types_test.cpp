// File types by extension: the MIME table and the raw list.
#include "library/imaging/decoding.hpp"

#include <gtest/gtest.h>

namespace tw::imaging {
namespace {

TEST(MIMEType, TableByLowerCasedExtension) {
  EXPECT_EQ(MIMETypeForPath("a.jpg"), "image/jpeg");
  EXPECT_EQ(MIMETypeForPath("a.jpeg"), "image/jpeg");
  EXPECT_EQ(MIMETypeForPath("a.png"), "image/png");
  EXPECT_EQ(MIMETypeForPath("a.webp"), "image/webp");
  EXPECT_EQ(MIMETypeForPath("a.heic"), "image/heic");
  EXPECT_EQ(MIMETypeForPath("a.heif"), "image/heic");
  EXPECT_EQ(MIMETypeForPath("a.tif"), "image/tiff");
  EXPECT_EQ(MIMETypeForPath("a.tiff"), "image/tiff");
  EXPECT_EQ(MIMETypeForPath("a.cr3"), "image/x-canon-cr3");
}

TEST(MIMEType, CaseAndPathFormsDoNotMatter) {
  EXPECT_EQ(MIMETypeForPath("IMG_0001.JPG"), "image/jpeg");
  EXPECT_EQ(MIMETypeForPath("/Volumes/EOS_DIGITAL/DCIM/100CANON/IMG_0001.CR3"), "image/x-canon-cr3");
  EXPECT_EQ(MIMETypeForPath("file:///home/me/%E7%85%A7%E7%89%87/a.HeIc"), "image/heic");
  EXPECT_EQ(MIMETypeForPath("照片.Png"), "image/png");
}

TEST(MIMEType, EverythingElseIsOctetStream) {
  EXPECT_EQ(MIMETypeForPath("a.cr2"), "application/octet-stream");
  EXPECT_EQ(MIMETypeForPath("a.dng"), "application/octet-stream");
  EXPECT_EQ(MIMETypeForPath("a.gif"), "application/octet-stream");
  EXPECT_EQ(MIMETypeForPath("README"), "application/octet-stream");
  EXPECT_EQ(MIMETypeForPath(""), "application/octet-stream");
  EXPECT_EQ(MIMETypeForPath("archive.jpg.zip"), "application/octet-stream");
  EXPECT_EQ(MIMETypeForPath("/folder.jpg/file"), "application/octet-stream");
}

TEST(RawExtension, EveryRawExtensionInAnyCase) {
  for (const char* extension : {"cr3", "cr2", "dng", "nef", "nrw", "arw", "raf", "rw2", "orf", "pef"}) {
    std::string lower = extension;
    std::string upper = lower;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(IsRAWURL("/photos/IMG." + lower)) << lower;
    EXPECT_TRUE(IsRAWURL("/photos/IMG." + upper)) << upper;
  }
  EXPECT_TRUE(IsRAWURL("file:///photos/IMG_0001.CR3"));
}

TEST(RawExtension, OtherFilesAreNotRaw) {
  for (const char* path : {"a.jpg", "a.tif", "a.heic", "a.crw", "a.cr", "cr3", "", "/photos/cr3/IMG", "a.cr3.jpg"}) {
    EXPECT_FALSE(IsRAWURL(path)) << path;
  }
}

}  // namespace
}  // namespace tw::imaging
