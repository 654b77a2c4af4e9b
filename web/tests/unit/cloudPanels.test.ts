import { expect, it } from "vitest";
import { readAIServiceState } from "../../src/state/aiService";
import { cloudRecordOf, cloudVerdictOf } from "../../src/state/cloudReview";
import { analysed, makeWorkbench, photo, press, started } from "./helpers";

const SAVED = { configured: true, maskedKey: "sk-…9f3a", baseURL: "https://api.grsai.com", model: "nano-banana-2-lite", status: "已保存", detail: "API 密钥已保存在当前用户的本地配置中" };

it("sends the typed key once, trimmed, and a connection check once until the next report; reads fields of the wrong type as unknown and keeps the last good report for none", () => {
  const { workbench, posted } = makeWorkbench();
  workbench.ai.save("  sk-secret-key-9f3a \n", " https://api.grsai.com ", "nano-banana-2-lite");
  workbench.ai.test();
  workbench.ai.test();
  expect(posted).toEqual([{ action: "saveGRSAISettings", apiKey: "sk-secret-key-9f3a", baseURL: "https://api.grsai.com", model: "nano-banana-2-lite" }, { action: "testGRSAIConnection" }]);
  for (const report of [SAVED, null, {}, [SAVED]]) workbench.handlers().grsAIState!(report);
  expect([workbench.ai.checking.value, workbench.ai.state.value, readAIServiceState({ configured: "yes", maskedKey: 5, baseURL: ["x"], status: null })])
    .toEqual([false, SAVED, { configured: null, maskedKey: null, baseURL: "", model: "", status: null, detail: "" }]);
});

const KEEP = { decision: "保留", rating: 4, confidence: 0.9, issues: ["构图问题"], reason: "眼神清楚", bestCandidate: true, usage: { prompt_tokens: 9 } };
const REJECT = { decision: "淘汰", rating: 1, confidence: 0.8, issues: ["闭眼"], reason: "闭眼", bestCandidate: false };

function reviewing(photos = [photo(1), photo(2), photo(3)]) {
  const made = started(photos);
  made.workbench.startCloudReview("all");
  return made;
}

it("sends the photos with their local cross-check, merges each awaited verdict into its photo, keeps verdicts and settings with the project, and ignores answers not sent, repeated, of the wrong shape or after a cancel", () => {
  const { workbench, actions } = started([photo(1, { issues: ["闭眼"], result: analysed("00", { brightness: 0.4, noise: 2 }) }), photo(2), photo(3)]);
  workbench.setCloudSettings({ scene: "portrait", policy: "strict", doubleCheck: false, model: "" });
  workbench.startCloudReview("all");
  const [{ photos, options }] = actions("cloudAnalyze");
  expect((photos as unknown[])[0]).toEqual({ id: "ID-1", path: "/shoot/IMG_0001.CR3", name: "IMG_0001.CR3", thumbnail: "file:///data/ThumbnailCache/1.jpg", issues: ["闭眼"], result: { sharpness: 200, brightness: 0.4, noise: 2, confidence: 0.72 } });
  expect([options, workbench.savedState().cloudReview]).toMatchObject([{ policy: "strict", quality: "standard", model: "gemini-3.1-flash-lite" }, { scene: "portrait", policy: "strict", doubleCheck: false }]);
  for (const payload of [null, "x", { id: 2, result: KEEP }, { processed: "a" }]) {
    workbench.cloudAnalysisProgress(payload);
    workbench.cloudAnalysisResult(payload);
  }
  expect(workbench.cloudRun.value).toMatchObject({ processed: 0, failed: 0 });
  workbench.cloudAnalysisResult({ id: "ID-9", result: KEEP, processed: 1, total: 3 });
  workbench.cloudAnalysisResult({ id: "ID-1", result: KEEP, processed: 1, total: 3 });
  workbench.cloudAnalysisResult({ id: "ID-1", result: REJECT, processed: 2, total: 3 });
  expect(workbench.cloudRun.value?.processed).toBe(1);
  workbench.cloudAnalysisResult({ id: "ID-2", error: "GRS AI 返回 HTTP 401", processed: 2, total: 3 });
  workbench.cloudAnalysisResult({ id: "ID-3", result: { ...REJECT, doubleChecked: true, agreement: false, bestCandidate: 0 }, processed: 3, total: 3 });
  const [first, second, third] = workbench.photos.value;
  // The user's own decision is untouched until the verdict is accepted.
  expect([first.status, third.cloudBest]).toEqual([undefined, undefined]);
  expect([first, cloudVerdictOf(first), cloudRecordOf(second).kind, workbench.cloudErrors.value.get("ID-2"), cloudVerdictOf(third)]).toMatchObject([{ cloudReason: "眼神清楚", cloudConfidence: 0.9, cloudBest: true },
    { decision: "保留", rating: 4, issues: ["构图问题"], best: true, doubleChecked: false }, "none", "GRS AI 返回 HTTP 401", { doubleChecked: true, agreement: false, best: false }]);
  workbench.cloudAnalysisComplete({ cancelled: false, processed: 3, failed: 1 });
  expect(workbench.status.value).toBe("云端筛片完成：3 张，其中 1 张失败");
  const restored = started(0).workbench;
  restored.receiveState(JSON.parse(JSON.stringify(workbench.savedState())));
  expect([cloudVerdictOf(restored.photos.value[0]), restored.photos.value[0].cloudReason]).toEqual([cloudVerdictOf(first), "眼神清楚"]);
  workbench.startCloudReview("all");
  workbench.cancelCloudReview();
  workbench.cloudAnalysisResult({ id: "ID-2", result: REJECT, processed: 2, total: 3 });
  expect(cloudRecordOf(workbench.photos.value[1]).kind).toBe("none");
});

