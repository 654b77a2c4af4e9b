import { signal } from "@preact/signals";
import type { ActionBody, PostAction } from "../bridge/native";
import { T } from "../texts";
import { isObject, newToken, stringField } from "./json";
import { sanitizePhoto } from "./project";
import type { PhotoRecord } from "./types";

// Crop and rotate of one photo. The program writes the result as a new JPEG in a folder the
// user picks and answers with a new photo record; the photo itself is never changed.

// The crop in fractions of the turned picture, origin top-left.
export interface CropRect {
  x: number;
  y: number;
  w: number;
  h: number;
}

export interface EditDraft {
  turns: number;
  crop: CropRect;
}

export const FULL_CROP: CropRect = { x: 0, y: 0, w: 1, h: 1 };
// The smallest crop side the dialog offers, so a slip of the mouse never asks for nothing.
export const MIN_CROP = 0.01;

function unit(value: number, fallback: number): number {
  return Number.isFinite(value) ? Math.max(0, Math.min(1, value)) : fallback;
}

// Keeps the rectangle inside the picture: each number in 0..1, the origin leaving room for the
// smallest side, and the sides ending at the picture's edge at the latest.
export function clampCrop(crop: CropRect): CropRect {
  const x = Math.min(unit(crop.x, 0), 1 - MIN_CROP);
  const y = Math.min(unit(crop.y, 0), 1 - MIN_CROP);
  const w = Math.max(MIN_CROP, Math.min(unit(crop.w, 1), 1 - x));
  const h = Math.max(MIN_CROP, Math.min(unit(crop.h, 1), 1 - y));
  return { x, y, w, h };
}

export function normalTurns(turns: number): number {
  return Number.isInteger(turns) ? ((turns % 4) + 4) % 4 : 0;
}

// A quarter turn (clockwise when `by` is 1) turns the crop with the picture, so the same part
// of the photo stays chosen.
export function turnDraft(draft: EditDraft, by: 1 | -1): EditDraft {
  const { x, y, w, h } = draft.crop;
  const crop = by === 1 ? { x: 1 - y - h, y: x, w: h, h: w } : { x: y, y: 1 - x - w, w: h, h: w };
  return { turns: normalTurns(draft.turns + by), crop: clampCrop(crop) };
}

export function editRequest(photo: PhotoRecord, draft: EditDraft, token: string): ActionBody {
  const crop = clampCrop(draft.crop);
  return { action: "editPhoto", path: photo.path, token, crop, turns: normalTurns(draft.turns), date: photo.date };
}

// A saved copy's record, or null when the answer names no usable file.
export function readEditedPhoto(value: unknown): PhotoRecord | null {
  const photo = sanitizePhoto(value);
  if (!photo || !photo.path.startsWith("/")) return null;
  return { ...photo, thumbnail: photo.thumbnail.startsWith("data:image/") ? photo.thumbnail : "" };
}

export interface PhotoEditState {
  photoId: string | null;
  draft: EditDraft;
  // The save under way for this dialog; answers of earlier saves are still taken (their files
  // were written) but only this one's message is shown here.
  token: string | null;
  message: string;
}

export type EditAnswer = { sourceId: string; photo: PhotoRecord | null; message: string };

export class PhotoEdit {
  readonly state = signal<PhotoEditState>({ photoId: null, draft: { turns: 0, crop: FULL_CROP }, token: null, message: "" });
  // Token → the edited photo's id, for every save whose answer is still awaited.
  private readonly awaited = new Map<string, string>();

  constructor(private readonly post: PostAction) {}

  private update(change: Partial<PhotoEditState>): void {
    this.state.value = { ...this.state.value, ...change };
  }

  open(photo: PhotoRecord): void {
    this.state.value = { photoId: photo.id, draft: { turns: 0, crop: FULL_CROP }, token: null, message: "" };
  }

  setDraft(draft: EditDraft): void {
    this.update({ draft: { turns: normalTurns(draft.turns), crop: clampCrop(draft.crop) } });
  }

  saving(): boolean {
    return this.state.value.token !== null;
  }

  save(photo: PhotoRecord): void {
    if (this.saving() || photo.id !== this.state.value.photoId) return;
    const token = newToken();
    this.awaited.set(token, photo.id);
    this.update({ token, message: T.editSaving });
    this.post(editRequest(photo, this.state.value.draft, token));
  }

  // Returns what the answer means for the project, or null for an answer no longer awaited.
  answer(payload: unknown): EditAnswer | null {
    if (!isObject(payload) || typeof payload.token !== "string") return null;
    const sourceId = this.awaited.get(payload.token);
    if (sourceId === undefined) return null;
    this.awaited.delete(payload.token);
    const photo = "photo" in payload ? readEditedPhoto(payload.photo) : null;
    let message: string;
    if (payload.cancelled === true) message = T.editCancelled;
    else if (photo) message = T.editSaved(photo.name);
    else message = stringField(payload, "error") || T.editFailed;
    if (payload.token === this.state.value.token) this.update({ token: null, message });
    return { sourceId, photo, message };
  }
}
