import { useLayoutEffect, useRef } from "preact/hooks";
import { fittedPlacement, photoPlacement, shownFocus } from "../state/loupeRegion";
import { regionScaleOf, type Workbench } from "../state/store";
import type { PhotoRecord } from "../state/types";
import { T } from "../texts";
import { FaceMarksLayer } from "./FaceMarks";

// One photo fitted, or at 100 % / 200 % with its full-resolution region over the scaled
// preview. The loupe shows one; side by side shows up to four at one zoom and spot, so a drag
// in any of them pans all. A click zooms in on the clicked spot and back out; with onFocus a
// click on a photo without the focus only moves the focus there. The loupe draws face marks.
export function ZoomStage({ workbench, photo, onFocus, faces }: { workbench: Workbench; photo: PhotoRecord; onFocus?: () => boolean; faces?: boolean }) {
  const loupe = workbench.loupe.value;
  const preview = workbench.previews.value.get(photo.id);
  const frame = useRef<HTMLDivElement>(null);
  const drag = useRef<{ x: number; y: number; focusX: number; focusY: number; perPixel: number; moved: boolean } | null>(null);

  useLayoutEffect(() => {
    const element = frame.current!;
    const measure = () =>
      workbench.setLoupeViewport({ width: element.clientWidth, height: element.clientHeight, dpr: window.devicePixelRatio || 1 });
    const observer = new ResizeObserver(measure);
    observer.observe(element);
    measure();
    return () => observer.disconnect();
  }, [workbench]);

  const url = preview?.url ?? photo.thumbnail;
  const isPreview = !!preview?.url && url === preview.url;
  const viewport = workbench.loupeViewport.value;
  const scale = regionScaleOf(loupe.zoom);
  const size = scale === null ? null : workbench.photoSizeOf(photo);
  // Until the photo's size is known (its preview loading) it is shown fitted.
  const zoomed = scale !== null && size !== null;
  const place = zoomed ? photoPlacement(viewport, size, scale, loupe.focusX, loupe.focusY) : null;
  const region = workbench.regions.value.get(photo.id);
  const regionShown = place && region && region.scale === scale ? region : null;
  const regionError = workbench.regionErrors.value.get(photo.id);
  const imageStyle: Record<string, string> = place
    ? { width: `${place.width}px`, height: `${place.height}px`, transform: `translate(${place.left}px, ${place.top}px)` }
    : { width: "100%", height: "100%", objectFit: "contain" };

  const onPointerDown = (event: PointerEvent) => {
    (event.currentTarget as HTMLElement).setPointerCapture(event.pointerId);
    const focus = zoomed ? shownFocus(viewport, size, scale, loupe.focusX, loupe.focusY) : { x: loupe.focusX, y: loupe.focusY, perPixel: 1 };
    drag.current = { x: event.clientX, y: event.clientY, focusX: focus.x, focusY: focus.y, perPixel: focus.perPixel, moved: false };
  };
  const onPointerMove = (event: PointerEvent) => {
    const start = drag.current;
    if (!start || !zoomed) return;
    const dx = event.clientX - start.x;
    const dy = event.clientY - start.y;
    if (Math.abs(dx) + Math.abs(dy) > 3) start.moved = true;
    workbench.setZoom(loupe.zoom, start.focusX - dx / (size.width * start.perPixel), start.focusY - dy / (size.height * start.perPixel));
  };
  const onPointerUp = (event: PointerEvent) => {
    const start = drag.current;
    drag.current = null;
    if (!start || start.moved || onFocus?.()) return;
    if (loupe.zoom !== "fit") {
      workbench.setZoom("fit");
      return;
    }
    const rect = (event.currentTarget as HTMLElement).getBoundingClientRect();
    const shape = workbench.previewSizes.value.get(photo.id) ?? workbench.photoSizeOf(photo);
    if (!shape) {
      workbench.setZoom("actual", (event.clientX - rect.left) / rect.width, (event.clientY - rect.top) / rect.height);
      return;
    }
    // Map the click from the fitted image (letterboxed inside the frame) to image fractions.
    const shown = fittedPlacement(rect, shape);
    workbench.setZoom("actual", (event.clientX - rect.left - shown.left) / shown.width, (event.clientY - rect.top - shown.top) / shown.height);
  };

  return (
    <div
      class={`loupe-frame${zoomed ? " panning" : ""}`}
      ref={frame}
      onPointerDown={onPointerDown}
      onPointerMove={onPointerMove}
      onPointerUp={onPointerUp}
    >
      <img
        key={url}
        src={url}
        alt=""
        draggable={false}
        data-testid="loupe-image"
        data-photo={photo.id}
        data-preview={isPreview ? "1" : "0"}
        style={imageStyle}
        onLoad={(event) => {
          const image = event.currentTarget as HTMLImageElement;
          if (isPreview) workbench.notePreviewSize(photo.id, { width: image.naturalWidth, height: image.naturalHeight });
        }}
      />
      {regionShown && place && (
        <img
          key={regionShown.url}
          src={regionShown.url}
          alt=""
          draggable={false}
          class={scale === 2 ? "pixelated" : ""}
          data-testid="loupe-region"
          data-region={`${regionShown.x},${regionShown.y},${regionShown.width},${regionShown.height}`}
          style={{
            width: `${regionShown.width * place.perPixel}px`,
            height: `${regionShown.height * place.perPixel}px`,
            transform: `translate(${place.left + regionShown.x * place.perPixel}px, ${place.top + regionShown.y * place.perPixel}px)`,
          }}
        />
      )}
      {faces && <FaceMarksLayer workbench={workbench} photo={photo} place={place} />}
      <div class="stage-notes">
        {!preview && <span class="muted">{T.previewLoading}</span>}
        {preview?.error && <span class="warning">{preview.error}</span>}
        {zoomed && regionError && <span class="warning">{regionError}</span>}
        {zoomed && !regionShown && !regionError && <span class="muted">{T.regionLoading}</span>}
      </div>
    </div>
  );
}

export function ZoomButtons({ workbench }: { workbench: Workbench }) {
  const zoom = workbench.loupe.value.zoom;
  return (
    <>
      <button class={zoom === "fit" ? "active" : ""} onClick={() => workbench.setZoom("fit")}>
        {T.fit}
      </button>
      <button class={zoom === "actual" ? "active" : ""} data-testid="zoom-actual" title="Z" onClick={() => workbench.setZoom("actual")}>
        {T.actualSize}
      </button>
      <button class={zoom === "double" ? "active" : ""} data-testid="zoom-double" title="Shift+Z" onClick={() => workbench.setZoom("double")}>
        {T.doubleSize}
      </button>
    </>
  );
}
