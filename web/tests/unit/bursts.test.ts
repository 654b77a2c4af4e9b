import { describe, expect, it } from "vitest";
import { dateSeconds, frameScore, groupBursts, hashDistance } from "../../src/state/bursts";
import { analysed, photo } from "./helpers";

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

  it("reads record dates as seconds", () => {
    expect(dateSeconds("2026-05-01T10:00:05")! - dateSeconds("2026-05-01T09:59:58")!).toBe(7);
    expect(dateSeconds("")).toBeNull();
  });

  it("groups consecutive similar frames close in time and labels them in order", () => {
    // Three alike, then a different picture twice, and that picture again much later.
    const photos = [at(1, 0, "0000000000000000"), at(2, 1, "0000000000000003"), at(3, 2, "000000000000000f"), at(4, 3, "ffffffffffffffff"), at(5, 4, "fffffffffffffffe"), at(6, 30, "fffffffffffffffe")];
    const { photos: grouped, groups } = groupBursts(photos);
    expect([groups, grouped.map((p) => p.group ?? "-")]).toEqual([2, ["B1", "B1", "B1", "B2", "B2", "-"]]);
  });

  it("marks the best frame by the analysis: closed eyes and issues lose", () => {
    const photos = [{ ...at(1, 0, "0000000000000000", { closedEyes: 1, issues: ["闭眼"] }), issues: ["闭眼"] }, at(2, 0, "0000000000000001", { faceFocusScore: 0.9, sharpness: 300 }), at(3, 1, "0000000000000003", { faceFocusScore: 0.5, sharpness: 300 })];
    expect(groupBursts(photos).photos.map((p) => p.best ?? false)).toEqual([false, true, false]);
    expect(frameScore(photos[0])).toBeLessThan(frameScore(photos[2]));
  });

  it("clears old labels and leaves photos without a hash alone", () => {
    const { photos: grouped, groups } = groupBursts([photo(1, { group: "B9", best: true }), at(2, 0, "0000000000000000"), photo(3)]);
    expect([groups, grouped.every((p) => p.group === undefined && p.best === undefined)]).toEqual([0, true]);
  });
});
