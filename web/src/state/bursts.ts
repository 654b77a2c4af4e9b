import type { PhotoRecord } from "./types";
import { captureGap, captureTimeline, type CaptureData } from "./captureData";
import { issuesOf, reviewReasonsOf } from "./filters";

// Frames of one burst look nearly alike (their 64-bit difference hashes differ in few bits)
// and were written within moments of each other. Dates have whole-second resolution, so a
// gap of two seconds still joins frames shot at a few frames per second.
export const BURST_MAX_HASH_BITS = 12;
export const BURST_MAX_GAP_SECONDS = 2;

const HEX64 = /^[0-9a-fA-F]{16}$/;

export function hashDistance(a: unknown, b: unknown): number | null {
  if (typeof a !== "string" || typeof b !== "string" || !HEX64.test(a) || !HEX64.test(b)) return null;
  let bits = 0;
  for (let i = 0; i < 16; i += 8) {
    let x = (parseInt(a.slice(i, i + 8), 16) ^ parseInt(b.slice(i, i + 8), 16)) >>> 0;
    while (x) {
      x &= x - 1;
      bits++;
    }
  }
  return bits;
}

// Dates are local wall-clock times without a zone ("yyyy-MM-ddTHH:mm:ss"); only their
// differences matter, so they are read as UTC to avoid daylight-saving jumps.
export function dateSeconds(date: unknown): number | null {
  if (typeof date !== "string") return null;
  const match = /^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})/.exec(date);
  if (!match) return null;
  const [, y, mo, d, h, mi, s] = match.map(Number);
  return Date.UTC(y, mo - 1, d, h, mi, s) / 1000;
}

function belongTogether(previous: PhotoRecord, next: PhotoRecord, capture: ReadonlyMap<string, CaptureData>): boolean {
  const distance = hashDistance(previous.result?.hash, next.result?.hash);
  if (distance === null || distance > BURST_MAX_HASH_BITS) return false;
  // Capture times where both frames have one (to the sub-second), else the files' dates: the
  // two are not on one line.
  const captured = captureGap(capture.get(previous.id), capture.get(next.id));
  if (captured !== null) return captured <= BURST_MAX_GAP_SECONDS;
  const a = dateSeconds(previous.date);
  const b = dateSeconds(next.date);
  return a !== null && b !== null && Math.abs(b - a) <= BURST_MAX_GAP_SECONDS;
}

// Two bodies at one wedding take near-alike frames at the same moment, and their frames
// interleave in time; a burst is one body's run of frames.
function bodyOf(photo: PhotoRecord, capture: ReadonlyMap<string, CaptureData>): string {
  const data = capture.get(photo.id);
  return data?.camera ? `${data.camera}\u0000${data.serial ?? ""}` : "";
}

// How good a frame is by the local analysis: found issues weigh most, then review reasons,
// then a sharp face, then overall sharpness. Closed eyes sink a frame of a burst.
export function frameScore(photo: PhotoRecord): number {
  const result = photo.result;
  if (!result || typeof result.error === "string") return -1000;
  let score = 0;
  score -= 10 * issuesOf(photo).length;
  score -= 3 * reviewReasonsOf(photo).length;
  score -= 5 * (typeof result.closedEyes === "number" ? result.closedEyes : 0);
  if (typeof result.faceFocusScore === "number" && result.faceFocusScore >= 0) score += 2 * result.faceFocusScore;
  if (typeof result.sharpness === "number") score += Math.min(result.sharpness / 400, 1);
  if (typeof result.confidence === "number") score += 0.5 * result.confidence;
  return score;
}

// Forms burst groups over consecutive photos and labels them "B1", "B2", … Photos follow each
// other by capture time where every photo has one, else in project order; the records keep
// project order. Only runs of two or more frames form a group; every other photo loses an old
// label. The best frame of each group is marked with best = true.
export function groupBursts(
  photos: readonly PhotoRecord[],
  capture: ReadonlyMap<string, CaptureData> = new Map(),
): { photos: PhotoRecord[]; groups: number } {
  const sequence = photos.map((_, i) => i);
  const line = captureTimeline(photos, capture);
  if (line) sequence.sort((a, b) => line.get(photos[a].id)! - line.get(photos[b].id)! || a - b);
  const runs: number[][] = [];
  const open = new Map<string, number[]>();
  for (const i of sequence) {
    const body = bodyOf(photos[i], capture);
    const run = open.get(body);
    if (run && belongTogether(photos[run[run.length - 1]], photos[i], capture)) {
      run.push(i);
    } else {
      if (run && run.length > 1) runs.push(run);
      open.set(body, [i]);
    }
  }
  for (const run of open.values()) if (run.length > 1) runs.push(run);
  // Labels follow the order the groups were shot in.
  const rank = new Map(sequence.map((i, n) => [i, n]));
  runs.sort((a, b) => rank.get(a[0])! - rank.get(b[0])!);

  const next = photos.map((photo) => {
    if (photo.group === undefined && photo.best === undefined) return photo;
    const cleared = { ...photo };
    delete cleared.group;
    delete cleared.best;
    return cleared;
  });
  runs.forEach((members, n) => {
    const label = `B${n + 1}`;
    let bestIndex = members[0];
    for (const i of members) if (frameScore(next[i]) > frameScore(next[bestIndex])) bestIndex = i;
    for (const i of members) {
      next[i] = { ...next[i], group: label };
      if (i === bestIndex) next[i].best = true;
    }
  });
  return { photos: next, groups: runs.length };
}
