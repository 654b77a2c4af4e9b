import { describe, expect, it } from "vitest";
import { countDecisions, defaultFilter, matchesFilter, visibleItems } from "../../src/state/filters";
import { analysed, makeWorkbench, photo } from "./helpers";

const photos = [
  photo(1, { status: "保留", rating: 5, result: analysed("0000000000000000"), issues: [] }),
  photo(2, { status: "淘汰", rating: 1, result: analysed("0000000000000000", { issues: ["闭眼"] }), issues: ["闭眼"] }),
  photo(3, { status: "待定", result: analysed("0", { reviewReasons: ["眼睛开合接近阈值，请复核"] }), issues: [] }),
  photo(4, { rating: 3 }),
  photo(5, { status: "other" as any, result: { error: "无法解码照片预览" } }),
];

function ids(filter: Partial<ReturnType<typeof defaultFilter>>) {
  return photos.filter((p) => matchesFilter(p, { ...defaultFilter(), ...filter })).map((p) => p.id);
}

describe("filters and counts", () => {
  it("filters by decision, treating a missing or unknown status as undecided", () => {
    expect(ids({ decision: "保留" })).toEqual(["ID-1"]);
    expect(ids({ decision: "未决定" })).toEqual(["ID-4", "ID-5"]);
  });

  it("filters by at least n stars or by no stars", () => {
    expect(ids({ rating: 3 })).toEqual(["ID-1", "ID-4"]);
    expect(ids({ rating: "unrated" })).toEqual(["ID-3", "ID-5"]);
  });

  it("filters by issue, review, clean and not analysed", () => {
    expect(ids({ issue: "闭眼" })).toEqual(["ID-2"]);
    expect(ids({ issue: "需复核" })).toEqual(["ID-3"]);
    expect(ids({ issue: "无问题" })).toEqual(["ID-1", "ID-3"]);
    expect(ids({ issue: "未分析" })).toEqual(["ID-4"]);
  });

  it("combines filters", () => {
    expect(ids({ decision: "淘汰", issue: "闭眼", rating: 1 })).toEqual(["ID-2"]);
    expect(ids({ decision: "淘汰", issue: "过曝" })).toEqual([]);
  });

  it("counts decisions and rated photos", () => {
    expect(countDecisions(photos)).toEqual({ 保留: 1, 待定: 1, 淘汰: 1, 未决定: 2, rated: 3, total: 5 });
  });

  it("collapses a burst to its best frame unless the group is expanded", () => {
    const burst = [photo(1), photo(2, { group: "B1" }), photo(3, { group: "B1", best: true }), photo(4, { group: "B1" }), photo(5)];
    const collapsed = visibleItems(burst, defaultFilter(), true, new Set());
    expect(collapsed.map((i) => [i.photo.id, i.stackSize])).toEqual([
      ["ID-1", 1],
      ["ID-3", 3],
      ["ID-5", 1],
    ]);
    const expanded = visibleItems(burst, defaultFilter(), true, new Set(["B1"]));
    expect(expanded).toHaveLength(5);
    expect(visibleItems(burst, defaultFilter(), false, new Set())).toHaveLength(5);
  });

  it("a filter change keeps the project untouched and saves nothing", () => {
    const { workbench, timers, saves } = makeWorkbench();
    workbench.receiveState({ photos });
    workbench.setFilter({ decision: "保留" });
    expect(workbench.items.value.map((i) => i.photo.id)).toEqual(["ID-1"]);
    timers.advance(5000);
    expect(saves()).toHaveLength(0);
  });
});
