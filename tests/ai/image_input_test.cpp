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

TEST(ImageInputTest, DescriptorsGiveBytesMediaTypeAndExtension) {
  std::string folder = std::filesystem::temp_directory_path() / "tidewick-image-input-XXXXXX";
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  const std::string portrait = JoinPath(folder, "Portrait.JPG"), layer = JoinPath(folder, "layer");
  ASSERT_FALSE(WriteFileAtomically(portrait, "jpeg bytes"));
  ASSERT_FALSE(WriteFileAtomically(layer, "pixels"));
  std::string spaced = Base64Encode("hello world");
  spaced.insert(4, "\n ");
  struct Case {
    Json descriptor;
    std::string data, mime, extension;
  };
  for (const Case& input : {
           Case{"data:image/jpeg;base64," + Base64Encode("\xFF\xD8jpeg"), "\xFF\xD8jpeg", "image/jpeg", "jpg"},
           Case{"data:image/webp;base64," + Base64Encode("RIFF"), "RIFF", "image/webp", "webp"},
           // Without a media type, or without ";base64", a data URL is PNG.
           Case{"data:;base64," + Base64Encode("png bytes"), "png bytes", "image/png", "png"},
           Case{"data:image/jpeg," + Base64Encode("x"), "x", "image/png", "png"},
           // Characters outside the alphabet are skipped.
           Case{"data:image/png;base64," + spaced, "hello world", "image/png", "png"},
           Case{Json{{"path", portrait}, {"mime", "image/jpeg"}}, "jpeg bytes", "image/jpeg", "jpg"},
           Case{Json{{"path", layer}}, "pixels", "image/png", "png"},
           Case{Json{{"path", layer}, {"mime", "image/webp"}}, "pixels", "image/webp", "webp"}}) {
    auto image = Client::decodedImage(input.descriptor);
    ASSERT_TRUE(image) << input.descriptor;
    EXPECT_EQ(image->data, input.data);
    EXPECT_EQ(image->mime, input.mime);
    EXPECT_EQ(image->extension, input.extension);
  }

  // A pipe is not read: the open would wait for a writer forever.
  const std::string pipe = JoinPath(folder, "layer.png"), empty = JoinPath(folder, "empty.png");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  ASSERT_FALSE(WriteFileAtomically(empty, ""));
  for (const Json& refused : {Json("data:image/png;base64,"), Json("data:image/png;base64"),
                              Json("data:image/png;base64,!!!"), Json("https://example.com/a.png"), Json(7),
                              Json::array(), Json{{"path", empty}}, Json{{"path", JoinPath(folder, "missing.png")}},
                              Json{{"path", ""}}, Json::object(), Json{{"path", pipe}}}) {
    EXPECT_FALSE(Client::decodedImage(refused)) << refused;
  }
  std::filesystem::remove_all(folder);
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
  EXPECT_EQ(Base64Encode("Ma"), "TWE=");
  EXPECT_EQ(Base64Encode("M"), "TQ==");
}

}  // namespace
}  // namespace tw::ai
