#pragma once
// Every text of the AI service client that a user or a caller sees, in one place. Formats take
// their values through fmt ("{}" placeholders).

namespace tw::ai::texts {

// Status words and their details. Other features compare against the words themselves.
inline constexpr char kStatusConfigured[] = "已配置";
inline constexpr char kDetailConfigured[] = "API 密钥已保存，可执行连通性检查";
inline constexpr char kStatusUnchecked[] = "未检查";
inline constexpr char kDetailUnchecked[] = "请填写 API 密钥后执行连通性检查";
inline constexpr char kStatusSaved[] = "已保存";
inline constexpr char kDetailSaved[] = "API 密钥已保存在当前用户的本地配置中";
inline constexpr char kStatusInvalidAddress[] = "地址无效";
inline constexpr char kDetailInvalidAddress[] = "请填写纯 HTTPS 接口网址，不含密钥或查询参数。此次更改未保存。";
inline constexpr char kStatusNotConfigured[] = "未配置";
inline constexpr char kDetailNotConfigured[] = "请先填写 GRS AI API 密钥";
inline constexpr char kStatusChecking[] = "检查中";
inline constexpr char kDetailChecking[] = "正在连接 GRS AI…";
inline constexpr char kStatusConnectionFailed[] = "连接失败";
inline constexpr char kStatusKeyInvalid[] = "密钥无效";
inline constexpr char kStatusServiceFault[] = "服务异常";
inline constexpr char kDetailHTTPStatus[] = "GRS AI 返回 HTTP {}";
inline constexpr char kStatusRateLimited[] = "请求过于频繁";
inline constexpr char kDetailRateLimited[] = "网络已连通，但服务商正在限流，请稍后再检查。";
inline constexpr char kStatusConnected[] = "连接正常";
inline constexpr char kDetailConnected[] = "节点返回 API 数据（HTTP {}），未提交生成；不代表已验证模型额度。";
inline constexpr char kStatusBadFormat[] = "响应格式错误";
inline constexpr char kDetailBadFormat[] = "网络有响应，但不是有效 API 数据，请检查节点地址或网络拦截。";
inline constexpr char kStatusUnexpectedAnswer[] = "节点响应异常";
inline constexpr char kDetailUnexpectedAnswer[] = "网络已连通，但接口返回 HTTP {}";

// Masked key.
inline constexpr char kMaskedKeyShort[] = "已保存";
inline constexpr char kMaskedKeyNone[] = "未设置";

inline constexpr char kUnknownError[] = "未知错误";

// Vision requests.
inline constexpr char kVisionNotConfigured[] = "请先在设置中填写 GRS AI API 密钥";
inline constexpr char kVisionImageCount[] = "每次云端比较支持 1～3 张图片";
inline constexpr char kVisionImageMissing[] = "无法准备云端识别预览图";
inline constexpr char kVisionHTTPFailed[] = "云端识别失败（HTTP {}）";
inline constexpr char kVisionNoResult[] = "云端服务未返回可识别的筛片结果";
inline constexpr char kVisionImageLabel[] = "图片 {}";

// Generation errors.
inline constexpr char kGenerationNotConfigured[] = "请先在主 App 设置 GRS AI API 密钥";
inline constexpr char kGenerationNoSaveLocation[] = "请先设置 AI 生成图片保存位置";
inline constexpr char kGenerationNoInput[] = "修图提示词或原图缺失";
inline constexpr char kGenerationBadImage[] = "第 {} 张输入图片格式无效";
inline constexpr char kUploadTokenFailed[] = "获取上传凭证失败（HTTP {}）：{}";
inline constexpr char kUploadTokenIncomplete[] = "GRS AI 上传凭证缺少 token、key、url 或 domain";
inline constexpr char kUploadFailed[] = "第 {} 张图片上传失败（HTTP {}）：{}";
inline constexpr char kGenerateFailed[] = "GRS AI HTTP {}";
inline constexpr char kNoTaskID[] = "GRS AI 未返回任务 ID";
inline constexpr char kPollLimit[] = "GRS AI 超过 6 分钟仍未完成，请稍后重试";
inline constexpr char kTaskViolation[] = "GRS AI 内容审核未通过";
inline constexpr char kTaskFailed[] = "GRS AI 生成失败";
inline constexpr char kPollFailed[] = "GRS AI 查询失败（HTTP {}）";
inline constexpr char kNoResultImage[] = "GRS AI 未返回可下载的图片";
inline constexpr char kDownloadFailed[] = "结果图片下载失败（HTTP {}）";
inline constexpr char kResultTooLarge[] = "结果图片超过 30 MB，已停止自动回传";
inline constexpr char kCancelled[] = "任务已取消";
inline constexpr char kSaveFailed[] = "无法保存生成结果：{}";

// Generation progress: stage and detail of each step.
inline constexpr char kStageAccepted[] = "已收到生成请求";
inline constexpr char kDetailAccepted[] = "正在准备安全上传";
inline constexpr char kStageUploadToken[] = "正在申请第 {} 张图片的上传凭证";
inline constexpr char kDetailUploadToken[] = "不会消耗生成额度";
inline constexpr char kStageUpload[] = "正在上传第 {} 张输入图片";
inline constexpr char kDetailUpload[] = "上传完成后才会提交生成";
inline constexpr char kStageSubmit[] = "输入图片上传完成，正在提交生成";
inline constexpr char kDetailSubmit[] = "从此步骤开始可能产生额度费用";
inline constexpr char kStageRetry[] = "提交超时，正在自动重试";
inline constexpr char kDetailRetry[] = "本次仅重试一次";
inline constexpr char kStagePolling[] = "GRS AI 正在生成";
inline constexpr char kDetailPolling[] = "已等待 {} 秒";
inline constexpr char kStageDownload[] = "正在下载生成结果";
inline constexpr char kDetailDownload[] = "将保存到本地";
inline constexpr char kStageDone[] = "生成完成";
inline constexpr char kDetailDone[] = "正在送回 Photoshop";

// Result file: "AI修图-<local time>.<extension>"; a counter is added when the name is taken.
inline constexpr char kResultFilePrefix[] = "AI修图-";

// Transport failures, worded like the platform's own network errors.
inline constexpr char kTransportTimedOut[] = "请求超时。";
inline constexpr char kTransportCannotConnect[] = "未能连接到服务器。";
inline constexpr char kTransportCannotResolve[] = "未能找到使用指定主机名的服务器。";
inline constexpr char kTransportSecureConnection[] = "发生了 SSL 错误，无法建立与该服务器的安全连接。";
inline constexpr char kTransportConnectionLost[] = "网络连接已中断。";
inline constexpr char kTransportBadURL[] = "网址无效或不受支持。";
inline constexpr char kTransportOther[] = "网络请求失败（错误 {}）。";

}  // namespace tw::ai::texts
