import { describe, expect, it } from "vitest";
import { captureTimeline, parseCaptureTime, readCaptureAnswers, type CaptureData } from "../../src/state/captureData";
import { analysed, photo, started } from "./helpers";

// Two bodies at one wedding: the A7 files are named DSC_, the R5 files IMG_, and the R5's clock
// is set to UTC while the A7 writes local time with its offset.
const body = (prefix: string, name: string, camera: string) => (n: number, captureTime: string) => ({
  photo: photo(n, { id: `${prefix}-${n}`, name: `${name}_${n}.JPG`, path: `/shoot/${name}_${n}.JPG` }),
  answer: { id: `${prefix}-${n}`, captureTime, camera },
});
const [a, b] = [body("A", "DSC", "ILCE-7M4"), body("B", "IMG", "EOS R5")];
const WEDDING = [a(1, "2024-05-01T14:03:22.10+02:00"), a(2, "2024-05-01T14:03:22.90+02:00"), a(3, "2024-05-01T14:05:00+02:00"), b(1, "2024-05-01T12:03:22.50Z"), b(2, "2024-05-01T12:04:10Z")];
const photos = WEDDING.map((frame) => frame.photo);
const answers = WEDDING.map((frame) => frame.answer);
const utc = (h: number, m: number, s: number) => Date.UTC(2024, 4, 1, h, m, s) / 1000;

describe("capture data answers", () => {
  it("reads each field only when it has the right type and range", () => {
    const read = readCaptureAnswers({
      photos: [
        { id: "1", captureTime: "2024-05-01T14:03:22.37+02:00", camera: "  EOS R5 ", serial: 42, lens: "", focalLength: 85, aperture: -2,
          shutter: "1/250", exposureTime: 0.004, iso: "800", exposureCompensation: 0.7, width: 8192, height: Infinity },
        { id: "2", error: "无法读取这张照片的拍摄信息" },
        { id: "3", captureTime: "2024-13-01T14:03:22" },
        { captureTime: "2024-05-01T14:03:22" },
        "nonsense",
      ],
    });
    expect(Object.fromEntries(read)).toEqual({
      1: { data: { captureTime: "2024-05-01T14:03:22.37+02:00", clockSeconds: utc(14, 3, 22) + 0.37, offsetSeconds: 7200,
        camera: "EOS R5", focalLength: 85, shutter: "1/250", exposureTime: 0.004, exposureCompensation: 0.7, width: 8192 } },
      2: { error: "无法读取这张照片的拍摄信息" },
      3: { data: {} },
    });
    expect(readCaptureAnswers(null).size).toBe(0);
  });

  it.each([
    ["2024-05-01T12:00:00-03:30", { clock: utc(12, 0, 0), offset: -12600 }],
    ["2024-05-01T12:00:00.5", { clock: utc(12, 0, 0) + 0.5, offset: null }],
    ["2024-05-01 12:00:00", null],
  ])("reads the capture time %s", (time, parsed) => expect(parseCaptureTime(time)).toEqual(parsed));

  const data = (time: string): CaptureData => {
    const { clock, offset } = parseCaptureTime(time)!;
    return offset === null ? { clockSeconds: clock } : { clockSeconds: clock, offsetSeconds: offset };
  };
  it.each([
    ["real instants when every offset is known", "2024-05-01T12:00:10Z", [utc(12, 0, 30), utc(12, 0, 10)]],
    ["the clocks as they read when one has no offset", "2024-05-01T14:00:10", [utc(14, 0, 30), utc(14, 0, 10)]],
    ["no line while a time is missing", null, null],
  ])("puts capture times on one line: %s", (_, second, line) => {
    const times = new Map([["ID-1", data("2024-05-01T14:00:30+02:00")], ...(second ? [["ID-2", data(second)] as const] : [])]);
    const timeline = captureTimeline([photo(1), photo(2)], times);
    expect(timeline && [...timeline.values()]).toEqual(line);
  });
});

describe("the grid's order and bursts by capture time", () => {
  it("interleaves two bodies by capture time, and keeps the import's order while a time is missing", () => {
    const { workbench, actions } = started([...photos].reverse());
    expect(actions("photoMetadata")).toHaveLength(1);
    const shown = () => workbench.items.value.map((item) => item.photo.id);
    workbench.photoMetadata({ photos: answers.slice(1) });
    expect(shown()).toEqual(["B-2", "B-1", "A-3", "A-2", "A-1"]);
    workbench.photoMetadata({ photos: answers.slice(0, 1) });
    expect(shown()).toEqual(["A-1", "B-1", "A-2", "B-2", "A-3"]);
    // Keys follow the grid's order.
    workbench.select("A-1");
    workbench.move(1);
    expect(workbench.currentPhoto.value?.id).toBe("B-1");
    workbench.setView({ order: "name" });
    expect([shown(), (workbench.savedState().view as { order: string }).order]).toEqual([["A-1", "A-2", "A-3", "B-1", "B-2"], "name"]);
    // Answers for photos not asked about, of a replaced project or answered before are left out.
    workbench.receiveState({ photos: photos.slice(0, 2) });
    for (const answer of [[{ id: "A-9", camera: "X" }], answers, [{ id: "A-1", camera: "Other" }]]) workbench.photoMetadata({ photos: answer });
    expect([workbench.captureData.value.get("A-1")?.camera, workbench.captureAnswers.value.has("B-1")]).toEqual(["ILCE-7M4", false]);
  });

  it("asks for an import's capture data in parts of at most 2,000 photos, and forms its bursts again from capture times: one body's frames, not the other's", () => {
    const { workbench, actions } = started(0);
    const many = Array.from({ length: 2001 }, (_, i) => photo(i + 1));
    workbench.receiveScan({ folder: "/shoot", source: "folder", skipped: 0, photos: many });
    expect(actions("photoMetadata").map((ask) => [(ask.ids as string[]).length, (ask.paths as string[])[0]])).toEqual([[2000, many[0].path], [1, many[2000].path]]);
    // Every frame looks alike; file dates put all of them within the gap.
    const scanned = photos.map((p) => ({ ...p, date: "2024-05-01T14:03:22", result: analysed("0000000000000000") }));
    workbench.receiveScan({ folder: "/shoot", source: "folder", skipped: 0, photos: scanned });
    expect(new Set(workbench.photos.value.map((p) => p.group))).toEqual(new Set(["B1"]));
    workbench.photoMetadata({ photos: answers });
    expect(Object.fromEntries(workbench.photos.value.map((p) => [p.id, p.group ?? "-"]))).toEqual({ "A-1": "B1", "A-2": "B1", "A-3": "-", "B-1": "-", "B-2": "-" });
  });
});
