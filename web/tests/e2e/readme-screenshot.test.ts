// The README's picture: a real shoot imported and judged, its verdicts in the grid and one photo's reasons
// in the details; saved among the test artefacts, and with TIDEWICK_README_SCREENSHOT=1 as docs/screenshot.png.
import { spawnSync } from "node:child_process";
import { statSync } from "node:fs";
import { join } from "node:path";
import { expect, it } from "vitest";
import { repoDir, workflows } from "./shim";

// Portraits and groups with open and closed eyes, blurred, dark and bright frames, as a shoot has them.
const SHOOT = ["face-open-portrait-hopper.jpg", "face-closed-yawn.jpg", "face-group3-open.jpg", "face-group2-girl-closed-laughing.jpg", "face-closeup-open-canon350d.jpg", "blur-motion-text.jpg",
  "face-group8-mixed-squint.jpg", "under-severe-iso6400.jpg", "highkey-cat-white-background.jpg", "blur-defocus-text.jpg", "noise-indoor-iso1600.jpg", "under-night-snow.jpg"];

const flows = workflows();

it("shows a judged shoot: verdicts in the grid, a portrait's reasons in the details", async () => {
  const session = await flows.start({ viewport: { width: 1220, height: 780 } });
  const { page } = session;
  const scan = await session.importPaths([flows.shoot(SHOOT)]);
  await page.getByTestId("analyse").click();
  await session.answerTo(() => page.getByTestId("analyse-missing").click(), "analysisComplete", () => true, 120_000);
  const results = session.delivered.filter((call) => call.fn === "window.Native.analysisResult").map((call: any) => call.arg);
  const idOf = new Map<string, string>(scan.photos.map((photo: any) => [photo.name, photo.id]));
  const faulted = results.filter((answer) => answer.result?.issues?.length);
  const badges = (id: string) => page.locator(`[data-id="${id}"] .badge.issue`).evaluateAll((shown) => shown.map((b) => b.getAttribute("title")));
  await expect.poll(() => Promise.all(faulted.map(({ id }) => badges(id)))).toEqual(faulted.map(({ result }) => result.issues));
  expect(faulted.length).toBeGreaterThanOrEqual(4);
  // The motion blur out, a sharp portrait kept with stars: each key moves on, so the portrait is chosen again.
  const portrait = page.locator(`[data-id="${idOf.get("face-open-portrait-hopper.jpg")}"]`);
  for (const [cell, key] of [[page.locator(`[data-id="${idOf.get("blur-motion-text.jpg")}"]`), "x"], [portrait, "p"], [portrait, "4"]] as const) {
    await cell.click();
    await page.keyboard.press(key);
  }
  // The details show why the yawning portrait was set aside for a second look.
  const yawn = idOf.get("face-closed-yawn.jpg")!;
  await page.locator(`[data-id="${yawn}"]`).click();
  const reason = String(results.find((answer) => answer.id === yawn).result.reason);
  await expect.poll(() => Promise.all([session.texts("reason"), page.locator(".decision-flag").allTextContents(), portrait.locator(".decision-flag").textContent()])).toEqual([[reason], ["淘汰", "保留"], "保留"]);
  const file = join(repoDir, "test-artifacts", "readme-screenshot.png");
  await page.screenshot({ path: file });
  if (process.env.TIDEWICK_README_SCREENSHOT === "1") {
    // A palette keeps the README's picture small without visible loss on the flat interface.
    const target = join(repoDir, "docs/screenshot.png");
    const saved = spawnSync("vips", ["pngsave", file, target, "--palette", "--Q", "90", "--effort", "10", "--strip"]);
    expect(saved.status, String(saved.stderr)).toBe(0);
    expect(statSync(target).size).toBeLessThan(400 * 1024);
  }
});
