import { describe, expect, it } from "vitest";
import { readAIServiceState } from "../../src/state/aiService";
import { makeWorkbench } from "./helpers";

describe("AI service settings", () => {
  const SAVED = { configured: true, maskedKey: "sk-…9f3a", baseURL: "https://api.grsai.com", model: "nano-banana-2-lite", status: "已保存", detail: "API 密钥已保存在当前用户的本地配置中" };

  it("sends the typed key once, trimmed, and shows only what the program reports of it", () => {
    const { workbench, posted } = makeWorkbench();
    workbench.ai.save("  sk-secret-key-9f3a \n", " https://api.grsai.com ", "nano-banana-2-lite");
    expect(posted).toEqual([
      { action: "saveGRSAISettings", apiKey: "sk-secret-key-9f3a", baseURL: "https://api.grsai.com", model: "nano-banana-2-lite" },
    ]);
    workbench.handlers().grsAIState!(SAVED);
    expect(workbench.ai.state.value).toEqual(SAVED);
    expect(JSON.stringify(workbench.ai.state.value)).not.toContain("secret");
  });

  it("a connection check is asked once and ends with whatever report comes next", () => {
    const { workbench, actions } = makeWorkbench();
    workbench.ai.test();
    workbench.ai.test();
    expect(actions("testGRSAIConnection")).toHaveLength(1);
    expect(workbench.ai.checking.value).toBe(true);
    workbench.ai.report({ ...SAVED, configured: false, maskedKey: "未设置", status: "未配置", detail: "请先填写 GRS AI API 密钥" });
    expect(workbench.ai.checking.value).toBe(false);
    expect(workbench.ai.state.value).toMatchObject({ configured: false, status: "未配置" });
  });

  it("reads fields of the wrong type as unknown and keeps the last good report for no report at all", () => {
    expect(readAIServiceState({ configured: "yes", maskedKey: 5, baseURL: ["x"], status: null })).toEqual({
      configured: null,
      maskedKey: null,
      baseURL: "",
      model: "",
      status: null,
      detail: "",
    });
    const { workbench } = makeWorkbench();
    workbench.ai.report(SAVED);
    workbench.ai.report(null);
    workbench.ai.report({});
    workbench.ai.report([SAVED]);
    expect(workbench.ai.state.value).toEqual(SAVED);
  });
});
