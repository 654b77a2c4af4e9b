#pragma once
// Texts of the integrations shown to the user, and the callbacks they answer on, kept in one place.
namespace tw::integrations {

namespace callbacks {
inline constexpr const char* kWorkflowAppsState = "window.Native.workflowAppsState";
inline constexpr const char* kWorkflowAppOpened = "window.Native.workflowAppOpened";
inline constexpr const char* kComfySetupState = "window.Native.comfySetupState";
inline constexpr const char* kComfySetupProgress = "window.Native.comfySetupProgress";
inline constexpr const char* kComfySetupConnection = "window.Native.comfySetupConnection";
}  // namespace callbacks

namespace texts {

// ---- Companion applications and local image generation ----------------------------------------
inline constexpr const char* kPhotoshopName = "Photoshop";
inline constexpr const char* kPixcakeName = "像素蛋糕";
inline constexpr const char* kAppNotFound = "未检测到{}，你仍可从导出文件夹手动继续";

inline constexpr const char* kDefaultInstanceName = "ComfyUI";
inline constexpr const char* kOfficialDownloadURL = "https://www.comfy.org/download";
inline constexpr const char* kDownloadPageOpened =
    "已打开 ComfyUI 官方下载页。完成安装并创建本地实例后，回到这里点“重新检测”。";
inline constexpr const char* kDownloadPageFailed = "无法打开官方下载页";
inline constexpr const char* kComfyDesktopOpened = "Comfy Desktop 已打开；请选择本地实例并等待服务启动。";
inline constexpr const char* kComfyConnected = "本机 ComfyUI 已连通 · 127.0.0.1:8188";
inline constexpr const char* kComfyNotConnected = "尚未连通。请在 Comfy Desktop 中启动本地实例，再点检查。";
inline constexpr const char* kNoInstance = "请先在 Comfy Desktop 中完成一个本地实例的安装";
inline constexpr const char* kSetupResourcesMissing = "安装包缺少本地模型安装资源";
inline constexpr const char* kInstallerNotStarted = "无法启动安装程序";
inline constexpr const char* kInstallFinished = "本地图生图文件已就绪。若刚安装节点，请重启 Comfy Desktop 后检查连接。";
inline constexpr const char* kInstallFailed = "安装未完成；可再次点击继续，已下载的部分会保留。";

inline constexpr const char* kEventNotice = "notice";
inline constexpr const char* kEventError = "error";
inline constexpr const char* kEventFinished = "finished";
inline constexpr const char* kEventFailed = "failed";

}  // namespace texts
}  // namespace tw::integrations
