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

}  // namespace tw::integrations::texts

namespace tw::integrations::callbacks {

inline constexpr char kAppUpdateState[] = "window.Native.appUpdateState";
inline constexpr char kAppUpdateDownload[] = "window.Native.appUpdateDownload";

}  // namespace tw::integrations::callbacks
