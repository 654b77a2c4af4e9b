import { describe, expect, it } from "vitest";
import { captureTimeline, parseCaptureTime, readCaptureAnswers, type CaptureData } from "../../src/state/captureData";
import { analysed, makeWorkbench, photo } from "./helpers";

// Two bodies at one wedding: the A7 files are named DSC_, the R5 files IMG_, and the R5's clock
// is set to UTC while the A7 writes local time with its offset.
function wedding() {
  const a = (n: number) => photo(n, { id: `A-${n}`, name: `DSC_${n}.JPG`, path: `/shoot/DSC_${n}.JPG` });
  const b = (n: number) => photo(n, { id: `B-${n}`, name: `IMG_${n}.CR3`, path: `/shoot/IMG_${n}.CR3` });
  const photos = [a(1), a(2), a(3), b(1), b(2)];
  const answer = {
    photos: [
      { id: "A-1", captureTime: "2024-05-01T14:03:22.10+02:00", camera: "ILCE-7M4", serial: "111" },
      { id: "A-2", captureTime: "2024-05-01T14:03:22.90+02:00", camera: "ILCE-7M4", serial: "111" },
      { id: "A-3", captureTime: "2024-05-01T14:05:00+02:00", camera: "ILCE-7M4", serial: "111" },
      { id: "B-1", captureTime: "2024-05-01T12:03:22.50Z", camera: "EOS R5", serial: "222" },
      { id: "B-2", captureTime: "2024-05-01T12:04:10Z", camera: "EOS R5", serial: "222" },
    ],
  };
  return { photos, answer };
}

describe("capture data answers", () => {
  it("reads each field only when it has the right type and range", () => {
    const answers = readCaptureAnswers({
      photos: [
        { id: "1", captureTime: "2024-05-01T14:03:22.37+02:00", camera: "  EOS R5 ", serial: 42, lens: "", focalLength: 85, aperture: -2,
          shutter: "1/250", exposureTime: 0.004, iso: "800", exposureCompensation: 0.7, width: 8192, height: Infinity },
        { id: "2", error: "无法读取这张照片的拍摄信息" },
        { id: "3", captureTime: "2024-13-01T14:03:22" },
        { captureTime: "2024-05-01T14:03:22" },
        "nonsense",
      ],
    });
    expect([...answers.keys()]).toEqual(["1", "2", "3"]);
    expect(answers.get("1")).toEqual({
      data: { captureTime: "2024-05-01T14:03:22.37+02:00", clockSeconds: Date.UTC(2024, 4, 1, 14, 3, 22) / 1000 + 0.37, offsetSeconds: 7200,
        camera: "EOS R5", focalLength: 85, shutter: "1/250", exposureTime: 0.004, exposureCompensation: 0.7, width: 8192 },
    });
    expect(answers.get("2")).toEqual({ error: "无法读取这张照片的拍摄信息" });
    expect(answers.get("3")).toEqual({ data: {} });
    expect(readCaptureAnswers(null).size).toBe(0);
  });

  it("puts capture times on one line: real instants when every offset is known, else the clocks as they read", () => {
    expect(parseCaptureTime("2024-05-01T12:00:00-03:30")).toEqual({ clock: Date.UTC(2024, 4, 1, 12) / 1000, offset: -12600 });
    expect(parseCaptureTime("2024-05-01T12:00:00.5")).toEqual({ clock: Date.UTC(2024, 4, 1, 12) / 1000 + 0.5, offset: null });
    expect(parseCaptureTime("2024-05-01 12:00:00")).toBeNull();
    const data = (time: string): CaptureData => {
      const { clock, offset } = parseCaptureTime(time)!;
      return offset === null ? { clockSeconds: clock } : { clockSeconds: clock, offsetSeconds: offset };
    };
    const photos = [photo(1), photo(2)];
    // A body in Berlin writing its offset, one set to UTC: the instants interleave.
    const zones = new Map([["ID-1", data("2024-05-01T14:00:30+02:00")], ["ID-2", data("2024-05-01T12:00:10Z")]]);
    expect([...captureTimeline(photos, zones)!.values()]).toEqual([Date.UTC(2024, 4, 1, 12, 0, 30) / 1000, Date.UTC(2024, 4, 1, 12, 0, 10) / 1000]);
    // Both on local time, one writing no offset: the clocks are compared.
    const local = new Map([["ID-1", data("2024-05-01T14:00:30+02:00")], ["ID-2", data("2024-05-01T14:00:10")]]);
    expect([...captureTimeline(photos, local)!.values()]).toEqual([Date.UTC(2024, 4, 1, 14, 0, 30) / 1000, Date.UTC(2024, 4, 1, 14, 0, 10) / 1000]);
    expect(captureTimeline(photos, new Map([["ID-1", data("2024-05-01T14:00:30")]]))).toBeNull();
  });
});

