import { DECISIONS, type Decision, type PhotoRecord } from "./types";
import { boolField, isObject, numberField, stringField, type JsonObject } from "./json";

// The cloud review: what the page asks the vision model (scene, policy, weights, quality, double
// check, model) and what it keeps of each answer. The model's answer passes through the program
// unchecked, so every record is read here before anything of it is shown as a verdict or applied.

export const CLOUD_SCENES = ["auto", "portrait", "group", "event", "product"] as const;
export type CloudScene = (typeof CLOUD_SCENES)[number];
export const CLOUD_POLICIES = ["conservative", "balanced", "strict"] as const;
export type CloudPolicy = (typeof CLOUD_POLICIES)[number];
export const CLOUD_QUALITIES = ["economy", "standard", "fine"] as const;
export type CloudQuality = (typeof CLOUD_QUALITIES)[number];
export const CLOUD_WEIGHT_KEYS = ["sharpness", "eyes", "exposure", "noise", "faceQuality", "composition"] as const;
export type CloudWeightKey = (typeof CLOUD_WEIGHT_KEYS)[number];

// Weights are relative; 0 tells the model not to reject for that aspect.
export const CLOUD_WEIGHT_MAX = 10;
export const DEFAULT_VISION_MODEL = "gemini-3.1-flash-lite";
const MODEL_MAX_LENGTH = 200;

export interface CloudSettings {
  scene: CloudScene;
  policy: CloudPolicy;
  weights: Record<CloudWeightKey, number>;
  quality: CloudQuality;
  doubleCheck: boolean;
  model: string;
}

export function defaultCloudSettings(): CloudSettings {
  return {
    scene: "auto",
    policy: "conservative",
    weights: { sharpness: 5, eyes: 5, exposure: 5, noise: 5, faceQuality: 5, composition: 5 },
    quality: "standard",
    doubleCheck: true,
    model: DEFAULT_VISION_MODEL,
  };
}

function oneOf<T extends string>(choices: readonly T[], value: unknown, fallback: T): T {
  return typeof value === "string" && (choices as readonly string[]).includes(value) ? (value as T) : fallback;
}

export function clampWeight(value: number): number {
  return Math.max(0, Math.min(CLOUD_WEIGHT_MAX, Math.round(value)));
}

export function restoreCloudSettings(raw: unknown): CloudSettings {
  const settings = defaultCloudSettings();
  if (!isObject(raw)) return settings;
  settings.scene = oneOf(CLOUD_SCENES, raw.scene, settings.scene);
  settings.policy = oneOf(CLOUD_POLICIES, raw.policy, settings.policy);
  settings.quality = oneOf(CLOUD_QUALITIES, raw.quality, settings.quality);
  settings.doubleCheck = boolField(raw, "doubleCheck", settings.doubleCheck);
  const model = stringField(raw, "model").trim();
  if (model && model.length <= MODEL_MAX_LENGTH) settings.model = model;
  if (isObject(raw.weights)) {
    for (const key of CLOUD_WEIGHT_KEYS) settings.weights[key] = clampWeight(numberField(raw.weights, key, settings.weights[key]));
  }
  return settings;
}

// The options of one "cloudAnalyze" or "compareBurst"; an empty model falls back to the default.
export function cloudOptions(settings: CloudSettings): JsonObject {
  return {
    scene: settings.scene,
    policy: settings.policy,
    weights: { ...settings.weights },
    quality: settings.quality,
    doubleCheck: settings.doubleCheck,
    model: settings.model.trim() || DEFAULT_VISION_MODEL,
  };
}

// What a photo's local analysis tells the model as a cross-check; the rest of the local record
// (hashes, face measurements) would only make every request larger.
export function photoForCloud(photo: PhotoRecord): JsonObject {
  const entry: JsonObject = { id: photo.id, path: photo.path, name: photo.name };
  if (photo.thumbnail) entry.thumbnail = photo.thumbnail;
  if (Array.isArray(photo.issues)) entry.issues = photo.issues;
  const result = photo.result;
  if (result && typeof result.error !== "string") {
    const quoted: JsonObject = {};
    for (const key of ["sharpness", "brightness", "noise", "confidence"]) {
      if (typeof result[key] === "number") quoted[key] = result[key];
    }
    entry.result = quoted;
  }
  return entry;
}

