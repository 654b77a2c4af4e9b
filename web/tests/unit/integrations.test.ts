import { describe, expect, it } from "vitest";
import { readAppUpdateState } from "../../src/state/appUpdate";
import { readComfySetup, SETUP_LOG_MAX } from "../../src/state/comfySetup";
import { readCompanionApps } from "../../src/state/companionApps";
import { makeWorkbench } from "./helpers";

const BASE = { currentVersion: "0.7.1", currentBuild: "1", manifestURL: "https://example.com/update.json", automatic: true };
const FOUND = {
  ...BASE,
  status: "发现新版本",
  available: true,
  latestVersion: "0.8.0",
  latestBuild: "12",
  downloadURL: "https://example.com/tidewick-0.8.0.tar.gz",
  releaseNotes: "更快的导入",
  publishedAt: "2026-12-01",
  sha256: "",
};

describe("update check", () => {
  it("offers a download only for a newer version with an HTTPS page, and follows every snapshot", () => {
    const { workbench } = makeWorkbench();
    const report = workbench.handlers().appUpdateState!;
    report({ ...BASE, status: "尚未检查" });
    expect(workbench.appUpdate.state.value).toMatchObject({ status: "尚未检查", automatic: true, found: null, checking: false });
    report(FOUND);
    expect(workbench.appUpdate.state.value?.found).toEqual({
      version: "0.8.0",
      build: "12",
      releaseNotes: "更快的导入",
      publishedAt: "2026-12-01",
      sha256: "",
    });
    report({ ...FOUND, status: "已经是最新版", available: false });
    expect(workbench.appUpdate.state.value?.found).toBeNull();
    expect(readAppUpdateState({ ...FOUND, downloadURL: "javascript:alert(1)" })?.found).toBeNull();
    expect(readAppUpdateState({ ...FOUND, available: "true" })?.found).toBeNull();
    expect(readAppUpdateState({ ...FOUND, latestVersion: 8 })?.found).toBeNull();
  });

  it("ignores reports that are no state and reads wrong types as unknown", () => {
    const { workbench } = makeWorkbench();
    const report = workbench.handlers().appUpdateState!;
    report({ ...BASE, status: "需要设置更新地址", error: "先填写你上传后的 update.json 公网地址。" });
    for (const broken of [null, "发现新版本", [FOUND], { ...FOUND, status: 3 }]) report(broken);
    expect(workbench.appUpdate.state.value).toMatchObject({ status: "需要设置更新地址", error: "先填写你上传后的 update.json 公网地址。" });
    const odd = readAppUpdateState({ status: "检查失败", automatic: "yes", checking: 1, releaseNotes: "x".repeat(10_000) });
    expect(odd).toMatchObject({ automatic: null, checking: false, manifestURL: "", currentVersion: "" });
    expect(readAppUpdateState({ ...FOUND, releaseNotes: "x".repeat(10_000) })!.found!.releaseNotes.length).toBe(4000);
  });

  it("saves each setting on its own, checks a typed address without storing it, and waits for a report first", () => {
    const { workbench, posted } = makeWorkbench();
    workbench.appUpdate.setAutomatic(false);
    expect(posted).toEqual([]);
    workbench.handlers().appUpdateState!({ ...BASE, status: "尚未检查" });
    workbench.appUpdate.setAutomatic(false);
    workbench.appUpdate.saveAddress("  file:///tmp/update.json ");
    workbench.appUpdate.check("");
    workbench.appUpdate.check(" https://other.example/update.json ");
    expect(posted).toEqual([
      { action: "saveUpdateSettings", manifestURL: "https://example.com/update.json", automatic: false },
      { action: "saveUpdateSettings", manifestURL: "file:///tmp/update.json", automatic: true },
      { action: "checkForAppUpdate" },
      { action: "checkForAppUpdate", manifestURL: "https://other.example/update.json" },
    ]);
    workbench.handlers().appUpdateState!({ ...BASE, status: "正在检查…", checking: true });
    workbench.appUpdate.check("");
    expect(posted).toHaveLength(4);
  });

  it("downloads only a found version and takes only the answer it awaits", () => {
    const { workbench, actions } = makeWorkbench();
    const answer = workbench.handlers().appUpdateDownload!;
    workbench.handlers().appUpdateState!({ ...BASE, status: "已经是最新版", available: false });
    workbench.appUpdate.startDownload();
    expect(actions("downloadAppUpdate")).toHaveLength(0);
    answer({ success: true, message: "已在浏览器打开下载页面；下载后请退出旧版再覆盖安装。" });
    expect(workbench.appUpdate.download.value).toBeNull();

    workbench.handlers().appUpdateState!(FOUND);
    workbench.appUpdate.startDownload();
    expect(actions("downloadAppUpdate")).toHaveLength(1);
    answer("没有可下载的新版本");
    answer({ success: "yes", message: "无法打开下载地址" });
    expect(workbench.appUpdate.download.value).toEqual({ success: false, message: "无法打开下载地址" });
    answer({ success: true, message: "late" });
    expect(workbench.appUpdate.download.value?.message).toBe("无法打开下载地址");
  });
});

