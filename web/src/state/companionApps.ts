import { signal } from "@preact/signals";
import type { PostAction } from "../bridge/native";
import { isObject, stringField } from "./json";

// The retouching applications a photographer goes on to after culling. The program looks for
// them and launches them; the page only shows what it found and asks it to open one.
export const COMPANION_APPS = ["photoshop", "pixcake"] as const;
export type CompanionAppKey = (typeof COMPANION_APPS)[number];

export interface CompanionApp {
  // null: the report did not say, and the app is shown as unknown.
  installed: boolean | null;
  name: string;
}

export interface AppOpenAnswer {
  success: boolean;
  name: string;
  message: string;
}

const TEXT_MAX_LENGTH = 300;

// The program reports 1 or 0; a boolean means the same.
function readInstalled(value: unknown): boolean | null {
  if (value === 1 || value === true) return true;
  if (value === 0 || value === false) return false;
  return null;
}

export function readCompanionApps(payload: unknown): Record<CompanionAppKey, CompanionApp | null> | null {
  if (!isObject(payload)) return null;
  const apps = {} as Record<CompanionAppKey, CompanionApp | null>;
  for (const key of COMPANION_APPS) {
    const entry = payload[key];
    apps[key] = isObject(entry)
      ? { installed: readInstalled(entry.installed), name: stringField(entry, "name").slice(0, TEXT_MAX_LENGTH) }
      : null;
  }
  return apps;
}

export class CompanionApps {
  readonly apps = signal<Record<CompanionAppKey, CompanionApp | null> | null>(null);
  readonly opened = signal<AppOpenAnswer | null>(null);
  // Open answers carry no token; they come in the order asked, and only awaited ones are taken.
  private opensAwaited = 0;

  constructor(private readonly post: PostAction) {}

  report(payload: unknown): void {
    const apps = readCompanionApps(payload);
    if (apps) this.apps.value = apps;
  }

  open(app: CompanionAppKey): void {
    this.opensAwaited++;
    this.post({ action: "openWorkflowApp", app });
  }

  openAnswer(payload: unknown): void {
    if (!this.opensAwaited || !isObject(payload)) return;
    this.opensAwaited--;
    this.opened.value = {
      success: payload.success === true,
      name: stringField(payload, "name").slice(0, TEXT_MAX_LENGTH),
      message: stringField(payload, "message").slice(0, TEXT_MAX_LENGTH),
    };
  }
}
