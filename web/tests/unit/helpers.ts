import { vi } from "vitest";
import type { ActionBody } from "../../src/bridge/native";
import { handleKey } from "../../src/state/keyboard";
import { Workbench } from "../../src/state/store";
import type { PhotoRecord } from "../../src/state/types";

// A workbench whose posts are recorded; its debounced saves run on a clock the test advances.
export function makeWorkbench() {
  vi.useFakeTimers();
  const posted: ActionBody[] = [];
  const workbench = new Workbench((body) => void posted.push(JSON.parse(JSON.stringify(body))));
  const actions = (name: string) => posted.filter((body) => body.action === name);
  return { workbench, posted, actions, saves: () => actions("saveState"), advance: (ms: number) => vi.advanceTimersByTime(ms) };
}

export function started(photos: number | PhotoRecord[] = 3, extra: Record<string, unknown> = {}) {
  const env = makeWorkbench();
  env.workbench.receiveState({ photos: typeof photos === "number" ? Array.from({ length: photos }, (_, i) => photo(i + 1)) : photos, ...extra });
  return env;
}

export function photo(n: number, extra: Partial<PhotoRecord> = {}): PhotoRecord {
  const name = `IMG_${String(n).padStart(4, "0")}.CR3`;
  const date = `2026-05-01T10:00:${String(n % 60).padStart(2, "0")}`;
  return { id: `ID-${n}`, path: `/shoot/${name}`, name, format: "CR3", size: 1000 + n, date, thumbnail: `file:///data/ThumbnailCache/${n}.jpg`, ...extra };
}

export function analysed(hash: string, extra: Record<string, unknown> = {}) {
  return { algorithmVersion: 2, issues: [], reviewReasons: [], sharpness: 200, confidence: 0.72, faceFocusScore: -1, closedEyes: 0, hash, ...extra };
}

// Presses keys written as Playwright writes them ("x", "Shift+ArrowDown", "Control+z"); says whether each was taken.
export function press(workbench: Workbench, ...keys: string[]): boolean[] {
  return keys.map((written) => {
    const [key, ...held] = written.split("+").reverse();
    const has = (modifier: string) => held.includes(modifier);
    return handleKey(workbench, { key, ctrlKey: has("Control"), metaKey: has("Meta"), altKey: has("Alt"), shiftKey: has("Shift") || key === "?" });
  });
}
