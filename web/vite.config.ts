import { defineConfig, type Plugin } from "vite";
import { fileURLToPath } from "node:url";

const outDir = fileURLToPath(new URL("../resources/Web", import.meta.url));

// The page is opened from a file URL inside the desktop web view. Module scripts and
// crossorigin attributes would make the engine apply CORS to file URLs, which fails, so
// the bundle is one classic script and the HTML is rewritten to load it that way.
function classicScriptHtml(): Plugin {
  return {
    name: "tidewick-classic-script",
    enforce: "post",
    transformIndexHtml(html) {
      return html
        .replace(/<script type="module" crossorigin src=/g, "<script defer src=")
        .replace(/<script type="module" src=/g, "<script defer src=")
        .replace(/ crossorigin(?=[\s>])/g, "");
    },
  };
}

export default defineConfig({
  base: "./",
  esbuild: { jsx: "automatic", jsxImportSource: "preact" },
  plugins: [classicScriptHtml()],
  build: {
    outDir,
    emptyOutDir: true,
    target: "es2020",
    modulePreload: false,
    cssCodeSplit: false,
    assetsInlineLimit: 0,
    rollupOptions: {
      output: {
        format: "iife",
        inlineDynamicImports: true,
        entryFileNames: "assets/page.js",
        assetFileNames: "assets/[name][extname]",
      },
    },
  },
});
