#pragma once
// Every text the local analysis writes into its results, in one place.
#include <string_view>

namespace tw::analysis::texts {

// Check names, also the issue names.
inline constexpr std::string_view kOverallBlur = "整体模糊";
inline constexpr std::string_view kFaceOutOfFocus = "人脸失焦";
inline constexpr std::string_view kClosedEyes = "闭眼";
inline constexpr std::string_view kOverexposed = "过曝";
inline constexpr std::string_view kUnderexposed = "欠曝";
inline constexpr std::string_view kTooNoisy = "噪点过高";

// Review reasons.
inline constexpr std::string_view kFaceDetectionIncomplete = "人脸检测未完成";
inline constexpr std::string_view kEyesNotVisible = "侧脸、脸部过小或眼睛不可见";
inline constexpr std::string_view kEyesNearThreshold = "眼睛开合接近阈值，请复核";
inline constexpr std::string_view kFaceTooSmallForFocus = "脸部过小，无法可靠检查对焦";
inline constexpr std::string_view kFaceDetailLow = "人脸局部细节偏低，需复核对焦";

inline constexpr std::string_view kNoIssueReason = "未发现已启用的明显问题";
inline constexpr std::string_view kIssueSeparator = "、";
inline constexpr std::string_view kUndecodable = "无法解码照片预览";
inline constexpr std::string_view kNoReadPermission = "照片文件没有读取权限";

// Strictness names with their own preset row; any other word is standard.
inline constexpr std::string_view kLenient = "宽松";
inline constexpr std::string_view kStrict = "严格";

}  // namespace tw::analysis::texts
