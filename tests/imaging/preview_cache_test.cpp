// When a cached preview is rebuilt: missing or empty cache, or a reachable source that is newer.
#include "image_test_support.hpp"
#include "library/imaging/decoding.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace tw::imaging {
namespace {

using testing::ScratchFolder;

void SetModified(const std::string& path, time_t seconds, long nanoseconds = 0) {
  timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

class PreviewCacheRefresh : public ::testing::Test {
 protected:
  ScratchFolder folder_;
  std::string source_ = folder_.Write("IMG_0001.CR3", "raw bytes");
  std::string cache_ = folder_.Path("123-plain.jpg");
};

TEST_F(PreviewCacheRefresh, MissingCacheIsBuilt) {
  EXPECT_TRUE(PreviewCacheNeedsRefresh(source_, cache_));
}

TEST_F(PreviewCacheRefresh, EmptyCacheIsRebuiltEvenWhenNewer) {
  folder_.Write("123-plain.jpg", "");
  SetModified(source_, 1'000'000);
  SetModified(cache_, 2'000'000);
  EXPECT_TRUE(PreviewCacheNeedsRefresh(source_, cache_));
}

TEST_F(PreviewCacheRefresh, UnreachableSourceKeepsTheOldPreview) {
  folder_.Write("123-plain.jpg", "jpeg");
  EXPECT_FALSE(PreviewCacheNeedsRefresh(folder_.Path("ejected.CR3"), cache_));
}

TEST_F(PreviewCacheRefresh, UnreachableSourceWithoutPreviewStillAsksForOne) {
  EXPECT_TRUE(PreviewCacheNeedsRefresh(folder_.Path("ejected.CR3"), cache_));
}

TEST_F(PreviewCacheRefresh, NewerSourceIsRebuiltOlderOrSameIsNot) {
  folder_.Write("123-plain.jpg", "jpeg");
  SetModified(cache_, 2'000'000);
  SetModified(source_, 2'000'001);
  EXPECT_TRUE(PreviewCacheNeedsRefresh(source_, cache_));
  SetModified(source_, 1'999'999);
  EXPECT_FALSE(PreviewCacheNeedsRefresh(source_, cache_));
  SetModified(source_, 2'000'000);
  EXPECT_FALSE(PreviewCacheNeedsRefresh(source_, cache_));
}

TEST_F(PreviewCacheRefresh, SubSecondDifferencesCount) {
  folder_.Write("123-plain.jpg", "jpeg");
  SetModified(cache_, 2'000'000, 100);
  SetModified(source_, 2'000'000, 200);
  EXPECT_TRUE(PreviewCacheNeedsRefresh(source_, cache_));
}

TEST_F(PreviewCacheRefresh, FileURLsAreAccepted) {
  folder_.Write("123-plain.jpg", "jpeg");
  SetModified(cache_, 2'000'000);
  SetModified(source_, 3'000'000);
  EXPECT_TRUE(PreviewCacheNeedsRefresh("file://" + source_, "file://" + cache_));
}

}  // namespace
}  // namespace tw::imaging
