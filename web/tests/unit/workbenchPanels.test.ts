import { describe, expect, it } from "vitest";
import { readAIServiceState } from "../../src/state/aiService";
import { readAppUpdateState } from "../../src/state/appUpdate";
import { cloudRecordOf, cloudVerdictOf } from "../../src/state/cloudReview";
import { readComfySetup, SETUP_LOG_MAX } from "../../src/state/comfySetup";
import { readCompanionApps } from "../../src/state/companionApps";
import { folderOf } from "../../src/state/faceBatch";
import { readReference } from "../../src/state/projectStyle";
import { readHealthReport } from "../../src/state/health";
import { connectedPlugins, readBridgeStatus } from "../../src/state/pluginBridge";
import { readRecentProjects } from "../../src/state/recentProjects";
import { analysed, makeWorkbench, photo, press, started } from "./helpers";

const SAVED = { configured: true, maskedKey: "sk-…9f3a", baseURL: "https://api.grsai.com", model: "nano-banana-2-lite", status: "已保存", detail: "API 密钥已保存在当前用户的本地配置中" };
const BASE = { currentVersion: "0.7.1", currentBuild: "1", manifestURL: "https://example.com/update.json", automatic: true };
const FOUND = { ...BASE, status: "发现新版本", available: true, latestVersion: "0.8.0", latestBuild: "12", downloadURL: "https://example.com/tidewick-0.8.0.tar.gz", releaseNotes: "更快的导入", publishedAt: "2026-12-01", sha256: "" };
const SETUP = { busy: 0, dependencyReady: false, desktopInstalled: 1, instanceInstalled: 1, instanceName: "ComfyUI", instancePath: "/home/ann/ComfyUI", memoryGB: 23, missingBytes: 6793621505, modelRoot: "/home/ann/ComfyUI/ComfyUI/models", modelsReady: 0, modelsTotal: 4, nodeReady: true };
const RUNNING = { listening: true, connected: true, connectedCount: 2, mode: "local", port: 32188, saveLocation: "/home/ann/AI 修图", grsAI: SAVED, error: "" };

