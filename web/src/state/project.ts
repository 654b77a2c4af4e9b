import {
  CHECK_NAMES,
  DECISIONS,
  STRICTNESS_LEVELS,
  type AdvancedExportOptions,
  type AnalysisSettings,
  type CheckName,
  type ConflictMode,
  type Decision,
  type ExportFormat,
  type PhotoRecord,
  type ProjectState,
  type Strictness,
  type ViewSettings,
} from "./types";
import { boolField, isObject, numberField, stringField, type JsonObject } from "./json";
import { PHOTO_ORDERS, type PhotoOrder } from "./captureData";
import { defaultCloudSettings, restoreCloudSettings } from "./cloudReview";
import { readRecentProjects } from "./recentProjects";

export const STATE_FORMAT = "tidewick-page-state";
export const STATE_VERSION = 1;

export const CELL_SIZE_MIN = 110;
export const CELL_SIZE_MAX = 320;

export function defaultAnalysisSettings(): AnalysisSettings {
  return { strictness: "标准", enabled: [...CHECK_NAMES], sound: true };
}

export function defaultExportOptions(): AdvancedExportOptions {
  return { format: "original", quality: 0.92, conflict: "rename", organize: true };
}

export function defaultViewSettings(): ViewSettings {
  return { cellSize: 170, collapseBursts: false, autoAdvance: true, starsAdvance: true, order: "captureTime" };
}

export function emptyProject(): ProjectState {
  return {
    photos: [],
    folder: "",
    source: "",
    projectName: "",
    ratingExportFolder: "",
    analysis: defaultAnalysisSettings(),
    exportOptions: defaultExportOptions(),
    view: defaultViewSettings(),
    cloudSettings: defaultCloudSettings(),
    recentProjects: [],
    extra: {},
  };
}

export function isDecision(value: unknown): value is Decision {
  return typeof value === "string" && (DECISIONS as readonly string[]).includes(value);
}

export function clampRating(value: number): number {
  return Math.max(0, Math.min(5, Math.round(value)));
}

function baseName(path: string): string {
  const trimmed = path.replace(/\/+$/, "");
  const slash = trimmed.lastIndexOf("/");
  return slash >= 0 ? trimmed.slice(slash + 1) : trimmed;
}

// Turns one stored or scanned record into a record the page can rely on: id and path are
// required strings, the scan's keys get their types, and page keys with a wrong type are
// dropped rather than sent on to the exports. Unknown keys are kept as they are.
export function sanitizePhoto(raw: unknown): PhotoRecord | null {
  if (!isObject(raw)) return null;
  const id = stringField(raw, "id");
  const path = stringField(raw, "path");
  if (!id || !path) return null;
  const photo: PhotoRecord = {
    ...raw,
    id,
    path,
    name: stringField(raw, "name") || baseName(path),
    format: stringField(raw, "format"),
    size: numberField(raw, "size"),
    date: stringField(raw, "date"),
    thumbnail: stringField(raw, "thumbnail"),
  };
  if (!isDecision(photo.status)) delete photo.status;
  if (typeof photo.rating === "number" && Number.isFinite(photo.rating)) photo.rating = clampRating(photo.rating);
  else delete photo.rating;
  if (!isObject(photo.result)) delete photo.result;
  if (Array.isArray(photo.issues)) photo.issues = photo.issues.filter((item) => typeof item === "string");
  else delete photo.issues;
  if (typeof photo.group !== "string" || photo.group === "") delete photo.group;
  if (photo.best !== true) delete photo.best;
  if (!isObject(photo.cloud)) delete photo.cloud;
  if (typeof photo.cloudReason !== "string") delete photo.cloudReason;
  if (photo.cloudBest !== true) delete photo.cloudBest;
  if (typeof photo.cloudConfidence !== "number" || !Number.isFinite(photo.cloudConfidence)) delete photo.cloudConfidence;
  return photo;
}

export function sanitizePhotos(raw: unknown): PhotoRecord[] {
  if (!Array.isArray(raw)) return [];
  const seen = new Set<string>();
  const photos: PhotoRecord[] = [];
  for (const item of raw) {
    const photo = sanitizePhoto(item);
    // Two records with one id would make every id-matched answer ambiguous.
    if (!photo || seen.has(photo.id)) continue;
    seen.add(photo.id);
    photos.push(photo);
  }
  return photos;
}

function restoreAnalysis(raw: unknown): AnalysisSettings {
  const settings = defaultAnalysisSettings();
  if (!isObject(raw)) return settings;
  const strictness = stringField(raw, "strictness");
  if ((STRICTNESS_LEVELS as readonly string[]).includes(strictness)) settings.strictness = strictness as Strictness;
  if (Array.isArray(raw.enabled)) {
    settings.enabled = CHECK_NAMES.filter((name) => (raw.enabled as unknown[]).includes(name)) as CheckName[];
  }
  settings.sound = boolField(raw, "sound", settings.sound);
  return settings;
}

