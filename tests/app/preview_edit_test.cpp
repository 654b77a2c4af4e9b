// Large previews and their cache; crop-and-rotate edits saved as new numbered JPEGs.
#include "base/files.hpp"
#include "imaging/image_test_support.hpp"
#include "library/imaging/decoding.hpp"
#include "library/preview.hpp"
#include "support/controller_fixture.hpp"
#include "support/shoot_files.hpp"

#include <sys/fsuid.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <future>

namespace tw::testing {
namespace {

namespace fs = std::filesystem;

class PreviewTest : public ControllerTest {
 protected:
  Json Preview(const std::string& path, const std::string& id = "P1") {
    Send({{"action", "previewPhoto"}, {"id", id}, {"path", path}});
    auto answers = Payloads("window.Native.previewReady");
    return answers.empty() ? Json() : answers.back();
  }
  Json Edit(const Json& request, std::optional<std::string> folder) {
    platform_->QueuePanelAnswer(folder ? std::optional(std::vector<std::string>{*folder}) : std::nullopt);
    Json body = request;
    body["action"] = "editPhoto";
    Send(body);
    auto answers = Payloads("window.Native.photoEditResult");
    return answers.empty() ? Json() : answers.back();
  }
  Json Crop(double x, double y, double w, double h) { return {{"x", x}, {"y", y}, {"w", w}, {"h", h}}; }
  TempFolder photos_;
  TempFolder output_;
};
using EditTest = PreviewTest;

TEST_F(PreviewTest, CachesOnePreviewPerLensSettingAndRefreshesWhenThePhotoChanges) {
  std::string photo = photos_ / "IMG_1.jpg";
  fs::copy_file(kSamplePhotos + "canon-t6-coins-2000x1072.jpg", photo);
  SetModified(photo, 1600000000);

  Json first = Preview(photo);
  ASSERT_TRUE(first.contains("url")) << first;
  EXPECT_EQ(first["id"], "P1");
  std::string lensFile = *PathFromFileURL(first["url"]);
  EXPECT_TRUE(lensFile.ends_with("-lens.jpg"));
  auto image = imaging::CreateThumbnail(lensFile, 10000);
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->width(), 2000) << "never upscaled to 2800";

  Send({{"action", "saveLensSettings"}, {"enabled", false}});
  Json plain = Preview(photo);
  EXPECT_TRUE(plain["url"].get<std::string>().ends_with("-plain.jpg"));
  EXPECT_TRUE(PathExists(lensFile)) << "the other setting's preview stays";

  std::string plainFile = *PathFromFileURL(plain["url"]);
  ino_t inode = Inode(plainFile);
  Preview(photo);
  EXPECT_EQ(Inode(plainFile), inode) << "an unchanged photo keeps its preview";
  // Another photo copied over it with its own, older time (cp -p, a card copied again).
  fs::copy_file(kSamplePhotos + "orientation-1.jpg", photo, fs::copy_options::overwrite_existing);
  SetModified(photo, 1500000000);
  Preview(photo);
  EXPECT_EQ(imaging::CreateThumbnail(plainFile, 10000)->width(), 308);
  inode = Inode(plainFile);
  SetModified(photo, 2000000000);
  Preview(photo);
  EXPECT_NE(Inode(plainFile), inode);

