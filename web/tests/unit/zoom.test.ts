import { describe, expect, it } from "vitest";
import { readRegionAnswer, regionFor, visibleRect } from "../../src/state/loupeRegion";
import { actualSizeOffset } from "../../src/ui/Loupe";
import { photo, press, started } from "./helpers";

const PHOTO = { width: 6000, height: 4000 };
const VIEW = { width: 1000, height: 600, dpr: 1 };
const rect = (x: number, y: number, width: number, height: number) => ({ x, y, width, height });

describe("region geometry", () => {
  it("shows two photo pixels per device pixel at 200 %, one per device pixel on a 2x screen, and a corner spot held inside the photo", () => {
    const shown = [visibleRect(VIEW, PHOTO, 2, 0.5, 0.5), visibleRect({ ...VIEW, dpr: 2 }, PHOTO, 1, 0.5, 0.5), visibleRect(VIEW, PHOTO, 1, 0, 1)];
    expect(shown).toEqual([rect(2750, 1850, 500, 300), rect(2000, 1400, 2000, 1200), rect(0, 3400, 1000, 600)]);
  });

  it("asks for the visible part with a snapped margin, never past the photo's edges, and takes only answers that name a region inside the photo and a local image", () => {
    expect(regionFor(rect(5100, 3500, 900, 500), PHOTO)).toEqual(rect(4864, 3328, 1136, 672));
    const good = { id: "a", url: "file:///cache/r.jpg", ...rect(0, 0, 10, 10), scale: 1, photoWidth: 10, photoHeight: 10 };
    const read = [good, { ...good, x: 1 }, { ...good, url: "https://example.com/r.jpg" }, { ...good, scale: 3 }, { id: "a", error: "坏" }].map(readRegionAnswer);
    expect(read).toMatchObject([{ id: "a", width: 10, photo: { width: 10, height: 10 } }, null, null, null, { id: "a", error: "坏" }]);
  });

  it("puts the focus point in the middle of the view, but shows no empty space past an edge, and centres a smaller image", () => {
    expect([actualSizeOffset(800, 4000, 0.5), actualSizeOffset(800, 4000, 0), actualSizeOffset(800, 4000, 1), actualSizeOffset(800, 600, 0.1)]).toEqual([-1600, 0, -3200, 100]);
  });
});

// Two 6000 px photos whose previews are 2800 px wide, the loupe open on the first.
function zoomedLoupe(photos = [photo(1), photo(2)], view = {}) {
  const env = started(photos, { view });
  env.workbench.openLoupe();
  env.workbench.setLoupeViewport(VIEW);
  env.workbench.notePreviewSize("ID-1", { width: 2800, height: 1867 });
  env.workbench.photoMetadata({ photos: photos.map((p) => ({ id: p.id, width: 6000, height: 4000 })) });
  return { ...env, asked: () => env.actions("photoRegion").map(({ id, path, ...rest }) => ({ id, ...rest })) };
}

