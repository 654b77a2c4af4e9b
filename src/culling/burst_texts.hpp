#pragma once
// What the burst comparison tells the page, kept in one place: every text is shown exactly as
// written here. (What the model is asked is in culling_texts.hpp.)
namespace tw::culling::texts {

inline constexpr const char* kBurstAlreadyRunning = "已有连拍比较正在进行";
inline constexpr const char* kBurstInvalidPhotos = "比较照片列表无效";
inline constexpr const char* kBurstPhotoCount = "比较支持 2～60 张照片";
inline constexpr const char* kBurstUnreadableFrame = "无法读取一张比较照片，请检查存储卡或文件位置；没有提交本轮请求";
// Followed by the request's own error text.
inline constexpr const char* kBurstRequestFailed = "网络或 AI 比较不可用：";
inline constexpr const char* kBurstUnknownReason = "未知原因";
inline constexpr const char* kBurstInvalidAnswer = "AI 返回的比较结果格式无效，未修改照片状态";
// Followed by the model's own reason.
inline constexpr const char* kBurstUndecided = "候选差距不明确，建议人工比较：";
// The reason of a won tournament whose comparisons gave none.
inline constexpr const char* kBurstCompleted = "已完成逐轮比较";

}  // namespace tw::culling::texts
