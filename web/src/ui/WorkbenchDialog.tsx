import { useState } from "preact/hooks";
import { folderOf, IMAGE_SIZES, type TemplateStage } from "../state/faceBatch";
import { STYLE_MAX_PHOTOS } from "../state/projectStyle";
import type { StyleScope, Workbench, WorkbenchTab } from "../state/store";
import { T } from "../texts";
import { Modal } from "./Modal";
import { ProjectBackups } from "./ProjectBackups";

function ProjectTab({ workbench }: { workbench: Workbench }) {
  const saving = workbench.archiveSaving.value;
  const relinking = workbench.relinking.value;
  const recent = workbench.project.value.recentProjects;
  return (
    <section class="settings-section" data-testid="project-tab">
      <h3>{T.archiveTitle}</h3>
      <p class="small muted">{T.archiveHint}</p>
      <div class="row">
        <button disabled={saving || !workbench.restored.value} onClick={() => workbench.saveArchive()} data-testid="save-archive">
          {saving ? T.archiveSaving : T.saveArchive}
        </button>
        <button onClick={() => workbench.openArchive()} data-testid="open-archive">
          {T.openArchive}
        </button>
      </div>
      <h3 class="section-gap">{T.recentTitle}</h3>
      <p class="small muted">{T.recentHint}</p>
      {recent.length ? (
        <ul class="recent-projects" data-testid="recent-projects">
          {recent.map((entry, i) => (
            <li key={`${entry.name}-${entry.at}`} data-testid="recent-project">
              <span class="recent-name">{entry.name}</span>
              <span class="small muted">{T.recentEntry(entry.photos, entry.how, entry.at)}</span>
              <button class="small-button" onClick={() => workbench.openArchive()} aria-label={`${T.reopen} ${entry.name}`}>
                {T.reopen}
              </button>
              <button class="small-button" onClick={() => workbench.forgetRecentProject(i)} aria-label={`${T.remove} ${entry.name}`}>
                {T.remove}
              </button>
            </li>
          ))}
        </ul>
      ) : (
        <p class="small muted">{T.recentEmpty}</p>
      )}
      <ProjectBackups workbench={workbench} />
      <h3 class="section-gap">{T.relinkTitle}</h3>
      <p class="small muted">{T.relinkHint}</p>
      <button disabled={relinking || !workbench.photos.value.length} onClick={() => workbench.relinkPhotos()} data-testid="relink">
        {relinking ? T.relinking : T.relink}
      </button>
    </section>
  );
}

function StyleTab({ workbench }: { workbench: Workbench }) {
  const style = workbench.style.state.value;
  const busy = style.phase === "previewing" || style.phase === "exporting";
  const selected = workbench.photosForScope("selected").length;
  const [scope, setScope] = useState<StyleScope>(selected > 1 ? "selected" : "all");
  const scopes: Array<[StyleScope, string, number]> = [
    ["selected", T.scopeSelected(selected), selected],
    ["kept", T.scopeKept(workbench.photosForScope("kept").length), workbench.photosForScope("kept").length],
    ["all", T.scopeAll(workbench.photos.value.length), workbench.photos.value.length],
  ];
  const count = scopes.find(([value]) => value === scope)?.[2] ?? 0;
  return (
    <section class="settings-section" data-testid="style-tab">
      <p class="small muted">{T.styleHint}</p>
      <div class="style-reference">
        {style.reference ? (
          <img src={style.reference.preview} alt={style.reference.name} />
        ) : (
          <div class="thumb-missing">{T.noReference}</div>
        )}
        <div class="field">
          <span data-testid="style-reference-name">{style.reference?.name ?? ""}</span>
          <button disabled={busy} onClick={() => workbench.style.chooseReference()} data-testid="choose-reference">
            {T.chooseReference}
          </button>
        </div>
      </div>
      <div class="form">
        <label class="label" for="style-strength">
          {T.strength}
        </label>
        <div class="row">
          <input
            id="style-strength"
            type="range"
            min={0}
            max={100}
            step={5}
            value={style.strength}
            disabled={busy}
            onInput={(event) => workbench.style.setOptions({ strength: Number((event.currentTarget as HTMLInputElement).value) })}
            data-testid="style-strength"
          />
          <span>{style.strength}%</span>
        </div>
        <span />
        <label>
          <input
            type="checkbox"
            checked={style.preserveColors}
            disabled={busy}
            onChange={() => workbench.style.setOptions({ preserveColors: !style.preserveColors })}
            data-testid="style-preserve"
          />
          {T.preserveColors}
        </label>
        <span class="label">{T.styleScope}</span>
        <div class="radio-column">
          {scopes.map(([value, label, n]) => (
            <label key={value}>
              <input type="radio" name="style-scope" checked={scope === value} disabled={!n || busy} onChange={() => setScope(value)} />
              {label}
            </label>
          ))}
        </div>
      </div>
      {count > STYLE_MAX_PHOTOS && <p class="small warning">{T.styleTooMany(STYLE_MAX_PHOTOS)}</p>}
      <div class="row section-gap">
        <button
          class="primary"
          disabled={busy || !style.reference || !count || count > STYLE_MAX_PHOTOS}
          onClick={() => workbench.previewStyle(scope)}
          data-testid="preview-style"
        >
          {style.phase === "previewing" ? T.previewingStyle : T.previewStyle}
        </button>
        <button disabled={style.phase !== "ready"} onClick={() => workbench.style.exportCopies()} data-testid="export-style">
          {T.exportStyle}
        </button>
        {busy && (
          <button onClick={() => workbench.style.cancel()} data-testid="cancel-style">
            {T.cancel}
          </button>
        )}
      </div>
      {style.phase === "exporting" && (
        <div class="row section-gap">
          <progress />
          <span class="small">{T.exportingStyle(style.total)}</span>
        </div>
      )}
      {style.message && (
        <p class="small" data-testid="style-message" role="status">
          {style.message}
        </p>
      )}
      {style.previews.length > 0 && (
        <div class="style-pairs" data-testid="style-pairs">
          {style.previews.map((pair, i) => (
            <figure key={i}>
              <div class="pair">
                <img src={pair.before} alt={`${pair.name} ${T.before}`} />
                <img src={pair.after} alt={`${pair.name} ${T.after}`} />
              </div>
              <figcaption class="small muted">
                {pair.name}：{T.before} / {T.after}
              </figcaption>
            </figure>
          ))}
        </div>
      )}
    </section>
  );
}