it("sends a typed AI key trimmed and one check at a time; reads AI, plug-in, health, update, ComfyUI and app reports field by field; saves update settings once known, offers only an HTTPS download of a newer version, installs once until answered", () => {
  const { workbench, posted, actions } = makeWorkbench();
  const h = workbench.handlers();
  workbench.ai.save("  sk-secret-key-9f3a \n", " https://api.grsai.com ", "nano-banana-2-lite");
  workbench.ai.test();
  workbench.ai.test();
  expect(posted).toEqual([{ action: "saveGRSAISettings", apiKey: "sk-secret-key-9f3a", baseURL: "https://api.grsai.com", model: "nano-banana-2-lite" }, { action: "testGRSAIConnection" }]);
  for (const report of [SAVED, {}]) h.grsAIState!(report);
  expect([workbench.ai.checking.value, workbench.ai.state.value, readAIServiceState({ configured: "yes", maskedKey: 5, baseURL: ["x"] })])
    .toEqual([false, SAVED, { configured: null, maskedKey: null, baseURL: "", model: "", status: null, detail: "" }]);
  const { mode: _, ...shown } = RUNNING;
  h.bridgeStatus!(RUNNING);
  expect(workbench.bridge.value).toEqual({ ...shown, grsAI: { configured: true, model: "nano-banana-2-lite", status: "已保存", detail: SAVED.detail } });
  // An empty report is a program that never started its plug-in service.
  h.bridgeStatus!({});
  expect([workbench.bridge.value, readBridgeStatus({ listening: "yes", connectedCount: -3, port: 99999, grsAI: "broken", error: { text: "x" } })])
    .toEqual([null, { listening: null, connected: null, connectedCount: null, port: null, saveLocation: null, grsAI: null, error: "" }]);
  const counts = [{ connected: true, connectedCount: 3 }, { connected: true }, { connected: false }, { port: 1 }];
  expect(counts.map((s) => connectedPlugins(readBridgeStatus(s)!))).toEqual([3, "some", 0, null]);
  for (const report of [{ rows: [{ name: "云端接口", ok: true, message: "连接正常" }] }, { rows: "none" }]) workbench.workbenchHealth(report);
  expect([workbench.health.value.report?.rows.length, readHealthReport({ version: 2, rows: [null, { name: 7, ok: "yes", message: "m" }, { ok: 0 }] })])
    .toEqual([1, { version: "", build: "", rows: [{ name: "", ok: null, message: "m" }, { name: "", ok: false, message: "" }] }]);
  workbench.appUpdate.setAutomatic(false);
  h.appUpdateState!({ ...BASE, status: "尚未检查" });
  workbench.appUpdate.saveAddress("  file:///tmp/update.json ");
  h.appUpdateDownload!({ success: true, message: "已在浏览器打开下载页面" });
  expect([actions("saveUpdateSettings"), workbench.appUpdate.download.value]).toEqual([[{ action: "saveUpdateSettings", manifestURL: "file:///tmp/update.json", automatic: true }], null]);
  for (const report of [FOUND, null, { ...FOUND, status: 3 }]) h.appUpdateState!(report);
  expect(workbench.appUpdate.state.value?.found).toEqual({ version: "0.8.0", build: "12", releaseNotes: "更快的导入", publishedAt: "2026-12-01", sha256: "" });
  for (const odd of [{ downloadURL: "javascript:alert(1)" }, { available: "true" }, { latestVersion: 8 }]) expect(readAppUpdateState({ ...FOUND, ...odd })?.found).toBeNull();
  expect([readAppUpdateState({ status: "检查失败", automatic: "yes", checking: 1 }), readAppUpdateState({ ...FOUND, releaseNotes: "x".repeat(10_000) })!.found!.releaseNotes.length]).toMatchObject([{ automatic: null, checking: false, manifestURL: "" }, 4000]);
  workbench.appUpdate.startDownload();
  for (const answer of ["没有可下载的新版本", { success: "yes", message: "无法打开下载地址" }, { success: true, message: "late" }]) h.appUpdateDownload!(answer);
  expect(workbench.appUpdate.download.value).toEqual({ success: false, message: "无法打开下载地址" });
  h.appUpdateState!({ ...BASE, status: "正在检查…", checking: true });
  workbench.appUpdate.check("");
  expect(actions("checkForAppUpdate")).toHaveLength(0);
  expect(readComfySetup(SETUP)).toEqual({ ...SETUP, busy: false, desktopInstalled: true, instanceInstalled: true });
  expect([readComfySetup({ ...SETUP, modelsReady: 5, missingBytes: -1, memoryGB: 1.5, nodeReady: "yes", busy: "1" }), readComfySetup({})]).toMatchObject([{ modelsReady: null, modelsTotal: 4, missingBytes: null, memoryGB: null, nodeReady: null, busy: false }, null]);
  expect([readCompanionApps({ photoshop: { installed: 1, name: "Photoshop", path: "/opt/photoshop/photoshop" }, pixcake: { installed: "1", name: "像素蛋糕" } }), readCompanionApps({ photoshop: [] })])
    .toEqual([{ photoshop: { installed: true, name: "Photoshop" }, pixcake: { installed: null, name: "像素蛋糕" } }, { photoshop: null, pixcake: null }]);
  const answer = h.workflowAppOpened!;
  answer({ success: true, name: "Photoshop", message: "" });
  expect(workbench.companionApps.opened.value).toBeNull();
  workbench.companionApps.open("pixcake");
  answer({ success: 1, name: "像素蛋糕", message: "未检测到像素蛋糕，你仍可从导出文件夹手动继续" });
  answer({ success: true, name: "Photoshop", message: "" });
  expect(workbench.companionApps.opened.value).toEqual({ success: false, name: "像素蛋糕", message: "未检测到像素蛋糕，你仍可从导出文件夹手动继续" });
  h.comfySetupState!(SETUP);
  workbench.comfy.install();
  workbench.comfy.install();
  h.comfySetupState!({ ...SETUP, busy: 1 });
  workbench.comfy.install();
  expect(actions("installComfyModels")).toHaveLength(1);
  for (const line of [{ event: "step", message: "下载模型" }, null, { event: 3 }]) h.comfySetupProgress!(line);
  expect(workbench.comfy.log.value).toEqual([{ event: "step", message: "下载模型" }]);
  for (let i = 0; i < SETUP_LOG_MAX + 5; i++) h.comfySetupProgress!({ event: "ready", message: `#${i}` });
  expect([workbench.comfy.log.value.length, workbench.comfy.log.value.at(-1)?.message]).toEqual([SETUP_LOG_MAX, `#${SETUP_LOG_MAX + 4}`]);
  // The start's probe is shown too; a check lasts until each asked probe answered.
  h.comfySetupConnection!({ connected: false, message: "尚未连通。" });
  workbench.comfy.checkConnection();
  workbench.comfy.checkConnection();
  h.comfySetupConnection!({ connected: "true", message: "本机 ComfyUI 已连通" });
  const checks = [workbench.comfy.connection.value?.connected, workbench.comfy.checking.value];
  h.comfySetupConnection!({ connected: true, message: "本机 ComfyUI 已连通" });
  expect([...checks, workbench.comfy.checking.value]).toEqual([null, true, false]);
});

