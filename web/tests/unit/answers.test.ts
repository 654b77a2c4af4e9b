import { describe, expect, it } from "vitest";
import { turnDraft } from "../../src/state/photoEdit";
import { analysed, makeWorkbench, photo } from "./helpers";

function started(n = 3, extra: Record<string, unknown> = {}) {
  const env = makeWorkbench();
  env.workbench.receiveState({ photos: Array.from({ length: n }, (_, i) => photo(i + 1)), ...extra });
  return env;
}

describe("local analysis answers", () => {
  it("asks for unanalysed photos with their id and path, the strictness and the checks", () => {
    const { workbench, actions } = started(3);
    workbench.receiveState({ photos: [photo(1, { result: analysed("0000000000000000") }), photo(2), photo(3)] });
    workbench.setAnalysisSettings({ strictness: "严格", enabled: ["闭眼", "过曝"], sound: false });
    workbench.startAnalysis("missing");
    const [analyze] = actions("analyze");
    expect(analyze.photos).toEqual([
      { id: "ID-2", path: "/shoot/IMG_0002.CR3" },
      { id: "ID-3", path: "/shoot/IMG_0003.CR3" },
    ]);
    expect(analyze.settings).toEqual({ strictness: "严格", enabled: ["闭眼", "过曝"], sound: false });
    expect(analyze.token).toMatch(/^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$/);
  });

  it("stores results of the current run with progress, and ignores other tokens", () => {
    const { workbench, actions, timers, saves } = started(2);
    workbench.startAnalysis("all");
    const token = actions("analyze")[0].token;
    const result = analysed("0000000000000000", { issues: ["过曝"] });
    workbench.analysisResult({ token: "OLD", id: "ID-1", result: analysed("ffffffffffffffff"), processed: 1, total: 9, remaining: 3 });
    expect(workbench.photos.value[0].result).toBeUndefined();
    workbench.analysisResult({ token, id: "ID-1", result, processed: 1, total: 2, remaining: 4 });
    expect(workbench.photos.value[0]).toMatchObject({ result, issues: ["过曝"] });
    expect(workbench.analysis.value).toMatchObject({ processed: 1, total: 2, remaining: 4 });
    workbench.analysisComplete({ token: "OLD", cancelled: true });
    expect(workbench.analysis.value).not.toBeNull();
    workbench.analysisResult({ token, id: "ID-2", result: { error: "无法解码照片预览" }, processed: 2, total: 2, remaining: 0 });
    expect(workbench.photos.value[1].issues).toEqual([]);
    workbench.analysisComplete({ token, cancelled: false });
    expect(workbench.analysis.value).toBeNull();
    expect(workbench.status.value).toContain("本地分析完成");
    timers.advance(5000);
    expect((saves().at(-1)!.state as any).photos[0].issues).toEqual(["过曝"]);
  });

  it("cancelling stops listening at once: late results of the run are ignored", () => {
    const { workbench, actions } = started(2);
    workbench.startAnalysis("all");
    const token = actions("analyze")[0].token;
    workbench.cancelAnalysis();
    expect(actions("cancelAnalysis")).toHaveLength(1);
    workbench.analysisResult({ token, id: "ID-1", result: analysed("0000000000000000"), processed: 1, total: 2, remaining: 1 });
    expect(workbench.photos.value[0].result).toBeUndefined();
  });

  it("a new import retires the running analysis", () => {
    const { workbench, actions } = started(2);
    workbench.startAnalysis("all");
    const token = actions("analyze")[0].token;
    workbench.receiveScan({ folder: "/other", source: "folder", skipped: 0, photos: [photo(7)] });
    workbench.analysisResult({ token, id: "ID-7", result: analysed("0000000000000000"), processed: 1, total: 2, remaining: 1 });
    expect(workbench.photos.value[0].result).toBeUndefined();
  });

  it("says so when there is nothing to analyse", () => {
    const { workbench, actions } = started(0);
    workbench.startAnalysis("missing");
    expect(actions("analyze")).toHaveLength(0);
    expect(workbench.status.value).toBe("没有需要分析的照片");
  });
});

