// The README's picture of the workbench: a real shoot imported and judged on this machine, with
// its verdicts in the grid and one photo's reasons in the details. The picture is always saved
// among the test artefacts; with TIDEWICK_README_SCREENSHOT=1 it also replaces docs/screenshot.png.
import { spawnSync } from "node:child_process";
import { rmSync, statSync } from "node:fs";
import { join } from "node:path";
import { afterAll, describe, expect, it } from "vitest";
import { makeShoot, repoDir, startSession } from "./shim";

// Portraits and groups with open and closed eyes, blurred, dark and bright frames, as a shoot has them.
const SHOOT = [
  "face-open-portrait-hopper.jpg",
  "face-closed-yawn.jpg",
  "face-group3-open.jpg",
  "face-group2-girl-closed-laughing.jpg",
  "face-closeup-open-canon350d.jpg",
  "blur-motion-text.jpg",
  "face-group8-mixed-squint.jpg",
  "under-severe-iso6400.jpg",
  "highkey-cat-white-background.jpg",
  "blur-defocus-text.jpg",
  "noise-indoor-iso1600.jpg",
  "under-night-snow.jpg",
];

describe("README screenshot", () => {
  const shoot = makeShoot(SHOOT);
  afterAll(() => rmSync(shoot, { recursive: true, force: true }));

  it("shows a judged shoot: verdicts in the grid, a portrait's reasons in the details", async () => {
    const session = await startSession({ viewport: { width: 1220, height: 780 } });
    try {
      const { page } = session;
      await session.waitForCallback("receiveState");
      session.answerPanel([shoot]);
      await page.getByTestId("import-folder").click();
      const scan = await session.waitForCallback("receiveScan");
      expect(scan.photos).toHaveLength(SHOOT.length);

      await page.getByTestId("analyse").click();
      const from = session.delivered.length;
      await page.getByTestId("analyse-missing").click();
      await session.waitForCallback("analysisComplete", () => true, { from, timeoutMs: 120_000 });
      const results = session.delivered.slice(from).filter((call) => call.fn === "window.Native.analysisResult");
      const issuesOf = new Map(results.map((call: any) => [call.arg.id as string, (call.arg.result?.issues ?? []) as string[]]));
      const reasonOf = new Map(results.map((call: any) => [call.arg.id as string, String(call.arg.result?.reason ?? "")]));
      const nameOf = new Map<string, string>(scan.photos.map((photo: any) => [photo.name, photo.id]));

      // Every photo the analysis faulted carries its issues as badges.
      const faulted = [...issuesOf].filter(([, issues]) => issues.length);
      expect(faulted.length).toBeGreaterThanOrEqual(4);
      for (const [id, issues] of faulted) {
        await expect.poll(() => page.locator(`[data-id="${id}"] .badge.issue`).evaluateAll((badges) => badges.map((b) => b.getAttribute("title")))).toEqual(issues);
      }

      // A photographer's first decisions: the motion blur out, a sharp portrait kept with stars.
      await page.locator(`[data-id="${nameOf.get("blur-motion-text.jpg")}"]`).click();
      await page.keyboard.press("x");
      // Each key moves on to the next photo, so the portrait is chosen again for its stars.
      const portrait = page.locator(`[data-id="${nameOf.get("face-open-portrait-hopper.jpg")}"]`);
      await portrait.click();
      await page.keyboard.press("p");
      await portrait.click();
      await page.keyboard.press("4");
      // The details show why the yawning portrait was set aside for a second look.
      const yawn = nameOf.get("face-closed-yawn.jpg")!;
      await page.locator(`[data-id="${yawn}"]`).click();
      await expect.poll(() => page.getByTestId("reason").textContent()).toBe(reasonOf.get(yawn));
      await expect.poll(() => page.locator(`[data-id="${nameOf.get("face-open-portrait-hopper.jpg")}"] .decision-flag`).textContent()).toBe("保留");
      await expect.poll(() => page.locator(".decision-flag").allTextContents()).toEqual(["淘汰", "保留"]);

      const file = await session.screenshot("readme-screenshot");
      if (process.env.TIDEWICK_README_SCREENSHOT === "1") {
        // A palette keeps the README's picture small without visible loss on the flat interface.
        const target = join(repoDir, "docs/screenshot.png");
        const saved = spawnSync("vips", ["pngsave", file, target, "--palette", "--Q", "90", "--effort", "10", "--strip"]);
        expect(saved.status, String(saved.stderr)).toBe(0);
        expect(statSync(target).size).toBeLessThan(400 * 1024);
      }
    } finally {
      await session.close();
    }
  });
});
