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
  let session: NativeSession | null = null;
  afterEach(async () => {
    await session?.close();
    session = null;
  });
  afterAll(() => dirs.forEach((dir) => rmSync(dir, { recursive: true, force: true })));
  return {
    tempDir(prefix = "tidewick-"): string {
      const dir = mkdtempSync(join(tmpdir(), prefix));
      dirs.push(dir);
      return dir;
    },
    // A shoot folder of copies of sample photos: the samples' own names, or { name in the shoot: sample }.
    shoot(names: readonly string[] | Record<string, string>): string {
      const dir = this.tempDir("tidewick-shoot-");
      const copies = Array.isArray(names) ? names.map((name) => [name, name]) : Object.entries(names);
      for (const [name, sample] of copies) copyFileSync(join(testPhotosDir, sample), join(dir, name));
      return dir;
    },
    async start(options: SessionOptions = {}): Promise<NativeSession> {
      session = await startSession(options);
      await session.waitForCallback("receiveState", () => true, { timeoutMs: 60_000 });
      return session;
    },
  };
}
