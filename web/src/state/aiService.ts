import { signal } from "@preact/signals";
import type { PostAction } from "../bridge/native";
import { isObject, type JsonObject } from "./json";

// The AI service's configuration as the program reports it. The key itself never comes back:
// the program reports only whether one is stored and a masked form of it. Fields of the wrong
// type are unknown (null), so a malformed report never reads as a configured service.
export interface AIServiceState {
  configured: boolean | null;
  maskedKey: string | null;
  baseURL: string;
  model: string;
  status: string | null;
  detail: string;
}

// The one status word that means the service answered with API data.
export const AI_STATUS_OK = "连接正常";

function maybeString(object: JsonObject, key: string): string | null {
  const value = object[key];
  return typeof value === "string" ? value : null;
}

export function readAIServiceState(payload: unknown): AIServiceState | null {
  if (!isObject(payload) || !Object.keys(payload).length) return null;
  return {
    configured: typeof payload.configured === "boolean" ? payload.configured : null,
    maskedKey: maybeString(payload, "maskedKey"),
    baseURL: maybeString(payload, "baseURL") ?? "",
    model: maybeString(payload, "model") ?? "",
    status: maybeString(payload, "status"),
    detail: maybeString(payload, "detail") ?? "",
  };
}

export class AIService {
  readonly state = signal<AIServiceState | null>(null);
  // A connection check is under way: the program answers only when the probe is done.
  readonly checking = signal(false);

  constructor(private readonly post: PostAction) {}

  // Every report replaces the last one, whichever request it answers: each is a whole snapshot.
  report(payload: unknown): void {
    const state = readAIServiceState(payload);
    if (state) this.state.value = state;
    this.checking.value = false;
  }

  // An empty key leaves the stored one as it is, so saving a new address needs no key again.
  save(apiKey: string, baseURL: string, model: string): void {
    this.post({ action: "saveGRSAISettings", apiKey: apiKey.trim(), baseURL: baseURL.trim(), model: model.trim() });
  }

  test(): void {
    if (this.checking.value) return;
    this.checking.value = true;
    this.post({ action: "testGRSAIConnection" });
  }
}
