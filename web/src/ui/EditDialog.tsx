import { useRef, useState } from "preact/hooks";
import { FULL_CROP, turnDraft, type CropRect } from "../state/photoEdit";
import type { Workbench } from "../state/store";
import { T } from "../texts";
import { Modal } from "./Modal";

const STAGE_WIDTH = 440;
const STAGE_HEIGHT = 320;

const FIELDS: Array<[keyof CropRect, string]> = [
  ["x", T.cropLeft],
  ["y", T.cropTop],
  ["w", T.cropWidth],
  ["h", T.cropHeight],
];

function percent(fraction: number): number {
  return Math.round(fraction * 1000) / 10;
}

export function EditDialog({ workbench }: { workbench: Workbench }) {
  const edit = workbench.photoEdit;
  const state = edit.state.value;
  const i = state.photoId === null ? undefined : workbench.photoIndex.value.get(state.photoId);
  const photo = i === undefined ? null : workbench.photos.value[i];
  const [natural, setNatural] = useState<{ w: number; h: number } | null>(null);
  const drag = useRef<{ x: number; y: number } | null>(null);
  const close = () => (workbench.dialog.value = null);
  if (!photo) return null;

  const { turns, crop } = state.draft;
  const preview = workbench.previews.value.get(photo.id)?.url || photo.thumbnail;
  const sideways = turns % 2 === 1;
  const size = natural ?? { w: 3, h: 2 };
  const turned = sideways ? { w: size.h, h: size.w } : size;
  const scale = Math.min(STAGE_WIDTH / turned.w, STAGE_HEIGHT / turned.h);
  const frame = { width: turned.w * scale, height: turned.h * scale };
  const saving = edit.saving();

  const setCrop = (change: Partial<CropRect>) => edit.setDraft({ turns, crop: { ...crop, ...change } });
  // Dragging over the picture draws a new rectangle from where the button went down.
  const fractionAt = (event: PointerEvent) => {
    const box = (event.currentTarget as HTMLElement).getBoundingClientRect();
    return {
      x: Math.max(0, Math.min(1, (event.clientX - box.left) / box.width)),
      y: Math.max(0, Math.min(1, (event.clientY - box.top) / box.height)),
    };
  };
  const onPointerDown = (event: PointerEvent) => {
    if (saving) return;
    (event.currentTarget as HTMLElement).setPointerCapture?.(event.pointerId);
    drag.current = fractionAt(event);
  };
  const onPointerMove = (event: PointerEvent) => {
    const start = drag.current;
    if (!start) return;
    const at = fractionAt(event);
    setCrop({ x: Math.min(start.x, at.x), y: Math.min(start.y, at.y), w: Math.abs(at.x - start.x), h: Math.abs(at.y - start.y) });
  };
  const onPointerUp = () => (drag.current = null);

  return (
    <Modal title={T.editTitle} onClose={close} testid="edit-dialog" wide>
      <p class="small muted">
        {photo.name} · {T.editHint}
      </p>
      <div class="edit-stage" style={{ width: `${STAGE_WIDTH}px`, height: `${STAGE_HEIGHT}px` }}>
        <div
          class="edit-frame"
          data-testid="edit-frame"
          style={{ width: `${frame.width}px`, height: `${frame.height}px` }}
          onPointerDown={onPointerDown}
          onPointerMove={onPointerMove}
          onPointerUp={onPointerUp}
          title={T.cropDragHint}
        >
          {preview && (
            <img
              src={preview}
              alt=""
              draggable={false}
              onLoad={(event) => {
                const img = event.currentTarget as HTMLImageElement;
                if (img.naturalWidth && img.naturalHeight) setNatural({ w: img.naturalWidth, h: img.naturalHeight });
              }}
              style={{
                width: `${size.w * scale}px`,
                height: `${size.h * scale}px`,
                transform: `translate(-50%, -50%) rotate(${turns * 90}deg)`,
              }}
            />
          )}
          <div
            class="edit-crop"
            data-testid="edit-crop"
            style={{ left: `${crop.x * 100}%`, top: `${crop.y * 100}%`, width: `${crop.w * 100}%`, height: `${crop.h * 100}%` }}
          />
        </div>
      </div>
      <div class="row">
        <button disabled={saving} onClick={() => edit.setDraft(turnDraft(state.draft, -1))} data-testid="rotate-left">
          ⟲ {T.rotateLeft}
        </button>
        <button disabled={saving} onClick={() => edit.setDraft(turnDraft(state.draft, 1))} data-testid="rotate-right">
          ⟳ {T.rotateRight}
        </button>
        <span class="small muted" data-testid="edit-turns">
          {turns * 90}°
        </span>
      </div>
      <div class="row">
        {FIELDS.map(([key, label]) => (
          <label key={key} class="small">
            {label}
            <input
              type="number"
              min={0}
              max={100}
              step={0.5}
              disabled={saving}
              value={percent(crop[key])}
              data-testid={`crop-${key}`}
              onChange={(event) => {
                const value = Number((event.currentTarget as HTMLInputElement).value);
                if (Number.isFinite(value)) setCrop({ [key]: value / 100 });
              }}
            />
          </label>
        ))}
        <button disabled={saving} onClick={() => setCrop(FULL_CROP)}>
          {T.cropReset}
        </button>
      </div>
      {state.message && (
        <p class="small" data-testid="edit-message">
          {state.message}
        </p>
      )}
      <div class="modal-actions">
        <button onClick={close}>{T.close}</button>
        <button class="primary" disabled={saving} onClick={() => workbench.saveEdit()} data-testid="edit-save">
          {saving ? T.editSaving : T.editSave}
        </button>
      </div>
    </Modal>
  );
}
