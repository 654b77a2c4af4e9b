// Crop and rotate: a quarter turn and a crop saved as a new JPG into the folder chosen in the
// panel; the copy's record joins the grid and the photo itself is left alone.
import { mkdtempSync, readdirSync, rmSync, statSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { afterAll, afterEach, describe, expect, it } from "vitest";
import { makeShoot, NativeSession, startSession } from "./shim";

const NAME = "canon-t6-coins-2000x1072.jpg";

describe("crop and rotate", () => {
  let session: NativeSession | null = null;
  const shoot = makeShoot([NAME]);
  const out = mkdtempSync(join(tmpdir(), "tidewick-edit-"));
  afterEach(async () => {
    await session?.close();
    session = null;
  });
  afterAll(() => {
    rmSync(shoot, { recursive: true, force: true });
    rmSync(out, { recursive: true, force: true });
  });

  it("turns, crops and saves a new photo that joins the grid", async () => {
    session = await startSession();
    const { page } = session;
    await session.waitForCallback("receiveState");
    session.answerPanel([shoot]);
    await page.getByTestId("import-folder").click();
    const scan = await session.waitForCallback("receiveScan");
    const source = join(shoot, NAME);
    const sourceSize = statSync(source).size;

    await page.getByTestId("grid-cell").first().click();
    await page.keyboard.press("e");
    const dialog = page.getByTestId("edit-dialog");
    await expect.poll(() => dialog.count()).toBe(1);
    await page.getByTestId("rotate-right").click();
    await expect.poll(() => page.getByTestId("edit-turns").textContent()).toBe("90°");
    await page.getByTestId("crop-w").fill("50");
    await page.getByTestId("crop-w").press("Tab");
    await page.getByTestId("crop-h").fill("50");
    await page.getByTestId("crop-h").press("Tab");
    await session.screenshot("edit-dialog");

    session.answerPanel([out]);
    await page.getByTestId("edit-save").click();
    const answer = await session.waitForCallback("photoEditResult");
    const request = session.posted.find((body) => body.action === "editPhoto");
    expect(request).toMatchObject({ path: source, turns: 1, crop: { x: 0, y: 0, w: 0.5, h: 0.5 }, token: answer.token });
    // The turned picture is 1072 × 2000; half of each side is kept.
    expect(answer.photo).toMatchObject({ name: "canon-t6-coins-2000x1072（1）.jpg", format: "JPG", width: 536, height: 1000, sourcePath: source });
    expect(readdirSync(out)).toEqual(["canon-t6-coins-2000x1072（1）.jpg"]);
    expect(statSync(source).size).toBe(sourceSize);

    await expect.poll(() => page.getByTestId("edit-message").textContent()).toContain("已另存为");
    await page.keyboard.press("Escape");
    await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(scan.photos.length + 1);
    await expect.poll(() => page.locator(".inspector-name").textContent()).toBe(answer.photo.name);
  });
});
