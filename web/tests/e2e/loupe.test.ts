// One photo looked at and edited: the program's large preview in the loupe, fit and 100 %,
// panning and stepping through the shoot at the same zoom; then a quarter turn and a crop saved
// as a new JPG into the folder chosen in the panel, whose record joins the grid while the photo
// itself is left alone.
import { readdirSync, statSync } from "node:fs";
import { join } from "node:path";
import { describe, expect, it } from "vitest";
import { workflows } from "./shim";

const NAMES = ["canon-t6-coins-2000x1072.jpg", "face-group3-open.jpg", "nikon-d5300-6000x4000.jpg"];

describe("loupe and crop", () => {
  const flows = workflows();

  it("shows the large preview, zooms to 100 % where clicked, pans, keeps the zoom when stepping, then turns, crops and saves a copy", async () => {
    const shoot = flows.shoot(NAMES);
    const out = flows.tempDir("tidewick-edit-");
    const session = await flows.start();
    const { page } = session;
    const scan = await session.importPaths([shoot]);
    const [first, second] = scan.photos;

    await page.getByTestId("grid-cell").first().click();
    await page.keyboard.press("Space");
    const ready = await session.waitForCallback("previewReady", (p) => p.id === first.id);
    expect(ready.url).toMatch(/^file:\/\/.*PreviewCache/);
    const image = page.getByTestId("loupe-image");
    await expect.poll(() => image.getAttribute("data-preview")).toBe("1");
    await expect.poll(() => image.evaluate((img: HTMLImageElement) => img.naturalWidth)).toBeGreaterThan(0);
    // The next photo was asked for ahead of stepping.
    expect(session.sent("previewPhoto").map((b) => b.id)).toEqual([first.id, second.id]);
    await session.screenshot("loupe-fit");

    // A click zooms to 100 % around the clicked spot; a drag pans.
    const box = (await page.locator(".loupe-frame").boundingBox())!;
    await page.mouse.click(box.x + box.width * 0.3, box.y + box.height * 0.4);
    const zoomed = () => page.getByTestId("zoom-actual").getAttribute("class").then((name) => name ?? "");
    await expect.poll(zoomed).toContain("active");
    const before = await image.evaluate((img) => img.style.transform);
    await page.mouse.move(box.x + 200, box.y + 200);
    await page.mouse.down();
    await page.mouse.move(box.x + 120, box.y + 150, { steps: 5 });
    await page.mouse.up();
    expect(await image.evaluate((img) => img.style.transform)).not.toBe(before);
    await session.screenshot("loupe-actual");

    // Stepping keeps 100 % and the same spot; Z goes back to fit.
    await page.keyboard.press("ArrowRight");
    await expect.poll(() => page.locator(".loupe-name").textContent()).toBe(second.name);
    expect(await zoomed()).toContain("active");
    await session.waitForCallback("previewReady", (p) => p.id === second.id);
    await page.keyboard.press("z");
    await expect.poll(zoomed).not.toContain("active");
    await page.keyboard.press("Escape");
    await expect.poll(() => page.getByTestId("loupe").count()).toBe(0);

    // Crop and rotate the 2000 × 1072 photo.
    const source = join(shoot, NAMES[0]);
    const sourceSize = statSync(source).size;
    await page.locator(`[data-id="${scan.photos.find((p: any) => p.name === NAMES[0]).id}"]`).click();
    await page.keyboard.press("e");
    await expect.poll(() => page.getByTestId("edit-dialog").count()).toBe(1);
    await page.getByTestId("rotate-right").click();
    await expect.poll(() => page.getByTestId("edit-turns").textContent()).toBe("90°");
    for (const side of ["crop-w", "crop-h"]) {
      await page.getByTestId(side).fill("50");
      await page.getByTestId(side).press("Tab");
    }
    await session.screenshot("edit-dialog");
    session.answerPanel([out]);
    await page.getByTestId("edit-save").click();
    const answer = await session.waitForCallback("photoEditResult");
    expect(session.sent("editPhoto")[0]).toMatchObject({ path: source, turns: 1, crop: { x: 0, y: 0, w: 0.5, h: 0.5 }, token: answer.token });
    // The turned picture is 1072 × 2000; half of each side is kept.
    expect(answer.photo).toMatchObject({ name: "canon-t6-coins-2000x1072（1）.jpg", format: "JPG", width: 536, height: 1000, sourcePath: source });
    expect(readdirSync(out)).toEqual(["canon-t6-coins-2000x1072（1）.jpg"]);
    expect(statSync(source).size).toBe(sourceSize);
    await expect.poll(() => page.getByTestId("edit-message").textContent()).toContain("已另存为");
    await page.keyboard.press("Escape");
    await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(NAMES.length + 1);
    await expect.poll(() => page.locator(".inspector-name").textContent()).toBe(answer.photo.name);
  });
});