describe("previews", () => {
  it("asks by id and path for the current photo and the next, and keeps only awaited answers", () => {
    const { workbench, actions } = started(3);
    workbench.openLoupe();
    expect(actions("previewPhoto")).toEqual([
      { action: "previewPhoto", id: "ID-1", path: "/shoot/IMG_0001.CR3" },
      { action: "previewPhoto", id: "ID-2", path: "/shoot/IMG_0002.CR3" },
    ]);
    workbench.previewReady({ id: "ID-3", url: "file:///stale.jpg" });
    expect(workbench.previews.value.has("ID-3")).toBe(false);
    workbench.previewReady({ id: "ID-1", url: "file:///data/PreviewCache/1-lens.jpg" });
    workbench.previewReady({ id: "ID-2", error: "原文件当前不可访问，正在显示缓存预览" });
    expect(workbench.previews.value.get("ID-1")).toEqual({ url: "file:///data/PreviewCache/1-lens.jpg" });
    expect(workbench.previews.value.get("ID-2")?.error).toContain("不可访问");
    // A second answer for the same id is no longer awaited.
    workbench.previewReady({ id: "ID-1", url: "file:///other.jpg" });
    expect(workbench.previews.value.get("ID-1")?.url).toBe("file:///data/PreviewCache/1-lens.jpg");
  });

  it("stepping in the loupe keeps the zoom and its spot", () => {
    const { workbench, actions } = started(3);
    workbench.openLoupe();
    workbench.setZoom("actual", 0.3, 0.7);
    workbench.move(1);
    expect(workbench.loupe.value).toMatchObject({ open: true, zoom: "actual", focusX: 0.3, focusY: 0.7 });
    expect(actions("previewPhoto").map((a) => a.id)).toEqual(["ID-1", "ID-2", "ID-3"]);
  });
});

describe("trash", () => {
  it("sends only rejects with a token and drops exactly the ids reported moved", () => {
    const { workbench, actions } = started(4);
    workbench.select("ID-1");
    workbench.decide("淘汰");
    workbench.decide("淘汰");
    workbench.askTrashRejects();
    expect(workbench.dialog.value).toBe("trash");
    workbench.trashRejects();
    const [trash] = actions("trashRatedPhotos");
    expect(trash.photos).toEqual([
      { id: "ID-1", path: "/shoot/IMG_0001.CR3" },
      { id: "ID-2", path: "/shoot/IMG_0002.CR3" },
    ]);
    workbench.ratingTrashComplete({ token: "OTHER", removedIDs: ["ID-1", "ID-2"], message: "x" });
    expect(workbench.photos.value).toHaveLength(4);
    workbench.ratingTrashComplete({ token: trash.token, removedIDs: ["ID-1"], message: "已移动 1 张，另有文件无法移动：权限不足" });
    expect(workbench.photos.value.map((p) => p.id)).toEqual(["ID-2", "ID-3", "ID-4"]);
    expect(workbench.status.value).toBe("已移动 1 张，另有文件无法移动：权限不足");
    // The answer was used; a repeated one changes nothing.
    workbench.ratingTrashComplete({ token: trash.token, removedIDs: ["ID-2"], message: "x" });
    expect(workbench.photos.value).toHaveLength(3);
  });

  it("awaits every trash request: an earlier answer still removes its photos", () => {
    const { workbench, actions } = started(3);
    workbench.decide("淘汰");
    workbench.trashRejects();
    workbench.select("ID-2");
    workbench.decide("淘汰");
    workbench.trashRejects();
    const [first, second] = actions("trashRatedPhotos");
    expect(first.token).not.toBe(second.token);
    workbench.ratingTrashComplete({ token: first.token, removedIDs: ["ID-1"], message: "已将 1 张照片移到废纸篓" });
    workbench.ratingTrashComplete({ token: second.token, removedIDs: ["ID-2"], message: "已将 1 张照片移到废纸篓" });
    expect(workbench.photos.value.map((p) => p.id)).toEqual(["ID-3"]);
  });

  it("asks for no confirmation when nothing is rejected", () => {
    const { workbench, actions } = started(2);
    workbench.askTrashRejects();
    expect(workbench.dialog.value).toBeNull();
    expect(actions("trashRatedPhotos")).toHaveLength(0);
  });
});

