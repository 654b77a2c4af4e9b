import { memo } from "preact/compat";
import { useEffect, useLayoutEffect, useMemo, useRef, useState } from "preact/hooks";
import { cloudRecordOf } from "../state/cloudReview";
import { cloudDisagrees, decisionOf, issuesOf, reviewReasonsOf } from "../state/filters";
import type { Workbench } from "../state/store";
import type { PhotoRecord } from "../state/types";
import { T } from "../texts";
import { cellPosition, gridGeometry, scrollToReveal, visibleRange } from "./gridLayout";

// Short badge words for the six checks; the inspector shows the full names.
export const ISSUE_BADGES: Record<string, string> = {
  整体模糊: "模糊",
  人脸失焦: "脸糊",
  闭眼: "闭眼",
  过曝: "过曝",
  欠曝: "欠曝",
  噪点过高: "噪点",
};

// Below this width badges over the picture would cover much of a face.
const COMPACT_CELL = 160;

const DECISION_CLASS: Record<string, string> = { 保留: "keep", 待定: "pending", 淘汰: "reject", 未决定: "none" };

interface CellProps {
  photo: PhotoRecord;
  top: number;
  left: number;
  width: number;
  height: number;
  selected: boolean;
  current: boolean;
  stackSize: number;
  collapsible: boolean;
  // Small cells show their verdicts under the picture instead of over it.
  compact: boolean;
  onPick: (id: string, event: MouseEvent) => void;
  onOpen: (id: string) => void;
  onToggleGroup: (group: string) => void;
}

const Cell = memo(function Cell(props: CellProps) {
  const { photo, selected, current, stackSize } = props;
  const [broken, setBroken] = useState(false);
  const decision = decisionOf(photo);
  const issues = issuesOf(photo);
  const review = reviewReasonsOf(photo).length > 0;
  const failed = typeof photo.result?.error === "string";
  const cloud = cloudRecordOf(photo);
  const classes = ["cell", `decision-${DECISION_CLASS[decision]}`];
  if (selected) classes.push("selected");
  if (current) classes.push("current");
  if (props.compact) classes.push("compact");
  const hasBadges = issues.length > 0 || review || cloud.kind !== "none" || failed;
  const stars = !!photo.rating && (
    <span class="stars cell-stars" data-testid="stars">
      {"★".repeat(photo.rating)}
    </span>
  );
  const badges = (
    <div class="badges">
      {issues.map((issue) => (
        <span class="badge issue" key={issue} title={issue}>
          {ISSUE_BADGES[issue] ?? issue}
        </span>
      ))}
      {review && (
        <span class="badge review" title={reviewReasonsOf(photo).join("\n")}>
          复核
        </span>
      )}
      {cloud.kind === "verdict" && (
        <span
          class={`badge cloud ${DECISION_CLASS[cloud.verdict.decision]}`}
          title={`${T.cloudTitle}：${cloud.verdict.decision} · ${T.cloudConfidence(cloud.verdict.confidence)}`}
          data-testid="cloud-badge"
        >
          {T.cloudBadge(cloud.verdict.decision, cloudDisagrees(photo, cloud.verdict))}
        </span>
      )}
      {cloud.kind === "unreadable" && (
        <span class="badge cloud unreadable" title={T.cloudUnreadable} data-testid="cloud-badge">
          {T.cloudBadgeUnreadable}
        </span>
      )}
      {failed && (
        <span class="badge failed" title={String(photo.result?.error)}>
          失败
        </span>
      )}
    </div>
  );
  return (
    <div
      class={classes.join(" ")}
      style={{ top: `${props.top}px`, left: `${props.left}px`, width: `${props.width}px`, height: `${props.height}px` }}
      data-id={photo.id}
      data-testid="grid-cell"
      title={photo.name}
      onMouseDown={(event) => props.onPick(photo.id, event)}
      onDblClick={() => props.onOpen(photo.id)}
    >
      <div class="thumb" style={{ height: `${props.width}px` }}>
        {photo.thumbnail && !broken ? (
          <img src={photo.thumbnail} loading="lazy" decoding="async" draggable={false} alt="" onError={() => setBroken(true)} />
        ) : (
          <span class="thumb-missing">{photo.format || "?"}</span>
        )}
        {decision !== "未决定" && <span class={`decision-flag ${DECISION_CLASS[decision]}`}>{decision}</span>}
        {photo.group && (
          <span
            class={`group-tag${photo.best ? " best" : ""}`}
            title={photo.best ? T.bestOfGroup : photo.group}
            onMouseDown={(event) => {
              // With bursts collapsed the tag opens its group, and closes it again.
              if (!props.collapsible) return;
              event.stopPropagation();
              props.onToggleGroup(photo.group!);
            }}
          >
            {photo.group}
            {photo.best ? " ★" : ""}
            {stackSize > 1 ? ` · ${T.stackOf(stackSize)}` : ""}
          </span>
        )}
        {!props.compact && stars}
        {!props.compact && badges}
      </div>
      <div class="caption">
        {props.compact && (stars || hasBadges) ? (
          <>
            {badges}
            {stars}
          </>
        ) : (
          <span class="name">{photo.name}</span>
        )}
      </div>
    </div>
  );
});

