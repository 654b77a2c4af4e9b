import { describe, expect, it } from "vitest";
import { KEY_TABLE, handleKey } from "../../src/state/keyboard";
import { makeWorkbench, photo } from "./helpers";

function started() {
  const env = makeWorkbench();
  env.workbench.receiveState({ photos: [photo(1), photo(2), photo(3)] });
  return env;
}

describe("the key table and the loupe's small things", () => {
  it("lists every key it acts on with what it does, once, and opens and closes with ?", () => {
    const shown = KEY_TABLE.filter((binding) => binding.shown);
    expect(shown.every((binding) => binding.what)).toBe(true);
    expect(new Set(shown.map((binding) => `${binding.place} ${binding.shown}`)).size).toBe(shown.length);
    const { workbench } = started();
    expect(handleKey(workbench, { key: "?", shiftKey: true })).toBe(true);
    expect(workbench.dialog.value).toBe("keys");
    // Keys do not reach the photos under the overlay.
    expect(handleKey(workbench, { key: "x" })).toBe(false);
    expect(workbench.photos.value[0].status).toBeUndefined();
    handleKey(workbench, { key: "?", shiftKey: true });
    expect(workbench.dialog.value).toBeNull();
  });

  it("opens the loupe full screen with F and leaves full screen with it", () => {
    const { workbench } = started();
    handleKey(workbench, { key: "f" });
    expect(workbench.loupe.value).toMatchObject({ open: true, fullScreen: true });
    handleKey(workbench, { key: "F" });
    expect(workbench.loupe.value).toMatchObject({ open: true, fullScreen: false });
    handleKey(workbench, { key: "f" });
    handleKey(workbench, { key: "Escape" });
    expect(workbench.loupe.value).toMatchObject({ open: false, fullScreen: false });
  });

  it("keeps the photo after stars when asked to, and still advances after a decision", () => {
    const { workbench } = started();
    workbench.setView({ starsAdvance: false });
    handleKey(workbench, { key: "3" });
    expect(workbench.currentPhoto.value?.id).toBe("ID-1");
    handleKey(workbench, { key: "p" });
    expect(workbench.currentPhoto.value?.id).toBe("ID-2");
    expect((workbench.savedState().view as { starsAdvance: boolean }).starsAdvance).toBe(false);
  });

  it("marks the decision just made in the loupe, for the photo decided, each time anew", () => {
    const { workbench } = started();
    handleKey(workbench, { key: "x" });
    expect(workbench.decisionMark.value).toBeNull();
    handleKey(workbench, { key: " " });
    handleKey(workbench, { key: "x" });
    expect(workbench.decisionMark.value).toMatchObject({ id: "ID-2", decision: "淘汰" });
    const first = workbench.decisionMark.value!.count;
    handleKey(workbench, { key: "p" });
    expect(workbench.decisionMark.value).toMatchObject({ id: "ID-3", decision: "保留" });
    expect(workbench.decisionMark.value!.count).toBe(first + 1);
  });
});
