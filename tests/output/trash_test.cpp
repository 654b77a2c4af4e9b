// Moving rejected photos to the trash: exactly the ids whose files moved are reported, and a file
// on a volume without a trash stays where it is.
#include "support/controller_fixture.hpp"
#include "support/shoot_files.hpp"

#include <gtest/gtest.h>

namespace tw::testing {
namespace {

class TrashTest : public ControllerTest {
 protected:
  std::string Photo(const std::string& name) { return CopySample("orientation-1.jpg", shoot_.path(), name); }
  // Sends the message; nothing in the shoot may change but the files meant to move.
  void Trash(const Json& body, const std::set<std::string>& moving = {}) {
    FolderSnapshot before(shoot_.path());
    Send(body);
    EXPECT_EQ(before.Changes(moving), std::vector<std::string>{}) << "a file not meant to move changed";
  }
  Json Answer(const std::string& callback) {
    auto answers = Payloads(callback);
    EXPECT_EQ(answers.size(), 1u);
    return answers.empty() ? Json() : answers.back();
  }
  TempFolder shoot_;
};

TEST_F(TrashTest, NothingMovesWithoutAStringIdAndAPathThatIsThere) {
  std::string numeric = Photo("NUMERIC.jpg");
  std::string unnamed = Photo("UNNAMED.jpg");
  const Json nothing = {{"token", ""}, {"removedIDs", Json::array()}, {"message", "原文件不可访问，未删除任何照片"}};
  for (const char* action : {"trashPhotos", "trashRatedPhotos"}) {
    Trash({{"action", action}});
    Trash({{"action", action}, {"photos", Json::array({{{"id", "A"}, {"path", shoot_ / "gone.jpg"}}})}});
    Trash({{"action", action},
           {"photos", Json::array({{{"id", 7}, {"path", numeric}}, {{"id", ""}, {"path", unnamed}}, {{"id", "X"}}, 12})}});
  }
  // Each kind answers on its own callback.
  EXPECT_EQ(Payloads("window.Native.trashComplete"), std::vector<Json>(3, nothing));
  EXPECT_EQ(Payloads("window.Native.ratingTrashComplete"), std::vector<Json>(3, nothing));
}

TEST_F(TrashTest, MovedFilesGoToTheTrashAndTheirIdsAreReported) {
  std::string a = Photo("A.jpg"), b = Photo("B.jpg"), c = Photo("C.jpg");
  std::string bBytes = ReadBytes(b);
  Trash({{"action", "trashPhotos"},
        {"photos", Json::array({{{"id", "ID-A"}, {"path", a}},
                                {{"id", "ID-B"}, {"path", b}},
                                {{"id", "ID-B2"}, {"path", b}},  // two records of one file
                                {{"id", "ID-C"}, {"path", c}},
                                {{"id", "ID-GONE"}, {"path", shoot_ / "gone.jpg"}}})}},
        {"A.jpg", "B.jpg", "C.jpg"});
  EXPECT_EQ(Answer("window.Native.trashComplete"),
            (Json{{"token", ""}, {"removedIDs", {"ID-A", "ID-B", "ID-B2", "ID-C"}}, {"message", "已将 4 张照片移到废纸篓"}}));
  EXPECT_TRUE(Names(shoot_.path()).empty());
  EXPECT_EQ(ReadBytes(HomeTrashFiles() + "/B.jpg"), bBytes) << "moved, not deleted";

  std::string rejected = Photo("REJECT.jpg");
  Trash({{"action", "trashRatedPhotos"}, {"token", "T-1"}, {"photos", Json::array({{{"id", "R"}, {"path", rejected}}})}},
        {"REJECT.jpg"});
  EXPECT_EQ(Answer("window.Native.ratingTrashComplete"),
            (Json{{"token", "T-1"}, {"removedIDs", {"R"}}, {"message", "已将 1 张照片移到废纸篓"}}));
}

TEST_F(TrashTest, AFileOnAVolumeWithoutTrashIsReportedAsNotMovedAndStaysInPlace) {
  if (!NoTrashVolumeAvailable()) GTEST_SKIP() << "no file system without a trash on this machine";
  TempFolder volume(kNoTrashPrefix);
  std::string card = CopySample("orientation-2.jpg", volume.path(), "CARD.jpg");
  std::string cardBytes = ReadBytes(card);
  std::string a = Photo("A.jpg"), b = Photo("B.jpg");

  Trash({{"action", "trashPhotos"},
        {"photos", Json::array({{{"id", "ID-A"}, {"path", a}}, {{"id", "ID-CARD"}, {"path", card}}, {{"id", "ID-B"}, {"path", b}}})}},
        {"A.jpg", "B.jpg"});
  Json answer = Answer("window.Native.trashComplete");
  EXPECT_EQ(answer["removedIDs"], Json::array({"ID-A", "ID-B"}));
  const std::string prefix = "已移动 2 张，另有文件无法移动：";
  std::string message = answer["message"];
  ASSERT_EQ(message.rfind(prefix, 0), 0u) << message;
  EXPECT_GT(message.size(), prefix.size()) << "the system's text follows";
  EXPECT_EQ(ReadBytes(card), cardBytes) << "neither moved nor deleted";
}

}  // namespace
}  // namespace tw::testing