describe("the loupe's regions, alone and side by side", () => {
  it("asks for the clicked spot's full-resolution pixels, shows only the newest answer, keeps zoom and spot while stepping, and pans a quarter view with Alt and an arrow", () => {
    const { workbench, actions, asked } = zoomedLoupe();
    // A pan inside the margin needs nothing new; one past it asks again.
    for (const x of [0.5, 0.52, 0.8]) workbench.setZoom("actual", x, 0.5);
    const [first, second] = actions("photoRegion");
    expect([first, actions("photoRegion").length, (second.x as number) > (first.x as number)])
      .toEqual([{ action: "photoRegion", id: "ID-1", path: "/shoot/IMG_0001.CR3", ...rect(2176, 1536, 1664, 1024), scale: 1 }, 2, true]);
    // The first answer comes late: the user has moved on; the second is answered once.
    const shown = ([[first, "file:///cache/r.jpg"], [second, "file:///cache/r2.jpg"], [second, "file:///cache/again.jpg"]] as const).map(([ask, url]) => {
      workbench.photoRegion({ ...ask, url, photoWidth: 6000, photoHeight: 4000 });
      return workbench.regions.value.get("ID-1")?.url;
    });
    expect(shown).toEqual([undefined, "file:///cache/r2.jpg", "file:///cache/r2.jpg"]);
    // Stepping keeps the zoom and the spot, and asks for the next photo's same spot.
    workbench.setZoom("double", 0.25, 0.75);
    press(workbench, "ArrowRight");
    const [onFirst, onSecond] = asked().slice(-2);
    expect([workbench.loupe.value, onSecond]).toMatchObject([{ zoom: "double", focusX: 0.25, focusY: 0.75 }, { ...onFirst, id: "ID-2" }]);
    workbench.setZoom("actual", 0, 0.5);
    expect(press(workbench, "Alt+ArrowRight")).toEqual([true]);
    // At the left edge the view's middle is 500 px in; a quarter view (250 px) further is 750.
    expect([workbench.loupe.value.focusX * 6000, workbench.currentPhoto.value?.id]).toEqual([750, "ID-2"]);
    workbench.setZoom("fit");
    expect(press(workbench, "Alt+ArrowRight")).toEqual([false]);
  });

  it("opens on four frames of the current burst around it, keys act on the focused one only, and every compared photo asks for the same region", () => {
    const { workbench, asked } = zoomedLoupe([1, 2, 3, 4, 5, 6].map((n) => photo(n, { group: n <= 5 ? "B1" : undefined })), { collapseBursts: true });
    workbench.closeLoupe();
    press(workbench, "v");
    expect(workbench.compare.value?.ids).toEqual(["ID-1", "ID-2", "ID-3", "ID-4"]);
    press(workbench, "Tab", "Tab", "x", "Shift+Tab", "p");
    expect([workbench.photos.value.map((p) => p.status ?? "-"), workbench.currentPhoto.value?.id]).toEqual([["-", "保留", "淘汰", "-", "-", "-"], "ID-2"]);
    workbench.setZoom("actual", 0.3, 0.6);
    const [first, ...others] = asked();
    expect(others).toEqual(["ID-2", "ID-3", "ID-4"].map((id) => ({ ...first, id })));
  });
});

const face = (x: number, triggers: string[] = []) => ({ box: rect(x, 1000, 400, 500), leftEye: [x + 300, 1200], rightEye: [x + 100, 1200], eyes: "open", focus: "sharp", main: true, triggers });
const faces = (id: unknown, list: unknown[]) => ({ id, width: 6000, height: 4000, faces: list });

it("asks once per photo, shows only its own answers, steps through the faces left to right at 100 %, both ways and around, and reports an error or no face", () => {
  const { workbench, actions } = zoomedLoupe([photo(1), photo(2), photo(3)]);
  press(workbench, "n", "ArrowLeft");
  const [first] = actions("photoFaces");
  expect(first).toEqual({ action: "photoFaces", id: first.id, path: "/shoot/IMG_0001.CR3", strictness: "标准" });
  workbench.photoFaces(faces(first.id, [face(4000, ["闭眼"]), face(1000)]));
  const spots = [[], ["n"], ["n"], ["Shift+N"]].map((keys) => (press(workbench, ...keys), [workbench.loupe.value.zoom, workbench.loupe.value.focusX * 6000]));
  expect(spots).toEqual([["actual", 1200], ["actual", 4200], ["actual", 1200], ["actual", 4200]]);
  press(workbench, "ArrowRight", "n");
  workbench.photoFaces(faces("not-asked", [face(100)]));
  expect(workbench.faceMarks.answerFor(workbench.currentPhoto.value!, "标准")).toBeUndefined();
  workbench.photoFaces({ id: actions("photoFaces")[1].id, error: "无法解码照片预览" });
  const error = workbench.status.value;
  press(workbench, "ArrowRight", "n");
  workbench.photoFaces(faces(actions("photoFaces")[2].id, []));
  expect([error, workbench.status.value, actions("photoFaces").length]).toEqual([expect.stringContaining("无法解码照片预览"), "这张照片里没有找到人脸", 3]);
});
