import { copyFileSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { afterAll, afterEach } from "vitest";
import { startSession, testPhotosDir, type NativeSession, type SessionOptions } from "./session";

export * from "./session";

// A test file's workflows: each test's program and browser are closed after it, and the
// temporary folders the file made are removed after the file.
export function workflows() {
  const dirs: string[] = [];
  let session: NativeSession | undefined;
  afterEach(() => session?.close());
  afterAll(() => dirs.forEach((dir) => rmSync(dir, { recursive: true, force: true })));
  const tempDir = (prefix = "tidewick-"): string => dirs[dirs.push(mkdtempSync(join(tmpdir(), prefix))) - 1];
  return {
    tempDir,
    // A shoot folder of copies of sample photos: the samples' own names, or { name in the shoot: sample }.
    shoot(names: readonly string[] | Record<string, string>): string {
      const dir = tempDir("tidewick-shoot-");
      for (const [name, sample] of Array.isArray(names) ? names.map((name) => [name, name]) : Object.entries(names)) copyFileSync(join(testPhotosDir, sample), join(dir, name));
      return dir;
    },
    async start(options: SessionOptions = {}): Promise<NativeSession> {
      session = await startSession(options, tempDir);
      await session.waitForCallback("receiveState", () => true, { timeoutMs: 60_000 });
      return session;
    },
  };
}
