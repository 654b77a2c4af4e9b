import { useEffect } from "preact/hooks";
import { decisionOf, issuesOf, reviewReasonsOf } from "../state/filters";
import { actualSizeOffset } from "../state/loupeRegion";
import { DECODED_KEPT, RecentCache } from "../state/previewPreload";
import type { Workbench } from "../state/store";
import type { PhotoRecord } from "../state/types";
import { T } from "../texts";
import { ZoomButtons, ZoomStage } from "./ZoomStage";

export { actualSizeOffset };

// The previews of the loupe's photo and its neighbours, decoded before they are shown: a
// 2800-pixel JPEG takes tens of milliseconds to decode, which a step should not wait for.
const decodedPreviews = new RecentCache<HTMLImageElement>(DECODED_KEPT);

function useDecodedAhead(workbench: Workbench, photo: PhotoRecord): void {
  const previews = workbench.previews.value;
  const urls = [photo, ...workbench.loupeNeighbours.value].flatMap((shown) => previews.get(shown.id)?.url ?? []);
  useEffect(() => {
    for (const url of urls) {
      decodedPreviews.keep(url, () => {
        const image = new Image();
        image.src = url;
        image.decode().catch(() => undefined);
        return image;
      });
    }
  }, [urls.join("\n")]);
}

export function Loupe({ workbench }: { workbench: Workbench }) {
  const photo = workbench.currentPhoto.value;
  if (!photo) return null;
  return <LoupeView workbench={workbench} photo={photo} />;
}

function LoupeView({ workbench, photo }: { workbench: Workbench; photo: PhotoRecord }) {
  useDecodedAhead(workbench, photo);
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
