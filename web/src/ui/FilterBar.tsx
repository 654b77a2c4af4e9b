import {
  CLOUD_FILTERS,
  UNDECIDED,
  ISSUE_FILTERS,
  type CloudFilter,
  type DecisionFilter,
  type IssueFilter,
  type RatingFilter,
} from "../state/filters";
import type { PhotoOrder } from "../state/captureData";
import { CELL_SIZE_MAX, CELL_SIZE_MIN } from "../state/project";
import type { Workbench } from "../state/store";
import { T } from "../texts";

// A list keeps the keyboard focus after a choice, and would then take the culling keys
// (arrows, letters) for itself; the grid gets them back at once.
function releaseFocus(event: Event) {
  (event.currentTarget as HTMLElement).blur();
}

const DECISION_CHOICES: DecisionFilter[] = ["all", "保留", "待定", "淘汰", UNDECIDED];

export function FilterBar({ workbench }: { workbench: Workbench }) {
  const filter = workbench.filter.value;
  const counts = workbench.counts.value;
  const view = workbench.project.value.view;
  const shown = workbench.items.value.length;
  const countOf = (choice: DecisionFilter) => (choice === "all" ? counts.total : counts[choice]);
  return (
    <div class="filterbar" data-testid="filterbar">
      <div class="segmented" role="group" aria-label={T.filterDecision}>
        {DECISION_CHOICES.map((choice) => (
          <button
            key={choice}
            class={`${filter.decision === choice ? "active" : ""} chip-${choice}`}
            data-testid={`filter-${choice}`}
            onClick={() => workbench.setFilter({ decision: choice })}
          >
            {choice === "all" ? T.all : choice} <span class="count">{countOf(choice)}</span>
          </button>
        ))}
      </div>
      <label>
        {T.filterRating}
        <select
          value={String(filter.rating)}
          onChange={(event) => {
            const value = (event.currentTarget as HTMLSelectElement).value;
            releaseFocus(event);
            workbench.setFilter({ rating: (value === "all" || value === "unrated" ? value : Number(value)) as RatingFilter });
          }}
        >
          <option value="all">{T.all}</option>
          <option value="unrated">{T.unrated}</option>
          {[1, 2, 3, 4, 5].map((n) => (
            <option key={n} value={String(n)}>
              {T.atLeastStars(n)}
            </option>
          ))}
        </select>
      </label>
      <label>
        {T.filterIssue}
        <select
          value={filter.issue}
          data-testid="filter-issue"
          onChange={(event) => {
            workbench.setFilter({ issue: (event.currentTarget as HTMLSelectElement).value as IssueFilter });
            releaseFocus(event);
          }}
        >
          {ISSUE_FILTERS.map((issue) => (
            <option key={issue} value={issue}>
              {issue === "all" ? T.all : issue}
            </option>
          ))}
        </select>
      </label>
      <label>
        {T.filterCloud}
        <select
          value={filter.cloud}
          data-testid="filter-cloud"
          onChange={(event) => {
            workbench.setFilter({ cloud: (event.currentTarget as HTMLSelectElement).value as CloudFilter });
            releaseFocus(event);
          }}
        >
          {CLOUD_FILTERS.map((choice) => (
            <option key={choice} value={choice}>
              {T.cloudFilterLabels[choice]}
            </option>
          ))}
        </select>
      </label>
      <label title={view.order === "captureTime" && !workbench.capturedOrder.value ? T.orderCaptureMissing : undefined}>
        {T.orderLabel}
        <select
          value={view.order}
          data-testid="photo-order"
          onChange={(event) => {
            workbench.setView({ order: (event.currentTarget as HTMLSelectElement).value as PhotoOrder });
            releaseFocus(event);
          }}
        >
          <option value="captureTime">{T.orderCaptureTime}</option>
          <option value="name">{T.orderName}</option>
        </select>
      </label>
      <label>
        <input
          type="checkbox"
          checked={view.collapseBursts}
          onChange={() => workbench.setView({ collapseBursts: !view.collapseBursts })}
        />
        {T.collapseBursts}
      </label>
      <span class="spacer" />
      <button
        disabled={!workbench.undoStack.value.length}
        onClick={() => workbench.undo()}
        title="撤销上一次决定或评星（Ctrl+Z）"
        data-testid="undo"
      >
        {T.undo}
      </button>
      <span class="muted" data-testid="shown-count">
        {T.photosCount(shown, counts.total)}
      </span>
      <label class="cell-size" title={T.cellSize}>
        <input
          type="range"
          min={CELL_SIZE_MIN}
          max={CELL_SIZE_MAX}
          step={10}
          value={view.cellSize}
          data-testid="cell-size"
          onInput={(event) => workbench.setView({ cellSize: Number((event.currentTarget as HTMLInputElement).value) })}
        />
      </label>
    </div>
  );
}
