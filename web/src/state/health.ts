import { isObject, stringField } from "./json";

// The program's self-check, as the health panel lists it: rows in the order received. A row's
// "ok" comes as a boolean, or as 1 / 0 for the local model row; anything else is unknown.
export interface HealthRow {
  name: string;
  ok: boolean | null;
  message: string;
}

export interface HealthReport {
  version: string;
  build: string;
  rows: HealthRow[];
}

// The program sends five rows; a few more are still listed, a flood is not.
const MAX_ROWS = 50;

function readOk(value: unknown): boolean | null {
  if (value === true || value === 1) return true;
  if (value === false || value === 0) return false;
  return null;
}

export function readHealthReport(payload: unknown): HealthReport | null {
  if (!isObject(payload) || !Array.isArray(payload.rows)) return null;
  const rows = payload.rows
    .filter(isObject)
    .slice(0, MAX_ROWS)
    .map((row) => ({ name: stringField(row, "name"), ok: readOk(row.ok), message: stringField(row, "message") }));
  return { version: stringField(payload, "version"), build: stringField(payload, "build"), rows };
}