describe("project archives, automatic backups and relinking", () => {
  const NEWEST = { name: "20261207-101500-before-import.json", savedAt: 1796638500.25, bytes: 2048, photos: 12, readable: true };
  const BROKEN = { name: "20261206-unreadable-7.json", savedAt: 1796552100, bytes: 10, photos: null, readable: false };
  const archive = (photos: unknown) => ({ archive: { format: "tidewick-project", version: 1, state: photos } });

  it("saves the project as stored, tagged as an archive, reports only the awaited outcome, opens only an object state, and lists the archives saved and opened, eight at most", () => {
    const { workbench, actions } = makeWorkbench();
    workbench.saveArchive();
    workbench.receiveState({ photos: [photo(1, { status: "保留" })], projectName: "婚礼" });
    workbench.saveArchive();
    workbench.saveArchive();
    const { recentProjects: _, ...state } = workbench.savedState();
    expect(actions("exportProjectArchive").map((body) => body.archive)).toEqual([{ format: "tidewick-project", version: 1, state }]);
    // An answer nobody waits for, or a dismissed panel, says nothing.
    for (const answer of [{ error: "项目档案超过 20 MB，请缩小项目" }, { ok: true }]) workbench.projectArchiveSaved(answer);
    workbench.saveArchive();
    workbench.projectArchiveSaved({ cancelled: true });
    expect([workbench.status.value, workbench.project.value.recentProjects, workbench.archiveSaving.value]).toEqual(["项目档案超过 20 MB，请缩小项目", [], false]);
    for (const payload of [{ cancelled: true }, archive([photo(2)])]) workbench.projectArchiveLoaded(payload);
    expect(workbench.photos.value.map((p) => p.id)).toEqual(["ID-1"]);
    workbench.saveArchive();
    workbench.projectArchiveSaved({ ok: true });
    workbench.projectArchiveLoaded(archive({ photos: [photo(2), photo(3)], projectName: "毕业照", recentProjects: [{ name: "别人的", photos: 1, at: "2026-01-01T00:00:00Z", how: "saved" }] }));
    expect(workbench.project.value.recentProjects.map(({ name, photos, how }) => [name, photos, how])).toEqual([["毕业照", 2, "opened"], ["婚礼", 1, "saved"]]);
    // The list stays on this machine.
    workbench.saveArchive();
    expect(actions("exportProjectArchive").at(-1)!.archive).not.toHaveProperty("state.recentProjects");
    workbench.forgetRecentProject(0);
    expect(workbench.project.value.recentProjects.map((entry) => entry.name)).toEqual(["婚礼"]);
    const good = { name: "a", photos: 3, at: "2026-05-01T10:00:00.000Z", how: "saved" };
    const twelve = Array.from({ length: 12 }, (_, i) => ({ ...good, name: `p${i}` }));
    expect([readRecentProjects([good, { ...good, how: "x" }, { ...good, at: "soon" }, { ...good, name: 5 }, null]), readRecentProjects(twelve), readRecentProjects({ 0: good })]).toEqual([[good], twelve.slice(0, 8), []]);
  });

  it("relinks moved photos once, taking absolute new paths of found photos with their work; takes only backup lists it asked for, without entries that are no backup of its folder, and opens only a readable listed one, not as a recent archive", () => {
    const { workbench, actions } = started([photo(1, { status: "保留", rating: 4 }), photo(2), photo(3)]);
    workbench.relinkPhotos();
    workbench.relinkPhotos();
    expect(actions("relinkProjectPhotos")).toEqual([{ action: "relinkProjectPhotos", photos: [1, 2, 3].map((n) => ({ id: `ID-${n}`, path: `/shoot/IMG_000${n}.CR3` })) }]);
    const found = { id: "ID-1", path: "/moved/img_0001.cr3", name: "img_0001.cr3", thumbnail: "file:///data/ProjectThumbnails/A.jpg" };
    workbench.projectPhotosRelinked({ photos: [found, { id: "ID-2", path: "relative/IMG_0002.CR3", name: "IMG_0002.CR3", thumbnail: "" }, "junk"], missing: 2 });
    // Not awaited any more.
    workbench.projectPhotosRelinked({ photos: [{ id: "ID-3", path: "/x/IMG_0003.CR3" }], missing: 0 });
    expect([workbench.photos.value, workbench.status.value]).toMatchObject([[{ ...found, status: "保留", rating: 4 }, { path: "/shoot/IMG_0002.CR3" }, { path: "/shoot/IMG_0003.CR3" }], "已重新关联 1 张照片，2 张未找到或重名"]);
    const list = workbench.handlers().projectBackups!;
    list({ backups: [NEWEST] });
    expect(workbench.backups.value).toBeNull();
    workbench.listBackups();
    const odd = [{ name: "ProjectRecords/a.json" }, { name: ".hidden.json" }, { name: "notes.txt" }, { savedAt: "yesterday" }];
    const unsure = [{ name: "c.json", photos: 3, readable: "true" }, { name: "d.json", photos: -1 }];
    list({ backups: [NEWEST, BROKEN, ...odd.map((o) => ({ ...NEWEST, ...o })), ...unsure.map((o) => ({ ...NEWEST, ...o })), "e.json"] });
    expect(workbench.backups.value).toEqual([NEWEST, BROKEN, ...unsure.map(({ name }) => ({ ...NEWEST, name, photos: null, readable: false }))]);
    // A broken answer keeps the list shown.
    workbench.listBackups();
    list({ backups: "none" });
    for (const name of [BROKEN.name, "c.json", "other.json", NEWEST.name]) workbench.openBackup(name);
    expect([workbench.backups.value?.length, actions("openProjectBackup")]).toEqual([4, [{ action: "openProjectBackup", name: NEWEST.name }]]);
    // The replaced project became a backup, so the list is asked for again.
    workbench.projectArchiveLoaded(archive({ photos: [photo(2), photo(3)] }));
    expect([workbench.project.value.recentProjects, actions("listProjectBackups").length]).toEqual([[], 3]);
    // An archive opened afterwards is an archive again.
    workbench.openArchive();
    workbench.projectArchiveLoaded(archive({ photos: [photo(4)] }));
    expect(workbench.project.value.recentProjects).toHaveLength(1);
  });
});

