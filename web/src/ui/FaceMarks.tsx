import { rectOnStage, type FaceMark, type StagePlacement } from "../state/faceMarks";
import { fittedPlacement } from "../state/loupeRegion";
import type { Workbench } from "../state/store";
import type { PhotoRecord } from "../state/types";
import { T } from "../texts";

function faceTitle(face: FaceMark): string {
  if (!face.main) return T.faceNotMain;
  return [...face.triggers, T.faceEyes[face.eyes], T.faceFocus[face.focus]].join("\n");
}

// The faces of the loupe's photo over it, wherever the stage placed the photo (fitted when no
// placement is given): a box per face, a dot per eye, the faces that raised an issue in their
// own colour with the issue named.
export function FaceMarksLayer({ workbench, photo, place }: { workbench: Workbench; photo: PhotoRecord; place: StagePlacement | null }) {
  if (!workbench.faceMarks.shown.value) return null;
  const answer = workbench.faceMarks.answerFor(photo, workbench.project.value.analysis.strictness);
  // Without marks to draw, the layer says why, so that no marks never looks like no faces.
  const note = !answer ? T.facesLoading : "error" in answer ? T.facesFailed(answer.error) : answer.faces.length ? "" : T.noFaces;
  if (!answer || "error" in answer || note) {
    return (
      <div class="face-marks">
        <span class={`face-note${answer && "error" in answer ? " warning" : ""}`} data-testid="face-note">
          {note}
        </span>
      </div>
    );
  }
  const stage = place ?? fittedPlacement(workbench.loupeViewport.value, answer.photo);
  const at = (x: number, y: number, width = 0, height = 0) => rectOnStage(stage, answer.photo, { x, y, width, height });
  return (
    <div class="face-marks" data-testid="face-marks">
      {answer.faces.map((face) => {
        const box = at(face.box.x, face.box.y, face.box.width, face.box.height);
        const flagged = face.triggers.length > 0;
        const kind = flagged ? " face-flagged" : face.eyes === "notCheckable" ? " face-unchecked" : "";
        return (
          <div key={`${face.box.x},${face.box.y}`}>
            <div
              class={`face-box${kind}`}
              title={faceTitle(face)}
              data-testid="face-box"
              data-flagged={flagged ? "1" : "0"}
              data-box={`${face.box.x},${face.box.y},${face.box.width},${face.box.height}`}
              style={{ left: `${box.x}px`, top: `${box.y}px`, width: `${box.width}px`, height: `${box.height}px` }}
            >
              {/* Above the face, or inside it where the view's top edge would cut it off. */}
              {flagged && <span class={`face-label${box.y < 20 ? " inside" : ""}`}>{face.triggers.join(" · ")}</span>}
            </div>
            {[face.leftEye, face.rightEye].map((eye, i) => {
              if (!eye) return null;
              const point = at(eye[0], eye[1]);
              return <span key={i} class="face-eye" style={{ left: `${point.x}px`, top: `${point.y}px` }} />;
            })}
          </div>
        );
      })}
    </div>
  );
}
