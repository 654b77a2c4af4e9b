// From import to culling list against the real program, and a local analysis stopped half way.
// The shoot is a copy of sample photos, because the rejects really go to the (temporary) trash.
import { readdirSync, readFileSync, utimesSync } from "node:fs";
import { basename, join } from "node:path";
import { expect, it } from "vitest";
import { testPhotosDir, workflows } from "./shim";

// One modification time for the copies, so the program lists them by name; the two identical frames are a burst.
const NAMES = ["blur-defocus-text.jpg", "face-closed-yawn.jpg", "face-group3-open-2.jpg", "face-group3-open.jpg", "face-open-portrait-hopper.jpg", "noise-indoor-iso1600.jpg", "under-night-snow.jpg"];
const SHOOT = Object.fromEntries(NAMES.map((name) => [name, name.replace("-2.jpg", ".jpg")]));

const flows = workflows();

it("imports, analyses as chosen, rejects two with X, trashes them, exports the rated ones and saves the culling list", async () => {
  const shoot = flows.shoot(SHOOT);
  for (const name of NAMES) utimesSync(join(shoot, name), new Date(2026, 4, 1, 10), new Date(2026, 4, 1, 10));
  const session = await flows.start();
  const { page } = session;
  const scan = await session.importPaths([shoot]);
  await page.getByTestId("analyse").click();
  const panel = page.getByTestId("analysis-panel");
  await panel.getByRole("button", { name: "严格" }).click();
  await panel.getByLabel("噪点过高").uncheck();
  await page.getByTestId("analyse-missing").click();
  const [request] = session.sent("analyze");
  expect([request.settings, await session.waitForCallback("analysisComplete", () => true, { timeoutMs: 120_000 })])
    .toEqual([{ strictness: "严格", enabled: ["整体模糊", "人脸失焦", "闭眼", "过曝", "欠曝"], sound: true }, { token: request.token, cancelled: false }]);
  await expect.poll(() => Promise.all([page.getByTestId("analysis-progress").count(), session.texts("metrics")])).toEqual([0, [expect.stringContaining("亮度")]]);
  // The identical frames form a burst with one best frame; collapsed, it is one cell that opens again.
  await expect.poll(() => Promise.all([page.locator(".group-tag").count(), page.locator(".group-tag.best").count()])).toEqual([2, 1]);
  await page.getByText("折叠连拍").click();
  await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(NAMES.length - 1);
  await page.locator(".group-tag").first().click();
  await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(NAMES.length);
  await page.getByText("折叠连拍").click();
  // X, X rejects the first two photos, the next three are rated or kept, and the first gets stars too.
  await page.getByTestId("grid-cell").first().click();
  for (const key of ["x", "x", "4", "p", "5", "Home", "3"]) await page.keyboard.press(key);
  await expect.poll(() => page.getByTestId("counts").textContent()).toMatch(/保留 1.*淘汰 2.*★ 3/);
  await page.getByTestId("trash-rejects").click();
  await expect.poll(() => Promise.all([session.texts("trash-starred"), page.evaluate(() => (document.activeElement as HTMLElement | null)?.dataset.testid)])).toEqual([[expect.stringContaining("其中 1 张带有星级")], "cancel-trash"]);
  await page.getByTestId("confirm-trash").click();
  await expect.poll(() => page.getByTestId("grid-cell").count(), { timeout: 30_000 }).toBe(NAMES.length - 2);
  session.answerPanel([flows.tempDir("tidewick-export-")]);
  expect((await session.answerTo(() => page.getByTestId("export-rated").click(), "ratingExportComplete")).outputs).toHaveLength(2);
  const manifestPath = join(flows.tempDir("tidewick-manifest-"), "list.txt");
  session.answerPanel([manifestPath]);
  expect((await session.answerTo(() => page.getByTestId("manifest").click(), "reviewManifestComplete")).success).toBe(true);
  for (const line of [`项目：${basename(shoot)}`, `照片总数：${NAMES.length - 2}`, "保留：1", "B1（本组最佳）"]) expect(readFileSync(manifestPath, "utf8")).toContain(line);
  await page.getByTestId("advanced-export").click();
  const dialog = page.getByTestId("export-dialog");
  await dialog.getByRole("button", { name: "JPEG" }).click();
  await dialog.getByLabel(/全部照片/).check();
  session.answerPanel([flows.tempDir("tidewick-advanced-")]);
  const done = await session.answerTo(() => page.getByTestId("start-export").click(), "exportComplete", () => true, 60_000);
  const kept = scan.photos[3].name.replace(/\.jpg$/, "");
  await expect.poll(() => Promise.all([page.getByTestId("status").textContent(), readdirSync(join(done.folder, "保留")).sort()])).toEqual([done.message, [`${kept}.jpg`, `${kept}.xmp`]]);
});

it("cancels a running analysis; the photos analysed before keep their results, the rest wait", async () => {
  const session = await flows.start();
  const { page } = session;
  const scan = await session.importPaths([testPhotosDir]);
  await page.getByTestId("analyse").click();
  await session.answerTo(() => page.getByTestId("analyse-missing").click(), "analysisResult", () => true, 60_000);
  await expect.poll(() => page.getByTestId("analysis-progress").textContent()).toMatch(/正在分析 \d+ \/ \d+/);
  await page.getByTestId("cancel-analysis").click();
  const { cancelled } = await session.waitForCallback("analysisComplete", () => true, { timeoutMs: 60_000 });
  await expect.poll(() => Promise.all([cancelled, session.sent("cancelAnalysis").length, session.texts("status"), page.getByTestId("analysis-progress").count()])).toEqual([true, 1, ["已取消分析"], 0]);
  // Focused first, as a person's click does.
  await page.getByTestId("filter-issue").focus();
  await page.getByTestId("filter-issue").selectOption("未分析");
  const waiting = Number(/^(\d+) \//.exec((await page.getByTestId("shown-count").textContent()) ?? "")?.[1]);
  expect(waiting > 0 && waiting < scan.photos.length).toBe(true);
  await page.keyboard.press("x");
  await expect.poll(() => page.locator(".decision-flag").allTextContents()).toEqual(["淘汰"]);
  await page.getByTestId("analyse").click();
  await expect.poll(() => page.getByTestId("analyse-missing").textContent()).toContain(`（${waiting}）`);
});