describe("whole-set style and face batch", () => {
  const JPEG = "data:image/jpeg;base64,/9j/4AAQ";

  it("shows only the awaited preview's pairs, never other addresses, exports that preview, ignores the run's answers after a cancel, and keeps only a safe reference; a face batch sends the next item only after the current one ends, retries only failures, and a cancel leaves the item waiting", () => {
    const { workbench, actions } = started(3);
    const style = workbench.style;
    style.referenceSelected({ reference: { path: "/refs/sunset.jpg", name: "sunset.jpg", preview: JPEG } });
    const preview = (answer: Record<string, unknown>) => {
      workbench.previewStyle("all");
      style.previewAnswer({ token: style.state.value.token, ...answer });
      return style.state.value.token;
    };
    preview({ error: "参考图已改变，请重新预览" });
    const failed = style.state.value;
    const pairs = [{ name: "IMG_0001.CR3", before: JPEG, after: JPEG }];
    workbench.previewStyle("all");
    const token = style.state.value.token;
    style.previewAnswer({ token: "OLD", previews: pairs, total: 9 });
    const stale = style.state.value.phase;
    style.previewAnswer({ token, previews: [...pairs, { name: "x", before: "https://evil.example/a.jpg", after: "javascript:alert(1)" }, 5], total: 3 });
    expect([failed, stale, style.state.value]).toMatchObject([{ phase: "idle", message: "参考图已改变，请重新预览" }, "previewing",
      { phase: "ready", total: 3, previews: [...pairs, { name: "x", before: "", after: "" }] }]);
    style.exportCopies();
    // The folder panel dismissed: the same preview can still be exported.
    style.exportAnswer({ token, cancelled: true });
    const dismissed = style.state.value.phase;
    style.exportCopies();
    style.exportAnswer({ token: "OLD", message: "stale" });
    const exporting = style.state.value.phase;
    style.exportAnswer({ token, message: "已另存 3 张 JPEG 副本。" });
    expect([dismissed, exporting, style.state.value.phase, style.state.value.token, workbench.status.value]).toEqual(["ready", "exporting", "idle", null, "已另存 3 张 JPEG 副本。"]);
    // Changed options retire a shown preview.
    preview({ previews: [], total: 3 });
    style.setOptions({ strength: 100 });
    expect(style.state.value).toMatchObject({ phase: "idle", token: null, previews: [], strength: 100 });
    const last = preview({ previews: [], total: 3 });
    style.exportCopies();
    style.cancel();
    style.exportAnswer({ token: last, message: "已另存 1 张 JPEG 副本。" });
    expect([style.state.value.message, workbench.status.value, actions("exportProjectStyle").map((body) => body.token)]).toEqual(["已停止导出；已写好的副本保留", "已另存 3 张 JPEG 副本。", [token, token, last]]);
    const odd = [{ path: "refs/a.jpg", name: "a.jpg", preview: JPEG }, { path: "/refs/a.jpg", preview: "file:///refs/a.jpg" }];
    expect([...odd, { path: "/refs/a.jpg", preview: JPEG }].map((reference) => readReference({ reference })))
      .toEqual([null, null, { path: "/refs/a.jpg", name: "a.jpg", preview: JPEG }]);
    // The face batch takes only well-formed answers and sends one item at a time with the template.
    const PNG = "data:image/png;base64,iVBORw0KGgo=";
    const batch = workbench.faceBatch;
    for (const [stage, path, preview] of [["middle", "/a.jpg", PNG], ["before", "a.jpg", PNG], ["after", "/a.jpg", "http://x/a.jpg"]]) batch.templateSelected({ stage, image: { path, preview } });
    batch.photosSelected({ items: [{ id: "", path: "/a.jpg" }, { id: "X", path: "rel.jpg" }, { id: "Y", path: "/b.jpg", thumbnail: "javascript:x" }, 4] });
    const { before, after, items } = batch.state.value;
    expect([before, after, items.map((item) => [item.id, item.name, item.thumbnail]), batch.canStart()]).toEqual([null, null, [["Y", "b.jpg", ""]], false]);
    batch.removeItem("Y");
    for (const [stage, name] of [["before", "t1.jpg"], ["after", "t1-修后.png"]]) batch.templateSelected({ stage, image: { name, path: `/tpl/${name}`, preview: PNG } });
    batch.photosSelected({ items: [1, 2, 3].map((n) => ({ id: `F-${n}`, name: `IMG_${n}.CR3`, path: `/shoot/IMG_${n}.CR3`, thumbnail: "" })) });
    batch.setOptions({ prompt: "  保留雀斑 ", imageSize: "4K" });
    batch.start();
    batch.start();
    const template = { before: { path: "/tpl/t1.jpg" }, after: { path: "/tpl/t1-修后.png" } };
    expect(actions("generateFaceBatchItem")).toEqual([{ action: "generateFaceBatchItem", item: { id: "F-1", path: "/shoot/IMG_1.CR3" }, template, imageSize: "4K", prompt: "保留雀斑" }]);
    // Answers for other items are not this run's.
    batch.complete({ id: "F-2", result: { fileName: "x.png" } });
    batch.progress({ id: "F-1", progress: 140, stage: "生成中", detail: "约 20 秒" });
    expect(batch.state.value.items.slice(0, 2)).toMatchObject([{ state: "running", progress: 100, stage: "生成中", message: "约 20 秒" }, { state: "queued" }]);
    batch.complete({ id: "F-1", result: { fileName: "IMG_1（1）.png", filePath: "/out/IMG_1（1）.png" } });
    expect([batch.state.value.items[0], folderOf("/out/IMG_1（1）.png")]).toMatchObject([{ state: "done", resultName: "IMG_1（1）.png", resultPath: "/out/IMG_1（1）.png" }, "/out"]);
    batch.failed({ id: "F-2", message: "请先设置生成图片保存位置" });
    batch.complete({ id: "F-3", result: null });
    expect([batch.state.value.items[2], workbench.status.value]).toMatchObject([{ state: "done", resultPath: "" }, "批量修脸结束：完成 2 张，失败 1 张"]);
    batch.start();
    batch.cancel();
    batch.complete({ id: "F-2", result: { fileName: "late.png" } });
    batch.failed({ id: "F-2", message: "x" });
    expect([batch.state.value.items[1], actions("generateFaceBatchItem").map((a) => (a.item as { id: string }).id)]).toMatchObject([{ state: "queued", resultName: "" }, ["F-1", "F-2", "F-3", "F-2"]]);
  });
});

