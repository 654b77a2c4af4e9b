import type { Workbench } from "./store";

export interface KeyInput {
  key: string;
  ctrlKey?: boolean;
  metaKey?: boolean;
  altKey?: boolean;
  shiftKey?: boolean;
}

// The single-key culling keys. Returns true when the key was used (the caller then stops
// the browser's default, e.g. Space scrolling the grid).
export function handleKey(workbench: Workbench, input: KeyInput): boolean {
  const command = input.ctrlKey || input.metaKey;
  const key = input.key;
  if (workbench.dialog.value) {
    if (key === "Escape") {
      workbench.dialog.value = null;
      return true;
    }
    return false;
  }
  if (command) {
    if (key === "z" || key === "Z") {
      if (input.shiftKey) return false;
      workbench.undo();
      return true;
    }
    if (key === "a" || key === "A") {
      workbench.selectAllVisible();
      return true;
    }
    return false;
  }
  const compare = !!workbench.compare.value;
  const loupe = workbench.loupe.value.open || compare;
  if (compare) {
    // Side by side the arrows and Tab move the focus among the compared photos.
    const step = { Tab: input.shiftKey ? -1 : 1, ArrowLeft: -1, ArrowRight: 1, ArrowUp: -1, ArrowDown: 1 }[key];
    if (step !== undefined && !input.altKey) {
      workbench.stepCompareFocus(step);
      return true;
    }
    if (key === "Escape" || key === "v" || key === "V") {
      workbench.closeCompare();
      return true;
    }
    if (key === " " || key === "Enter" || key === "Home" || key === "End") return false;
  }
  if (input.altKey) {
    // At 100 % and 200 % Alt with an arrow moves the view a quarter of its size.
    const pan = { ArrowLeft: [-0.25, 0], ArrowRight: [0.25, 0], ArrowUp: [0, -0.25], ArrowDown: [0, 0.25] }[key];
    if (!loupe || !pan || workbench.loupe.value.zoom === "fit") return false;
    workbench.panLoupe(pan[0], pan[1]);
    return true;
  }
  switch (key) {
    case "p":
    case "P":
      workbench.decide("保留");
      return true;
    case "x":
    case "X":
      workbench.decide("淘汰");
      return true;
    case "u":
    case "U":
      workbench.decide("待定");
      return true;
    case "e":
    case "E":
      workbench.openEdit();
      return true;
    case "v":
    case "V":
      workbench.openCompare();
      return true;
    case "c":
    case "C":
      workbench.acceptCloud(input.shiftKey ? "filtered" : "selected");
      return true;
    case "0":
    case "1":
    case "2":
    case "3":
    case "4":
    case "5":
      workbench.rate(Number(key));
      return true;
    case "ArrowLeft":
      workbench.move(-1, input.shiftKey);
      return true;
    case "ArrowRight":
      workbench.move(1, input.shiftKey);
      return true;
    case "ArrowUp":
      workbench.move(loupe ? -1 : -workbench.gridColumns.value, input.shiftKey);
      return true;
    case "ArrowDown":
      workbench.move(loupe ? 1 : workbench.gridColumns.value, input.shiftKey);
      return true;
    case "Home":
      workbench.move(-Infinity);
      return true;
    case "End":
      workbench.move(Infinity);
      return true;
    case " ":
    case "Enter":
      if (key === "Enter" && loupe) return false;
      workbench.toggleLoupe();
      return true;
    case "Escape":
      if (!loupe) return false;
      workbench.closeLoupe();
      return true;
    case "z":
    case "Z":
      if (!loupe) return false;
      // Z: fit ↔ 100 %; Shift+Z: 200 %.
      if (input.shiftKey) workbench.setZoom(workbench.loupe.value.zoom === "double" ? "fit" : "double");
      else workbench.setZoom(workbench.loupe.value.zoom === "fit" ? "actual" : "fit");
      return true;
    default:
      return false;
  }
}