function restoreExportOptions(raw: unknown): AdvancedExportOptions {
  const options = defaultExportOptions();
  if (!isObject(raw)) return options;
  const format = stringField(raw, "format");
  if (["original", "jpeg", "png", "tiff"].includes(format)) options.format = format as ExportFormat;
  const conflict = stringField(raw, "conflict");
  if (["rename", "skip", "replace"].includes(conflict)) options.conflict = conflict as ConflictMode;
  const quality = numberField(raw, "quality", options.quality);
  options.quality = Math.max(0.5, Math.min(1, quality));
  options.organize = boolField(raw, "organize", options.organize);
  return options;
}

function restoreView(raw: unknown): ViewSettings {
  const view = defaultViewSettings();
  if (!isObject(raw)) return view;
  const cellSize = numberField(raw, "cellSize", view.cellSize);
  view.cellSize = Math.max(CELL_SIZE_MIN, Math.min(CELL_SIZE_MAX, Math.round(cellSize)));
  view.collapseBursts = boolField(raw, "collapseBursts", view.collapseBursts);
  view.autoAdvance = boolField(raw, "autoAdvance", view.autoAdvance);
  view.starsAdvance = boolField(raw, "starsAdvance", view.starsAdvance);
  const order = stringField(raw, "order");
  if ((PHOTO_ORDERS as readonly string[]).includes(order)) view.order = order as PhotoOrder;
  return view;
}

const KNOWN_KEYS = new Set([
  "format",
  "version",
  "photos",
  "folder",
  "source",
  "projectName",
  "ratingExportFolder",
  "analysis",
  "exportOptions",
  "view",
  "cloudReview",
  "recentProjects",
]);

// Restores what the program stored. The stored value is whatever an earlier page saved: an
// object with "photos", a bare array of records, or nothing usable (an empty object when
// no project was stored yet).
export function restoreProject(raw: unknown): ProjectState {
  const project = emptyProject();
  if (Array.isArray(raw)) {
    project.photos = sanitizePhotos(raw);
    return project;
  }
  if (!isObject(raw)) return project;
  project.photos = sanitizePhotos(raw.photos);
  project.folder = stringField(raw, "folder");
  project.source = stringField(raw, "source");
  project.projectName = stringField(raw, "projectName");
  project.ratingExportFolder = stringField(raw, "ratingExportFolder");
  project.analysis = restoreAnalysis(raw.analysis);
  project.exportOptions = restoreExportOptions(raw.exportOptions);
  project.view = restoreView(raw.view);
  project.cloudSettings = restoreCloudSettings(raw.cloudReview);
  project.recentProjects = readRecentProjects(raw.recentProjects);
  for (const [key, value] of Object.entries(raw)) {
    if (!KNOWN_KEYS.has(key)) project.extra[key] = value;
  }
  return project;
}

// The whole state as handed to "saveState": a plain JSON object whose "photos" member is
// the array of photo records.
export function projectToSaved(project: ProjectState): JsonObject {
  return {
    ...project.extra,
    format: STATE_FORMAT,
    version: STATE_VERSION,
    photos: project.photos,
    folder: project.folder,
    source: project.source,
    projectName: project.projectName,
    ratingExportFolder: project.ratingExportFolder,
    analysis: project.analysis,
    exportOptions: project.exportOptions,
    view: project.view,
    cloudReview: project.cloudSettings,
    recentProjects: project.recentProjects,
  };
}

// The page's own keys of a record, carried over when the same file version is imported again.
// Burst groups are not: they describe neighbours in the old project and are formed anew.
const CARRIED_KEYS = [
  "status",
  "rating",
  "result",
  "issues",
  "cloudReason",
  "cloudBest",
  "cloudConfidence",
  "cloud",
] as const;

function fileVersionKey(photo: PhotoRecord): string {
  return `${photo.path}\u0000${photo.size}\u0000${photo.date}`;
}

export interface ScanResult {
  folder: string;
  source: string;
  skipped: number;
  photos: PhotoRecord[];
}

export function readScanResult(payload: unknown): ScanResult | null {
  if (!isObject(payload)) return null;
  return {
    folder: stringField(payload, "folder"),
    source: stringField(payload, "source"),
    skipped: numberField(payload, "skipped"),
    photos: sanitizePhotos(payload.photos),
  };
}

export function projectNameForFolder(folder: string, photos: PhotoRecord[]): string {
  if (folder) return baseName(folder);
  const first = photos[0]?.path ?? "";
  const parent = first.slice(0, Math.max(0, first.lastIndexOf("/")));
  return baseName(parent);
}

// A new import replaces the project's photos in the order received. Decisions, ratings and
// analysis of a file that was already in the project and has not changed since (same path,
// size and date) are kept: re-importing a folder must not throw away a morning's culling.
export function adoptScan(project: ProjectState, scan: ScanResult): ProjectState {
  const previous = new Map<string, PhotoRecord>();
  for (const photo of project.photos) previous.set(fileVersionKey(photo), photo);
  const photos = scan.photos.map((photo) => {
    const old = previous.get(fileVersionKey(photo));
    if (!old) return photo;
    const merged: PhotoRecord = { ...photo };
    for (const key of CARRIED_KEYS) {
      if (old[key] !== undefined) (merged as Record<string, unknown>)[key] = old[key];
    }
    return merged;
  });
  return {
    ...project,
    photos,
    folder: scan.folder,
    source: scan.source,
    projectName: projectNameForFolder(scan.folder, photos),
  };
}
