#pragma once
// Texts of the photo output shown to the user, and the callbacks it answers on, kept in one place.
namespace tw::output::texts {

// Trash.
inline constexpr const char* kTrashNothingAccessible = "原文件不可访问，未删除任何照片";
inline constexpr const char* kTrashPartlyMoved = "已移动 {} 张，另有文件无法移动：{}";
inline constexpr const char* kTrashMoved = "已将 {} 张照片移到废纸篓";
inline constexpr const char* kUnknownError = "未知错误";
inline constexpr const char* kTrashRefused = "{} 个条目不是可移动的照片文件";
inline constexpr const char* kTrashReasonSeparator = "；";

// Rated export.
inline constexpr const char* kRatedPanelTitle = "选择星级照片导出位置（后续自动使用此位置）";
inline constexpr const char* kRatedPanelButton = "保存并使用";
inline constexpr const char* kRatedExported = "已导出 {} 张原片{}";
inline constexpr const char* kRatedFailedClause = "，{} 张失败，原片保留";
inline constexpr const char* kRatedFolderUnusable = "导出文件夹不可用，请到高级中重新选择；原片保留";
inline constexpr const char* kRatedCancelled = "已取消导出，星级和原片保留";
inline constexpr const char* kSourceUnreachable = "原文件不可访问";
inline constexpr const char* kCopyFailed = "复制失败";

// Advanced export.
inline constexpr const char* kExportPanelTitle = "选择导出位置";
inline constexpr const char* kExportPanelButton = "导出到这里";
inline constexpr const char* kNothingToExport = "没有可导出的照片";
inline constexpr const char* kExportCancelled = "已取消导出，原片保留";
inline constexpr const char* kExported = "已导出 {} 张{}{}";
inline constexpr const char* kSkippedClause = "，跳过 {} 张";
inline constexpr const char* kFailedClause = "，失败 {} 张";
inline constexpr const char* kUnclassified = "未分类";
inline constexpr const char* kExportErrorDomain = "TidewickExport";
inline constexpr const char* kCannotDecode = "系统无法解码此照片";
inline constexpr const char* kConversionFailed = "照片格式转换失败";

// Review manifest.
inline constexpr const char* kManifestTitle = "岚舟 · 筛片清单";
inline constexpr const char* kManifestProject = "项目：{}";
inline constexpr const char* kManifestWritten = "生成时间：{}";
inline constexpr const char* kManifestTotal = "照片总数：{}";
inline constexpr const char* kManifestCounts = "保留：{}  待定：{}  淘汰：{}  未决定：{}";
inline constexpr const char* kManifestNote = "说明：第一列为不含扩展名的照片编号，可直接用于按编号选片。";
inline constexpr const char* kManifestSection = "[{}]（{} 张）";
inline constexpr const char* kManifestHeader = "编号\t完整文件名\t星级\t问题\t连拍组\t云端建议";
inline constexpr const char* kManifestRow = "{}\t{}\t{}星\t{}\t{}\t{}";
inline constexpr const char* kManifestNoIssues = "无";
inline constexpr const char* kManifestIssueSeparator = "、";
inline constexpr const char* kManifestBestSuffix = "（本组最佳）";
inline constexpr const char* kManifestBest = "本组最佳";
inline constexpr const char* kManifestCloudBestSuffix = "（云端推荐）";
inline constexpr const char* kManifestCloudBest = "云端推荐";
inline constexpr const char* kManifestNone = "—";
inline constexpr const char* kManifestDefaultProject = "拍摄项目";
inline constexpr const char* kManifestPanelTitle = "保存筛片清单";
inline constexpr const char* kManifestPanelButton = "保存";
inline constexpr const char* kManifestFileName = "{}-筛片清单.txt";
inline constexpr const char* kManifestNoPhotos = "当前项目没有照片";
inline constexpr const char* kManifestSaved = "已保存 {} 张照片的编号与筛选结果";
inline constexpr const char* kManifestSaveFailed = "筛片清单保存失败";

// Decisions as the page keeps them under "status".
inline constexpr const char* kKeep = "保留";
inline constexpr const char* kPending = "待定";
inline constexpr const char* kReject = "淘汰";
inline constexpr const char* kUndecided = "未决定";

}  // namespace tw::output::texts

namespace tw::output::callbacks {

inline constexpr const char* kTrashComplete = "window.Native.trashComplete";
inline constexpr const char* kRatingTrashComplete = "window.Native.ratingTrashComplete";
inline constexpr const char* kRatingExportFolder = "window.Native.ratingExportFolder";
inline constexpr const char* kRatingExportComplete = "window.Native.ratingExportComplete";
inline constexpr const char* kExportProgress = "window.Native.exportProgress";
inline constexpr const char* kExportComplete = "window.Native.exportComplete";
inline constexpr const char* kReviewManifestComplete = "window.Native.reviewManifestComplete";
inline constexpr const char* kReviewManifestCancelled = "window.Native.reviewManifestCancelled";

}  // namespace tw::output::callbacks
