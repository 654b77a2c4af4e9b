import { describe, expect, it } from "vitest";
import { readAppUpdateState } from "../../src/state/appUpdate";
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
