import { decisionOf } from "../state/filters";
import type { Workbench } from "../state/store";
import { T } from "../texts";
import { ZoomButtons, ZoomStage } from "./ZoomStage";

// Two to four photos side by side at one zoom and spot; the focused one takes the decision keys.
export function Compare({ workbench }: { workbench: Workbench }) {
  const photos = workbench.zoomedPhotos.value;
  const currentId = workbench.selection.value.currentId;
  return (
    <div class="loupe compare" data-testid="compare">
      <div class="loupe-bar">
        <span class="loupe-name">{T.compare}</span>
        <span class="muted small">{T.compareHint}</span>
        <span class="spacer" />
        <ZoomButtons workbench={workbench} />
        <button onClick={() => workbench.closeCompare()} data-testid="exit-compare">
          {T.exitCompare}
        </button>
      </div>
      <div class={`compare-panes panes-${photos.length}`}>
        {photos.map((photo) => {
          const focused = photo.id === currentId;
          const decision = decisionOf(photo);
          return (
            <div key={photo.id} class={`compare-pane${focused ? " focused" : ""}`} data-testid="compare-pane" data-id={photo.id}>
              <div class="compare-caption">
                <span>{photo.name}</span>
                <span class={`decision-text decision-${decision}`}>{decision}</span>
                <span class="stars">{photo.rating ? "★".repeat(photo.rating) : "☆"}</span>
              </div>
              <ZoomStage
                workbench={workbench}
                photo={photo}
                onFocus={() => {
                  if (focused) return false;
                  workbench.focusCompared(photo.id);
                  return true;
                }}
              />
            </div>
          );
        })}
      </div>
    </div>
  );
}
