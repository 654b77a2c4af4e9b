import { expect, it } from "vitest";
import { KEY_TABLE } from "../../src/state/keyboard";
import { T } from "../../src/texts";
import { photo, press, started } from "./helpers";

it("keys decide or rate and move on, undo one named step at a time back to undecided, and stop undoing at a trash", () => {
  const { workbench } = started([photo(1, { rating: 2 }), photo(2), photo(3), photo(4), photo(5)]);
  const work = () => workbench.photos.value.map((p) => [p.status ?? "-", p.rating ?? "-"]);
  press(workbench, "p", "X", "u", "5", "0");
  expect([work(), workbench.selection.value.currentId]).toEqual([[["保留", 2], ["淘汰", "-"], ["待定", "-"], ["-", 5], ["-", 0]], "ID-5"]);
  // Without auto-advance the photo stays; a repeated decision is no step.
  workbench.select("ID-1");
  workbench.setView({ autoAdvance: false });
  press(workbench, "x", "x", "Control+z");
  expect([workbench.photos.value[0].status, workbench.selection.value.currentId]).toEqual(["保留", "ID-1"]);
  // Several selected: one step for all of them, and no advance.
  workbench.select("ID-2");
  workbench.select("ID-4", "range");
  press(workbench, "4");
  expect(workbench.selection.value.currentId).toBe("ID-4");
  press(workbench, "Meta+z");
  expect(workbench.status.value).toBe("已撤销：给 3 张照片评 4 星");
  press(workbench, ...Array(6).fill("Control+z"));
  expect([work(), "status" in workbench.photos.value[0], workbench.status.value]).toEqual([[["-", 2], ["-", "-"], ["-", "-"], ["-", "-"], ["-", "-"]], false, "没有可撤销的操作"]);
  workbench.select("ID-2");
  press(workbench, "x");
  workbench.trashRejects();
  press(workbench, "Control+z");
  expect([workbench.status.value, workbench.photos.value[1].status]).toEqual([T.undoTrash, "淘汰"]);
});

it("arrows move by cell and row, Shift extends; every key is listed once, held back by ? and dialogs but Escape; F fills the screen; stars may keep the photo; decisions are marked", () => {
  const { workbench } = started(10);
  workbench.gridColumns.value = 4;
  const currents = [["ArrowDown"], ["ArrowRight", "ArrowDown"], ["ArrowDown"], ["Home"]].map((keys) => (press(workbench, ...keys), workbench.selection.value.currentId));
  expect(currents).toEqual(["ID-5", "ID-10", "ID-10", "ID-1"]);
  workbench.gridColumns.value = 3;
  press(workbench, "Shift+ArrowRight", "Shift+ArrowDown");
  expect([...workbench.selection.value.ids].sort()).toEqual(["ID-1", "ID-2", "ID-3", "ID-4", "ID-5"]);
  press(workbench, "ArrowLeft");
  expect([...workbench.selection.value.ids]).toEqual(["ID-4"]);
  const shown = KEY_TABLE.filter((binding) => binding.shown);
  expect([shown.every((binding) => binding.what), new Set(shown.map((binding) => `${binding.place} ${binding.shown}`)).size]).toEqual([true, shown.length]);
  workbench.select("ID-1");
  expect(press(workbench, "?", "x", "?")).toEqual([true, false, true]);
  workbench.dialog.value = "settings";
  expect([press(workbench, "x", "Escape"), workbench.counts.value.淘汰, workbench.dialog.value]).toEqual([[false, true], 0, null]);
  const loupe = () => [workbench.loupe.value.open, workbench.loupe.value.fullScreen];
  expect([["f"], ["F"], ["f", "Escape"]].map((keys) => (press(workbench, ...keys), loupe()))).toEqual([[true, true], [true, false], [false, false]]);
  workbench.setView({ starsAdvance: false });
  press(workbench, "3", "x");
  expect([workbench.decisionMark.value, workbench.currentPhoto.value?.id, (workbench.savedState().view as { starsAdvance: boolean }).starsAdvance]).toEqual([null, "ID-2", false]);
  press(workbench, " ", "x");
  const first = workbench.decisionMark.value!;
  press(workbench, "p");
  expect([first, workbench.decisionMark.value]).toMatchObject([{ id: "ID-2", decision: "淘汰" }, { id: "ID-3", decision: "保留", count: first.count + 1 }]);
});

it("the current photo follows the filter: auto-advance goes to the neighbour shown, a key never acts on a hidden photo, and with nothing shown none decides", () => {
  const { workbench } = started([photo(1, { status: "保留" }), photo(2), photo(3), photo(4, { status: "保留" }), photo(5, { group: "B1", best: true }), photo(6, { group: "B1" })]);
  const statuses = () => workbench.photos.value.map((p) => p.status ?? "-");
  workbench.setFilter({ decision: "未决定" });
  press(workbench, "p");
  expect([workbench.items.value.map((i) => i.photo.id), workbench.selection.value.currentId]).toEqual([["ID-3", "ID-5", "ID-6"], "ID-3"]);
  // The nearest shown photo takes the place of a selection that is hidden.
  press(workbench, "Control+z");
  workbench.setFilter({ decision: "all" });
  workbench.select("ID-1");
  workbench.select("ID-3", "range");
  workbench.setFilter({ decision: "保留" });
  press(workbench, "x");
  expect(statuses()).toEqual(["保留", "-", "-", "淘汰", "-", "-"]);
  press(workbench, "Control+z");
  workbench.setFilter({ decision: "all" });
  workbench.select("ID-6");
  workbench.setFilter({ decision: "淘汰" });
  press(workbench, "x");
  expect(statuses()).toEqual(["保留", "-", "-", "保留", "-", "-"]);
  // The photo is current again when shown; a collapsed frame hands over to its burst.
  workbench.setFilter({ decision: "all" });
  workbench.setView({ collapseBursts: true });
  expect(workbench.selection.value.currentId).toBe("ID-5");
});
