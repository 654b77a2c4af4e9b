import { describe, expect, it } from "vitest";
import { T } from "../../src/texts";
import { photo, press, started } from "./helpers";

describe("single-key decisions and ratings", () => {
  it("P, X, U and digits decide or rate and move on; the last photo stays current", () => {
    const { workbench } = started(5);
    press(workbench, "p", "X", "u", "5", "0");
    expect(workbench.photos.value.map((p) => p.status ?? p.rating)).toEqual(["保留", "淘汰", "待定", 5, 0]);
    expect(workbench.selection.value.currentId).toBe("ID-5");
    // Without auto-advance the current photo stays.
    workbench.select("ID-1");
    workbench.setView({ autoAdvance: false });
    press(workbench, "x");
    expect(workbench.selection.value.currentId).toBe("ID-1");
  });

  it("Ctrl+Z undoes decisions and ratings one step at a time, back to undecided; a repeated decision is no step", () => {
    const { workbench } = started([photo(1, { rating: 2 }), photo(2)]);
    press(workbench, "x");
    workbench.select("ID-1");
    press(workbench, "4");
    workbench.select("ID-1");
    workbench.setView({ autoAdvance: false });
    press(workbench, "x", "Control+z");
    expect(workbench.photos.value[0]).toMatchObject({ status: "淘汰", rating: 2 });
    expect(workbench.selection.value.currentId).toBe("ID-1");
    press(workbench, "Meta+z");
    expect("status" in workbench.photos.value[0]).toBe(false);
    press(workbench, "Control+z");
    expect(workbench.status.value).toBe("没有可撤销的操作");
  });

  it("undo names what it undoes, and stops at a trash rather than undo an older step", () => {
    const { workbench } = started(3);
    press(workbench, "x");
    workbench.selectAllVisible();
    press(workbench, "4", "Control+z");
    expect(workbench.status.value).toBe("已撤销：给 3 张照片评 4 星");
    workbench.trashRejects();
    press(workbench, "Control+z", "Control+z");
    expect(workbench.status.value).toBe(T.undoTrash);
    expect(workbench.photos.value[0].status).toBe("淘汰");
  });

  it("with several photos selected a key decides all of them, as one step, and does not advance", () => {
    const { workbench } = started(5);
    workbench.select("ID-2");
    workbench.select("ID-4", "range");
    press(workbench, "x");
    expect(workbench.photos.value.map((p) => p.status ?? "-")).toEqual(["-", "淘汰", "淘汰", "淘汰", "-"]);
    expect(workbench.selection.value.currentId).toBe("ID-4");
    press(workbench, "Control+z");
    expect(workbench.counts.value.淘汰).toBe(0);
  });

  it("arrows move by one cell and by one row; Shift extends the selection from its anchor", () => {
    const { workbench } = started(10);
    workbench.gridColumns.value = 4;
    const currents = [["ArrowDown"], ["ArrowRight", "ArrowDown"], ["ArrowDown"], ["Home"]].map((keys) => (press(workbench, ...keys), workbench.selection.value.currentId));
    expect(currents).toEqual(["ID-5", "ID-10", "ID-10", "ID-1"]);
    workbench.gridColumns.value = 3;
    press(workbench, "Shift+ArrowRight", "Shift+ArrowDown");
    expect([...workbench.selection.value.ids].sort()).toEqual(["ID-1", "ID-2", "ID-3", "ID-4", "ID-5"]);
    press(workbench, "ArrowLeft");
    expect([...workbench.selection.value.ids]).toEqual(["ID-4"]);
  });

  it("keys are not taken while a dialog is open, except Escape closing it", () => {
    const { workbench } = started(2);
    workbench.dialog.value = "settings";
    expect(press(workbench, "x", "Escape")).toEqual([false, true]);
    expect([workbench.counts.value.淘汰, workbench.dialog.value]).toEqual([0, null]);
  });
});

describe("the current photo follows the filter", () => {
  it("under a decision filter, auto-advance goes to the neighbour the user saw", () => {
    const { workbench } = started(4);
    workbench.setFilter({ decision: "未决定" });
    press(workbench, "p");
    expect(workbench.items.value.map((i) => i.photo.id)).toEqual(["ID-2", "ID-3", "ID-4"]);
    expect(workbench.selection.value.currentId).toBe("ID-2");
  });

  it("a key never acts on a hidden photo: the nearest shown one takes the place of the selection", () => {
    const { workbench } = started([photo(1, { status: "保留" }), photo(2), photo(3), photo(4, { status: "保留" })]);
    workbench.select("ID-1");
    workbench.select("ID-3", "range");
    workbench.setFilter({ decision: "保留" });
    press(workbench, "x");
    expect(workbench.photos.value.map((p) => p.status ?? "-")).toEqual(["保留", "-", "-", "淘汰"]);
  });

  it("with nothing shown no key decides; the photo is current again when shown, a collapsed frame hands over to its burst", () => {
    const { workbench } = started([photo(1, { group: "B1", best: true }), photo(2, { group: "B1" }), photo(3)]);
    workbench.select("ID-2");
    workbench.setFilter({ decision: "淘汰" });
    press(workbench, "x");
    expect(workbench.undoStack.value).toHaveLength(0);
    workbench.setFilter({ decision: "all" });
    workbench.setView({ collapseBursts: true });
    expect(workbench.selection.value.currentId).toBe("ID-1");
  });
});
