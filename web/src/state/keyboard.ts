import { T } from "../texts";
import type { Workbench } from "./store";

export interface KeyInput {
  key: string;
  ctrlKey?: boolean;
  metaKey?: boolean;
  altKey?: boolean;
  shiftKey?: boolean;
}

export type KeyPlace = "everywhere" | "grid" | "loupe" | "compare";

// One row of the key table. The "?" overlay lists the rows that have a `shown`; the others only
// keep a key from acting where it must not.
export interface KeyBinding {
  keys: readonly string[];
  modifier?: "command" | "alt";
  shown?: string;
  what?: string;
  place: KeyPlace;
  // False when the key does not apply in the current state; the next row is tried.
  run: (workbench: Workbench, input: KeyInput) => boolean;
}

const ARROWS = ["ArrowLeft", "ArrowRight", "ArrowUp", "ArrowDown"] as const;
const PAN: Record<string, [number, number]> = { ArrowLeft: [-0.25, 0], ArrowRight: [0.25, 0], ArrowUp: [0, -0.25], ArrowDown: [0, 0.25] };
const FOCUS_STEP: Record<string, number> = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -1, ArrowDown: 1 };

const comparing = (workbench: Workbench) => !!workbench.compare.value;
const viewing = (workbench: Workbench) => workbench.loupe.value.open || comparing(workbench);
const both = (lower: string) => [lower, lower.toUpperCase()];

function decide(decision: "保留" | "淘汰" | "待定") {
  return (workbench: Workbench) => {
    workbench.decide(decision);
    return true;
  };
}

// The one key table: handleKey acts by it and the key map shows it.
export const KEY_TABLE: readonly KeyBinding[] = [
  { keys: both("z"), modifier: "command", shown: "Ctrl+Z", what: T.keyMap.undo, place: "everywhere",
    run: (w, input) => !input.shiftKey && (w.undo(), true) },
  { keys: both("a"), modifier: "command", shown: "Ctrl+A", what: T.keyMap.selectAll, place: "grid",
    run: (w) => (w.selectAllVisible(), true) },
  { keys: ["Tab", ...ARROWS], shown: "Tab / ← →", what: T.keyMap.compareFocus, place: "compare",
    run: (w, input) => comparing(w) && (w.stepCompareFocus(input.key === "Tab" ? (input.shiftKey ? -1 : 1) : FOCUS_STEP[input.key]), true) },
  { keys: ["Escape", ...both("v")], shown: "Esc / V", what: T.keyMap.compareLeave, place: "compare",
    run: (w) => comparing(w) && (w.closeCompare(), true) },
  // Side by side there is no grid to move in and no loupe to open.
  { keys: [" ", "Enter", "Home", "End"], place: "compare", run: (w) => comparing(w) },
  { keys: [...ARROWS], modifier: "alt", shown: "Alt+← ↑ → ↓", what: T.keyMap.pan, place: "loupe",
    run: (w, input) => viewing(w) && w.loupe.value.zoom !== "fit" && (w.panLoupe(...PAN[input.key]), true) },
  { keys: both("p"), shown: "P", what: T.keyMap.keep, place: "everywhere", run: decide("保留") },
  { keys: both("x"), shown: "X", what: T.keyMap.reject, place: "everywhere", run: decide("淘汰") },
  { keys: both("u"), shown: "U", what: T.keyMap.pending, place: "everywhere", run: decide("待定") },
  { keys: ["0", "1", "2", "3", "4", "5"], shown: "0–5", what: T.keyMap.stars, place: "everywhere",
    run: (w, input) => (w.rate(Number(input.key)), true) },
  { keys: both("c"), shown: "C / Shift+C", what: T.keyMap.cloud, place: "everywhere",
    run: (w, input) => (w.acceptCloud(input.shiftKey ? "filtered" : "selected"), true) },
  { keys: both("e"), shown: "E", what: T.keyMap.edit, place: "everywhere", run: (w) => (w.openEdit(), true) },
  { keys: both("v"), shown: "V", what: T.keyMap.compare, place: "grid", run: (w) => (w.openCompare(), true) },
  { keys: ["ArrowLeft", "ArrowRight"], shown: "← →", what: T.keyMap.step, place: "everywhere",
    run: (w, input) => (w.move(input.key === "ArrowLeft" ? -1 : 1, input.shiftKey), true) },
  { keys: ["ArrowUp", "ArrowDown"], shown: "↑ ↓", what: T.keyMap.rows, place: "grid",
    run: (w, input) => {
      const step = w.loupe.value.open ? 1 : w.gridColumns.value;
      w.move(input.key === "ArrowUp" ? -step : step, input.shiftKey);
      return true;
    } },
  { keys: ["Home", "End"], shown: "Home / End", what: T.keyMap.ends, place: "everywhere",
    run: (w, input) => (w.move(input.key === "Home" ? -Infinity : Infinity), true) },
  { keys: [" ", "Enter"], shown: T.keyMap.spaceKey, what: T.keyMap.loupe, place: "everywhere",
    run: (w, input) => !(input.key === "Enter" && w.loupe.value.open) && (w.toggleLoupe(), true) },
  { keys: ["Escape"], shown: "Esc", what: T.keyMap.closeLoupe, place: "loupe",
    run: (w) => w.loupe.value.open && (w.closeLoupe(), true) },
  { keys: both("z"), shown: "Z / Shift+Z", what: T.keyMap.zoom, place: "loupe",
    run: (w, input) => {
      if (!viewing(w)) return false;
      const zoom = w.loupe.value.zoom;
      if (input.shiftKey) w.setZoom(zoom === "double" ? "fit" : "double");
      else w.setZoom(zoom === "fit" ? "actual" : "fit");
      return true;
    } },
  { keys: both("g"), shown: "G", what: T.keyMap.faceMarks, place: "loupe",
    run: (w) => w.loupe.value.open && !comparing(w) && (w.toggleFaceMarks(), true) },
  { keys: both("n"), shown: "N / Shift+N", what: T.keyMap.nextFace, place: "loupe",
    run: (w, input) => w.loupe.value.open && !comparing(w) && (w.stepFace(input.shiftKey ? -1 : 1), true) },
  { keys: both("f"), shown: "F", what: T.keyMap.fullScreen, place: "loupe", run: (w) => !comparing(w) && (w.toggleFullScreen(), true) },
  { keys: ["?"], shown: "?", what: T.keyMap.keyMap, place: "everywhere", run: (w) => ((w.dialog.value = "keys"), true) },
];

function modifierOf(input: KeyInput): KeyBinding["modifier"] | "both" {
  const command = input.ctrlKey || input.metaKey;
  if (command && input.altKey) return "both";
  return command ? "command" : input.altKey ? "alt" : undefined;
}

// Acts on one key press by the key table. Returns true when the key was used (the caller then
// stops the browser's default, e.g. Space scrolling the grid).
export function handleKey(workbench: Workbench, input: KeyInput): boolean {
  const key = input.key;
  if (workbench.dialog.value) {
    if (key === "Escape" || (key === "?" && workbench.dialog.value === "keys")) {
      workbench.dialog.value = null;
      return true;
    }
    return false;
  }
  // An import's first records are not the project's yet, and the project's own are out of sight.
  if (workbench.importPreview.value) return false;
  const modifier = modifierOf(input);
  for (const binding of KEY_TABLE) {
    if (binding.modifier !== modifier || !binding.keys.includes(key)) continue;
    if (binding.run(workbench, input)) return true;
  }
  return false;
}
