import { signal } from "@preact/signals";
import type { ActionBody, PostAction } from "../bridge/native";
import { T } from "../texts";
import { isObject, numberField, stringField } from "./json";

// The face batch: one template pair (before and after the user's own retouch) and a queue of
// portraits. The program handles one item per request, so the page drives the queue: the next
// item is sent only when the current one has finished or failed, and only answers carrying the
// current item's id are taken.

export type TemplateStage = "before" | "after";

export interface TemplateImage {
  name: string;
  path: string;
  preview: string;
}

export type FaceItemState = "queued" | "running" | "done" | "failed";

export interface FaceItem {
  id: string;
  name: string;
  path: string;
  thumbnail: string;
  state: FaceItemState;
  progress: number;
  stage: string;
  message: string;
  resultName: string;
  // Where the finished image was saved; empty when the program named no absolute path.
  resultPath: string;
}

// The folder holding a saved file, for showing it in the file manager.
export function folderOf(path: string): string {
  if (!path.startsWith("/")) return "";
  return path.slice(0, path.lastIndexOf("/")) || "/";
}

export type ImageSize = "1K" | "2K" | "4K";
export const IMAGE_SIZES: readonly ImageSize[] = ["1K", "2K", "4K"];

export interface FaceBatchState {
  before: TemplateImage | null;
  after: TemplateImage | null;
  items: FaceItem[];
  currentId: string | null;
  prompt: string;
  imageSize: ImageSize;
}

function readTemplate(value: unknown): TemplateImage | null {
  if (!isObject(value)) return null;
  const path = stringField(value, "path");
  const preview = stringField(value, "preview");
  if (!path.startsWith("/") || !preview.startsWith("data:image/")) return null;
  return { name: stringField(value, "name") || path.slice(path.lastIndexOf("/") + 1), path, preview };
}

export function readQueueItems(payload: unknown): FaceItem[] {
  if (!isObject(payload) || !Array.isArray(payload.items)) return [];
  const items: FaceItem[] = [];
  for (const raw of payload.items) {
    if (!isObject(raw)) continue;
    const id = stringField(raw, "id");
    const path = stringField(raw, "path");
    if (!id || !path.startsWith("/")) continue;
    const thumbnail = stringField(raw, "thumbnail");
    items.push({
      id,
      path,
      name: stringField(raw, "name") || path.slice(path.lastIndexOf("/") + 1),
      thumbnail: thumbnail.startsWith("file:///") ? thumbnail : "",
      state: "queued",
      progress: 0,
      stage: "",
      message: "",
      resultName: "",
      resultPath: "",
    });
  }
  return items;
}

export class FaceBatch {
  readonly state = signal<FaceBatchState>({ before: null, after: null, items: [], currentId: null, prompt: "", imageSize: "2K" });

  constructor(
    private readonly post: PostAction,
    private readonly say: (text: string) => void,
  ) {}

  private update(change: Partial<FaceBatchState>): void {
    this.state.value = { ...this.state.value, ...change };
  }

  private updateItem(id: string, change: Partial<FaceItem>): void {
    this.update({ items: this.state.value.items.map((item) => (item.id === id ? { ...item, ...change } : item)) });
  }

  running(): boolean {
    return this.state.value.currentId !== null;
  }

  chooseTemplate(stage: TemplateStage): void {
    if (!this.running()) this.post({ action: "chooseFaceTemplateImage", stage });
  }

  templateSelected(payload: unknown): void {
    if (!isObject(payload) || this.running()) return;
    const stage = payload.stage;
    const image = readTemplate(payload.image);
    if ((stage !== "before" && stage !== "after") || !image) return;
    this.update(stage === "before" ? { before: image } : { after: image });
  }

  choosePhotos(): void {
    this.post({ action: "chooseFaceBatchPhotos" });
  }

  // New photos join the end of the queue, also while it runs; a photo already waiting is not
  // queued twice.
  photosSelected(payload: unknown): void {
    const waiting = new Set(this.state.value.items.filter((item) => item.state === "queued").map((item) => item.path));
    const known = new Set(this.state.value.items.map((item) => item.id));
    const added = readQueueItems(payload).filter((item) => !waiting.has(item.path) && !known.has(item.id));
    if (added.length) this.update({ items: [...this.state.value.items, ...added] });
  }

  removeItem(id: string): void {
    if (id === this.state.value.currentId) return;
    this.update({ items: this.state.value.items.filter((item) => item.id !== id) });
  }

  setOptions(change: Partial<Pick<FaceBatchState, "prompt" | "imageSize">>): void {
    this.update(change);
  }

  canStart(): boolean {
    const { before, after, items } = this.state.value;
    return !this.running() && !!before && !!after && items.some((item) => item.state === "queued" || item.state === "failed");
  }

  // Failed items are tried again with the queued ones.
  start(): void {
    if (!this.canStart()) return;
    this.update({
      items: this.state.value.items.map((item) =>
        item.state === "failed" ? { ...item, state: "queued", message: "", progress: 0, stage: "" } : item,
      ),
    });
    this.sendNext();
  }

  private sendNext(): void {
    const { items, before, after, prompt, imageSize } = this.state.value;
    const next = items.find((item) => item.state === "queued");
    if (!next || !before || !after) {
      this.update({ currentId: null });
      const done = items.filter((item) => item.state === "done").length;
      const failed = items.filter((item) => item.state === "failed").length;
      this.say(T.faceBatchFinished(done, failed));
      return;
    }
    this.update({ currentId: next.id });
    this.updateItem(next.id, { state: "running", progress: 0, stage: "", message: "" });
    const body: ActionBody = {
      action: "generateFaceBatchItem",
      item: { id: next.id, path: next.path },
      template: { before: { path: before.path }, after: { path: after.path } },
      imageSize,
    };
    if (prompt.trim()) body.prompt = prompt.trim();
    this.post(body);
  }

  progress(payload: unknown): void {
    if (!isObject(payload) || payload.id !== this.state.value.currentId || !this.running()) return;
    this.updateItem(payload.id as string, {
      progress: Math.max(0, Math.min(100, numberField(payload, "progress"))),
      stage: stringField(payload, "stage"),
      message: stringField(payload, "detail"),
    });
  }

  complete(payload: unknown): void {
    if (!isObject(payload) || payload.id !== this.state.value.currentId || !this.running()) return;
    const result = isObject(payload.result) ? payload.result : {};
    const filePath = folderOf(stringField(result, "filePath")) ? stringField(result, "filePath") : "";
    this.updateItem(payload.id as string, { state: "done", progress: 100, stage: "", message: "", resultName: stringField(result, "fileName"), resultPath: filePath });
    this.sendNext();
  }

  // One failed photo does not stop the batch.
  failed(payload: unknown): void {
    if (!isObject(payload) || payload.id !== this.state.value.currentId || !this.running()) return;
    this.updateItem(payload.id as string, { state: "failed", stage: "", message: stringField(payload, "message") || T.faceItemFailed });
    this.sendNext();
  }

  // The program drops everything the cancelled item would still report; the item waits again.
  cancel(): void {
    const id = this.state.value.currentId;
    if (id === null) return;
    this.post({ action: "cancelFaceBatchGeneration" });
    this.updateItem(id, { state: "queued", progress: 0, stage: "", message: T.faceItemStopped });
    this.update({ currentId: null });
    this.say(T.faceBatchStopped);
  }
}
