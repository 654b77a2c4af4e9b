import { useState } from "preact/hooks";
import type { Workbench } from "../state/store";
import { T } from "../texts";

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