const NO_SELECTION: ReadonlySet<string> = new Set();

export function Grid({ workbench }: { workbench: Workbench }) {
  // While an import runs, the records whose thumbnails are ready, read-only, instead of the project.
  const importPreview = workbench.importPreview.value;
  const previewItems = useMemo(() => importPreview?.photos.map((photo) => ({ photo, stackSize: 1 })), [importPreview]);
  const items = previewItems ?? workbench.items.value;
  const cellSize = workbench.project.value.view.cellSize;
  const collapse = workbench.project.value.view.collapseBursts;
  const selection = previewItems ? { currentId: null, ids: NO_SELECTION } : workbench.selection.value;
  const scroller = useRef<HTMLDivElement>(null);
  const [viewport, setViewport] = useState({ width: 0, height: 0, scrollTop: 0 });

  useLayoutEffect(() => {
    const element = scroller.current!;
    let frame = 0;
    const measure = () => {
      frame = 0;
      setViewport({ width: element.clientWidth, height: element.clientHeight, scrollTop: element.scrollTop });
    };
    const onScroll = () => {
      if (!frame) frame = requestAnimationFrame(measure);
    };
    const observer = new ResizeObserver(measure);
    observer.observe(element);
    element.addEventListener("scroll", onScroll, { passive: true });
    measure();
    return () => {
      observer.disconnect();
      element.removeEventListener("scroll", onScroll);
      if (frame) cancelAnimationFrame(frame);
    };
  }, []);

  const geometry = gridGeometry(viewport.width, cellSize, items.length);

  useEffect(() => {
    workbench.gridColumns.value = geometry.columns;
  }, [geometry.columns]);

  // Keeps the current photo in view when it is moved by keys or auto-advance.
  useEffect(() => {
    const element = scroller.current;
    if (!element || !selection.currentId || !viewport.height) return;
    const index = items.findIndex((item) => item.photo.id === selection.currentId);
    if (index < 0) return;
    const target = scrollToReveal(geometry, index, element.scrollTop, element.clientHeight);
    if (target !== null) element.scrollTop = target;
  }, [selection, geometry.columns, geometry.cellWidth, viewport.height, items]);

  // Stable handlers, so cells that did not change are not rendered again while scrolling.
  const { pick, open, toggleGroup } = useMemo(
    () => ({
      pick(id: string, event: MouseEvent) {
        if (event.button !== 0 || workbench.importPreview.value) return;
        workbench.select(id, event.shiftKey ? "range" : event.ctrlKey || event.metaKey ? "toggle" : "single");
      },
      open(id: string) {
        if (workbench.importPreview.value) return;
        workbench.select(id);
        workbench.openLoupe();
      },
      toggleGroup(group: string) {
        workbench.toggleGroup(group);
      },
    }),
    [workbench],
  );

  const { first, last } = visibleRange(geometry, viewport.scrollTop, viewport.height, items.length);
  const cells = [];
  for (let i = first; i <= last; i++) {
    const item = items[i];
    const position = cellPosition(geometry, i);
    cells.push(
      <Cell
        key={item.photo.id}
        photo={item.photo}
        top={position.top}
        left={position.left}
        width={geometry.cellWidth}
        height={geometry.rowHeight}
        selected={selection.ids.has(item.photo.id)}
        current={selection.currentId === item.photo.id}
        stackSize={item.stackSize}
        collapsible={collapse}
        compact={geometry.cellWidth < COMPACT_CELL}
        onPick={pick}
        onOpen={open}
        onToggleGroup={toggleGroup}
      />,
    );
  }

  const total = workbench.photos.value.length;
  return (
    <div class="grid-scroller" ref={scroller} data-testid="grid" data-importing={previewItems ? "1" : undefined}>
      {items.length === 0 && <p class="empty">{total ? T.emptyFilter : T.emptyProject}</p>}
      <div class="grid-canvas" style={{ height: `${geometry.totalHeight}px` }}>
        {cells}
      </div>
    </div>
  );
}
