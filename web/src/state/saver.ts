import type { PostAction } from "../bridge/native";
import type { JsonObject } from "./json";

export interface Timers {
  setTimeout(callback: () => void, ms: number): unknown;
  clearTimeout(handle: unknown): void;
  now(): number;
}

const realTimers: Timers = {
  setTimeout: (callback, ms) => globalThis.setTimeout(callback, ms),
  clearTimeout: (handle) => globalThis.clearTimeout(handle as ReturnType<typeof setTimeout>),
  now: () => Date.now(),
};

// Hands the whole project to the program a moment after the last change. A burst of edits
// (holding a key, a stream of analysis results) becomes one save, but a save is never held
// back longer than maxWaitMs, so a crash loses at most a few seconds of culling.
export class ProjectSaver {
  private timer: unknown = null;
  private firstPendingAt: number | null = null;
  private snapshot: (() => JsonObject) | null = null;

  constructor(
    private readonly post: PostAction,
    private readonly delayMs = 400,
    private readonly maxWaitMs = 4000,
    private readonly timers: Timers = realTimers,
  ) {}

  // scale stretches both waits for large projects, whose every save is a large message.
  schedule(snapshot: () => JsonObject, scale = 1): void {
    this.snapshot = snapshot;
    const now = this.timers.now();
    this.firstPendingAt ??= now;
    if (this.timer !== null) this.timers.clearTimeout(this.timer);
    const delay = this.delayMs * scale;
    const maxWait = this.maxWaitMs * scale;
    const wait = Math.max(0, Math.min(delay, this.firstPendingAt + maxWait - now));
    this.timer = this.timers.setTimeout(() => this.flush(), wait);
  }

  get pending(): boolean {
    return this.snapshot !== null;
  }

  flush(): void {
    if (this.timer !== null) this.timers.clearTimeout(this.timer);
    this.timer = null;
    this.firstPendingAt = null;
    const snapshot = this.snapshot;
    this.snapshot = null;
    if (snapshot) this.post({ action: "saveState", state: snapshot() });
  }
}
