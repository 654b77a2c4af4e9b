// Judging focus and eyes: 100 % shows the photo's own pixels, photos side by side share one
// zoom and spot, and two bodies of one shoot interleave by capture time.
import { execFileSync } from "node:child_process";
import { join } from "node:path";
import { expect, it } from "vitest";
import { workflows } from "./shim";

const LARGE = "nikon-d5300-6000x4000.jpg";

const flows = workflows();
it("shows a 6000-pixel photo's own pixels at 100 %, then two photos side by side at one zoom and spot, panned together", async () => {
  const session = await flows.start();
  const { page } = session;
  const scan = await session.importPaths([flows.shoot({ "DSC_0001.jpg": LARGE, "DSC_0002.jpg": LARGE, "DSC_0003.jpg": "orientation-1.jpg" })]);
  await page.getByTestId("grid-cell").first().click();
  await page.keyboard.press("Space");
  await session.waitForCallback("previewReady", (p) => p.id === scan.photos[0].id);
  await expect.poll(() => page.getByTestId("loupe-image").getAttribute("data-preview")).toBe("1");
  const frame = (await page.locator(".loupe-frame").boundingBox())!;
  await page.mouse.click(frame.x + frame.width * 0.5, frame.y + frame.height * 0.5);
  const answer = await session.waitForCallback("photoRegion", (p) => p.id === scan.photos[0].id && !p.error);
  const asked = session.sent("photoRegion").at(-1)!;
  expect([answer.photoWidth, answer.photoHeight, answer.x, answer.y, answer.width, answer.height]).toEqual([6000, 4000, asked.x, asked.y, asked.width, asked.height]);
  const region = page.getByTestId("loupe-region");
  await expect.poll(() => region.evaluate((img: HTMLImageElement) => [img.naturalWidth, img.naturalHeight])).toEqual([asked.width, asked.height]);
  // One photo pixel per screen pixel: far more than the 2800-pixel preview shows.
  expect(await region.evaluate((img: HTMLImageElement) => img.getBoundingClientRect().width)).toBeCloseTo(asked.width, 0);
  for (const key of ["z", "Escape"]) await page.keyboard.press(key);
  await expect.poll(() => page.getByTestId("loupe").count()).toBe(0);

  await page.getByTestId("grid-cell").nth(0).click();
  await page.getByTestId("grid-cell").nth(1).click({ modifiers: ["Control"] });
  await page.keyboard.press("v");
  const panes = page.getByTestId("compare-pane");
  for (const photo of scan.photos.slice(0, 2)) await session.waitForCallback("previewReady", (p) => p.id === photo.id);
  await expect.poll(() => Promise.all([panes.count(), page.locator('[data-testid="compare-pane"] [data-preview="1"]').count()])).toEqual([2, 2]);
  await page.keyboard.press("z");
  const transforms = () => page.locator('[data-testid="compare-pane"] [data-testid="loupe-image"]').evaluateAll((imgs) => imgs.map((img) => (img as HTMLElement).style.transform));
  await expect.poll(async () => (await transforms())[0]).toContain("translate");
  const zoomed = await transforms();
  expect(zoomed[1]).toBe(zoomed[0]);
  // A drag in the second pane moves both.
  const box = (await panes.nth(1).locator(".loupe-frame").boundingBox())!;
  await page.mouse.move(box.x + 100, box.y + 100);
  await page.mouse.down();
  await page.mouse.move(box.x + 20, box.y + 40, { steps: 4 });
  await page.mouse.up();
  const panned = await transforms();
  expect([panned[0] !== zoomed[0], panned[1]]).toEqual([true, panned[0]]);
  for (const photo of scan.photos.slice(0, 2)) await session.waitForCallback("photoRegion", (p) => p.id === photo.id);
  // The focus starts on the photo clicked last.
  await expect.poll(() => Promise.all([page.getByTestId("loupe-region").count(), panes.nth(1).getAttribute("class")])).toEqual([2, expect.stringContaining("focused")]);
  await session.screenshot("judging-compare");
  await page.keyboard.press("Escape");
  await expect.poll(() => page.getByTestId("compare").count()).toBe(0);
});

it("counts an import of three hundred files in a bar that ends with the scan, then orders two cameras' photos by capture time, interleaved, and by file name on request", async () => {
  const session = await flows.start();
  const { page } = session;
  await page.evaluate(() => {
    new MutationObserver(() => {
      if (document.querySelector('[data-testid="scan-progress"] progress')) (window as any).barSeen = true;
    }).observe(document.body, { subtree: true, childList: true });
  });
  await session.importPaths([flows.shoot(Object.fromEntries(Array.from({ length: 300 }, (_, i) => [`IMG_${String(i).padStart(4, "0")}.jpg`, "orientation-1.jpg"])))]);
  const calls = session.delivered.map((call) => call.fn.replace("window.Native.", ""));
  expect(session.delivered.filter((call) => call.fn.endsWith(".scanProgress")).at(-1)?.arg).toEqual({ found: 300, thumbnails: 300, total: 300 });
  expect([calls.lastIndexOf("scanProgress") < calls.indexOf("receiveScan"), await page.evaluate(() => (window as any).barSeen)]).toEqual([true, true]);
  await expect.poll(() => page.getByTestId("scan-progress").count()).toBe(0);

  const planted = { A_0001: "14:03:20", A_0002: "14:05:00", B_0001: "14:02:00", B_0002: "14:04:10" };
  const folder = flows.shoot(Object.fromEntries(Object.keys(planted).map((name) => [`${name}.jpg`, "orientation-1.jpg"])));
  for (const [name, time] of Object.entries(planted))
    execFileSync("exiv2", ["-M", `set Exif.Photo.DateTimeOriginal 2024:05:01 ${time}`, "-M", `set Exif.Image.Model Body${name[0]}`, join(folder, `${name}.jpg`)]);
  await session.answerTo(() => session.importPaths([folder]), "photoMetadata");
  // The cells are placed absolutely, not in document order.
  const gridOrder = () => page.getByTestId("grid-cell").evaluateAll((cells) =>
    cells.map((cell) => ({ name: cell.getAttribute("title"), top: parseFloat((cell as HTMLElement).style.top), left: parseFloat((cell as HTMLElement).style.left) }))
      .sort((a, b) => a.top - b.top || a.left - b.left).map((cell) => cell.name));
  await expect.poll(gridOrder).toEqual(["B_0001.jpg", "A_0001.jpg", "B_0002.jpg", "A_0002.jpg"]);
  await page.getByTestId("grid-cell").first().click();
  await expect.poll(() => page.getByTestId("capture-details").textContent()).toContain("BodyB");
  await page.getByTestId("photo-order").selectOption("name");
  await expect.poll(gridOrder).toEqual(["A_0001.jpg", "A_0002.jpg", "B_0001.jpg", "B_0002.jpg"]);
});
