// Importing a folder and hand-picked photos through the program's panels.
import { rmSync } from "node:fs";
import { join } from "node:path";
import { afterAll, afterEach, describe, expect, it } from "vitest";
import { makeShoot, NativeSession, startSession } from "./shim";

const NAMES = ["orientation-1.jpg", "orientation-6.jpg", "face-closed-yawn.jpg", "under-night-snow.jpg"];

describe("import", () => {
  let session: NativeSession | null = null;
  const shoot = makeShoot(NAMES);
  afterEach(async () => {
    await session?.close();
    session = null;
  });
  afterAll(() => rmSync(shoot, { recursive: true, force: true }));

  it("shows a folder as a grid of cached thumbnails and keeps decisions when the folder is imported again", async () => {
    session = await startSession();
    const { page } = session;
    await session.waitForCallback("receiveState");

    session.answerPanel([shoot]);
    await page.getByTestId("import-folder").click();
    const scan = await session.waitForCallback("receiveScan");
    expect(scan.source).toBe("folder");
    await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(NAMES.length);
    await expect.poll(() => page.getByTestId("status").textContent()).toBe(`已导入 ${NAMES.length} 张照片；只导入 CR3 和 JPG，其他格式和隐藏文件不会导入`);
    // The thumbnails are file URLs in the program's cache, outside the page's folder.
    expect(scan.photos[0].thumbnail).toMatch(/^file:\/\/.*ThumbnailCache/);
    await expect
      .poll(() =>
        page.evaluate(() =>
          [...document.querySelectorAll<HTMLImageElement>(".cell img")].every((img) => img.complete && img.naturalWidth > 0),
        ),
      )
      .toBe(true);
    await page.getByTestId("grid-cell").first().click();
    await page.keyboard.press("p");
    await page.keyboard.press("5");

    // With decisions made, the import asks first.
    const before = session.delivered.length;
    session.answerPanel([shoot]);
    await page.getByTestId("import-folder").click();
    await expect.poll(() => page.getByTestId("replace-dialog").textContent()).toContain("2 张照片已做决定或评星");
    await page.getByTestId("confirm-import").click();
    const again = await session.waitForCallback("receiveScan", () => true, { from: before });
    expect(again.photos[0].id).not.toBe(scan.photos[0].id);
    await expect.poll(() => page.getByTestId("counts").textContent()).toContain("保留 1");
    await expect.poll(() => page.getByTestId("counts").textContent()).toContain("★ 1");
  });

  it("imports hand-picked photos, replacing the project", async () => {
    session = await startSession();
    const { page } = session;
    await session.waitForCallback("receiveState");
    session.answerPanel([shoot]);
    await page.getByTestId("import-folder").click();
    await session.waitForCallback("receiveScan");

    const before = session.delivered.length;
    session.answerPanel([join(shoot, NAMES[2]), join(shoot, NAMES[3])]);
    await page.getByText("导入照片").click();
    const picked = await session.waitForCallback("receiveScan", () => true, { from: before });
    expect(picked.source).toBe("files");
    expect(session.posted.filter((b) => b.action === "choosePhotos").at(-1)).toEqual({ action: "choosePhotos", path: shoot });
    await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(2);
    await session.screenshot("grid-picked-photos");
  });
});
