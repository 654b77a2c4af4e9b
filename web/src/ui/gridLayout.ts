// Geometry of the virtualized grid: which cells exist for a scroll position. Kept apart
// from the component so the arithmetic is tested without a browser.

export const GRID_GAP = 6;
export const GRID_PADDING = 8;
export const CAPTION_HEIGHT = 22;
// Rows built beyond the visible ones, so fast scrolling rarely shows empty space.
export const OVERSCAN_ROWS = 2;

export interface GridGeometry {
  columns: number;
  cellWidth: number;
  rowHeight: number;
  rows: number;
  totalHeight: number;
}

export function gridGeometry(width: number, preferredCell: number, itemCount: number): GridGeometry {
  const inner = Math.max(0, width - 2 * GRID_PADDING);
  const columns = Math.max(1, Math.floor((inner + GRID_GAP) / (preferredCell + GRID_GAP)));
  const cellWidth = Math.max(40, Math.floor((inner - (columns - 1) * GRID_GAP) / columns));
  const rowHeight = cellWidth + CAPTION_HEIGHT;
  const rows = Math.ceil(itemCount / columns);
  const totalHeight = rows ? 2 * GRID_PADDING + rows * rowHeight + (rows - 1) * GRID_GAP : 0;
  return { columns, cellWidth, rowHeight, rows, totalHeight };
}

export function visibleRange(
  geometry: GridGeometry,
  scrollTop: number,
  viewportHeight: number,
  itemCount: number,
): { first: number; last: number } {
  if (!itemCount) return { first: 0, last: -1 };
  const stride = geometry.rowHeight + GRID_GAP;
  const firstRow = Math.max(0, Math.floor((scrollTop - GRID_PADDING) / stride) - OVERSCAN_ROWS);
  const lastRow = Math.min(geometry.rows - 1, Math.floor((scrollTop + viewportHeight) / stride) + OVERSCAN_ROWS);
  return { first: firstRow * geometry.columns, last: Math.min(itemCount - 1, (lastRow + 1) * geometry.columns - 1) };
}

export function cellPosition(geometry: GridGeometry, index: number): { top: number; left: number } {
  const row = Math.floor(index / geometry.columns);
  const column = index % geometry.columns;
  return {
    top: GRID_PADDING + row * (geometry.rowHeight + GRID_GAP),
    left: GRID_PADDING + column * (geometry.cellWidth + GRID_GAP),
  };
}

// The scroll position that brings a cell fully into view, or null when it already is.
export function scrollToReveal(
  geometry: GridGeometry,
  index: number,
  scrollTop: number,
  viewportHeight: number,
): number | null {
  const { top } = cellPosition(geometry, index);
  const bottom = top + geometry.rowHeight;
  if (top < scrollTop) return Math.max(0, top - GRID_PADDING);
  if (bottom > scrollTop + viewportHeight) return bottom - viewportHeight + GRID_PADDING;
  return null;
}
