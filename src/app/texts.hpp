#pragma once
// Texts of the application shell shown to the user, kept in one place.
namespace tw::app::texts {

inline constexpr const char* kWindowTitle = "岚舟";
inline constexpr const char* kWindowTitleTestMode = "岚舟 · 合成照片测试";
inline constexpr const char* kUnknownVersion = "未知";
inline constexpr const char* kPanelAlreadyOpen = "请先完成或取消当前文件选择窗口。";
inline constexpr const char* kOpenedFromPlugin = "已从 Photoshop 打开：{}";
inline constexpr const char* kCardDetected = "检测到存储卡 {}";

inline constexpr const char* kLensEngine = "LibRaw + Lensfun";
inline constexpr const char* kLensDetailOn =
    "RAW 预览、AI 临时图和格式转换导出会自动使用可用的相机/镜头元数据矫正；原片复制不修改。";
inline constexpr const char* kLensDetailOff = "镜头矫正已关闭；原片始终不修改。";

inline constexpr const char* kChooseFolderTitle = "选择包含 CR3/JPG 的文件夹";
inline constexpr const char* kChoosePhotosTitle = "选择要导入的照片（按住 Ctrl 多选，Shift 连选）";
inline constexpr const char* kChoosePhotosButton = "导入所选照片";

}  // namespace tw::app::texts
