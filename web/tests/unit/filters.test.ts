import { describe, expect, it } from "vitest";
import { dateSeconds, frameScore, groupBursts, hashDistance } from "../../src/state/bursts";
import { captureTimeline, parseCaptureTime, readCaptureAnswers } from "../../src/state/captureData";
import { countDecisions, defaultFilter, matchesFilter, visibleItems, type Filter } from "../../src/state/filters";
import { cellPosition, gridGeometry, scrollToReveal, visibleRange } from "../../src/ui/gridLayout";
import { analysed, photo, started } from "./helpers";

const photos = [
  photo(1, { status: "保留", rating: 5, result: analysed("0000000000000000"), issues: [] }),
  photo(2, { status: "淘汰", rating: 1, result: analysed("0000000000000000", { issues: ["闭眼"] }), issues: ["闭眼"] }),
  photo(3, { status: "待定", result: analysed("0", { reviewReasons: ["眼睛开合接近阈值，请复核"] }), issues: [] }),
  photo(4, { rating: 3 }),
  photo(5, { status: "other" as any, result: { error: "无法解码照片预览" } }),
];

describe("the grid: filters, counts and layout", () => {
  it("filters by decision (a missing or unknown status is undecided), by stars from a number up or none, by issue or review, and by all at once", () => {
    const filters: Partial<Filter>[] = [{ decision: "未决定" }, { rating: 3 }, { rating: "unrated" }, { issue: "闭眼" }, { issue: "需复核" }, { issue: "无问题" }, { decision: "淘汰", issue: "闭眼", rating: 1 }];
    expect(filters.map((filter) => photos.filter((p) => matchesFilter(p, { ...defaultFilter(), ...filter })).map((p) => p.id)))
      .toEqual([["ID-4", "ID-5"], ["ID-1", "ID-4"], ["ID-3", "ID-5"], ["ID-2"], ["ID-3"], ["ID-1", "ID-3"], ["ID-2"]]);
  });

  it("counts decisions and rated photos, a filter change keeps the project untouched and saves nothing, a collapsed burst shows its best frame, and the cells in view are laid out", () => {
    expect(countDecisions(photos)).toEqual({ 保留: 1, 待定: 1, 淘汰: 1, 未决定: 2, rated: 3, total: 5 });
    const { workbench, advance, saves } = started(photos);
    workbench.setFilter({ decision: "保留" });
    expect(workbench.items.value.map((i) => i.photo.id)).toEqual(["ID-1"]);
    advance(5000);
    expect(saves()).toHaveLength(0);
    const burst = [photo(1), photo(2, { group: "B1" }), photo(3, { group: "B1", best: true }), photo(4, { group: "B1" }), photo(5)];
    const collapsed = visibleItems(burst, defaultFilter(), true, new Set()).map((i) => [i.photo.id, i.stackSize]);
    expect(collapsed).toEqual([["ID-1", 1], ["ID-3", 3], ["ID-5", 1]]);
    // As many stretched columns of the preferred size as fit, the rows in view and two more each way, a scroll just enough to reveal a cell.
    expect([gridGeometry(916, 170, 100), gridGeometry(100, 170, 3).columns]).toEqual([{ columns: 5, cellWidth: 175, rowHeight: 197, rows: 20, totalHeight: 4070 }, 1]);
    const g = gridGeometry(916, 170, 20_000);
    expect([visibleRange(g, 250_000, 600, 20_000), visibleRange(g, 0, 600, 0), cellPosition(g, 7)]).toEqual([{ first: 6145, last: 6184 }, { first: 0, last: -1 }, { top: 211, left: 370 }]);
    expect([0, 500].map((top) => scrollToReveal(g, 0, top, 600)).concat(scrollToReveal(g, 50, 0, 600))).toEqual([null, 0, 1643]);
  });
});

function at(n: number, second: number, hash: string, extra: Record<string, unknown> = {}) {
  return photo(n, { date: `2026-05-01T10:00:${String(second).padStart(2, "0")}`, result: analysed(hash, extra) });
}

describe("burst grouping", () => {
  it("counts the bits two hashes differ in, and nothing for a hash it cannot read", () => {
    const pairs = [["0000000000000000", "ffffffffffffffff"], ["00000000000000ff", "0000000100000000"], ["xyz", "0000000000000000"]];
    expect(pairs.map(([a, b]) => hashDistance(a, b))).toEqual([64, 9, null]);
  });

  it("groups consecutive similar frames close in time, labels them in order, clears old labels, and marks each burst's best frame", () => {
    expect([dateSeconds("2026-05-01T10:00:05")! - dateSeconds("2026-05-01T09:59:58")!, dateSeconds("")]).toEqual([7, null]);
    // Three alike, then a different picture twice, and that picture again much later; an old label without a hash.
    const photos = [at(1, 0, "0000000000000000"), at(2, 1, "0000000000000003"), at(3, 2, "000000000000000f"), at(4, 3, "ffffffffffffffff"), at(5, 4, "fffffffffffffffe"), at(6, 30, "fffffffffffffffe"), photo(7, { group: "B9", best: true })];
    const { photos: grouped, groups } = groupBursts(photos);
    expect([groups, grouped.map((p) => p.group ?? "-"), grouped[6].best]).toEqual([2, ["B1", "B1", "B1", "B2", "B2", "-", "-"], undefined]);
    // The best frame by the analysis: closed eyes and issues lose.
    const frames = [{ ...at(1, 0, "0000000000000000", { closedEyes: 1, issues: ["闭眼"] }), issues: ["闭眼"] }, at(2, 0, "0000000000000001", { faceFocusScore: 0.9, sharpness: 300 }), at(3, 1, "0000000000000003", { faceFocusScore: 0.5, sharpness: 300 })];
    expect([groupBursts(frames).photos.map((p) => p.best ?? false), frameScore(frames[0]) < frameScore(frames[2])]).toEqual([[false, true, false], true]);
  });
});

