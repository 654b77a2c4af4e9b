import { describe, expect, it } from "vitest";
import { connectedPlugins, readBridgeStatus } from "../../src/state/pluginBridge";
import { makeWorkbench } from "./helpers";

const RUNNING = {
  listening: true,
  connected: true,
  connectedCount: 2,
  mode: "local",
  port: 32188,
  saveLocation: "/home/ann/AI 修图",
  grsAI: { configured: true, maskedKey: "sk-…9f", baseURL: "https://api.grsai.com", model: "nano-banana", status: "连接正常", detail: "" },
  error: "",
};

describe("plug-in status", () => {
  it("follows every report, and an empty one means the service is not running", () => {
    const { workbench } = makeWorkbench();
    const bridgeStatus = workbench.handlers().bridgeStatus!;
    expect(workbench.bridge.value).toBeNull();
    bridgeStatus(RUNNING);
    expect(workbench.bridge.value).toEqual({
      listening: true,
      connected: true,
      connectedCount: 2,
      port: 32188,
      saveLocation: "/home/ann/AI 修图",
      grsAI: { configured: true, model: "nano-banana", status: "连接正常", detail: "" },
      error: "",
    });
    bridgeStatus({ ...RUNNING, listening: false, connected: false, connectedCount: 0, error: "Network 1/98" });
    expect(workbench.bridge.value).toMatchObject({ listening: false, connectedCount: 0, error: "Network 1/98" });
    bridgeStatus({});
    expect(workbench.bridge.value).toBeNull();
    bridgeStatus(RUNNING);
    bridgeStatus(null);
    expect(workbench.bridge.value).toBeNull();
  });

  it("shows fields of the wrong type as unknown rather than as a state", () => {
    const status = readBridgeStatus({
      listening: "yes",
      connected: 1,
      connectedCount: -3,
      port: 99999,
      saveLocation: ["/tmp"],
      grsAI: "broken",
      error: { text: "x" },
    });
    expect(status).toEqual({
      listening: null,
      connected: null,
      connectedCount: null,
      port: null,
      saveLocation: null,
      grsAI: null,
      error: "",
    });
    expect(connectedPlugins(status!)).toBeNull();
    expect(readBridgeStatus({ grsAI: { configured: "true", status: 3 } })?.grsAI).toEqual({
      configured: null,
      model: null,
      status: null,
      detail: "",
    });
    expect(readBridgeStatus([RUNNING])).toBeNull();
  });

  it("counts connected plug-ins, falling back to the connected flag", () => {
    expect(connectedPlugins(readBridgeStatus({ connected: true, connectedCount: 3 })!)).toBe(3);
    expect(connectedPlugins(readBridgeStatus({ connected: true })!)).toBe("some");
    expect(connectedPlugins(readBridgeStatus({ connected: false })!)).toBe(0);
  });

  it("asks the program for a new save location", () => {
    const { workbench, posted } = makeWorkbench();
    workbench.chooseSaveLocation();
    expect(posted).toEqual([{ action: "chooseSaveLocation" }]);
  });
});
