// The advanced export: copies or renderings in a dated folder, sorted by decision on request, with
// the conflict rule and a rating-and-label sidecar; progress after every photo.
#include "base/files.hpp"
#include "library/imaging/decoding.hpp"
#include "output/export_destination.hpp"
#include "support/controller_fixture.hpp"
#include "support/shoot_files.hpp"

#include <gtest/gtest.h>

#include <ctime>

namespace tw::testing {
namespace {

std::string LabelSidecar(const std::string& rating, const std::string& label) {
  return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
         "<rdf:Description xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"" +
         rating + "\" xmp:Label=\"" + label + "\"/></rdf:RDF></x:xmpmeta>";
}

// The coded picture from its first quantisation table on; what precedes it is the photo's metadata.
std::string PictureData(const std::string& jpeg) {
  const size_t tables = jpeg.find("\xFF\xDB");
  return tables == std::string::npos ? jpeg : jpeg.substr(tables);
}

std::string ExpectedJPEG(const std::string& source, double quality) {
  auto image = imaging::CreateRenderedImage(source, 8192, true);
  return image ? PictureData(imaging::EncodeJPEG(*image, quality).value_or("")) : "";
}

class AdvancedExportTest : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    raw_ = CopySample("canon-r6-container-with-preview.CR3", shoot_.path(), "IMG_0001.CR3");
    small_ = CopySample("orientation-1.jpg", shoot_.path(), "SMALL.jpg");
    corrupt_ = CopySample("canon-m50-stub-corrupt.cr3", shoot_.path(), "BROKEN.cr3");
    sources_.emplace(shoot_.path());
  }
  void TearDown() override {
    ControllerTest::TearDown();
    EXPECT_EQ(sources_->Changes(), std::vector<std::string>{}) << "a file of the shoot changed";
  }

  // Exports into `folder` (answering the panel) and returns the completion payload.
  Json Export(const Json& photos, const Json& options, const std::string& folder, const char* action = "exportAdvanced") {
    platform_->QueuePanelAnswer(std::vector<std::string>{folder});
    Json body = {{"action", action}, {"photos", photos}};
    if (!options.is_null()) body["options"] = options;
    Send(body);
    auto answers = Payloads("window.Native.exportComplete");
    return answers.empty() ? Json() : answers.back();
  }
  std::string Dated(const std::string& folder) const { return folder + "/" + output::DatedFolderName(std::time(nullptr)); }

  TempFolder shoot_;
  TempFolder exports_;
  std::string raw_, small_, corrupt_;
  std::optional<FolderSnapshot> sources_;
};

TEST_F(AdvancedExportTest, AnEmptyListAnswersWithoutAPanelAndACancelledPanelExportsNothing) {
  Send({{"action", "exportAdvanced"}});
  Send({{"action", "export"}, {"photos", Json::array()}});
  Send({{"action", "exportAdvanced"}, {"photos", "not a list"}});
  platform_->QueuePanelAnswer(std::nullopt);
  Send({{"action", "exportAdvanced"}, {"photos", Json::array({{{"path", small_}}})}});
  std::vector<Json> expected(3, Json{{"message", "没有可导出的照片"}});
  expected.push_back({{"message", "已取消导出，原片保留"}});
  EXPECT_EQ(Payloads("window.Native.exportComplete"), expected);
  EXPECT_TRUE(Payloads("window.Native.exportProgress").empty());
  EXPECT_TRUE(Names(exports_.path()).empty());
}

