import { describe, expect, it } from "vitest";
import { readRegionAnswer, regionFor, visibleRect } from "../../src/state/loupeRegion";
import { handleKey } from "../../src/state/keyboard";
import { makeWorkbench, photo } from "./helpers";

const PHOTO = { width: 6000, height: 4000 };
const VIEW = { width: 1000, height: 600, dpr: 1 };

describe("region geometry", () => {
  it("shows one photo pixel per device pixel at 100 % and two at 200 %, held inside the photo", () => {
    expect(visibleRect(VIEW, PHOTO, 1, 0.5, 0.5)).toEqual({ x: 2500, y: 1700, width: 1000, height: 600 });
    expect(visibleRect(VIEW, PHOTO, 2, 0.5, 0.5)).toEqual({ x: 2750, y: 1850, width: 500, height: 300 });
    expect(visibleRect({ ...VIEW, dpr: 2 }, PHOTO, 1, 0.5, 0.5)).toEqual({ x: 2000, y: 1400, width: 2000, height: 1200 });
    expect(visibleRect(VIEW, PHOTO, 1, 0, 1)).toEqual({ x: 0, y: 3400, width: 1000, height: 600 });
  });

  it("asks for the visible part with a snapped margin, never past the photo's edges", () => {
    const region = regionFor({ x: 2500, y: 1700, width: 1000, height: 600 }, PHOTO);
    expect(region).toEqual({ x: 2176, y: 1536, width: 1664, height: 1024 });
    expect(regionFor({ x: 5100, y: 3500, width: 900, height: 500 }, PHOTO)).toEqual({ x: 4864, y: 3328, width: 1136, height: 672 });
  });

  it("takes only answers that name a region inside the photo and a local image", () => {
    const good = { id: "a", url: "file:///cache/r.jpg", x: 0, y: 0, width: 10, height: 10, scale: 1, photoWidth: 10, photoHeight: 10 };
    expect(readRegionAnswer(good)).toMatchObject({ id: "a", width: 10, photo: { width: 10, height: 10 } });
    expect(readRegionAnswer({ ...good, x: 1 })).toBeNull();
    expect(readRegionAnswer({ ...good, url: "https://example.com/r.jpg" })).toBeNull();
    expect(readRegionAnswer({ ...good, scale: 3 })).toBeNull();
    expect(readRegionAnswer({ id: "a", error: "坏" })).toEqual({ id: "a", error: "坏" });
  });
});

function zoomedLoupe() {
  const env = makeWorkbench();
  const { workbench } = env;
  workbench.receiveState({ photos: [photo(1), photo(2)] });
  workbench.openLoupe();
  workbench.setLoupeViewport(VIEW);
  // The previews are 2800 px, the photos 6000 px wide.
  workbench.notePreviewSize("ID-1", { width: 2800, height: 1867 });
  workbench.photoMetadata({ photos: [1, 2].map((n) => ({ id: `ID-${n}`, width: 6000, height: 4000 })) });
  return env;
}

function answer(ask: Record<string, unknown>, url = "file:///cache/r.jpg") {
  return { ...ask, url, photoWidth: 6000, photoHeight: 4000 };
}

