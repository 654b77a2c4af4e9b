// Decisions are stored through the program and come back when it is started again.
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { afterAll, afterEach, describe, expect, it } from "vitest";
import { NativeSession, startSession, testPhotosDir } from "./shim";

const NAMES = ["orientation-1.jpg", "orientation-3.jpg", "orientation-6.jpg", "orientation-8.jpg"];

describe("the stored project", () => {
  let session: NativeSession | null = null;
  const supportDir = mkdtempSync("/tmp/tidewick-qa-");
  afterEach(async () => {
    await session?.close();
    session = null;
  });
  afterAll(() => rmSync(supportDir, { recursive: true, force: true }));

  it("keeps decisions and ratings across a restart of the program", async () => {
    const photos = NAMES.map((name, i) => ({
      id: `P-${i}`,
      path: join(testPhotosDir, name),
      name,
      format: "JPG",
      size: 1,
      date: `2026-05-01T10:00:0${i}`,
      thumbnail: `file://${join(testPhotosDir, name)}`,
    }));
    writeFileSync(join(supportDir, "current-project.json"), JSON.stringify({ photos, folder: testPhotosDir }));

    session = await startSession({ supportDir });
    let { page } = session;
    await session.waitForCallback("receiveState");
    await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(NAMES.length);
    await page.keyboard.press("p");
    await page.keyboard.press("x");
    await page.keyboard.press("3");
    await expect.poll(() => page.getByTestId("counts").textContent()).toContain("淘汰 1");
    // The save is debounced; closing the page hands over what is pending.
    await page.evaluate(() => window.dispatchEvent(new Event("pagehide")));
    expect(await session.close()).toBe(0);
    session = null;

    const stored = JSON.parse(readFileSync(join(supportDir, "current-project.json"), "utf8"));
    expect(stored.photos.map((p: any) => [p.id, p.status ?? null, p.rating ?? null])).toEqual([
      ["P-0", "保留", null],
      ["P-1", "淘汰", null],
      ["P-2", null, 3],
      ["P-3", null, null],
    ]);

    session = await startSession({ supportDir });
    page = session.page;
    await session.waitForCallback("receiveState");
    await expect.poll(() => page.getByTestId("counts").textContent()).toContain("保留 1");
    await expect.poll(() => page.getByTestId("counts").textContent()).toContain("淘汰 1");
    await expect.poll(() => page.locator(".cell-stars").count()).toBe(1);
    await session.screenshot("restored-project");
    // Starting again sends no save of its own.
    expect(session.posted.filter((b) => b.action === "saveState")).toHaveLength(0);
  });
});
