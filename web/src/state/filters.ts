import { CHECK_NAMES, DECISIONS, type PhotoRecord } from "./types";
import { isDecision } from "./project";
import { cloudRecordOf, type CloudVerdict } from "./cloudReview";

export const UNDECIDED = "未决定";
export type DecisionFilter = "all" | (typeof DECISIONS)[number] | typeof UNDECIDED;

export const ISSUE_FILTERS = ["all", ...CHECK_NAMES, "需复核", "无问题", "未分析"] as const;
export type IssueFilter = (typeof ISSUE_FILTERS)[number];

// Star filter: "all", at least n stars ("≥n"), or exactly no stars.
export type RatingFilter = "all" | "unrated" | 1 | 2 | 3 | 4 | 5;

// By the cloud's verdict, by its disagreement with the local analysis, by an answer the page
// could not read, or photos the cloud has not judged.
export const CLOUD_FILTERS = ["all", ...DECISIONS, "disagree", "unreadable", "none"] as const;
export type CloudFilter = (typeof CLOUD_FILTERS)[number];

export interface Filter {
  decision: DecisionFilter;
  rating: RatingFilter;
  issue: IssueFilter;
  cloud: CloudFilter;
}

export function defaultFilter(): Filter {
  return { decision: "all", rating: "all", issue: "all", cloud: "all" };
}

export function isFiltering(filter: Filter): boolean {
  return filter.decision !== "all" || filter.rating !== "all" || filter.issue !== "all" || filter.cloud !== "all";
}

export function decisionOf(photo: PhotoRecord): string {
  return isDecision(photo.status) ? photo.status : UNDECIDED;
}

export function issuesOf(photo: PhotoRecord): string[] {
  if (Array.isArray(photo.issues)) return photo.issues;
  return Array.isArray(photo.result?.issues) ? photo.result.issues : [];
}

export function reviewReasonsOf(photo: PhotoRecord): string[] {
  const reasons = photo.result?.reviewReasons;
  return Array.isArray(reasons) ? reasons.filter((r): r is string => typeof r === "string") : [];
}

export function isAnalysed(photo: PhotoRecord): boolean {
  return !!photo.result && (typeof photo.result.algorithmVersion === "number" || typeof photo.result.error === "string");
}

// The local analysis and the cloud disagree when the cloud keeps a photo in which the local
// analysis found a problem, or rejects one that the local analysis found clean and without a
// doubt. Undecided verdicts and unanalysed photos disagree with nothing.
export function cloudDisagrees(photo: PhotoRecord, verdict: CloudVerdict): boolean {
  if (!isAnalysed(photo) || typeof photo.result?.error === "string") return false;
  const issues = issuesOf(photo).length;
  if (verdict.decision === "保留") return issues > 0;
  if (verdict.decision === "淘汰") return issues === 0 && reviewReasonsOf(photo).length === 0;
  return false;
}

function matchesCloud(photo: PhotoRecord, filter: CloudFilter): boolean {
  if (filter === "all") return true;
  const record = cloudRecordOf(photo);
  if (filter === "none" || filter === "unreadable") return record.kind === filter;
  if (record.kind !== "verdict") return false;
  return filter === "disagree" ? cloudDisagrees(photo, record.verdict) : record.verdict.decision === filter;
}

export function matchesFilter(photo: PhotoRecord, filter: Filter): boolean {
  if (filter.decision !== "all" && decisionOf(photo) !== filter.decision) return false;
  if (!matchesCloud(photo, filter.cloud)) return false;
  const stars = photo.rating ?? 0;
  if (filter.rating === "unrated" && stars !== 0) return false;
  if (typeof filter.rating === "number" && stars < filter.rating) return false;
  switch (filter.issue) {
    case "all":
      return true;
    case "需复核":
      return reviewReasonsOf(photo).length > 0;
    case "无问题":
      return isAnalysed(photo) && !photo.result?.error && issuesOf(photo).length === 0;
    case "未分析":
      return !isAnalysed(photo);
    default:
      return issuesOf(photo).includes(filter.issue);
  }
}

export interface DecisionCounts {
  保留: number;
  待定: number;
  淘汰: number;
  未决定: number;
  rated: number;
  total: number;
}

export function countDecisions(photos: readonly PhotoRecord[]): DecisionCounts {
  const counts: DecisionCounts = { 保留: 0, 待定: 0, 淘汰: 0, 未决定: 0, rated: 0, total: photos.length };
  for (const photo of photos) {
    counts[decisionOf(photo) as keyof DecisionCounts]++;
    if ((photo.rating ?? 0) > 0) counts.rated++;
  }
  return counts;
}

// One cell of the grid: a photo, and for the shown frame of a collapsed burst the number of
// frames it stands for.
export interface GridItem {
  photo: PhotoRecord;
  stackSize: number;
}

// The photos the grid shows, in project order. With bursts collapsed each group shows one
// frame (its best, else its first matching frame) unless the user expanded that group.
export function visibleItems(
  photos: readonly PhotoRecord[],
  filter: Filter,
  collapseBursts: boolean,
  expandedGroups: ReadonlySet<string>,
): GridItem[] {
  const matching = photos.filter((photo) => matchesFilter(photo, filter));
  if (!collapseBursts) return matching.map((photo) => ({ photo, stackSize: 1 }));
  const groupSize = new Map<string, number>();
  const representative = new Map<string, PhotoRecord>();
  for (const photo of matching) {
    if (!photo.group || expandedGroups.has(photo.group)) continue;
    groupSize.set(photo.group, (groupSize.get(photo.group) ?? 0) + 1);
    const current = representative.get(photo.group);
    if (!current || (photo.best && !current.best)) representative.set(photo.group, photo);
  }
  const items: GridItem[] = [];
  for (const photo of matching) {
    if (!photo.group || expandedGroups.has(photo.group)) {
      items.push({ photo, stackSize: 1 });
    } else if (representative.get(photo.group) === photo) {
      items.push({ photo, stackSize: groupSize.get(photo.group) ?? 1 });
    }
  }
  return items;
}