const KEEP = { decision: "保留", rating: 4, confidence: 0.9, issues: ["构图问题"], reason: "眼神清楚", bestCandidate: true, usage: { prompt_tokens: 9 } };
const REJECT = { decision: "淘汰", rating: 1, confidence: 0.8, issues: ["闭眼"], reason: "闭眼", bestCandidate: false };

it("sends the photos with their local cross-check, merges each awaited verdict into its photo, keeps verdicts and settings with the project, and ignores answers not sent, repeated, of the wrong shape or after a cancel", () => {
  const { workbench, actions } = started([photo(1, { issues: ["闭眼"], result: analysed("00", { brightness: 0.4, noise: 2 }) }), photo(2), photo(3)]);
  workbench.setCloudSettings({ scene: "portrait", policy: "strict", doubleCheck: false, model: "" });
  workbench.startCloudReview("all");
  const [{ photos, options }] = actions("cloudAnalyze");
  expect((photos as unknown[])[0]).toEqual({ id: "ID-1", path: "/shoot/IMG_0001.CR3", name: "IMG_0001.CR3", thumbnail: "file:///data/ThumbnailCache/1.jpg", issues: ["闭眼"], result: { sharpness: 200, brightness: 0.4, noise: 2, confidence: 0.72 } });
  expect([options, workbench.savedState().cloudReview]).toMatchObject([{ policy: "strict", quality: "standard", model: "gemini-3.1-flash-lite" }, { scene: "portrait", policy: "strict", doubleCheck: false }]);
  for (const payload of [null, { id: 2, result: KEEP }, { processed: "a" }]) {
    workbench.cloudAnalysisProgress(payload);
    workbench.cloudAnalysisResult(payload);
  }
  expect(workbench.cloudRun.value).toMatchObject({ processed: 0, failed: 0 });
  for (const [id, result, processed] of [["ID-9", KEEP, 1], ["ID-1", KEEP, 1], ["ID-1", REJECT, 2]]) workbench.cloudAnalysisResult({ id, result, processed, total: 3 });
  expect(workbench.cloudRun.value?.processed).toBe(1);
  workbench.cloudAnalysisResult({ id: "ID-2", error: "GRS AI 返回 HTTP 401", processed: 2, total: 3 });
  workbench.cloudAnalysisResult({ id: "ID-3", result: { ...REJECT, doubleChecked: true, agreement: false, bestCandidate: 0 }, processed: 3, total: 3 });
  const [first, second, third] = workbench.photos.value;
  workbench.cloudAnalysisComplete({ cancelled: false, processed: 3, failed: 1 });
  // The user's own decision is untouched until the verdict is accepted.
  expect([first.status, third.cloudBest, workbench.status.value]).toEqual([undefined, undefined, "云端筛片完成：3 张，其中 1 张失败"]);
  expect([first, cloudVerdictOf(first), cloudRecordOf(second).kind, workbench.cloudErrors.value.get("ID-2"), cloudVerdictOf(third)]).toMatchObject([{ cloudReason: "眼神清楚", cloudConfidence: 0.9, cloudBest: true },
    { decision: "保留", rating: 4, issues: ["构图问题"], best: true, doubleChecked: false }, "none", "GRS AI 返回 HTTP 401", { doubleChecked: true, agreement: false, best: false }]);
  workbench.startCloudReview("all");
  workbench.cancelCloudReview();
  workbench.cloudAnalysisResult({ id: "ID-2", result: REJECT, processed: 2, total: 3 });
  expect(cloudRecordOf(workbench.photos.value[1]).kind).toBe("none");
});

