#pragma once
// Crop-and-rotate edits saved as new numbered JPEGs beside nothing the user owns: the photo file
// is never written, and an existing file is never replaced.
#include "base/json.hpp"

#include <string>

namespace tw::library {

inline constexpr const char* kEditSourceUnreachable = "原文件不可访问，请重新连接存储卡或选择原文件所在位置。";
inline constexpr const char* kEditUndecodable = "无法解码原片或裁剪范围无效。没有保存缩略图，也没有修改原片。";
inline constexpr const char* kEditSaveFailed = "JPG 保存失败，请检查保存位置的写入权限和剩余空间。";
inline constexpr const char* kEditPanelTitle = "选择修整后 JPG 的保存文件夹（原片不变）";
inline constexpr const char* kEditPanelButton = "另存新照片";
inline constexpr double kEditQuality = 0.96;

struct EditRequest {
  std::string path;
  std::string token;
  double x = 0, y = 0, w = 0, h = 0;
  long turns = 0;
  std::string date;
};

EditRequest ReadEditRequest(const Json& body);

// Worker thread. Decodes, rotates, crops and saves into folder; returns the photoEditResult payload.
Json SaveEditedPhoto(const EditRequest& request, const std::string& folder, bool lens);

// "<name>（n）.jpg" for the first n from 1 that can be created exclusively; the bytes are written
// under that name only once complete. Returns the path, or the error text: kEditSaveFailed when the
// temporary file could not be written or every name is taken, the system's text when a copy failed
// otherwise.
struct NumberedWrite {
  std::string path;
  std::string error;
};
NumberedWrite WriteNumberedJPEG(const std::string& folder, const std::string& stem, const std::string& bytes);

}  // namespace tw::library
