// Judging focus and eyes: 100 % shows the photo's own pixels, photos side by side share one
// zoom and spot, and two bodies of one shoot interleave by capture time.
import { execFileSync } from "node:child_process";
import { copyFileSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { afterEach, describe, expect, it } from "vitest";
import { testPhotosDir, NativeSession, startSession } from "./shim";

const LARGE = "nikon-d5300-6000x4000.jpg";

let session: NativeSession | null = null;
const folders: string[] = [];
afterEach(async () => {
  await session?.close();
  session = null;
  for (const folder of folders.splice(0)) rmSync(folder, { recursive: true, force: true });
});

// A shoot folder of copies: each new name made from a sample photo.
function shootOf(copies: Record<string, string>): string {
  const folder = mkdtempSync(join(tmpdir(), "tidewick-judging-"));
  folders.push(folder);
  for (const [name, sample] of Object.entries(copies)) copyFileSync(join(testPhotosDir, sample), join(folder, name));
  return folder;
}

async function imported(folder: string) {
  session = await startSession();
  await session.waitForCallback("receiveState");
  session.answerPanel([folder]);
  await session.page.getByTestId("import-folder").click();
  return session.waitForCallback("receiveScan");
}

// The grid's cells in reading order (they are placed absolutely, not in document order).
async function gridOrder(): Promise<string[]> {
  return session!.page.getByTestId("grid-cell").evaluateAll((cells) =>
    cells
      .map((cell) => ({ name: cell.getAttribute("title") ?? "", top: parseFloat((cell as HTMLElement).style.top), left: parseFloat((cell as HTMLElement).style.left) }))
      .sort((a, b) => a.top - b.top || a.left - b.left)
      .map((cell) => cell.name),
  );
}

describe("judging focus", () => {
  it("shows a 6000-pixel photo's own pixels at 100 %: the region image is as large as the region asked for", async () => {
    const scan = await imported(shootOf({ "DSC_0001.jpg": LARGE }));
    const { page } = session!;
    await page.getByTestId("grid-cell").first().click();
    await page.keyboard.press("Space");
    await expect.poll(() => page.getByTestId("loupe-image").getAttribute("data-preview")).toBe("1");
    const box = (await page.locator(".loupe-frame").boundingBox())!;
    await page.mouse.click(box.x + box.width * 0.5, box.y + box.height * 0.5);
    const answer = await session!.waitForCallback("photoRegion", (p) => p.id === scan.photos[0].id && !p.error);
    const asked = session!.posted.filter((b) => b.action === "photoRegion").at(-1)!;
    expect([answer.photoWidth, answer.photoHeight]).toEqual([6000, 4000]);
    expect([answer.x, answer.y, answer.width, answer.height]).toEqual([asked.x, asked.y, asked.width, asked.height]);
    const region = page.getByTestId("loupe-region");
    await expect
      .poll(() => region.evaluate((img: HTMLImageElement) => [img.naturalWidth, img.naturalHeight]))
      .toEqual([asked.width, asked.height]);
    // One photo pixel per screen pixel: far more than the 2800-pixel preview shows.
    expect(await region.evaluate((img: HTMLImageElement) => img.getBoundingClientRect().width)).toBeCloseTo(asked.width as number, 0);
    await session!.screenshot("judging-region");
  });

  it("shows two photos side by side at one zoom and spot, panned together, deciding the focused one", async () => {
    const scan = await imported(shootOf({ "DSC_0001.jpg": LARGE, "DSC_0002.jpg": LARGE, "DSC_0003.jpg": "orientation-1.jpg" }));
    const { page } = session!;
    await page.getByTestId("grid-cell").nth(0).click();
    await page.getByTestId("grid-cell").nth(1).click({ modifiers: ["Control"] });
    await page.keyboard.press("v");
    const panes = page.getByTestId("compare-pane");
    await expect.poll(() => panes.count()).toBe(2);
    for (const photo of scan.photos.slice(0, 2)) await session!.waitForCallback("previewReady", (p) => p.id === photo.id);
    await expect.poll(() => page.locator('[data-testid="compare-pane"] [data-preview="1"]').count()).toBe(2);
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
    expect(panned[0]).not.toBe(zoomed[0]);
    expect(panned[1]).toBe(panned[0]);
    for (const photo of scan.photos.slice(0, 2)) await session!.waitForCallback("photoRegion", (p) => p.id === photo.id);
    await expect.poll(() => page.getByTestId("loupe-region").count()).toBe(2);
    // The focus starts on the photo clicked last and moves with Tab; X rejects the focused one only.
    await expect.poll(() => panes.nth(1).getAttribute("class")).toContain("focused");
    await page.keyboard.press("Tab");
    await page.keyboard.press("x");
    await expect.poll(() => panes.nth(0).locator(".decision-text").textContent()).toBe("淘汰");
    expect(await panes.nth(1).locator(".decision-text").textContent()).toBe("未决定");
    await session!.screenshot("judging-compare");
    await page.keyboard.press("Escape");
    await expect.poll(() => page.getByTestId("compare").count()).toBe(0);
  });

  it("counts an import of three hundred files in a bar that ends with the scan", async () => {
    const folder = shootOf(Object.fromEntries(Array.from({ length: 300 }, (_, i) => [`IMG_${String(i).padStart(4, "0")}.jpg`, "orientation-1.jpg"])));
    session = await startSession();
    await session.waitForCallback("receiveState");
    const { page } = session;
    await page.evaluate(() => {
      new MutationObserver(() => {
        if (document.querySelector('[data-testid="scan-progress"] progress')) (window as any).barSeen = true;
      }).observe(document.body, { subtree: true, childList: true });
    });
    session.answerPanel([folder]);
    await page.getByTestId("import-folder").click();
    await session.waitForCallback("receiveScan");
    const calls = session.delivered.map((call) => call.fn.replace("window.Native.", ""));
    const counts = session.delivered.filter((call) => call.fn.endsWith(".scanProgress")).map((call) => call.arg as Record<string, number>);
    expect(counts.at(-1)).toEqual({ found: 300, thumbnails: 300, total: 300 });
    expect(calls.lastIndexOf("scanProgress")).toBeLessThan(calls.indexOf("receiveScan"));
    expect(await page.evaluate(() => (window as any).barSeen)).toBe(true);
    await expect.poll(() => page.getByTestId("scan-progress").count()).toBe(0);
  });

  it("orders two cameras' photos by capture time, interleaved, and by file name on request", async () => {
    // Body A (files A_*) and body B (files B_*), planted capture times interleaving them.
    const folder = shootOf({ "A_0001.jpg": "orientation-1.jpg", "A_0002.jpg": "orientation-1.jpg", "B_0001.jpg": "orientation-1.jpg", "B_0002.jpg": "orientation-1.jpg" });
    const plant = (name: string, time: string, model: string) =>
      execFileSync("exiv2", ["-M", `set Exif.Photo.DateTimeOriginal ${time}`, "-M", `set Exif.Image.Model ${model}`, join(folder, name)]);
    plant("A_0001.jpg", "2024:05:01 14:03:20", "BodyA");
    plant("A_0002.jpg", "2024:05:01 14:05:00", "BodyA");
    plant("B_0001.jpg", "2024:05:01 14:02:00", "BodyB");
    plant("B_0002.jpg", "2024:05:01 14:04:10", "BodyB");
    await imported(folder);
    const { page } = session!;
    await session!.waitForCallback("photoMetadata");
    await expect.poll(gridOrder).toEqual(["B_0001.jpg", "A_0001.jpg", "B_0002.jpg", "A_0002.jpg"]);
    await page.getByTestId("grid-cell").first().click();
    await expect.poll(() => page.getByTestId("capture-details").textContent()).toContain("BodyB");
    await page.getByTestId("photo-order").selectOption("name");
    await expect.poll(gridOrder).toEqual(["A_0001.jpg", "A_0002.jpg", "B_0001.jpg", "B_0002.jpg"]);
  });
});
