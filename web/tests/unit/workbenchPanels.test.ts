import { describe, expect, it } from "vitest";
import { folderOf } from "../../src/state/faceBatch";
import { connectedPlugins, readBridgeStatus } from "../../src/state/pluginBridge";
import { readHealthReport } from "../../src/state/health";
import { makeWorkbench, photo } from "./helpers";

const RUNNING = {
  listening: true,
  connected: true,
  connectedCount: 2,
  mode: "local",
  port: 32188,
  saveLocation: "/home/ann/AI 修图",
  grsAI: { configured: true, maskedKey: "sk-…9f", baseURL: "https://api.grsai.com", model: "nano-banana", status: "连接正常", detail: "" },
  error: "",
};

describe("plug-in status", () => {
  it("follows every report, and an empty one means the service is not running", () => {
    const { workbench } = makeWorkbench();
    const bridgeStatus = workbench.handlers().bridgeStatus!;
    expect(workbench.bridge.value).toBeNull();
    bridgeStatus(RUNNING);
    expect(workbench.bridge.value).toEqual({
      listening: true,
      connected: true,
      connectedCount: 2,
      port: 32188,
      saveLocation: "/home/ann/AI 修图",
      grsAI: { configured: true, model: "nano-banana", status: "连接正常", detail: "" },
      error: "",
    });
    bridgeStatus({ ...RUNNING, listening: false, connected: false, connectedCount: 0, error: "Network 1/98" });
    expect(workbench.bridge.value).toMatchObject({ listening: false, connectedCount: 0, error: "Network 1/98" });
    bridgeStatus({});
    expect(workbench.bridge.value).toBeNull();
    bridgeStatus(RUNNING);
    bridgeStatus(null);
    expect(workbench.bridge.value).toBeNull();
  });

  it("shows fields of the wrong type as unknown rather than as a state", () => {
    const status = readBridgeStatus({
      listening: "yes",
      connected: 1,
      connectedCount: -3,
      port: 99999,
      saveLocation: ["/tmp"],
      grsAI: "broken",
      error: { text: "x" },
    });
    expect(status).toEqual({
      listening: null,
      connected: null,
      connectedCount: null,
      port: null,
      saveLocation: null,
      grsAI: null,
      error: "",
    });
    expect(connectedPlugins(status!)).toBeNull();
    expect(readBridgeStatus({ grsAI: { configured: "true", status: 3 } })?.grsAI).toEqual({
      configured: null,
      model: null,
      status: null,
      detail: "",
    });
    expect(readBridgeStatus([RUNNING])).toBeNull();
  });

  it("counts connected plug-ins, falling back to the connected flag", () => {
    expect(connectedPlugins(readBridgeStatus({ connected: true, connectedCount: 3 })!)).toBe(3);
    expect(connectedPlugins(readBridgeStatus({ connected: true })!)).toBe("some");
    expect(connectedPlugins(readBridgeStatus({ connected: false })!)).toBe(0);
  });

  it("asks the program for a new save location", () => {
    const { workbench, posted } = makeWorkbench();
    workbench.chooseSaveLocation();
    expect(posted).toEqual([{ action: "chooseSaveLocation" }]);
  });
});

describe("project archives", () => {
  it("saves the project as stored, tagged as an archive, and reports the outcome once", () => {
    const { workbench, actions } = makeWorkbench();
    workbench.saveArchive();
    expect(actions("exportProjectArchive")).toHaveLength(0);
    workbench.receiveState({ photos: [photo(1, { status: "保留" })], projectName: "婚礼" });
    workbench.saveArchive();
    workbench.saveArchive();
    const [request] = actions("exportProjectArchive");
    expect(actions("exportProjectArchive")).toHaveLength(1);
    const { recentProjects, ...state } = workbench.savedState();
    expect(recentProjects).toEqual([]);
    expect(request.archive).toEqual({ format: "tidewick-project", version: 1, state });
    workbench.projectArchiveSaved({ error: "项目档案超过 20 MB，请缩小项目" });
    expect(workbench.status.value).toBe("项目档案超过 20 MB，请缩小项目");
    expect(workbench.archiveSaving.value).toBe(false);
    // An answer nobody waits for says nothing.
    workbench.projectArchiveSaved({ ok: true });
    expect(workbench.status.value).toBe("项目档案超过 20 MB，请缩小项目");
    workbench.saveArchive();
    workbench.projectArchiveSaved({ cancelled: true });
    expect(workbench.status.value).toBe("项目档案超过 20 MB，请缩小项目");
    workbench.saveArchive();
    workbench.projectArchiveSaved({ ok: true });
    expect(workbench.status.value).toBe("项目档案已保存（不含原片）");
  });

  it("opens through the program and keeps the project when the archive's state is no object", () => {
    const { workbench, posted } = makeWorkbench();
    workbench.receiveState({ photos: [photo(1)] });
    workbench.openArchive();
    expect(posted).toEqual([{ action: "openProjectArchive" }]);
    workbench.projectArchiveLoaded({ archive: { format: "tidewick-project", state: [photo(2)] } });
    workbench.projectArchiveLoaded({ archive: { format: "tidewick-project", state: "x" } });
    expect(workbench.photos.value.map((p) => p.id)).toEqual(["ID-1"]);
    workbench.projectArchiveLoaded({ archive: { format: "tidewick-project", version: 1, state: { photos: [photo(2), photo(3)] } } });
    expect(workbench.photos.value.map((p) => p.id)).toEqual(["ID-2", "ID-3"]);
    expect(workbench.status.value).toContain("共 2 张照片");
  });
});