it("shows a record it cannot use as unreadable, without any of its values, answered or stored", () => {
  const odd = [{ decision: "keep" }, { rating: 6 }, { rating: 0 }, { rating: 3.5 }, { rating: "4" }, { confidence: 1.2 }, { confidence: -0.1 }, { confidence: null }];
  const bad = [...odd.map((change) => ({ ...KEEP, ...change })), {}, "保留", null];
  const { workbench } = reviewing(bad.map((_, i) => photo(i + 1, { cloudReason: "旧理由", cloudConfidence: 0.5 })));
  bad.forEach((result, i) => workbench.cloudAnalysisResult({ id: `ID-${i + 1}`, result, processed: i + 1, total: bad.length }));
  for (const p of workbench.photos.value) expect([cloudRecordOf(p).kind, p.cloudReason, p.cloudConfidence]).toEqual(["unreadable", undefined, undefined]);
  workbench.acceptCloud("filtered");
  expect([workbench.photos.value.every((p) => p.status === undefined && p.rating === undefined), workbench.undoStack.value.length]).toEqual([true, 0]);
  // A hand-edited stored file cannot smuggle a verdict in.
  const restored = started([photo(1, { cloud: { ...KEEP, rating: 9 }, cloudBest: "yes" as unknown as boolean })]).workbench;
  expect([cloudRecordOf(restored.photos.value[0]).kind, restored.photos.value[0].cloudBest]).toEqual(["unreadable", undefined]);
});

it("accepts the cloud's decision and rating for every filtered photo as one undo step, and filters by disagreement", () => {
  const clean = analysed("00");
  const { workbench } = reviewing([photo(1, { status: "待定", rating: 2, result: analysed("00", { issues: ["闭眼"] }), issues: ["闭眼"] }), photo(2, { result: clean, issues: [] }), photo(3, { result: clean, issues: [] }), photo(4)]);
  [KEEP, REJECT, KEEP].forEach((result, i) => workbench.cloudAnalysisResult({ id: `ID-${i + 1}`, result }));
  const shownUnder = (cloud: string) => (workbench.setFilter({ cloud: cloud as never }), workbench.items.value.map((item) => item.photo.id));
  expect([shownUnder("disagree"), shownUnder("淘汰"), shownUnder("all").length]).toEqual([["ID-1", "ID-2"], ["ID-2"], 4]);
  press(workbench, "Shift+C");
  const work = () => workbench.photos.value.map((p) => [p.status, p.rating]);
  expect([work(), workbench.status.value]).toEqual([[["保留", 4], ["淘汰", 1], ["保留", 4], [undefined, undefined]], "已采用 3 张照片的云端决定和星级（可撤销）"]);
  press(workbench, "Control+z");
  expect(work()).toEqual([["待定", 2], [undefined, undefined], [undefined, undefined], [undefined, undefined]]);
});

it("sends the current photo's burst, and changes no frame for a failure, a winner outside it, another token, a cancel or a payload of the wrong shape", () => {
  const { workbench, actions } = started([photo(1, { group: "B1", best: true }), photo(2, { group: "B1" }), photo(3, { group: "B1" }), photo(4, { group: "B2" })]);
  const compare = () => (workbench.compareBurst(), actions("compareBurst").at(-1)!.token as string);
  workbench.burstComplete({ token: compare(), error: "已有连拍比较正在进行" });
  expect([actions("compareBurst")[0].photos, workbench.burstOutcomes.value.get("B1")]).toEqual([[1, 2, 3].map((n) => ({ id: `ID-${n}`, path: `/shoot/IMG_000${n}.CR3` })), { kind: "failed", message: "已有连拍比较正在进行" }]);
  workbench.burstComplete({ token: compare(), result: { winnerId: "ID-4", confidence: 0.9, reason: "" } });
  const outcome = workbench.burstOutcomes.value.get("B1");
  const token = compare();
  workbench.burstComplete({ token: "OLD", result: { winnerId: "ID-2", confidence: 0.9, reason: "" } });
  workbench.burstComplete(null);
  workbench.burstProgress({ token, processed: "x", total: -4 });
  expect(workbench.burstRun.value).toMatchObject({ processed: 0, total: 0 });
  workbench.cancelBurstCompare();
  workbench.burstComplete({ token, result: { winnerId: "ID-2", confidence: 0.9, reason: "" } });
  expect([workbench.burstOutcomes.value.get("B1"), workbench.photos.value.map((p) => p.best), workbench.undoStack.value.length]).toEqual([outcome, [true, undefined, undefined, undefined], 0]);
});
