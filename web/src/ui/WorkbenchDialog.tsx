import type { Workbench, WorkbenchTab } from "../state/store";
import { T } from "../texts";
import { Modal } from "./Modal";

function ProjectTab({ workbench }: { workbench: Workbench }) {
  const saving = workbench.archiveSaving.value;
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
        {tab === "health" && <HealthTab workbench={workbench} />}
      </div>
      <div class="modal-actions">
        <button onClick={close}>{T.close}</button>
      </div>
    </Modal>
  );
}