describe("automatic backups", () => {
  const NEWEST = { name: "20261207-101500-before-import.json", savedAt: 1796638500.25, bytes: 2048, photos: 12, readable: true };
  const BROKEN = { name: "20261206-unreadable-7.json", savedAt: 1796552100, bytes: 10, photos: null, readable: false };

  it("takes only lists it asked for, and leaves out entries that are no backup of its folder", () => {
    const { workbench, actions } = makeWorkbench();
    const list = workbench.handlers().projectBackups!;
    list({ backups: [NEWEST] });
    expect(workbench.backups.value).toBeNull();
    workbench.listBackups();
    expect(actions("listProjectBackups")).toHaveLength(1);
    expect(workbench.backupsLoading.value).toBe(true);
    list({
      backups: [
        NEWEST,
        BROKEN,
        { ...NEWEST, name: "../current-project.json" },
        { ...NEWEST, name: ".hidden.json" },
        { ...NEWEST, name: "notes.txt" },
        { ...NEWEST, savedAt: "yesterday" },
        { ...NEWEST, name: "c.json", photos: 3, readable: "true" },
        { ...NEWEST, name: "d.json", photos: -1 },
        "e.json",
      ],
    });
    expect(workbench.backupsLoading.value).toBe(false);
    expect(workbench.backups.value).toEqual([
      NEWEST,
      BROKEN,
      { ...NEWEST, name: "c.json", photos: null, readable: false },
      { ...NEWEST, name: "d.json", photos: null, readable: false },
    ]);
    // A broken answer keeps the list shown.
    workbench.listBackups();
    list({ backups: "none" });
    expect(workbench.backups.value).toHaveLength(4);
  });

  it("opens only a readable listed backup, says so, and lists again since the replaced project became one", () => {
    const { workbench, actions } = makeWorkbench();
    workbench.receiveState({ photos: [photo(1)], projectName: "婚礼" });
    workbench.listBackups();
    workbench.handlers().projectBackups!({ backups: [NEWEST, BROKEN] });
    workbench.openBackup(BROKEN.name);
    workbench.openBackup("other.json");
    expect(actions("openProjectBackup")).toHaveLength(0);
    workbench.openBackup(NEWEST.name);
    expect(actions("openProjectBackup")).toEqual([{ action: "openProjectBackup", name: NEWEST.name }]);
    workbench.projectArchiveLoaded({ archive: { format: "tidewick-project", version: 1, state: { photos: [photo(2), photo(3)] } } });
    expect(workbench.photos.value.map((p) => p.id)).toEqual(["ID-2", "ID-3"]);
    expect(workbench.status.value).toBe("已打开自动备份，共 2 张照片；原项目已备份");
    expect(workbench.project.value.recentProjects).toEqual([]);
    expect(actions("listProjectBackups")).toHaveLength(2);
    // An archive opened afterwards is an archive again.
    workbench.openArchive();
    workbench.projectArchiveLoaded({ archive: { format: "tidewick-project", version: 1, state: { photos: [photo(4)] } } });
    expect(workbench.project.value.recentProjects).toHaveLength(1);
  });
});