it("shows a record it cannot use as unreadable, without any of its values, answered or stored", () => {
  const odd = [{ decision: "keep" }, { rating: 6 }, { rating: 0 }, { rating: 3.5 }, { rating: "4" }, { confidence: 1.2 }, { confidence: -0.1 }, { confidence: null }];
  const bad = [...odd.map((change) => ({ ...KEEP, ...change })), {}, "保留", null];
  const { workbench } = started(bad.map((_, i) => photo(i + 1, { cloudReason: "旧理由", cloudConfidence: 0.5 })));
  workbench.startCloudReview("all");
  bad.forEach((result, i) => workbench.cloudAnalysisResult({ id: `ID-${i + 1}`, result, processed: i + 1, total: bad.length }));
  for (const p of workbench.photos.value) expect([cloudRecordOf(p).kind, p.cloudReason, p.cloudConfidence]).toEqual(["unreadable", undefined, undefined]);
  const restored = started([photo(1, { cloud: { ...KEEP, rating: 9 }, cloudBest: "yes" as unknown as boolean })]).workbench;
  expect([cloudRecordOf(restored.photos.value[0]).kind, restored.photos.value[0].cloudBest]).toEqual(["unreadable", undefined]);
});

it("accepts the cloud's decision and rating for every filtered photo as one undo step, and filters by disagreement", () => {
  const clean = analysed("00");
  const { workbench } = started([photo(1, { status: "待定", rating: 2, result: analysed("00", { issues: ["闭眼"] }), issues: ["闭眼"] }), photo(2, { result: clean, issues: [] }), photo(3, { result: clean, issues: [] }), photo(4)]);
  workbench.startCloudReview("all");
  [KEEP, REJECT, KEEP].forEach((result, i) => workbench.cloudAnalysisResult({ id: `ID-${i + 1}`, result }));
  const shownUnder = (cloud: string) => (workbench.setFilter({ cloud: cloud as never }), workbench.items.value.map((item) => item.photo.id));
  expect([shownUnder("disagree"), shownUnder("淘汰"), shownUnder("all").length]).toEqual([["ID-1", "ID-2"], ["ID-2"], 4]);
  press(workbench, "Shift+C");
  const work = () => workbench.photos.value.map((p) => [p.status, p.rating]);
  expect([work(), workbench.status.value]).toEqual([[["保留", 4], ["淘汰", 1], ["保留", 4], [undefined, undefined]], "已采用 3 张照片的云端决定和星级（可撤销）"]);
  press(workbench, "Control+z");
  expect(work()).toEqual([["待定", 2], [undefined, undefined], [undefined, undefined], [undefined, undefined]]);
});

