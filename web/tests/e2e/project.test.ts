// The project through the program: imports through its panels, the decisions kept across a restart,
// a turned and cropped copy, and a stored project of 20,000 photos whose grid stays small in the DOM.
import { readFileSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { expect, it } from "vitest";
import { workflows } from "./shim";

const NAMES = ["canon-t6-coins-2000x1072.jpg", "orientation-6.jpg", "face-closed-yawn.jpg", "under-night-snow.jpg"];

const flows = workflows();

it("starts empty, imports, asks before replacing decisions, keeps them across a restart, then saves a turned and cropped copy", async () => {
  const shoot = flows.shoot(NAMES);
  const supportDir = flows.tempDir("tidewick-qa-");
  let session = await flows.start({ supportDir });
  let { page } = session;
  const version = await session.waitForCallback<string>("version");
  await expect.poll(() => Promise.all([session.texts("version"), page.getByText("还没有照片").count()])).toEqual([[expect.stringContaining(version)], 1]);
  await session.importPaths([shoot]);
  const loaded = () => [...document.querySelectorAll<HTMLImageElement>(".cell img")].every((img) => img.complete && img.naturalWidth > 0);
  await expect.poll(() => Promise.all([page.getByTestId("status").textContent(), page.evaluate(loaded)]))
    .toEqual([`已导入 ${NAMES.length} 张照片；只导入 CR3 和 JPG，其他格式和隐藏文件不会导入`, true]);
  const picked = await session.importPaths([join(shoot, NAMES[2]), join(shoot, NAMES[3])], "photos");
  // The photo panel opens in the project's folder.
  await expect.poll(() => Promise.all([session.sent("choosePhotos").at(-1), page.getByTestId("grid-cell").count()])).toEqual([{ action: "choosePhotos", path: shoot }, 2]);
  await page.getByTestId("grid-cell").first().click();
  for (const key of ["p", "5"]) await page.keyboard.press(key);
  session.answerPanel([shoot]);
  await page.getByTestId("import-folder").click();
  await expect.poll(() => page.getByTestId("replace-dialog").textContent()).toContain("2 张照片已做决定或评星");
  await session.answerTo(() => page.getByTestId("confirm-import").click(), "receiveScan");
  // The save is debounced; closing the page hands over what is pending.
  await page.evaluate(() => window.dispatchEvent(new Event("pagehide")));
  expect(await session.close()).toBe(0);
  const stored = JSON.parse(readFileSync(join(supportDir, "current-project.json"), "utf8"));
  const work = Object.fromEntries(stored.photos.map((p: any) => [p.name, [p.status ?? null, p.rating ?? null]]));
  expect(work).toEqual({ ...Object.fromEntries(NAMES.map((name) => [name, [null, null]])), [picked.photos[0].name]: ["保留", null], [picked.photos[1].name]: [null, 5] });
  session = await flows.start({ supportDir });
  page = session.page;
  await expect.poll(() => Promise.all([session.texts("counts"), page.locator(".cell-stars").count()])).toEqual([[expect.stringContaining("保留 1")], 1]);
  // A photo opened from the file manager asks first too; declining keeps the project.
  session.send({ "@open-url": `file://${join(shoot, NAMES[0])}` });
  await expect.poll(() => page.getByTestId("open-request").textContent()).toBe(`要打开的 1 张照片：${NAMES[0]}`);
  await page.getByTestId("replace-dialog").getByText("取消").click();
  expect([session.sent("importRequestedPhotos").length, await page.getByTestId("grid-cell").count()]).toEqual([0, NAMES.length]);
  await page.getByTitle(NAMES[0], { exact: true }).click();
  await page.keyboard.press("e");
  await page.getByTestId("rotate-right").click();
  await expect.poll(() => page.getByTestId("edit-turns").textContent()).toBe("90°");
  for (const side of ["crop-w", "crop-h"]) await page.getByTestId(side).fill("50").then(() => page.getByTestId(side).press("Tab"));
  session.answerPanel([flows.tempDir("tidewick-edit-")]);
  const answer = await session.answerTo(() => page.getByTestId("edit-save").click(), "photoEditResult");
  expect(session.sent("editPhoto")[0]).toMatchObject({ path: join(shoot, NAMES[0]), turns: 1, crop: { x: 0, y: 0, w: 0.5, h: 0.5 }, token: answer.token });
  await expect.poll(() => page.getByTestId("edit-message").textContent()).toContain("已另存为");
  await page.keyboard.press("Escape");
  await expect.poll(() => Promise.all([page.getByTestId("grid-cell").count(), page.locator(".inspector-name").textContent()])).toEqual([NAMES.length + 1, answer.photo.name]);
});

// A grid that built every cell would have 20,000; the visible rows and the overscan stay far below 300.
const COUNT = 20_000;
const SYNTHETIC = Array.from({ length: COUNT }, (_, i) => ({
  id: `SYN-${i}`, path: `/synthetic/IMG_${i}.CR3`, name: `IMG_${i}.CR3`, format: "CR3", size: 25_000_000, thumbnail: `file:///synthetic/thumbnails/${i}.jpg`,
  date: new Date(Date.UTC(2026, 4, 1, 8, 0, i)).toISOString().slice(0, 19),
}));

it("scrolls through the whole grid with only the visible cells in the DOM", async () => {
  const session = await flows.start({ prepareSupportDir: (dir) => writeFileSync(join(dir, "current-project.json"), JSON.stringify({ photos: SYNTHETIC, folder: "/synthetic", source: "folder" })) });
  const { page } = session;
  await expect.poll(() => page.getByTestId("shown-count").textContent()).toBe(`${COUNT} 张`);
  const bounded = async () => expect(await page.locator(".cell").count()).toSatisfy((n: number) => n > 0 && n < 300);
  await bounded();
  await page.mouse.move(300, 400);
  for (let i = 0; i < 150; i++) await page.mouse.wheel(0, 500);
  await expect.poll(() => page.getByTestId("grid").evaluate((grid) => grid.scrollTop)).toBeGreaterThan(0);
  await bounded();
  await page.keyboard.press("End");
  await expect.poll(() => page.locator('[data-id="SYN-19999"].current').count()).toBe(1);
  await page.setViewportSize({ width: 980, height: 650 });
  await page.getByTestId("cell-size").fill("110");
  await expect.poll(() => page.locator(".cell").count()).toBeGreaterThan(0);
  await bounded();
});
