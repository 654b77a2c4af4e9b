import type { ActionBody } from "../../src/bridge/native";
import { ProjectSaver, type Timers } from "../../src/state/saver";
import { Workbench } from "../../src/state/store";
import type { PhotoRecord } from "../../src/state/types";

// A clock the test advances by hand, so debounced saves are checked without waiting.
export class ManualTimers implements Timers {
  private time = 0;
  private nextId = 1;
  private readonly tasks = new Map<number, { at: number; callback: () => void }>();

  now(): number {
    return this.time;
  }
  setTimeout(callback: () => void, ms: number): unknown {
    const id = this.nextId++;
    this.tasks.set(id, { at: this.time + ms, callback });
    return id;
  }
  clearTimeout(handle: unknown): void {
    this.tasks.delete(handle as number);
  }
  advance(ms: number): void {
    const until = this.time + ms;
    for (;;) {
      const due = [...this.tasks.entries()].filter(([, t]) => t.at <= until).sort((a, b) => a[1].at - b[1].at)[0];
      if (!due) break;
      this.tasks.delete(due[0]);
      this.time = due[1].at;
      due[1].callback();
    }
    this.time = until;
  }
}

export function makeWorkbench() {
  const posted: ActionBody[] = [];
  const timers = new ManualTimers();
  const post = (body: ActionBody) => {
    posted.push(JSON.parse(JSON.stringify(body)));
  };
  const workbench = new Workbench(post, new ProjectSaver(post, 400, 4000, timers));
  const saves = () => posted.filter((body) => body.action === "saveState");
  const actions = (name: string) => posted.filter((body) => body.action === name);
  return { workbench, posted, timers, saves, actions };
}

// A workbench that has adopted a stored project of n numbered photos, or of the given records.
export function started(photos: number | PhotoRecord[] = 3, extra: Record<string, unknown> = {}) {
  const env = makeWorkbench();
  const list = typeof photos === "number" ? Array.from({ length: photos }, (_, i) => photo(i + 1)) : photos;
  env.workbench.receiveState({ photos: list, ...extra });
  return env;
}

export function photo(n: number, extra: Partial<PhotoRecord> = {}): PhotoRecord {
  const name = `IMG_${String(n).padStart(4, "0")}.CR3`;
  return {
    id: `ID-${n}`,
    path: `/shoot/${name}`,
    name,
    format: "CR3",
    size: 1000 + n,
    date: `2026-05-01T10:00:${String(n % 60).padStart(2, "0")}`,
    thumbnail: `file:///data/ThumbnailCache/${n}.jpg`,
    ...extra,
  };
}

export function analysed(hash: string, extra: Record<string, unknown> = {}) {
  return {
    algorithmVersion: 2,
    issues: [],
    reviewReasons: [],
    sharpness: 200,
    confidence: 0.72,
    faceFocusScore: -1,
    closedEyes: 0,
    hash,
    ...extra,
  };
}
