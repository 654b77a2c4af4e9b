// Local analysis through the page: settings, progress with remaining time, badges and the
// inspector, bursts from the hashes, and cancelling a run.
import { copyFileSync, mkdtempSync, rmSync, utimesSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { afterAll, afterEach, describe, expect, it } from "vitest";
import { NativeSession, startSession, testPhotosDir } from "./shim";

// The two identical frames (one modification time, adjacent names) form a burst.
const SHOOT: Array<[string, string]> = [
  ["blur-defocus-text.jpg", "blur-defocus-text.jpg"],
  ["face-group3-open-2.jpg", "face-group3-open.jpg"],
  ["face-group3-open.jpg", "face-group3-open.jpg"],
  ["under-severe-iso6400.jpg", "under-severe-iso6400.jpg"],
];

describe("local analysis", () => {
  let session: NativeSession | null = null;
  const shoot = mkdtempSync(join(tmpdir(), "tidewick-shoot-"));
  const shotAt = new Date(2026, 4, 1, 10, 0, 0);
  for (const [name, sample] of SHOOT) {
    copyFileSync(join(testPhotosDir, sample), join(shoot, name));
    utimesSync(join(shoot, name), shotAt, shotAt);
  }
  afterEach(async () => {
    await session?.close();
    session = null;
  });
  afterAll(() => rmSync(shoot, { recursive: true, force: true }));

  async function importFolder(folder: string) {
    const { page } = session!;
    await session!.waitForCallback("receiveState");
    session!.answerPanel([folder]);
    await page.getByTestId("import-folder").click();
    return session!.waitForCallback("receiveScan");
  }

  it("analyses with the chosen strictness and checks, then shows issues, details and bursts", async () => {
    session = await startSession();
    const { page } = session;
    const scan = await importFolder(shoot);

    await page.getByTestId("analyse").click();
    const panel = page.getByTestId("analysis-panel");
    await panel.getByRole("button", { name: "严格" }).click();
    await panel.getByLabel("噪点过高").uncheck();
    await session.screenshot("analysis-panel");
    const from = session.delivered.length;
    await page.getByTestId("analyse-missing").click();
    const [request] = session.posted.filter((b) => b.action === "analyze");
    expect(request.settings).toEqual({
      strictness: "严格",
      enabled: ["整体模糊", "人脸失焦", "闭眼", "过曝", "欠曝"],
      sound: true,
    });
    expect((request.photos as any[]).map((p) => p.id)).toEqual(scan.photos.map((p: any) => p.id));

    const complete = await session.waitForCallback("analysisComplete", () => true, { from, timeoutMs: 120_000 });
    expect(complete).toEqual({ token: request.token, cancelled: false });
    await expect.poll(() => page.getByTestId("analysis-progress").count()).toBe(0);
    expect(session.effects.some((e) => e.effect === "sound")).toBe(true);

    // What the program found is shown: the underexposed photo carries its badge.
    const results = session.delivered.slice(from).filter((c) => c.fn === "window.Native.analysisResult");
    expect(results).toHaveLength(SHOOT.length);
    const byName = new Map(scan.photos.map((p: any) => [p.id, p.name]));
    const dark = results.find((c: any) => byName.get(c.arg.id) === "under-severe-iso6400.jpg")!.arg as any;
    expect(dark.result.issues).toContain("欠曝");
    await expect.poll(() => page.locator(`[data-id="${dark.id}"] .badge.issue`).allTextContents()).toContain("欠曝");
    await page.locator(`[data-id="${dark.id}"]`).click();
    await expect.poll(() => page.getByTestId("reason").textContent()).toBe(dark.result.reason);
    await expect.poll(() => page.getByTestId("metrics").textContent()).toContain("亮度");

    // The identical frames share a hash and become one burst with a best frame.
    await expect.poll(() => page.locator(".group-tag").count()).toBe(2);
    await expect.poll(() => page.locator(".group-tag.best").count()).toBe(1);
    await session.screenshot("grid-analysed");

    // Filtering by an issue.
    await page.getByTestId("filter-issue").selectOption("欠曝");
    await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(1);
    // The keys go to the grid again right after choosing a filter.
    await page.keyboard.press("x");
    await expect.poll(() => page.locator(`[data-id="${dark.id}"] .decision-flag`).textContent()).toBe("淘汰");
  });

  it("cancels a running analysis; later answers of that run are ignored", async () => {
    session = await startSession();
    const { page } = session;
    const scan = await importFolder(testPhotosDir);
    expect(scan.photos.length).toBeGreaterThan(10);

    await page.getByTestId("analyse").click();
    const from = session.delivered.length;
    await page.getByTestId("analyse-missing").click();
    await session.waitForCallback("analysisResult", () => true, { from, timeoutMs: 60_000 });
    await expect.poll(() => page.getByTestId("analysis-progress").textContent()).toMatch(/正在分析 \d+ \/ \d+/);
    await session.screenshot("analysis-running");
    await page.getByTestId("cancel-analysis").click();
    const complete = await session.waitForCallback("analysisComplete", () => true, { from, timeoutMs: 60_000 });
    expect(complete.cancelled).toBe(true);
    expect(session.posted.filter((b) => b.action === "cancelAnalysis")).toHaveLength(1);
    await expect.poll(() => page.getByTestId("status").textContent()).toBe("已取消分析");
    await expect.poll(() => page.getByTestId("analysis-progress").count()).toBe(0);

    // The photos analysed before the cancel keep their results; the rest wait for a later run.
    await page.getByTestId("filter-issue").selectOption("未分析");
    const shown = await page.getByTestId("shown-count").textContent();
    const waiting = Number(/^(\d+) \//.exec(shown ?? "")?.[1]);
    expect(waiting).toBeGreaterThan(0);
    expect(waiting).toBeLessThan(scan.photos.length);
    await page.getByTestId("analyse").click();
    await expect.poll(() => page.getByTestId("analyse-missing").textContent()).toContain(`（${waiting}）`);
  });
});
