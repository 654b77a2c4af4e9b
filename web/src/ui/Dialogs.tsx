import { useEffect, useRef, useState } from "preact/hooks";
import { connectedPlugins } from "../state/pluginBridge";
import type { ExportScope, Workbench } from "../state/store";
import type { ConflictMode, ExportFormat } from "../state/types";
import { T } from "../texts";
import { CloudDialog } from "./CloudDialog";
import { EditDialog } from "./EditDialog";
import { ComfySetupSection, CompanionAppsSection, UpdateSection } from "./IntegrationSettings";
import { Modal } from "./Modal";
import { KeyMapDialog } from "./KeyMapDialog";
import { WorkbenchDialog } from "./WorkbenchDialog";

function TrashDialog({ workbench }: { workbench: Workbench }) {
  const rejects = workbench.rejects();
  const starred = rejects.filter((photo) => (photo.rating ?? 0) > 0).length;
  const close = () => (workbench.dialog.value = null);
  // The safe answer takes the focus, so Enter pressed out of habit moves nothing.
  const cancel = useRef<HTMLButtonElement>(null);
  useEffect(() => cancel.current?.focus(), []);
  return (
    <Modal title={T.trashConfirmTitle} onClose={close} testid="trash-dialog">
      <p>{T.trashConfirm(rejects.length)}</p>
      {starred > 0 && (
        <p class="warning" data-testid="trash-starred">
          {T.trashStarred(starred)}
        </p>
      )}
      <div class="modal-actions">
        <button onClick={close} ref={cancel} data-testid="cancel-trash">
          {T.cancel}
        </button>
        <button class="danger" onClick={() => workbench.trashRejects()} data-testid="confirm-trash">
          {T.confirmTrash}
        </button>
      </div>
    </Modal>
  );
}

function ReplaceProjectDialog({ workbench }: { workbench: Workbench }) {
  const close = () => (workbench.dialog.value = null);
  const opening = workbench.pendingImport.value?.opening;
  const cancel = useRef<HTMLButtonElement>(null);
  useEffect(() => cancel.current?.focus(), []);
  return (
    <Modal title={T.replaceTitle} onClose={close} testid="replace-dialog">
      {opening && <p data-testid="open-request">{T.openRequested(opening.count, opening.names)}</p>}
      <p>{T.replaceConfirm(workbench.decidedCount())}</p>
      <div class="modal-actions">
        <button onClick={close} ref={cancel}>
          {T.cancel}
        </button>
        <button class="primary" onClick={() => workbench.confirmImport()} data-testid="confirm-import">
          {T.replaceContinue}
        </button>
      </div>
    </Modal>
  );
}

const FORMATS: Array<[ExportFormat, string]> = [
  ["original", T.formatOriginal],
  ["jpeg", "JPEG"],
  ["png", "PNG"],
  ["tiff", "TIFF"],
];
const CONFLICTS: Array<[ConflictMode, string]> = [
  ["rename", T.conflictRename],
  ["skip", T.conflictSkip],
  ["replace", T.conflictReplace],
];

function AdvancedExportDialog({ workbench }: { workbench: Workbench }) {
  const options = workbench.project.value.exportOptions;
  const selected = workbench.photosForScope("selected").length;
  const [scope, setScope] = useState<ExportScope>(selected > 1 ? "selected" : "kept");
  const close = () => (workbench.dialog.value = null);
  const scopes: Array<[ExportScope, string, number]> = [
    ["selected", T.scopeSelected(selected), selected],
    ["visible", T.scopeVisible(workbench.photosForScope("visible").length), workbench.photosForScope("visible").length],
    ["kept", T.scopeKept(workbench.photosForScope("kept").length), workbench.photosForScope("kept").length],
    ["all", T.scopeAll(workbench.photos.value.length), workbench.photos.value.length],
  ];
  const chosenCount = scopes.find(([s]) => s === scope)?.[2] ?? 0;
  return (
    <Modal title={T.advancedExport} onClose={close} testid="export-dialog">
      <div class="form">
        <span class="label">{T.exportScope}</span>
        <div class="radio-column">
          {scopes.map(([value, label, n]) => (
            <label key={value}>
              <input type="radio" name="scope" checked={scope === value} disabled={!n} onChange={() => setScope(value)} />
              {label}
            </label>
          ))}
        </div>
        <span class="label">{T.exportFormat}</span>
        <div class="segmented">
          {FORMATS.map(([value, label]) => (
            <button key={value} class={options.format === value ? "active" : ""} onClick={() => workbench.setExportOptions({ format: value })}>
              {label}
            </button>
          ))}
        </div>
        <span class="label">{T.quality}</span>
        <div class="row">
          <input
            type="range"
            min={0.5}
            max={1}
            step={0.01}
            value={options.quality}
            disabled={options.format !== "jpeg"}
            onInput={(event) => workbench.setExportOptions({ quality: Number((event.currentTarget as HTMLInputElement).value) })}
          />
          <span>{Math.round(options.quality * 100)}</span>
        </div>
        <span class="label">{T.conflict}</span>
        <div class="segmented">
          {CONFLICTS.map(([value, label]) => (
            <button key={value} class={options.conflict === value ? "active" : ""} onClick={() => workbench.setExportOptions({ conflict: value })}>
              {label}
            </button>
          ))}
        </div>
        <span />
        <label>
          <input type="checkbox" checked={options.organize} onChange={() => workbench.setExportOptions({ organize: !options.organize })} />
          {T.organize}
        </label>
      </div>
      <div class="modal-actions">
        <button onClick={close}>{T.cancel}</button>
        <button class="primary" disabled={!chosenCount} onClick={() => workbench.exportAdvanced(scope)} data-testid="start-export">
          {T.startExport}
        </button>
      </div>
    </Modal>
  );
}

