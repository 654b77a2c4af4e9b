#pragma once
// What the plug-in bridge and the face batch tell the plug-in and the page, kept in one place.
// Formats take their values through fmt ("{}" placeholders).
namespace tw::bridge::texts {

// To the plug-in.
inline constexpr char kTaskAccepted[] = "主 App 已接收生成任务";
inline constexpr char kDefaultStage[] = "生成中";
inline constexpr char kLayerName[] = "AI 修图 01";
inline constexpr char kHistoryName[] = "岚舟：GRS AI 修图";
inline constexpr char kNoClient[] = "GRS AI 客户端尚未初始化。";
inline constexpr char kGenerationFailed[] = "GRS AI 生成失败";
inline constexpr char kCancelledByPlugin[] = "已停止等待和自动插入；服务商端任务可能仍在执行。";
// The body of the refusal a browser page's handshake gets (HTTP 403).
inline constexpr char kBrowserOriginRefused[] = "Web pages may not connect to the Tidewick plug-in socket.\n";

// Face batch panels.
inline constexpr char kTemplateBeforeTitle[] = "选择修前原片";
inline constexpr char kTemplateAfterTitle[] = "选择修后样片";
inline constexpr char kTemplateButton[] = "选择照片";
inline constexpr char kBatchPhotosTitle[] = "选择需要统一修脸的照片";
inline constexpr char kBatchPhotosButton[] = "加入修脸队列";
inline constexpr char kSaveLocationTitle[] = "选择 AI 生成图片保存文件夹";
inline constexpr char kSaveLocationButton[] = "选择此文件夹";

// Face batch answers.
inline constexpr char kUnreadableTemplate[] = "无法读取这张照片，请改用 JPG、PNG、TIFF 或 HEIC";
inline constexpr char kItemIncomplete[] = "当前照片或样板修前/修后文件不完整";
inline constexpr char kNoSaveLocation[] = "请先设置生成图片保存位置";
inline constexpr char kPreparationFailed[] = "照片预处理失败，请检查原片和样板文件";
inline constexpr char kAIUnavailable[] = "AI 暂时不可用";
inline constexpr char kDefaultPhotoName[] = "照片";
inline constexpr char kDefaultTemplateName[] = "本次拍摄样板";
// What the model is told: the template's name, then the photographer's own words.
inline constexpr char kFaceBatchInstruction[] =
    "输入图像顺序：图1是当前待修照片，图2是样板修前照片，图3是同一张样板的修后照片。分析图2到图3之间的相对后期变化，"
    "并把相同修脸方法应用到图1。严格保留图1人物身份、表情、视线、头部角度、发型、服装、构图和现场光线；"
    "不要把样板人物的固定像素复制到图1。样板名称：{}。{}";
// A retouched photo's file: the source's name, a number in full-width parentheses, the extension.
inline constexpr char kOutputName[] = "{}（{}）.{}";
inline constexpr char kDefaultOutputBase[] = "AI修图";

}  // namespace tw::bridge::texts
