// Judging focus and eyes: 100 % shows the photo's own pixels, photos side by side share one zoom
// and spot, the loupe marks the faces the analysis judged, and two bodies interleave by capture time.
import { execFileSync } from "node:child_process";
import { join } from "node:path";
import { expect, it } from "vitest";
import { workflows } from "./shim";

const LARGE = "nikon-d5300-6000x4000.jpg";

const flows = workflows();
it("shows a 6000-pixel photo's own pixels at 100 %, then two photos side by side at one zoom and spot, panned together; marks the analysed faces over the loupe in every zoom, the shut eyes apart, and zooms to each face; counts a large import in a bar and orders two cameras' photos by capture time", async () => {
  const session = await flows.start();
  const { page } = session;
  const scan = await session.importPaths([flows.shoot({ "DSC_0001.jpg": LARGE, "DSC_0002.jpg": LARGE, "DSC_0003.jpg": "orientation-1.jpg" })]);
  await page.getByTestId("grid-cell").first().click();
  await page.keyboard.press("Space");
  await expect.poll(() => page.getByTestId("loupe-image").getAttribute("data-preview"), { timeout: 30_000 }).toBe("1");
  await page.locator(".loupe-frame").click();
  await session.waitForCallback("photoRegion", (p) => p.id === scan.photos[0].id && !p.error);
  const asked = session.sent("photoRegion").at(-1)!;
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
  await expect.poll(() => Promise.all([panes.count(), page.locator('[data-testid="compare-pane"] [data-preview="1"]').count()]), { timeout: 30_000 }).toEqual([2, 2]);
  await page.keyboard.press("z");
  const transforms = () => page.locator('[data-testid="compare-pane"] [data-testid="loupe-image"]').evaluateAll((imgs) => imgs.map((img) => (img as HTMLElement).style.transform));
  await expect.poll(async () => (await transforms())[0]).toContain("translate");
  const zoomed = await transforms();
  const frame = panes.nth(1).locator(".loupe-frame");
  await frame.dragTo(frame, { sourcePosition: { x: 100, y: 100 }, targetPosition: { x: 20, y: 40 } });
  const panned = await transforms();
  expect([panned[0] !== zoomed[0], panned[1]]).toEqual([true, panned[0]]);
  // The focus starts on the photo clicked last.
  await expect.poll(() => Promise.all([page.getByTestId("loupe-region").count(), panes.nth(1).getAttribute("class")]), { timeout: 30_000 }).toEqual([2, expect.stringContaining("focused")]);
  await page.keyboard.press("Escape");
  await expect.poll(() => page.getByTestId("compare").count()).toBe(0);
  await session.importPaths([flows.shoot({ "IMG_0001.jpg": "face-group3-eyes-downcast-iso6400.jpg", "IMG_0002.jpg": "face-group3-open.jpg" })]);
  await page.locator('[data-testid="grid-cell"][title="IMG_0001.jpg"]').click();
  await page.keyboard.press("Space");
  await expect.poll(() => page.getByTestId("loupe-image").getAttribute("data-preview")).toBe("1");
  await page.keyboard.press("g");
  const faces = await session.waitForCallback("photoFaces", (p) => p.id === session.sent("photoFaces")[0].id);
  const boxes = page.getByTestId("face-box");
  await expect.poll(() => boxes.count()).toBe(faces.faces.length);
  // Each mark's distance (CSS px) from the face's box on the image as the browser shows it.
  const offsets = () => page.evaluate((photoWidth) => {
    const img = document.querySelector('[data-testid="loupe-image"]') as HTMLImageElement;
    const r = img.getBoundingClientRect();
    const fit = img.style.objectFit === "contain" ? Math.min(r.width / img.naturalWidth, r.height / img.naturalHeight) : 0;
    const shown = fit ? { left: r.left + (r.width - img.naturalWidth * fit) / 2, top: r.top + (r.height - img.naturalHeight * fit) / 2, width: img.naturalWidth * fit } : r;
    const s = shown.width / photoWidth;
    return [...document.querySelectorAll<HTMLElement>('[data-testid="face-box"]')].map((mark) => {
      const [x, y, w, h] = mark.dataset.box!.split(",").map(Number), b = mark.getBoundingClientRect();
      return Math.max(Math.abs(b.left - shown.left - x * s), Math.abs(b.top - shown.top - y * s), Math.abs(b.width - w * s), Math.abs(b.height - h * s));
    });
  }, faces.width);
  expect(Math.max(...(await offsets()))).toBeLessThan(1.5);
  expect([await page.locator('[data-flagged="1"]').count(), await page.locator('[data-flagged="1"] .face-label').textContent()]).toEqual([1, "闭眼"]);
  await session.answerTo(() => page.keyboard.press("n"), "photoRegion", (p) => !p.error);
  await expect.poll(() => Promise.all([page.getByTestId("loupe-region").count(), page.getByTestId("status").textContent()])).toEqual([1, expect.stringContaining(`人脸 1 / ${faces.faces.length}`)]);
  // 200 % and a pan keep the marks on the faces; the marks stay on for the next photo.
  await page.keyboard.press("Shift+Z");
  await page.keyboard.press("Alt+ArrowRight");
  await expect.poll(() => page.getByTestId("loupe-image").evaluate((img) => img.getBoundingClientRect().width)).toBeCloseTo(2 * faces.width, 0);
  expect(Math.max(...(await offsets()))).toBeLessThan(1.5);
  await page.keyboard.press("ArrowRight");
  await expect.poll(() => Promise.all([boxes.count(), page.locator('[data-flagged="1"]').count()]), { timeout: 30_000 }).toEqual([3, 0]);
  await page.keyboard.press("Escape");
  // Three hundred files counted in a bar, the first records shown read-only until the scan; then two cameras by capture time, interleaved, and by name on request.
  await page.evaluate(() => {
    new MutationObserver(() => {
      if (document.querySelector('[data-testid="scan-progress"] progress')) (window as any).barSeen = true;
      if (document.querySelector('[data-importing] [data-testid="grid-cell"]')) (window as any).recordsSeen = true;
    }).observe(document.body, { subtree: true, childList: true });
  });
  await session.importPaths([flows.shoot(Object.fromEntries(Array.from({ length: 300 }, (_, i) => [`IMG_${String(i).padStart(4, "0")}.jpg`, "orientation-1.jpg"])))]);
  expect(await page.evaluate(() => [(window as any).barSeen, (window as any).recordsSeen])).toEqual([true, true]);
  await expect.poll(() => page.locator('[data-testid="scan-progress"], [data-importing]').count()).toBe(0);
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
