import { chmodSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { afterEach, describe, expect, it } from "vitest";
import { NativeSession, startSession } from "./shim";

describe("settings", () => {
  let session: NativeSession | null = null;
  afterEach(async () => {
    await session?.close();
    session = null;
  });

  it("switches lens correction and shows the program's detail text, readable at the minimum window size", async () => {
    session = await startSession({ viewport: { width: 980, height: 650 } });
    const { page } = session;
    await session.waitForCallback("lensCorrectionState");
    await page.getByTestId("settings").click();
    const lensSwitch = page.getByTestId("lens-switch");
    await expect.poll(() => lensSwitch.isChecked()).toBe(true);

    const before = session.delivered.length;
    await lensSwitch.click();
    const state = await session.waitForCallback("lensCorrectionState", () => true, { from: before });
    expect(session.posted.filter((body) => body.action === "saveLensSettings")).toEqual([
      { action: "saveLensSettings", enabled: false },
    ]);
    expect(state.enabled).toBe(false);
    await expect.poll(() => page.getByTestId("lens-detail").textContent()).toBe(state.detail);
    await expect.poll(() => lensSwitch.isChecked()).toBe(false);
    await session.screenshot("settings-980x650");

    // The plug-in service as the program reports it, and its save folder's picker.
    const bridge = await session.waitForCallback("bridgeStatus");
    await expect
      .poll(() => page.getByTestId("plugin-listening").textContent())
      .toBe(bridge.listening ? `正在监听本机端口 ${bridge.port}` : "未在监听，插件无法连接");
    await page.getByTestId("choose-save-location").click();
    const posted = session.posted;
    await expect.poll(() => posted.filter((body) => body.action === "chooseSaveLocation").length).toBe(1);

    // The toolbar fits the minimum window: no control is pushed out of view.
    const overflow = await page.evaluate(() => {
      const bar = document.querySelector(".toolbar") as HTMLElement;
      return bar.scrollWidth - bar.clientWidth;
    });
    expect(overflow).toBeLessThanOrEqual(0);
  });

  it("saves the AI service's key, never showing it again, refuses a plain-HTTP address and checks the connection", async () => {
    session = await startSession();
    const { page } = session;
    await session.waitForCallback("grsAIState");
    await page.getByTestId("settings").click();
    await expect.poll(() => page.getByTestId("ai-key-state").textContent()).toBe("当前密钥：未设置");

    // A plain-HTTP address is refused and nothing is stored.
    let from = session.delivered.length;
    await page.getByTestId("ai-key").fill("sk-test-0123456789");
    await page.getByTestId("ai-base-url").fill("http://127.0.0.1:9");
    await page.getByTestId("ai-save").click();
    let state = await session.waitForCallback("grsAIState", () => true, { from });
    expect(state.status).toBe("地址无效");
    await expect.poll(() => page.getByTestId("ai-status").textContent()).toBe("状态：地址无效");
    await expect.poll(() => page.getByTestId("ai-detail").textContent()).toBe(state.detail);
    expect(await page.getByTestId("ai-key").inputValue()).toBe("");

    // A closed local port: saved, then the check fails without leaving the machine.
    from = session.delivered.length;
    await page.getByTestId("ai-key").fill("sk-test-0123456789");
    await page.getByTestId("ai-base-url").fill("https://127.0.0.1:9");
    await page.getByTestId("ai-key").press("Enter");
    state = await session.waitForCallback("grsAIState", () => true, { from });
    expect(state).toMatchObject({ status: "已保存", configured: true, maskedKey: "sk-…6789" });
    await expect.poll(() => page.getByTestId("ai-key-state").textContent()).toBe("当前密钥：sk-…6789");
    expect(await page.getByTestId("ai-key").inputValue()).toBe("");
    expect(await page.content()).not.toContain("sk-test-0123456789");

    from = session.delivered.length;
    await page.getByTestId("ai-test").click();
    state = await session.waitForCallback("grsAIState", () => true, { from });
    expect(state.status).toBe("连接失败");
    await expect.poll(() => page.getByTestId("ai-status").textContent()).toBe("状态：连接失败");
    // The plug-in status embeds the same report and follows it.
    await expect.poll(() => page.getByTestId("plugin-ai").textContent()).toContain("连接失败");
    await session.screenshot("settings-ai-service");
  });

  it("checks a typed manifest address, shows the found version and opens its download page", async () => {
    const folder = mkdtempSync(join(tmpdir(), "tidewick-update-"));
    const manifest = join(folder, "update.json");
    writeFileSync(manifest, JSON.stringify({ version: "99.1", build: 7, downloadURL: "https://example.com/tw-99.1.tar.gz", releaseNotes: "新的导入\n更快的分析" }));
    try {
      session = await startSession();
      const { page } = session;
      await session.waitForCallback("appUpdateState");
      await page.getByTestId("settings").click();
      await expect.poll(() => page.getByTestId("update-status").textContent()).toBe("状态：尚未检查");

      // The automatic check is switched off by itself; nothing is offered for download yet.
      let from = session.delivered.length;
      await page.getByTestId("update-automatic").uncheck();
      let state = await session.waitForCallback("appUpdateState", () => true, { from });
      expect(state).toMatchObject({ automatic: false, manifestURL: "" });
      expect(await page.getByTestId("update-download").count()).toBe(0);

      from = session.delivered.length;
      await page.getByTestId("update-url").fill(`file://${manifest}`);
      await page.getByTestId("update-check").press("Enter");
      state = await session.waitForCallback("appUpdateState", (s) => s.status === "发现新版本", { from });
      expect(state.manifestURL).toBe("");
      await expect.poll(() => page.getByTestId("update-found").textContent()).toContain("新版本 99.1（7）");
      expect(await page.getByTestId("update-notes").textContent()).toBe("新的导入\n更快的分析");
      await session.screenshot("settings-update");

      from = session.delivered.length;
      await page.getByTestId("update-download").click();
      const answer = await session.waitForCallback("appUpdateDownload", () => true, { from });
      expect(answer.success).toBe(true);
      await expect.poll(() => page.getByTestId("update-download-message").textContent()).toBe(answer.message);
      expect(session.effects).toContainEqual({ effect: "openURL", url: "https://example.com/tw-99.1.tar.gz" });
    } finally {
      rmSync(folder, { recursive: true, force: true });
    }
  });

  it("opens a companion application, and walks the local set-up: re-check, install, download page, connection", async () => {
    // A home folder with a Photoshop launcher where the program looks for one.
    const home = mkdtempSync(join(tmpdir(), "tidewick-home-"));
    const launcher = join(home, ".local/bin/photoshop");
    mkdirSync(join(home, ".local/bin"), { recursive: true });
    writeFileSync(launcher, "#!/bin/sh\n");
    chmodSync(launcher, 0o755);
    try {
      // Port 9 (discard) has no ComfyUI behind it.
      session = await startSession({ env: { HOME: home, TIDEWICK_TEST_COMFY_PORT: "9" } });
      const { page } = session;
      await session.waitForCallback("comfySetupConnection");
      await page.getByTestId("settings").click();
      await expect.poll(() => page.getByTestId("app-photoshop").textContent()).toBe("Photoshop已安装打开");
      await expect.poll(() => page.getByTestId("app-pixcake").textContent()).toBe("像素蛋糕未检测到打开");

      let from = session.delivered.length;
      await page.getByTestId("open-photoshop").press("Enter");
      await session.waitForCallback("workflowAppOpened", () => true, { from });
      await expect.poll(() => page.getByTestId("app-opened").textContent()).toBe("已打开Photoshop");
      expect(session.effects).toContainEqual({ effect: "launchApp", path: launcher });

      // No Comfy Desktop, no instance: every model is missing and the installer says what to do first.
      const state = page.getByTestId("comfy-state");
      await expect.poll(() => state.textContent()).toContain("本地实例：尚未找到");
      expect(await page.getByTestId("comfy-models").textContent()).toBe("模型文件：0 / 4 就绪，还需下载 6.3 GB");
      from = session.delivered.length;
      await page.getByTestId("comfy-refresh").click();
      await session.waitForCallback("comfySetupState", () => true, { from });
      await page.getByTestId("comfy-install").click();
      const refused = await session.waitForCallback("comfySetupProgress", () => true, { from });
      await page.getByTestId("comfy-download").click();
      const opened = await session.waitForCallback("comfySetupProgress", (p) => p.event === "notice", { from });
      const log = page.locator("[data-testid=comfy-log] p");
      await expect.poll(() => log.allTextContents()).toEqual([`error ${refused.message}`, `notice ${opened.message}`]);
      expect(session.effects.filter((e) => e.effect === "openURL")).toHaveLength(1);

      from = session.delivered.length;
      await page.getByTestId("comfy-check").click();
      const probe = await session.waitForCallback("comfySetupConnection", () => true, { from });
      expect(probe.connected).toBe(false);
      await expect.poll(() => page.getByTestId("comfy-connection").textContent()).toBe(probe.message);
      await expect.poll(() => page.getByTestId("comfy-check").isDisabled()).toBe(false);
      await page.getByTestId("comfy-section").scrollIntoViewIfNeeded();
      await session.screenshot("settings-companions-comfy");
    } finally {
      rmSync(home, { recursive: true, force: true });
    }
  });
});
