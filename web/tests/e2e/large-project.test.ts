// A stored project of 20,000 photos: the grid stays small in the DOM however far it is scrolled.
import { writeFileSync } from "node:fs";
import { join } from "node:path";
import { expect, it } from "vitest";
import { workflows } from "./shim";

const COUNT = 20_000;
// Visible rows plus the overscan, at the smallest cell size on a large window, stay far
// below this; a grid that built every cell would have 20,000.
const MAX_CELLS_IN_DOM = 300;

const photos = Array.from({ length: COUNT }, (_, i) => ({
  id: `SYN-${i}`, path: `/synthetic/IMG_${i}.CR3`, name: `IMG_${i}.CR3`, format: "CR3", size: 25_000_000, thumbnail: `file:///synthetic/thumbnails/${i}.jpg`,
  date: new Date(Date.UTC(2026, 4, 1, 8, 0, i)).toISOString().slice(0, 19),
  ...(i % 11 === 0 ? { status: "淘汰" } : i % 7 === 0 ? { status: "保留", rating: 3 } : {}),
}));

const flows = workflows();

it("scrolls through the whole grid with only the visible cells in the DOM", async () => {
  const session = await flows.start({ prepareSupportDir: (dir) => writeFileSync(join(dir, "current-project.json"), JSON.stringify({ photos, folder: "/synthetic", source: "folder" })) });
  const { page } = session;
  await expect.poll(() => page.getByTestId("shown-count").textContent()).toBe(`${COUNT} 张`);
  const cells = () => page.locator(".cell").count();
  const bounded = async () => expect(await cells()).toSatisfy((n: number) => n > 0 && n < MAX_CELLS_IN_DOM);
  await bounded();

  // Wheel scrolling as a person does; then jumps to the end, counting the cells at every stop.
  await page.mouse.move(300, 400);
  for (let i = 0; i < 150; i++) await page.mouse.wheel(0, 500);
  const figures = await page.evaluate(async () => {
    const scroller = document.querySelector('[data-testid="grid"]') as HTMLElement;
    const scrolled = scroller.scrollTop;
    const frame = () => new Promise((resolve) => requestAnimationFrame(resolve));
    let maxCells = scroller.querySelectorAll(".cell").length;
    for (let i = 1; i <= 200; i++) {
      scroller.scrollTop = Math.round((i * (scroller.scrollHeight - scroller.clientHeight)) / 200);
      await frame().then(frame);
      maxCells = Math.max(maxCells, scroller.querySelectorAll(".cell").length);
    }
    return { scrolled, maxCells };
  });
  expect(figures.scrolled).toBeGreaterThan(0);
  expect(figures.maxCells).toBeLessThan(MAX_CELLS_IN_DOM);

  // At the bottom the last photo is shown; Home and End select from the keyboard.
  await expect.poll(() => page.locator('[data-id="SYN-19999"]').count()).toBe(1);
  await page.keyboard.press("Home");
  await expect.poll(() => page.locator('[data-id="SYN-0"]').count()).toBe(1);
  await page.keyboard.press("End");
  await expect.poll(() => page.locator('[data-id="SYN-19999"].current').count()).toBe(1);

  // Filtered, and the smallest cells at the minimum window size: still a bounded number.
  await page.getByTestId("filter-保留").click();
  await expect.poll(() => page.getByTestId("shown-count").textContent()).toMatch(/^\d+ \/ 20000 张$/);
  await bounded();
  await page.setViewportSize({ width: 980, height: 650 });
  await page.getByTestId("filter-all").click();
  await page.getByTestId("cell-size").fill("110");
  await expect.poll(cells).toBeGreaterThan(0);
  await bounded();
  await session.screenshot("grid-980x650-small-cells");
});