function TemplateSlot({ workbench, stage }: { workbench: Workbench; stage: TemplateStage }) {
  const batch = workbench.faceBatch;
  const image = batch.state.value[stage];
  const label = stage === "before" ? T.templateBefore : T.templateAfter;
  return (
    <div class="style-reference">
      {image ? <img src={image.preview} alt={`${label} ${image.name}`} /> : <div class="thumb-missing">{label}</div>}
      <div class="field">
        <span class="label">{label}</span>
        <span data-testid={`template-${stage}`}>{image?.name ?? ""}</span>
        <button disabled={batch.running()} onClick={() => batch.chooseTemplate(stage)} data-testid={`choose-template-${stage}`}>
          {T.chooseTemplate}
        </button>
      </div>
    </div>
  );
}

function FaceBatchTab({ workbench }: { workbench: Workbench }) {
  const batch = workbench.faceBatch;
  const state = batch.state.value;
  const running = batch.running();
  const saveLocation = workbench.bridge.value?.saveLocation ?? null;
  return (
    <section class="settings-section" data-testid="face-batch-tab">
      <p class="small muted">{T.faceBatchHint}</p>
      <div class="template-pair">
        <TemplateSlot workbench={workbench} stage="before" />
        <TemplateSlot workbench={workbench} stage="after" />
      </div>
      <div class="row">
        <span class="small">{T.saveLocation(saveLocation)}</span>
        <button onClick={() => workbench.chooseSaveLocation()}>{T.chooseSaveLocation}</button>
      </div>
      <div class="form section-gap">
        <label class="label" for="face-prompt">
          {T.facePrompt}
        </label>
        <input
          id="face-prompt"
          type="text"
          value={state.prompt}
          disabled={running}
          onInput={(event) => batch.setOptions({ prompt: (event.currentTarget as HTMLInputElement).value })}
        />
        <label class="label" for="face-size">
          {T.imageSize}
        </label>
        <select
          id="face-size"
          value={state.imageSize}
          disabled={running}
          onChange={(event) => batch.setOptions({ imageSize: (event.currentTarget as HTMLSelectElement).value as (typeof IMAGE_SIZES)[number] })}
        >
          {IMAGE_SIZES.map((size) => (
            <option key={size} value={size}>
              {size}
            </option>
          ))}
        </select>
      </div>
      <div class="row section-gap">
        <button onClick={() => batch.choosePhotos()} data-testid="add-face-photos">
          {T.addFacePhotos}
        </button>
        <button class="primary" disabled={!batch.canStart()} onClick={() => batch.start()} data-testid="start-face-batch">
          {T.startFaceBatch}
        </button>
        {running && (
          <button onClick={() => batch.cancel()} data-testid="cancel-face-batch">
            {T.cancel}
          </button>
        )}
      </div>
      {state.items.length ? (
        <ul class="face-queue" data-testid="face-queue">
          {state.items.map((item) => (
            <li key={item.id} class={`face-${item.state}`} data-testid="face-item">
              {item.thumbnail ? <img src={item.thumbnail} alt="" /> : <span class="thumb-missing" />}
              <span class="face-name">{item.name}</span>
              <span class="face-state">
                {T.faceItemState[item.state]}
                {item.state === "running" && ` ${item.progress}%`}
              </span>
              {item.state === "running" && <progress max={100} value={item.progress} />}
              <span class="small muted face-detail">
                {item.state === "done" ? item.resultName : [item.stage, item.message].filter(Boolean).join(" · ")}
              </span>
              {item.resultPath && (
                <button class="small-button" onClick={() => workbench.openFolder(folderOf(item.resultPath))} data-testid="face-show-folder">
                  {T.showInFolder}
                </button>
              )}
              <button class="small-button" disabled={item.id === state.currentId} onClick={() => batch.removeItem(item.id)}>
                {T.remove}
              </button>
            </li>
          ))}
        </ul>
      ) : (
        <p class="small muted">{T.faceQueueEmpty}</p>
      )}
    </section>
  );
}