function PluginSection({ workbench }: { workbench: Workbench }) {
  const bridge = workbench.bridge.value;
  const ai = bridge?.grsAI ?? null;
  return (
    <section class="settings-section" data-testid="plugin-section">
      <h3>{T.pluginTitle}</h3>
      {bridge ? (
        <>
          <p class="small" data-testid="plugin-listening">
            {bridge.listening === null ? `${T.pluginTitle}：${T.unknown}` : bridge.listening ? T.pluginListening(bridge.port) : T.pluginNotListening}
          </p>
          <p class="small" data-testid="plugin-connected">
            {T.pluginConnected(connectedPlugins(bridge))}
          </p>
          {bridge.error && (
            <p class="small warning" data-testid="plugin-error">
              {T.pluginError(bridge.error)}
            </p>
          )}
          <p class="small" data-testid="plugin-ai">
            {ai ? [`${T.aiService}：${ai.status ?? T.unknown}`, T.aiConfigured(ai.configured), ai.model ?? ""].filter(Boolean).join(" · ") : T.aiServiceUnknown}
          </p>
          {ai?.detail && <p class="small muted">{ai.detail}</p>}
        </>
      ) : (
        <p class="small muted" data-testid="plugin-listening">
          {T.pluginNotRunning}
        </p>
      )}
      <p class="small" data-testid="save-location">
        {T.saveLocation(bridge ? bridge.saveLocation : null)}
      </p>
      <button onClick={() => workbench.chooseSaveLocation()} data-testid="choose-save-location">
        {T.chooseSaveLocation}
      </button>
    </section>
  );
}

function AIServiceSection({ workbench }: { workbench: Workbench }) {
  const ai = workbench.ai;
  const state = ai.state.value;
  const checking = ai.checking.value;
  // The key typed here is held only until it is sent; the address and model start from what the
  // program reports and follow its reports until the user edits them.
  const [key, setKey] = useState("");
  const [baseURL, setBaseURL] = useState<string | null>(null);
  const [model, setModel] = useState<string | null>(null);
  const save = (event: Event) => {
    event.preventDefault();
    ai.save(key, baseURL ?? state?.baseURL ?? "", model ?? state?.model ?? "");
    setKey("");
    setBaseURL(null);
    setModel(null);
  };
  return (
    <section class="settings-section" data-testid="ai-section">
      <h3>{T.aiSettingsTitle}</h3>
      <p class="small muted">{T.aiSettingsHint}</p>
      <form class="form" onSubmit={save} autoComplete="off">
        <label class="label" for="ai-key">
          {T.aiKey}
        </label>
        <div class="field">
          <input
            id="ai-key"
            type="password"
            autoComplete="new-password"
            spellcheck={false}
            placeholder={T.aiKeyPlaceholder}
            value={key}
            onInput={(event) => setKey((event.currentTarget as HTMLInputElement).value)}
            data-testid="ai-key"
          />
          <span class="small muted" data-testid="ai-key-state">
            {T.aiKeyStored(state ? state.maskedKey : null)}
          </span>
        </div>
        <label class="label" for="ai-base-url">
          {T.aiBaseURL}
        </label>
        <input
          id="ai-base-url"
          type="url"
          spellcheck={false}
          value={baseURL ?? state?.baseURL ?? ""}
          onInput={(event) => setBaseURL((event.currentTarget as HTMLInputElement).value)}
          data-testid="ai-base-url"
        />
        <label class="label" for="ai-model">
          {T.aiModel}
        </label>
        <input
          id="ai-model"
          type="text"
          spellcheck={false}
          value={model ?? state?.model ?? ""}
          onInput={(event) => setModel((event.currentTarget as HTMLInputElement).value)}
          data-testid="ai-model"
        />
        <span />
        <div class="row">
          <button type="submit" class="primary" data-testid="ai-save">
            {T.aiSave}
          </button>
          <button type="button" disabled={checking} onClick={() => ai.test()} data-testid="ai-test">
            {checking ? T.aiChecking : T.aiTest}
          </button>
        </div>
      </form>
      <p class="small" role="status" aria-live="polite" data-testid="ai-status">
        {checking ? T.aiStatusChecking : T.aiStatus(state ? state.status : null)}
      </p>
      {!checking && state?.detail && (
        <p class="small muted" data-testid="ai-detail">
          {state.detail}
        </p>
      )}
    </section>
  );
}

