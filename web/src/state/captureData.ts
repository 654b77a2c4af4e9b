import { isObject, type JsonObject } from "./json";
import type { PhotoRecord } from "./types";

// What the camera recorded about one photo, as the program read it from the file. Every field
// is checked here: a value of the wrong type or out of any camera's range is left out.
export interface CaptureData {
  captureTime?: string;
  // The camera's clock read as UTC (sub-seconds included), and its offset from UTC in seconds
  // where the camera wrote one.
  clockSeconds?: number;
  offsetSeconds?: number;
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

// "2024-05-01T14:03:22.37+02:00": the clock's reading and the offset, if written.
export function parseCaptureTime(text: string): { clock: number; offset: number | null } | null {
  const match = CAPTURE_TIME.exec(text);
  if (!match) return null;
  const [y, mo, d, h, mi, s] = match.slice(1, 7).map(Number);
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return null;
  const clock = Date.UTC(y, mo - 1, d, h, mi, s) / 1000 + (match[7] ? Number(`0.${match[7]}`) : 0);
  if (!Number.isFinite(clock)) return null;
  if (match[8]) return { clock, offset: 0 };
  if (!match[9]) return { clock, offset: null };
  const hours = Number(match[10]);
  const minutes = Number(match[11]);
  if (hours > 14 || minutes > 59) return null;
  return { clock, offset: (match[9] === "+" ? 1 : -1) * (hours * 3600 + minutes * 60) };
}

// Seconds on one time line for the whole shoot, by photo id; null unless every photo has a
// capture time. With every offset known it is the real instant, so bodies set to different
// zones still interleave; otherwise the clocks are compared as they read, as the bodies of one
// shoot are set to the same local time and some of them write no offset.
export function captureTimeline(photos: readonly PhotoRecord[], capture: ReadonlyMap<string, CaptureData>): Map<string, number> | null {
  if (!capturedOrderApplies(photos, capture)) return null;
  const instants = photos.every((photo) => capture.get(photo.id)!.offsetSeconds !== undefined);
  const line = new Map<string, number>();
  for (const photo of photos) {
    const data = capture.get(photo.id)!;
    line.set(photo.id, data.clockSeconds! - (instants ? data.offsetSeconds! : 0));
  }
  return line;
}

// Seconds between two capture times, when both photos have one.
export function captureGap(a: CaptureData | undefined, b: CaptureData | undefined): number | null {
  if (a?.clockSeconds === undefined || b?.clockSeconds === undefined) return null;
  const instants = a.offsetSeconds !== undefined && b.offsetSeconds !== undefined;
  return Math.abs(b.clockSeconds - (instants ? b.offsetSeconds! : 0) - (a.clockSeconds - (instants ? a.offsetSeconds! : 0)));
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
  const parsed = time === undefined ? null : parseCaptureTime(time);
  if (time !== undefined && parsed) {
    data.captureTime = time;
    data.clockSeconds = parsed.clock;
    if (parsed.offset !== null) data.offsetSeconds = parsed.offset;
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
// (a photo without one has no place among the others), else in the order the import gave them
// (by date, then name), as the grid always showed them; equal times keep their names' order, so
// a burst's frames stay in sequence.
export function orderPhotos(
  photos: readonly PhotoRecord[],
  order: PhotoOrder,
  capture: ReadonlyMap<string, CaptureData>,
): readonly PhotoRecord[] {
  if (order === "name") return photos.slice().sort(compareNames);
  const line = captureTimeline(photos, capture);
  return line ? photos.slice().sort((a, b) => line.get(a.id)! - line.get(b.id)! || compareNames(a, b)) : photos;
}

// Whether the capture-time order is what the grid shows.
export function capturedOrderApplies(photos: readonly PhotoRecord[], capture: ReadonlyMap<string, CaptureData>): boolean {
  return photos.length > 0 && photos.every((photo) => capture.get(photo.id)?.clockSeconds !== undefined);
}
