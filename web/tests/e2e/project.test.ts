// The project through the program: the start-up handshake, a folder and hand-picked photos
// imported through its panels, and the decisions stored and given back after a restart.
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { describe, expect, it } from "vitest";
import { workflows } from "./shim";

const NAMES = ["orientation-1.jpg", "orientation-6.jpg", "face-closed-yawn.jpg", "under-night-snow.jpg"];

describe("the project", () => {
  const flows = workflows();

  it("starts empty, imports picked photos and a folder, asks before replacing decisions, and keeps them across a restart", async () => {
    const shoot = flows.shoot(NAMES);
    const supportDir = flows.tempDir("tidewick-qa-");
    let session = await flows.start({ supportDir });
    let { page } = session;
    const version = await session.waitForCallback<string>("version");
    await session.waitForCallback("lensCorrectionState");
    expect(session.sent("ready")).toHaveLength(1);
    await expect.poll(() => page.getByTestId("version").textContent()).toContain(version);
    expect(await page.getByText("还没有照片").count()).toBe(1);
    await session.screenshot("start-empty");

    // The thumbnails are file URLs in the program's cache, outside the page's folder.
    const scan = await session.importPaths([shoot]);
    expect(scan.source).toBe("folder");
    expect(scan.photos[0].thumbnail).toMatch(/^file:\/\/.*ThumbnailCache/);
    await expect.poll(() => page.getByTestId("status").textContent()).toBe(`已导入 ${NAMES.length} 张照片；只导入 CR3 和 JPG，其他格式和隐藏文件不会导入`);
    await expect
      .poll(() => page.evaluate(() => [...document.querySelectorAll<HTMLImageElement>(".cell img")].every((img) => img.complete && img.naturalWidth > 0)))
      .toBe(true);

    // The photo panel opens in the project's folder.
    const picked = await session.importPaths([join(shoot, NAMES[2]), join(shoot, NAMES[3])], "photos");
    expect(picked.source).toBe("files");
    expect(session.sent("choosePhotos").at(-1)).toEqual({ action: "choosePhotos", path: shoot });
    await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(2);
    await session.screenshot("grid-picked-photos");
    await page.getByTestId("grid-cell").first().click();
    await page.keyboard.press("p");
    await page.keyboard.press("5");

    // With decisions made, the import asks first; unchanged files keep their work.
    const before = session.delivered.length;
    session.answerPanel([shoot]);
    await page.getByTestId("import-folder").click();
    await expect.poll(() => page.getByTestId("replace-dialog").textContent()).toContain("2 张照片已做决定或评星");
    await page.getByTestId("confirm-import").click();
    const again = await session.waitForCallback("receiveScan", () => true, { from: before });
    expect(again.photos).toHaveLength(NAMES.length);
    await expect.poll(() => page.getByTestId("counts").textContent()).toContain("保留 1");
    await expect.poll(() => page.getByTestId("counts").textContent()).toContain("★ 1");

    // The save is debounced; closing the page hands over what is pending.
    await page.evaluate(() => window.dispatchEvent(new Event("pagehide")));
    expect(await session.close()).toBe(0);
    const stored = JSON.parse(readFileSync(join(supportDir, "current-project.json"), "utf8"));
    const work = Object.fromEntries(stored.photos.map((p: any) => [p.name, [p.status ?? null, p.rating ?? null]]));
    expect(work).toEqual({
      ...Object.fromEntries(NAMES.map((name) => [name, [null, null]])),
      [picked.photos[0].name]: ["保留", null],
      [picked.photos[1].name]: [null, 5],
    });

    // Starting again gives the work back and sends no save of its own.
    session = await flows.start({ supportDir });
    page = session.page;
    await expect.poll(() => page.getByTestId("counts").textContent()).toContain("保留 1");
    await expect.poll(() => page.locator(".cell-stars").count()).toBe(1);
    await session.screenshot("restored-project");
    expect(session.sent("saveState")).toHaveLength(0);
  });
});
