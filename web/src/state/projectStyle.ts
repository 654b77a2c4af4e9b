import { signal } from "@preact/signals";
import type { PostAction } from "../bridge/native";
import { T } from "../texts";
import { isObject, newToken, numberField, stringField, type JsonObject } from "./json";

// The whole-set style workflow: a reference photo, a preview of the set under one token, and
// the export of exactly that preview. The program keeps the measured plans of the latest
// preview and exports only those, so any change of reference or options needs a new preview.

export interface StyleReference {
  path: string;
  name: string;
  preview: string;
}

export interface StylePair {
  name: string;
  before: string;
  after: string;
}

export type StylePhase = "idle" | "previewing" | "ready" | "exporting";

export interface StyleState {
  reference: StyleReference | null;
  strength: number;
  preserveColors: boolean;
  phase: StylePhase;
  // The request whose answer is awaited: the preview, and then the export of that preview.
  token: string | null;
  previews: StylePair[];
  total: number;
  message: string;
}

export interface StylePhoto {
  path: string;
  name: string;
}

export const STYLE_MAX_PHOTOS = 256;
const MAX_PAIRS = 3;

// Only inline images are shown: an answer naming a remote or script address draws nothing.
function imageDataURL(object: JsonObject, key: string): string {
  const value = stringField(object, key);
  return value.startsWith("data:image/") ? value : "";
}

export function readReference(payload: unknown): StyleReference | null {
  if (!isObject(payload) || !isObject(payload.reference)) return null;
  const reference = payload.reference;
  const path = stringField(reference, "path");
  const preview = imageDataURL(reference, "preview");
  if (!path.startsWith("/") || !preview) return null;
  return { path, name: stringField(reference, "name") || path.slice(path.lastIndexOf("/") + 1), preview };
}

export function readPairs(value: unknown): StylePair[] {
  if (!Array.isArray(value)) return [];
  return value
    .filter(isObject)
    .slice(0, MAX_PAIRS)
    .map((pair) => ({ name: stringField(pair, "name"), before: imageDataURL(pair, "before"), after: imageDataURL(pair, "after") }));
}

export class ProjectStyle {
  readonly state = signal<StyleState>({
    reference: null,
    strength: 60,
    preserveColors: true,
    phase: "idle",
    token: null,
    previews: [],
    total: 0,
    message: "",
  });

  constructor(
    private readonly post: PostAction,
    private readonly say: (text: string) => void,
  ) {}

  private update(change: Partial<StyleState>): void {
    this.state.value = { ...this.state.value, ...change };
  }

  busy(): boolean {
    const phase = this.state.value.phase;
    return phase === "previewing" || phase === "exporting";
  }

  chooseReference(): void {
    if (!this.busy()) this.post({ action: "chooseProjectReference" });
  }

  referenceSelected(payload: unknown): void {
    const reference = readReference(payload);
    if (!reference || this.busy()) return;
    this.update({ reference, ...this.previewRetired() });
  }

  setOptions(change: Partial<Pick<StyleState, "strength" | "preserveColors">>): void {
    if (this.busy()) return;
    const strength = change.strength === undefined ? this.state.value.strength : Math.max(0, Math.min(100, Math.round(change.strength)));
    this.update({ ...change, strength, ...this.previewRetired() });
  }

  // A shown preview no longer matches what an export would write.
  private previewRetired(): Partial<StyleState> {
    return this.state.value.phase === "ready" ? { phase: "idle", token: null, previews: [], total: 0, message: "" } : {};
  }

  preview(photos: readonly StylePhoto[]): void {
    const { reference, strength, preserveColors } = this.state.value;
    if (!reference || this.busy() || !photos.length || photos.length > STYLE_MAX_PHOTOS) return;
    const token = newToken();
    this.update({ phase: "previewing", token, previews: [], total: 0, message: "" });
    this.post({
      action: "previewProjectStyle",
      token,
      reference: { path: reference.path },
      photos: photos.map((photo) => ({ path: photo.path, name: photo.name })),
      options: { strength, preserveColors },
    });
  }

  previewAnswer(payload: unknown): void {
    const { phase, token } = this.state.value;
    if (phase !== "previewing" || !isObject(payload) || payload.token !== token) return;
    const error = stringField(payload, "error");
    if (error || !Array.isArray(payload.previews)) {
      this.update({ phase: "idle", token: null, message: error || T.styleFailed });
      return;
    }
    const total = numberField(payload, "total");
    this.update({ phase: "ready", previews: readPairs(payload.previews), total, message: T.stylePreviewed(total) });
  }

  exportCopies(): void {
    const { phase, token } = this.state.value;
    if (phase !== "ready" || !token) return;
    this.update({ phase: "exporting", message: "" });
    this.post({ action: "exportProjectStyle", token });
  }

  exportAnswer(payload: unknown): void {
    const { phase, token } = this.state.value;
    if (phase !== "exporting" || !isObject(payload) || payload.token !== token) return;
    // The folder panel was dismissed: the program still holds this preview.
    if (payload.cancelled === true) {
      this.update({ phase: "ready" });
      return;
    }
    // Refused or finished, the program has let go of the preview; a new export needs a new one.
    const message = stringField(payload, "message") || stringField(payload, "error") || T.styleFailed;
    this.update({ phase: "idle", token: null, message });
    this.say(message);
  }

  // The program stops before its next photo and reports nothing more; copies already written stay.
  cancel(): void {
    if (!this.busy()) return;
    const exporting = this.state.value.phase === "exporting";
    this.post({ action: "cancelProjectStyle" });
    this.update({ phase: "idle", token: null, previews: [], total: 0, message: T.styleCancelled(exporting) });
  }
}
