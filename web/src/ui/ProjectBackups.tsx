import { useEffect, useLayoutEffect, useRef, useState } from "preact/hooks";
import type { Workbench } from "../state/store";
import { T } from "../texts";

// The automatic backups beside the recent projects. Opening one replaces the project on show,
// so it asks first; the program backs the current project up before it switches.
export function ProjectBackups({ workbench }: { workbench: Workbench }) {
  const backups = workbench.backups.value;
  const loading = workbench.backupsLoading.value;
  const [confirming, setConfirming] = useState<string | null>(null);
  const confirmButton = useRef<HTMLButtonElement>(null);
  // The list is read afresh whenever the tab is shown: an import since may have added one.
  useEffect(() => workbench.listBackups(), [workbench]);
  // Focus goes to the question as it appears, so a key pressed next answers it.
  useLayoutEffect(() => confirmButton.current?.focus(), [confirming]);
  // A list that changed under the question leaves it unanswered.
  const asked = confirming ? backups?.find((backup) => backup.name === confirming && backup.readable) : undefined;
  const cancel = (name: string) => {
    setConfirming(null);
    // Back to the entry's own button, where the keyboard user was.
    requestAnimationFrame(() => document.querySelector<HTMLElement>(`[data-backup="${CSS.escape(name)}"] button`)?.focus());
  };
  return (
    <>
      <h3 class="section-gap">{T.backupsTitle}</h3>
      <p class="small muted">{T.backupsHint}</p>
      {backups === null ? (
        <p class="small muted">{loading ? T.backupsLoading : T.backupsEmpty}</p>
      ) : backups.length ? (
        <ul class="recent-projects backups" data-testid="backups">
          {backups.map((backup) => (
            <li key={backup.name} class={backup.readable ? "" : "unreadable"} data-testid="backup" data-backup={backup.name}>
              <span class="recent-name">{T.backupTime(backup.savedAt)}</span>
              <span class="small muted">{T.backupEntry(backup.photos, backup.bytes)}</span>
              {backup.readable ? (
                <button
                  class="small-button"
                  disabled={asked !== undefined}
                  onClick={() => setConfirming(backup.name)}
                  aria-label={`${T.openBackup} ${T.backupTime(backup.savedAt)}`}
                >
                  {T.openBackup}
                </button>
              ) : (
                <span class="small warning">{T.backupUnreadable}</span>
              )}
            </li>
          ))}
        </ul>
      ) : (
        <p class="small muted">{T.backupsEmpty}</p>
      )}
      {asked && (
        <div
          class="confirm-box"
          role="group"
          aria-label={T.confirmOpenBackup}
          data-testid="backup-confirm"
          onKeyDown={(event) => {
            // Escape answers the question, not the whole dialog.
            if (event.key !== "Escape") return;
            event.preventDefault();
            event.stopPropagation();
            cancel(asked.name);
          }}
        >
          <p class="small">{T.backupConfirm(T.backupTime(asked.savedAt))}</p>
          <div class="row">
            <button onClick={() => cancel(asked.name)}>{T.cancel}</button>
            <button
              class="primary"
              ref={confirmButton}
              onClick={() => {
                setConfirming(null);
                workbench.openBackup(asked.name);
              }}
              data-testid="confirm-open-backup"
            >
              {T.confirmOpenBackup}
            </button>
          </div>
        </div>
      )}
    </>
  );
}