describe("companion applications", () => {
  it("reads 1 / 0 or booleans as installed, anything else as unknown", () => {
    expect(
      readCompanionApps({ photoshop: { installed: 1, name: "Photoshop", path: "/opt/photoshop/photoshop" }, pixcake: { installed: "1", name: "像素蛋糕" } }),
    ).toEqual({ photoshop: { installed: true, name: "Photoshop" }, pixcake: { installed: null, name: "像素蛋糕" } });
    expect(readCompanionApps({ photoshop: [] })).toEqual({ photoshop: null, pixcake: null });
    expect(readCompanionApps("Photoshop")).toBeNull();
  });

  it("opens by key and shows only the answers it asked for, in order", () => {
    const { workbench, actions } = makeWorkbench();
    const answer = workbench.handlers().workflowAppOpened!;
    answer({ success: true, name: "Photoshop", message: "" });
    expect(workbench.companionApps.opened.value).toBeNull();
    workbench.companionApps.open("pixcake");
    workbench.companionApps.open("photoshop");
    expect(actions("openWorkflowApp")).toEqual([
      { action: "openWorkflowApp", app: "pixcake" },
      { action: "openWorkflowApp", app: "photoshop" },
    ]);
    answer({ success: false, name: "像素蛋糕", message: "未检测到像素蛋糕，你仍可从导出文件夹手动继续" });
    expect(workbench.companionApps.opened.value).toEqual({ success: false, name: "像素蛋糕", message: "未检测到像素蛋糕，你仍可从导出文件夹手动继续" });
    answer({ success: 1, name: "Photoshop", message: "" });
    expect(workbench.companionApps.opened.value?.success).toBe(false);
    answer({ success: true, name: "Photoshop", message: "" });
    expect(workbench.companionApps.opened.value?.name).toBe("Photoshop");
  });
});

const SETUP = {
  busy: 0,
  dependencyReady: false,
  desktopInstalled: 1,
  instanceInstalled: 1,
  instanceName: "ComfyUI",
  instancePath: "/home/ann/ComfyUI",
  memoryGB: 23,
  missingBytes: 6793621505,
  modelRoot: "/home/ann/ComfyUI/ComfyUI/models",
  modelsReady: 0,
  modelsTotal: 4,
  nodeReady: true,
};

describe("local ComfyUI set-up", () => {
  it("reads the snapshot, and counts or flags of the wrong kind as unknown", () => {
    expect(readComfySetup(SETUP)).toEqual({ ...SETUP, busy: false, desktopInstalled: true, instanceInstalled: true });
    expect(
      readComfySetup({ ...SETUP, modelsReady: 5, missingBytes: -1, memoryGB: 1.5, nodeReady: "yes", busy: "1", instanceInstalled: 2 }),
    ).toMatchObject({ modelsReady: null, modelsTotal: 4, missingBytes: null, memoryGB: null, nodeReady: null, busy: false, instanceInstalled: null });
    expect(readComfySetup({})).toBeNull();
    expect(readComfySetup([SETUP])).toBeNull();
  });

  it("installs once until the program answers, and keeps a bounded running log of the installer's lines", () => {
    const { workbench, actions } = makeWorkbench();
    const h = workbench.handlers();
    h.comfySetupState!(SETUP);
    workbench.comfy.install();
    workbench.comfy.install();
    expect(actions("installComfyModels")).toHaveLength(1);
    h.comfySetupState!({ ...SETUP, busy: 1 });
    workbench.comfy.install();
    expect(actions("installComfyModels")).toHaveLength(1);
    for (const line of [{ event: "step", message: "下载模型" }, "step|下载模型", null, { event: 3 }, { event: "download", message: "vae/flux2-vae.safetensors" }]) {
      h.comfySetupProgress!(line);
    }
    expect(workbench.comfy.log.value).toEqual([
      { event: "step", message: "下载模型" },
      { event: "download", message: "vae/flux2-vae.safetensors" },
    ]);
    h.comfySetupState!({ ...SETUP, modelsReady: 4, missingBytes: 0 });
    workbench.comfy.install();
    expect(actions("installComfyModels")).toHaveLength(2);
    for (let i = 0; i < SETUP_LOG_MAX + 5; i++) h.comfySetupProgress!({ event: "ready", message: `#${i}` });
    expect(workbench.comfy.log.value).toHaveLength(SETUP_LOG_MAX);
    expect(workbench.comfy.log.value.at(-1)?.message).toBe(`#${SETUP_LOG_MAX + 4}`);
  });

  it("shows every probe's answer, the start's included, and is checking until the asked ones answered", () => {
    const { workbench, actions } = makeWorkbench();
    const answer = workbench.handlers().comfySetupConnection!;
    answer({ connected: false, message: "尚未连通。请在 Comfy Desktop 中启动本地实例，再点检查。" });
    expect(workbench.comfy.connection.value?.connected).toBe(false);
    workbench.comfy.checkConnection();
    workbench.comfy.checkConnection();
    expect(actions("checkComfyConnection")).toHaveLength(2);
    answer({ connected: "true", message: "本机 ComfyUI 已连通 · 127.0.0.1:8188" });
    expect(workbench.comfy.connection.value?.connected).toBeNull();
    expect(workbench.comfy.checking.value).toBe(true);
    answer({ connected: true, message: "本机 ComfyUI 已连通 · 127.0.0.1:8188" });
    expect(workbench.comfy.checking.value).toBe(false);
    expect(workbench.comfy.connection.value).toEqual({ connected: true, message: "本机 ComfyUI 已连通 · 127.0.0.1:8188" });
  });
});