export interface CloudVerdict {
  decision: Decision;
  rating: number;
  confidence: number;
  issues: string[];
  reason: string;
  best: boolean;
  doubleChecked: boolean;
  // Whether the two passes of a double check agreed; null without a double check.
  agreement: boolean | null;
}

// A reason longer than this is no longer the short evidence the model was asked for.
const REASON_MAX_LENGTH = 200;
const ISSUES_MAX = 12;

// The verdict of one cloud record, or null when the page cannot use it: a decision other than
// the three words, a rating that is not a whole number of 1 to 5 stars, or a confidence outside
// 0 to 1. Issues and reason are descriptive, so only their wrong-typed parts are dropped.
export function readCloudVerdict(raw: unknown): CloudVerdict | null {
  if (!isObject(raw)) return null;
  const decision = raw.decision;
  const rating = raw.rating;
  const confidence = raw.confidence;
  if (typeof decision !== "string" || !(DECISIONS as readonly string[]).includes(decision)) return null;
  if (typeof rating !== "number" || !Number.isInteger(rating) || rating < 1 || rating > 5) return null;
  if (typeof confidence !== "number" || !Number.isFinite(confidence) || confidence < 0 || confidence > 1) return null;
  const issues = Array.isArray(raw.issues)
    ? [...new Set(raw.issues.filter((issue): issue is string => typeof issue === "string" && issue.length <= 40))].slice(0, ISSUES_MAX)
    : [];
  return {
    decision: decision as Decision,
    rating,
    confidence,
    issues,
    reason: stringField(raw, "reason").slice(0, REASON_MAX_LENGTH),
    // A merged double check marks the best candidate with 1 rather than true.
    best: raw.bestCandidate === true || raw.bestCandidate === 1,
    doubleChecked: raw.doubleChecked === true,
    agreement: raw.doubleChecked === true && typeof raw.agreement === "boolean" ? raw.agreement : null,
  };
}

// The form a verdict is stored in with the photo; read back through readCloudVerdict like any
// other record, so a stored file edited by hand is checked the same way.
function storedVerdict(verdict: CloudVerdict): JsonObject {
  const stored: JsonObject = {
    decision: verdict.decision,
    rating: verdict.rating,
    confidence: verdict.confidence,
    issues: verdict.issues,
    reason: verdict.reason,
    bestCandidate: verdict.best,
  };
  if (verdict.doubleChecked) {
    stored.doubleChecked = true;
    if (verdict.agreement !== null) stored.agreement = verdict.agreement;
  }
  return stored;
}

export type CloudRecord = { kind: "none" } | { kind: "unreadable" } | { kind: "verdict"; verdict: CloudVerdict };

export function cloudRecordOf(photo: PhotoRecord): CloudRecord {
  if (photo.cloud === undefined) return { kind: "none" };
  const verdict = readCloudVerdict(photo.cloud);
  return verdict ? { kind: "verdict", verdict } : { kind: "unreadable" };
}

export function cloudVerdictOf(photo: PhotoRecord): CloudVerdict | null {
  const record = cloudRecordOf(photo);
  return record.kind === "verdict" ? record.verdict : null;
}

// The photo with a new cloud answer. The keys the culling list reads (reason, recommendation,
// confidence) come from a usable verdict only; an unusable one leaves none of them behind.
export function withCloudResult(photo: PhotoRecord, raw: unknown): PhotoRecord {
  const verdict = readCloudVerdict(raw);
  const updated: PhotoRecord = { ...photo };
  if (!verdict) {
    updated.cloud = { unreadable: true };
    delete updated.cloudReason;
    delete updated.cloudBest;
    delete updated.cloudConfidence;
    return updated;
  }
  updated.cloud = storedVerdict(verdict);
  updated.cloudReason = verdict.reason;
  updated.cloudConfidence = verdict.confidence;
  if (verdict.best) updated.cloudBest = true;
  else delete updated.cloudBest;
  return updated;
}