function HealthTab({ workbench }: { workbench: Workbench }) {
  const { checking, report } = workbench.health.value;
  return (
    <section class="settings-section" data-testid="health-tab">
      <p class="small muted">{T.healthHint}</p>
      <div class="row">
        <button class="primary" disabled={checking} onClick={() => workbench.checkHealth()} data-testid="check-health">
          {checking ? T.checkingHealth : T.checkHealth}
        </button>
        <button disabled={!report} onClick={() => workbench.exportHealthReport()} data-testid="export-health">
          {T.exportHealth}
        </button>
      </div>
      {report && (
        <>
          <ul class="health-rows" data-testid="health-rows">
            {report.rows.map((row, i) => (
              <li key={i} class={row.ok === null ? "unknown" : row.ok ? "ok" : "bad"}>
                <span class="health-name">{row.name}</span>
                <span class="health-state">{T.healthOk(row.ok)}</span>
                <span class="health-message small">{row.message}</span>
              </li>
            ))}
          </ul>
          <p class="small muted">{T.healthVersion(report.version, report.build)}</p>
        </>
      )}
    </section>
  );
}

const TABS: Array<[WorkbenchTab, string]> = [
  ["project", T.tabProject],
  ["style", T.tabStyle],
  ["faceBatch", T.tabFaceBatch],
  ["health", T.tabHealth],
];

export function WorkbenchDialog({ workbench }: { workbench: Workbench }) {
  const tab = workbench.workbenchTab.value;
  const close = () => (workbench.dialog.value = null);
  // Arrow keys move between tabs, as in any tab strip.
  const onTabKey = (event: KeyboardEvent) => {
    if (event.key !== "ArrowLeft" && event.key !== "ArrowRight") return;
    event.preventDefault();
    const at = TABS.findIndex(([value]) => value === tab);
    const next = TABS[(at + (event.key === "ArrowRight" ? 1 : TABS.length - 1)) % TABS.length][0];
    workbench.workbenchTab.value = next;
    (event.currentTarget as HTMLElement).querySelector<HTMLElement>(`[data-tab="${next}"]`)?.focus();
  };
  return (
    <Modal title={T.workbench} onClose={close} testid="workbench-dialog" wide>
      <div class="tabs segmented" role="tablist" onKeyDown={onTabKey}>
        {TABS.map(([value, label]) => (
          <button
            key={value}
            role="tab"
            aria-selected={tab === value}
            tabIndex={tab === value ? 0 : -1}
            class={tab === value ? "active" : ""}
            data-tab={value}
            onClick={() => (workbench.workbenchTab.value = value)}
          >
            {label}
          </button>
        ))}
      </div>
      <div role="tabpanel" class="tab-panel">
        {tab === "project" && <ProjectTab workbench={workbench} />}
        {tab === "style" && <StyleTab workbench={workbench} />}
        {tab === "faceBatch" && <FaceBatchTab workbench={workbench} />}
        {tab === "health" && <HealthTab workbench={workbench} />}
      </div>
      <div class="modal-actions">
        <button onClick={close}>{T.close}</button>
      </div>
    </Modal>
  );
}
