// A photographer's session from import to culling list, driven through the page against the
// real program, and a local analysis stopped half way. The shoot is a copy of sample photos in
// a temporary folder, because the rejects really go to the (temporary) trash.
import { copyFileSync, existsSync, readdirSync, readFileSync, utimesSync } from "node:fs";
import { basename, join } from "node:path";
import { describe, expect, it } from "vitest";
import { testPhotosDir, workflows } from "./shim";

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

function today(): string {
  const now = new Date();
  const pad = (n: number) => String(n).padStart(2, "0");
  return `${now.getFullYear()}-${pad(now.getMonth() + 1)}-${pad(now.getDate())}`;
}

describe("culling a shoot", () => {
  const flows = workflows();

  it("imports, analyses as chosen, rejects two with X, trashes them, exports the rated ones and saves the culling list", async () => {
    const shoot = flows.tempDir("tidewick-shoot-");
    const shotAt = new Date(2026, 4, 1, 10, 0, 0);
    for (const [name, sample] of SHOOT) {
      copyFileSync(join(testPhotosDir, sample), join(shoot, name));
      utimesSync(join(shoot, name), shotAt, shotAt);
    }
    const session = await flows.start();
    const { page } = session;
    const scan = await session.importPaths([shoot]);
    expect(scan.photos).toHaveLength(SHOOT.length);
    await expect.poll(() => page.getByTestId("shown-count").textContent()).toBe(`${SHOOT.length} 张`);
    await session.screenshot("grid-imported");

    // Local analysis with the chosen strictness and checks, a sound at the end.
    await page.getByTestId("analyse").click();
    const panel = page.getByTestId("analysis-panel");
    await panel.getByRole("button", { name: "严格" }).click();
    await panel.getByLabel("噪点过高").uncheck();
    await session.screenshot("analysis-panel");
    const analysisStart = session.delivered.length;
    await page.getByTestId("analyse-missing").click();
    const [request] = session.sent("analyze");
    expect(request.settings).toEqual({ strictness: "严格", enabled: ["整体模糊", "人脸失焦", "闭眼", "过曝", "欠曝"], sound: true });
    const complete = await session.waitForCallback("analysisComplete", () => true, { from: analysisStart, timeoutMs: 120_000 });
    expect(complete).toEqual({ token: request.token, cancelled: false });
    expect(session.delivered.slice(analysisStart).filter((c) => c.fn === "window.Native.analysisResult")).toHaveLength(SHOOT.length);
    await expect.poll(() => page.getByTestId("analysis-progress").count()).toBe(0);
    expect(session.effects.some((e) => e.effect === "sound")).toBe(true);
    await expect.poll(() => page.getByTestId("metrics").textContent()).toContain("亮度");
    await session.screenshot("grid-analysed");

    // The identical frames form a burst with one best frame; collapsed, it is one cell that opens again.
    await expect.poll(() => page.locator(".group-tag").count()).toBe(2);
    expect(await page.locator(".group-tag.best").count()).toBe(1);
    await page.getByText("折叠连拍").click();
    await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(SHOOT.length - 1);
    await session.screenshot("grid-bursts-collapsed");
    await page.locator(".group-tag").first().click();
    await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(SHOOT.length);
    await page.getByText("折叠连拍").click();

    // Decisions with single keys and auto-advance: X, X rejects the first two photos, then
    // the next three get stars; Ctrl+Z takes back the last one, which is given again.
    await page.getByTestId("grid-cell").first().click();
    for (const key of ["x", "x", "4", "p", "5", "Control+z"]) await page.keyboard.press(key);
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
    const exportBase = flows.tempDir("tidewick-export-");
    session.answerPanel([exportBase]);
    await page.getByTestId("export-rated").click();
    expect((await session.waitForCallback("ratingExportFolder")).path).toBe(exportBase);
    expect((await session.waitForCallback("ratingExportComplete")).outputs).toHaveLength(2);
    expect(readdirSync(join(exportBase, today())).filter((name) => name.endsWith(".xmp"))).toHaveLength(2);
    const exportsBefore = session.delivered.length;
    await page.getByTestId("export-rated").click();
    await session.waitForCallback("ratingExportComplete", () => true, { from: exportsBefore });
    expect(session.sent("exportRatedPhotos")[1].folder).toBe(exportBase);

    // The culling list.
    const manifestPath = join(flows.tempDir("tidewick-manifest-"), "list.txt");
    session.answerPanel([manifestPath]);
    await page.getByTestId("manifest").click();
    expect((await session.waitForCallback("reviewManifestComplete")).success).toBe(true);
    const text = readFileSync(manifestPath, "utf8");
    // The list is named after the shoot's folder.
    expect(text).toContain(`项目：${basename(shoot)}`);
    expect(text).toContain(`照片总数：${SHOOT.length - 2}`);
    expect(text).toContain("保留：1");
    expect(text).toMatch(/B1（本组最佳）/);

    // Advanced export of every photo as JPEG into decision folders, with progress.
    const advancedBase = flows.tempDir("tidewick-advanced-");
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
    await expect.poll(() => page.getByTestId("status").textContent()).toBe(done.message);
    await page.getByTestId("settings").click();
    await session.screenshot("settings");
    await page.keyboard.press("Escape");

    // Everything was handed to the program to store.
    await page.evaluate(() => window.dispatchEvent(new Event("pagehide")));
    expect(await session.close()).toBe(0);
  });

  it("cancels a running analysis; the photos analysed before keep their results, the rest wait", async () => {
    const session = await flows.start();
    const { page } = session;
    const scan = await session.importPaths([testPhotosDir]);
    expect(scan.photos.length).toBeGreaterThan(10);
    await page.getByTestId("analyse").click();
    const from = session.delivered.length;
    await page.getByTestId("analyse-missing").click();
    await session.waitForCallback("analysisResult", () => true, { from, timeoutMs: 60_000 });
    await expect.poll(() => page.getByTestId("analysis-progress").textContent()).toMatch(/正在分析 \d+ \/ \d+/);
    await session.screenshot("analysis-running");
    await page.getByTestId("cancel-analysis").click();
    expect((await session.waitForCallback("analysisComplete", () => true, { from, timeoutMs: 60_000 })).cancelled).toBe(true);
    expect(session.sent("cancelAnalysis")).toHaveLength(1);
    await expect.poll(() => page.getByTestId("status").textContent()).toBe("已取消分析");
    await expect.poll(() => page.getByTestId("analysis-progress").count()).toBe(0);

    // Chosen as a person does, with the list focused.
    await page.getByTestId("filter-issue").focus();
    await page.getByTestId("filter-issue").selectOption("未分析");
    const waiting = Number(/^(\d+) \//.exec((await page.getByTestId("shown-count").textContent()) ?? "")?.[1]);
    expect(waiting).toBeGreaterThan(0);
    expect(waiting).toBeLessThan(scan.photos.length);
    // The keys go to the grid again right after choosing from a filter list.
    await page.keyboard.press("x");
    await expect.poll(() => page.locator(".decision-flag").allTextContents()).toEqual(["淘汰"]);
    await page.getByTestId("analyse").click();
    await expect.poll(() => page.getByTestId("analyse-missing").textContent()).toContain(`（${waiting}）`);
  });
});
