import { signal } from "@preact/signals";
import type { PostAction } from "../bridge/native";
import { isObject, stringField, type JsonObject } from "./json";

// The update check as the program reports it. Each report is a whole snapshot: the stored
// settings with the outcome of the latest check laid over them, so the newest one always wins.
// The program never updates itself; "download" only opens the found version's download page.
export interface AppUpdateState {
  currentVersion: string;
  currentBuild: string;
  manifestURL: string;
  // null: the report carried no usable value, and the switch is not offered.
  automatic: boolean | null;
  status: string;
  error: string;
  checking: boolean;
  // Set only for a found newer version with its download page.
  found: FoundUpdate | null;
  latestVersion: string;
}

export interface FoundUpdate {
  version: string;
  build: string;
  releaseNotes: string;
  publishedAt: string;
  sha256: string;
}

export interface UpdateDownloadAnswer {
  success: boolean;
  message: string;
}

// A manifest is the publisher's text; the page shows a screenful of it, not a megabyte.
const NOTES_MAX_LENGTH = 4000;
const FIELD_MAX_LENGTH = 200;

function short(object: JsonObject, key: string): string {
  return stringField(object, key).slice(0, FIELD_MAX_LENGTH);
}

export function readAppUpdateState(payload: unknown): AppUpdateState | null {
  if (!isObject(payload)) return null;
  const status = short(payload, "status");
  if (!status) return null;
  const latestVersion = short(payload, "latestVersion");
  // A version is offered for download only when the report says so in full: a newer version,
  // named, with the HTTPS page the program would open.
  const available = payload.available === true && latestVersion !== "" && /^https:\/\//i.test(stringField(payload, "downloadURL"));
  return {
    currentVersion: short(payload, "currentVersion"),
    currentBuild: short(payload, "currentBuild"),
    manifestURL: stringField(payload, "manifestURL").slice(0, 2000),
    automatic: typeof payload.automatic === "boolean" ? payload.automatic : null,
    status,
    error: short(payload, "error"),
    checking: payload.checking === true,
    found: available
      ? {
          version: latestVersion,
          build: short(payload, "latestBuild"),
          releaseNotes: stringField(payload, "releaseNotes").slice(0, NOTES_MAX_LENGTH),
          publishedAt: short(payload, "publishedAt"),
          sha256: short(payload, "sha256"),
        }
      : null,
    latestVersion,
  };
}

export class AppUpdate {
  readonly state = signal<AppUpdateState | null>(null);
  readonly download = signal<UpdateDownloadAnswer | null>(null);
  // Download answers carry no token: one is taken only while a request of this page awaits it.
  private downloadsAwaited = 0;

  constructor(private readonly post: PostAction) {}

  report(payload: unknown): void {
    const state = readAppUpdateState(payload);
    if (!state) return;
    this.state.value = state;
    // A new outcome makes the last download answer old news.
    if (state.checking) this.download.value = null;
  }

  // Each control saves its own setting and keeps the other as the program last reported it.
  saveAddress(manifestURL: string): void {
    const state = this.state.value;
    if (!state) return;
    this.post({ action: "saveUpdateSettings", manifestURL: manifestURL.trim(), automatic: state.automatic ?? true });
  }

  setAutomatic(automatic: boolean): void {
    const state = this.state.value;
    if (!state) return;
    this.post({ action: "saveUpdateSettings", manifestURL: state.manifestURL, automatic });
  }

  // An address typed but not saved is tried as it stands; the stored one is left alone.
  check(manifestURL: string): void {
    if (this.state.value?.checking) return;
    const address = manifestURL.trim();
    this.post(address ? { action: "checkForAppUpdate", manifestURL: address } : { action: "checkForAppUpdate" });
  }

  startDownload(): void {
    if (!this.state.value?.found) return;
    this.downloadsAwaited++;
    this.post({ action: "downloadAppUpdate" });
  }

  downloadAnswer(payload: unknown): void {
    if (!this.downloadsAwaited || !isObject(payload)) return;
    this.downloadsAwaited--;
    this.download.value = { success: payload.success === true, message: short(payload, "message") };
  }
}
