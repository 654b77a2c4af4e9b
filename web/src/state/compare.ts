import type { PhotoRecord } from "./types";

// Side by side: two to four photos at one zoom and one spot, the decision keys acting on the
// focused one (the current photo).
export const COMPARE_MIN = 2;
export const COMPARE_MAX = 4;

export interface CompareState {
  ids: readonly string[];
}

// What to compare: the selected photos (in the grid's order) when two to four are selected,
// else the current photo's burst — at most four of its frames, around the current one.
export function compareSet(
  selected: readonly string[],
  currentId: string | null,
  burst: readonly string[],
): string[] | null {
  if (selected.length >= COMPARE_MIN && selected.length <= COMPARE_MAX) return [...selected];
  if (selected.length > COMPARE_MAX || !currentId || burst.length < COMPARE_MIN) return null;
  const at = Math.max(0, burst.indexOf(currentId));
  const start = Math.max(0, Math.min(at - 1, burst.length - COMPARE_MAX));
  return burst.slice(start, start + COMPARE_MAX);
}

export function comparedPhotos(
  state: CompareState,
  index: ReadonlyMap<string, number>,
  photos: readonly PhotoRecord[],
): PhotoRecord[] {
  const found: PhotoRecord[] = [];
  for (const id of state.ids) {
    const i = index.get(id);
    if (i !== undefined) found.push(photos[i]);
  }
  return found;
}

// The next focus with Tab (step 1) or Shift+Tab (-1), round the compared photos; from a
// photo outside them, the first.
export function stepFocus(ids: readonly string[], currentId: string | null, step: number): string | null {
  if (!ids.length) return null;
  const at = currentId ? ids.indexOf(currentId) : -1;
  if (at < 0) return ids[0];
  return ids[(at + step + ids.length) % ids.length];
}
