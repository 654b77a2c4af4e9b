import { Fragment } from "preact";
import type { CaptureData } from "../state/captureData";
import type { Workbench } from "../state/store";
import type { PhotoRecord } from "../state/types";
import { T } from "../texts";

// "2024-05-01T14:03:22.37+02:00" as the camera's clock showed it, with its zone when known.
export function formatCaptureTime(time: string): string {
  const match = /^(\d{4}-\d{2}-\d{2})T(\d{2}:\d{2}:\d{2})(\.\d+)?(Z|[+-]\d{2}:\d{2})?$/.exec(time);
  if (!match) return time;
  const zone = match[4] ? ` (${match[4] === "Z" ? "UTC" : `UTC${match[4]}`})` : "";
  return `${match[1]} ${match[2]}${match[3] ?? ""}${zone}`;
}

// 1/250 s, f/2.8, ISO 800, +0.7 EV: what a photographer reads off an exposure.
export function exposureLine(data: CaptureData): string {
  const parts: string[] = [];
  if (data.shutter) parts.push(/[sS"″]$/.test(data.shutter) ? data.shutter : `${data.shutter} s`);
  else if (data.exposureTime !== undefined) parts.push(`${data.exposureTime} s`);
  if (data.aperture !== undefined) parts.push(`f/${Number(data.aperture.toFixed(1))}`);
  if (data.iso !== undefined) parts.push(`ISO ${Math.round(data.iso)}`);
  if (data.exposureCompensation !== undefined) {
    const ev = Number(data.exposureCompensation.toFixed(1));
    parts.push(`${ev > 0 ? "+" : ""}${ev} EV`);
  }
  return parts.join(" · ");
}

function rows(data: CaptureData): Array<[string, string]> {
  const list: Array<[string, string]> = [];
  if (data.captureTime) list.push([T.captureTime, formatCaptureTime(data.captureTime)]);
  if (data.camera) list.push([T.captureCamera, data.camera + (data.serial ? T.serialOf(data.serial) : "")]);
  if (data.lens) list.push([T.captureLens, data.lens]);
  if (data.focalLength !== undefined) list.push([T.captureFocal, `${Number(data.focalLength.toFixed(1))} mm`]);
  const exposure = exposureLine(data);
  if (exposure) list.push([T.captureExposure, exposure]);
  if (data.width !== undefined && data.height !== undefined) list.push([T.capturePixels, `${data.width} × ${data.height}`]);
  return list;
}

export function CaptureDetails({ workbench, photo }: { workbench: Workbench; photo: PhotoRecord }) {
  const answer = workbench.captureAnswers.value.get(photo.id);
  return (
    <div class="section" data-testid="capture-details">
      <h3>{T.captureTitle}</h3>
      {!answer && <p class="muted small">{T.captureLoading}</p>}
      {answer && "error" in answer && <p class="warning small">{answer.error}</p>}
      {answer && "data" in answer && (
        <dl class="metrics">
          {rows(answer.data).map(([label, value]) => (
            <Fragment key={label}>
              <dt>{label}</dt>
              <dd>{value}</dd>
            </Fragment>
          ))}
        </dl>
      )}
    </div>
  );
}
