// The loupe: the program's large preview, fit and 100 %, panning, and stepping through a
// burst at the same zoom and spot.
import { rmSync } from "node:fs";
import { afterAll, afterEach, describe, expect, it } from "vitest";
import { makeShoot, NativeSession, startSession } from "./shim";

const NAMES = ["canon-t6-coins-2000x1072.jpg", "face-group3-open.jpg", "nikon-d5300-6000x4000.jpg"];

describe("loupe", () => {
  let session: NativeSession | null = null;
  const shoot = makeShoot(NAMES);
  afterEach(async () => {
    await session?.close();
    session = null;
  });
  afterAll(() => rmSync(shoot, { recursive: true, force: true }));

  it("shows the large preview, zooms to 100 % where clicked, pans, and keeps the zoom when stepping", async () => {
    session = await startSession();
    const { page } = session;
    await session.waitForCallback("receiveState");
    session.answerPanel([shoot]);
    await page.getByTestId("import-folder").click();
    const scan = await session.waitForCallback("receiveScan");
    const first = scan.photos[0];

    await page.getByTestId("grid-cell").first().click();
    await page.keyboard.press("Space");
    const ready = await session.waitForCallback("previewReady", (p) => p.id === first.id);
    expect(ready.url).toMatch(/^file:\/\/.*PreviewCache/);
    const image = page.getByTestId("loupe-image");
    await expect.poll(() => image.getAttribute("data-preview")).toBe("1");
    await expect.poll(() => image.evaluate((img: HTMLImageElement) => img.naturalWidth)).toBeGreaterThan(0);
    // The next photo was asked for ahead of stepping.
    expect(session.posted.filter((b) => b.action === "previewPhoto").map((b) => b.id)).toEqual([first.id, scan.photos[1].id]);
    await session.screenshot("loupe-fit");

    // A click zooms to 100 % around the clicked spot; a drag pans.
    const frame = page.locator(".loupe-frame");
    const box = (await frame.boundingBox())!;
    await page.mouse.click(box.x + box.width * 0.3, box.y + box.height * 0.4);
    await expect.poll(() => page.getByTestId("zoom-actual").getAttribute("class")).toContain("active");
    const before = await image.evaluate((img) => img.style.transform);
    await page.mouse.move(box.x + 200, box.y + 200);
    await page.mouse.down();
    await page.mouse.move(box.x + 120, box.y + 150, { steps: 5 });
    await page.mouse.up();
    const after = await image.evaluate((img) => img.style.transform);
    expect(after).not.toBe(before);
    await session.screenshot("loupe-actual");

    // Stepping keeps 100 % and the same spot.
    await page.keyboard.press("ArrowRight");
    await expect.poll(() => page.locator(".loupe-name").textContent()).toBe(scan.photos[1].name);
    expect(await page.getByTestId("zoom-actual").getAttribute("class")).toContain("active");
    await session.waitForCallback("previewReady", (p) => p.id === scan.photos[1].id);
    await page.keyboard.press("z");
    await expect.poll(async () => (await page.getByTestId("zoom-actual").getAttribute("class")) ?? "").not.toContain("active");
    await page.keyboard.press("Escape");
    await expect.poll(() => page.getByTestId("loupe").count()).toBe(0);
  });
});
