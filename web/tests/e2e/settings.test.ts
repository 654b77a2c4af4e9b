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
});
