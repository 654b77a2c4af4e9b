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
    expect(workbench.region.value).toBeNull();
    workbench.photoRegion(answer(second, "file:///cache/r2.jpg"));
    expect(workbench.region.value?.url).toBe("file:///cache/r2.jpg");
    workbench.photoRegion(answer(second, "file:///cache/again.jpg"));
    expect(workbench.region.value?.url).toBe("file:///cache/r2.jpg");
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