TEST_F(AdvancedExportTest, JpegQualityIsClampedOtherFormatTextsAreJpegAndPngTiffAndHeicDecode) {
  Json answer = Export(Json::array({{{"path", raw_}}}), {{"format", "jpeg"}, {"quality", 0.3}}, exports_.path());
  const std::string dated = Dated(exports_.path());
  EXPECT_EQ(answer, (Json{{"message", "已导出 1 张"}, {"folder", dated}}));
  EXPECT_EQ(PictureData(ReadBytes(dated + "/IMG_0001.jpg")), ExpectedJPEG(raw_, 0.5));
  EXPECT_EQ(ReadBytes(dated + "/IMG_0001.xmp"), LabelSidecar("0", "未分类"));
  Export(Json::array({{{"path", raw_}}}), {{"format", "../../escape"}}, exports_.path());
  EXPECT_EQ(Names(dated), (std::vector<std::string>{"IMG_0001.jpg", "IMG_0001.xmp", "IMG_0001（1）.jpg", "IMG_0001（1）.xmp"}));
  EXPECT_EQ(Names(exports_.path()), std::vector<std::string>{output::DatedFolderName(std::time(nullptr))});

  const std::pair<Json, double> qualities[] = {{{{"format", "jpeg"}, {"quality", 1.4}}, 1.0}, {{{"format", "jpeg"}}, 0.92},
                                               {{{"format", "jpeg"}, {"quality", 0}}, 0.92},
                                               {{{"format", "jpeg"}, {"quality", "high"}}, 0.92}, {{{"format", "gif"}}, 0.75}};
  for (const auto& [options, quality] : qualities) {
    TempFolder folder;
    Export(Json::array({{{"path", small_}}}), options, folder.path());
    EXPECT_EQ(PictureData(ReadBytes(Dated(folder.path()) + "/SMALL.jpg")), ExpectedJPEG(small_, quality)) << options;
  }
  auto rendered = imaging::CreateRenderedImage(small_, 8192, true);
  ASSERT_TRUE(rendered);
  for (const std::string format : {"png", "tiff", "heic"}) {
    TempFolder folder;
    Export(Json::array({{{"path", small_}, {"status", "保留"}, {"rating", 3}}}), {{"format", format}}, folder.path());
    auto image = imaging::CreateThumbnail(Dated(folder.path()) + "/SMALL." + format, 8192);
    ASSERT_TRUE(image) << format;
    EXPECT_EQ(std::pair(image->width(), image->height()), std::pair(rendered->width(), rendered->height()));
    EXPECT_EQ(ReadBytes(Dated(folder.path()) + "/SMALL.xmp"), LabelSidecar("3", "保留"));
  }
}

TEST_F(AdvancedExportTest, SortingByDecisionPutsKeptAndPendingPhotosInSubfolders) {
  std::string a = CopySample("orientation-2.jpg", shoot_.path(), "A.jpg");
  std::string b = CopySample("orientation-3.jpg", shoot_.path(), "B.jpg");
  std::string c = CopySample("orientation-4.jpg", shoot_.path(), "C.jpg");
  std::string d = CopySample("orientation-5.jpg", shoot_.path(), "D.jpg");
  sources_.emplace(shoot_.path());
  Json answer = Export(Json::array({{{"path", a}, {"status", "保留"}, {"rating", 4}},
                                    {{"path", b}, {"status", "淘汰"}, {"rating", 1}},
                                    {{"path", c}, {"rating", 2.5}},
                                    {{"path", d}, {"status", "待定"}}}),
                       {{"organize", true}}, exports_.path());
  const std::string dated = Dated(exports_.path());
  EXPECT_EQ(answer["message"], "已导出 4 张");
  EXPECT_EQ(Names(dated), (std::vector<std::string>{"B.jpg", "B.xmp", "C.jpg", "C.xmp", "保留", "待定"}));
  EXPECT_EQ(Names(dated + "/保留"), (std::vector<std::string>{"A.jpg", "A.xmp"}));
  EXPECT_EQ(Names(dated + "/待定"), (std::vector<std::string>{"D.jpg", "D.xmp"}));
  EXPECT_EQ(ReadBytes(dated + "/保留/A.jpg"), ReadBytes(a));
  EXPECT_EQ(ReadBytes(dated + "/保留/A.xmp"), LabelSidecar("4", "保留"));
  EXPECT_EQ(ReadBytes(dated + "/B.xmp"), LabelSidecar("1", "淘汰"));
  EXPECT_EQ(ReadBytes(dated + "/C.xmp"), LabelSidecar("2.5", "未分类"));
  EXPECT_EQ(Exiv2Value(dated + "/保留/A.xmp", "Xmp.xmp.Rating"), "4");
  EXPECT_EQ(Exiv2Value(dated + "/保留/A.xmp", "Xmp.xmp.Label"), "保留");
}