describe("rated export", () => {
  it("sends rated photos that are not rejected, with the remembered folder", () => {
    const { workbench, actions, timers, saves } = started(4);
    workbench.select("ID-1");
    workbench.rate(4);
    workbench.rate(2);
    workbench.select("ID-2");
    workbench.decide("淘汰");
    workbench.exportRated();
    const [first] = actions("exportRatedPhotos");
    expect(first.folder).toBe("");
    expect(first.photos).toEqual([{ id: "ID-1", path: "/shoot/IMG_0001.CR3", rating: 4 }]);

    workbench.ratingExportFolder({ path: "/exports" });
    workbench.ratingExportComplete({ token: first.token, outputs: [{}], errors: [], message: "已导出 1 张原片" });
    expect(workbench.status.value).toBe("已导出 1 张原片");
    timers.advance(5000);
    expect((saves().at(-1)!.state as any).ratingExportFolder).toBe("/exports");

    workbench.exportRated();
    expect(actions("exportRatedPhotos")[1].folder).toBe("/exports");
    workbench.ratingExportComplete({ token: first.token, message: "stale" });
    expect(workbench.status.value).toBe("已导出 1 张原片");
  });

  it("says so when nothing is rated", () => {
    const { workbench, actions } = started(2);
    workbench.exportRated();
    expect(actions("exportRatedPhotos")).toHaveLength(0);
    expect(workbench.status.value).toContain("没有已评星的照片");
  });
});

describe("advanced export and culling list", () => {
  it("sends the chosen photos with status and rating and the options", () => {
    const { workbench, actions } = started(3);
    workbench.decide("保留");
    workbench.setExportOptions({ format: "jpeg", quality: 0.8, conflict: "skip", organize: false });
    workbench.exportAdvanced("kept");
    const [request] = actions("exportAdvanced");
    expect(request.photos).toEqual([{ id: "ID-1", path: "/shoot/IMG_0001.CR3", name: "IMG_0001.CR3", rating: 0, status: "保留" }]);
    expect(request.options).toEqual({ format: "jpeg", quality: 0.8, conflict: "skip", organize: false });
    workbench.exportProgress({ completed: 1, total: 1, name: "IMG_0001.CR3" });
    expect(workbench.exportRun.value).toEqual({ completed: 1, total: 1, name: "IMG_0001.CR3" });
    workbench.exportComplete({ message: "已导出 1 张", folder: "/out/2026-05-01" });
    expect(workbench.exportRun.value).toBeNull();
    expect(workbench.status.value).toBe("已导出 1 张");
  });

  it("sends every photo with the keys the list reads, and the project name", () => {
    const { workbench, actions } = started(0);
    workbench.receiveScan({
      folder: "/shoots/婚礼 2026",
      source: "folder",
      skipped: 0,
      photos: [photo(1), photo(2)],
    });
    workbench.decide("保留");
    workbench.exportManifest();
    const [request] = actions("exportReviewManifest");
    expect(request.projectName).toBe("婚礼 2026");
    expect(request.photos).toEqual([
      { id: "ID-1", path: "/shoot/IMG_0001.CR3", name: "IMG_0001.CR3", rating: 0, status: "保留" },
      { id: "ID-2", path: "/shoot/IMG_0002.CR3", name: "IMG_0002.CR3", rating: 0 },
    ]);
    workbench.reviewManifestCancelled();
    expect(workbench.status.value).toBe("已取消保存筛片清单");
  });
});

