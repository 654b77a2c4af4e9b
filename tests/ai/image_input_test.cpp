// Input images of a generation: descriptors decoded into bytes, media type and extension, and
// the multipart body that uploads one of them.
#include "ai/base64.hpp"
#include "ai/grsai_client.hpp"
#include "base/files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

namespace tw::ai {
namespace {

using Client = TWGRSAIClient;

class ImageInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string base = std::filesystem::temp_directory_path() / "tidewick-image-input-XXXXXX";
    ASSERT_NE(mkdtemp(base.data()), nullptr);
    folder_ = base;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = JoinPath(folder_, name);
    EXPECT_FALSE(WriteFileAtomically(path, bytes));
    return path;
  }

  std::string folder_;
};

TEST_F(ImageInputTest, DataURLTakesItsMediaTypeAndExtension) {
  auto image = Client::decodedImage("data:image/jpeg;base64," + Base64Encode("\xFF\xD8jpeg"));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->data, "\xFF\xD8jpeg");
  EXPECT_EQ(image->mime, "image/jpeg");
  EXPECT_EQ(image->extension, "jpg");

  auto webp = Client::decodedImage("data:image/webp;base64," + Base64Encode("RIFF"));
  ASSERT_TRUE(webp);
  EXPECT_EQ(webp->extension, "webp");
}

TEST_F(ImageInputTest, DataURLWithoutAMediaTypeIsPNG) {
  auto image = Client::decodedImage("data:;base64," + Base64Encode("png bytes"));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->mime, "image/png");
  EXPECT_EQ(image->extension, "png");
  auto noSemicolon = Client::decodedImage("data:image/jpeg," + Base64Encode("x"));
  ASSERT_TRUE(noSemicolon);
  EXPECT_EQ(noSemicolon->mime, "image/png");
}

TEST_F(ImageInputTest, DataURLIgnoresCharactersOutsideTheAlphabet) {
  std::string encoded = Base64Encode("hello world");
  encoded.insert(4, "\n ");
  auto image = Client::decodedImage("data:image/png;base64," + encoded);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->data, "hello world");
}

TEST_F(ImageInputTest, DataURLWithoutDataOrCommaIsRefused) {
  EXPECT_FALSE(Client::decodedImage("data:image/png;base64,"));
  EXPECT_FALSE(Client::decodedImage("data:image/png;base64"));
  EXPECT_FALSE(Client::decodedImage("data:image/png;base64,!!!"));
  EXPECT_FALSE(Client::decodedImage("https://example.com/a.png"));
  EXPECT_FALSE(Client::decodedImage(Json(7)));
  EXPECT_FALSE(Client::decodedImage(Json::array()));
}

TEST_F(ImageInputTest, FileDescriptorReadsTheFile) {
  std::string path = Write("Portrait.JPG", "jpeg bytes");
  auto image = Client::decodedImage(Json{{"path", path}, {"mime", "image/jpeg"}});
  ASSERT_TRUE(image);
  EXPECT_EQ(image->data, "jpeg bytes");
  EXPECT_EQ(image->mime, "image/jpeg");
  EXPECT_EQ(image->extension, "jpg");
}

TEST_F(ImageInputTest, FileWithoutExtensionOrMediaTypeIsPNG) {
  std::string path = Write("layer", "pixels");
  auto image = Client::decodedImage(Json{{"path", path}});
  ASSERT_TRUE(image);
  EXPECT_EQ(image->mime, "image/png");
  EXPECT_EQ(image->extension, "png");
  auto typed = Client::decodedImage(Json{{"path", path}, {"mime", "image/webp"}});
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->extension, "webp");
}

TEST_F(ImageInputTest, EmptyMissingOrUnreadableFilesAreRefused) {
  EXPECT_FALSE(Client::decodedImage(Json{{"path", Write("empty.png", "")}}));
  EXPECT_FALSE(Client::decodedImage(Json{{"path", JoinPath(folder_, "missing.png")}}));
  EXPECT_FALSE(Client::decodedImage(Json{{"path", ""}}));
  EXPECT_FALSE(Client::decodedImage(Json::object()));
  // A pipe is not read: the open would wait for a writer forever.
  std::string pipe = JoinPath(folder_, "layer.png");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  EXPECT_FALSE(Client::decodedImage(Json{{"path", pipe}}));
}

TEST(MultipartBodyTest, IsTheExactWireFormat) {
  DecodedImage image{std::string("\x00\x01\r\n\xFF", 5), "image/jpeg", "jpg"};
  std::string body = Client::multipartBodyWithBoundary("Tidewick-B", "tok", "uploads/k.jpg", image);
  std::string expected =
      "--Tidewick-B\r\n"
      "Content-Disposition: form-data; name=\"token\"\r\n\r\n"
      "tok\r\n"
      "--Tidewick-B\r\n"
      "Content-Disposition: form-data; name=\"key\"\r\n\r\n"
      "uploads/k.jpg\r\n"
      "--Tidewick-B\r\n"
      "Content-Disposition: form-data; name=\"file\"; filename=\"image.jpg\"\r\n"
      "Content-Type: image/jpeg\r\n\r\n" +
      std::string("\x00\x01\r\n\xFF", 5) + "\r\n--Tidewick-B--\r\n";
  EXPECT_EQ(body, expected);
}

TEST(Base64Test, RoundTripsEveryLength) {
  std::string bytes;
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(Base64DecodeIgnoringUnknown(Base64Encode(bytes)), bytes);
    bytes.push_back(static_cast<char>(250 - i * 7));
  }
  EXPECT_EQ(Base64Encode("Man"), "TWFu");
  EXPECT_EQ(Base64Encode("Ma"), "TWE=");
  EXPECT_EQ(Base64Encode("M"), "TQ==");
}

}  // namespace
}  // namespace tw::ai