TEST_F(AdvancedExportTest, SkipKeepsAnEarlierFileReplaceSwapsItOnlyForAFinishedOneAndThePlainExportSkips) {
  const std::string dated = Dated(exports_.path());
  ASSERT_FALSE(CreateDirectories(dated));
  WriteBytes(dated + "/IMG_0001.CR3", "earlier export");
  Json answer = Export(Json::array({{{"path", raw_}}}), {{"conflict", "skip"}}, exports_.path());
  EXPECT_EQ(answer["message"], "已导出 0 张，跳过 1 张");
  EXPECT_EQ(Payloads("window.Native.exportProgress"), (std::vector<Json>{{{"completed", 1}, {"total", 1}, {"name", "IMG_0001.CR3"}}}));
  EXPECT_EQ(ReadBytes(dated + "/IMG_0001.CR3"), "earlier export");
  EXPECT_EQ(Names(dated), std::vector<std::string>{"IMG_0001.CR3"}) << "no sidecar for a skipped photo";

  WriteBytes(dated + "/SMALL.jpg", "earlier export");
  WriteBytes(dated + "/SMALL.xmp", LabelSidecar("1", "保留"));  // an earlier export's
  answer = Export(Json::array({{{"path", small_}, {"rating", 5}}}), {{"conflict", "replace"}}, exports_.path());
  EXPECT_EQ(answer["message"], "已导出 1 张");
  EXPECT_EQ(ReadBytes(dated + "/SMALL.jpg"), ReadBytes(small_));
  EXPECT_EQ(ReadBytes(dated + "/SMALL.xmp"), LabelSidecar("5", "未分类"));
  // A rendering that fails leaves the earlier file where it was.
  WriteBytes(dated + "/BROKEN.jpg", "earlier rendering");
  answer = Export(Json::array({{{"path", corrupt_}}}), {{"conflict", "replace"}, {"format", "jpeg"}}, exports_.path());
  EXPECT_EQ(answer["message"], "已导出 0 张，失败 1 张");
  EXPECT_EQ(ReadBytes(dated + "/BROKEN.jpg"), "earlier rendering");
  EXPECT_EQ(Names(dated), (std::vector<std::string>{"BROKEN.jpg", "IMG_0001.CR3", "SMALL.jpg", "SMALL.xmp"}));

  // The plain export copies, sorted, and its options are fixed: what is there is skipped.
  TempFolder plain;
  Json photos = Json::array({{{"path", small_}, {"status", "保留"}, {"rating", 2}}, {{"path", raw_}, {"status", "淘汰"}}});
  EXPECT_EQ(Export(photos, nullptr, plain.path(), "export")["message"], "已导出 2 张");
  EXPECT_EQ(ReadBytes(Dated(plain.path()) + "/保留/SMALL.jpg"), ReadBytes(small_));
  EXPECT_EQ(ReadBytes(Dated(plain.path()) + "/IMG_0001.CR3"), ReadBytes(raw_));
  EXPECT_EQ(Export(photos, {{"format", "png"}, {"conflict", "replace"}}, plain.path(), "export")["message"], "已导出 0 张，跳过 2 张");
}

TEST_F(AdvancedExportTest, APhotoThatCannotBeDecodedCountsAsFailedAndTheOthersGoOn) {
  Json answer = Export(Json::array({{{"path", small_}}, {{"path", corrupt_}}, {{"path", raw_}}, {{"rating", 1}}}),
                       {{"format", "png"}}, exports_.path());
  EXPECT_EQ(Payloads("window.Native.exportProgress"),
            (std::vector<Json>{{{"completed", 1}, {"total", 4}, {"name", "SMALL.jpg"}},
                               {{"completed", 2}, {"total", 4}, {"name", "BROKEN.cr3"}},
                               {{"completed", 3}, {"total", 4}, {"name", "IMG_0001.CR3"}},
                               {{"completed", 4}, {"total", 4}, {"name", ""}}}));
  EXPECT_EQ(answer["message"], "已导出 2 张，失败 2 张");
  EXPECT_EQ(Names(Dated(exports_.path())),
            (std::vector<std::string>{"IMG_0001.png", "IMG_0001.xmp", "SMALL.png", "SMALL.xmp"}));
}

TEST_F(AdvancedExportTest, WritesThatFailCountAsFailedAndLeaveNoPartialFile) {
  ASSERT_FALSE(CreateDirectories(Dated(exports_.path())));
  Json answer;
  {
    FileSizeLimit full(64 * 1024);
    answer = Export(Json::array({{{"path", raw_}}, {{"path", raw_}, {"status", "保留"}}}), {{"organize", true}},
                    exports_.path());
  }
  EXPECT_EQ(answer["message"], "已导出 0 张，失败 2 张");
  EXPECT_TRUE(Names(Dated(exports_.path())).empty()) << "no decision folder without a photo in it";
}

TEST_F(AdvancedExportTest, APanelAskedForWhileAnotherIsOpenTakesTheCancelPath) {
  platform_->QueuePanelAnswer(std::vector<std::string>{exports_.path()});
  Json photos = Json::array({{{"path", small_}, {"name", "SMALL.jpg"}}});
  queues::Main([this, photos] { app_->didReceiveScriptMessage({{"action", "exportAdvanced"}, {"photos", photos}}); });
  queues::Main([this, photos] { app_->didReceiveScriptMessage({{"action", "exportReviewManifest"}, {"photos", photos}}); });
  RunUntilQuiet();
  EXPECT_EQ(Payloads("window.Native.status"), std::vector<Json>{"请先完成或取消当前文件选择窗口。"});
  EXPECT_EQ(Payloads("window.Native.reviewManifestCancelled").size(), 1u);
  EXPECT_EQ(Payloads("window.Native.exportComplete").at(0)["message"], "已导出 1 张");
}

}  // namespace
}  // namespace tw::testing
