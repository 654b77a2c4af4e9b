import { afterEach, describe, expect, it } from "vitest";
import { NativeSession, startSession } from "./shim";

describe("start-up handshake with the program", () => {
  let session: NativeSession | null = null;
  afterEach(async () => {
    await session?.close();
    session = null;
  });

  it("posts ready once, shows the version and adopts the stored (empty) project", async () => {
    session = await startSession();
    const version = await session.waitForCallback<string>("version");
    await session.waitForCallback("receiveState");
    await session.waitForCallback("lensCorrectionState");

    expect(session.posted.filter((body) => body.action === "ready")).toHaveLength(1);
    await expect.poll(() => session!.page.getByTestId("version").textContent()).toContain(version);
    expect(await session.page.getByText("还没有照片").count()).toBe(1);
    // No save may be sent merely because the page started: it would overwrite the project.
    expect(session.posted.filter((body) => body.action === "saveState")).toHaveLength(0);
    await session.screenshot("start-empty");

    const code = await session.close();
    session = null;
    expect(code).toBe(0);
  });
});
