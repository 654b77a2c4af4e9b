import { signal } from "@preact/signals";
import type { PostAction } from "../bridge/native";
import { isObject, newToken, type JsonObject } from "./json";
import type { PixelRect, PixelSize } from "./loupeRegion";
import type { PhotoRecord, Strictness } from "./types";

// The faces the local analysis found in a photo, with the verdict it gave each one, drawn over
// the loupe so that a photographer sees which face raised "闭眼" or "人脸失焦".

export type EyesVerdict = "closed" | "review" | "open" | "notCheckable";
export type FocusVerdict = "sharp" | "soft" | "notCheckable";
export type PhotoPoint = readonly [number, number];

export interface FaceMark {
  // In the upright full-resolution photo's pixels.
  box: PixelRect;
  leftEye: PhotoPoint | null;
  rightEye: PhotoPoint | null;
  eyes: EyesVerdict;
  focus: FocusVerdict;
  main: boolean;
  // The face checks this face raised.
  triggers: string[];
}

export type FacesAnswer = { photo: PixelSize; faces: FaceMark[] } | { error: string };

const EYES: readonly EyesVerdict[] = ["closed", "review", "open", "notCheckable"];
const FOCUS: readonly FocusVerdict[] = ["sharp", "soft", "notCheckable"];
const FACE_ISSUES = ["闭眼", "人脸失焦"];
// More than any group photo holds; a longer list is cut rather than drawn in full.
const FACES_MAX = 200;

function whole(value: unknown, min: number): number | null {
  return typeof value === "number" && Number.isInteger(value) && value >= min && value <= 1_000_000 ? value : null;
}

function readPoint(value: unknown, photo: PixelSize): PhotoPoint | null {
  if (!Array.isArray(value) || value.length !== 2) return null;
  const [x, y] = value.map((v) => whole(v, 0));
  return x !== null && y !== null && x <= photo.width && y <= photo.height ? [x, y] : null;
}

function readFace(entry: JsonObject, photo: PixelSize): FaceMark | null {
  if (!isObject(entry.box)) return null;
  const [x, y, width, height] = ["x", "y", "width", "height"].map((key) => whole((entry.box as JsonObject)[key], key.length === 1 ? 0 : 1));
  if (x === null || y === null || width === null || height === null) return null;
  if (x + width > photo.width || y + height > photo.height) return null;
  const eyes = EYES.find((verdict) => verdict === entry.eyes) ?? "notCheckable";
  const focus = FOCUS.find((verdict) => verdict === entry.focus) ?? "notCheckable";
  const triggers = Array.isArray(entry.triggers) ? FACE_ISSUES.filter((issue) => (entry.triggers as unknown[]).includes(issue)) : [];
  return {
    box: { x, y, width, height },
    leftEye: readPoint(entry.leftEye, photo),
    rightEye: readPoint(entry.rightEye, photo),
    eyes,
    focus,
    main: entry.main === true,
    triggers,
  };
}

// A photoFaces answer: an error, or the faces lying inside the photo it names, left to right
// (the order a photographer reads a group in, and the order the next-face key follows).
export function readFacesAnswer(payload: unknown): { id: string; answer: FacesAnswer } | null {
  if (!isObject(payload) || typeof payload.id !== "string" || !payload.id) return null;
  const id = payload.id;
  if (typeof payload.error === "string") return { id, answer: { error: payload.error.slice(0, 200) } };
  const width = whole(payload.width, 1);
  const height = whole(payload.height, 1);
  if (width === null || height === null || !Array.isArray(payload.faces)) return null;
  const photo = { width, height };
  const faces = payload.faces
    .slice(0, FACES_MAX)
    .map((entry) => (isObject(entry) ? readFace(entry, photo) : null))
    .filter((face): face is FaceMark => face !== null)
    .sort((a, b) => a.box.x + a.box.width / 2 - (b.box.x + b.box.width / 2) || a.box.y - b.box.y);
  return { id, answer: { photo, faces } };
}

export interface StagePlacement {
  left: number;
  top: number;
  width: number;
  height: number;
}

// A rectangle of the photo in the stage's CSS pixels, wherever the stage placed the whole photo.
export function rectOnStage(place: StagePlacement, photo: PixelSize, rect: PixelRect): PixelRect {
  const sx = place.width / photo.width;
  const sy = place.height / photo.height;
  return { x: place.left + rect.x * sx, y: place.top + rect.y * sy, width: rect.width * sx, height: rect.height * sy };
}

// The middle of a face as fractions of the photo: the loupe's focus that centres it.
export function faceFocus(face: FaceMark, photo: PixelSize): { x: number; y: number } {
  return { x: (face.box.x + face.box.width / 2) / photo.width, y: (face.box.y + face.box.height / 2) / photo.height };
}

// The faces of the photos the loupe showed, per photo, path and strictness (the verdicts depend
// on it); asked for once each. Requests carry their own token, so an answer for a photo, path or
// strictness the loupe has left is kept for a return but never shown on another photo.
export class FaceMarks {
  readonly shown = signal(false);
  readonly answers = signal<ReadonlyMap<string, FacesAnswer>>(new Map());
  private readonly awaited = new Map<string, string>();
  // The face the next-face key went to last, by answer.
  private stepped: { key: string; index: number } | null = null;
  // A next-face step waiting for the photo's faces.
  pendingStep: { key: string; step: number } | null = null;

  constructor(private readonly post: PostAction) {}

  static key(photo: PhotoRecord, strictness: Strictness): string {
    return `${photo.id}\n${photo.path}\n${strictness}`;
  }

  answerFor(photo: PhotoRecord, strictness: Strictness): FacesAnswer | undefined {
    return this.answers.value.get(FaceMarks.key(photo, strictness));
  }

  ask(photo: PhotoRecord, strictness: Strictness): void {
    const key = FaceMarks.key(photo, strictness);
    if (this.answers.value.has(key) || [...this.awaited.values()].includes(key)) return;
    const token = newToken();
    this.awaited.set(token, key);
    this.post({ action: "photoFaces", id: token, path: photo.path, strictness });
  }

  // Takes an answer to a request still awaited; returns what it answered.
  take(payload: unknown): { key: string; answer: FacesAnswer } | null {
    const read = readFacesAnswer(payload);
    const key = read ? this.awaited.get(read.id) : undefined;
    if (!read || key === undefined) return null;
    this.awaited.delete(read.id);
    this.answers.value = new Map(this.answers.value).set(key, read.answer);
    return { key, answer: read.answer };
  }

  // The index of the face to go to from the last one on this answer; wraps around both ways.
  nextIndex(key: string, count: number, step: number): number {
    const from = this.stepped?.key === key ? this.stepped.index : step > 0 ? -1 : count;
    const index = (((from + step) % count) + count) % count;
    this.stepped = { key, index };
    return index;
  }

  // A new project: the old one's photos and requests no longer apply.
  forget(): void {
    this.awaited.clear();
    this.answers.value = new Map();
    this.stepped = null;
    this.pendingStep = null;
  }
}
