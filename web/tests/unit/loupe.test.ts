import { describe, expect, it } from "vitest";
import { actualSizeOffset } from "../../src/ui/Loupe";

describe("loupe at 100 %", () => {
  it("puts the focus point in the middle of the view", () => {
    expect(actualSizeOffset(800, 4000, 0.5)).toBe(400 - 2000);
    expect(actualSizeOffset(800, 4000, 0.25)).toBe(400 - 1000);
  });

  it("never shows empty space past an edge of a larger image", () => {
    expect(actualSizeOffset(800, 4000, 0)).toBe(0);
    expect(actualSizeOffset(800, 4000, 1)).toBe(800 - 4000);
  });

  it("centres an image smaller than the view", () => {
    expect(actualSizeOffset(800, 600, 0.1)).toBe(100);
  });
});
