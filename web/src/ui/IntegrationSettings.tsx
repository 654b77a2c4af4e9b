import { useEffect, useRef, useState } from "preact/hooks";
import { COMFY_MODEL_SIZES } from "../state/comfySetup";
import { COMPANION_APPS } from "../state/companionApps";
import type { Workbench } from "../state/store";
import { T, formatBytes } from "../texts";

export function UpdateSection({ workbench }: { workbench: Workbench }) {
  const update = workbench.appUpdate;
  const state = update.state.value;
  const download = update.download.value;
  // The address follows the program's reports until the user edits it.
  const [address, setAddress] = useState<string | null>(null);
  const shown = address ?? state?.manifestURL ?? "";
  const save = (event: Event) => {
    event.preventDefault();
    update.saveAddress(shown);
    setAddress(null);
  };
  const found = state?.found ?? null;
  return (
    <section class="settings-section" data-testid="update-section">
      <h3>{T.updateTitle}</h3>
      <p class="small muted">{T.updateHint}</p>
      {state && <p class="small">{T.updateCurrent(state.currentVersion, state.currentBuild)}</p>}
      <form class="form" onSubmit={save} autoComplete="off">
        <label class="label" for="update-url">
          {T.updateAddress}
        </label>
        <input
          id="update-url"
          type="url"
          spellcheck={false}
          placeholder={T.updateAddressPlaceholder}
          value={shown}
          disabled={!state}
          onInput={(event) => setAddress((event.currentTarget as HTMLInputElement).value)}
          data-testid="update-url"
        />
        <span />
        <label>
          <input
            type="checkbox"
            checked={state?.automatic ?? false}
            disabled={!state || state.automatic === null}
            onChange={(event) => update.setAutomatic((event.currentTarget as HTMLInputElement).checked)}
            data-testid="update-automatic"
          />
          {T.updateAutomatic}
        </label>
        <span />
        <div class="row">
          <button type="submit" disabled={!state} data-testid="update-save">
            {T.updateSaveAddress}
          </button>
          <button type="button" class="primary" disabled={!state || state.checking} onClick={() => update.check(shown)} data-testid="update-check">
            {state?.checking ? T.updateChecking : T.updateCheckNow}
          </button>
        </div>
      </form>
      <p class="small" role="status" aria-live="polite" data-testid="update-status">
        {T.updateStatus(state ? state.status : null)}
      </p>
      {state?.error && (
        <p class="small warning" data-testid="update-error">
          {state.error}
        </p>
      )}
      {found && (
        <div class="update-found" data-testid="update-found">
          <p class="small">
            {T.updateFound(found.version, found.build)}
            {found.publishedAt && ` · ${T.updatePublished(found.publishedAt)}`}
          </p>
          {found.releaseNotes && (
            <p class="small release-notes" data-testid="update-notes">
              {found.releaseNotes}
            </p>
          )}
          {found.sha256 && <p class="small muted checksum">{T.updateChecksum(found.sha256)}</p>}
          <button class="primary" onClick={() => update.startDownload()} data-testid="update-download">
            {T.updateDownload}
          </button>
        </div>
      )}
      {download && (
        <p class={download.success ? "small" : "small warning"} role="status" data-testid="update-download-message">
          {download.message}
        </p>
      )}
    </section>
  );
}

export function CompanionAppsSection({ workbench }: { workbench: Workbench }) {
  const companions = workbench.companionApps;
  const apps = companions.apps.value;
  const opened = companions.opened.value;
  return (
    <section class="settings-section" data-testid="companion-section">
      <h3>{T.companionTitle}</h3>
      <p class="small muted">{T.companionHint}</p>
      <ul class="companion-apps">
        {COMPANION_APPS.map((key) => {
          const app = apps?.[key] ?? null;
          return (
            <li key={key} data-testid={`app-${key}`}>
              <span>{app?.name || key}</span>
              <span class={app?.installed ? "small ok" : "small muted"}>{T.appInstalled(app ? app.installed : null)}</span>
              <button class="small-button" onClick={() => companions.open(key)} data-testid={`open-${key}`}>
                {T.openApp}
              </button>
            </li>
          );
        })}
      </ul>
      {opened && (
        <p class={opened.success ? "small" : "small warning"} role="status" data-testid="app-opened">
          {opened.success ? opened.message || T.appOpened(opened.name) : opened.message}
        </p>
      )}
    </section>
  );
}

