#pragma once
// Texts of the project workbench shown to the user or written into its files, and the callbacks
// it answers on, kept in one place.
namespace tw::workbench::texts {

// Project archives.
inline constexpr const char* kArchiveFormat = "tidewick-project";
// What the page's stored project is tagged with.
inline constexpr const char* kPageStateFormat = "tidewick-page-state";
inline constexpr const char* kArchiveFileName = "拍摄项目.tideproject";
inline constexpr const char* kArchiveExtension = "tideproject";
inline constexpr const char* kArchiveSavePanelTitle = "保存拍摄项目（不含原片）";
inline constexpr const char* kArchiveOpenPanelTitle = "打开拍摄项目档案";
inline constexpr const char* kArchiveInvalid = "项目格式无效，没有保存";
inline constexpr const char* kArchiveTooLarge = "项目档案超过 20 MB，请缩小项目";
inline constexpr const char* kArchiveWriteFailed = "无法保存项目，请检查目录权限与磁盘空间";
inline constexpr const char* kArchiveOpenTooLarge = "档案超过 20 MB，当前项目未改变";
inline constexpr const char* kArchiveNotSupported = "不是支持的项目档案，当前项目未改变";
inline constexpr const char* kBackupMissing = "找不到这份备份，当前项目未改变";
inline constexpr const char* kArchiveBackupFailed = "当前项目备份失败，已取消切换，原项目保持不变";

// The reference photo.
inline constexpr const char* kReferencePanelTitle = "选择整组风格参考图";
inline constexpr const char* kReferenceUnreadable = "参考图无法读取，原有选择不变。";

// Style preview.
inline constexpr const char* kStyleBusy = "上一项本地处理正在完成或停止，请稍后重新预览";
inline constexpr const char* kStyleSelectionInvalid = "请选择参考图和 1–256 张待处理照片";
inline constexpr const char* kStylePhotoPathInvalid = "照片路径无效";
inline constexpr const char* kStyleReferenceUnusable = "参考图不可读或没有可用的中间调像素";
inline constexpr const char* kStylePhotoUnusable = "照片无法读取、参数无效或读取时发生变化；请重新选择并预览";
inline constexpr const char* kStyleRenderFailed = "本地色彩处理未能完成";
inline constexpr const char* kStyleReferenceChanged = "参考图已改变，请重新预览";

// Style export.
inline constexpr const char* kStylePreviewExpired = "样片预览已失效，请重新预览";
inline constexpr const char* kStyleExportPanelTitle = "选择整组风格副本的保存目录";
inline constexpr const char* kStyleFolderPrefix = "整组风格-";
inline constexpr const char* kStyleFolderFailed = "无法创建输出目录，请检查保存权限";
inline constexpr const char* kStyleSourceChanged = "原片已变化或不可用，停止导出；已完成的副本保留";
inline constexpr const char* kStylePixelsInvalid = "原片像素无效或超过 8000 万像素保护上限，已停止";
inline constexpr const char* kStyleFullSizeFailed = "无法按原尺寸处理照片，未使用缩略图替代";
inline constexpr const char* kStyleStoppedBeforeWriting = "处理时原片变化或任务已停止，未写入当前副本";
inline constexpr const char* kStyleWriteFailed = "JPEG 写入失败，请检查磁盘空间；已完成副本保留";
inline constexpr const char* kStyleCopyName = "{:04d}-{}-风格.jpg";
inline constexpr const char* kStyleRunRecordName = "处理记录.json";
inline constexpr const char* kStyleRunFormat = "tidewick-style-run";
inline constexpr const char* kStyleExported = "已另存 {} 张 JPEG 副本。{}{}";
inline constexpr const char* kStyleSourcesKept = "原片不变。";
inline constexpr const char* kStyleRecordSaved = "参数记录已保存。";
inline constexpr const char* kStyleRecordNotSaved = "处理记录未保存，请检查目录权限。";

// Relinking.
inline constexpr const char* kRelinkPanelTitle = "选择原片文件夹（按文件名关联，重名不自动选择）";
inline constexpr const char* kProjectThumbnailsFolder = "ProjectThumbnails";

// The health report.
inline constexpr const char* kReportFileName = "岚舟-诊断报告.txt";
inline constexpr const char* kReportSaved = "脱敏诊断报告已保存";
inline constexpr const char* kReportSaveFailed = "诊断报告保存失败，请检查写入权限";
inline constexpr const char* kUnknownVersion = "未知";
inline constexpr const char* kBridgeRow = "Photoshop 连接";
inline constexpr const char* kBridgeConnected = "已连接 Photoshop 插件";
inline constexpr const char* kBridgeNotConnected = "未连接；不影响 App 独立筛片和本地风格处理";
inline constexpr const char* kSaveLocationRow = "生成保存位置";
inline constexpr const char* kSaveLocationWritable = "保存位置可写（路径不写入报告）";
inline constexpr const char* kSaveLocationUnusable = "未设置、目录不可用或没有写入权限，请重新选择文件夹";
inline constexpr const char* kWriteCheckPrefix = "tidewick-write-check-";
inline constexpr const char* kWriteCheckContent = "Tidewick write check";
inline constexpr const char* kLocalRow = "本地处理";
inline constexpr const char* kLocalMessage = "libvips 图像处理已载入；整组风格不依赖云端或生图模型";
inline constexpr const char* kLocalModelRow = "本地生图模型（可选）";
inline constexpr const char* kLocalModelMessage = "模型文件 {} / 4；GGUF 节点{}；依赖{}。这不代表已经完成真实推理。";
inline constexpr const char* kConfigured = "已配置";
inline constexpr const char* kNotConfigured = "未配置";
inline constexpr const char* kCloudRow = "云端接口";
inline constexpr const char* kCloudConnected = "连接正常";
inline constexpr const char* kCloudNotConfigured = "未配置；不影响本地处理";

// What redaction puts in place of what it hides.
inline constexpr const char* kHiddenBearer = "Bearer [已隐藏]";
inline constexpr const char* kHiddenKey = "[密钥已隐藏]";
inline constexpr const char* kHiddenLabelledValue = "$1=[已隐藏]";
inline constexpr const char* kHiddenPath = "[本地路径已隐藏]";
inline constexpr const char* kHiddenCredentials = "$1[凭据已隐藏]@";

}  // namespace tw::workbench::texts

namespace tw::workbench::callbacks {

inline constexpr const char* kProjectArchiveSaved = "window.Native.projectArchiveSaved";
inline constexpr const char* kProjectArchiveLoaded = "window.Native.projectArchiveLoaded";
inline constexpr const char* kProjectBackups = "window.Native.projectBackups";
inline constexpr const char* kProjectReferenceSelected = "window.Native.projectReferenceSelected";
inline constexpr const char* kProjectStylePreview = "window.Native.projectStylePreview";
inline constexpr const char* kProjectStyleComplete = "window.Native.projectStyleComplete";
inline constexpr const char* kProjectPhotosRelinked = "window.Native.projectPhotosRelinked";
inline constexpr const char* kWorkbenchHealth = "window.Native.workbenchHealth";

}  // namespace tw::workbench::callbacks
