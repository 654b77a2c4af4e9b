import { Fragment } from "preact";
import { cloudRecordOf } from "../state/cloudReview";
import { cloudDisagrees, decisionOf, issuesOf, reviewReasonsOf } from "../state/filters";
import { BURST_COMPARE_MAX, BURST_COMPARE_MIN, type Workbench } from "../state/store";
import { DECISIONS, type LocalAnalysisResult, type PhotoRecord } from "../state/types";
import { T, formatBytes } from "../texts";
import { CaptureDetails } from "./CaptureDetails";

function fixed(value: unknown, digits: number): string {
  return typeof value === "number" && Number.isFinite(value) ? value.toFixed(digits) : "—";
}

function percent(value: unknown): string {
  return typeof value === "number" && Number.isFinite(value) ? `${Math.round(value * 100)}%` : "—";
}

function count(value: unknown): string {
  return typeof value === "number" ? String(value) : "—";
}

function Metrics({ result }: { result: LocalAnalysisResult }) {
  const rows: Array<[string, string]> = [
    ["亮度", percent(result.brightness)],
    ["高光 / 暗部", `${percent(result.highlight)} / ${percent(result.shadow)}`],
    ["清晰度", fixed(result.sharpness, 0)],
    ["噪点", fixed(result.noise, 1)],
    ["人脸（主要）", `${count(result.faces)}（${count(result.mainFaces)}）`],
    ["检查眼睛 / 闭眼", `${count(result.eyesChecked)} / ${count(result.closedEyes)}`],
    ["脸部清晰度", result.faceSharpness === -1 ? "未测量" : fixed(result.faceSharpness, 0)],
    ["脸部对焦", result.faceFocusScore === -1 ? "未测量" : percent(result.faceFocusScore)],
    ["脸部质量", percent(result.faceQuality)],
    ["姿态 / 构图", `${percent(result.poseScore)} / ${percent(result.compositionScore)}`],
    ["置信度", percent(result.confidence)],
  ];
  return (
    <dl class="metrics" data-testid="metrics">
      {rows.map(([label, value]) => (
        <Fragment key={label}>
          <dt>{label}</dt>
          <dd>{value}</dd>
        </Fragment>
      ))}
    </dl>
  );
}

function BurstCompare({ workbench, group }: { workbench: Workbench; group: string }) {
  const run = workbench.burstRun.value;
  const size = workbench.burstMembers(group).length;
  if (run?.group === group) {
    return (
      <button onClick={() => workbench.cancelBurstCompare()} data-testid="cancel-burst-here">
        {T.cancel}
      </button>
    );
  }
  return (
    <button
      disabled={!!run || size < BURST_COMPARE_MIN || size > BURST_COMPARE_MAX}
      title={T.burstCompareSize(BURST_COMPARE_MIN, BURST_COMPARE_MAX)}
      onClick={() => workbench.compareBurst()}
      data-testid="compare-burst"
    >
      {T.burstCompare}
    </button>
  );
}

function CloudVerdictSection({ workbench, photo }: { workbench: Workbench; photo: PhotoRecord }) {
  const record = cloudRecordOf(photo);
  const error = workbench.cloudErrors.value.get(photo.id);
  if (record.kind === "none" && !error) return null;
  return (
    <div class="section cloud-verdict" data-testid="cloud-verdict">
      <h3>{T.cloudTitle}</h3>
      {error && <p class="warning line">{T.cloudError(error)}</p>}
      {record.kind === "unreadable" && <p class="warning line">{T.cloudUnreadable}</p>}
      {record.kind === "verdict" && (
        <>
          <p class="line">
            <span class={`decision-${record.verdict.decision}`}>{record.verdict.decision}</span>
            {" · "}
            <span class="stars">{"★".repeat(record.verdict.rating)}</span>
            {" · "}
            {T.cloudConfidence(record.verdict.confidence)}
            {record.verdict.best ? ` · ${T.cloudBestCandidate}` : ""}
          </p>
          {record.verdict.issues.length > 0 && <p class="issues-line line">{record.verdict.issues.join("、")}</p>}
          {record.verdict.reason && <p class="line">{record.verdict.reason}</p>}
          {record.verdict.doubleChecked && <p class="small muted line">{T.cloudDoubleChecked(record.verdict.agreement)}</p>}
          {cloudDisagrees(photo, record.verdict) && <p class="small warning line">{T.cloudDisagrees}</p>}
          <button onClick={() => workbench.acceptCloud("selected")} data-testid="cloud-accept" title="C">
            {T.cloudAccept}（C）
          </button>
        </>
      )}
    </div>
  );
}

