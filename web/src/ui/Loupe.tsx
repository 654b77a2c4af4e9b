import { useLayoutEffect, useRef, useState } from "preact/hooks";
import { decisionOf, issuesOf, reviewReasonsOf } from "../state/filters";
import type { Workbench } from "../state/store";
import { T } from "../texts";

// Where the image's top-left corner goes so that the focus point (image fractions) sits in
// the middle of the view, without showing empty space past an edge that is larger than
// the view. An image smaller than the view is centred.
export function actualSizeOffset(view: number, image: number, focus: number): number {
  if (image <= view) return (view - image) / 2;
  const offset = view / 2 - focus * image;
  return Math.max(view - image, Math.min(0, offset));
}

export function Loupe({ workbench }: { workbench: Workbench }) {
  const photo = workbench.currentPhoto.value;
  const loupe = workbench.loupe.value;
  const preview = photo ? workbench.previews.value.get(photo.id) : undefined;
  const frame = useRef<HTMLDivElement>(null);
  const [viewSize, setViewSize] = useState({ width: 0, height: 0 });
  const [natural, setNatural] = useState<{ url: string; width: number; height: number } | null>(null);
  const drag = useRef<{ x: number; y: number; focusX: number; focusY: number; moved: boolean } | null>(null);

  useLayoutEffect(() => {
    const element = frame.current!;
    const observer = new ResizeObserver(() => setViewSize({ width: element.clientWidth, height: element.clientHeight }));
    observer.observe(element);
    setViewSize({ width: element.clientWidth, height: element.clientHeight });
    return () => observer.disconnect();
  }, []);

  if (!photo) return null;
  const items = workbench.items.value;
  const position = items.findIndex((item) => item.photo.id === photo.id);
  const url = preview?.url ?? photo.thumbnail;
  const loaded = natural && natural.url === url ? natural : null;
  const isPreview = !!preview?.url && url === preview.url;
  // 100 % means one image pixel per device pixel.
  const scale = 1 / (window.devicePixelRatio || 1);
  const actual = loupe.zoom === "actual" && loaded && isPreview;
  let imageStyle: Record<string, string>;
  if (actual) {
    const width = loaded.width * scale;
    const height = loaded.height * scale;
    const left = actualSizeOffset(viewSize.width, width, loupe.focusX);
    const top = actualSizeOffset(viewSize.height, height, loupe.focusY);
    imageStyle = { width: `${width}px`, height: `${height}px`, transform: `translate(${left}px, ${top}px)` };
  } else {
    imageStyle = { width: "100%", height: "100%", objectFit: "contain" };
  }

  const onPointerDown = (event: PointerEvent) => {
    (event.currentTarget as HTMLElement).setPointerCapture(event.pointerId);
    drag.current = { x: event.clientX, y: event.clientY, focusX: loupe.focusX, focusY: loupe.focusY, moved: false };
  };
  const onPointerMove = (event: PointerEvent) => {
    const start = drag.current;
    if (!start || !actual || !loaded) return;
    const dx = event.clientX - start.x;
    const dy = event.clientY - start.y;
    if (Math.abs(dx) + Math.abs(dy) > 3) start.moved = true;
    workbench.setZoom("actual", start.focusX - dx / (loaded.width * scale), start.focusY - dy / (loaded.height * scale));
  };
  const onPointerUp = (event: PointerEvent) => {
    const start = drag.current;
    drag.current = null;
    if (!start || start.moved) return;
    // A click toggles between fit and 100 %, zooming in on the clicked spot.
    if (loupe.zoom === "actual") {
      workbench.setZoom("fit");
      return;
    }
    const rect = (event.currentTarget as HTMLElement).getBoundingClientRect();
    const fx = (event.clientX - rect.left) / rect.width;
    const fy = (event.clientY - rect.top) / rect.height;
    if (!loaded) {
      workbench.setZoom("actual", fx, fy);
      return;
    }
    // Map the click from the fitted image (letterboxed inside the frame) to image fractions.
    const fit = Math.min(rect.width / loaded.width, rect.height / loaded.height);
    const shownW = loaded.width * fit;
    const shownH = loaded.height * fit;
    const x = (event.clientX - rect.left - (rect.width - shownW) / 2) / shownW;
    const y = (event.clientY - rect.top - (rect.height - shownH) / 2) / shownH;
    workbench.setZoom("actual", x, y);
  };

  const decision = decisionOf(photo);
  return (
    <div class="loupe" data-testid="loupe">
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
        {!preview && <span class="muted">{T.previewLoading}</span>}
        {preview?.error && <span class="warning">{preview.error}</span>}
        <button class={loupe.zoom === "fit" ? "active" : ""} onClick={() => workbench.setZoom("fit")}>
          {T.fit}
        </button>
        <button
          class={loupe.zoom === "actual" ? "active" : ""}
          data-testid="zoom-actual"
          onClick={() => workbench.setZoom("actual")}
        >
          {T.actualSize}
        </button>
        <button onClick={() => workbench.closeLoupe()}>{T.close}</button>
      </div>
      <div
        class={`loupe-frame${actual ? " panning" : ""}`}
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
          data-preview={isPreview ? "1" : "0"}
          style={imageStyle}
          onLoad={(event) => {
            const image = event.currentTarget as HTMLImageElement;
            setNatural({ url, width: image.naturalWidth, height: image.naturalHeight });
          }}
        />
      </div>
    </div>
  );
}