describe("health report", () => {
  const ROWS = [
    { name: "Photoshop 连接", ok: false, message: "未连接；不影响 App 独立筛片和本地风格处理" },
    { name: "生成保存位置", ok: true, message: "保存位置可写（路径不写入报告）" },
    { name: "本地处理", ok: true, message: "本地处理已载入" },
    { name: "本地生图模型（可选）", ok: 0, message: "模型文件 0 / 4；GGUF 节点未配置；依赖未配置。这不代表已经完成真实推理。" },
    { name: "云端接口", ok: true, message: "连接正常" },
  ];

  it("asks for a check, lists the rows in order, and saves only once a report exists", () => {
    const { workbench, posted } = makeWorkbench();
    workbench.exportHealthReport();
    expect(posted).toEqual([]);
    workbench.checkHealth();
    expect(workbench.health.value.checking).toBe(true);
    workbench.workbenchHealth({ version: "1.4.0", build: "57", rows: ROWS });
    expect(workbench.health.value.checking).toBe(false);
    expect(workbench.health.value.report?.rows.map((row) => [row.name, row.ok])).toEqual([
      ["Photoshop 连接", false],
      ["生成保存位置", true],
      ["本地处理", true],
      ["本地生图模型（可选）", false],
      ["云端接口", true],
    ]);
    workbench.exportHealthReport();
    expect(posted).toEqual([{ action: "workbenchHealth" }, { action: "exportHealthReport" }]);
  });

  it("reads broken rows as unknown and keeps the last report when the payload is no report", () => {
    const { workbench } = makeWorkbench();
    workbench.workbenchHealth({ rows: ROWS });
    workbench.workbenchHealth({ rows: "none" });
    workbench.workbenchHealth(null);
    expect(workbench.health.value.report?.rows).toHaveLength(5);
    expect(readHealthReport({ version: 2, rows: [null, { name: 7, ok: "yes", message: "m" }, { ok: 1 }] })).toEqual({
      version: "",
      build: "",
      rows: [
        { name: "", ok: null, message: "m" },
        { name: "", ok: true, message: "" },
      ],
    });
  });
});

describe("whole-set style", () => {
  const JPEG = "data:image/jpeg;base64,/9j/4AAQ";
  const REFERENCE = { reference: { path: "/refs/sunset.jpg", name: "sunset.jpg", preview: JPEG } };

  function previewed(n = 3) {
    const env = makeWorkbench();
    env.workbench.receiveState({ photos: Array.from({ length: n }, (_, i) => photo(i + 1)) });
    env.workbench.style.referenceSelected(REFERENCE);
    env.workbench.style.setOptions({ strength: 40, preserveColors: false });
    env.workbench.previewStyle("all");
    const [request] = env.actions("previewProjectStyle");
    return { ...env, token: request.token as string, request };
  }

  it("sends the reference, the chosen photos and the options under a new token", () => {
    const { request, workbench } = previewed(2);
    expect(request).toEqual({
      action: "previewProjectStyle",
      token: request.token,
      reference: { path: "/refs/sunset.jpg" },
      photos: [
        { path: "/shoot/IMG_0001.CR3", name: "IMG_0001.CR3" },
        { path: "/shoot/IMG_0002.CR3", name: "IMG_0002.CR3" },
      ],
      options: { strength: 40, preserveColors: false },
    });
    expect(workbench.style.state.value.phase).toBe("previewing");
  });

  it("shows only the awaited preview's pairs, never other addresses, and exports that preview", () => {
    const { workbench, token, actions, posted } = previewed();
    const pairs = [{ name: "IMG_0001.CR3", before: JPEG, after: JPEG }];
    workbench.style.previewAnswer({ token: "OLD", previews: pairs, total: 9 });
    expect(workbench.style.state.value.phase).toBe("previewing");
    workbench.style.previewAnswer({
      token,
      previews: [...pairs, { name: "x", before: "https://evil.example/a.jpg", after: "javascript:alert(1)" }, 5],
      total: 3,
    });
    expect(workbench.style.state.value).toMatchObject({ phase: "ready", total: 3 });
    expect(workbench.style.state.value.previews).toEqual([...pairs, { name: "x", before: "", after: "" }]);
    workbench.style.exportCopies();
    expect(actions("exportProjectStyle")).toEqual([{ action: "exportProjectStyle", token }]);
    // The folder panel dismissed: the same preview can still be exported.
    workbench.style.exportAnswer({ token, cancelled: true });
    expect(workbench.style.state.value.phase).toBe("ready");
    workbench.style.exportCopies();
    workbench.style.exportAnswer({ token: "OLD", message: "stale" });
    expect(workbench.style.state.value.phase).toBe("exporting");
    workbench.style.exportAnswer({ token, message: "已另存 3 张 JPEG 副本。原片不变。参数记录已保存。" });
    expect(workbench.style.state.value).toMatchObject({ phase: "idle", token: null });
    expect(workbench.status.value).toBe("已另存 3 张 JPEG 副本。原片不变。参数记录已保存。");
    workbench.style.exportCopies();
    expect(posted.filter((body) => body.action === "exportProjectStyle")).toHaveLength(2);
  });

  it("a preview error is shown, and changed options retire a shown preview", () => {
    const { workbench, token } = previewed();
    workbench.style.previewAnswer({ token, error: "参考图已改变，请重新预览" });
    expect(workbench.style.state.value).toMatchObject({ phase: "idle", message: "参考图已改变，请重新预览" });
    workbench.previewStyle("all");
    const second = workbench.style.state.value.token;
    expect(second).not.toBe(token);
    workbench.style.previewAnswer({ token: second, previews: [], total: 3 });
    workbench.style.setOptions({ strength: 100 });
    expect(workbench.style.state.value).toMatchObject({ phase: "idle", token: null, previews: [], strength: 100 });
  });

  it("cancel tells the program and ignores the run's later answers", () => {
    const { workbench, token, actions } = previewed();
    workbench.style.previewAnswer({ token, previews: [], total: 3 });
    workbench.style.exportCopies();
    workbench.style.cancel();
    expect(actions("cancelProjectStyle")).toHaveLength(1);
    workbench.style.exportAnswer({ token, message: "已另存 1 张 JPEG 副本。" });
    expect(workbench.style.state.value.message).toBe("已停止导出；已写好的副本保留");
    expect(workbench.status.value).not.toContain("已另存");
  });

  it("keeps the reference unless the answer names an absolute file with an inline preview", () => {
    const { workbench, actions } = makeWorkbench();
    workbench.style.chooseReference();
    expect(actions("chooseProjectReference")).toHaveLength(1);
    workbench.style.referenceSelected({ reference: { path: "refs/a.jpg", name: "a.jpg", preview: JPEG } });
    workbench.style.referenceSelected({ reference: { path: "/refs/a.jpg", preview: "file:///refs/a.jpg" } });
    workbench.style.referenceSelected({ cancelled: true });
    expect(workbench.style.state.value.reference).toBeNull();
    workbench.style.referenceSelected({ reference: { path: "/refs/a.jpg", preview: JPEG } });
    expect(workbench.style.state.value.reference).toEqual({ path: "/refs/a.jpg", name: "a.jpg", preview: JPEG });
  });
});

