import { afterEach, expect, it, vi } from "vitest";
import { NATIVE_CALLBACK_NAMES } from "../../src/bridge/callbackNames";
import { installNative } from "../../src/bridge/native";
import { makeWorkbench } from "./helpers";

afterEach(() => {
  delete (globalThis as any).window;
  vi.restoreAllMocks();
});

it("window.Native defines all 52 callbacks, each taking payloads of any shape, and a failing handler breaks none of them", () => {
  (globalThis as any).window = {};
  const errors = vi.spyOn(console, "error").mockImplementation(() => {});
  const native = installNative(makeWorkbench().workbench.handlers());
  expect(new Set(NATIVE_CALLBACK_NAMES).size).toBe(52);
  expect(Object.keys(native).sort()).toEqual([...NATIVE_CALLBACK_NAMES].sort());
  expect((globalThis as any).window.Native).toBe(native);
  for (const name of NATIVE_CALLBACK_NAMES) {
    for (const payload of [null, undefined, "unexpected", [], 7]) expect(() => native[name](payload)).not.toThrow();
  }
  expect(errors).not.toHaveBeenCalled();
  const failing = installNative({ status: () => void JSON.parse("{") });
  expect(() => failing.status("x")).not.toThrow();
  expect(errors).toHaveBeenCalledOnce();
});
