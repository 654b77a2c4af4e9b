import { describe, expect, it } from "vitest";
import { cellPosition, gridGeometry, scrollToReveal, visibleRange } from "../../src/ui/gridLayout";

describe("virtual grid geometry", () => {
  it("fits as many columns of the preferred size as the width allows and stretches them", () => {
    const g = gridGeometry(916, 170, 100);
    expect(g.columns).toBe(5);
    expect(g.cellWidth * 5 + 4 * 6).toBeLessThanOrEqual(900);
    expect(g.rows).toBe(20);
    expect(gridGeometry(100, 170, 3).columns).toBe(1);
  });

  it("builds only the rows in view plus a small margin, even for 20,000 photos", () => {
    const g = gridGeometry(916, 170, 20_000);
    const range = visibleRange(g, 250_000, 600, 20_000);
    const count = range.last - range.first + 1;
    expect(count).toBeLessThanOrEqual(g.columns * 8);
    expect(cellPosition(g, range.first).top).toBeLessThanOrEqual(250_000);
    expect(cellPosition(g, range.last).top + g.rowHeight).toBeGreaterThanOrEqual(250_600);
    const end = visibleRange(g, g.totalHeight - 600, 600, 20_000);
    expect(end.last).toBe(19_999);
  });

  it("scrolls just enough to reveal a cell", () => {
    const g = gridGeometry(916, 170, 100);
    expect(scrollToReveal(g, 0, 0, 600)).toBeNull();
    const below = scrollToReveal(g, 50, 0, 600)!;
    expect(cellPosition(g, 50).top + g.rowHeight).toBeLessThanOrEqual(below + 600);
    expect(scrollToReveal(g, 0, 500, 600)).toBe(0);
  });

  it("has nothing to build for an empty project", () => {
    const g = gridGeometry(916, 170, 0);
    expect(g.totalHeight).toBe(0);
    expect(visibleRange(g, 0, 600, 0)).toEqual({ first: 0, last: -1 });
  });
});