export function Inspector({ workbench }: { workbench: Workbench }) {
  const photo = workbench.currentPhoto.value;
  const selected = workbench.selection.value.ids.size;
  if (!photo) {
    return (
      <aside class="inspector" data-testid="inspector">
        <p class="muted">{T.inspectorEmpty}</p>
      </aside>
    );
  }
  const decision = decisionOf(photo);
  const result = photo.result;
  const issues = issuesOf(photo);
  const reasons = reviewReasonsOf(photo);
  const outcome = photo.group ? workbench.burstOutcomes.value.get(photo.group) : undefined;
  return (
    <aside class="inspector" data-testid="inspector">
      <h2 class="inspector-name" title={photo.path}>
        {photo.name}
      </h2>
      <div class="muted small">
        {photo.format} · {formatBytes(photo.size)} · {photo.date.replace("T", " ") || "—"}
      </div>
      {selected > 1 && <div class="small">已选 {selected} 张，决定和星级作用于全部所选</div>}

      <div class="decision-buttons">
        {DECISIONS.map((d) => (
          <button key={d} class={`decide decide-${d}${decision === d ? " active" : ""}`} onClick={() => workbench.decide(d)}>
            {d}
          </button>
        ))}
        <button class={decision === "未决定" ? "active" : ""} onClick={() => workbench.decide(null)}>
          清除
        </button>
      </div>
      <div class="star-buttons">
        {[0, 1, 2, 3, 4, 5].map((n) => (
          <button key={n} class={(photo.rating ?? 0) === n ? "active" : ""} onClick={() => workbench.rate(n)}>
            {n === 0 ? "无星" : "★".repeat(n)}
          </button>
        ))}
      </div>

      <div class="row">
        <button onClick={() => workbench.openEdit()} data-testid="open-edit" title="E">
          {T.editTitle}（E）
        </button>
        <button onClick={() => workbench.openCompare()} data-testid="open-compare" title={T.keyMap.compare}>
          {T.compare}（V）
        </button>
      </div>

      {photo.group && (
        <div class="section">
          <h3>连拍</h3>
          <div>
            {photo.group}
            {photo.best ? `（${T.bestOfGroup}）` : ""}
          </div>
          <div class="row">
            {!photo.best && <button onClick={() => workbench.setBest()}>设为本组最佳</button>}
            <BurstCompare workbench={workbench} group={photo.group} />
          </div>
          {outcome && (
            <p class={`small${outcome.kind === "winner" ? "" : " warning"}`} data-testid="burst-outcome">
              {T.burstOutcome(photo.group, outcome)}
            </p>
          )}
        </div>
      )}

      <CaptureDetails workbench={workbench} photo={photo} />

      <div class="section">
        <h3>本地分析</h3>
        {!result && <p class="muted">{T.notAnalysed}</p>}
        {result?.error && <p class="warning">{result.error}</p>}
        {result && !result.error && (
          <>
            <p class={issues.length ? "issues-line" : "ok-line"} data-testid="reason">
              {result.reason ?? (issues.join("、") || "未发现已启用的明显问题")}
            </p>
            {reasons.length > 0 && (
              <ul class="reasons">
                {reasons.map((reason) => (
                  <li key={reason}>{reason}</li>
                ))}
              </ul>
            )}
            <Metrics result={result} />
          </>
        )}
      </div>

      <CloudVerdictSection workbench={workbench} photo={photo} />
    </aside>
  );
}