describe("relinking moved photos", () => {
  it("sends ids and paths, takes new paths of found photos and keeps their work", () => {
    const { workbench, actions } = makeWorkbench();
    workbench.receiveState({ photos: [photo(1, { status: "保留", rating: 4 }), photo(2), photo(3)] });
    workbench.relinkPhotos();
    workbench.relinkPhotos();
    expect(actions("relinkProjectPhotos")).toEqual([
      {
        action: "relinkProjectPhotos",
        photos: [1, 2, 3].map((n) => ({ id: `ID-${n}`, path: `/shoot/IMG_000${n}.CR3` })),
      },
    ]);
    workbench.projectPhotosRelinked({
      photos: [
        { id: "ID-1", path: "/moved/img_0001.cr3", name: "img_0001.cr3", thumbnail: "file:///data/ProjectThumbnails/A.jpg" },
        { id: "ID-2", path: "relative/IMG_0002.CR3", name: "IMG_0002.CR3", thumbnail: "" },
        "junk",
      ],
      missing: 2,
    });
    expect(workbench.photos.value[0]).toMatchObject({
      path: "/moved/img_0001.cr3",
      name: "img_0001.cr3",
      thumbnail: "file:///data/ProjectThumbnails/A.jpg",
      status: "保留",
      rating: 4,
    });
    expect(workbench.photos.value[1].path).toBe("/shoot/IMG_0002.CR3");
    expect(workbench.status.value).toBe("已重新关联 1 张照片，2 张未找到或重名");
    // Not awaited any more.
    workbench.projectPhotosRelinked({ photos: [{ id: "ID-3", path: "/x/IMG_0003.CR3" }], missing: 0 });
    expect(workbench.photos.value[2].path).toBe("/shoot/IMG_0003.CR3");
  });
});

