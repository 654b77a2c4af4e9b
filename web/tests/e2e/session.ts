// The built page in Chromium against `tidewick --headless`: the page's posts become lines on the program's
// input, and each callback line it prints is delivered to window.Native, in order; a benchmark drives it too.
import { spawn, type ChildProcessWithoutNullStreams } from "node:child_process";
import { existsSync, mkdtempSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { createInterface } from "node:readline";
import { fileURLToPath, pathToFileURL } from "node:url";
import { chromium, type BrowserContext, type Page } from "playwright-core";

export const repoDir = resolve(dirname(fileURLToPath(import.meta.url)), "../../..");
const builtPage = join(repoDir, "resources/Web/index.html");
export const testPhotosDir = join(repoDir, "tests/data/photos");

export class NativeSession {
  readonly delivered: Array<{ fn: string; arg: any }> = [];
  readonly effects: Array<Record<string, unknown>> = [];
  readonly posted: Array<Record<string, any>> = [];
  readonly stderr: string[] = [];
  private readonly waiters = new Set<() => boolean>();
  private delivery = Promise.resolve();
  private readonly exit: Promise<number | null>;
  private closing?: Promise<number | null>;

  constructor(readonly context: BrowserContext, readonly page: Page, readonly child: ChildProcessWithoutNullStreams) {
    this.exit = new Promise((resolveExit) => child.on("exit", resolveExit));
    createInterface({ input: child.stderr }).on("line", (line) => this.stderr.push(line));
    createInterface({ input: child.stdout }).on("line", (line) => {
      let message: any;
      try {
        message = JSON.parse(line);
      } catch {
        return void this.stderr.push(`(unparsable stdout line) ${line}`);
      }
      if (typeof message.effect === "string") return void this.effects.push(message);
      if (typeof message.fn !== "string") return;
      const call = { fn: message.fn as string, arg: message.arg ?? null };
      // Chained, so the page sees callbacks in exactly the program's order.
      this.delivery = this.delivery.then(async () => {
        await page.evaluate(({ fn, arg }) => {
          if (!/^window\.Native\.\w+$/.test(fn)) throw new Error(`bad callback ${fn}`);
          (window as any).Native[fn.slice("window.Native.".length)](arg);
        }, call);
        this.delivered.push(call);
        for (const waiter of this.waiters) if (waiter()) this.waiters.delete(waiter);
      });
    });
  }

  // A page message body or a control line ("@panel", "@mount"); the page may still post its pending save on pagehide after the program's input ended.
  send = (value: unknown) => void (this.child.stdin.writableEnded || this.child.stdin.write(JSON.stringify(value) + "\n"));
  // The paths the next file panel answers with, or null for a dismissed panel.
  answerPanel = (paths: string[] | null) => this.send({ "@panel": paths ? { paths } : null });
  sent = (action: string) => this.posted.filter((body) => body.action === action);
  // The texts of the elements with these test ids, to poll several at once.
  texts = (...ids: string[]) => Promise.all(ids.map((id) => this.page.getByTestId(id).textContent()));

  importPaths(paths: string[], button: "folder" | "photos" = "folder"): Promise<any> {
    this.answerPanel(paths);
    return this.answerTo(() => (button === "folder" ? this.page.getByTestId("import-folder") : this.page.getByText("导入照片")).click(), "receiveScan");
  }

  // The first callback `name` delivered since `act` began that satisfies the predicate.
  async answerTo<T = any>(act: () => Promise<unknown>, name: string, predicate: (arg: any) => boolean = () => true, timeoutMs?: number): Promise<T> {
    const from = this.delivered.length;
    await act();
    return this.waitForCallback<T>(name, predicate, { from, timeoutMs });
  }

  // The first callback `name` (e.g. "receiveState") delivered at or after index `from` that satisfies the predicate.
  waitForCallback<T = any>(name: string, predicate: (arg: any) => boolean = () => true, { from = 0, timeoutMs = 30_000 } = {}): Promise<T> {
    const fn = `window.Native.${name}`;
    return new Promise<T>((resolvePromise, reject) => {
      const timer = setTimeout(() => {
        this.waiters.delete(found);
        reject(new Error(`no ${fn} within ${timeoutMs} ms; stderr:\n${this.stderr.join("\n")}`));
      }, timeoutMs);
      const found = () => {
        const call = this.delivered.slice(from).find((c) => c.fn === fn && predicate(c.arg));
        if (call) clearTimeout(timer), resolvePromise(call.arg);
        return call !== undefined;
      };
      if (!found()) this.waiters.add(found);
    });
  }

  // Ends the program's input, waits for it to finish its work and exit (killed after 30 s), and closes the browser; once.
  close(): Promise<number | null> {
    return (this.closing ??= (async () => {
      this.child.stdin.end();
      const timer = setTimeout(() => (this.stderr.push("(program did not exit after its input ended; killed)"), this.child.kill("SIGKILL")), 30_000);
      const code = await this.exit;
      clearTimeout(timer);
      await this.delivery.catch(() => undefined);
      await this.context.close();
      return code;
    })());
  }
}

// supportDir: an earlier session's test data folder; pageQuery: appended to the page's address.
export type SessionOptions = { viewport?: { width: number; height: number }; prepareSupportDir?: (dir: string) => void; env?: Record<string, string>; supportDir?: string; pageQuery?: string };

// tempDir makes the session's temporary folders; their removal is the caller's.
export async function startSession(options: SessionOptions = {}, tempDir = (prefix: string) => mkdtempSync(join(tmpdir(), prefix))): Promise<NativeSession> {
  if (!existsSync(builtPage)) throw new Error(`the page is not built: ${builtPage} (run npm run build)`);
  const bin = process.env.TIDEWICK_BIN ?? join(repoDir, "build/src/shell/tidewick");
  if (!existsSync(bin)) throw new Error(`tidewick executable not found at ${bin}; build it or set TIDEWICK_BIN`);
  const supportDir = options.supportDir ?? tempDir("tidewick-qa-");
  options.prepareSupportDir?.(supportDir);
  const context = await chromium.launchPersistentContext(tempDir("tidewick-chromium-"), {
    executablePath: process.env.CHROMIUM_BIN ?? "/usr/bin/chromium",
    headless: true,
    viewport: options.viewport ?? { width: 1220, height: 780 },
    args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking", "--disable-component-update", "--disable-sync", "--no-first-run"],
  });
  const page = context.pages()[0] ?? (await context.newPage());
  const child = spawn(bin, ["--headless", "--test-support-dir", supportDir], {
    env: { ...process.env, ...options.env, XDG_CONFIG_HOME: tempDir("tidewick-config-"), XDG_DATA_HOME: tempDir("tidewick-data-") },
    stdio: ["pipe", "pipe", "pipe"],
  });
  const started = new NativeSession(context, page, child);
  page.on("pageerror", (error) => started.stderr.push(`(page error) ${error.message}`));
  page.on("console", (message) => void (message.type() === "error" && started.stderr.push(`(page console) ${message.text()}`)));
  await page.exposeFunction("__tidewickPost", (body: string) => {
    started.posted.push(JSON.parse(body));
    started.send(JSON.parse(body));
  });
  // Serialised at once, as the web view's message handler does.
  await page.addInitScript(() => {
    (window as any).webkit = { messageHandlers: { native: { postMessage: (body: unknown) => (window as any).__tidewickPost(JSON.stringify(body)) } } };
  });
  await page.goto(pathToFileURL(builtPage).href + (options.pageQuery ?? ""));
  return started;
}
