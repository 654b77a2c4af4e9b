import { describe, expect, it } from "vitest";
import { dateSeconds, frameScore, groupBursts, hashDistance } from "../../src/state/bursts";
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
  it.each<[Partial<Filter>, string[]]>([
    [{ decision: "保留" }, ["ID-1"]],
    // A missing or unknown status is undecided.
    [{ decision: "未决定" }, ["ID-4", "ID-5"]],
    [{ rating: 3 }, ["ID-1", "ID-4"]],
    [{ rating: "unrated" }, ["ID-3", "ID-5"]],
    [{ issue: "闭眼" }, ["ID-2"]],
    [{ issue: "需复核" }, ["ID-3"]],
    [{ issue: "无问题" }, ["ID-1", "ID-3"]],
    [{ issue: "未分析" }, ["ID-4"]],
    [{ decision: "淘汰", issue: "闭眼", rating: 1 }, ["ID-2"]],
    [{ decision: "淘汰", issue: "过曝" }, []],
  ])("%o shows %o", (filter, expected) => expect(photos.filter((p) => matchesFilter(p, { ...defaultFilter(), ...filter })).map((p) => p.id)).toEqual(expected));

  it("counts decisions and rated photos, a filter change keeps the project untouched and saves nothing, and a collapsed burst shows its best frame", () => {
    expect(countDecisions(photos)).toEqual({ 保留: 1, 待定: 1, 淘汰: 1, 未决定: 2, rated: 3, total: 5 });
    const { workbench, advance, saves } = started(photos);
    workbench.setFilter({ decision: "保留" });
    expect(workbench.items.value.map((i) => i.photo.id)).toEqual(["ID-1"]);
    advance(5000);
    expect(saves()).toHaveLength(0);
    // A burst collapses to its best frame unless the group is expanded.
    const burst = [photo(1), photo(2, { group: "B1" }), photo(3, { group: "B1", best: true }), photo(4, { group: "B1" }), photo(5)];
    const collapsed = visibleItems(burst, defaultFilter(), true, new Set());
    expect([collapsed.map((i) => [i.photo.id, i.stackSize]), visibleItems(burst, defaultFilter(), true, new Set(["B1"])).length, visibleItems(burst, defaultFilter(), false, new Set()).length])
      .toEqual([[["ID-1", 1], ["ID-3", 3], ["ID-5", 1]], 5, 5]);
  });

  it("fits as many stretched columns of the preferred size as the width allows, builds the rows in view, and scrolls just enough to reveal a cell", () => {
    const small = gridGeometry(916, 170, 100);
    expect([small.columns, small.rows, small.cellWidth * 5 + 4 * 6 <= 900, gridGeometry(100, 170, 3).columns, visibleRange(gridGeometry(916, 170, 0), 0, 600, 0)]).toEqual([5, 20, true, 1, { first: 0, last: -1 }]);
    const g = gridGeometry(916, 170, 20_000);
    const range = visibleRange(g, 250_000, 600, 20_000);
    expect([cellPosition(g, range.first).top <= 250_000, cellPosition(g, range.last).top + g.rowHeight >= 250_600, scrollToReveal(g, 0, 0, 600), scrollToReveal(g, 0, 500, 600)]).toEqual([true, true, null, 0]);
    expect(cellPosition(g, 50).top + g.rowHeight).toBeLessThanOrEqual(scrollToReveal(g, 50, 0, 600)! + 600);
  });
});

function at(n: number, second: number, hash: string, extra: Record<string, unknown> = {}) {
  return photo(n, { date: `2026-05-01T10:00:${String(second).padStart(2, "0")}`, result: analysed(hash, extra) });
}

describe("burst grouping", () => {
  it.each([
    ["0000000000000000", "0000000000000000", 0],
    ["0000000000000000", "ffffffffffffffff", 64],
    ["00000000000000ff", "0000000100000000", 9],
    ["xyz", "0000000000000000", null],
    [undefined, "0000000000000000", null],
  ])("hash distance of %s and %s is %s bits", (a, b, bits) => expect(hashDistance(a, b)).toBe(bits));

  it("groups consecutive similar frames close in time, labels them in order, and clears old labels", () => {
    expect([dateSeconds("2026-05-01T10:00:05")! - dateSeconds("2026-05-01T09:59:58")!, dateSeconds("")]).toEqual([7, null]);
    // Three alike, then a different picture twice, and that picture again much later; an old label without a hash.
    const photos = [at(1, 0, "0000000000000000"), at(2, 1, "0000000000000003"), at(3, 2, "000000000000000f"), at(4, 3, "ffffffffffffffff"), at(5, 4, "fffffffffffffffe"), at(6, 30, "fffffffffffffffe"), photo(7, { group: "B9", best: true })];
    const { photos: grouped, groups } = groupBursts(photos);
    expect([groups, grouped.map((p) => p.group ?? "-"), grouped[6].best]).toEqual([2, ["B1", "B1", "B1", "B2", "B2", "-", "-"], undefined]);
  });

  it("marks the best frame by the analysis: closed eyes and issues lose", () => {
    const photos = [{ ...at(1, 0, "0000000000000000", { closedEyes: 1, issues: ["闭眼"] }), issues: ["闭眼"] }, at(2, 0, "0000000000000001", { faceFocusScore: 0.9, sharpness: 300 }), at(3, 1, "0000000000000003", { faceFocusScore: 0.5, sharpness: 300 })];
    expect([groupBursts(photos).photos.map((p) => p.best ?? false), frameScore(photos[0]) < frameScore(photos[2])]).toEqual([[false, true, false], true]);
  });
});