describe("face batch", () => {
  const PNG = "data:image/png;base64,iVBORw0KGgo=";

  function ready(count = 2) {
    const env = makeWorkbench();
    const batch = env.workbench.faceBatch;
    batch.templateSelected({ stage: "before", image: { name: "t1.jpg", path: "/tpl/t1.jpg", preview: PNG } });
    batch.templateSelected({ stage: "after", image: { name: "t1-修后.png", path: "/tpl/t1-修后.png", preview: PNG } });
    batch.photosSelected({
      items: Array.from({ length: count }, (_, i) => ({
        id: `F-${i + 1}`,
        name: `IMG_${i + 1}.CR3`,
        path: `/shoot/IMG_${i + 1}.CR3`,
        thumbnail: `file:///data/FaceBatchThumbnails/${i + 1}.jpg`,
      })),
    });
    return { ...env, batch };
  }

  it("asks for template images by stage and takes only well-formed answers", () => {
    const { workbench, posted } = makeWorkbench();
    const batch = workbench.faceBatch;
    batch.chooseTemplate("before");
    batch.choosePhotos();
    expect(posted).toEqual([{ action: "chooseFaceTemplateImage", stage: "before" }, { action: "chooseFaceBatchPhotos" }]);
    batch.templateSelected({ stage: "middle", image: { path: "/a.jpg", preview: PNG } });
    batch.templateSelected({ stage: "before", image: { path: "a.jpg", preview: PNG } });
    batch.templateSelected({ stage: "after", image: { path: "/a.jpg", preview: "http://x/a.jpg" } });
    expect(batch.state.value).toMatchObject({ before: null, after: null });
    batch.photosSelected({ items: [{ id: "", path: "/a.jpg" }, { id: "X", path: "rel.jpg" }, { id: "Y", path: "/b.jpg", thumbnail: "javascript:x" }, 4] });
    expect(batch.state.value.items.map((item) => [item.id, item.name, item.thumbnail])).toEqual([["Y", "b.jpg", ""]]);
    expect(batch.canStart()).toBe(false);
  });

  it("sends one item at a time with the template, and the next only after the current one ends", () => {
    const { batch, actions, workbench } = ready(3);
    batch.setOptions({ prompt: "  保留雀斑 ", imageSize: "4K" });
    batch.start();
    batch.start();
    expect(actions("generateFaceBatchItem")).toEqual([
      {
        action: "generateFaceBatchItem",
        item: { id: "F-1", path: "/shoot/IMG_1.CR3" },
        template: { before: { path: "/tpl/t1.jpg" }, after: { path: "/tpl/t1-修后.png" } },
        imageSize: "4K",
        prompt: "保留雀斑",
      },
    ]);
    // Answers for other items are not this run's.
    batch.progress({ id: "F-2", progress: 50, stage: "x", detail: "" });
    batch.complete({ id: "F-2", result: { fileName: "x.png" } });
    expect(batch.state.value.items[1].state).toBe("queued");
    batch.progress({ id: "F-1", progress: 140, stage: "生成中", detail: "约 20 秒" });
    expect(batch.state.value.items[0]).toMatchObject({ state: "running", progress: 100, stage: "生成中", message: "约 20 秒" });
    batch.complete({ id: "F-1", result: { fileName: "IMG_1（1）.png", filePath: "/out/IMG_1（1）.png" } });
    expect(batch.state.value.items[0]).toMatchObject({ state: "done", resultName: "IMG_1（1）.png", resultPath: "/out/IMG_1（1）.png" });
    expect(folderOf("/out/IMG_1（1）.png")).toBe("/out");
    expect(actions("generateFaceBatchItem").map((a) => (a.item as any).id)).toEqual(["F-1", "F-2"]);
    batch.failed({ id: "F-2", message: "请先设置生成图片保存位置" });
    expect(batch.state.value.items[1]).toMatchObject({ state: "failed", message: "请先设置生成图片保存位置" });
    batch.complete({ id: "F-3", result: null });
    expect(batch.state.value.currentId).toBeNull();
    expect(batch.state.value.items[2]).toMatchObject({ state: "done", resultPath: "" });
    expect(workbench.status.value).toBe("批量修脸结束：完成 2 张，失败 1 张");
    // Starting again retries the failed one only.
    batch.start();
    expect(actions("generateFaceBatchItem").map((a) => (a.item as any).id)).toEqual(["F-1", "F-2", "F-3", "F-2"]);
  });

  it("cancel tells the program, ignores the item's late answers and leaves it waiting", () => {
    const { batch, actions } = ready(2);
    batch.start();
    batch.cancel();
    expect(actions("cancelFaceBatchGeneration")).toHaveLength(1);
    batch.complete({ id: "F-1", result: { fileName: "late.png" } });
    batch.failed({ id: "F-1", message: "x" });
    expect(batch.state.value.items[0]).toMatchObject({ state: "queued", resultName: "" });
    expect(actions("generateFaceBatchItem")).toHaveLength(1);
  });
});
