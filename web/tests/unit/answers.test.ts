import { expect, it } from "vitest";
import { turnDraft } from "../../src/state/photoEdit";
import { RecentCache } from "../../src/state/previewPreload";
import { analysed, photo, press, started } from "./helpers";

it("takes only the current run's results with progress, keeps their issues with the project; trashes only rejects after asking, only the ids each awaited request moved, and exports rated photos into the kept folder", () => {
  const { workbench, actions, advance, saves } = started(4);
  workbench.startAnalysis("all");
  const token = actions("analyze")[0].token;
  const result = analysed("0000000000000000", { issues: ["过曝"] });
  workbench.analysisResult({ token: "OLD", id: "ID-3", result, processed: 1, total: 9, remaining: 3 });
  workbench.analysisResult({ token, id: "ID-1", result, processed: 1, total: 2, remaining: 4 });
  workbench.analysisComplete({ token: "OLD", cancelled: true });
  workbench.analysisResult({ token, id: "ID-2", result: { error: "无法解码照片预览" }, processed: 2, total: 2, remaining: 0 });
  const [first, second, third] = workbench.photos.value;
  expect([first, second.issues, third.result, workbench.analysis.value]).toMatchObject([{ result, issues: ["过曝"] }, [], undefined, { processed: 2, total: 2, remaining: 0 }]);
  workbench.analysisComplete({ token, cancelled: false });
  advance(5000);
  expect([workbench.analysis.value, (saves().at(-1)!.state as any).photos[0].issues]).toEqual([null, ["过曝"]]);
  for (const retire of [() => workbench.cancelAnalysis(), () => workbench.receiveScan({ folder: "/other", source: "folder", skipped: 0, photos: [1, 2, 3, 4].map((n) => photo(n)) })]) {
    workbench.startAnalysis("all");
    retire();
    workbench.analysisResult({ token: actions("analyze").at(-1)!.token, id: "ID-1", result: analysed("0123456789abcdef"), processed: 1, total: 2, remaining: 1 });
    expect(workbench.photos.value[0].result?.hash).not.toBe("0123456789abcdef");
  }
  workbench.askTrashRejects();
  const none = workbench.dialog.value;
  press(workbench, "x", "x", "4", "2");
  workbench.askTrashRejects();
  expect([none, workbench.dialog.value]).toEqual([null, "trash"]);
  workbench.trashRejects();
  workbench.select("ID-4");
  press(workbench, "x");
  workbench.trashRejects();
  const [asked, again] = actions("trashRatedPhotos");
  expect(asked.photos).toEqual([1, 2].map((n) => ({ id: `ID-${n}`, path: `/shoot/IMG_000${n}.CR3` })));
  const moved = [["OTHER", ["ID-1", "ID-2", "ID-3"], "x"], [again.token, ["ID-4"], "已将 1 张照片移到废纸篓"], [asked.token, ["ID-1"], "已移动 1 张，另有文件无法移动：权限不足"], [asked.token, ["ID-2"], "x"]];
  for (const [token, removedIDs, message] of moved) workbench.ratingTrashComplete({ token, removedIDs, message });
  expect([workbench.photos.value.map((p) => p.id), workbench.status.value]).toEqual([["ID-2", "ID-3"], "已移动 1 张，另有文件无法移动：权限不足"]);
  workbench.exportRated();
  const [exported] = actions("exportRatedPhotos");
  expect(exported).toMatchObject({ folder: "", photos: [{ id: "ID-3", path: "/shoot/IMG_0003.CR3", rating: 4 }] });
  workbench.ratingExportFolder({ path: "/exports" });
  workbench.ratingExportComplete({ token: exported.token, outputs: [{}], errors: [], message: "已导出 1 张原片" });
  advance(5000);
  workbench.exportRated();
  workbench.ratingExportComplete({ token: exported.token, message: "stale" });
  expect([(saves().at(-1)!.state as any).ratingExportFolder, actions("exportRatedPhotos")[1].folder, workbench.status.value]).toEqual(["/exports", "/exports", "已导出 1 张原片"]);
});

