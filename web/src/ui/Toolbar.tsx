import { useEffect, useRef, useState } from "preact/hooks";
import { isAnalysed } from "../state/filters";
import type { Workbench } from "../state/store";
import { CHECK_NAMES, STRICTNESS_LEVELS, type CheckName } from "../state/types";
import { T } from "../texts";

function AnalysisPanel({ workbench, onClose }: { workbench: Workbench; onClose: () => void }) {
  const settings = workbench.project.value.analysis;
  const photos = workbench.photos.value;
  const missing = photos.filter((photo) => !isAnalysed(photo)).length;
  const selected = workbench.selection.value.ids.size;
  const toggleCheck = (name: CheckName) => {
    const enabled = settings.enabled.includes(name)
      ? settings.enabled.filter((n) => n !== name)
      : CHECK_NAMES.filter((n) => n === name || settings.enabled.includes(n));
    workbench.setAnalysisSettings({ enabled });
  };
  const run = (scope: "missing" | "all" | "selected") => {
    onClose();
    workbench.startAnalysis(scope);
  };
  return (
    <div class="popover" data-testid="analysis-panel">
      <div class="field">
        <span class="label">{T.strictness}</span>
        <div class="segmented">
          {STRICTNESS_LEVELS.map((level) => (
            <button
              key={level}
              class={settings.strictness === level ? "active" : ""}
              onClick={() => workbench.setAnalysisSettings({ strictness: level })}
            >
              {level}
            </button>
          ))}
        </div>
      </div>
      <div class="field">
        <span class="label">{T.checks}</span>
        <div class="checks">
          {CHECK_NAMES.map((name) => (
            <label key={name}>
              <input type="checkbox" checked={settings.enabled.includes(name)} onChange={() => toggleCheck(name)} />
              {name}
            </label>
          ))}
        </div>
      </div>
      <label class="field">
        <input type="checkbox" checked={settings.sound} onChange={() => workbench.setAnalysisSettings({ sound: !settings.sound })} />
        {T.sound}
      </label>
      <div class="popover-actions">
        <button class="primary" disabled={!missing} onClick={() => run("missing")} data-testid="analyse-missing">
          {T.analyseMissing}（{missing}）
        </button>
        <button disabled={!photos.length} onClick={() => run("all")}>
          {T.analyseAll}
        </button>
        <button disabled={!selected} onClick={() => run("selected")}>
          {T.analyseSelected}
        </button>
      </div>
    </div>
  );
}

export function Toolbar({ workbench }: { workbench: Workbench }) {
  const [panel, setPanel] = useState(false);
  const anchor = useRef<HTMLDivElement>(null);
  // The panel closes on a click elsewhere or Escape, like a menu.
  useEffect(() => {
    if (!panel) return;
    const onDown = (event: MouseEvent) => {
      if (!anchor.current?.contains(event.target as Node)) setPanel(false);
    };
    const onKey = (event: KeyboardEvent) => {
      if (event.key === "Escape") {
        event.preventDefault();
        setPanel(false);
      }
    };
    document.addEventListener("mousedown", onDown);
    window.addEventListener("keydown", onKey, true);
    return () => {
      document.removeEventListener("mousedown", onDown);
      window.removeEventListener("keydown", onKey, true);
    };
  }, [panel]);
  const version = workbench.version.value;
  const hasPhotos = workbench.photos.value.length > 0;
  const analysing = !!workbench.analysis.value;
  const exporting = !!workbench.exportRun.value;
  return (
    <header class="toolbar">
      <span class="app-name">{T.appName}</span>
      <span class="version" data-testid="version">
        {version ? T.versionPrefix + version : T.versionUnknown}
      </span>
      <div class="group">
        <button onClick={() => workbench.chooseFolder()} data-testid="import-folder">
          {T.importFolder}
        </button>
        <button onClick={() => workbench.choosePhotos()}>{T.importPhotos}</button>
      </div>
      <div class="group anchor" ref={anchor}>
        <button
          class={panel ? "active" : ""}
          disabled={!hasPhotos || analysing}
          onClick={() => setPanel(!panel)}
          data-testid="analyse"
        >
          {T.analyse} ▾
        </button>
        {panel && <AnalysisPanel workbench={workbench} onClose={() => setPanel(false)} />}
        <button
          disabled={!hasPhotos}
          onClick={() => workbench.say(T.burstsFound(workbench.regroupBursts()))}
          title="按相似度和拍摄时间把连续的照片分为连拍组"
        >
          {T.groupBursts}
        </button>
        <button
          disabled={!hasPhotos || !!workbench.cloudRun.value}
          onClick={() => (workbench.dialog.value = "cloud")}
          data-testid="cloud-review"
        >
          {T.cloudReview}
        </button>
      </div>
      <span class="spacer" />
      <div class="group">
        <button disabled={!hasPhotos} onClick={() => workbench.askTrashRejects()} data-testid="trash-rejects">
          {T.trashRejects}
        </button>
        <button disabled={!hasPhotos} onClick={() => workbench.exportRated()} data-testid="export-rated">
          {T.exportRated}
        </button>
        <button
          disabled={!hasPhotos || exporting}
          onClick={() => (workbench.dialog.value = "advancedExport")}
          data-testid="advanced-export"
        >
          {T.advancedExport}
        </button>
        <button disabled={!hasPhotos} onClick={() => workbench.exportManifest()} data-testid="manifest">
          {T.manifest}
        </button>
      </div>
      <div class="group">
        <button onClick={() => (workbench.dialog.value = "workbench")} data-testid="workbench">
          {T.workbench}
        </button>
        <button onClick={() => (workbench.dialog.value = "settings")} data-testid="settings">
          {T.settings}
        </button>
      </div>
    </header>
  );
}
