// The records the page keeps. Photo records arrive from an import with seven keys; the page
// adds the keys the program's exports, culling list and cloud review read back.

export const DECISIONS = ["保留", "待定", "淘汰"] as const;
export type Decision = (typeof DECISIONS)[number];

// The checks the local analysis can run; the same names come back as issue names.
export const CHECK_NAMES = ["整体模糊", "人脸失焦", "闭眼", "过曝", "欠曝", "噪点过高"] as const;
export type CheckName = (typeof CHECK_NAMES)[number];

export const STRICTNESS_LEVELS = ["宽松", "标准", "严格"] as const;
export type Strictness = (typeof STRICTNESS_LEVELS)[number];

export interface LocalAnalysisResult {
  algorithmVersion?: number;
  issues?: string[];
  brightness?: number;
  highlight?: number;
  shadow?: number;
  sharpness?: number;
  noise?: number;
  faces?: number;
  mainFaces?: number;
  eyesChecked?: number;
  closedEyes?: number;
  faceSharpness?: number;
  faceFocusScore?: number;
  reviewReasons?: string[];
  needsReview?: number;
  faceQuality?: number;
  poseScore?: number;
  compositionScore?: number;
  confidence?: number;
  reason?: string;
  hash?: string;
  error?: string;
  [key: string]: unknown;
}

export interface PhotoRecord {
  id: string;
  path: string;
  name: string;
  format: string;
  size: number;
  date: string;
  thumbnail: string;
  status?: Decision;
  rating?: number;
  result?: LocalAnalysisResult;
  issues?: string[];
  group?: string;
  best?: boolean;
  cloudReason?: string;
  cloudBest?: boolean;
  cloudConfidence?: number;
  // The cloud review's record as stored (see cloudReview.ts); read through cloudRecordOf.
  cloud?: unknown;
  [key: string]: unknown;
}

export interface AnalysisSettings {
  strictness: Strictness;
  enabled: CheckName[];
  sound: boolean;
}

export type ExportFormat = "original" | "jpeg" | "png" | "tiff";
export type ConflictMode = "rename" | "skip" | "replace";

export interface AdvancedExportOptions {
  format: ExportFormat;
  quality: number;
  conflict: ConflictMode;
  organize: boolean;
}

export interface ViewSettings {
  cellSize: number;
  collapseBursts: boolean;
  autoAdvance: boolean;
  // With auto-advance, whether stars move on too (a photographer may star and then decide).
  starsAdvance: boolean;
  order: PhotoOrder;
}

import type { PhotoOrder } from "./captureData";
import type { CloudSettings } from "./cloudReview";
import type { RecentProject } from "./recentProjects";

export interface ProjectState {
  photos: PhotoRecord[];
  folder: string;
  source: string;
  projectName: string;
  ratingExportFolder: string;
  analysis: AnalysisSettings;
  exportOptions: AdvancedExportOptions;
  view: ViewSettings;
  cloudSettings: CloudSettings;
  recentProjects: RecentProject[];
  // Top-level keys this page does not know (written by a newer page or another feature),
  // handed back unchanged on every save so nothing is lost.
  extra: Record<string, unknown>;
}
