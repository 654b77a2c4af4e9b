import { defineConfig } from "vitest/config";

// Browser workflows drive the built page against the real program; they run one file at a
// time because each starts its own browser and program on a two-core machine.
export default defineConfig({
  test: {
    include: ["tests/e2e/**/*.test.ts"],
    environment: "node",
    fileParallelism: false,
    testTimeout: 120_000,
    hookTimeout: 60_000,
  },
});
