// The workbench dialog and every section of the settings against the program.
import { mkdirSync, utimesSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { expect, it } from "vitest";
import { workflows } from "./shim";

const NAMES = ["orientation-1.jpg", "under-night-snow.jpg"];

const flows = workflows();
const shoot = flows.shoot([...NAMES, "face-closed-yawn.jpg"]);
const output = flows.tempDir("tidewick-style-out-");

it("walks every settings section at the minimum window size, then goes back to an earlier shoot through its backup, reopens an archive, exports the previewed style, checks health and queues a face batch", async () => {
  const home = flows.tempDir("tidewick-home-");
  const launcher = join(home, ".local/bin/photoshop");
  mkdirSync(join(home, ".local/bin"), { recursive: true });
  writeFileSync(launcher, "#!/bin/sh\n", { mode: 0o755 });
  const manifest = join(flows.tempDir("tidewick-update-"), "update.json");
  writeFileSync(manifest, JSON.stringify({ version: "99.1", build: 7, downloadURL: "https://example.com/tw-99.1.tar.gz", releaseNotes: "新的导入\n更快的分析" }));
  // Port 9 (discard) has no ComfyUI behind it.
  const session = await flows.start({
    viewport: { width: 980, height: 650 }, env: { HOME: home, TIDEWICK_TEST_COMFY_PORT: "9" },
    prepareSupportDir: (dir) => {
      const records = join(dir, "ProjectRecords");
      mkdirSync(records);
      // An earlier shoot of two photos, and a file that is no project: listed, marked, never offered.
      const photos = NAMES.map((name, i) => ({ id: `EARLIER-${i}`, path: join(shoot, name), name, format: "JPG", size: 1, date: "" }));
      writeFileSync(join(records, "1700000000-earlier.json"), JSON.stringify({ photos, projectName: "早先的拍摄" }));
      // The shoot on show, which opening a backup backs up first.
      writeFileSync(join(dir, "current-project.json"), JSON.stringify({ photos: [{ ...photos[0], id: "SHOWN" }] }));
      writeFileSync(join(records, "1600000000-broken.json"), "{ not json");
      for (const [name, at] of [["1700000000-earlier.json", new Date(2023, 10, 14)], ["1600000000-broken.json", new Date(2020, 8, 13)]] as const) utimesSync(join(records, name), at, at);
    },
  });
  const { page } = session;
  for (const name of ["lensCorrectionState", "grsAIState", "appUpdateState", "comfySetupConnection", "bridgeStatus"]) await session.waitForCallback(name);
  // The toolbar fits the minimum window: no control is pushed out of view.
  expect(await page.evaluate(() => document.querySelector(".toolbar")!.scrollWidth - document.querySelector(".toolbar")!.clientWidth)).toBeLessThanOrEqual(0);
  await page.getByTestId("settings").click();
  const lensSwitch = page.getByTestId("lens-switch");
  const lens = await session.answerTo(() => lensSwitch.click(), "lensCorrectionState");
  await expect.poll(() => Promise.all([session.texts("lens-detail"), lensSwitch.isChecked(), session.sent("saveLensSettings")])).toEqual([[lens.detail], false, [{ action: "saveLensSettings", enabled: false }]]);
  const bridge = await session.waitForCallback("bridgeStatus");
  await expect.poll(() => page.getByTestId("plugin-listening").textContent()).toBe(bridge.listening ? `正在监听本机端口 ${bridge.port}` : "未在监听，插件无法连接");
  await page.getByTestId("choose-save-location").click();
  await expect.poll(() => session.sent("chooseSaveLocation").length).toBe(1);
  // A closed local port: the key saved and never shown again; the check fails without leaving the machine.
  await page.getByTestId("ai-key").fill("sk-test-0123456789");
  await page.getByTestId("ai-base-url").fill("https://127.0.0.1:9");
  await session.answerTo(() => page.getByTestId("ai-key").press("Enter"), "grsAIState");
  await expect.poll(() => Promise.all([session.texts("ai-key-state"), page.getByTestId("ai-key").inputValue(), page.content()]))
    .toEqual([["当前密钥：sk-…6789"], "", expect.not.stringContaining("sk-test-0123456789")]);
  await session.answerTo(() => page.getByTestId("ai-test").click(), "grsAIState");
  await expect.poll(() => session.texts("ai-status", "plugin-ai")).toEqual(["状态：连接失败", expect.stringContaining("连接失败")]);
  // The automatic check switched off by itself, then a typed address checked, its version shown and its page opened.
  expect(await session.answerTo(() => page.getByTestId("update-automatic").uncheck(), "appUpdateState")).toMatchObject({ automatic: false, manifestURL: "" });
  await page.getByTestId("update-url").fill(`file://${manifest}`);
  await session.answerTo(() => page.getByTestId("update-check").press("Enter"), "appUpdateState", (s) => s.status === "发现新版本");
  await expect.poll(() => session.texts("update-found", "update-notes")).toEqual([expect.stringContaining("新版本 99.1（7）"), "新的导入\n更快的分析"]);
  const download = await session.answerTo(() => page.getByTestId("update-download").click(), "appUpdateDownload");
  await expect.poll(() => Promise.all([session.texts("update-download-message"), session.effects.filter((e) => e.effect === "openURL")]))
    .toEqual([[download.message], [{ effect: "openURL", url: "https://example.com/tw-99.1.tar.gz" }]]);
  await expect.poll(() => session.texts("app-photoshop", "app-pixcake")).toEqual(["Photoshop已安装打开", "像素蛋糕未检测到打开"]);
  await session.answerTo(() => page.getByTestId("open-photoshop").press("Enter"), "workflowAppOpened");
  await expect.poll(() => Promise.all([page.getByTestId("app-opened").textContent(), session.effects])).toEqual(["已打开Photoshop", expect.arrayContaining([{ effect: "launchApp", path: launcher }])]);
  // No Comfy Desktop, no instance: every model is missing and the installer says what to do first.
  await expect.poll(() => session.texts("comfy-state", "comfy-models")).toEqual([expect.stringContaining("本地实例：尚未找到"), "模型文件：0 / 4 就绪，还需下载 6.3 GB"]);
  await session.answerTo(() => page.getByTestId("comfy-refresh").click(), "comfySetupState");
  const refused = await session.answerTo(() => page.getByTestId("comfy-install").click(), "comfySetupProgress");
  const opened = await session.answerTo(() => page.getByTestId("comfy-download").click(), "comfySetupProgress", (p) => p.event === "notice");
  await expect.poll(() => page.locator("[data-testid=comfy-log] p").allTextContents()).toEqual([`error ${refused.message}`, `notice ${opened.message}`]);
  const probe = await session.answerTo(() => page.getByTestId("comfy-check").click(), "comfySetupConnection");
  await expect.poll(() => Promise.all([session.texts("comfy-connection"), page.getByTestId("comfy-check").isDisabled()])).toEqual([[probe.message], false]);
  await page.keyboard.press("Escape");
  await page.getByTestId("workbench").click();
  const backups = page.getByTestId("backup");
  await expect.poll(() => Promise.all([backups.allTextContents(), backups.last().getByRole("button").count()])).toEqual([[expect.stringMatching(/2023\/11\/14.*2 张/), expect.stringContaining("无法读取，不能打开")], 0]);
  // Escape takes the question back and leaves the dialog open; then it is asked and answered.
  await backups.first().getByRole("button", { name: /^打开…/ }).press("Enter");
  const confirm = page.getByTestId("backup-confirm");
  await expect.poll(() => Promise.all([confirm.textContent(), page.evaluate(() => document.activeElement?.getAttribute("data-testid"))])).toEqual([expect.stringContaining("当前项目会先自动备份"), "confirm-open-backup"]);
  await page.keyboard.press("Escape");
  await expect.poll(() => Promise.all([confirm.count(), page.getByTestId("workbench-dialog").count(), session.sent("openProjectBackup")])).toEqual([0, 1, []]);
  await backups.first().getByRole("button", { name: /^打开…/ }).click();
  await session.answerTo(() => page.keyboard.press("Enter"), "projectArchiveLoaded");
  // The one-photo shoot it replaced is listed as the newest backup.
  await expect.poll(() => Promise.all([page.locator("[data-id]").count(), session.texts("status"), backups.count()])).toEqual([2, ["已打开自动备份，共 2 张照片；原项目已备份"], 3]);
  await expect.poll(() => page.getByTestId("project-tab").textContent()).toContain("还没有保存或打开过项目档案");
  const archive = join(output, "拍摄项目.tideproject");
  session.answerPanel([archive]);
  await session.answerTo(() => page.getByTestId("save-archive").click(), "projectArchiveSaved", (p) => p.ok === true);
  const entries = page.getByTestId("recent-project");
  await expect.poll(() => entries.allTextContents()).toEqual([expect.stringContaining("2 张 · 保存于")]);
  session.answerPanel([archive]);
  await entries.first().getByRole("button", { name: /^打开…/ }).click();
  await expect.poll(() => entries.allTextContents()).toEqual([expect.stringContaining("2 张 · 打开于")]);
  await page.getByRole("tab", { name: "项目" }).press("ArrowRight");
  session.answerPanel([join(shoot, "face-closed-yawn.jpg")]);
  await page.getByTestId("choose-reference").click();
  await expect.poll(() => page.getByTestId("style-reference-name").textContent()).toBe("face-closed-yawn.jpg");
  await page.getByTestId("style-preserve").uncheck();
  const preview = await session.answerTo(() => page.getByTestId("preview-style").click(), "projectStylePreview");
  await expect.poll(() => Promise.all([session.sent("previewProjectStyle")[0], page.locator("[data-testid=style-pairs] img").count()]))
    .toMatchObject([{ token: preview.token, options: { strength: 60, preserveColors: false } }, 4]);
  session.answerPanel([output]);
  const done = await session.answerTo(() => page.getByTestId("export-style").click(), "projectStyleComplete");
  // The program let go of the preview; exporting again needs a new one.
  await expect.poll(() => Promise.all([session.texts("style-message"), page.getByTestId("export-style").isDisabled()])).toEqual([[done.message], true]);
  await page.getByRole("tab", { name: "诊断" }).click();
  await expect.poll(() => page.getByTestId("export-health").isDisabled()).toBe(true);
  const report = await session.answerTo(() => page.getByTestId("check-health").click(), "workbenchHealth");
  await expect.poll(() => page.locator("[data-testid=health-rows] li .health-name").allTextContents()).toEqual(report.rows.map((row: { name: string }) => row.name));
  await page.getByTestId("export-health").click();
  await expect.poll(() => session.sent("exportHealthReport").length).toBe(1);
  // Each face batch item fails with the program's reason: no save folder is set.
  await page.getByRole("tab", { name: "批量修脸" }).click();
  for (const [stage, name] of [["before", "face-closed-yawn.jpg"], ["after", "orientation-1.jpg"]] as const) {
    session.answerPanel([join(shoot, name)]);
    await page.getByTestId(`choose-template-${stage}`).click();
    await expect.poll(() => page.getByTestId(`template-${stage}`).textContent()).toBe(name);
  }
  session.answerPanel(NAMES.map((name) => join(shoot, name)));
  await page.getByTestId("add-face-photos").click();
  await page.getByTestId("start-face-batch").click();
  await expect.poll(() => Promise.all([page.locator("[data-testid=face-item].face-failed").count(), page.getByTestId("face-item").first().textContent()]))
    .toEqual([2, expect.stringContaining("请先设置生成图片保存位置")]);
  await page.keyboard.press("Escape");
  await expect.poll(() => page.getByTestId("workbench-dialog").count()).toBe(0);
});