describe("the loupe's regions", () => {
  it("asks for the clicked spot's full-resolution pixels and shows only the newest answer", () => {
    const { workbench, actions } = zoomedLoupe();
    expect(actions("photoRegion")).toHaveLength(0);
    workbench.setZoom("actual", 0.5, 0.5);
    const [first] = actions("photoRegion");
    expect(first).toEqual({ action: "photoRegion", id: "ID-1", path: "/shoot/IMG_0001.CR3", x: 2176, y: 1536, width: 1664, height: 1024, scale: 1 });
    // A pan inside the margin needs nothing new; one past it asks again.
    workbench.setZoom("actual", 0.52, 0.5);
    expect(actions("photoRegion")).toHaveLength(1);
    workbench.setZoom("actual", 0.8, 0.5);
    const second = actions("photoRegion")[1];
    expect(second.x).toBeGreaterThan(first.x as number);
    // The first answer comes late: the user has moved on.
    workbench.photoRegion(answer(first));
    expect(workbench.regions.value.get("ID-1")).toBeUndefined();
    workbench.photoRegion(answer(second, "file:///cache/r2.jpg"));
    expect(workbench.regions.value.get("ID-1")?.url).toBe("file:///cache/r2.jpg");
    workbench.photoRegion(answer(second, "file:///cache/again.jpg"));
    expect(workbench.regions.value.get("ID-1")?.url).toBe("file:///cache/r2.jpg");
  });

  it("keeps the zoom and the spot while stepping, and asks for the next photo's same spot", () => {
    const { workbench, actions } = zoomedLoupe();
    workbench.setZoom("double", 0.25, 0.75);
    const onFirst = actions("photoRegion")[0];
    handleKey(workbench, { key: "ArrowRight" });
    const onSecond = actions("photoRegion")[1];
    expect(workbench.loupe.value).toMatchObject({ zoom: "double", focusX: 0.25, focusY: 0.75 });
    expect({ ...onSecond, id: "", path: "" }).toEqual({ ...onFirst, id: "", path: "" });
    expect(onSecond.id).toBe("ID-2");
  });

  it("pans a quarter of the view with Alt and an arrow, from the spot shown at an edge", () => {
    const { workbench } = zoomedLoupe();
    workbench.setZoom("actual", 0, 0.5);
    expect(handleKey(workbench, { key: "ArrowRight", altKey: true })).toBe(true);
    // At the left edge the view's middle is 500 px in; a quarter view (250 px) further is 750.
    expect(workbench.loupe.value.focusX).toBeCloseTo(750 / 6000);
    expect(workbench.currentPhoto.value?.id).toBe("ID-1");
    workbench.setZoom("fit");
    expect(handleKey(workbench, { key: "ArrowRight", altKey: true })).toBe(false);
  });
});

describe("side by side", () => {
  function burst() {
    const env = makeWorkbench();
    const frames = [1, 2, 3, 4, 5, 6].map((n) => photo(n, { group: n <= 5 ? "B1" : undefined }));
    env.workbench.receiveState({ photos: frames, view: { collapseBursts: true } });
    env.workbench.setLoupeViewport(VIEW);
    env.workbench.photoMetadata({ photos: frames.map((p) => ({ id: p.id, width: 6000, height: 4000 })) });
    return env;
  }

  it("opens on four frames of the current burst around it, and the keys act on the focused one only", () => {
    const { workbench } = burst();
    workbench.select("ID-1");
    handleKey(workbench, { key: "v" });
    expect(workbench.compare.value?.ids).toEqual(["ID-1", "ID-2", "ID-3", "ID-4"]);
    // Tab moves the focus; a decision does not leave the frame for the next one.
    handleKey(workbench, { key: "Tab" });
    handleKey(workbench, { key: "Tab" });
    handleKey(workbench, { key: "x" });
    handleKey(workbench, { key: "Tab", shiftKey: true });
    handleKey(workbench, { key: "p" });
    expect(workbench.photos.value.map((p) => p.status ?? "-")).toEqual(["-", "保留", "淘汰", "-", "-", "-"]);
    expect(workbench.currentPhoto.value?.id).toBe("ID-2");
    handleKey(workbench, { key: "Escape" });
    expect(workbench.compare.value).toBeNull();
  });

  it("links zoom and spot: every compared photo asks for the same region", () => {
    const { workbench, actions } = burst();
    workbench.select("ID-1");
    workbench.select("ID-6", "toggle");
    workbench.openCompare();
    expect(workbench.compare.value?.ids).toEqual(["ID-1", "ID-6"]);
    workbench.setZoom("actual", 0.3, 0.6);
    const asks = actions("photoRegion");
    expect(asks.map((ask) => ask.id)).toEqual(["ID-1", "ID-6"]);
    expect({ ...asks[0], id: "", path: "" }).toEqual({ ...asks[1], id: "", path: "" });
  });
});
