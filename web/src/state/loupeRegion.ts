import { isObject } from "./json";

// The loupe at 100 % and 200 % shows the photo's own pixels: the program cuts the visible part
// (plus a margin, so small pans need nothing new) out of the full-resolution upright photo.

export interface PixelSize {
  width: number;
  height: number;
}

export interface PixelRect {
  x: number;
  y: number;
  width: number;
  height: number;
}

export interface Viewport extends PixelSize {
  dpr: number;
}

export type RegionScale = 1 | 2;

export interface RegionAnswer extends PixelRect {
  id: string;
  url: string;
  scale: RegionScale;
  photo: PixelSize;
}

// A quarter of the view on each side; edges snapped to this many photo pixels, so that a pan
// within the margin asks again for the same region, which the program has cached.
export const REGION_MARGIN = 0.25;
export const REGION_SNAP = 128;
// The program refuses larger regions; far more than any screen shows at 100 %.
export const REGION_MAX_SIDE = 8192;

// Where the image's top-left corner goes so that the focus point (image fractions) sits in
// the middle of the view, without showing empty space past an edge that is larger than
// the view. An image smaller than the view is centred.
export function actualSizeOffset(view: number, image: number, focus: number): number {
  if (image <= view) return (view - image) / 2;
  const offset = view / 2 - focus * image;
  return Math.max(view - image, Math.min(0, offset));
}

// CSS pixels per photo pixel: at 100 % one photo pixel is one device pixel.
export function cssPerPixel(scale: RegionScale, viewport: Viewport): number {
  return scale / (viewport.dpr || 1);
}

// Where the whole photo sits in the view (CSS pixels) at this zoom and focus.
export function photoPlacement(viewport: Viewport, photo: PixelSize, scale: RegionScale, focusX: number, focusY: number) {
  const s = cssPerPixel(scale, viewport);
  const width = photo.width * s;
  const height = photo.height * s;
  return {
    left: actualSizeOffset(viewport.width, width, focusX),
    top: actualSizeOffset(viewport.height, height, focusY),
    width,
    height,
    perPixel: s,
  };
}

// Where a photo of this shape sits when fitted into the view (letterboxed, centred).
export function fittedPlacement(view: PixelSize, shape: PixelSize) {
  const fit = Math.min(view.width / shape.width, view.height / shape.height);
  const width = shape.width * fit;
  const height = shape.height * fit;
  return { left: (view.width - width) / 2, top: (view.height - height) / 2, width, height };
}

// The focus as the view really shows it: near an edge the placement holds the photo back, and
// a pan from there starts from what is seen, not from the asked-for point past it.
export function shownFocus(viewport: Viewport, photo: PixelSize, scale: RegionScale, focusX: number, focusY: number) {
  const place = photoPlacement(viewport, photo, scale, focusX, focusY);
  return {
    x: (viewport.width / 2 - place.left) / place.width,
    y: (viewport.height / 2 - place.top) / place.height,
    perPixel: place.perPixel,
  };
}

// The part of the photo the view shows, in photo pixels.
export function visibleRect(viewport: Viewport, photo: PixelSize, scale: RegionScale, focusX: number, focusY: number): PixelRect {
  const place = photoPlacement(viewport, photo, scale, focusX, focusY);
  const x0 = Math.max(0, Math.floor(-place.left / place.perPixel));
  const y0 = Math.max(0, Math.floor(-place.top / place.perPixel));
  const x1 = Math.min(photo.width, Math.ceil((viewport.width - place.left) / place.perPixel));
  const y1 = Math.min(photo.height, Math.ceil((viewport.height - place.top) / place.perPixel));
  return { x: x0, y: y0, width: Math.max(0, x1 - x0), height: Math.max(0, y1 - y0) };
}

// The region to ask for: the visible part with a margin, snapped, inside the photo.
export function regionFor(visible: PixelRect, photo: PixelSize): PixelRect {
  const marginX = Math.ceil(visible.width * REGION_MARGIN);
  const marginY = Math.ceil(visible.height * REGION_MARGIN);
  const snapDown = (v: number) => Math.max(0, Math.floor(v / REGION_SNAP) * REGION_SNAP);
  const x = snapDown(visible.x - marginX);
  const y = snapDown(visible.y - marginY);
  const right = Math.min(photo.width, Math.ceil((visible.x + visible.width + marginX) / REGION_SNAP) * REGION_SNAP);
  const bottom = Math.min(photo.height, Math.ceil((visible.y + visible.height + marginY) / REGION_SNAP) * REGION_SNAP);
  return { x, y, width: Math.min(REGION_MAX_SIDE, right - x), height: Math.min(REGION_MAX_SIDE, bottom - y) };
}

export function covers(outer: PixelRect, inner: PixelRect): boolean {
  return (
    inner.x >= outer.x &&
    inner.y >= outer.y &&
    inner.x + inner.width <= outer.x + outer.width &&
    inner.y + inner.height <= outer.y + outer.height
  );
}

export function sameRect(a: PixelRect, b: PixelRect): boolean {
  return a.x === b.x && a.y === b.y && a.width === b.width && a.height === b.height;
}

function whole(value: unknown, min: number): number | null {
  return typeof value === "number" && Number.isInteger(value) && value >= min && value <= 1_000_000 ? value : null;
}

// A photoRegion answer: an error, or a region lying inside the photo it names.
export function readRegionAnswer(payload: unknown): RegionAnswer | { id: string; error: string } | null {
  if (!isObject(payload) || typeof payload.id !== "string" || !payload.id) return null;
  const id = payload.id;
  if (typeof payload.error === "string") return { id, error: payload.error.slice(0, 200) };
  const [x, y, width, height, photoWidth, photoHeight] = ["x", "y", "width", "height", "photoWidth", "photoHeight"].map((key) =>
    whole(payload[key], key === "x" || key === "y" ? 0 : 1),
  );
  const scale = payload.scale;
  const url = payload.url;
  if (typeof url !== "string" || !/^(file:\/\/\/|data:image\/)/.test(url)) return null;
  if (x === null || y === null || width === null || height === null || photoWidth === null || photoHeight === null) return null;
  if (scale !== 1 && scale !== 2) return null;
  if (x + width > photoWidth || y + height > photoHeight) return null;
  return { id, url, x, y, width, height, scale, photo: { width: photoWidth, height: photoHeight } };
}

// The full size of a photo before the program has said it: the camera's pixel count, turned
// like the preview (cameras record the sensor's size, the preview is upright).
export function guessPhotoSize(camera: PixelSize | null, preview: PixelSize | null): PixelSize | null {
  if (!preview) return camera;
  if (!camera) return preview;
  const long = Math.max(camera.width, camera.height);
  const short = Math.min(camera.width, camera.height);
  return preview.width >= preview.height ? { width: long, height: short } : { width: short, height: long };
}
