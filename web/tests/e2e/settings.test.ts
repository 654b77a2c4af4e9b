// Every section of the settings against the program, at the minimum window size.
import { mkdirSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { expect, it } from "vitest";
import { workflows } from "./shim";

const flows = workflows();

it("walks every section from the keyboard and the mouse, each showing what the program reports", async () => {
  const home = flows.tempDir("tidewick-home-");
  const launcher = join(home, ".local/bin/photoshop");
  mkdirSync(join(home, ".local/bin"), { recursive: true });
  writeFileSync(launcher, "#!/bin/sh\n", { mode: 0o755 });
  const manifest = join(flows.tempDir("tidewick-update-"), "update.json");
  writeFileSync(manifest, JSON.stringify({ version: "99.1", build: 7, downloadURL: "https://example.com/tw-99.1.tar.gz", releaseNotes: "新的导入\n更快的分析" }));
  // Port 9 (discard) has no ComfyUI behind it.
  const session = await flows.start({ viewport: { width: 980, height: 650 }, env: { HOME: home, TIDEWICK_TEST_COMFY_PORT: "9" } });
  const { page } = session;
  for (const name of ["lensCorrectionState", "grsAIState", "appUpdateState", "comfySetupConnection", "bridgeStatus"]) await session.waitForCallback(name);
  // The toolbar fits the minimum window: no control is pushed out of view.
  expect(await page.evaluate(() => document.querySelector(".toolbar")!.scrollWidth - document.querySelector(".toolbar")!.clientWidth)).toBeLessThanOrEqual(0);
  await page.getByTestId("settings").click();

  const lensSwitch = page.getByTestId("lens-switch");
  await expect.poll(() => lensSwitch.isChecked()).toBe(true);
  const lens = await session.answerTo(() => lensSwitch.click(), "lensCorrectionState");
  expect([session.sent("saveLensSettings"), lens.enabled]).toEqual([[{ action: "saveLensSettings", enabled: false }], false]);
  await expect.poll(() => Promise.all([session.texts("lens-detail"), lensSwitch.isChecked()])).toEqual([[lens.detail], false]);

  const bridge = await session.waitForCallback("bridgeStatus");
  await expect.poll(() => page.getByTestId("plugin-listening").textContent()).toBe(bridge.listening ? `正在监听本机端口 ${bridge.port}` : "未在监听，插件无法连接");
  await page.getByTestId("choose-save-location").click();
  await expect.poll(() => session.sent("chooseSaveLocation").length).toBe(1);

  // The AI service: a plain-HTTP address is refused and nothing is stored.
  await expect.poll(() => page.getByTestId("ai-key-state").textContent()).toBe("当前密钥：未设置");
  const saveAI = async (address: string, submit: () => Promise<void>) => {
    await page.getByTestId("ai-key").fill("sk-test-0123456789");
    await page.getByTestId("ai-base-url").fill(address);
    return session.answerTo(submit, "grsAIState");
  };
  let ai = await saveAI("http://127.0.0.1:9", () => page.getByTestId("ai-save").click());
  expect(ai.status).toBe("地址无效");
  await expect.poll(() => Promise.all([session.texts("ai-status", "ai-detail"), page.getByTestId("ai-key").inputValue()])).toEqual([["状态：地址无效", ai.detail], ""]);
  // A closed local port: saved, never shown again, then the check fails without leaving the machine.
  ai = await saveAI("https://127.0.0.1:9", () => page.getByTestId("ai-key").press("Enter"));
  expect(ai).toMatchObject({ status: "已保存", configured: true, maskedKey: "sk-…6789" });
  await expect.poll(() => Promise.all([session.texts("ai-key-state"), page.getByTestId("ai-key").inputValue()])).toEqual([["当前密钥：sk-…6789"], ""]);
  expect(await page.content()).not.toContain("sk-test-0123456789");
  expect((await session.answerTo(() => page.getByTestId("ai-test").click(), "grsAIState")).status).toBe("连接失败");
  await expect.poll(() => session.texts("ai-status", "plugin-ai")).toEqual(["状态：连接失败", expect.stringContaining("连接失败")]);

  // The update check: the automatic check switched off by itself, then a typed address checked
  // without being saved, its version shown and its download page opened.
  await expect.poll(() => page.getByTestId("update-status").textContent()).toBe("状态：尚未检查");
  expect(await session.answerTo(() => page.getByTestId("update-automatic").uncheck(), "appUpdateState")).toMatchObject({ automatic: false, manifestURL: "" });
  expect(await page.getByTestId("update-download").count()).toBe(0);
  await page.getByTestId("update-url").fill(`file://${manifest}`);
  expect((await session.answerTo(() => page.getByTestId("update-check").press("Enter"), "appUpdateState", (s) => s.status === "发现新版本")).manifestURL).toBe("");
  await expect.poll(() => session.texts("update-found", "update-notes")).toEqual([expect.stringContaining("新版本 99.1（7）"), "新的导入\n更快的分析"]);
  const download = await session.answerTo(() => page.getByTestId("update-download").click(), "appUpdateDownload");
  expect(download.success).toBe(true);
  await expect.poll(() => session.texts("update-download-message")).toEqual([download.message]);
  expect(session.effects.filter((e) => e.effect === "openURL")).toEqual([{ effect: "openURL", url: "https://example.com/tw-99.1.tar.gz" }]);

  // Photoshop is found where the program looks for one, and opened.
  await expect.poll(() => session.texts("app-photoshop", "app-pixcake")).toEqual(["Photoshop已安装打开", "像素蛋糕未检测到打开"]);
  await session.answerTo(() => page.getByTestId("open-photoshop").press("Enter"), "workflowAppOpened");
  await expect.poll(() => page.getByTestId("app-opened").textContent()).toBe("已打开Photoshop");
  expect(session.effects).toContainEqual({ effect: "launchApp", path: launcher });

  // No Comfy Desktop, no instance: every model is missing and the installer says what to do first.
  await expect.poll(() => session.texts("comfy-state", "comfy-models")).toEqual([expect.stringContaining("本地实例：尚未找到"), "模型文件：0 / 4 就绪，还需下载 6.3 GB"]);
  await session.answerTo(() => page.getByTestId("comfy-refresh").click(), "comfySetupState");
  const refused = await session.answerTo(() => page.getByTestId("comfy-install").click(), "comfySetupProgress");
  const opened = await session.answerTo(() => page.getByTestId("comfy-download").click(), "comfySetupProgress", (p) => p.event === "notice");
  await expect.poll(() => page.locator("[data-testid=comfy-log] p").allTextContents()).toEqual([`error ${refused.message}`, `notice ${opened.message}`]);
  expect(session.effects.filter((e) => e.effect === "openURL")).toHaveLength(2);
  const probe = await session.answerTo(() => page.getByTestId("comfy-check").click(), "comfySetupConnection");
  expect(probe.connected).toBe(false);
  await expect.poll(() => Promise.all([session.texts("comfy-connection"), page.getByTestId("comfy-check").isDisabled()])).toEqual([[probe.message], false]);
  await page.getByTestId("comfy-section").scrollIntoViewIfNeeded();
  await session.screenshot("settings-companions-comfy");
});
