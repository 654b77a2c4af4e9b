import { NATIVE_CALLBACK_NAMES, type NativeCallbackName, type NativeHandlers } from "./callbackNames";

export type ActionBody = { action: string } & Record<string, unknown>;
export type PostAction = (body: ActionBody) => void;

interface NativeMessageHandler {
  postMessage(body: unknown): void;
}

declare global {
  interface Window {
    webkit?: { messageHandlers?: { native?: NativeMessageHandler } };
    Native?: Record<NativeCallbackName, (payload: unknown) => void>;
  }
}

// Posts one action to the program. Outside the program (a plain browser) there is no
// handler; the page then works as a static view and the message is dropped.
export const postToNative: PostAction = (body) => {
  const handler = window.webkit?.messageHandlers?.native;
  if (!handler) {
    console.warn("岚舟: no native message handler for", body.action);
    return;
  }
  handler.postMessage(body);
};

// Defines window.Native with every callback. The program may send null for any payload
// and never observes script errors, so each callback swallows and logs its own failure
// instead of leaving the page half-updated without a trace.
export function installNative(handlers: NativeHandlers): Record<NativeCallbackName, (payload: unknown) => void> {
  const native = {} as Record<NativeCallbackName, (payload: unknown) => void>;
  for (const name of NATIVE_CALLBACK_NAMES) {
    native[name] = (payload: unknown) => {
      const handler = handlers[name];
      if (!handler) return;
      try {
        handler(payload === undefined ? null : payload);
      } catch (error) {
        console.error(`岚舟: window.Native.${name} failed`, error);
      }
    };
  }
  window.Native = native;
  return native;
}
