// The project through the program: imports through its panels, the decisions kept across a
// restart, the loupe on the program's large preview, a turned and cropped copy, and a stored
// project of 20,000 photos whose grid stays small in the DOM however far it is scrolled.
import { readdirSync, readFileSync, statSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { expect, it } from "vitest";
import { workflows } from "./shim";

const NAMES = ["canon-t6-coins-2000x1072.jpg", "orientation-6.jpg", "face-closed-yawn.jpg", "under-night-snow.jpg"];

const flows = workflows();

it("starts empty, imports, asks before replacing decisions, keeps them across a restart, then shows a photo in the loupe and saves a cropped copy", async () => {
  const shoot = flows.shoot(NAMES);
  const out = flows.tempDir("tidewick-edit-");
  const supportDir = flows.tempDir("tidewick-qa-");
  let session = await flows.start({ supportDir });
  let { page } = session;
  const version = await session.waitForCallback<string>("version");
  await expect.poll(() => Promise.all([session.texts("version"), page.getByText("还没有照片").count(), session.sent("ready").length])).toEqual([[expect.stringContaining(version)], 1, 1]);

  const scan = await session.importPaths([shoot]);
  expect([scan.source, scan.photos[0].thumbnail]).toEqual(["folder", expect.stringMatching(/^file:\/\/.*ThumbnailCache/)]);
  await expect.poll(() => Promise.all([page.getByTestId("status").textContent(), page.evaluate(() => [...document.querySelectorAll<HTMLImageElement>(".cell img")].every((img) => img.complete && img.naturalWidth > 0))]))
    .toEqual([`已导入 ${NAMES.length} 张照片；只导入 CR3 和 JPG，其他格式和隐藏文件不会导入`, true]);

  const picked = await session.importPaths([join(shoot, NAMES[2]), join(shoot, NAMES[3])], "photos");
  // The photo panel opens in the project's folder.
  await expect.poll(() => Promise.all([picked.source, session.sent("choosePhotos").at(-1), page.getByTestId("grid-cell").count()])).toEqual(["files", { action: "choosePhotos", path: shoot }, 2]);
  await page.getByTestId("grid-cell").first().click();
  for (const key of ["p", "5"]) await page.keyboard.press(key);

  // With decisions made, the import asks first; unchanged files keep their work.
  session.answerPanel([shoot]);
  await page.getByTestId("import-folder").click();
  await expect.poll(() => page.getByTestId("replace-dialog").textContent()).toContain("2 张照片已做决定或评星");
  const again = await session.answerTo(() => page.getByTestId("confirm-import").click(), "receiveScan");
  await expect.poll(() => Promise.all([again.photos.length, page.getByTestId("counts").textContent()])).toEqual([NAMES.length, expect.stringMatching(/保留 1.*★ 1/)]);

  // The save is debounced; closing the page hands over what is pending.
  await page.evaluate(() => window.dispatchEvent(new Event("pagehide")));
  expect(await session.close()).toBe(0);
  const stored = JSON.parse(readFileSync(join(supportDir, "current-project.json"), "utf8"));
  const work = Object.fromEntries(stored.photos.map((p: any) => [p.name, [p.status ?? null, p.rating ?? null]]));
  expect(work).toEqual({ ...Object.fromEntries(NAMES.map((name) => [name, [null, null]])), [picked.photos[0].name]: ["保留", null], [picked.photos[1].name]: [null, 5] });

  // Starting again gives the work back and sends no save of its own.
  session = await flows.start({ supportDir });
  page = session.page;
  await expect.poll(() => Promise.all([session.texts("counts"), page.locator(".cell-stars").count()])).toEqual([[expect.stringContaining("保留 1")], 1]);
  expect(session.sent("saveState")).toHaveLength(0);
  // A photo opened from the file manager asks first too; declining keeps the project.
  session.send({ "@open-url": `file://${join(shoot, NAMES[0])}` });
  await expect.poll(() => page.getByTestId("open-request").textContent()).toBe(`要打开的 1 张照片：${NAMES[0]}`);
  await page.getByTestId("replace-dialog").getByText("取消").click();
  expect([session.sent("importRequestedPhotos").length, await page.getByTestId("grid-cell").count()]).toEqual([0, NAMES.length]);

  const [first, second] = stored.photos;
  await page.locator(`[data-id="${first.id}"]`).click();
  await page.keyboard.press("Space");
  expect((await session.waitForCallback("previewReady", (p) => p.id === first.id)).url).toMatch(/^file:\/\/.*PreviewCache/);
  const image = page.getByTestId("loupe-image");
  await expect.poll(() => Promise.all([image.getAttribute("data-preview"), image.evaluate((img: HTMLImageElement) => img.naturalWidth > 0)])).toEqual(["1", true]);
  // The shown photo's preview, then the next two are made ahead.
  expect(session.sent("previewPhoto").map((b) => b.id)).toEqual(stored.photos.slice(0, 3).map((p: any) => p.id));

  await session.screenshot("loupe");
  await page.keyboard.press("ArrowRight");
  await expect.poll(() => page.locator(".loupe-name").textContent()).toBe(second.name);
  await page.keyboard.press("Escape");
  await expect.poll(() => page.getByTestId("loupe").count()).toBe(0);

  const source = join(shoot, NAMES[0]);
  const sourceSize = statSync(source).size;
  await page.getByTitle(NAMES[0], { exact: true }).click();
  await page.keyboard.press("e");
  await expect.poll(() => page.getByTestId("edit-dialog").count()).toBe(1);
  await page.getByTestId("rotate-right").click();
  await expect.poll(() => page.getByTestId("edit-turns").textContent()).toBe("90°");
  for (const side of ["crop-w", "crop-h"]) await page.getByTestId(side).fill("50").then(() => page.getByTestId(side).press("Tab"));
  session.answerPanel([out]);
  const answer = await session.answerTo(() => page.getByTestId("edit-save").click(), "photoEditResult");
  expect(session.sent("editPhoto")[0]).toMatchObject({ path: source, turns: 1, crop: { x: 0, y: 0, w: 0.5, h: 0.5 }, token: answer.token });
  // The turned picture is 1072 × 2000; half of each side is kept.
  expect([answer.photo, readdirSync(out), statSync(source).size]).toMatchObject([{ name: "canon-t6-coins-2000x1072（1）.jpg", format: "JPG", width: 536, height: 1000, sourcePath: source }, ["canon-t6-coins-2000x1072（1）.jpg"], sourceSize]);
  await expect.poll(() => page.getByTestId("edit-message").textContent()).toContain("已另存为");
  await page.keyboard.press("Escape");
  await expect.poll(() => Promise.all([page.getByTestId("grid-cell").count(), page.locator(".inspector-name").textContent()])).toEqual([NAMES.length + 1, answer.photo.name]);
});

const COUNT = 20_000;
// Visible rows plus the overscan, at the smallest cell size on a large window, stay far
// below this; a grid that built every cell would have 20,000.
const MAX_CELLS_IN_DOM = 300;

const SYNTHETIC = Array.from({ length: COUNT }, (_, i) => ({
  id: `SYN-${i}`, path: `/synthetic/IMG_${i}.CR3`, name: `IMG_${i}.CR3`, format: "CR3", size: 25_000_000, thumbnail: `file:///synthetic/thumbnails/${i}.jpg`,
  date: new Date(Date.UTC(2026, 4, 1, 8, 0, i)).toISOString().slice(0, 19),
  ...(i % 11 === 0 ? { status: "淘汰" } : i % 7 === 0 ? { status: "保留", rating: 3 } : {}),
}));

it("scrolls through the whole grid with only the visible cells in the DOM", async () => {
  const session = await flows.start({ prepareSupportDir: (dir) => writeFileSync(join(dir, "current-project.json"), JSON.stringify({ photos: SYNTHETIC, folder: "/synthetic", source: "folder" })) });
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
  expect([figures.scrolled > 0, figures.maxCells < MAX_CELLS_IN_DOM]).toEqual([true, true]);

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