  // An empty cache file is rebuilt.
  std::ofstream(plainFile, std::ios::trunc).close();
  Preview(photo);
  EXPECT_GT(fs::file_size(plainFile), 0u);
  for (const auto& name : Names(support_ / "PreviewCache")) {
    EXPECT_TRUE(name.ends_with(".jpg") || name.ends_with(".jpg.stamp")) << "no temporary file is left: " << name;
  }
}

TEST_F(PreviewTest, TheLensSettingIsTheOneWhenThePageAsked) {
  std::string photo = photos_ / "IMG_1.jpg";
  fs::copy_file(kSamplePhotos + "orientation-1.jpg", photo);
  // Workers stay busy until the setting has changed behind the request.
  std::promise<void> release;
  std::shared_future<void> busy = release.get_future().share();
  for (int i = 0; i < 64; ++i) queues::Global(QoS::UserInitiated, [busy] { busy.wait(); });
  queues::Main([&] {
    app_->didReceiveScriptMessage({{"action", "previewPhoto"}, {"id", "P"}, {"path", photo}});
    app_->didReceiveScriptMessage({{"action", "saveLensSettings"}, {"enabled", false}});
    release.set_value();
  });
  RunUntilQuiet();
  auto answers = Payloads("window.Native.previewReady");
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_TRUE(answers[0]["url"].get<std::string>().ends_with("-lens.jpg")) << answers[0];
}

TEST_F(PreviewTest, AnEjectedCardKeepsItsCachedPreviewAndOtherFailuresAnswerTheirText) {
  std::string photo = photos_ / "IMG_2.jpg";
  fs::copy_file(kSamplePhotos + "orientation-1.jpg", photo);
  Json cached = Preview(photo);
  ASSERT_TRUE(cached.contains("url"));
  fs::remove(photo);
  EXPECT_EQ(Preview(photo), cached);
  EXPECT_EQ(Preview(photos_ / "never-cached.jpg"),
            (Json{{"id", "P1"}, {"error", "原文件当前不可访问，正在显示缓存预览"}}));

  const Json undecodable = {{"id", "X"}, {"error", "系统无法解码大图，正在显示缓存预览"}};
  std::ofstream(photos_ / "broken.jpg") << "not a picture";
  EXPECT_EQ(Preview(photos_ / "broken.jpg", "X"), undecodable);
  std::ofstream(photos_ / "huge.jpg", std::ios::binary) << imaging::testing::HugeFrameJPEG();
  EXPECT_EQ(Preview(photos_ / "huge.jpg", "X"), undecodable);

  ClearOutput();
  Send({{"action", "previewPhoto"}, {"path", "/tmp/a.jpg"}});
  Send({{"action", "previewPhoto"}, {"id", "A"}});
  Send({{"action", "previewPhoto"}, {"id", 5}, {"path", "/tmp/a.jpg"}});
  EXPECT_TRUE(lines_.empty()) << "requests without an id or a path are ignored";
}

TEST_F(PreviewTest, APhotoThatMayNotBeReadSaysSo) {
  std::string photo = photos_ / "IMG_1.jpg";
  fs::copy_file(kSamplePhotos + "orientation-1.jpg", photo);
  fs::permissions(photos_.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  fs::permissions(photo, fs::perms::owner_read | fs::perms::owner_write);
  // Root reads everything; the answer is prepared as another user on this thread.
  int previous = setfsuid(65534);
  Json answer = library::PreparePreview("P", photo, support_.path(), true);
  setfsuid(previous);
  EXPECT_EQ(answer, (Json{{"id", "P"}, {"error", "原文件没有读取权限，正在显示缓存预览"}}));
}

TEST_F(EditTest, AWholeCropSavesANumberedUprightCopyAndNeverTouchesTheSource) {
  std::string photo = photos_ / "IMG_1.jpg";
  fs::copy_file(kSamplePhotos + "orientation-6.jpg", photo);
  std::string original = *ReadWholeFile(photo);
  auto upright = imaging::CreateFullEditImage(photo, true);
  ASSERT_TRUE(upright.has_value());
  std::ofstream(output_ / "IMG_1（2）.jpg") << "someone else's file";

  Json answer = Edit({{"path", photo}, {"token", "T1"}, {"crop", Crop(0, 0, 1, 1)}, {"date", "2024-05-01T10:00:00"}},
                     output_.path());
  ASSERT_TRUE(answer.contains("photo")) << answer;
  Json record = answer["photo"];
  EXPECT_TRUE(record["thumbnail"].get<std::string>().starts_with("data:image/jpeg;base64,"));
  record.erase("thumbnail");
  EXPECT_EQ(answer["token"], "T1");
  EXPECT_EQ(record, (Json{{"name", "IMG_1（1）.jpg"}, {"path", output_ / "IMG_1（1）.jpg"}, {"format", "JPG"},
                          {"width", upright->width()}, {"height", upright->height()}, {"date", "2024-05-01T10:00:00"},
                          {"sourcePath", photo}, {"size", fs::file_size(output_ / "IMG_1（1）.jpg")}, {"id", record["id"]}}));

  // The saved file is upright by its pixels, with no orientation left to apply.
  auto saved = imaging::CreateFullEditImage(record["path"], true);
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(saved->width(), upright->width());

  Json second = Edit({{"path", photo}, {"token", "T2"}, {"crop", Crop(0, 0, 0.5, 1)}}, output_.path());
  EXPECT_EQ(second["photo"]["name"], "IMG_1（3）.jpg") << "a taken name moves to the next number";
  EXPECT_EQ(second["photo"]["date"], "");
  EXPECT_EQ(second["photo"]["width"], (upright->width() + 1) / 2) << "cropped in its upright appearance";
  EXPECT_EQ(*ReadWholeFile(photo), original);
  EXPECT_EQ(Names(output_.path()), (std::vector<std::string>{"IMG_1（1）.jpg", "IMG_1（2）.jpg", "IMG_1（3）.jpg"}));
  EXPECT_EQ(*ReadWholeFile(output_ / "IMG_1（2）.jpg"), "someone else's file");
}

TEST_F(EditTest, CropLimitsTurnsCancelsAndFailuresAnswerAndLeaveNoTemporaryFile) {
  std::string photo = photos_ / "IMG_1.jpg", pipe = photos_ / "PIPE.jpg";
  fs::copy_file(kSamplePhotos + "orientation-1.jpg", photo);
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  auto upright = imaging::CreateFullEditImage(photo, true);
  ASSERT_TRUE(upright.has_value());
  const Json whole = Crop(0, 0, 1, 1);
  const std::string undecodable = "无法解码原片或裁剪范围无效。没有保存缩略图，也没有修改原片。";
  const std::string unreachable = "原文件不可访问，请重新连接存储卡或选择原文件所在位置。";
  struct Case {
    Json request;
    std::optional<std::string> folder;
    Json answer;  // the whole answer, or the saved photo's width
  };
  const Case cases[] = {
      {{{"path", photo}, {"token", "a"}, {"crop", Crop(0.5, 0, 0.5000005, 1)}}, output_.path(), (upright->width() + 1) / 2},
      {{{"path", photo}, {"token", "b"}, {"crop", Crop(0.5, 0, 0.50001, 1)}}, output_.path(), {{"token", "b"}, {"error", undecodable}}},
      // A crop that is not a dictionary has zero size.
      {{{"path", photo}, {"token", "c"}, {"crop", "whole"}}, output_.path(), {{"token", "c"}, {"error", undecodable}}},
      // The turn reaches the edit (its rule is the edited image's own test's).
      {{{"path", photo}, {"token", "d"}, {"turns", -1}, {"crop", whole}}, output_.path(), upright->height()},
      {{{"path", pipe}, {"token", "T"}, {"crop", whole}}, output_.path(), {{"token", "T"}, {"error", undecodable}}},
      {{{"path", photo}, {"token", "T"}, {"crop", whole}}, output_ / "gone",
       {{"token", "T"}, {"error", "JPG 保存失败，请检查保存位置的写入权限和剩余空间。"}}},
      {{{"path", photo}, {"token", "T"}, {"crop", whole}}, std::nullopt, {{"token", "T"}, {"cancelled", true}}},
      {{{"path", photos_ / "gone.jpg"}, {"token", "T"}}, std::nullopt, {{"token", "T"}, {"error", unreachable}}},
      {{{"path", photo}}, std::nullopt, {{"token", ""}, {"error", unreachable}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request.dump());
    Json answer = Edit(c.request, c.folder);
    EXPECT_EQ(c.answer.is_number() ? answer["photo"]["width"] : answer, c.answer);
  }
  EXPECT_EQ(Names(output_.path()), (std::vector<std::string>{"IMG_1（1）.jpg", "IMG_1（2）.jpg"}));
}

}  // namespace
}  // namespace tw::testing