describe("import, card and lens", () => {
  it("adopts a scan in the order received and keeps the work on unchanged files", () => {
    const { workbench, timers, saves } = started(0);
    workbench.receiveState({ photos: [photo(1, { status: "保留", rating: 3, group: "B1", best: true }), photo(2, { status: "淘汰" })] });
    const rescanned = { ...photo(1), id: "NEW-1" };
    const changed = { ...photo(2), id: "NEW-2", size: 99 };
    workbench.receiveScan({ folder: "/shoot", source: "folder", skipped: 1, photos: [changed, rescanned] });
    expect(workbench.photos.value.map((p) => [p.id, p.status, p.rating, p.group])).toEqual([
      ["NEW-2", undefined, undefined, undefined],
      ["NEW-1", "保留", 3, undefined],
    ]);
    expect(workbench.selection.value.currentId).toBe("NEW-2");
    timers.advance(1000);
    expect(saves()).toHaveLength(1);
  });

  it("says what the import skipped and why", () => {
    const { workbench } = started(0);
    workbench.receiveScan({ folder: "/shoot", source: "folder", skipped: 2, photos: [photo(1)] });
    expect(workbench.status.value).toBe("已导入 1 张照片，跳过 2 个（不是普通文件，或文件名不是 UTF-8 编码）；只导入 CR3 和 JPG，其他格式和隐藏文件不会导入");
  });

  it("ignores a scan payload that is not an object", () => {
    const { workbench } = started(2);
    workbench.receiveScan(null);
    workbench.receiveScan([]);
    expect(workbench.photos.value).toHaveLength(2);
  });

  it("asks before an import replaces decisions, and saves them before the program backs the project up", () => {
    const { workbench, posted } = started(2);
    workbench.rate(2);
    workbench.cardDetected({ path: "/media/EOS_DIGITAL", dcim: "/media/EOS_DIGITAL/DCIM" });
    workbench.importCard();
    expect(workbench.dialog.value).toBe("replaceProject");
    expect(posted).toHaveLength(0);
    workbench.confirmImport();
    expect(posted.map((body) => body.action)).toEqual(["saveState", "scanPath"]);
  });

  it("imports a detected card from its DCIM folder", () => {
    const { workbench, actions } = started(0);
    workbench.cardDetected({ path: "/media/EOS_DIGITAL", dcim: "/media/EOS_DIGITAL/DCIM" });
    expect(workbench.card.value?.path).toBe("/media/EOS_DIGITAL");
    workbench.importCard();
    expect(actions("scanPath")).toEqual([{ action: "scanPath", path: "/media/EOS_DIGITAL/DCIM" }]);
    expect(workbench.card.value).toBeNull();
  });

  it("shows the lens state and sends the switch", () => {
    const { workbench, actions } = started(0);
    workbench.setLensState({ enabled: false, engine: "LibRaw", cameraCount: 1117, detail: "镜头矫正已关闭；原片始终不修改。" });
    expect(workbench.lens.value).toEqual({ enabled: false, engine: "LibRaw", cameraCount: 1117, detail: "镜头矫正已关闭；原片始终不修改。" });
    workbench.saveLensSettings(true);
    expect(actions("saveLensSettings")).toEqual([{ action: "saveLensSettings", enabled: true }]);
  });

  it("adopts an opened project archive and stores it", () => {
    const { workbench, timers, saves } = started(1);
    workbench.projectArchiveLoaded({ cancelled: true });
    expect(workbench.photos.value[0].id).toBe("ID-1");
    workbench.projectArchiveLoaded({ archive: { state: { photos: [photo(8, { status: "待定" })] } } });
    expect(workbench.photos.value.map((p) => p.id)).toEqual(["ID-8"]);
    timers.advance(1000);
    expect(saves()).toHaveLength(1);
  });
});

