import { afterEach, beforeEach, describe, expect, it, vi } from "vitest";
import { NATIVE_CALLBACK_NAMES } from "../../src/bridge/callbackNames";
import { installNative } from "../../src/bridge/native";
import { makeWorkbench } from "./helpers";

describe("window.Native", () => {
  beforeEach(() => {
    (globalThis as any).window = {};
  });
  afterEach(() => {
    delete (globalThis as any).window;
    vi.restoreAllMocks();
  });

  it("defines all 52 callbacks, each accepting payloads of any shape without throwing", () => {
    const errors = vi.spyOn(console, "error").mockImplementation(() => {});
    const native = installNative(makeWorkbench().workbench.handlers());
    expect(new Set(NATIVE_CALLBACK_NAMES).size).toBe(52);
    expect(Object.keys(native).sort()).toEqual([...NATIVE_CALLBACK_NAMES].sort());
    expect((globalThis as any).window.Native).toBe(native);
    for (const name of NATIVE_CALLBACK_NAMES) {
      for (const payload of [null, undefined, "unexpected", [], 7]) expect(() => native[name](payload)).not.toThrow();
    }
    expect(errors).not.toHaveBeenCalled();
  });

  it("keeps a failing handler from breaking the callback", () => {
    const errors = vi.spyOn(console, "error").mockImplementation(() => {});
    const native = installNative({
      status: () => {
        throw new Error("boom");
      },
    });
    expect(() => native.status("x")).not.toThrow();
    expect(errors).toHaveBeenCalledOnce();
  });
});
