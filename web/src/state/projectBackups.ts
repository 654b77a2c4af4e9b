import { isObject, stringField } from "./json";

// The automatic backups the program makes of the current project before every import and every
// archive opened, so that a photographer can go back to the shoot just replaced. The program
// lists them newest first; the page shows them and opens one only by the name it was given.
export interface ProjectBackup {
  name: string;
  // Seconds since 1970.
  savedAt: number;
  bytes: number;
  // null when the program could not read the file as a project.
  photos: number | null;
  readable: boolean;
}

// The program lists 50; a longer list is cut rather than drawn.
export const BACKUPS_SHOWN_MAX = 50;

// A backup's own file name: nothing that could name another folder or a hidden file.
function isBackupName(name: string): boolean {
  return name.length > 5 && name.length <= 255 && !name.startsWith(".") && !name.includes("/") && name.endsWith(".json");
}

function wholeCount(value: unknown): number | null {
  return typeof value === "number" && Number.isInteger(value) && value >= 0 ? value : null;
}

export function readProjectBackups(payload: unknown): ProjectBackup[] | null {
  if (!isObject(payload) || !Array.isArray(payload.backups)) return null;
  const backups: ProjectBackup[] = [];
  for (const entry of payload.backups) {
    if (!isObject(entry)) continue;
    const name = stringField(entry, "name");
    const savedAt = entry.savedAt;
    if (!isBackupName(name) || typeof savedAt !== "number" || !Number.isFinite(savedAt) || savedAt < 0) continue;
    const photos = wholeCount(entry.photos);
    // Openable only when the program read it as a project and counted its photos.
    const readable = entry.readable === true && photos !== null;
    backups.push({ name, savedAt, bytes: wholeCount(entry.bytes) ?? 0, photos: readable ? photos : null, readable });
    if (backups.length === BACKUPS_SHOWN_MAX) break;
  }
  return backups;
}
