// Progress during an import: told while the thumbnails are made, never faster than the interval
// allows, complete before the scan itself is received.
#include "library/import_scan.hpp"
#include "support/controller_fixture.hpp"

#include <chrono>
#include <filesystem>
#include <map>
#include <set>

namespace tw::testing {
namespace {

namespace fs = std::filesystem;
const std::string kPhotos = std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/";

class ScanProgressTest : public ControllerTest {
 protected:
  TempFolder shoot_;
};

TEST_F(ScanProgressTest, CountsUpToTheWholeImportBeforeItIsReceived) {
  constexpr long kPhotoCount = 60;
  for (long i = 0; i < kPhotoCount; ++i) {
    fs::copy_file(kPhotos + "canon-t6-coins-2000x1072.jpg", shoot_ / ("IMG_" + std::to_string(1000 + i) + ".jpg"));
  }
  fs::copy_file(kPhotos + "coffee.png", shoot_ / "not-imported.png");
  // A page that never asked defines no scanProgress.
  Send({{"action", "scanPath"}, {"path", shoot_.path()}});
  EXPECT_TRUE(Payloads("window.Native.scanProgress").empty() && Payloads("window.Native.scanRecords").empty());
  fs::remove_all(support_ / library::kThumbnailCacheFolder);

  ClearOutput();
  Send({{"action", "watchScanProgress"}, {"enabled", true}});
  const auto start = std::chrono::steady_clock::now();
  Send({{"action", "scanPath"}, {"path", shoot_.path()}});
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  EXPECT_EQ(lines_.back().value("fn", ""), "window.Native.receiveScan") << "every progress comes first";
  auto progress = Payloads("window.Native.scanProgress");
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), (Json{{"found", kPhotoCount}, {"thumbnails", kPhotoCount}, {"total", kPhotoCount}}));
  for (size_t i = 0; i < progress.size(); ++i) {
    // While the folder is searched the total is not known yet; the png is never counted.
    EXPECT_LE(progress[i]["found"], kPhotoCount);
    EXPECT_TRUE(progress[i]["total"] == 0 || progress[i]["total"] == kPhotoCount) << progress[i];
    if (i > 0) EXPECT_GE(progress[i]["thumbnails"], progress[i - 1]["thumbnails"]);
  }
  // Two forced ones (first and full) besides those the interval allows.
  EXPECT_LE(progress.size(), 2 + static_cast<size_t>(seconds / 0.1) + 1) << seconds << " s";

  // Records come in batches as their thumbnails are made, each once, each the very record received.
  const Json scan = Payloads("window.Native.receiveScan").back();
  std::map<std::string, Json> received;
  for (const Json& photo : scan["photos"]) received[photo["id"]] = photo;
  auto batches = Payloads("window.Native.scanRecords");
  ASSERT_FALSE(batches.empty());
  EXPECT_LE(batches.size(), 1 + static_cast<size_t>(seconds / 0.15) + 1) << seconds << " s";
  std::set<std::string> told;
  for (const Json& batch : batches) {
    EXPECT_EQ(batch["token"], batches[0]["token"]);
    for (const Json& record : batch["photos"]) {
      EXPECT_EQ(record, received[record["id"]]);
      EXPECT_TRUE(told.insert(record["id"]).second) << record;
    }
  }

  // Again with every thumbnail cached: full as soon as the total is known.
  ClearOutput();
  Send({{"action", "scanPath"}, {"path", shoot_.path()}});
  for (const Json& told : Payloads("window.Native.scanProgress")) {
    if (told["total"] != 0) EXPECT_EQ(told["thumbnails"], kPhotoCount);
  }
  EXPECT_TRUE(Payloads("window.Native.scanRecords").empty()) << "the scan itself follows at once";
}

}  // namespace
}  // namespace tw::testing
