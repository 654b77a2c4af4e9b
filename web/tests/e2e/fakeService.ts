// The repository's local HTTPS stand-in of the AI service (tests/ai/fake_grsai.py): answers are
// scripted per path, and the program trusts its throw-away certificate authority through
// TIDEWICK_TEST_CA_FILE.
import { spawn, type ChildProcessByStdio } from "node:child_process";
import type { Readable, Writable } from "node:stream";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { createInterface } from "node:readline";
import { repoDir } from "./shim";

export interface ScriptedResponse {
  status?: number;
  json?: unknown;
  text?: string;
  delay_ms?: number;
}

export class FakeService {
  private readonly replies: Array<(line: string) => void> = [];

  private constructor(
    private readonly child: ChildProcessByStdio<Writable, Readable, null>,
    private readonly workdir: string,
    readonly port: number,
    readonly caFile: string,
    lines: AsyncIterator<string>,
  ) {
    void (async () => {
      for (let next = await lines.next(); !next.done; next = await lines.next()) this.replies.shift()?.(next.value);
    })();
  }

  static async start(): Promise<FakeService> {
    const workdir = mkdtempSync(join(tmpdir(), "tidewick-fake-ai-"));
    const child = spawn("python3", [join(repoDir, "tests/ai/fake_grsai.py"), "--workdir", workdir], { stdio: ["pipe", "pipe", "inherit"] });
    const lines = createInterface({ input: child.stdout })[Symbol.asyncIterator]();
    const first = await lines.next();
    const match = /^ready (\d+) (\S+)$/.exec(first.done ? "" : first.value);
    if (!match) throw new Error(`the AI service stand-in did not start: ${first.value}`);
    return new FakeService(child, workdir, Number(match[1]), match[2], lines);
  }

  get baseURL(): string {
    return `https://127.0.0.1:${this.port}`;
  }

  route(method: string, path: string, responses: ScriptedResponse[]): Promise<unknown> {
    return new Promise((resolve) => {
      this.replies.push((line) => resolve(JSON.parse(line)));
      this.child.stdin.write(JSON.stringify({ op: "route", method, path, responses }) + "\n");
    });
  }

  // How many requests the stand-in has received on a path (logged as they arrive, before any delay).
  async received(path: string): Promise<number> {
    const log = await new Promise<unknown>((resolve) => {
      this.replies.push((line) => resolve(JSON.parse(line)));
      this.child.stdin.write(JSON.stringify({ op: "requests" }) + "\n");
    });
    return Array.isArray(log) ? log.filter((request) => request?.path === path).length : 0;
  }

  // A chat answer whose text is the given object, as the vision model would write it.
  static visionAnswer(answer: unknown, delayMs = 0): ScriptedResponse {
    const json = { choices: [{ message: { content: JSON.stringify(answer) } }], usage: { prompt_tokens: 10, completion_tokens: 5 } };
    return delayMs ? { json, delay_ms: delayMs } : { json };
  }

  stop(): void {
    this.child.stdin.end();
    rmSync(this.workdir, { recursive: true, force: true });
  }
}
