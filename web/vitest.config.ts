import { defineConfig } from "vitest/config";

export default defineConfig({
  esbuild: { jsx: "automatic", jsxImportSource: "preact" },
  test: {
    include: ["tests/unit/**/*.test.ts"],
    environment: "node",
  },
});
