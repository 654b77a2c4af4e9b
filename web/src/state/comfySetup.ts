import { signal } from "@preact/signals";
import type { PostAction } from "../bridge/native";
import { isObject, stringField, type JsonObject } from "./json";

// The optional local image-generation set-up: Comfy Desktop, its ComfyUI instance, four model
// files, the GGUF node and its Python package. The program inspects the machine and runs the
// installer; the page shows its snapshot, the installer's lines and the local server's probe.
export interface ComfySetupSnapshot {
  // Flags the report did not state are null and shown as unknown, never as ready.
  desktopInstalled: boolean | null;
  instanceInstalled: boolean | null;
  instanceName: string;
  instancePath: string;
  modelRoot: string;
  modelsReady: number | null;
  modelsTotal: number | null;
  nodeReady: boolean | null;
  dependencyReady: boolean | null;
  missingBytes: number | null;
  memoryGB: number | null;
  busy: boolean;
}

export interface SetupLine {
  event: string;
  message: string;
}

export interface ComfyConnection {
  connected: boolean | null;
  message: string;
}

// What the installer fetches, for the user to see what the download is; which of them are in
// place only the program tells (its snapshot counts them).
export const COMFY_MODEL_SIZES = [2604311104, 3848213998, 336211292, 4885111] as const;

// The installer reports a few dozen lines; the log keeps the latest ones of a long session.
export const SETUP_LOG_MAX = 200;
const TEXT_MAX_LENGTH = 500;

function readFlag(value: unknown): boolean | null {
  if (value === 1 || value === true) return true;
  if (value === 0 || value === false) return false;
  return null;
}

function readCount(object: JsonObject, key: string, max: number): number | null {
  const value = object[key];
  return typeof value === "number" && Number.isInteger(value) && value >= 0 && value <= max ? value : null;
}

function text(object: JsonObject, key: string): string {
  return stringField(object, key).slice(0, TEXT_MAX_LENGTH);
}

export function readComfySetup(payload: unknown): ComfySetupSnapshot | null {
  if (!isObject(payload) || !Object.keys(payload).length) return null;
  const modelsTotal = readCount(payload, "modelsTotal", 100);
  const modelsReady = readCount(payload, "modelsReady", 100);
  return {
    desktopInstalled: readFlag(payload.desktopInstalled),
    instanceInstalled: readFlag(payload.instanceInstalled),
    instanceName: text(payload, "instanceName"),
    instancePath: text(payload, "instancePath"),
    modelRoot: text(payload, "modelRoot"),
    // More ready than there are is no count to show.
    modelsReady: modelsTotal !== null && modelsReady !== null && modelsReady <= modelsTotal ? modelsReady : null,
    modelsTotal,
    nodeReady: readFlag(payload.nodeReady),
    dependencyReady: readFlag(payload.dependencyReady),
    missingBytes: readCount(payload, "missingBytes", Number.MAX_SAFE_INTEGER),
    memoryGB: readCount(payload, "memoryGB", 1 << 20),
    busy: readFlag(payload.busy) === true,
  };
}

export function readSetupLine(payload: unknown): SetupLine | null {
  if (!isObject(payload)) return null;
  const event = text(payload, "event");
  const message = text(payload, "message");
  return event || message ? { event, message } : null;
}

export class ComfySetup {
  readonly snapshot = signal<ComfySetupSnapshot | null>(null);
  readonly log = signal<readonly SetupLine[]>([]);
  readonly connection = signal<ComfyConnection | null>(null);
  // The install was asked for and the program has not answered yet.
  readonly starting = signal(false);
  readonly checking = signal(false);
  private checksAwaited = 0;

  constructor(private readonly post: PostAction) {}

  // Every snapshot replaces the last: it is the machine as it is now.
  report(payload: unknown): void {
    const snapshot = readComfySetup(payload);
    if (!snapshot) return;
    this.snapshot.value = snapshot;
    this.starting.value = false;
  }

  progress(payload: unknown): void {
    const line = readSetupLine(payload);
    if (!line) return;
    this.log.value = [...this.log.value, line].slice(-SETUP_LOG_MAX);
    this.starting.value = false;
  }

  // The program probes the local server at start too; that answer is shown like any other.
  connectionAnswer(payload: unknown): void {
    if (!isObject(payload)) return;
    this.connection.value = { connected: readFlag(payload.connected), message: text(payload, "message") };
    if (this.checksAwaited) this.checksAwaited--;
    this.checking.value = this.checksAwaited > 0;
  }

  refresh(): void {
    this.post({ action: "refreshComfySetup" });
  }

  downloadDesktop(): void {
    this.post({ action: "downloadComfyDesktop" });
  }

  openDesktop(): void {
    this.post({ action: "openComfyDesktop" });
  }

  install(): void {
    if (this.snapshot.value?.busy || this.starting.value) return;
    this.starting.value = true;
    this.post({ action: "installComfyModels" });
  }

  checkConnection(): void {
    this.checksAwaited++;
    this.checking.value = true;
    this.post({ action: "checkComfyConnection" });
  }
}
