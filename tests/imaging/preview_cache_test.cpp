// When a cached preview is rebuilt: missing, empty or unrecorded cache, or a reachable source whose
// size or time is not the one the preview was made from.
#include "image_test_support.hpp"
#include "library/imaging/decoding.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>

namespace tw::imaging {
namespace {

using testing::ScratchFolder;

void SetModified(const std::string& path, time_t seconds, long nanoseconds = 0) {
  timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

class PreviewCacheRefresh : public ::testing::Test {
 protected:
  // A preview placed as the preview code places it, recorded against the source as it is now.
  void MakePreview() {
    ASSERT_TRUE(PlacePreview(folder_.Write(".new.jpg", "jpeg"), cache_, *ReadPreviewSource(source_)));
  }
  ScratchFolder folder_;
  std::string source_ = folder_.Write("IMG_0001.CR3", "raw bytes");
  std::string cache_ = folder_.Path("123-plain.jpg");
};

TEST_F(PreviewCacheRefresh, AMissingOrEmptyCacheIsBuiltUnlessTheSourceIsGone) {
  EXPECT_TRUE(PreviewCacheNeedsRefresh(source_, cache_));
  EXPECT_TRUE(PreviewCacheNeedsRefresh(folder_.Path("ejected.CR3"), cache_)) << "nothing to show yet";
  folder_.Write("123-plain.jpg", "");
  SetModified(source_, 1'000'000);
  SetModified(cache_, 2'000'000);
  EXPECT_TRUE(PreviewCacheNeedsRefresh(source_, cache_)) << "empty, though newer";
  folder_.Write("123-plain.jpg", "jpeg");
  EXPECT_FALSE(PreviewCacheNeedsRefresh(folder_.Path("ejected.CR3"), cache_)) << "the old preview stays";
}

TEST_F(PreviewCacheRefresh, AnyOtherSizeOrTimeIsRebuiltOlderToo) {
  SetModified(source_, 2'000'000, 500);
  MakePreview();
  EXPECT_FALSE(PreviewCacheNeedsRefresh(source_, cache_));
  EXPECT_FALSE(PreviewCacheNeedsRefresh("file://" + source_, "file://" + cache_));
  for (auto [seconds, nanoseconds] : {std::pair{1'999'999, 500}, {2'000'001, 500}, {2'000'000, 499}}) {
    SetModified(source_, seconds, nanoseconds);
    EXPECT_TRUE(PreviewCacheNeedsRefresh(source_, cache_)) << seconds << "." << nanoseconds;
  }
  folder_.Write("IMG_0001.CR3", "other raw bytes");  // copied over with its time kept (cp -p)
  SetModified(source_, 2'000'000, 500);
  EXPECT_TRUE(PreviewCacheNeedsRefresh(source_, cache_));
}

TEST_F(PreviewCacheRefresh, OnlyARecordOfThisVeryPreviewFileCounts) {
  folder_.Write("123-plain.jpg", "jpeg");
  EXPECT_TRUE(PreviewCacheNeedsRefresh(source_, cache_)) << "made before previews were recorded";
  MakePreview();
  // Two developments finishing at once may leave one's record beside the other's file.
  ASSERT_EQ(std::rename(folder_.Write(".other.jpg", "jpeg").c_str(), cache_.c_str()), 0);
  EXPECT_TRUE(PreviewCacheNeedsRefresh(source_, cache_));
}

}  // namespace
}  // namespace tw::imaging
