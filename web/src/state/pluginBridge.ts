import { isObject, type JsonObject } from "./json";

// What the settings show of the plug-in server. The program's report is read field by field:
// a field of the wrong type becomes null and is shown as unknown, so a malformed report can
// never pass for a running server or a connected plug-in.
export interface AIServiceSummary {
  configured: boolean | null;
  model: string | null;
  status: string | null;
  detail: string;
}

export interface BridgeStatus {
  listening: boolean | null;
  connected: boolean | null;
  connectedCount: number | null;
  port: number | null;
  saveLocation: string | null;
  grsAI: AIServiceSummary | null;
  error: string;
}

function maybeBool(object: JsonObject, key: string): boolean | null {
  const value = object[key];
  return typeof value === "boolean" ? value : null;
}

function maybeString(object: JsonObject, key: string): string | null {
  const value = object[key];
  return typeof value === "string" ? value : null;
}

function maybeCount(object: JsonObject, key: string, max: number): number | null {
  const value = object[key];
  return typeof value === "number" && Number.isInteger(value) && value >= 0 && value <= max ? value : null;
}

function readAIService(value: unknown): AIServiceSummary | null {
  if (!isObject(value) || !Object.keys(value).length) return null;
  return {
    configured: maybeBool(value, "configured"),
    model: maybeString(value, "model"),
    status: maybeString(value, "status"),
    detail: maybeString(value, "detail") ?? "",
  };
}

// null stands for "the plug-in service is not running": nothing reported yet, or an empty
// report, which is what a program that never started its server (test mode) sends.
export function readBridgeStatus(payload: unknown): BridgeStatus | null {
  if (!isObject(payload) || !Object.keys(payload).length) return null;
  return {
    listening: maybeBool(payload, "listening"),
    connected: maybeBool(payload, "connected"),
    connectedCount: maybeCount(payload, "connectedCount", 1_000_000),
    port: maybeCount(payload, "port", 65535),
    saveLocation: maybeString(payload, "saveLocation"),
    grsAI: readAIService(payload.grsAI),
    error: maybeString(payload, "error") ?? "",
  };
}

// How many plug-ins are connected; an older report carries only the "connected" flag, which
// still tells none from some.
export function connectedPlugins(status: BridgeStatus): number | "some" | null {
  if (status.connectedCount !== null) return status.connectedCount;
  if (status.connected === null) return null;
  return status.connected ? "some" : 0;
}