function SettingsDialog({ workbench }: { workbench: Workbench }) {
  const lens = workbench.lens.value;
  const folder = workbench.project.value.ratingExportFolder;
  const close = () => (workbench.dialog.value = null);
  return (
    <Modal title={T.settings} onClose={close} testid="settings-dialog">
      <section class="settings-section">
        <h3>{T.lensTitle}</h3>
        {lens ? (
          <>
            <label>
              <input
                type="checkbox"
                checked={lens.enabled}
                data-testid="lens-switch"
                onChange={() => workbench.saveLensSettings(!lens.enabled)}
              />
              启用镜头矫正
            </label>
            <p class="muted small">{T.lensEngine(lens.engine, lens.cameraCount)}</p>
            <p class="small" data-testid="lens-detail">
              {lens.detail}
            </p>
          </>
        ) : (
          <p class="muted">—</p>
        )}
      </section>
      <AIServiceSection workbench={workbench} />
      <PluginSection workbench={workbench} />
      <UpdateSection workbench={workbench} />
      <CompanionAppsSection workbench={workbench} />
      <ComfySetupSection workbench={workbench} />
      <section class="settings-section">
        <h3>{T.exportRated}</h3>
        <p class="small" data-testid="rated-folder">
          {T.ratedFolder(folder)}
        </p>
        <button onClick={() => workbench.chooseRatingExportFolder()}>{T.chooseRatedFolder}</button>
        {folder && (
          <button onClick={() => workbench.openFolder(folder)} data-testid="show-rated-folder">
            {T.showInFolder}
          </button>
        )}
      </section>
      <section class="settings-section">
        <h3>筛片</h3>
        <label>
          <input
            type="checkbox"
            checked={workbench.project.value.view.autoAdvance}
            onChange={() => workbench.setView({ autoAdvance: !workbench.project.value.view.autoAdvance })}
          />
          {T.autoAdvance}：决定或评星后自动跳到下一张
        </label>
        <label>
          <input
            type="checkbox"
            checked={!workbench.project.value.view.starsAdvance}
            disabled={!workbench.project.value.view.autoAdvance}
            data-testid="stars-stay"
            onChange={() => workbench.setView({ starsAdvance: !workbench.project.value.view.starsAdvance })}
          />
          {T.starsStay}
        </label>
      </section>
      <section class="settings-section">
        <h3>快捷键</h3>
        <p class="small muted">{T.mouseHelp}</p>
        <button onClick={() => (workbench.dialog.value = "keys")} data-testid="show-key-map">
          {T.keyMapTitle}（?）
        </button>
      </section>
      <div class="modal-actions">
        <button onClick={close}>{T.close}</button>
      </div>
    </Modal>
  );
}

export function Dialogs({ workbench }: { workbench: Workbench }) {
  switch (workbench.dialog.value) {
    case "trash":
      return <TrashDialog workbench={workbench} />;
    case "advancedExport":
      return <AdvancedExportDialog workbench={workbench} />;
    case "settings":
      return <SettingsDialog workbench={workbench} />;
    case "workbench":
      return <WorkbenchDialog workbench={workbench} />;
    case "cloud":
      return <CloudDialog workbench={workbench} />;
    case "replaceProject":
      return <ReplaceProjectDialog workbench={workbench} />;
    case "edit":
      return <EditDialog workbench={workbench} />;
    case "keys":
      return <KeyMapDialog workbench={workbench} />;
    default:
      return null;
  }
}

export function CardBanner({ workbench }: { workbench: Workbench }) {
  const card = workbench.card.value;
  if (!card) return null;
  return (
    <div class="banner" data-testid="card-banner">
      <span>{T.cardFound(card.path)}</span>
      <button class="primary" onClick={() => workbench.importCard()}>
        {T.importCard}
      </button>
      <button onClick={() => workbench.dismissCard()}>{T.dismiss}</button>
    </div>
  );
}
