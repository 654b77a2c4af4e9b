// Cloud culling against the program and the local HTTPS stand-in of the AI service, whose
// throw-away certificate authority the program trusts through TIDEWICK_TEST_CA_FILE.
import { spawn } from "node:child_process";
import { readFileSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { createInterface } from "node:readline";
import { afterAll, expect, it } from "vitest";
import { repoDir, workflows } from "./shim";

// In name order, so the grid shows them in the same order whichever order is chosen.
const NAMES = ["face-closed-yawn.jpg", "face-open-portrait-hopper.jpg", "orientation-1.jpg"];
const KEEP = { decision: "保留", rating: 4, confidence: 0.95, issues: [], reason: "眼神清楚，对焦准确", bestCandidate: true };
const CHAT = "/v1/chat/completions";

const flows = workflows();
const shoot = flows.shoot(NAMES);
const service = spawn("python3", [join(repoDir, "tests/ai/fake_grsai.py"), "--workdir", flows.tempDir("tidewick-fake-ai-")], { stdio: ["pipe", "pipe", "inherit"] });
afterAll(() => service.stdin.end());
const lines = createInterface({ input: service.stdout })[Symbol.asyncIterator]();
const nextLine = async () => ((next) => (next.done ? "null" : next.value))(await lines.next());
const [ready, port, caFile] = /^ready (\d+) (\S+)$/.exec(await nextLine()) ?? [];
if (!ready) throw new Error("the AI service stand-in did not start");
const ask = async (command: Record<string, unknown>): Promise<any> => (service.stdin.write(JSON.stringify(command) + "\n"), JSON.parse(await nextLine()));

it("reviews a burst in the cloud, stops on request, accepts a verdict undoably, then compares the burst", async () => {
  // Each chat answer as the vision model writes it, after its delay: the third is still out at the run's stop, the fifth at the comparison's.
  const chats: Array<[unknown, number?]> = [[KEEP], [{ ...KEEP, decision: "keep", reason: "不可用" }], [KEEP, 6000], [{ winnerIndex: 2, confidence: 0.9, reason: "第二张眼睛睁开" }],
    [{ winnerIndex: 1, confidence: 0.9, reason: "迟到的答案" }, 4000], [{ winnerIndex: 0, confidence: 0.5, reason: "三张几乎一样" }]];
  await ask({ op: "route", method: "POST", path: CHAT, responses: chats.map(([answer, delay_ms = 0]) => ({ json: { choices: [{ message: { content: JSON.stringify(answer) } }], usage: { prompt_tokens: 10, completion_tokens: 5 } }, delay_ms })) });
  const photos = NAMES.map((name, i) => ({ id: `P-${i}`, path: join(shoot, name), name, format: "JPG", size: 1, date: `2026-05-01T10:00:0${i}`, thumbnail: `file://${join(shoot, name)}`, group: "B1", best: i === 0 || undefined }));
  const session = await flows.start({
    env: { TIDEWICK_TEST_CA_FILE: caFile },
    prepareSupportDir: (dir) => writeFileSync(join(dir, "current-project.json"), JSON.stringify({ photos, folder: shoot })),
  });
  const { page } = session;
  // The settings dialog's way of saving a key is the settings scenario's; here the program is told directly.
  session.send({ action: "saveGRSAISettings", apiKey: "sk-test-0123456789", baseURL: `https://127.0.0.1:${port}`, model: "" });
  await session.waitForCallback("grsAIState", (state) => state.status === "已保存");
  await page.getByTestId("cloud-review").click();
  await expect.poll(() => Promise.all([page.getByTestId("cloud-dialog").isVisible(), page.getByTestId("cloud-not-configured").count()])).toEqual([true, 0]);
  await page.getByTestId("cloud-scene").selectOption("portrait");
  await page.getByTestId("cloud-double-check").uncheck();
  await page.getByTestId("cloud-weight-noise").fill("0");
  await page.getByTestId("cloud-start").click();
  expect(session.sent("cloudAnalyze")[0].options).toMatchObject({ scene: "portrait", doubleCheck: false, weights: { noise: 0, eyes: 5 } });
  await expect.poll(() => page.getByTestId("cloud-progress").textContent(), { timeout: 30_000 }).toContain(`云端筛片 2 / 3：${NAMES[2]}`);
  await page.getByTestId("cancel-cloud").click();
  await expect.poll(() => Promise.all([page.getByTestId("cloud-progress").count(), session.sent("cancelCloudAnalysis").length, session.texts("status", "cloud-verdict"), page.getByTestId("cloud-badge").allTextContents()]))
    .toEqual([0, 1, ["已停止云端筛片；已返回的结果保留", expect.stringMatching(/置信度 95%.*眼神清楚，对焦准确/)], ["云保留", "云?"]]);
  await page.keyboard.press("c");
  await expect.poll(() => Promise.all([page.locator(".cell.current .decision-flag").textContent(), page.locator(".cell.current [data-testid=stars]").textContent()])).toEqual(["保留", "★★★★"]);
  await page.keyboard.press("Control+z");
  await expect.poll(() => page.locator(".cell.current .decision-flag").count()).toBe(0);
  // The unusable answer is never applied, whatever filter it is accepted from.
  await page.getByTestId("filter-cloud").focus();
  await page.getByTestId("filter-cloud").selectOption("unreadable");
  await expect.poll(() => page.getByTestId("grid-cell").count()).toBe(1);
  await page.keyboard.press("Shift+C");
  await expect.poll(() => page.getByTestId("status").textContent()).toBe("没有需要采用的云端建议");
  await page.getByTestId("filter-cloud").selectOption("all");
  const list = join(shoot, "清单.txt");
  session.answerPanel([list]);
  await session.answerTo(() => page.getByTestId("manifest").click(), "reviewManifestComplete");
  expect(readFileSync(list, "utf8")).toContain("眼神清楚，对焦准确（云端推荐） · 95%");
  expect((await session.answerTo(() => page.getByTestId("compare-burst").click(), "burstComplete")).result.winnerId).toBe("P-1");
  await expect.poll(() => Promise.all([page.getByTestId("burst-outcome").textContent(), page.locator(".group-tag.best").count(), page.locator(`.cell[data-id="P-1"] .group-tag`).textContent()]))
    .toEqual([expect.stringContaining(`云端选出 ${NAMES[1]} 为本组最佳（置信度 90%）：第二张眼睛睁开`), 1, "B1 ★"]);
  await page.keyboard.press("Control+z");
  await expect.poll(() => page.locator(`.cell[data-id="P-0"] .group-tag`).textContent()).toBe("B1 ★");
  await page.getByTestId("compare-burst").click();
  // The stop must find the request out, holding the answer scripted to come late.
  await expect.poll(async () => (await ask({ op: "requests" })).filter((request: { path: string }) => request.path === CHAT).length, { timeout: 20_000 }).toBe(5);
  await expect.poll(() => page.getByTestId("burst-progress").textContent()).toContain("云端比较连拍 B1 0 / 1");
  await page.getByTestId("cancel-burst").click();
  await expect.poll(() => Promise.all([page.getByTestId("burst-progress").count(), session.texts("status")])).toEqual([0, ["已停止云端比较连拍"]]);
  // An undecided answer; only the third comparison's own counts, as the stopped one may have answered before its stop.
  expect((await session.answerTo(() => page.getByTestId("compare-burst").click(), "burstComplete", (p) => p.token === session.sent("compareBurst")[2]?.token)).result.winnerId).toBeUndefined();
  await expect.poll(() => Promise.all([session.texts("burst-outcome"), page.locator(`.cell[data-id="P-0"] .group-tag`).textContent(), session.sent("cancelBurst").length]))
    .toEqual([["连拍 B1：云端未能决出最佳。候选差距不明确，建议人工比较：三张几乎一样"], "B1 ★", 1]);
});