it("makes the loupe's neighbours ahead, the stepping direction first, two previews at a time, keeps only awaited previews, once each, and keeps the decoded previews last kept", () => {
  const { workbench, actions } = started(8);
  workbench.select("ID-5");
  workbench.openLoupe();
  const atOpening = actions("previewPhoto").length;
  for (const id of ["ID-8", "ID-6"]) workbench.previewReady({ id, url: `file:///${id}.jpg` });
  press(workbench, "ArrowLeft");
  for (const id of ["ID-5", "ID-7", "ID-4"]) workbench.previewReady({ id, url: `file:///${id}.jpg` });
  for (const answer of [{ id: "ID-3", error: "原文件当前不可访问" }, { id: "ID-6", url: "file:///other.jpg" }]) workbench.previewReady(answer);
  expect([atOpening, actions("previewPhoto").map((body) => body.id), workbench.previews.value.get("ID-6"), workbench.previews.value.get("ID-3"), workbench.previews.value.has("ID-8")])
    .toEqual([2, ["ID-5", "ID-6", "ID-7", "ID-4", "ID-3", "ID-2"], { url: "file:///ID-6.jpg" }, { error: "原文件当前不可访问" }, false]);
  const cache = new RecentCache<string>(2);
  const made: string[] = [];
  for (const key of ["a", "b", "a", "c", "a"]) cache.keep(key, () => (made.push(key), key));
  expect([made, cache.keys()]).toEqual([["a", "b", "c"], ["c", "a"]]);
});

it("shows the import's counts until its scan, adopts the scan in the order received with the work of unchanged files, ignores what is no scan, and asks before a card import replaces decisions", () => {
  const { workbench, posted, advance, saves } = started([photo(1, { status: "保留", rating: 3, group: "B1", best: true }), photo(2, { status: "淘汰" })]);
  for (const bad of [null, { found: -1 }, { found: 2.5 }, { found: 3, thumbnails: 4, total: 3 }]) workbench.scanProgressed(bad && { thumbnails: 0, total: 0, ...bad });
  expect(workbench.scanProgress.value).toBeNull();
  workbench.scanProgressed({ found: 3, thumbnails: 1, total: 3 });
  expect(workbench.scanProgress.value).toEqual({ found: 3, thumbnails: 1, total: 3 });
  for (const batch of [[photo(8)], [photo(8), photo(9)]]) workbench.scanRecords({ token: "I1", photos: batch });
  expect([workbench.importPreview.value?.photos.map((p) => p.id), press(workbench, "x"), workbench.counts.value.淘汰]).toEqual([["ID-8", "ID-9"], [false], 1]);
  workbench.receiveScan(null);
  workbench.receiveScan({ folder: "/shoot", source: "folder", skipped: 2, photos: [{ ...photo(2), id: "NEW-2", size: 99 }, { ...photo(1), id: "NEW-1" }] });
  expect(workbench.photos.value.map((p) => [p.id, p.status, p.rating, p.group])).toEqual([["NEW-2", undefined, undefined, undefined], ["NEW-1", "保留", 3, undefined]]);
  workbench.scanRecords({ token: "I1", photos: [photo(10)] });
  expect([workbench.selection.value.currentId, workbench.scanProgress.value, workbench.importPreview.value, workbench.status.value])
    .toEqual(["NEW-2", null, null, "已导入 2 张照片，跳过 2 个（不是普通文件，或文件名不是 UTF-8 编码）；只导入 CR3 和 JPG，其他格式和隐藏文件不会导入"]);
  advance(1000);
  expect(saves()).toHaveLength(1);
  // A closing status ends the counts as well.
  workbench.scanProgressed({ found: 5, thumbnails: 0, total: 0 });
  workbench.setStatus("没有可导入的照片");
  expect(workbench.scanProgress.value).toBeNull();
  // A card import asks before it replaces decisions, and saves them before the program backs the project up.
  workbench.rate(2);
  const before = posted.length;
  workbench.cardDetected({ path: "/media/EOS_DIGITAL", dcim: "/media/EOS_DIGITAL/DCIM" });
  workbench.importCard();
  expect([workbench.dialog.value, posted.length]).toEqual(["replaceProject", before]);
  workbench.confirmImport();
  expect([posted.slice(before), workbench.card.value]).toEqual([[expect.objectContaining({ action: "saveState" }), { action: "scanPath", path: "/media/EOS_DIGITAL/DCIM" }], null]);
});

