// Stepping through 24 MP JPEGs in the loupe at a steady one key per 300 ms: per key, the time from
// the key press to the new photo shown sharp, with the page's preloading and without it.
//
// "Sharp": the loupe's <img> names the new photo (data-photo), is its large preview
// (data-preview="1", not the grid thumbnail shown while the preview is made), has loaded
// (complete, natural size known) and its decode() has resolved, checked on every animation frame
// and on every image load. A photo not sharp before the next key counts as missed (over 300 ms).
//
// usage: vite-node loupe_bench.ts TIDEWICK_BINARY CORPUS_FOLDER   (CORPUS_FOLDER/jpeg: 6000×4000 JPEGs)
// env: BENCH_LOUPE_PHOTOS (40), BENCH_LOUPE_STEPS (30), BENCH_LOUPE_PACE_MS (300)
import { copyFileSync, mkdtempSync, readdirSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { startSession } from "../../web/tests/e2e/session";

const [binary, corpus] = process.argv.slice(2);
if (!binary || !corpus) throw new Error("usage: loupe_bench.ts TIDEWICK_BINARY CORPUS_FOLDER");
process.env.TIDEWICK_BIN = binary;
const PHOTOS = Number(process.env.BENCH_LOUPE_PHOTOS ?? 40);
const STEPS = Number(process.env.BENCH_LOUPE_STEPS ?? 30);
const PACE_MS = Number(process.env.BENCH_LOUPE_PACE_MS ?? 300);

interface Step {
  from: string;
  at: number;
  sharp?: number;
  // When the program answered the new photo's preview, from the key press (negative: before it).
  answered?: number;
  to?: string;
}

// Runs in the page: timestamps each → and finds the frame where its photo is sharp.
function installProbe(): void {
  const w = window as any;
  const probe = { steps: [] as Step[], asked: new Map<string, number>(), answers: new Map<string, number>(), closed: false };
  w.__loupeProbe = probe;
  const handler = w.webkit.messageHandlers.native;
  const post = handler.postMessage.bind(handler);
  handler.postMessage = (body: any) => {
    if (body?.action === "previewPhoto" && !probe.asked.has(body.id)) probe.asked.set(body.id, performance.now());
    post(body);
  };
  const ready = w.Native.previewReady.bind(w.Native);
  w.Native.previewReady = (payload: any) => {
    if (payload?.url && !probe.answers.has(payload.id)) probe.answers.set(payload.id, performance.now());
    ready(payload);
  };
  const shown = () => document.querySelector<HTMLImageElement>('[data-testid="loupe-image"]');
  window.addEventListener(
    "keydown",
    (event) => {
      if (event.key === "ArrowRight") probe.steps.push({ from: shown()?.dataset.photo ?? "", at: performance.now() });
    },
    true,
  );
  let checking = false;
  const check = () => {
    const step = probe.steps[probe.steps.length - 1];
    const img = shown();
    if (probe.closed || checking || !step || step.sharp !== undefined || !img) return;
    if (img.dataset.photo === step.from || img.dataset.preview !== "1" || !img.complete || !img.naturalWidth) return;
    checking = true;
    img.decode().then(
      () => {
        checking = false;
        // Still the newest key's photo on show: a later key leaves this step missed.
        if (probe.steps[probe.steps.length - 1] !== step || shown() !== img) return;
        step.sharp = performance.now() - step.at;
        step.to = img.dataset.photo;
      },
      () => void (checking = false),
    );
  };
  const frame = () => {
    check();
    if (!probe.closed) requestAnimationFrame(frame);
  };
  requestAnimationFrame(frame);
  document.addEventListener("load", check, true);
}

// The program's processor time so far (user and system, all threads), in ms.
function processorMs(pid: number): number {
  const fields = readFileSync(`/proc/${pid}/stat`, "utf8").replace(/^.*\) /, "").split(" ");
  return ((Number(fields[11]) + Number(fields[12])) * 1000) / 100;
}

function percentile(sorted: number[], p: number): number {
  return sorted[Math.min(sorted.length - 1, Math.ceil((p / 100) * sorted.length) - 1)];
}

const ms = (value: number) => (Number.isFinite(value) ? `${value.toFixed(0)} ms` : `> ${PACE_MS} ms`);