describe("the grid's order and bursts by capture time", () => {
  it("asks for the capture data of an import in parts of at most 2,000 photos", () => {
    const { workbench, actions } = makeWorkbench();
    workbench.receiveState({});
    const photos = Array.from({ length: 2001 }, (_, i) => photo(i + 1));
    workbench.receiveScan({ folder: "/shoot", source: "folder", skipped: 0, photos });
    const asks = actions("photoMetadata");
    expect(asks.map((ask) => (ask.ids as string[]).length)).toEqual([2000, 1]);
    expect((asks[1].paths as string[])[0]).toBe(photos[2000].path);
  });

  it("interleaves two bodies by capture time, and keeps the import's order while a time is missing", () => {
    const { workbench, actions } = makeWorkbench();
    const { photos, answer } = wedding();
    workbench.receiveState({ photos: [...photos].reverse() });
    expect(actions("photoMetadata")).toHaveLength(1);
    const names = () => workbench.items.value.map((item) => item.photo.id);
    expect(names()).toEqual(["B-2", "B-1", "A-3", "A-2", "A-1"]);
    workbench.photoMetadata({ photos: answer.photos.slice(1) });
    expect(names()).toEqual(["B-2", "B-1", "A-3", "A-2", "A-1"]);
    workbench.photoMetadata({ photos: answer.photos.slice(0, 1) });
    expect(names()).toEqual(["A-1", "B-1", "A-2", "B-2", "A-3"]);
    // Keys follow the grid's order.
    workbench.select("A-1");
    workbench.move(1);
    expect(workbench.currentPhoto.value?.id).toBe("B-1");
    workbench.setView({ order: "name" });
    expect(names()).toEqual(["A-1", "A-2", "A-3", "B-1", "B-2"]);
    expect((workbench.savedState().view as { order: string }).order).toBe("name");
  });

  it("ignores answers for photos not asked about or of a replaced project", () => {
    const { workbench } = makeWorkbench();
    const { photos, answer } = wedding();
    workbench.receiveState({ photos });
    workbench.receiveState({ photos: photos.slice(0, 2) });
    workbench.photoMetadata({ photos: [{ id: "A-9", camera: "X" }] });
    workbench.photoMetadata(answer);
    expect(workbench.captureData.value.get("A-1")?.camera).toBe("ILCE-7M4");
    expect(workbench.captureAnswers.value.has("B-1")).toBe(false);
    // Answered once; a second answer for the same photo is stale.
    workbench.photoMetadata({ photos: [{ id: "A-1", camera: "Other" }] });
    expect(workbench.captureData.value.get("A-1")?.camera).toBe("ILCE-7M4");
  });

  it("forms an import's bursts again from capture times: one body's frames, not the other's", () => {
    const { workbench } = makeWorkbench();
    workbench.receiveState({});
    const { photos, answer } = wedding();
    // Every frame looks alike; file dates put all of them within the gap.
    const scanned = photos.map((p) => ({ ...p, date: "2024-05-01T14:03:22", result: analysed("0000000000000000") }));
    workbench.receiveScan({ folder: "/shoot", source: "folder", skipped: 0, photos: scanned });
    expect(new Set(workbench.photos.value.map((p) => p.group))).toEqual(new Set(["B1"]));
    workbench.photoMetadata(answer);
    const groups = Object.fromEntries(workbench.photos.value.map((p) => [p.id, p.group ?? "-"]));
    expect(groups).toEqual({ "A-1": "B1", "A-2": "B1", "A-3": "-", "B-1": "-", "B-2": "-" });
  });
});
