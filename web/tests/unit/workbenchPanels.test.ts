import { describe, expect, it } from "vitest";
import { connectedPlugins, readBridgeStatus } from "../../src/state/pluginBridge";
import { readHealthReport } from "../../src/state/health";
import { makeWorkbench, photo } from "./helpers";

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

describe("project archives", () => {
  it("saves the project as stored, tagged as an archive, and reports the outcome once", () => {
    const { workbench, actions } = makeWorkbench();
    workbench.saveArchive();
    expect(actions("exportProjectArchive")).toHaveLength(0);
    workbench.receiveState({ photos: [photo(1, { status: "保留" })], projectName: "婚礼" });
    workbench.saveArchive();
    workbench.saveArchive();
    const [request] = actions("exportProjectArchive");
    expect(actions("exportProjectArchive")).toHaveLength(1);
    expect(request.archive).toEqual({ format: "tidewick-project", version: 1, state: workbench.savedState() });
    workbench.projectArchiveSaved({ error: "项目档案超过 20 MB，请缩小项目" });
    expect(workbench.status.value).toBe("项目档案超过 20 MB，请缩小项目");
    expect(workbench.archiveSaving.value).toBe(false);
    // An answer nobody waits for says nothing.
    workbench.projectArchiveSaved({ ok: true });
    expect(workbench.status.value).toBe("项目档案超过 20 MB，请缩小项目");
    workbench.saveArchive();
    workbench.projectArchiveSaved({ cancelled: true });
    expect(workbench.status.value).toBe("项目档案超过 20 MB，请缩小项目");
    workbench.saveArchive();
    workbench.projectArchiveSaved({ ok: true });
    expect(workbench.status.value).toBe("项目档案已保存（不含原片）");
  });

  it("opens through the program and keeps the project when the archive's state is no object", () => {
    const { workbench, posted } = makeWorkbench();
    workbench.receiveState({ photos: [photo(1)] });
    workbench.openArchive();
    expect(posted).toEqual([{ action: "openProjectArchive" }]);
    workbench.projectArchiveLoaded({ archive: { format: "tidewick-project", state: [photo(2)] } });
    workbench.projectArchiveLoaded({ archive: { format: "tidewick-project", state: "x" } });
    expect(workbench.photos.value.map((p) => p.id)).toEqual(["ID-1"]);
    workbench.projectArchiveLoaded({ archive: { format: "tidewick-project", version: 1, state: { photos: [photo(2), photo(3)] } } });
    expect(workbench.photos.value.map((p) => p.id)).toEqual(["ID-2", "ID-3"]);
    expect(workbench.status.value).toContain("共 2 张照片");
  });
});

describe("health report", () => {
  const ROWS = [
    { name: "Photoshop 连接", ok: false, message: "未连接；不影响 App 独立筛片和本地风格处理" },
    { name: "生成保存位置", ok: true, message: "保存位置可写（路径不写入报告）" },
    { name: "本地处理", ok: true, message: "本地处理已载入" },
    { name: "本地生图模型（可选）", ok: 0, message: "模型文件 0 / 4；GGUF 节点未配置；依赖未配置。这不代表已经完成真实推理。" },
    { name: "云端接口", ok: true, message: "连接正常" },
  ];

  it("asks for a check, lists the rows in order, and saves only once a report exists", () => {
    const { workbench, posted } = makeWorkbench();
    workbench.exportHealthReport();
    expect(posted).toEqual([]);
    workbench.checkHealth();
    expect(workbench.health.value.checking).toBe(true);
    workbench.workbenchHealth({ version: "1.4.0", build: "57", rows: ROWS });
    expect(workbench.health.value.checking).toBe(false);
    expect(workbench.health.value.report?.rows.map((row) => [row.name, row.ok])).toEqual([
      ["Photoshop 连接", false],
      ["生成保存位置", true],
      ["本地处理", true],
      ["本地生图模型（可选）", false],
      ["云端接口", true],
    ]);
    workbench.exportHealthReport();
    expect(posted).toEqual([{ action: "workbenchHealth" }, { action: "exportHealthReport" }]);
  });

  it("reads broken rows as unknown and keeps the last report when the payload is no report", () => {
    const { workbench } = makeWorkbench();
    workbench.workbenchHealth({ rows: ROWS });
    workbench.workbenchHealth({ rows: "none" });
    workbench.workbenchHealth(null);
    expect(workbench.health.value.report?.rows).toHaveLength(5);
    expect(readHealthReport({ version: 2, rows: [null, { name: 7, ok: "yes", message: "m" }, { ok: 1 }] })).toEqual({
      version: "",
      build: "",
      rows: [
        { name: "", ok: null, message: "m" },
        { name: "", ok: true, message: "" },
      ],
    });
  });
});