// supportDir: the program's data folder; a second run on it finds the previews made by the first.
async function run(shoot: string, preload: boolean, supportDir: string) {
  const dirs: string[] = [];
  const tempDir = (prefix: string) => dirs[dirs.push(mkdtempSync(join(tmpdir(), prefix))) - 1];
  const session = await startSession({ pageQuery: preload ? "" : "?preload=0", viewport: { width: 1600, height: 1000 }, supportDir }, tempDir);
  try {
    await session.waitForCallback("receiveState", () => true, { timeoutMs: 60_000 });
    const { page } = session;
    await page.evaluate(installProbe);
    await session.importPaths([shoot]);
    await page.getByTestId("grid-cell").first().click();
    await page.keyboard.press("Space");
    // The first photo sharp before the first key: the loupe starts from a settled view.
    await page.waitForFunction(() => {
      const img = document.querySelector<HTMLImageElement>('[data-testid="loupe-image"]');
      return !!img && img.dataset.preview === "1" && img.complete && img.naturalWidth > 0;
    }, undefined, { timeout: 60_000 });
    const start = Date.now();
    const busyBefore = processorMs(session.child.pid!);
    const madeBefore: number = await page.evaluate(() => (window as any).__loupeProbe.answers.size);
    for (let i = 0; i < STEPS; i++) {
      // The workload's own pace: one key every PACE_MS from the first, whatever the page does.
      const due = start + i * PACE_MS;
      if (Date.now() < due) await new Promise((resolve) => setTimeout(resolve, due - Date.now()));
      await page.keyboard.press("ArrowRight");
    }
    await new Promise((resolve) => setTimeout(resolve, start + STEPS * PACE_MS - Date.now()));
    const busy = processorMs(session.child.pid!) - busyBefore;
    const measured: { steps: Step[]; making: number[]; busyPerPreview?: number } = await page.evaluate(() => {
      const probe = (window as any).__loupeProbe;
      probe.closed = true;
      const steps = probe.steps.map((step: Step) => {
        const answer = step.to ? probe.answers.get(step.to) : undefined;
        return { ...step, answered: answer === undefined ? undefined : answer - step.at };
      });
      const making = [...probe.answers].flatMap(([id, at]: [string, number]) => (probe.asked.has(id) ? [at - probe.asked.get(id)] : []));
      return { steps, making };
    });
    const errors = session.stderr.filter((line) => line.includes("page error"));
    if (errors.length) throw new Error(errors.join("\n"));
    const madeWhileStepping = measured.making.length - madeBefore;
    if (madeWhileStepping > 0) measured.busyPerPreview = busy / madeWhileStepping;
    return measured;
  } finally {
    await session.close();
    for (const dir of dirs) rmSync(dir, { recursive: true, force: true });
  }
}

function report(label: string, { steps, making, busyPerPreview }: { steps: Step[]; making: number[]; busyPerPreview?: number }) {
  const times = steps.map((step) => step.sharp ?? Infinity).sort((a, b) => a - b);
  const sharp = steps.filter((step) => step.sharp !== undefined);
  const early = sharp.filter((step) => step.answered !== undefined && step.answered <= 0).length;
  console.log(
    `${label.padEnd(18)} median ${ms(percentile(times, 50)).padStart(9)}  p95 ${ms(percentile(times, 95)).padStart(9)}  max ${ms(times[times.length - 1]).padStart(9)}` +
      `  missed ${steps.length - sharp.length}/${steps.length}  preview answered before the key ${early}/${sharp.length}`,
  );
  const made = [...making].sort((a, b) => a - b);
  const busy = busyPerPreview === undefined ? "" : `; the program's processor time per preview made while stepping ${ms(busyPerPreview)}`;
  if (made.length) console.log(`${"".padEnd(18)} ${made.length} previews made, from the ask to the answer: median ${ms(percentile(made, 50))}, p95 ${ms(percentile(made, 95))}${busy}`);
  return percentile(times, 95);
}

const sources = readdirSync(join(corpus, "jpeg"))
  .filter((name) => /\.jpe?g$/i.test(name))
  .sort()
  .slice(0, PHOTOS);
if (sources.length < Math.min(PHOTOS, STEPS + 1)) throw new Error(`${corpus}/jpeg holds ${sources.length} JPEGs; ${STEPS + 1} are needed`);
const shoot = mkdtempSync(join(tmpdir(), "tidewick-loupe-bench-"));
// The program takes a test data folder only under this prefix.
const [plainData, preloadData] = [1, 2].map(() => mkdtempSync("/tmp/tidewick-qa-"));
try {
  for (const name of sources) copyFileSync(join(corpus, "jpeg", name), join(shoot, name));
  console.log(`${sources.length} photos, ${STEPS} steps of → every ${PACE_MS} ms, time from the key to the new photo sharp`);
  const ratio = (without: number, withPreload: number) =>
    console.log(Number.isFinite(without) && Number.isFinite(withPreload) && withPreload > 0 ? `p95 without / with: ${(without / withPreload).toFixed(1)}` : "");
  console.log("-- previews made as the loupe asks for them (the program's preview cache empty)");
  const cold = [report("without preloading", await run(shoot, false, plainData)), report("with preloading", await run(shoot, true, preloadData))];
  ratio(cold[0], cold[1]);
  // The same steps again on the previews the first runs left: the page's own share (bridge, decode, layout).
  console.log("-- previews already in the program's cache");
  const cached = [report("without preloading", await run(shoot, false, plainData)), report("with preloading", await run(shoot, true, preloadData))];
  ratio(cached[0], cached[1]);
} finally {
  for (const dir of [shoot, plainData, preloadData]) rmSync(dir, { recursive: true, force: true });
}
