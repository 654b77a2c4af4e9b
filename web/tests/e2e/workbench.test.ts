// The workbench dialog against the program: a whole-set style from preview to copies, and the
// health check's rows, all from the keyboard where a photographer would use it.
import { mkdtempSync, readdirSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { afterAll, afterEach, describe, expect, it } from "vitest";
import { makeShoot, NativeSession, startSession } from "./shim";

const NAMES = ["orientation-1.jpg", "under-night-snow.jpg"];

describe("workbench", () => {
  let session: NativeSession | null = null;
  const shoot = makeShoot([...NAMES, "face-closed-yawn.jpg"]);
  const output = mkdtempSync(join(tmpdir(), "tidewick-style-out-"));
  afterEach(async () => {
    await session?.close();
    session = null;
  });
  afterAll(() => {
    rmSync(shoot, { recursive: true, force: true });
    rmSync(output, { recursive: true, force: true });
  });

  it("previews a reference's style on the shoot and writes copies of exactly that preview", async () => {
    session = await startSession();
    const { page } = session;
    await session.waitForCallback("receiveState");
    session.answerPanel(NAMES.map((name) => join(shoot, name)));
    await page.getByText("导入照片").click();
    await session.waitForCallback("receiveScan");

    await page.getByTestId("workbench").click();
    await page.getByRole("tab", { name: "项目" }).press("ArrowRight");
    await expect.poll(() => page.getByTestId("style-tab").isVisible()).toBe(true);

    session.answerPanel([join(shoot, "face-closed-yawn.jpg")]);
    await page.getByTestId("choose-reference").click();
    await expect.poll(() => page.getByTestId("style-reference-name").textContent()).toBe("face-closed-yawn.jpg");
    await page.getByTestId("style-preserve").uncheck();

    await page.getByTestId("preview-style").click();
    const preview = await session.waitForCallback("projectStylePreview");
    expect(preview.total).toBe(2);
    const request = session.posted.find((body) => body.action === "previewProjectStyle")!;
    expect(preview.token).toBe(request.token);
    expect(request.options).toEqual({ strength: 60, preserveColors: false });
    await expect.poll(() => page.locator("[data-testid=style-pairs] img").count()).toBe(4);

    session.answerPanel([output]);
    await page.getByTestId("export-style").click();
    const done = await session.waitForCallback("projectStyleComplete");
    expect(done.message).toContain("已另存 2 张 JPEG 副本");
    await expect.poll(() => page.getByTestId("style-message").textContent()).toBe(done.message);
    const [runFolder] = readdirSync(output);
    expect(readdirSync(join(output, runFolder)).sort()).toEqual([
      "0001-orientation-1-风格.jpg",
      "0002-under-night-snow-风格.jpg",
      "处理记录.json",
    ]);
    // The program let go of the preview; exporting again needs a new one.
    await expect.poll(() => page.getByTestId("export-style").isDisabled()).toBe(true);
    await session.screenshot("workbench-style");

    await page.keyboard.press("Escape");
    await expect.poll(() => page.getByTestId("workbench-dialog").count()).toBe(0);
  });

  it("lists the health check's rows and offers the report for saving", async () => {
    session = await startSession();
    const { page } = session;
    await session.waitForCallback("receiveState");
    await page.getByTestId("workbench").click();
    await page.getByRole("tab", { name: "诊断" }).click();
    await expect.poll(() => page.getByTestId("export-health").isDisabled()).toBe(true);
    await page.getByTestId("check-health").click();
    const report = await session.waitForCallback("workbenchHealth");
    const rows = page.locator("[data-testid=health-rows] li .health-name");
    await expect.poll(() => rows.allTextContents()).toEqual(report.rows.map((row: { name: string }) => row.name));
    await page.getByTestId("export-health").click();
    await expect.poll(() => session!.posted.filter((body) => body.action === "exportHealthReport").length).toBe(1);
  });

  it("queues portraits after a template pair and lists each item's failure without a save folder", async () => {
    session = await startSession();
    const { page } = session;
    await session.waitForCallback("receiveState");
    await page.getByTestId("workbench").click();
    await page.getByRole("tab", { name: "批量修脸" }).click();

    for (const [stage, name] of [["before", "face-closed-yawn.jpg"], ["after", "orientation-1.jpg"]] as const) {
      session.answerPanel([join(shoot, name)]);
      await page.getByTestId(`choose-template-${stage}`).click();
      await expect.poll(() => page.getByTestId(`template-${stage}`).textContent()).toBe(name);
    }
    session.answerPanel(NAMES.map((name) => join(shoot, name)));
    await page.getByTestId("add-face-photos").click();
    await expect.poll(() => page.getByTestId("face-item").count()).toBe(2);

    await page.getByTestId("start-face-batch").click();
    await expect.poll(() => page.locator("[data-testid=face-item].face-failed").count()).toBe(2);
    await expect.poll(() => page.getByTestId("face-item").first().textContent()).toContain("请先设置生成图片保存位置");
    const sent = session.posted.filter((body) => body.action === "generateFaceBatchItem");
    expect(sent.map((body) => (body.item as { path: string }).path)).toEqual(NAMES.map((name) => join(shoot, name)));
    await session.screenshot("workbench-face-batch");
  });

  it("lists a saved archive among the recent projects and reopens it from there", async () => {
    session = await startSession();
    const { page } = session;
    await session.waitForCallback("receiveState");
    session.answerPanel(NAMES.map((name) => join(shoot, name)));
    await page.getByText("导入照片").click();
    await session.waitForCallback("receiveScan");
    await page.getByTestId("workbench").click();
    await expect.poll(() => page.getByTestId("project-tab").textContent()).toContain("还没有保存或打开过项目档案");

    const archive = join(output, "拍摄项目.tideproject");
    session.answerPanel([archive]);
    await page.getByTestId("save-archive").click();
    await session.waitForCallback("projectArchiveSaved", (p) => p.ok === true);
    const entries = page.getByTestId("recent-project");
    await expect.poll(() => entries.count()).toBe(1);
    expect(await entries.first().textContent()).toContain("2 张 · 保存于");

    session.answerPanel([archive]);
    await entries.first().getByRole("button", { name: /^打开…/ }).click();
    await session.waitForCallback("projectArchiveLoaded");
    await expect.poll(() => entries.first().textContent()).toContain("2 张 · 打开于");
    expect(await entries.count()).toBe(1);
    await session.screenshot("workbench-recent-projects");
  });
});
