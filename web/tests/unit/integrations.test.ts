import { expect, it } from "vitest";
import { readAppUpdateState } from "../../src/state/appUpdate";
import { readComfySetup, SETUP_LOG_MAX } from "../../src/state/comfySetup";
import { readCompanionApps } from "../../src/state/companionApps";
import { makeWorkbench } from "./helpers";

const BASE = { currentVersion: "0.7.1", currentBuild: "1", manifestURL: "https://example.com/update.json", automatic: true };
const FOUND = { ...BASE, status: "发现新版本", available: true, latestVersion: "0.8.0", latestBuild: "12", downloadURL: "https://example.com/tidewick-0.8.0.tar.gz", releaseNotes: "更快的导入", publishedAt: "2026-12-01", sha256: "" };

it("saves settings only once the state is known, offers a download only for a newer version with an HTTPS page, takes only the download answer it awaits, and checks once at a time", () => {
  const { workbench, posted } = makeWorkbench();
  const h = workbench.handlers();
  workbench.appUpdate.setAutomatic(false);
  expect(posted).toEqual([]);
  h.appUpdateState!({ ...BASE, status: "尚未检查" });
  workbench.appUpdate.saveAddress("  file:///tmp/update.json ");
  expect(posted).toEqual([{ action: "saveUpdateSettings", manifestURL: "file:///tmp/update.json", automatic: true }]);
  h.appUpdateDownload!({ success: true, message: "已在浏览器打开下载页面" });
  expect(workbench.appUpdate.download.value).toBeNull();
  for (const report of [FOUND, null, "发现新版本", [FOUND], { ...FOUND, status: 3 }]) h.appUpdateState!(report);
  expect(workbench.appUpdate.state.value?.found).toEqual({ version: "0.8.0", build: "12", releaseNotes: "更快的导入", publishedAt: "2026-12-01", sha256: "" });
  for (const odd of [{ downloadURL: "javascript:alert(1)" }, { available: "true" }, { latestVersion: 8 }]) expect(readAppUpdateState({ ...FOUND, ...odd })?.found).toBeNull();
  expect(readAppUpdateState({ status: "检查失败", automatic: "yes", checking: 1 })).toMatchObject({ automatic: null, checking: false, manifestURL: "" });
  expect(readAppUpdateState({ ...FOUND, releaseNotes: "x".repeat(10_000) })!.found!.releaseNotes.length).toBe(4000);
  workbench.appUpdate.startDownload();
  for (const answer of ["没有可下载的新版本", { success: "yes", message: "无法打开下载地址" }, { success: true, message: "late" }]) h.appUpdateDownload!(answer);
  expect(workbench.appUpdate.download.value).toEqual({ success: false, message: "无法打开下载地址" });
  h.appUpdateState!({ ...BASE, status: "正在检查…", checking: true });
  workbench.appUpdate.check("");
  expect(posted.filter((body) => body.action === "checkForAppUpdate")).toHaveLength(0);
});

const SETUP = { busy: 0, dependencyReady: false, desktopInstalled: 1, instanceInstalled: 1, instanceName: "ComfyUI", instancePath: "/home/ann/ComfyUI", memoryGB: 23, missingBytes: 6793621505, modelRoot: "/home/ann/ComfyUI/ComfyUI/models", modelsReady: 0, modelsTotal: 4, nodeReady: true };

it("reads 1 / 0 or booleans as installed and counts or flags of the wrong kind as unknown, shows only the answers asked for, installs once until the program answers, keeps a bounded log, and checks until the probes answered", () => {
  expect(readComfySetup(SETUP)).toEqual({ ...SETUP, busy: false, desktopInstalled: true, instanceInstalled: true });
  expect(readComfySetup({ ...SETUP, modelsReady: 5, missingBytes: -1, memoryGB: 1.5, nodeReady: "yes", busy: "1", instanceInstalled: 2 })).toMatchObject({ modelsReady: null, modelsTotal: 4, missingBytes: null, memoryGB: null, nodeReady: null, busy: false, instanceInstalled: null });
  expect(readComfySetup({})).toBeNull();
  const { workbench, actions } = makeWorkbench();
  const apps = readCompanionApps({ photoshop: { installed: 1, name: "Photoshop", path: "/opt/photoshop/photoshop" }, pixcake: { installed: "1", name: "像素蛋糕" } });
  expect(apps).toEqual({ photoshop: { installed: true, name: "Photoshop" }, pixcake: { installed: null, name: "像素蛋糕" } });
  expect(readCompanionApps({ photoshop: [] })).toEqual({ photoshop: null, pixcake: null });
  const answer = workbench.handlers().workflowAppOpened!;
  answer({ success: true, name: "Photoshop", message: "" });
  expect(workbench.companionApps.opened.value).toBeNull();
  workbench.companionApps.open("pixcake");
  answer({ success: 1, name: "像素蛋糕", message: "未检测到像素蛋糕，你仍可从导出文件夹手动继续" });
  answer({ success: true, name: "Photoshop", message: "" });
  expect(workbench.companionApps.opened.value).toEqual({ success: false, name: "像素蛋糕", message: "未检测到像素蛋糕，你仍可从导出文件夹手动继续" });
  const h = workbench.handlers();
  h.comfySetupState!(SETUP);
  workbench.comfy.install();
  workbench.comfy.install();
  h.comfySetupState!({ ...SETUP, busy: 1 });
  workbench.comfy.install();
  expect(actions("installComfyModels")).toHaveLength(1);
  for (const line of [{ event: "step", message: "下载模型" }, "step|下载模型", null, { event: 3 }]) h.comfySetupProgress!(line);
  expect(workbench.comfy.log.value).toEqual([{ event: "step", message: "下载模型" }]);
  for (let i = 0; i < SETUP_LOG_MAX + 5; i++) h.comfySetupProgress!({ event: "ready", message: `#${i}` });
  expect([workbench.comfy.log.value.length, workbench.comfy.log.value.at(-1)?.message]).toEqual([SETUP_LOG_MAX, `#${SETUP_LOG_MAX + 4}`]);
  // The start's probe is shown too; a check lasts until each asked probe answered.
  h.comfySetupConnection!({ connected: false, message: "尚未连通。" });
  workbench.comfy.checkConnection();
  workbench.comfy.checkConnection();
  h.comfySetupConnection!({ connected: "true", message: "本机 ComfyUI 已连通 · 127.0.0.1:8188" });
  expect([workbench.comfy.connection.value?.connected, workbench.comfy.checking.value]).toEqual([null, true]);
  h.comfySetupConnection!({ connected: true, message: "本机 ComfyUI 已连通 · 127.0.0.1:8188" });
  expect(workbench.comfy.checking.value).toBe(false);
});
