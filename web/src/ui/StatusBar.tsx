import type { Workbench } from "../state/store";
import { T } from "../texts";

export function StatusBar({ workbench }: { workbench: Workbench }) {
  const run = workbench.analysis.value;
  const exportRun = workbench.exportRun.value;
  const cloudRun = workbench.cloudRun.value;
  const burstRun = workbench.burstRun.value;
  const counts = workbench.counts.value;
  const scan = workbench.scanProgress.value;
  const shown = workbench.importPreview.value;
  return (
    <footer class="statusbar">
      {scan && (
        <div class="progress-block" data-testid="scan-progress">
          <progress max={scan.total || 1} value={scan.total ? scan.thumbnails : undefined} />
          <span>{T.scanning(scan.found, scan.thumbnails, scan.total)}</span>
          {shown && <span class="muted" data-testid="import-shown">{T.importShown(shown.photos.length)}</span>}
        </div>
      )}
      {run && (
        <div class="progress-block" data-testid="analysis-progress">
          <progress max={run.total || 1} value={run.processed} />
          <span>{T.analysing(run.processed, run.total)}</span>
          {run.remaining !== null && run.processed < run.total && <span class="muted">{T.remaining(run.remaining)}</span>}
          <button class="small-button" onClick={() => workbench.cancelAnalysis()} data-testid="cancel-analysis">
            {T.cancel}
          </button>
        </div>
      )}
      {cloudRun && (
        <div class="progress-block" data-testid="cloud-progress">
          <progress max={cloudRun.total || 1} value={cloudRun.processed} />
          <span class="progress-text" title={cloudRun.name}>
            {T.cloudRunning(cloudRun.processed, cloudRun.total, cloudRun.name)}
          </span>
          <button class="small-button" onClick={() => workbench.cancelCloudReview()} data-testid="cancel-cloud">
            {T.cancel}
          </button>
        </div>
      )}
      {burstRun && (
        <div class="progress-block" data-testid="burst-progress">
          <progress max={burstRun.total || 1} value={burstRun.total ? burstRun.processed : undefined} />
          <span>{T.burstComparing(burstRun.group, burstRun.processed, burstRun.total)}</span>
          <button class="small-button" onClick={() => workbench.cancelBurstCompare()} data-testid="cancel-burst">
            {T.cancel}
          </button>
        </div>
      )}
      {exportRun && (
        <div class="progress-block" data-testid="export-progress">
          <progress max={exportRun.total || 1} value={exportRun.completed} />
          <span>{T.exporting(exportRun.completed, exportRun.total, exportRun.name)}</span>
        </div>
      )}
      <span class="status-line" data-testid="status" title={workbench.status.value}>
        {workbench.status.value || T.ready}
      </span>
      <span class="spacer" />
      <span class="counts" data-testid="counts">
        <span class="keep">保留 {counts.保留}</span>
        <span class="pending">待定 {counts.待定}</span>
        <span class="reject">淘汰 {counts.淘汰}</span>
        <span>未决定 {counts.未决定}</span>
        <span>★ {counts.rated}</span>
      </span>
    </footer>
  );
}
