import type { Decision, PhotoRecord } from "./types";
import { clampRating } from "./project";
import { cloudVerdictOf } from "./cloudReview";

// What one user step changed, so Ctrl+Z can put it back exactly.
export interface UndoEntry {
  before: Array<{ id: string; status?: Decision; rating?: number; best?: boolean }>;
  // What the step changed: decisions and ratings, or with "best" the best-frame mark of a burst.
  field?: "best";
  // What the step did, as the status line names it when the step is undone.
  label?: string;
  // A step undo cannot reverse (photos moved to the trash). Undo stops there and says so rather
  // than reach past it to an older step.
  final?: boolean;
}

export const UNDO_LIMIT = 200;

export function indexById(photos: readonly PhotoRecord[]): Map<string, number> {
  const index = new Map<string, number>();
  photos.forEach((photo, i) => index.set(photo.id, i));
  return index;
}

function applyToPhotos(
  photos: PhotoRecord[],
  ids: readonly string[],
  change: (photo: PhotoRecord) => PhotoRecord | null,
): { photos: PhotoRecord[]; undo: UndoEntry | null } {
  const index = indexById(photos);
  let next: PhotoRecord[] | null = null;
  const before: UndoEntry["before"] = [];
  for (const id of ids) {
    const i = index.get(id);
    if (i === undefined) continue;
    const current = (next ?? photos)[i];
    const updated = change(current);
    if (!updated) continue;
    next ??= photos.slice();
    next[i] = updated;
    before.push({ id, status: current.status, rating: current.rating });
  }
  return next ? { photos: next, undo: { before } } : { photos, undo: null };
}

// Sets (or with null clears) the decision of the given photos. Photos that already carry
// the decision are left alone so that undo restores only real changes.
export function setDecision(
  photos: PhotoRecord[],
  ids: readonly string[],
  decision: Decision | null,
): { photos: PhotoRecord[]; undo: UndoEntry | null } {
  return applyToPhotos(photos, ids, (photo) => {
    if ((photo.status ?? null) === decision) return null;
    const updated = { ...photo };
    if (decision) updated.status = decision;
    else delete updated.status;
    return updated;
  });
}

export function setRating(
  photos: PhotoRecord[],
  ids: readonly string[],
  rating: number,
): { photos: PhotoRecord[]; undo: UndoEntry | null } {
  const stars = clampRating(rating);
  return applyToPhotos(photos, ids, (photo) => {
    if ((photo.rating ?? 0) === stars && photo.rating !== undefined) return null;
    return { ...photo, rating: stars };
  });
}

// Takes the cloud's decision and rating for the given photos. Photos without a usable verdict,
// or already carrying it, are left alone.
export function acceptCloudVerdicts(
  photos: PhotoRecord[],
  ids: readonly string[],
): { photos: PhotoRecord[]; undo: UndoEntry | null } {
  return applyToPhotos(photos, ids, (photo) => {
    const verdict = cloudVerdictOf(photo);
    if (!verdict || (photo.status === verdict.decision && photo.rating === verdict.rating)) return null;
    return { ...photo, status: verdict.decision, rating: verdict.rating };
  });
}

// Marks `winnerId` as the best frame of its burst group and unmarks the group's other frames.
export function markBestFrame(photos: PhotoRecord[], winnerId: string): { photos: PhotoRecord[]; undo: UndoEntry | null } {
  const group = photos.find((photo) => photo.id === winnerId)?.group;
  if (!group) return { photos, undo: null };
  let next: PhotoRecord[] | null = null;
  const before: UndoEntry["before"] = [];
  photos.forEach((photo, i) => {
    if (photo.group !== group || (photo.best === true) === (photo.id === winnerId)) return;
    next ??= photos.slice();
    const updated = { ...photo };
    if (photo.id === winnerId) updated.best = true;
    else delete updated.best;
    next[i] = updated;
    before.push({ id: photo.id, best: photo.best === true });
  });
  // The winner first, so undo returns to it.
  before.sort((a, b) => Number(b.id === winnerId) - Number(a.id === winnerId));
  return next ? { photos: next, undo: { before, field: "best" } } : { photos, undo: null };
}

export function applyUndo(photos: PhotoRecord[], entry: UndoEntry): PhotoRecord[] {
  const index = indexById(photos);
  const next = photos.slice();
  for (const saved of entry.before) {
    const i = index.get(saved.id);
    if (i === undefined) continue; // the photo was trashed since; nothing to restore
    const updated = { ...next[i] };
    if (entry.field === "best") {
      if (saved.best) updated.best = true;
      else delete updated.best;
      next[i] = updated;
      continue;
    }
    if (saved.status) updated.status = saved.status;
    else delete updated.status;
    if (saved.rating !== undefined) updated.rating = saved.rating;
    else delete updated.rating;
    next[i] = updated;
  }
  return next;
}

export function pushUndo(stack: readonly UndoEntry[], entry: UndoEntry | null): UndoEntry[] {
  if (!entry) return stack as UndoEntry[];
  const next = [...stack, entry];
  return next.length > UNDO_LIMIT ? next.slice(next.length - UNDO_LIMIT) : next;
}
