// The built page in Debian's Chromium against `tidewick --headless`: the page's posts become lines
// on the program's input, and each callback line it prints is delivered to window.Native, in order.
import { spawn, type ChildProcessWithoutNullStreams } from "node:child_process";
import { existsSync, mkdirSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { createInterface } from "node:readline";
import { fileURLToPath, pathToFileURL } from "node:url";
import { chromium, type BrowserContext, type Page } from "playwright-core";

export const repoDir = resolve(dirname(fileURLToPath(import.meta.url)), "../../..");
const builtPage = join(repoDir, "resources/Web/index.html");
const artifactsDir = join(repoDir, "test-artifacts");
export const testPhotosDir = join(repoDir, "tests/data/photos");

export interface CallbackLine {
  fn: string;
  arg: unknown;
}

// supportDir: an earlier session's test data folder, to start again on its stored project; the caller removes it.
// pageQuery: appended to the page's address, e.g. "?preload=0".
export type SessionOptions = { viewport?: { width: number; height: number }; prepareSupportDir?: (dir: string) => void; env?: Record<string, string>; supportDir?: string; pageQuery?: string };

type Waiter = { fn: string; predicate: (arg: any) => boolean; from: number; resolve: (arg: any) => void };

export class NativeSession {
  readonly delivered: CallbackLine[] = [];
  readonly effects: Array<Record<string, unknown>> = [];
  readonly posted: Array<Record<string, unknown>> = [];
  readonly stderr: string[] = [];
  private waiters: Waiter[] = [];
  private closing: Promise<number | null> | null = null;
  private delivery: Promise<void> = Promise.resolve();
  private exit: Promise<number | null>;

  constructor(
    readonly context: BrowserContext,
    readonly page: Page,
    readonly child: ChildProcessWithoutNullStreams,
    private readonly tempDirs: string[],
  ) {
    this.exit = new Promise((resolveExit) => child.on("exit", (code) => resolveExit(code)));
    createInterface({ input: child.stderr }).on("line", (line) => this.stderr.push(line));
    createInterface({ input: child.stdout }).on("line", (line) => this.onLine(line));
  }

  private onLine(line: string): void {
    let message: Record<string, unknown>;
    try {
      message = JSON.parse(line);
    } catch {
      if (line.trim()) this.stderr.push(`(unparsable stdout line) ${line}`);
      return;
    }
    if (typeof message.effect === "string") return void this.effects.push(message);
    if (typeof message.fn !== "string") return;
    const call: CallbackLine = { fn: message.fn, arg: message.arg ?? null };
    // Chained, so the page sees callbacks in exactly the program's order.
    this.delivery = this.delivery.then(async () => {
      await this.page.evaluate(([fn, arg]) => {
        const parts = (fn as string).split(".");
        if (parts[0] !== "window" || parts[1] !== "Native" || parts.length !== 3) throw new Error(`bad callback ${fn}`);
        (window as any).Native[parts[2]](arg);
      }, [call.fn, call.arg] as const);
      this.delivered.push(call);
      this.wake();
    });
  }

  private wake(): void {
    this.waiters = this.waiters.filter((waiter) => {
      const call = this.delivered.slice(waiter.from).find((c) => c.fn === waiter.fn && waiter.predicate(c.arg));
      if (call) waiter.resolve(call.arg);
      return !call;
    });
  }

  // A page message body or a control line ("@panel", "@mount").
  send(value: unknown): void {
    // The page may still post its pending save on pagehide after the program's input ended.
    if (this.child.stdin.writableEnded) return void this.stderr.push(`(after the program's input ended) ${JSON.stringify(value).slice(0, 200)}`);
    this.child.stdin.write(JSON.stringify(value) + "\n");
  }

  answerPanel(paths: string[] | null): void {
    this.send({ "@panel": paths ? { paths } : null });
  }

  sent(action: string): Array<Record<string, any>> {
    return this.posted.filter((body) => body.action === action);
  }

  async importPaths(paths: string[], button: "folder" | "photos" = "folder"): Promise<any> {
    const from = this.delivered.length;
    this.answerPanel(paths);
    await (button === "folder" ? this.page.getByTestId("import-folder") : this.page.getByText("导入照片")).click();
    return this.waitForCallback("receiveScan", () => true, { from });
  }

  // The first callback `name` (e.g. "receiveState") delivered at or after index `from` that satisfies the predicate.
  waitForCallback<T = any>(name: string, predicate: (arg: any) => boolean = () => true, options: { from?: number; timeoutMs?: number } = {}): Promise<T> {
    const fn = `window.Native.${name}`;
    const timeoutMs = options.timeoutMs ?? 30_000;
    return new Promise<T>((resolvePromise, reject) => {
      const timer = setTimeout(() => {
        this.waiters = this.waiters.filter((w) => w !== waiter);
        reject(new Error(`no ${fn} within ${timeoutMs} ms; stderr:\n${this.stderr.join("\n")}`));
      }, timeoutMs);
      const waiter: Waiter = { fn, predicate, from: options.from ?? 0, resolve: (arg) => (clearTimeout(timer), resolvePromise(arg)) };
      this.waiters.push(waiter);
      this.wake();
    });
  }

  async screenshot(name: string): Promise<string> {
    mkdirSync(artifactsDir, { recursive: true });
    const file = join(artifactsDir, `${name}.png`);
    await this.page.screenshot({ path: file });
    return file;
  }

  // Ends the program's input, waits for it to finish its work and exit, and cleans up; once.
  close(): Promise<number | null> {
    this.closing ??= this.shutDown();
    return this.closing;
  }

  private async shutDown(): Promise<number | null> {
    this.child.stdin.end();
    const timeout = new Promise<"timeout">((r) => setTimeout(() => r("timeout"), 30_000));
    let code = await Promise.race([this.exit, timeout]);
    if (code === "timeout") {
      this.child.kill("SIGKILL");
      code = await this.exit;
      this.stderr.push("(program did not exit after its input ended; killed)");
    }
    await this.delivery.catch(() => undefined);
    await this.context.close();
    for (const dir of this.tempDirs) rmSync(dir, { recursive: true, force: true });
    return code;
  }
}

export async function startSession(options: SessionOptions = {}): Promise<NativeSession> {
  if (!existsSync(builtPage)) throw new Error(`the page is not built: ${builtPage} (run npm run build)`);
  const bin = process.env.TIDEWICK_BIN ?? join(repoDir, "build/src/shell/tidewick");
  if (!existsSync(bin)) throw new Error(`tidewick executable not found at ${bin}; build it or set TIDEWICK_BIN`);
  const supportDir = options.supportDir ?? mkdtempSync("/tmp/tidewick-qa-");
  const [configHome, dataHome, profile] = ["config", "data", "chromium"].map((kind) => mkdtempSync(join(tmpdir(), `tidewick-${kind}-`)));
  const tempDirs = options.supportDir ? [configHome, dataHome, profile] : [configHome, dataHome, profile, supportDir];
  options.prepareSupportDir?.(supportDir);

  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM_BIN ?? "/usr/bin/chromium",
    headless: true,
    viewport: options.viewport ?? { width: 1220, height: 780 },
    args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking", "--disable-component-update", "--disable-sync", "--no-first-run"],
  });
  const page = context.pages()[0] ?? (await context.newPage());

  const child = spawn(bin, ["--headless", "--test-support-dir", supportDir], {
    env: { ...process.env, ...options.env, XDG_CONFIG_HOME: configHome, XDG_DATA_HOME: dataHome },
    stdio: ["pipe", "pipe", "pipe"],
  });
  const session = new NativeSession(context, page, child, tempDirs);

  page.on("pageerror", (error) => session.stderr.push(`(page error) ${error.message}`));
  page.on("console", (message) => void (message.type() === "error" && session.stderr.push(`(page console) ${message.text()}`)));
  await page.exposeFunction("__tidewickPost", (body: string) => {
    const value = JSON.parse(body);
    session.posted.push(value);
    session.send(value);
  });
  // Serialised at once, as the web view's message handler does.
  await page.addInitScript(() => {
    const postMessage = (body: unknown) => (window as any).__tidewickPost(JSON.stringify(body));
    (window as any).webkit = { messageHandlers: { native: { postMessage } } };
  });
  await page.goto(pathToFileURL(builtPage).href + (options.pageQuery ?? ""));
  return session;
}
