import { expect, it, vi } from "vitest";
import { NATIVE_CALLBACK_NAMES } from "../../src/bridge/callbackNames";
import { installNative } from "../../src/bridge/native";
import { projectToSaved, restoreProject } from "../../src/state/project";
import { analysed, makeWorkbench, photo, started } from "./helpers";

it("posts ready once, saves nothing until the stored project arrived nor echoes it back, takes what it can of a broken one, and takes any callback payload", () => {
  const { workbench, posted, advance, saves } = makeWorkbench();
  workbench.start();
  expect(posted).toEqual([{ action: "ready" }, { action: "watchScanProgress", enabled: true }]);
  workbench.setView({ cellSize: 200 });
  advance(10_000);
  workbench.receiveState(null);
  expect([workbench.photos.value, workbench.restored.value]).toEqual([[], true]);
  workbench.receiveState([photo(1, { status: "保留", rating: 4 }), { id: 5, path: "/x.jpg" }, { id: "A" }, "junk", photo(1), photo(2)]);
  advance(10_000);
  expect([workbench.photos.value.map((p) => p.id), workbench.selection.value.currentId, saves().length]).toEqual([["ID-1", "ID-2"], "ID-1", 0]);
  const [record] = restoreProject({ photos: [photo(1, { status: "keep" as any, rating: 7.4, best: "yes" as any })] }).photos;
  expect([record.status, record.rating, record.best]).toEqual([undefined, 5, undefined]);
  // window.Native defines every callback, each taking payloads of any shape; a failing handler breaks none of them.
  (globalThis as any).window = {};
  const errors = vi.spyOn(console, "error").mockImplementation(() => {});
  const native = installNative(workbench.handlers());
  expect([new Set(NATIVE_CALLBACK_NAMES).size, Object.keys(native).sort(), (globalThis as any).window.Native === native]).toEqual([52, [...NATIVE_CALLBACK_NAMES].sort(), true]);
  const shapes = [null, undefined, "unexpected", [], 7];
  for (const name of NATIVE_CALLBACK_NAMES) shapes.forEach((payload) => native[name](payload));
  expect(errors).not.toHaveBeenCalled();
  installNative({ status: () => void JSON.parse("{") }).status("x");
  expect(errors).toHaveBeenCalledOnce();
  errors.mockRestore();
  delete (globalThis as any).window;
});

it("debounces changes into one save of the whole state, hands a pending save over at once when the program is about to quit, and never waits past the maximum", () => {
  const { workbench, posted, advance, saves } = started(3);
  workbench.decide("保留");
  advance(100);
  workbench.decide("淘汰");
  advance(100);
  workbench.rate(3);
  const early = saves().length;
  advance(400);
  expect([early, saves().length]).toEqual([0, 1]);
  const state = saves()[0].state as any;
  expect([state.photos.map((p: any) => [p.id, p.status, p.rating]), state.photos[0]]).toMatchObject([[["ID-1", "保留", undefined], ["ID-2", "淘汰", undefined], ["ID-3", undefined, 3]], { path: "/shoot/IMG_0001.CR3", name: "IMG_0001.CR3", format: "CR3" }]);
  workbench.decide("待定");
  workbench.flushState({ token: "Q" });
  expect([(saves()[1].state as any).photos[2].status, posted.slice(-2)]).toEqual(["待定", [saves()[1], { action: "stateFlushed", token: "Q" }]]);
  // Nothing pending: only the answer; the page closing flushes as well.
  workbench.flushState(null);
  expect([saves().length, posted.at(-1)]).toEqual([2, { action: "stateFlushed", token: "" }]);
  workbench.rate(5);
  workbench.flushSave();
  expect(saves()).toHaveLength(3);
  for (let i = 0; i < 30; i++) {
    workbench.setView({ cellSize: 120 + i });
    advance(200);
  }
  expect([4, 5]).toContain(saves().length);
  // A very large project is saved less often.
  const large = started(20_000);
  large.workbench.rate(1);
  large.advance(1000);
  const atFirst = large.saves().length;
  large.advance(1000);
  expect([atFirst, large.saves().length]).toEqual([0, 1]);
});

it("sends the keys the program reads, keeps unknown keys of a newer page, and round-trips unchanged", () => {
  const cloud = { decision: "保留", rating: 4, confidence: 0.8, issues: [], reason: "自然", bestCandidate: true };
  const recent = [{ name: "婚礼", photos: 1, at: "2026-05-01T10:00:00.000Z", how: "saved" }];
  const record = photo(1, { result: analysed("0000000000000000"), issues: ["过曝"], cloud, cloudReason: "自然", cloudBest: true, cloudConfidence: 0.8, group: "B1", best: true });
  const { workbench, advance, saves } = started([record], { styleSession: { kept: true }, recentProjects: recent });
  workbench.decide("待定");
  advance(1000);
  const state = saves()[0].state as any;
  expect([state.styleSession, state.recentProjects, state.photos[0]])
    .toMatchObject([{ kept: true }, recent, { status: "待定", cloud, issues: ["过曝"], cloudReason: "自然", cloudBest: true, cloudConfidence: 0.8, result: { hash: "0000000000000000" } }]);
  const saved = workbench.savedState();
  expect(projectToSaved(restoreProject(JSON.parse(JSON.stringify(saved))))).toEqual(saved);
});
