import { decisionOf, issuesOf, reviewReasonsOf } from "../state/filters";
import { actualSizeOffset } from "../state/loupeRegion";
import type { Workbench } from "../state/store";
import { T } from "../texts";
import { ZoomButtons, ZoomStage } from "./ZoomStage";

export { actualSizeOffset };

export function Loupe({ workbench }: { workbench: Workbench }) {
  const photo = workbench.currentPhoto.value;
  if (!photo) return null;
  const items = workbench.items.value;
  const position = items.findIndex((item) => item.photo.id === photo.id);
  const decision = decisionOf(photo);
  const loupe = workbench.loupe.value;
  const mark = workbench.decisionMark.value;
  const marked = mark ? workbench.photos.value[workbench.photoIndex.value.get(mark.id) ?? -1] : undefined;
  return (
    <div class={`loupe${loupe.fullScreen ? " full-screen" : ""}`} data-testid="loupe">
      <div class="loupe-bar">
        <span class="loupe-name">{photo.name}</span>
        <span class="muted">
          {position + 1} / {items.length}
        </span>
        <span class={`decision-text decision-${decision}`}>{decision}</span>
        <span class="stars">{photo.rating ? "★".repeat(photo.rating) : "☆"}</span>
        {issuesOf(photo).length > 0 && <span class="issues-line">{issuesOf(photo).join("、")}</span>}
        {reviewReasonsOf(photo).length > 0 && <span class="warning">{reviewReasonsOf(photo).join("；")}</span>}
        <span class="spacer" />
        <ZoomButtons workbench={workbench} />
        <button
          class={workbench.faceMarks.shown.value ? "active" : ""}
          title="G"
          onClick={() => workbench.toggleFaceMarks()}
          data-testid="face-marks-toggle"
        >
          {T.faceMarks}
        </button>
        <button class={loupe.fullScreen ? "active" : ""} title="F" onClick={() => workbench.toggleFullScreen()} data-testid="full-screen">
          {T.fullScreen}
        </button>
        <button onClick={() => workbench.closeLoupe()}>{T.close}</button>
      </div>
      <ZoomStage workbench={workbench} photo={photo} faces />
      {mark && marked && (
        <div key={mark.count} class={`decision-mark decision-${mark.decision ?? "未决定"}`} data-testid="decision-mark">
          {T.decisionMark(mark.decision, marked.name)}
        </div>
      )}
    </div>
  );
}