// Two bodies at one wedding: the A7's DSC_ files in local time with its offset, the R5's IMG_ files in UTC.
const body = (prefix: string, name: string, camera: string) => (n: number, captureTime: string) => ({
  photo: photo(n, { id: `${prefix}-${n}`, name: `${name}_${n}.JPG`, path: `/shoot/${name}_${n}.JPG` }),
  answer: { id: `${prefix}-${n}`, captureTime, camera },
});
const [a, b] = [body("A", "DSC", "ILCE-7M4"), body("B", "IMG", "EOS R5")];
const WEDDING = [a(1, "2024-05-01T14:03:22.10+02:00"), a(2, "2024-05-01T14:03:22.90+02:00"), a(3, "2024-05-01T14:05:00+02:00"), b(1, "2024-05-01T12:03:22.50Z"), b(2, "2024-05-01T12:04:10Z")];
const weddingPhotos = WEDDING.map((frame) => frame.photo);
const answers = WEDDING.map((frame) => frame.answer);
const utc = (h: number, m: number, s: number) => Date.UTC(2024, 4, 1, h, m, s) / 1000;

describe("capture data, and the grid's order and bursts by capture time", () => {
  it("reads each field only when it has the right type and range, and puts the capture times on one line", () => {
    const good = { captureTime: "2024-05-01T14:03:22.37+02:00", focalLength: 85, shutter: "1/250", exposureTime: 0.004, exposureCompensation: 0.7, width: 8192 };
    const odd = { camera: "  EOS R5 ", serial: 42, lens: "", aperture: -2, iso: "800" };
    const error = { error: "无法读取这张照片的拍摄信息" };
    const read = readCaptureAnswers({ photos: [{ id: "1", ...good, ...odd }, { id: "2", ...error }, { id: "3", captureTime: "2024-13-01T14:03:22" }, good] });
    expect(Object.fromEntries(read)).toEqual({ 1: { data: { ...good, camera: "EOS R5", clockSeconds: utc(14, 3, 22) + 0.37, offsetSeconds: 7200 } }, 2: error, 3: { data: {} } });
    // When one camera wrote no offset, the clocks are compared as they read.
    const times = new Map([["ID-1", { clockSeconds: utc(14, 0, 30), offsetSeconds: 7200 }], ["ID-2", { clockSeconds: utc(14, 0, 10) }]]);
    expect([...captureTimeline([photo(1), photo(2)], times)!.values()]).toEqual([utc(14, 0, 30), utc(14, 0, 10)]);
  });

  it("reads a capture time with a negative offset, sub-seconds without one, and no other form", () => {
    expect(["2024-05-01T12:00:00-03:30", "2024-05-01T12:00:00.5", "2024-05-01 12:00:00"].map(parseCaptureTime))
      .toEqual([{ clock: utc(12, 0, 0), offset: -12600 }, { clock: utc(12, 0, 0) + 0.5, offset: null }, null]);
  });

  it("interleaves two bodies by capture time, and keeps the import's order while a time is missing", () => {
    const { workbench, actions } = started([...weddingPhotos].reverse());
    expect(actions("photoMetadata")).toHaveLength(1);
    const shown = () => workbench.items.value.map((item) => item.photo.id);
    workbench.photoMetadata({ photos: answers.slice(1) });
    expect(shown()).toEqual(["B-2", "B-1", "A-3", "A-2", "A-1"]);
    workbench.photoMetadata({ photos: answers.slice(0, 1) });
    expect(shown()).toEqual(["A-1", "B-1", "A-2", "B-2", "A-3"]);
    // Keys follow the grid's order.
    workbench.select("A-1");
    workbench.move(1);
    expect(workbench.currentPhoto.value?.id).toBe("B-1");
    // Answers for photos not asked about, of a replaced project or answered before are left out.
    workbench.receiveState({ photos: weddingPhotos.slice(0, 2) });
    for (const answer of [[{ id: "A-9", camera: "X" }], answers, [{ id: "A-1", camera: "Other" }]]) workbench.photoMetadata({ photos: answer });
    expect([workbench.captureData.value.get("A-1")?.camera, workbench.captureAnswers.value.has("B-1")]).toEqual(["ILCE-7M4", false]);
  });

  it("asks for an import's capture data in parts of at most 2,000 photos, and forms its bursts again from capture times: one body's frames, not the other's", () => {
    const { workbench, actions } = started(0);
    const many = Array.from({ length: 2001 }, (_, i) => photo(i + 1));
    workbench.receiveScan({ folder: "/shoot", source: "folder", skipped: 0, photos: many });
    expect(actions("photoMetadata").map((ask) => [(ask.ids as string[]).length, (ask.paths as string[])[0]])).toEqual([[2000, many[0].path], [1, many[2000].path]]);
    // Every frame looks alike; file dates put all of them within the gap.
    const scanned = weddingPhotos.map((p) => ({ ...p, date: "2024-05-01T14:03:22", result: analysed("0000000000000000") }));
    workbench.receiveScan({ folder: "/shoot", source: "folder", skipped: 0, photos: scanned });
    expect(new Set(workbench.photos.value.map((p) => p.group))).toEqual(new Set(["B1"]));
    workbench.photoMetadata({ photos: answers });
    expect(Object.fromEntries(workbench.photos.value.map((p) => [p.id, p.group ?? "-"]))).toEqual({ "A-1": "B1", "A-2": "B1", "A-3": "-", "B-1": "-", "B-2": "-" });
  });
});
