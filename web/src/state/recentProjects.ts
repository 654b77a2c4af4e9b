import { isObject, numberField, stringField } from "./json";

// Projects the photographer saved to or opened from an archive, newest first. They live in the
// stored project state, which the program writes atomically and hands back at every start, and
// the page carries the list over when an archive replaces the project. The program does not say
// where an archive lies, so an entry names the shoot and when; reopening goes through the
// program's open panel, which starts among the automatic backups of replaced projects.
export interface RecentProject {
  name: string;
  photos: number;
  at: string;
  how: "saved" | "opened";
}

export const RECENT_PROJECTS_MAX = 8;
const NAME_MAX_LENGTH = 200;

export function readRecentProjects(raw: unknown): RecentProject[] {
  if (!Array.isArray(raw)) return [];
  const entries: RecentProject[] = [];
  for (const item of raw) {
    if (!isObject(item)) continue;
    const name = stringField(item, "name").slice(0, NAME_MAX_LENGTH);
    const at = stringField(item, "at");
    const how = item.how;
    if (!name || Number.isNaN(Date.parse(at)) || (how !== "saved" && how !== "opened")) continue;
    entries.push({ name, photos: Math.max(0, Math.round(numberField(item, "photos"))), at, how });
    if (entries.length === RECENT_PROJECTS_MAX) break;
  }
  return entries;
}

// The entry goes to the top; an older entry of the same shoot is dropped.
export function addRecentProject(list: readonly RecentProject[], entry: RecentProject): RecentProject[] {
  return [entry, ...list.filter((old) => old.name !== entry.name)].slice(0, RECENT_PROJECTS_MAX);
}