it("asks once for a turned and cropped copy, the turns modulo 4 and the crop inside the picture, adds the awaited copy after its photo, and shows errors and cancels", () => {
  const { workbench, actions } = started(2);
  workbench.openEdit();
  const edit = workbench.photoEdit;
  edit.setDraft({ turns: 7, crop: { x: -0.2, y: 0.5, w: 3, h: Number.NaN } });
  expect([workbench.dialog.value, edit.state.value.draft]).toEqual(["edit", { turns: 3, crop: { x: 0, y: 0.5, w: 1, h: 0.5 } }]);
  // A quarter turn takes the chosen part of the photo with it.
  edit.setDraft(turnDraft({ turns: 0, crop: { x: 0.1, y: 0.2, w: 0.3, h: 0.4 } }, 1));
  const turned = edit.state.value.draft;
  expect([turned.turns, turned.crop.x, turned.crop.y, turned.crop.w, turned.crop.h].map((v) => +v.toFixed(6))).toEqual([1, 0.4, 0.1, 0.4, 0.3]);
  expect(turnDraft(turned, -1).crop.x).toBeCloseTo(0.1);
  workbench.saveEdit();
  workbench.saveEdit();
  const [{ token }] = actions("editPhoto");
  expect(actions("editPhoto")).toEqual([{ action: "editPhoto", path: "/shoot/IMG_0001.CR3", turns: 1, date: photo(1).date, crop: turned.crop, token }]);
  const copy = { ...photo(9), path: "/out/IMG_0001（1）.jpg", format: "JPG", width: 40, height: 30, sourcePath: "/shoot/IMG_0001.CR3" };
  for (const answer of [{ token: "OLD", photo: copy }, null, { token, photo: { ...copy, thumbnail: "file:///etc/passwd" } }, { token, photo: { ...copy, id: "ID-10" } }]) workbench.photoEditResult(answer);
  expect([workbench.photos.value.map((p) => p.id), workbench.photos.value[1], workbench.selection.value.currentId]).toMatchObject([["ID-1", "ID-9", "ID-2"], { width: 40, height: 30, sourcePath: "/shoot/IMG_0001.CR3", thumbnail: "" }, "ID-9"]);
  const answered = (payload: Record<string, unknown>) => {
    workbench.saveEdit();
    workbench.photoEditResult({ token: actions("editPhoto").at(-1)!.token, ...payload });
    return [workbench.photoEdit.state.value.token, workbench.photoEdit.state.value.message, workbench.status.value, workbench.photos.value.length];
  };
  expect([answered({ cancelled: true }).slice(0, 2), answered({ error: "原文件不可访问" })[2], answered({ photo: { ...copy, id: "ID-11", path: "relative.jpg" } }).slice(2)]).toEqual([[null, "已取消保存"], "原文件不可访问", ["保存失败", 3]]);
  for (const path of ["relative/dir", "/out"]) workbench.openFolder(path);
  expect(actions("openFolder")).toEqual([{ action: "openFolder", path: "/out" }]);
  // Photos the file manager opened are imported by the program's token.
  for (const request of [{ token: "T1", count: 1, names: ["a.jpg"] }, null, { token: "", count: 1 }, { token: "T2", count: 0 }]) workbench.openPhotosRequested(request);
  expect(actions("importRequestedPhotos")).toEqual([{ action: "importRequestedPhotos", token: "T1" }]);
});
