#pragma once
// What the integrations tell the page, and the callbacks they answer on, kept in one place.
// Formats take their values through fmt ("{}" placeholders).
namespace tw::integrations::texts {

// ---- The update check ----------------------------------------------------------------------

// Statuses of the update state, with the error text that goes with each failure.
inline constexpr char kUpdateNotChecked[] = "尚未检查";
inline constexpr char kUpdateNeedsAddress[] = "需要设置更新地址";
inline constexpr char kUpdateNeedsAddressError[] = "先填写你上传后的 update.json 公网地址。";
inline constexpr char kUpdateInvalidAddress[] = "更新地址无效";
inline constexpr char kUpdateInvalidAddressError[] = "更新地址必须使用 HTTPS；本地测试可使用 file:// 地址。";
inline constexpr char kUpdateChecking[] = "正在检查…";
inline constexpr char kUpdateCheckFailed[] = "检查失败";
inline constexpr char kUpdateNothingReceived[] = "没有收到更新清单";
inline constexpr char kUpdateHTTPStatus[] = "更新服务器返回 HTTP {}";
inline constexpr char kUpdateFileUnreadable[] = "无法读取本地更新清单";
inline constexpr char kUpdateBadManifest[] = "清单格式错误";
inline constexpr char kUpdateNotJSON[] = "未能读取数据，因为它的格式不正确。";
inline constexpr char kUpdateManifestIncomplete[] = "需要 version 与 HTTPS downloadURL";
inline constexpr char kUpdateManifestTooLarge[] = "更新清单超过 1 MB";
inline constexpr char kUpdateAvailable[] = "发现新版本";
inline constexpr char kUpdateUpToDate[] = "已经是最新版";

// Answers to "download".
inline constexpr char kUpdateNothingToDownload[] = "没有可下载的新版本";
inline constexpr char kUpdateDownloadOpened[] = "已在浏览器打开下载页面；下载后请退出旧版再覆盖安装。";
inline constexpr char kUpdateDownloadNotOpened[] = "无法打开下载地址";

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

}  // namespace tw::integrations::texts

namespace tw::integrations::callbacks {

inline constexpr char kAppUpdateState[] = "window.Native.appUpdateState";
inline constexpr char kAppUpdateDownload[] = "window.Native.appUpdateDownload";
inline constexpr const char* kWorkflowAppsState = "window.Native.workflowAppsState";
inline constexpr const char* kWorkflowAppOpened = "window.Native.workflowAppOpened";
inline constexpr const char* kComfySetupState = "window.Native.comfySetupState";
inline constexpr const char* kComfySetupProgress = "window.Native.comfySetupProgress";
inline constexpr const char* kComfySetupConnection = "window.Native.comfySetupConnection";

}  // namespace tw::integrations::callbacks