describe("crop and rotate", () => {
  it("asks with the photo's path and date, the turns taken modulo 4 and the crop kept inside the picture", () => {
    const { workbench, actions } = started(2);
    workbench.selection.value = { currentId: "ID-2", ids: new Set(["ID-2"]), anchorId: "ID-2" };
    workbench.openEdit();
    expect(workbench.dialog.value).toBe("edit");
    const edit = workbench.photoEdit;
    edit.setDraft({ turns: 7, crop: { x: -0.2, y: 0.5, w: 3, h: Number.NaN } });
    expect(edit.state.value.draft).toEqual({ turns: 3, crop: { x: 0, y: 0.5, w: 1, h: 0.5 } });
    // A quarter turn takes the chosen part of the photo with it.
    edit.setDraft({ turns: 0, crop: { x: 0.1, y: 0.2, w: 0.3, h: 0.4 } });
    edit.setDraft(turnDraft(edit.state.value.draft, 1));
    const turned = edit.state.value.draft;
    expect(turned.turns).toBe(1);
    expect([turned.crop.x, turned.crop.y, turned.crop.w, turned.crop.h].map((v) => +v.toFixed(6))).toEqual([0.4, 0.1, 0.4, 0.3]);
    expect(turnDraft(turned, -1).crop.x).toBeCloseTo(0.1);
    workbench.saveEdit();
    workbench.saveEdit();
    const sent = actions("editPhoto");
    expect(sent).toHaveLength(1);
    expect(sent[0]).toMatchObject({ path: "/shoot/IMG_0002.CR3", turns: 1, date: photo(2).date, crop: turned.crop });
    expect(sent[0].token).toBe(edit.state.value.token);
  });

  it("adds the saved copy after its photo, ignores other tokens and shows errors and cancels", () => {
    const { workbench, actions } = started(2);
    workbench.openEdit();
    workbench.saveEdit();
    const token = actions("editPhoto")[0].token;
    const copy = { ...photo(9), path: "/out/IMG_0001（1）.jpg", format: "JPG", width: 40, height: 30, sourcePath: "/shoot/IMG_0001.CR3" };
    workbench.photoEditResult({ token: "OLD", photo: copy });
    workbench.photoEditResult(null);
    expect(workbench.photos.value).toHaveLength(2);
    workbench.photoEditResult({ token, photo: { ...copy, thumbnail: "file:///etc/passwd" } });
    expect(workbench.photos.value.map((p) => p.id)).toEqual(["ID-1", "ID-9", "ID-2"]);
    expect(workbench.photos.value[1]).toMatchObject({ width: 40, height: 30, sourcePath: "/shoot/IMG_0001.CR3", thumbnail: "" });
    expect(workbench.selection.value.currentId).toBe("ID-9");
    // Answered once; a repeat is stale.
    workbench.photoEditResult({ token, photo: { ...copy, id: "ID-10" } });
    expect(workbench.photos.value).toHaveLength(3);

    workbench.saveEdit();
    workbench.photoEditResult({ token: actions("editPhoto")[1].token, cancelled: true });
    expect(workbench.photoEdit.state.value).toMatchObject({ token: null, message: "已取消保存" });
    workbench.saveEdit();
    workbench.photoEditResult({ token: actions("editPhoto")[2].token, error: "原文件不可访问" });
    expect(workbench.status.value).toBe("原文件不可访问");
    workbench.saveEdit();
    workbench.photoEditResult({ token: actions("editPhoto")[3].token, photo: { ...copy, id: "ID-11", path: "relative.jpg" } });
    expect(workbench.photos.value).toHaveLength(3);
    expect(workbench.status.value).toBe("保存失败");
  });

  it("opens only absolute folders", () => {
    const { workbench, actions } = started(1);
    workbench.openFolder("relative/dir");
    workbench.openFolder("/out");
    expect(actions("openFolder")).toEqual([{ action: "openFolder", path: "/out" }]);
  });
});
