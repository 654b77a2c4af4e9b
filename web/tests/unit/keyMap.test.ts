import { describe, expect, it } from "vitest";
import { KEY_TABLE } from "../../src/state/keyboard";
import { press, started } from "./helpers";

describe("the key table and the loupe's small things", () => {
  it("lists every key it acts on with what it does, once, and opens and closes with ?", () => {
    const shown = KEY_TABLE.filter((binding) => binding.shown);
    expect(shown.every((binding) => binding.what)).toBe(true);
    expect(new Set(shown.map((binding) => `${binding.place} ${binding.shown}`)).size).toBe(shown.length);
    const { workbench } = started();
    // Keys do not reach the photos under the overlay.
    expect(press(workbench, "?", "x")).toEqual([true, false]);
    expect([workbench.dialog.value, workbench.photos.value[0].status]).toEqual(["keys", undefined]);
    press(workbench, "?");
    expect(workbench.dialog.value).toBeNull();
  });

  it("opens the loupe full screen with F and leaves full screen with it", () => {
    const { workbench } = started();
    const loupe = () => [workbench.loupe.value.open, workbench.loupe.value.fullScreen];
    const seen = [["f"], ["F"], ["f", "Escape"]].map((keys) => (press(workbench, ...keys), loupe()));
    expect(seen).toEqual([[true, true], [true, false], [false, false]]);
  });

  it("keeps the photo after stars when asked to, and still advances after a decision", () => {
    const { workbench } = started();
    workbench.setView({ starsAdvance: false });
    const current = [["3"], ["p"]].map((keys) => (press(workbench, ...keys), workbench.currentPhoto.value?.id));
    expect(current).toEqual(["ID-1", "ID-2"]);
    expect((workbench.savedState().view as { starsAdvance: boolean }).starsAdvance).toBe(false);
  });

  it("marks the decision just made in the loupe, for the photo decided, each time anew", () => {
    const { workbench } = started();
    press(workbench, "x");
    expect(workbench.decisionMark.value).toBeNull();
    press(workbench, " ", "x");
    const first = workbench.decisionMark.value!;
    press(workbench, "p");
    expect([first, workbench.decisionMark.value]).toMatchObject([{ id: "ID-2", decision: "淘汰" }, { id: "ID-3", decision: "保留", count: first.count + 1 }]);
  });
});
