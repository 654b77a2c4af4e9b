import { isObject, type JsonObject } from "./json";
import type { PhotoRecord } from "./types";

// What the camera recorded about one photo, as the program read it from the file. Every field
// is checked here: a value of the wrong type or out of any camera's range is left out.
export interface CaptureData {
  captureTime?: string;
  // Seconds on one time line for every photo of the shoot (see captureSeconds).
  captureSeconds?: number;
  camera?: string;
  serial?: string;
  lens?: string;
  focalLength?: number;
  aperture?: number;
  shutter?: string;
  exposureTime?: number;
  iso?: number;
  exposureCompensation?: number;
  width?: number;
  height?: number;
}

export type CaptureAnswer = { data: CaptureData } | { error: string };

// The program answers at most this many photos per message.
export const CAPTURE_BATCH = 2000;

const TEXT_MAX = 120;
const CAPTURE_TIME =
  /^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:\.(\d{1,9}))?(?:(Z)|([+-])(\d{2}):(\d{2}))?$/;

// A capture time on one line for the whole shoot. With the offset the camera wrote, it is the
// real instant, so two bodies set to different zones still interleave; without one, the wall
// clock is read as UTC, which keeps the order of photos from cameras set to the same clock.
export function captureSeconds(text: string): number | null {
  const match = CAPTURE_TIME.exec(text);
  if (!match) return null;
  const [y, mo, d, h, mi, s] = match.slice(1, 7).map(Number);
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return null;
  let seconds = Date.UTC(y, mo - 1, d, h, mi, s) / 1000;
  if (match[7]) seconds += Number(`0.${match[7]}`);
  if (match[9]) {
    const offset = Number(match[10]) * 3600 + Number(match[11]) * 60;
    if (Number(match[10]) > 14 || Number(match[11]) > 59) return null;
    seconds -= match[9] === "+" ? offset : -offset;
  }
  return Number.isFinite(seconds) ? seconds : null;
}

function text(entry: JsonObject, key: string): string | undefined {
  const value = entry[key];
  if (typeof value !== "string") return undefined;
  const trimmed = value.trim().slice(0, TEXT_MAX);
  return trimmed || undefined;
}

function number(entry: JsonObject, key: string, min: number, max: number): number | undefined {
  const value = entry[key];
  return typeof value === "number" && Number.isFinite(value) && value >= min && value <= max ? value : undefined;
}

function readEntry(entry: JsonObject): CaptureAnswer {
  if (typeof entry.error === "string") return { error: entry.error.slice(0, 200) || "无法读取拍摄信息" };
  const data: CaptureData = {};
  const time = text(entry, "captureTime");
  const seconds = time === undefined ? null : captureSeconds(time);
  if (time !== undefined && seconds !== null) {
    data.captureTime = time;
    data.captureSeconds = seconds;
  }
  const fields: Array<[keyof CaptureData, string | number | undefined]> = [
    ["camera", text(entry, "camera")],
    ["serial", text(entry, "serial")],
    ["lens", text(entry, "lens")],
    ["shutter", text(entry, "shutter")],
    ["focalLength", number(entry, "focalLength", 0.1, 10000)],
    ["aperture", number(entry, "aperture", 0.1, 1000)],
    ["exposureTime", number(entry, "exposureTime", 1e-6, 100000)],
    ["iso", number(entry, "iso", 1, 10_000_000)],
    ["exposureCompensation", number(entry, "exposureCompensation", -20, 20)],
    ["width", number(entry, "width", 1, 1_000_000)],
    ["height", number(entry, "height", 1, 1_000_000)],
  ];
  for (const [key, value] of fields) if (value !== undefined) (data as Record<string, unknown>)[key] = value;
  return { data };
}

// The answers of one photoMetadata message, by photo id; anything without an id is dropped.
export function readCaptureAnswers(payload: unknown): Map<string, CaptureAnswer> {
  const answers = new Map<string, CaptureAnswer>();
  if (!isObject(payload) || !Array.isArray(payload.photos)) return answers;
  for (const entry of payload.photos) {
    if (!isObject(entry) || typeof entry.id !== "string" || !entry.id) continue;
    answers.set(entry.id, readEntry(entry));
  }
  return answers;
}

export type PhotoOrder = "captureTime" | "name";
export const PHOTO_ORDERS: readonly PhotoOrder[] = ["captureTime", "name"];

const byName = new Intl.Collator(undefined, { numeric: true, sensitivity: "base" });

function compareNames(a: PhotoRecord, b: PhotoRecord): number {
  return byName.compare(a.name, b.name) || byName.compare(a.path, b.path);
}

// The photos in the order the grid shows them. By capture time only when every photo has one
// (a photo without one has no place among the others), else by file name; equal times keep
// their names' order, so a burst's frames stay in sequence.
export function orderPhotos(
  photos: readonly PhotoRecord[],
  order: PhotoOrder,
  capture: ReadonlyMap<string, CaptureData>,
): readonly PhotoRecord[] {
  if (order === "captureTime" && capturedOrderApplies(photos, capture)) {
    const at = (photo: PhotoRecord) => capture.get(photo.id)!.captureSeconds!;
    return photos.slice().sort((a, b) => at(a) - at(b) || compareNames(a, b));
  }
  return photos.slice().sort(compareNames);
}

// Whether the capture-time order is what the grid shows.
export function capturedOrderApplies(photos: readonly PhotoRecord[], capture: ReadonlyMap<string, CaptureData>): boolean {
  return photos.length > 0 && photos.every((photo) => capture.get(photo.id)?.captureSeconds !== undefined);
}
