// The repository's local HTTPS stand-in of the AI service (tests/ai/fake_grsai.py): answers are
// scripted per path, and the program trusts its throw-away certificate authority through
// TIDEWICK_TEST_CA_FILE.
import { spawn } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { createInterface } from "node:readline";
import { repoDir } from "./shim";

const CHAT = "/v1/chat/completions";

export async function startFakeService() {
  const workdir = mkdtempSync(join(tmpdir(), "tidewick-fake-ai-"));
  const child = spawn("python3", [join(repoDir, "tests/ai/fake_grsai.py"), "--workdir", workdir], { stdio: ["pipe", "pipe", "inherit"] });
  const lines = createInterface({ input: child.stdout })[Symbol.asyncIterator]();
  const first = await lines.next();
  const match = /^ready (\d+) (\S+)$/.exec(first.done ? "" : first.value);
  if (!match) throw new Error(`the AI service stand-in did not start: ${first.value}`);
  // Each command's answer is the stand-in's next line.
  const ask = async (command: Record<string, unknown>): Promise<any> => {
    child.stdin.write(JSON.stringify(command) + "\n");
    const next = await lines.next();
    return JSON.parse(next.done ? "null" : next.value);
  };
  return {
    baseURL: `https://127.0.0.1:${match[1]}`,
    caFile: match[2],
    // The chat answers in order, each text the given object as the vision model writes it, sent after its delay.
    scriptChats: (answers: Array<[answer: unknown, delayMs?: number]>) => {
      const responses = answers.map(([answer, delayMs = 0]) => ({ json: { choices: [{ message: { content: JSON.stringify(answer) } }], usage: { prompt_tokens: 10, completion_tokens: 5 } }, delay_ms: delayMs }));
      return ask({ op: "route", method: "POST", path: CHAT, responses });
    },
    // How many chat requests the stand-in has received (logged as they arrive, before any delay).
    chatsReceived: async () => ((await ask({ op: "requests" })) as Array<{ path: string }>).filter((request) => request.path === CHAT).length,
    stop: () => {
      child.stdin.end();
      rmSync(workdir, { recursive: true, force: true });
    },
  };
}
