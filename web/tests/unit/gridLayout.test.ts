import { expect, it } from "vitest";
import { actualSizeOffset } from "../../src/ui/Loupe";
import { cellPosition, gridGeometry, scrollToReveal, visibleRange } from "../../src/ui/gridLayout";

it("fits as many stretched columns of the preferred size as the width allows, builds the rows in view, and scrolls just enough to reveal a cell", () => {
  const small = gridGeometry(916, 170, 100);
  expect([small.columns, small.rows, small.cellWidth * 5 + 4 * 6 <= 900, gridGeometry(100, 170, 3).columns]).toEqual([5, 20, true, 1]);
  expect(visibleRange(gridGeometry(916, 170, 0), 0, 600, 0)).toEqual({ first: 0, last: -1 });
  const g = gridGeometry(916, 170, 20_000);
  const range = visibleRange(g, 250_000, 600, 20_000);
  expect([cellPosition(g, range.first).top <= 250_000, cellPosition(g, range.last).top + g.rowHeight >= 250_600]).toEqual([true, true]);
  expect([scrollToReveal(g, 0, 0, 600), scrollToReveal(g, 0, 500, 600)]).toEqual([null, 0]);
  expect(cellPosition(g, 50).top + g.rowHeight).toBeLessThanOrEqual(scrollToReveal(g, 50, 0, 600)! + 600);
});

// The focus point goes to the middle of the view, but no empty space shows past an edge of a
// larger image, and a smaller image is centred.
it.each([
  [800, 4000, 0.5, 400 - 2000],
  [800, 4000, 0.25, 400 - 1000],
  [800, 4000, 0, 0],
  [800, 4000, 1, 800 - 4000],
  [800, 600, 0.1, 100],
])("view %i, image %i, focus %f: offset %i", (view, image, focus, offset) => expect(actualSizeOffset(view, image, focus)).toBe(offset));