it("sends the current photo's burst, and changes no frame for a failure, a winner outside it, another token or a payload of the wrong shape", () => {
  const { workbench, actions } = started([photo(1, { group: "B1", best: true }), photo(2, { group: "B1" }), photo(3, { group: "B1" }), photo(4, { group: "B2" })]);
  const compare = () => (workbench.compareBurst(), actions("compareBurst").at(-1)!.token as string);
  workbench.burstComplete({ token: compare(), error: "已有连拍比较正在进行" });
  expect([actions("compareBurst")[0].photos, workbench.burstOutcomes.value.get("B1")]).toEqual([[1, 2, 3].map((n) => ({ id: `ID-${n}`, path: `/shoot/IMG_000${n}.CR3` })), { kind: "failed", message: "已有连拍比较正在进行" }]);
  workbench.burstComplete({ token: compare(), result: { winnerId: "ID-4", confidence: 0.9, reason: "" } });
  const outcome = workbench.burstOutcomes.value.get("B1");
  const token = compare();
  for (const answer of [{ token: "OLD", result: { winnerId: "ID-2", confidence: 0.9, reason: "" } }, null]) workbench.burstComplete(answer);
  workbench.burstProgress({ token, processed: "x", total: -4 });
  expect([workbench.burstRun.value, workbench.burstOutcomes.value.get("B1"), workbench.photos.value.map((p) => p.best), workbench.undoStack.value.length])
    .toMatchObject([{ processed: 0, total: 0 }, outcome, [true, undefined, undefined, undefined], 0]);
});