function SetupLog({ workbench }: { workbench: Workbench }) {
  const log = workbench.comfy.log.value;
  const box = useRef<HTMLDivElement>(null);
  // The newest line stays in view, as in a terminal.
  useEffect(() => {
    if (box.current) box.current.scrollTop = box.current.scrollHeight;
  }, [log]);
  if (!log.length) return null;
  return (
    <>
      <p class="label section-gap">{T.comfyLog}</p>
      <div class="setup-log" ref={box} role="log" aria-live="polite" data-testid="comfy-log">
        {log.map((line, i) => (
          <p key={i} class={`setup-${line.event === "error" || line.event === "failed" ? "bad" : line.event === "finished" ? "ok" : "info"}`}>
            <span class="setup-event">{line.event}</span> {line.message}
          </p>
        ))}
      </div>
    </>
  );
}

export function ComfySetupSection({ workbench }: { workbench: Workbench }) {
  const comfy = workbench.comfy;
  const setup = comfy.snapshot.value;
  const connection = comfy.connection.value;
  const installing = setup?.busy === true || comfy.starting.value;
  const checking = comfy.checking.value;
  return (
    <section class="settings-section" data-testid="comfy-section">
      <h3>{T.comfyTitle}</h3>
      <p class="small muted">{T.comfyHint}</p>
      <ul class="small comfy-models">
        {T.comfyModelNames.map((name, i) => (
          <li key={name}>
            {name} · {formatBytes(COMFY_MODEL_SIZES[i])}
          </li>
        ))}
      </ul>
      {setup ? (
        <ul class="small comfy-state" data-testid="comfy-state">
          <li>{T.comfyDesktop(setup.desktopInstalled)}</li>
          <li>
            {setup.instanceInstalled === null
              ? T.comfyInstanceUnknown
              : setup.instanceInstalled
                ? T.comfyInstance(setup.instanceName, setup.instancePath)
                : T.comfyNoInstance}
          </li>
          <li data-testid="comfy-models">{T.comfyModels(setup.modelsReady, setup.modelsTotal, setup.missingBytes)}</li>
          {setup.modelRoot && <li class="muted">{T.comfyModelRoot(setup.modelRoot)}</li>}
          <li>{T.comfyNode(setup.nodeReady)}</li>
          <li>{T.comfyDependency(setup.dependencyReady)}</li>
          {setup.memoryGB !== null && <li class="muted">{T.comfyMemory(setup.memoryGB)}</li>}
        </ul>
      ) : (
        <p class="small muted" data-testid="comfy-state">
          {T.comfyNotReported}
        </p>
      )}
      <div class="row wrap">
        <button onClick={() => comfy.refresh()} data-testid="comfy-refresh">
          {T.comfyRefresh}
        </button>
        <button onClick={() => comfy.downloadDesktop()} data-testid="comfy-download">
          {T.comfyDownloadDesktop}
        </button>
        <button onClick={() => comfy.openDesktop()} data-testid="comfy-open">
          {T.comfyOpenDesktop}
        </button>
        <button class="primary" disabled={installing} onClick={() => comfy.install()} data-testid="comfy-install">
          {installing ? T.comfyInstalling : T.comfyInstall}
        </button>
        <button disabled={checking} onClick={() => comfy.checkConnection()} data-testid="comfy-check">
          {checking ? T.comfyChecking : T.comfyCheck}
        </button>
      </div>
      <p class={connection?.connected ? "small ok" : "small"} role="status" aria-live="polite" data-testid="comfy-connection">
        {connection ? connection.message || T.comfyConnected(connection.connected) : T.comfyConnectionUnknown}
      </p>
      <SetupLog workbench={workbench} />
    </section>
  );
}
