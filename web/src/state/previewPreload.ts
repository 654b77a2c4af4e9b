// The loupe keeps the large previews of the photos around the one it shows made and decoded, so
// that a step lands on a sharp photo: two ahead in the direction of the last step, one behind.
export const PRELOAD_AHEAD = 2;
export const PRELOAD_BEHIND = 1;
// Previews being made at once, the shown photo's included: a 24 MP JPEG's preview takes a core for
// about 0.4 s, so more at once only share the cores, and the nearest photo would wait the longer.
export const PREVIEWS_IN_FLIGHT = 2;
// Decoded previews kept by the page: the shown one and its neighbours.
export const DECODED_KEPT = 1 + PRELOAD_AHEAD + PRELOAD_BEHIND;

export type StepDirection = 1 | -1;

// The neighbours of position `at` in `ordered`, nearest first, the direction of travel first.
export function previewNeighbours<T>(ordered: readonly T[], at: number, direction: StepDirection): T[] {
  if (at < 0) return [];
  const offsets = [
    ...Array.from({ length: PRELOAD_AHEAD }, (_, i) => (i + 1) * direction),
    ...Array.from({ length: PRELOAD_BEHIND }, (_, i) => -(i + 1) * direction),
  ];
  return offsets.filter((offset) => at + offset >= 0 && at + offset < ordered.length).map((offset) => ordered[at + offset]);
}

// The `capacity` entries kept most recently; an older one is dropped as a new one comes in.
export class RecentCache<V> {
  private readonly entries = new Map<string, V>();

  constructor(private readonly capacity: number) {}

  keep(key: string, make: () => V): V {
    const known = this.entries.get(key);
    this.entries.delete(key);
    const value = known ?? make();
    this.entries.set(key, value);
    for (const oldest of this.entries.keys()) {
      if (this.entries.size <= this.capacity) break;
      this.entries.delete(oldest);
    }
    return value;
  }

  keys(): string[] {
    return [...this.entries.keys()];
  }
}
