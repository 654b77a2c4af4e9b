// A photographer's session from import to culling list, driven through the page against the
// real program. The shoot is a copy of sample photos in a temporary folder, because the
// rejects really go to the (temporary) trash.
import { copyFileSync, existsSync, mkdtempSync, readdirSync, readFileSync, rmSync, utimesSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { afterAll, afterEach, describe, expect, it } from "vitest";
import { NativeSession, startSession, testPhotosDir } from "./shim";

// [file in the shoot, sample it is copied from]. The copies are given one modification
// time, so the program lists them by name; the two identical frames are a burst.
const SHOOT: Array<[string, string]> = [
  ["blur-defocus-text.jpg", "blur-defocus-text.jpg"],
  ["face-closed-yawn.jpg", "face-closed-yawn.jpg"],
  ["face-group3-open-2.jpg", "face-group3-open.jpg"],
  ["face-group3-open.jpg", "face-group3-open.jpg"],
  ["face-open-portrait-hopper.jpg", "face-open-portrait-hopper.jpg"],
  ["noise-indoor-iso1600.jpg", "noise-indoor-iso1600.jpg"],
  ["under-night-snow.jpg", "under-night-snow.jpg"],
];

const tempDirs: string[] = [];
function tempDir(prefix: string): string {
  const dir = mkdtempSync(join(tmpdir(), prefix));
  tempDirs.push(dir);
  return dir;
}

function today(): string {
  const now = new Date();
  const pad = (n: number) => String(n).padStart(2, "0");
  return `${now.getFullYear()}-${pad(now.getMonth() + 1)}-${pad(now.getDate())}`;
}

describe("culling a shoot", () => {
  let session: NativeSession | null = null;
  afterEach(async () => {
    await session?.close();
    session = null;
  });
  afterAll(() => {
    for (const dir of tempDirs) rmSync(dir, { recursive: true, force: true });
  });

  it("imports, analyses, rejects two with X, trashes them, exports the rated ones and saves the culling list", async () => {
    const shoot = tempDir("tidewick-shoot-");
    const shotAt = new Date(2026, 4, 1, 10, 0, 0);
    for (const [name, sample] of SHOOT) {
      copyFileSync(join(testPhotosDir, sample), join(shoot, name));
      utimesSync(join(shoot, name), shotAt, shotAt);
    }
    const exportBase = tempDir("tidewick-export-");
    const manifestDir = tempDir("tidewick-manifest-");

    session = await startSession();
    const { page } = session;
    await session.waitForCallback("receiveState");

    // Import through the folder panel.
    session.answerPanel([shoot]);
    await page.getByTestId("import-folder").click();
    const scan = await session.waitForCallback("receiveScan");
    expect(scan.photos).toHaveLength(SHOOT.length);
    await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(SHOOT.length);
    await expect.poll(() => page.getByTestId("shown-count").textContent()).toBe(`${SHOOT.length} 张`);
    await session.screenshot("grid-imported");

    // Local analysis of everything not analysed yet, with a progress bar while it runs.
    await page.getByTestId("analyse").click();
    await session.screenshot("analysis-panel");
    const analysisStart = session.delivered.length;
    await page.getByTestId("analyse-missing").click();
    const complete = await session.waitForCallback("analysisComplete", () => true, { from: analysisStart, timeoutMs: 120_000 });
    expect(complete.cancelled).toBe(false);
    const results = session.delivered.slice(analysisStart).filter((c) => c.fn === "window.Native.analysisResult");
    expect(results).toHaveLength(SHOOT.length);
    await expect.poll(() => page.getByTestId("metrics").count()).toBe(1);
    await session.screenshot("grid-analysed");

    // The identical frames form a burst; collapsed, it shows as one cell that opens again.
    await expect.poll(() => page.locator(".group-tag").count()).toBe(2);
    await page.getByText("折叠连拍").click();
    await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(SHOOT.length - 1);
    await session.screenshot("grid-bursts-collapsed");
    await page.locator(".group-tag").first().click();
    await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(SHOOT.length);
    await page.getByText("折叠连拍").click();

    // Decisions with single keys and auto-advance: X, X rejects the first two photos, then
    // the next three get stars; Ctrl+Z takes back the last one, which is given again.
    await page.getByTestId("grid-cell").first().click();
    await page.keyboard.press("x");
    await page.keyboard.press("x");
    await page.keyboard.press("4");
    await page.keyboard.press("p");
    await page.keyboard.press("5");
    await page.keyboard.press("Control+z");
    await expect.poll(() => page.getByTestId("counts").textContent()).toContain("淘汰 2");
    await page.keyboard.press("5");
    await expect.poll(() => page.getByTestId("counts").textContent()).toContain("★ 2");
    const rejected = scan.photos.slice(0, 2).map((p: any) => p.path);
    await page.getByTestId("grid-cell").first().click();
    await page.keyboard.press("3");
    await expect.poll(() => page.getByTestId("counts").textContent()).toContain("★ 3");

    // Rejects to the trash, after a confirmation that names the starred rejects and has the
    // focus on "cancel".
    await page.getByTestId("trash-rejects").click();
    await expect.poll(() => page.getByTestId("trash-starred").textContent()).toContain("其中 1 张带有星级");
    await expect.poll(() => page.evaluate(() => (document.activeElement as HTMLElement | null)?.dataset.testid)).toBe("cancel-trash");
    await session.screenshot("trash-confirm");
    await page.getByTestId("confirm-trash").click();
    const trashed = await session.waitForCallback("ratingTrashComplete");
    expect(trashed.removedIDs).toHaveLength(2);
    await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(SHOOT.length - 2);
    for (const path of rejected) expect(existsSync(path)).toBe(false);

    // Rated export: the first export asks for the folder, which the page then remembers.
    session.answerPanel([exportBase]);
    await page.getByTestId("export-rated").click();
    const folder = await session.waitForCallback("ratingExportFolder");
    expect(folder.path).toBe(exportBase);
    const exported = await session.waitForCallback("ratingExportComplete");
    expect(exported.outputs).toHaveLength(2);
    const dated = readdirSync(join(exportBase, today())).sort();
    expect(dated.filter((name) => name.endsWith(".xmp"))).toHaveLength(2);
    const exportsBefore = session.delivered.length;
    await page.getByTestId("export-rated").click();
    await session.waitForCallback("ratingExportComplete", () => true, { from: exportsBefore });
    const rated = session.posted.filter((body) => body.action === "exportRatedPhotos");
    expect(rated[1].folder).toBe(exportBase);

    // The culling list.
    const manifestPath = join(manifestDir, "list.txt");
    session.answerPanel([manifestPath]);
    await page.getByTestId("manifest").click();
    const manifest = await session.waitForCallback("reviewManifestComplete");
    expect(manifest.success).toBe(true);
    const text = readFileSync(manifestPath, "utf8");
    expect(text).toContain(`照片总数：${SHOOT.length - 2}`);
    expect(text).toContain("保留：1");
    expect(text).toMatch(/B1（本组最佳）/);

    // Advanced export of every photo as JPEG into decision folders, with progress.
    const advancedBase = tempDir("tidewick-advanced-");
    await page.getByTestId("advanced-export").click();
    const dialog = page.getByTestId("export-dialog");
    await dialog.getByRole("button", { name: "JPEG" }).click();
    await dialog.getByLabel(/全部照片/).check();
    await session.screenshot("advanced-export");
    session.answerPanel([advancedBase]);
    const exportFrom = session.delivered.length;
    await page.getByTestId("start-export").click();
    const done = await session.waitForCallback("exportComplete", () => true, { from: exportFrom, timeoutMs: 60_000 });
    const progress = session.delivered.slice(exportFrom).filter((c) => c.fn === "window.Native.exportProgress");
    expect(progress.map((c: any) => c.arg.completed)).toEqual([1, 2, 3, 4, 5]);
    expect(done.folder).toBe(join(advancedBase, today()));
    const kept = scan.photos[3].name.replace(/\.jpg$/, "");
    expect(readdirSync(join(done.folder, "保留")).sort()).toEqual([`${kept}.jpg`, `${kept}.xmp`]);
    await expect.poll(() => page.getByTestId("export-progress").count()).toBe(0);
    await expect.poll(() => page.getByTestId("status").textContent()).toBe(done.message);
    await page.getByTestId("settings").click();
    await session.screenshot("settings");
    await page.keyboard.press("Escape");

    // Everything was handed to the program to store.
    await page.evaluate(() => window.dispatchEvent(new Event("pagehide")));
    const code = await session.close();
    session = null;
    expect(code).toBe(0);
  });
});
