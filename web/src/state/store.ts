import { batch, computed, effect, signal, untracked } from "@preact/signals";
import type { NativeHandlers } from "../bridge/callbackNames";
import type { ActionBody, PostAction } from "../bridge/native";
import { T } from "../texts";
import { groupBursts } from "./bursts";
import {
  covers,
  guessPhotoSize,
  readRegionAnswer,
  regionFor,
  sameRect,
  shownFocus,
  visibleRect,
  type PixelRect,
  type PixelSize,
  type RegionAnswer,
  type RegionScale,
  type Viewport,
} from "./loupeRegion";
import { COMPARE_MAX, COMPARE_MIN, comparedPhotos, compareSet, stepFocus, type CompareState } from "./compare";
import { CAPTURE_BATCH, capturedOrderApplies, orderPhotos, readCaptureAnswers, type CaptureAnswer, type CaptureData } from "./captureData";
import { cloudOptions, photoForCloud, withCloudResult, type CloudSettings } from "./cloudReview";
import {
  acceptCloudVerdicts,
  applyUndo,
  indexById,
  markBestFrame,
  pushUndo,
  setDecision,
  setRating,
  type UndoEntry,
} from "./decisions";
import { countDecisions, defaultFilter, isAnalysed, matchesFilter, visibleItems, type Filter } from "./filters";
import { boolField, isObject, newToken, numberField, stringArrayField, stringField, type JsonObject } from "./json";
import { AIService } from "./aiService";
import { AppUpdate } from "./appUpdate";
import { ComfySetup } from "./comfySetup";
import { CompanionApps } from "./companionApps";
import { FaceBatch } from "./faceBatch";
import { faceFocus, FaceMarks } from "./faceMarks";
import { readHealthReport, type HealthReport } from "./health";
import { readBridgeStatus, type BridgeStatus } from "./pluginBridge";
import { PhotoEdit } from "./photoEdit";
import { ProjectStyle } from "./projectStyle";
import { adoptScan, clampRating, emptyProject, projectToSaved, readScanResult, restoreProject, sanitizePhotos } from "./project";
import { readProjectBackups, type ProjectBackup } from "./projectBackups";
import { addRecentProject, type RecentProject } from "./recentProjects";
import { ProjectSaver } from "./saver";
import { PREVIEWS_IN_FLIGHT, previewNeighbours, type StepDirection } from "./previewPreload";
import type {
  AdvancedExportOptions,
  AnalysisSettings,
  Decision,
  LocalAnalysisResult,
  PhotoRecord,
  ProjectState,
  ViewSettings,
} from "./types";

export interface LensState {
  enabled: boolean;
  engine: string;
  cameraCount: number;
  detail: string;
}

export interface CameraCard {
  path: string;
  dcim: string;
}

export interface AnalysisRun {
  token: string;
  total: number;
  processed: number;
  remaining: number | null;
}

export interface CloudRun {
  total: number;
  processed: number;
  failed: number;
  name: string;
}

export interface BurstRun {
  token: string;
  group: string;
  ids: readonly string[];
  processed: number;
  total: number;
}

// How the last cloud comparison of a burst group ended.
export type BurstOutcome =
  | { kind: "winner"; name: string; confidence: number; reason: string }
  | { kind: "undecided"; confidence: number; reason: string }
  | { kind: "failed"; message: string };

// The program compares bursts of this size only.
export const BURST_COMPARE_MIN = 2;
export const BURST_COMPARE_MAX = 60;

export interface ExportRun {
  completed: number;
  total: number;
  name: string;
}

export interface Selection {
  currentId: string | null;
  ids: ReadonlySet<string>;
  anchorId: string | null;
}

// "actual" is 100 %, "double" 200 %: one photo pixel on one, or on two by two, device pixels.
export type LoupeZoom = "fit" | "actual" | "double";

export function regionScaleOf(zoom: LoupeZoom): RegionScale | null {
  return zoom === "actual" ? 1 : zoom === "double" ? 2 : null;
}

export interface LoupeState {
  open: boolean;
  zoom: LoupeZoom;
  // Centre of the view in image fractions (0..1), kept when stepping so the same spot of
  // the next frame is shown at 100 %.
  focusX: number;
  focusY: number;
  // The loupe over the whole window, toolbars and details hidden.
  fullScreen: boolean;
}

export interface PreviewAnswer {
  url?: string;
  error?: string;
}

// Photos the file manager asked the program to open, as the program describes them.
export interface OpenRequest {
  count: number;
  names: string[];
}

export type Dialog = null | "keys" | "trash" | "advancedExport" | "settings" | "workbench" | "cloud" | "replaceProject" | "edit";
export type WorkbenchTab = "project" | "style" | "faceBatch" | "health";
export type StyleScope = "selected" | "kept" | "all";

export interface HealthState {
  checking: boolean;
  report: HealthReport | null;
}

export const ARCHIVE_FORMAT = "tidewick-project";
// The program refuses to relink larger projects.
export const RELINK_MAX_PHOTOS = 20000;

export type AnalysisScope = "missing" | "all" | "selected";
export type ExportScope = "selected" | "visible" | "kept" | "all";
export type CloudScope = "selected" | "visible" | "all";

// A project of 20,000 analysed photos is a message of some 20 MB; such projects are saved
// less often (up to five times the normal waits), small ones at the normal pace.
export function saveScale(photoCount: number): number {
  return Math.min(5, Math.max(1, photoCount / 4000));
}

const EMPTY_SELECTION: Selection = { currentId: null, ids: new Set(), anchorId: null };

// The workbench's state and every operation on it. The page owns the project (photo records
// with the user's decisions and the analysis results); the program stores it through
// "saveState" and answers actions with callbacks, which arrive here through handlers().
export class Workbench {
  readonly project = signal<ProjectState>(emptyProject());
  readonly restored = signal(false);
  readonly version = signal("");
  readonly status = signal("");
  readonly notice = signal("");
  readonly lens = signal<LensState | null>(null);
  readonly card = signal<CameraCard | null>(null);
  readonly bridge = signal<BridgeStatus | null>(null);
  readonly selection = signal<Selection>(EMPTY_SELECTION);
  readonly filter = signal<Filter>(defaultFilter());
  readonly expandedGroups = signal<ReadonlySet<string>>(new Set());
  readonly undoStack = signal<UndoEntry[]>([]);
  readonly analysis = signal<AnalysisRun | null>(null);
  // The import under way, as the program counts it; null when none is.
  readonly scanProgress = signal<{ found: number; thumbnails: number; total: number } | null>(null);
  // Records of the import under way whose thumbnails are ready, shown read-only in the grid until
  // the scan itself replaces the project; null when there are none.
  readonly importPreview = signal<{ token: string; photos: PhotoRecord[] } | null>(null);
  readonly cloudRun = signal<CloudRun | null>(null);
  // Why the cloud could not judge a photo in this session's runs; not kept with the project.
  readonly cloudErrors = signal<ReadonlyMap<string, string>>(new Map());
  readonly burstRun = signal<BurstRun | null>(null);
  readonly burstOutcomes = signal<ReadonlyMap<string, BurstOutcome>>(new Map());
  readonly exportRun = signal<ExportRun | null>(null);
  readonly loupe = signal<LoupeState>({ open: false, zoom: "fit", focusX: 0.5, focusY: 0.5, fullScreen: false });
  readonly previews = signal<ReadonlyMap<string, PreviewAnswer>>(new Map());
  // Whether the loupe makes its neighbours' previews ahead (off only to measure what that gains).
  preloading = true;
  // The way the loupe last stepped, so that the photos ahead are made first.
  private readonly stepDirection = signal<StepDirection>(1);
  // The loupe's view in CSS pixels, as the loupe measured it.
  readonly loupeViewport = signal<Viewport>({ width: 0, height: 0, dpr: 1 });
  // Photos' upright full sizes: from the program's regions, else as the loaded preview suggests.
  readonly photoSizes = signal<ReadonlyMap<string, PixelSize>>(new Map());
  readonly previewSizes = signal<ReadonlyMap<string, PixelSize>>(new Map());
  // The full-resolution regions on show (or last shown), by photo, and photos the program
  // could not cut one from.
  readonly regions = signal<ReadonlyMap<string, RegionAnswer>>(new Map());
  readonly regionErrors = signal<ReadonlyMap<string, string>>(new Map());
  // The photos side by side, and whether that view is open.
  readonly compare = signal<CompareState | null>(null);
  // The loupe's brief mark of the decision just made (the loupe may have moved on already);
  // count tells one mark from the next, so each one shows anew.
  readonly decisionMark = signal<{ id: string; decision: Decision | null; count: number } | null>(null);
  readonly dialog = signal<Dialog>(null);
  readonly workbenchTab = signal<WorkbenchTab>("project");
  readonly archiveSaving = signal(false);
  readonly relinking = signal(false);
  // The automatic backups as last listed; null before the first list arrived.
  readonly backups = signal<ProjectBackup[] | null>(null);
  readonly backupsLoading = signal(false);
  readonly health = signal<HealthState>({ checking: false, report: null });
  readonly gridColumns = signal(1);
  // What the cameras recorded, by photo id, as the program read it this session.
  readonly captureAnswers = signal<ReadonlyMap<string, CaptureAnswer>>(new Map());

  // Tokens and ids of requests whose answers are still awaited; an answer that matches none
  // of them is stale and ignored. Trash and export answers report files that really moved
  // or were written, so every request's answer is awaited, not only the newest one.
  private readonly trashTokens = new Set<string>();
  private readonly ratedExportTokens = new Set<string>();
  private readonly pendingPreviews = new Set<string>();
  // Regions asked for and not answered yet, oldest first. Only the newest one is shown;
  // an answer to an older one comes from a view the user has moved away from.
  private readonly regionsAwaited = new Map<string, Array<{ scale: RegionScale; rect: PixelRect }>>();
  // Photos whose capture data was asked for, with the path asked about.
  private readonly captureAwaited = new Map<string, string>();
  // An import's bursts were formed from file dates; once its capture times are in they are
  // formed again from those.
  private regroupWhenCaptured = false;
  // Photos of the cloud run under way that have not been answered yet. Its answers carry only
  // the photo's id, so an id answered once, or never sent, is not taken again.
  private readonly cloudPending = new Set<string>();
  // Imports whose records no longer show: a late batch of one of them is not shown again.
  private readonly retiredImports = new Set<string>();
  // Backup lists carry no token; only as many as were asked for are taken.
  private backupListsAwaited = 0;
  // The backup asked to be opened: its answer is the archive answer, told apart by this.
  private backupAwaited: string | null = null;

  readonly photos = computed(() => this.project.value.photos);
  readonly photoIndex = computed(() => indexById(this.project.value.photos));
  readonly counts = computed(() => countDecisions(this.project.value.photos));
  readonly captureData = computed(() => {
    const data = new Map<string, CaptureData>();
    for (const [id, answer] of this.captureAnswers.value) if ("data" in answer) data.set(id, answer.data);
    return data;
  });
  // The photos in the grid's order. Sorting a large project on every decision would be slow;
  // the order is kept while ids, names, paths and capture data stay the same.
  private lastOrder: { photos: readonly PhotoRecord[]; order: string; capture: unknown; ids: string[] } | null = null;
  private readonly displayOrder = computed(() => {
    const photos = this.project.value.photos;
    const order = this.project.value.view.order;
    const capture = this.captureData.value;
    const last = this.lastOrder;
    const same =
      last &&
      last.order === order &&
      last.capture === capture &&
      last.photos.length === photos.length &&
      photos.every((photo, i) => photo.id === last.photos[i].id && photo.name === last.photos[i].name && photo.path === last.photos[i].path);
    if (same) {
      last.photos = photos;
      return last.ids;
    }
    const ids = orderPhotos(photos, order, capture).map((photo) => photo.id);
    this.lastOrder = { photos, order, capture, ids };
    return ids;
  });
  readonly orderedPhotos = computed(() => {
    const photos = this.project.value.photos;
    const index = this.photoIndex.value;
    return this.displayOrder.value.map((id) => photos[index.get(id)!]);
  });
  readonly capturedOrder = computed(
    () => this.project.value.view.order === "captureTime" && capturedOrderApplies(this.project.value.photos, this.captureData.value),
  );
  private readonly displayIndex = computed(() => indexById(this.orderedPhotos.value));
  readonly items = computed(() =>
    visibleItems(
      this.orderedPhotos.value,
      this.filter.value,
      this.project.value.view.collapseBursts,
      this.expandedGroups.value,
    ),
  );
  readonly visibleIds = computed(() => new Set(this.items.value.map((item) => item.photo.id)));
  readonly currentPhoto = computed(() => {
    const id = this.selection.value.currentId;
    if (!id) return null;
    const i = this.photoIndex.value.get(id);
    return i === undefined ? null : this.project.value.photos[i];
  });

  private readonly saver: ProjectSaver;
  readonly style: ProjectStyle;
  readonly faceBatch: FaceBatch;
  readonly faceMarks: FaceMarks;
  readonly ai: AIService;
  readonly appUpdate: AppUpdate;
  readonly companionApps: CompanionApps;
  readonly comfy: ComfySetup;
  readonly photoEdit: PhotoEdit;

  constructor(
    private readonly post: PostAction,
    saver?: ProjectSaver,
  ) {
    this.saver = saver ?? new ProjectSaver(post);
    this.style = new ProjectStyle(post, (text) => this.say(text));
    this.faceBatch = new FaceBatch(post, (text) => this.say(text));
    this.faceMarks = new FaceMarks(post);
    this.ai = new AIService(post);
    this.appUpdate = new AppUpdate(post);
    this.companionApps = new CompanionApps(post);
    this.comfy = new ComfySetup(post);
    this.photoEdit = new PhotoEdit(post);
    // Whatever hides photos (a filter, a collapsed burst, a decision under a filter, an analysis
    // result) may hide the current one; the selection follows at once, so no key ever acts on
    // a photo the grid does not show.
    effect(() => this.keepSelectionVisible());
    // The loupe at 100 % or 200 % follows every change of photo, zoom, focus and view size.
    effect(() => this.keepRegion());
    // With face marks on, the loupe's photo has its faces asked for as it comes up.
    effect(() => this.keepFaces());
  }

  // ---- the handshake and persistence -------------------------------------------------

  start(): void {
    this.post({ action: "ready" });
    this.post({ action: "watchScanProgress", enabled: true });
  }

  scanProgressed(payload: unknown): void {
    if (!isObject(payload)) return;
    const count = (key: string) => {
      const value = numberField(payload, key, -1);
      return Number.isSafeInteger(value) && value >= 0 ? value : null;
    };
    const found = count("found"), thumbnails = count("thumbnails"), total = count("total");
    if (found === null || thumbnails === null || total === null || (total > 0 && thumbnails > total)) return;
    this.scanProgress.value = { found, thumbnails, total };
  }

  // A batch of the running import's records; a batch of a newer import replaces the records shown.
  scanRecords(payload: unknown): void {
    if (!isObject(payload) || !Array.isArray(payload.photos)) return;
    const token = stringField(payload, "token");
    if (!token || this.retiredImports.has(token)) return;
    const shown = this.importPreview.value;
    const before = shown?.token === token ? shown.photos : [];
    const known = new Set(before.map((photo) => photo.id));
    const added = sanitizePhotos(payload.photos).filter((photo) => !known.has(photo.id));
    if (!added.length) return;
    if (shown && shown.token !== token) this.retiredImports.add(shown.token);
    batch(() => {
      // The grid now shows the import: the old project's views would act on photos out of sight.
      if (!shown) this.closeViewsForImport();
      this.importPreview.value = { token, photos: [...before, ...added] };
    });
  }

  private closeViewsForImport(): void {
    if (this.loupe.value.open) this.closeLoupe();
    this.closeCompare();
  }

  // The running import's records leave the grid (the scan arrived, the import ended or a new one
  // was asked for).
  private retireImportPreview(): void {
    const shown = this.importPreview.value;
    if (!shown) return;
    this.retiredImports.add(shown.token);
    this.importPreview.value = null;
  }

  savedState(): JsonObject {
    return projectToSaved(this.project.value);
  }

  flushSave(): void {
    this.saver.flush();
  }

  // The program is about to quit: the pending save goes now, and the answer tells the program
  // that it has been posted (messages reach it in order, so it is written by then).
  flushState(payload: unknown): void {
    this.saver.flush();
    this.post({ action: "stateFlushed", token: isObject(payload) ? stringField(payload, "token") : "" });
  }

  // Every change of the project goes through here. Nothing is saved before the stored
  // project has been received: saving the empty start state would overwrite it.
  private updateProject(update: (project: ProjectState) => ProjectState): void {
    const next = update(this.project.value);
    if (next === this.project.value) return;
    this.project.value = next;
    if (this.restored.value) this.saver.schedule(() => this.savedState(), saveScale(next.photos.length));
  }

  private setPhotos(photos: PhotoRecord[]): void {
    this.updateProject((project) => (photos === project.photos ? project : { ...project, photos }));
  }

  receiveState(payload: unknown): void {
    batch(() => {
      this.retireImportPreview();
      this.project.value = restoreProject(payload);
      this.restored.value = true;
      this.resetViewForNewProject();
    });
  }

  private resetViewForNewProject(): void {
    this.hiddenCurrentId = null;
    const first = this.project.value.photos[0];
    this.selection.value = first ? { currentId: first.id, ids: new Set([first.id]), anchorId: first.id } : EMPTY_SELECTION;
    this.undoStack.value = [];
    this.expandedGroups.value = new Set();
    this.loupe.value = { ...this.loupe.value, open: false, fullScreen: false };
    this.compare.value = null;
    this.previews.value = new Map();
    this.pendingPreviews.clear();
    this.forgetRegions();
    this.faceMarks.forget();
    this.captureAnswers.value = new Map();
    this.captureAwaited.clear();
    this.regroupWhenCaptured = false;
    this.askCaptureData(this.project.value.photos);
    // An analysis of the old project may still report; its token no longer applies.
    this.analysis.value = null;
    // A cloud review of the old project would go on spending the user's quota on photos that
    // are no longer shown.
    if (this.cloudRun.value) this.cancelCloudReview(false);
    this.cloudErrors.value = new Map();
    if (this.burstRun.value) this.cancelBurstCompare(false);
    this.burstOutcomes.value = new Map();
  }

  receiveScan(payload: unknown): void {
    const scan = readScanResult(payload);
    if (!scan) return;
    batch(() => {
      this.scanProgress.value = null;
      this.retireImportPreview();
      this.updateProject((project) => {
        const adopted = adoptScan(project, scan);
        const hasHashes = adopted.photos.some((photo) => typeof photo.result?.hash === "string");
        return hasHashes ? { ...adopted, photos: groupBursts(adopted.photos).photos } : adopted;
      });
      this.resetViewForNewProject();
      this.regroupWhenCaptured = this.project.value.photos.some((photo) => typeof photo.result?.hash === "string");
      this.status.value = T.imported(scan.photos.length, scan.skipped);
    });
  }

  // ---- project archives --------------------------------------------------------------------

  // The archive carries the project as "saveState" stores it; the program removes thumbnails,
  // previews and anything secret before writing.
  saveArchive(): void {
    if (!this.restored.value || this.archiveSaving.value) return;
    this.archiveSaving.value = true;
    // The list of other shoots stays on this machine.
    const { recentProjects: _own, ...state } = this.savedState();
    this.post({ action: "exportProjectArchive", archive: { format: ARCHIVE_FORMAT, version: 1, state } });
  }

  private rememberProject(how: RecentProject["how"]): void {
    const project = this.project.value;
    const entry: RecentProject = { name: project.projectName || T.untitledProject, photos: project.photos.length, at: new Date().toISOString(), how };
    this.updateProject((current) => ({ ...current, recentProjects: addRecentProject(current.recentProjects, entry) }));
  }

  forgetRecentProject(index: number): void {
    this.updateProject((project) => ({ ...project, recentProjects: project.recentProjects.filter((_, i) => i !== index) }));
  }

  projectArchiveSaved(payload: unknown): void {
    if (!this.archiveSaving.value || !isObject(payload)) return;
    this.archiveSaving.value = false;
    if (payload.ok === true) {
      this.rememberProject("saved");
      this.say(T.archiveSaved);
    }
    else if (payload.cancelled !== true) this.say(stringField(payload, "error") || T.archiveSaveFailed);
  }

  openArchive(): void {
    this.backupAwaited = null;
    this.post({ action: "openProjectArchive" });
  }

  // ---- automatic backups -------------------------------------------------------------------

  listBackups(): void {
    this.backupListsAwaited++;
    this.backupsLoading.value = true;
    this.post({ action: "listProjectBackups" });
  }

  projectBackups(payload: unknown): void {
    if (!this.backupListsAwaited) return;
    this.backupListsAwaited--;
    const list = readProjectBackups(payload);
    batch(() => {
      if (list) this.backups.value = list;
      this.backupsLoading.value = this.backupListsAwaited > 0;
    });
  }

  // Only a backup of the list shown, and one the program could read, is asked for.
  openBackup(name: string): void {
    if (!this.backups.value?.some((backup) => backup.name === name && backup.readable)) return;
    this.backupAwaited = name;
    this.post({ action: "openProjectBackup", name });
  }

  // The program has backed up the current project and stored the archive's state in its place
  // before this arrives; failures come as status lines and leave the project alone.
  projectArchiveLoaded(payload: unknown): void {
    if (!isObject(payload) || !isObject(payload.archive)) return;
    const state = payload.archive.state;
    if (!isObject(state)) return;
    const fromBackup = this.backupAwaited !== null;
    this.backupAwaited = null;
    batch(() => {
      this.retireImportPreview();
      // The list is this machine's, not the archive's.
      const recent = this.project.value.recentProjects;
      this.updateProject(() => ({ ...restoreProject(state), recentProjects: recent }));
      this.resetViewForNewProject();
      const count = this.project.value.photos.length;
      // A backup is this machine's own copy, not an archive to list among the recent ones.
      if (fromBackup) this.say(T.backupOpened(count));
      else {
        this.rememberProject("opened");
        this.say(T.archiveOpened(count));
      }
    });
    // The project replaced has just become the newest backup.
    if (this.backups.value) this.listBackups();
  }

  // ---- relinking moved photos ------------------------------------------------------------------

  relinkPhotos(): void {
    const photos = this.project.value.photos;
    if (this.relinking.value || !photos.length) return;
    if (photos.length > RELINK_MAX_PHOTOS) {
      this.say(T.relinkTooMany(RELINK_MAX_PHOTOS));
      return;
    }
    this.relinking.value = true;
    this.post({ action: "relinkProjectPhotos", photos: photos.map((photo) => ({ id: photo.id, path: photo.path })) });
  }

  // Photos found again get their new path, name and thumbnail; their work stays with them.
  projectPhotosRelinked(payload: unknown): void {
    if (!this.relinking.value || !isObject(payload)) return;
    this.relinking.value = false;
    if (payload.cancelled === true || !Array.isArray(payload.photos)) return;
    const found = new Map<string, { path: string; name: string; thumbnail: string }>();
    for (const entry of payload.photos) {
      if (!isObject(entry)) continue;
      const path = stringField(entry, "path");
      if (!path.startsWith("/")) continue;
      found.set(stringField(entry, "id"), { path, name: stringField(entry, "name"), thumbnail: stringField(entry, "thumbnail") });
    }
    let relinked = 0;
    const photos = this.project.value.photos.map((photo) => {
      const match = found.get(photo.id);
      if (!match) return photo;
      relinked++;
      return { ...photo, path: match.path, name: match.name || photo.name, thumbnail: match.thumbnail || photo.thumbnail };
    });
    batch(() => {
      if (relinked) {
        this.setPhotos(photos);
        // Large previews were made from the old files.
        this.previews.value = new Map();
        this.pendingPreviews.clear();
        this.forgetRegions();
        this.askCaptureData(this.project.value.photos.filter((photo) => found.has(photo.id)));
      }
      this.say(T.relinked(relinked, numberField(payload, "missing")));
    });
  }

  // ---- the whole-set style ---------------------------------------------------------------------

  previewStyle(scope: StyleScope): void {
    this.style.preview(this.photosForScope(scope));
  }

  // ---- crop and rotate -----------------------------------------------------------------------

  openEdit(): void {
    const photo = this.currentPhoto.value;
    if (!photo) return;
    this.photoEdit.open(photo);
    this.dialog.value = "edit";
    // The dialog shows the large preview when the program has one; the thumbnail until then.
    this.askPreview(photo);
  }

  saveEdit(): void {
    const id = this.photoEdit.state.value.photoId;
    const i = id === null ? undefined : this.photoIndex.value.get(id);
    if (i !== undefined) this.photoEdit.save(this.project.value.photos[i]);
  }

  // The saved copy joins the project right after its photo and becomes the current photo; its
  // file is written whether or not the dialog is still open.
  photoEditResult(payload: unknown): void {
    const answer = this.photoEdit.answer(payload);
    if (!answer) return;
    batch(() => {
      const copy = answer.photo;
      if (copy && this.photoIndex.value.get(copy.id) === undefined) {
        const photos = this.project.value.photos.slice();
        const at = this.photoIndex.value.get(answer.sourceId);
        photos.splice(at === undefined ? photos.length : at + 1, 0, copy);
        this.setPhotos(photos);
        this.askCaptureData([copy]);
        if (this.visibleIds.value.has(copy.id)) this.selection.value = { currentId: copy.id, ids: new Set([copy.id]), anchorId: copy.id };
      }
      this.say(answer.message);
    });
  }

  // Shows a folder in the file manager; only absolute paths are meant for it.
  openFolder(path: string): void {
    if (path.startsWith("/")) this.post({ action: "openFolder", path });
  }

  // ---- the health report ----------------------------------------------------------------------

  checkHealth(): void {
    this.health.value = { ...this.health.value, checking: true };
    this.post({ action: "workbenchHealth" });
  }

  workbenchHealth(payload: unknown): void {
    const report = readHealthReport(payload);
    if (report) this.health.value = { checking: false, report };
  }

  // The program saves the last report it built, so there is nothing to save before one came back.
  exportHealthReport(): void {
    if (this.health.value.report) this.post({ action: "exportHealthReport" });
  }

  // ---- small callbacks -----------------------------------------------------------------

  setVersion(payload: unknown): void {
    this.version.value = typeof payload === "string" ? payload : "";
  }

  // An import that ends without photos (nothing importable, a failed backup) ends with a status
  // line instead of a scan, so a status also ends the import's progress.
  setStatus(payload: unknown): void {
    if (typeof payload !== "string") return;
    batch(() => {
      this.status.value = payload;
      this.scanProgress.value = null;
      this.retireImportPreview();
    });
  }

  say(text: string): void {
    this.notice.value = text;
    this.status.value = text;
  }

  setLensState(payload: unknown): void {
    if (!isObject(payload)) return;
    this.lens.value = {
      enabled: boolField(payload, "enabled"),
      engine: stringField(payload, "engine"),
      cameraCount: numberField(payload, "cameraCount"),
      detail: stringField(payload, "detail"),
    };
  }

  saveLensSettings(enabled: boolean): void {
    this.post({ action: "saveLensSettings", enabled });
  }

  bridgeStatus(payload: unknown): void {
    this.bridge.value = readBridgeStatus(payload);
  }

  // The folder generated images go to, for the plug-in and the face batch alike; the program
  // answers with a new bridgeStatus.
  chooseSaveLocation(): void {
    this.post({ action: "chooseSaveLocation" });
  }

  cardDetected(payload: unknown): void {
    if (!isObject(payload)) return;
    const path = stringField(payload, "path");
    if (!path) return;
    this.card.value = { path, dcim: stringField(payload, "dcim") };
  }

  // ---- import ----------------------------------------------------------------------------

  chooseFolder(): void {
    this.startImport({ action: "chooseFolder" });
  }

  choosePhotos(): void {
    const folder = this.project.value.folder;
    this.startImport(folder ? { action: "choosePhotos", path: folder } : { action: "choosePhotos" });
  }

  importCard(): void {
    const card = this.card.value;
    if (!card) return;
    this.startImport({ action: "scanPath", path: card.dcim || card.path });
  }

  // The import asked for while the user decides whether to replace the project, and for photos
  // opened from the file manager, what they are.
  readonly pendingImport = signal<{ message: ActionBody; opening?: OpenRequest } | null>(null);

  // The file manager asked the program to open photos; it imports them once told the token back.
  openPhotosRequested(payload: unknown): void {
    if (!isObject(payload)) return;
    const token = stringField(payload, "token");
    const count = numberField(payload, "count");
    if (!token || !Number.isSafeInteger(count) || count < 1) return;
    this.startImport({ action: "importRequestedPhotos", token }, { count, names: stringArrayField(payload, "names") });
  }

  // Photos with a decision or stars: the work an import would take out of view.
  decidedCount(): number {
    return this.project.value.photos.filter((photo) => photo.status || (photo.rating ?? 0) > 0).length;
  }

  // An import replaces the project, so with decisions made the user is asked first.
  private startImport(message: ActionBody, opening?: OpenRequest): void {
    if (!this.decidedCount()) {
      this.sendImport(message);
      return;
    }
    this.pendingImport.value = { message, opening };
    this.dialog.value = "replaceProject";
  }

  confirmImport(): void {
    const pending = this.pendingImport.value;
    this.pendingImport.value = null;
    this.dialog.value = null;
    if (pending) this.sendImport(pending.message);
  }

  // The program backs up the stored project before it adopts new photos; the pending save goes
  // first so that the backup holds the latest decisions.
  private sendImport(message: ActionBody): void {
    this.saver.flush();
    this.retireImportPreview();
    this.post(message);
    // The card's banner has done its work once the card is being imported.
    if (message.action === "scanPath") this.card.value = null;
  }

  dismissCard(): void {
    this.card.value = null;
  }

  // ---- selection and movement ------------------------------------------------------------

  select(id: string, mode: "single" | "toggle" | "range" = "single"): void {
    const current = this.selection.value;
    if (mode === "toggle") {
      const ids = new Set(current.ids);
      if (ids.has(id) && ids.size > 1) ids.delete(id);
      else ids.add(id);
      this.selection.value = { currentId: id, ids, anchorId: id };
      return;
    }
    if (mode === "range" && current.anchorId) {
      const items = this.items.value;
      const a = items.findIndex((item) => item.photo.id === current.anchorId);
      const b = items.findIndex((item) => item.photo.id === id);
      if (a >= 0 && b >= 0) {
        const ids = new Set<string>();
        for (let i = Math.min(a, b); i <= Math.max(a, b); i++) ids.add(items[i].photo.id);
        this.selection.value = { currentId: id, ids, anchorId: current.anchorId };
        return;
      }
    }
    this.selection.value = { currentId: id, ids: new Set([id]), anchorId: id };
  }

  selectAllVisible(): void {
    const items = this.items.value;
    if (!items.length) return;
    const currentId = this.selection.value.currentId ?? items[0].photo.id;
    this.selection.value = { currentId, ids: new Set(items.map((item) => item.photo.id)), anchorId: currentId };
  }

  // Moves the current photo by delta cells of the visible grid (±1 for left/right, ±columns
  // for up/down). With no current photo the first one is taken.
  // With extend (Shift held) the selection grows from its anchor to the new photo.
  move(delta: number, extend = false): void {
    const items = this.items.value;
    if (!items.length) return;
    const currentId = this.selection.value.currentId;
    const at = currentId ? items.findIndex((item) => item.photo.id === currentId) : -1;
    const target = at < 0 ? 0 : Math.max(0, Math.min(items.length - 1, at + delta));
    batch(() => {
      if (delta !== 0) this.stepDirection.value = delta > 0 ? 1 : -1;
      this.select(items[target].photo.id, extend && !this.loupe.value.open ? "range" : "single");
    });
    if (this.loupe.value.open) this.requestPreview();
  }

  // The current photo when the filter showed nothing, so that the view comes back to it.
  private hiddenCurrentId: string | null = null;

  private keepSelectionVisible(): void {
    const selection = this.selection.value;
    const visible = this.visibleIds.value;
    const currentId = selection.currentId ?? (visible.size ? this.hiddenCurrentId : null);
    const settled =
      currentId === selection.currentId &&
      (currentId === null || visible.has(currentId)) &&
      [...selection.ids].every((id) => visible.has(id));
    if (settled) return;
    untracked(() => {
      const next = currentId === null || visible.has(currentId) ? currentId : this.nearestVisible(currentId);
      this.hiddenCurrentId = next === null ? currentId : null;
      const ids = new Set([...selection.ids].filter((id) => visible.has(id)));
      if (next === null) this.selection.value = EMPTY_SELECTION;
      else if (next === selection.currentId && ids.size) {
        const anchorId = selection.anchorId !== null && visible.has(selection.anchorId) ? selection.anchorId : next;
        this.selection.value = { currentId: next, ids, anchorId };
      } else {
        this.selection.value = { currentId: next, ids: new Set([next]), anchorId: next };
        if (this.loupe.value.open) this.requestPreview();
      }
    });
  }

  // The shown photo nearest to a hidden one: its burst's shown frame, else the closest in
  // the grid's order, the following one on a tie.
  private nearestVisible(id: string): string | null {
    const items = this.items.value;
    const index = this.displayIndex.value;
    const at = index.get(id);
    if (!items.length) return null;
    // Side by side the focus stays among the compared photos while one of them is shown.
    const compared = this.compare.value?.ids.filter((other) => other !== id && this.visibleIds.value.has(other));
    if (compared?.length) return compared[0];
    if (at === undefined) return items[0].photo.id;
    const group = this.orderedPhotos.value[at].group;
    const sameBurst = group ? items.find((item) => item.photo.group === group) : undefined;
    if (sameBurst) return sameBurst.photo.id;
    const following = items.findIndex((item) => (index.get(item.photo.id) ?? 0) > at);
    if (following <= 0) return items[following < 0 ? items.length - 1 : 0].photo.id;
    const after = items[following].photo.id;
    const before = items[following - 1].photo.id;
    return (index.get(after) ?? 0) - at <= at - (index.get(before) ?? 0) ? after : before;
  }

  private targetIds(): string[] {
    const { currentId, ids } = this.selection.value;
    if (ids.size > 1) return [...ids];
    return currentId ? [currentId] : [];
  }

  // ---- decisions, ratings and undo ---------------------------------------------------------

  private afterDecision(undo: UndoEntry | null, photos: PhotoRecord[], advance: boolean): void {
    batch(() => {
      // The visible list may change under a filter; the next photo is taken from the list as
      // it was, so auto-advance goes on to the neighbour the user saw.
      const before = this.items.value;
      const currentId = this.selection.value.currentId;
      this.setPhotos(photos);
      this.undoStack.value = pushUndo(this.undoStack.value, undo);
      if (!advance || !currentId) return;
      const at = before.findIndex((item) => item.photo.id === currentId);
      const after = this.items.value;
      const stillShown = new Set(after.map((item) => item.photo.id));
      for (let i = at + 1; i < before.length; i++) {
        const id = before[i].photo.id;
        if (stillShown.has(id)) {
          this.select(id);
          if (this.loupe.value.open) this.requestPreview();
          return;
        }
      }
      // The last photo (or every following one left the filter): stay, or fall back to the
      // last visible photo when the current one itself left the view.
      if (!stillShown.has(currentId) && after.length) {
        this.select(after[Math.min(Math.max(at, 0), after.length - 1)].photo.id);
      }
    });
  }

  // The step named for the status line of its undo: the photo's name, or how many photos.
  private labelled(undo: UndoEntry | null, what: (subject: string) => string): UndoEntry | null {
    if (!undo) return null;
    const first = this.photoIndex.value.get(undo.before[0]?.id ?? "");
    const name = first === undefined ? "" : this.project.value.photos[first].name;
    return { ...undo, label: what(T.undoSubject(undo.before.length, name)) };
  }

  decide(decision: Decision | null): void {
    const ids = this.targetIds();
    if (!ids.length) return;
    const { photos, undo } = setDecision(this.project.value.photos, ids, decision);
    const step = this.labelled(undo, (subject) => T.undoDecision(subject, decision));
    batch(() => {
      if (undo && this.loupe.value.open) this.decisionMark.value = { id: ids[0], decision, count: (this.decisionMark.value?.count ?? 0) + 1 };
      this.afterDecision(step, photos, this.advancesAfter(ids));
    });
  }

  rate(stars: number): void {
    const ids = this.targetIds();
    if (!ids.length) return;
    const { photos, undo } = setRating(this.project.value.photos, ids, stars);
    const step = this.labelled(undo, (subject) => T.undoRating(subject, clampRating(stars)));
    this.afterDecision(step, photos, this.advancesAfter(ids) && this.project.value.view.starsAdvance);
  }

  // Side by side the focus stays on the photo just judged: the next one is beside it.
  private advancesAfter(ids: readonly string[]): boolean {
    return ids.length === 1 && this.project.value.view.autoAdvance && !this.compare.value;
  }

  undo(): void {
    const stack = this.undoStack.value;
    const entry = stack[stack.length - 1];
    if (!entry) {
      this.say(T.undoNothing);
      return;
    }
    if (entry.final) {
      this.status.value = T.undoTrash;
      return;
    }
    batch(() => {
      this.undoStack.value = stack.slice(0, -1);
      this.setPhotos(applyUndo(this.project.value.photos, entry));
      const first = entry.before[0]?.id;
      if (first && this.photoIndex.value.has(first)) this.select(first);
      this.status.value = entry.label ? T.undoneStep(entry.label) : T.undone;
    });
  }

  // ---- filters and view --------------------------------------------------------------------

  setFilter(change: Partial<Filter>): void {
    this.filter.value = { ...this.filter.value, ...change };
  }

  setView(change: Partial<ViewSettings>): void {
    this.updateProject((project) => ({ ...project, view: { ...project.view, ...change } }));
  }

  toggleGroup(group: string): void {
    const expanded = new Set(this.expandedGroups.value);
    if (expanded.has(group)) expanded.delete(group);
    else expanded.add(group);
    this.expandedGroups.value = expanded;
  }

  regroupBursts(): number {
    const { photos, groups } = groupBursts(this.project.value.photos, this.captureData.value);
    this.setPhotos(photos);
    this.expandedGroups.value = new Set();
    return groups;
  }

  setBest(): void {
    const photo = this.currentPhoto.value;
    if (!photo?.group) return;
    const photos = this.project.value.photos.map((p) => {
      if (p.group !== photo.group) return p;
      const updated = { ...p };
      if (p.id === photo.id) updated.best = true;
      else delete updated.best;
      return updated;
    });
    this.setPhotos(photos);
  }

  // ---- loupe and previews --------------------------------------------------------------------

  openLoupe(): void {
    if (!this.currentPhoto.value) return;
    this.loupe.value = { ...this.loupe.value, open: true };
    this.requestPreview();
  }

  closeLoupe(): void {
    this.loupe.value = { ...this.loupe.value, open: false, fullScreen: false };
    this.decisionMark.value = null;
  }

  // F opens the loupe over the whole window, and switches between that and the normal loupe.
  toggleFullScreen(): void {
    const wasOpen = this.loupe.value.open;
    if (!wasOpen) this.openLoupe();
    if (!this.loupe.value.open) return;
    this.loupe.value = { ...this.loupe.value, fullScreen: !wasOpen || !this.loupe.value.fullScreen };
  }

  toggleLoupe(): void {
    if (this.loupe.value.open) this.closeLoupe();
    else this.openLoupe();
  }

  setZoom(zoom: LoupeZoom, focusX = this.loupe.value.focusX, focusY = this.loupe.value.focusY): void {
    this.loupe.value = {
      ...this.loupe.value,
      zoom,
      focusX: Math.max(0, Math.min(1, focusX)),
      focusY: Math.max(0, Math.min(1, focusY)),
    };
  }

  // ---- side by side ---------------------------------------------------------------------------

  openCompare(): void {
    const currentId = this.selection.value.currentId;
    const selected = this.items.value.filter((item) => this.selection.value.ids.has(item.photo.id)).map((item) => item.photo.id);
    const group = this.currentPhoto.value?.group;
    const burst = group ? this.orderedPhotos.value.filter((photo) => photo.group === group).map((photo) => photo.id) : [];
    const ids = compareSet(selected, currentId, burst);
    if (!ids) {
      this.say(T.compareNeeds(COMPARE_MIN, COMPARE_MAX));
      return;
    }
    batch(() => {
      // A collapsed burst opens, so that each of its frames can take the focus.
      const fromSelection = selected.length >= COMPARE_MIN && selected.length <= COMPARE_MAX;
      if (!fromSelection && group && !this.expandedGroups.value.has(group)) {
        this.expandedGroups.value = new Set(this.expandedGroups.value).add(group);
      }
      const focus = currentId && ids.includes(currentId) ? currentId : ids[0];
      this.selection.value = { currentId: focus, ids: new Set([focus]), anchorId: focus };
      this.compare.value = { ids };
    });
    for (const photo of this.zoomedPhotos.value) this.askPreview(photo);
  }

  closeCompare(): void {
    this.compare.value = null;
  }

  focusCompared(id: string): void {
    if (this.compare.value?.ids.includes(id)) this.select(id);
  }

  stepCompareFocus(step: number): void {
    const compare = this.compare.value;
    if (!compare) return;
    const shown = compare.ids.filter((id) => this.visibleIds.value.has(id));
    const next = stepFocus(shown, this.selection.value.currentId, step);
    if (next) this.select(next);
  }

  // ---- full-resolution regions -----------------------------------------------------------

  setLoupeViewport(viewport: Viewport): void {
    const old = this.loupeViewport.value;
    if (old.width !== viewport.width || old.height !== viewport.height || old.dpr !== viewport.dpr) this.loupeViewport.value = viewport;
  }

  notePreviewSize(id: string, size: PixelSize): void {
    const known = this.previewSizes.value.get(id);
    if (known && known.width === size.width && known.height === size.height) return;
    this.previewSizes.value = new Map(this.previewSizes.value).set(id, size);
  }

  photoSizeOf(photo: PhotoRecord): PixelSize | null {
    const answered = this.photoSizes.value.get(photo.id);
    if (answered) return answered;
    const data = this.captureData.value.get(photo.id);
    const camera = data?.width !== undefined && data.height !== undefined ? { width: data.width, height: data.height } : null;
    return guessPhotoSize(camera, this.previewSizes.value.get(photo.id) ?? null);
  }

  private forgetRegions(): void {
    this.regionsAwaited.clear();
    this.regions.value = new Map();
    this.regionErrors.value = new Map();
    this.photoSizes.value = new Map();
    this.previewSizes.value = new Map();
  }

  // The photos the zoomed view shows: the compared ones, else the loupe's.
  readonly zoomedPhotos = computed<readonly PhotoRecord[]>(() => {
    const compare = this.compare.value;
    if (compare) return comparedPhotos(compare, this.photoIndex.value, this.project.value.photos);
    const photo = this.currentPhoto.value;
    return this.loupe.value.open && photo ? [photo] : [];
  });

  // Asks for the regions the view needs unless the one shown or the one last asked for holds it.
  private keepRegion(): void {
    const loupe = this.loupe.value;
    const viewport = this.loupeViewport.value;
    const scale = regionScaleOf(loupe.zoom);
    const photos = this.zoomedPhotos.value;
    if (scale === null || viewport.width <= 0 || viewport.height <= 0) return;
    for (const photo of photos) {
      const size = this.photoSizeOf(photo);
      if (!size) continue;
      const visible = visibleRect(viewport, size, scale, loupe.focusX, loupe.focusY);
      if (!visible.width || !visible.height) continue;
      untracked(() => this.askRegion(photo, scale, visible, size));
    }
  }

  private askRegion(photo: PhotoRecord, scale: RegionScale, visible: PixelRect, size: PixelSize): void {
    const shown = this.regions.value.get(photo.id);
    if (shown && shown.scale === scale && covers(shown, visible)) return;
    const awaited = this.regionsAwaited.get(photo.id) ?? [];
    const last = awaited[awaited.length - 1];
    if (last && last.scale === scale && covers(last.rect, visible)) return;
    if (this.regionErrors.value.has(photo.id)) return;
    const rect = regionFor(visible, size);
    this.regionsAwaited.set(photo.id, [...awaited, { scale, rect }]);
    this.post({ action: "photoRegion", id: photo.id, path: photo.path, ...rect, scale });
  }

  photoRegion(payload: unknown): void {
    const answer = readRegionAnswer(payload);
    if (!answer) return;
    const awaited = this.regionsAwaited.get(answer.id) ?? [];
    const at =
      "error" in answer
        ? awaited.length - 1
        : awaited.findIndex((asked) => asked.scale === answer.scale && sameRect(asked.rect, answer));
    if (at < 0) return;
    const newest = at === awaited.length - 1;
    if (newest) this.regionsAwaited.delete(answer.id);
    else this.regionsAwaited.set(answer.id, awaited.slice(at + 1));
    if (!newest) return;
    batch(() => {
      if ("error" in answer) {
        this.regionErrors.value = new Map(this.regionErrors.value).set(answer.id, answer.error);
        return;
      }
      const known = this.photoSizes.value.get(answer.id);
      if (!known || known.width !== answer.photo.width || known.height !== answer.photo.height) {
        this.photoSizes.value = new Map(this.photoSizes.value).set(answer.id, answer.photo);
      }
      this.regions.value = new Map(this.regions.value).set(answer.id, answer);
    });
  }

  // Moves the view by a share of its own size (arrow keys with Alt at 100 % and 200 %).
  panLoupe(dx: number, dy: number): void {
    const loupe = this.loupe.value;
    const photo = this.currentPhoto.value;
    const scale = regionScaleOf(loupe.zoom);
    const size = photo ? this.photoSizeOf(photo) : null;
    if (scale === null || !size) return;
    const viewport = this.loupeViewport.value;
    const focus = shownFocus(viewport, size, scale, loupe.focusX, loupe.focusY);
    const perView = (share: number, view: number, photoSide: number) => (share * view) / (photoSide * focus.perPixel);
    this.setZoom(loupe.zoom, focus.x + perView(dx, viewport.width, size.width), focus.y + perView(dy, viewport.height, size.height));
  }

  // ---- face marks ---------------------------------------------------------------------------

  // The loupe's photo, when face marks apply to it (not side by side).
  private readonly faceMarked = computed(() => (this.loupe.value.open && !this.compare.value ? this.currentPhoto.value : null));

  private keepFaces(): void {
    const photo = this.faceMarked.value;
    if (!this.faceMarks.shown.value || !photo) return;
    const strictness = this.project.value.analysis.strictness;
    untracked(() => this.faceMarks.ask(photo, strictness));
  }

  toggleFaceMarks(): void {
    this.faceMarks.shown.value = !this.faceMarks.shown.value;
  }

  // Zooms to 100 % on the next face (step 1) or the one before (-1), after the last one the
  // key went to on this photo; with the faces not in yet, once they are.
  stepFace(step: number): void {
    const photo = this.faceMarked.value;
    if (!photo) return;
    const strictness = this.project.value.analysis.strictness;
    const key = FaceMarks.key(photo, strictness);
    this.faceMarks.shown.value = true;
    const answer = this.faceMarks.answerFor(photo, strictness);
    this.faceMarks.pendingStep = answer ? null : { key, step };
    if (!answer || "error" in answer || !answer.faces.length) {
      this.say(!answer ? T.facesLoading : "error" in answer ? T.facesFailed(answer.error) : T.noFaces);
      return;
    }
    const index = this.faceMarks.nextIndex(key, answer.faces.length, step);
    const focus = faceFocus(answer.faces[index], answer.photo);
    this.setZoom("actual", focus.x, focus.y);
    this.say(T.faceShown(index + 1, answer.faces.length));
  }

  photoFaces(payload: unknown): void {
    const taken = this.faceMarks.take(payload);
    const photo = this.faceMarked.value;
    if (!taken || !photo || taken.key !== FaceMarks.key(photo, this.project.value.analysis.strictness)) return;
    const { answer } = taken;
    if ("error" in answer) this.say(T.facesFailed(answer.error));
    // Its size places the photo at 100 % before any region has said it.
    else if (!this.photoSizes.value.has(photo.id)) this.photoSizes.value = new Map(this.photoSizes.value).set(photo.id, answer.photo);
    const pending = this.faceMarks.pendingStep;
    if (pending?.key === taken.key) this.stepFace(pending.step);
  }

  // The loupe's photos whose previews are made ahead, nearest first; none outside the loupe.
  readonly loupeNeighbours = computed<readonly PhotoRecord[]>(() => {
    const photo = this.currentPhoto.value;
    if (!this.loupe.value.open || !photo || !this.preloading) return [];
    const items = this.items.value;
    const at = items.findIndex((item) => item.photo.id === photo.id);
    return previewNeighbours(items, at, this.stepDirection.value).map((item) => item.photo);
  });

  requestPreview(): void {
    const photo = this.currentPhoto.value;
    if (!photo) return;
    this.askPreview(photo);
    this.preloadNeighbours();
  }

  // A neighbour that answered with an error is not asked again until the loupe comes to it.
  private preloadNeighbours(): void {
    for (const neighbour of this.loupeNeighbours.value) {
      if (this.pendingPreviews.size >= PREVIEWS_IN_FLIGHT) return;
      if (!this.previews.value.has(neighbour.id)) this.askPreview(neighbour);
    }
  }

  askPreview(photo: PhotoRecord): void {
    if (this.previews.value.get(photo.id)?.url || this.pendingPreviews.has(photo.id)) return;
    this.pendingPreviews.add(photo.id);
    this.post({ action: "previewPhoto", id: photo.id, path: photo.path });
  }

  previewReady(payload: unknown): void {
    if (!isObject(payload)) return;
    const id = stringField(payload, "id");
    if (!this.pendingPreviews.delete(id)) return;
    const url = stringField(payload, "url");
    const error = stringField(payload, "error");
    const previews = new Map(this.previews.value);
    previews.set(id, url ? { url } : { error: error || "大图不可用" });
    this.previews.value = previews;
    // A preview made leaves room for the next of the loupe's neighbours.
    this.preloadNeighbours();
  }

  // ---- capture data ------------------------------------------------------------------------

  askCaptureData(photos: readonly PhotoRecord[]): void {
    for (let start = 0; start < photos.length; start += CAPTURE_BATCH) {
      const part = photos.slice(start, start + CAPTURE_BATCH);
      for (const photo of part) this.captureAwaited.set(photo.id, photo.path);
      this.post({ action: "photoMetadata", ids: part.map((photo) => photo.id), paths: part.map((photo) => photo.path) });
    }
  }

  // Only answers about photos asked for, and still at the path asked about, are taken.
  photoMetadata(payload: unknown): void {
    const answers = new Map(this.captureAnswers.value);
    let taken = 0;
    for (const [id, answer] of readCaptureAnswers(payload)) {
      const path = this.captureAwaited.get(id);
      if (path === undefined) continue;
      this.captureAwaited.delete(id);
      const i = this.photoIndex.value.get(id);
      if (i === undefined || this.project.value.photos[i].path !== path) continue;
      answers.set(id, answer);
      taken++;
    }
    batch(() => {
      if (taken) this.captureAnswers.value = answers;
      if (this.regroupWhenCaptured && !this.captureAwaited.size) {
        this.regroupWhenCaptured = false;
        this.regroupBursts();
      }
    });
  }

  // ---- local analysis --------------------------------------------------------------------------

  setAnalysisSettings(change: Partial<AnalysisSettings>): void {
    this.updateProject((project) => ({ ...project, analysis: { ...project.analysis, ...change } }));
  }

  startAnalysis(scope: AnalysisScope): void {
    const photos = this.project.value.photos;
    let chosen: PhotoRecord[];
    if (scope === "all") chosen = photos;
    else if (scope === "selected") {
      const ids = new Set(this.targetIds());
      chosen = photos.filter((photo) => ids.has(photo.id));
    } else chosen = photos.filter((photo) => !isAnalysed(photo));
    if (!chosen.length) {
      this.say(T.nothingToAnalyse);
      return;
    }
    const token = newToken();
    const settings = this.project.value.analysis;
    this.analysis.value = { token, total: chosen.length, processed: 0, remaining: null };
    this.post({
      action: "analyze",
      token,
      photos: chosen.map((photo) => ({ id: photo.id, path: photo.path })),
      settings: { strictness: settings.strictness, enabled: settings.enabled, sound: settings.sound },
    });
  }

  cancelAnalysis(): void {
    if (!this.analysis.value) return;
    this.post({ action: "cancelAnalysis" });
    this.analysis.value = null;
    this.say(T.analysisCancelled);
  }

  analysisResult(payload: unknown): void {
    const run = this.analysis.value;
    if (!run || !isObject(payload) || payload.token !== run.token) return;
    const id = payload.id;
    const result = isObject(payload.result) ? (payload.result as LocalAnalysisResult) : {};
    batch(() => {
      this.analysis.value = {
        ...run,
        processed: numberField(payload, "processed", run.processed + 1),
        total: numberField(payload, "total", run.total),
        remaining: numberField(payload, "remaining", 0),
      };
      const i = typeof id === "string" ? this.photoIndex.value.get(id) : undefined;
      if (i === undefined) return;
      const photos = this.project.value.photos.slice();
      const issues = Array.isArray(result.issues) ? result.issues.filter((x) => typeof x === "string") : [];
      photos[i] = { ...photos[i], result, issues };
      this.setPhotos(photos);
    });
  }

  analysisComplete(payload: unknown): void {
    const run = this.analysis.value;
    if (!run || !isObject(payload) || payload.token !== run.token) return;
    batch(() => {
      this.analysis.value = null;
      if (boolField(payload, "cancelled")) {
        this.say(T.analysisCancelled);
        return;
      }
      const groups = this.regroupBursts();
      this.say(`${T.analysisDone}，${T.burstsFound(groups)}`);
    });
  }

  // ---- cloud review ------------------------------------------------------------------------------

  setCloudSettings(change: Partial<CloudSettings>): void {
    this.updateProject((project) => ({ ...project, cloudSettings: { ...project.cloudSettings, ...change } }));
  }

  startCloudReview(scope: CloudScope): void {
    if (this.cloudRun.value) return;
    const photos = this.photosForScope(scope);
    if (!photos.length) {
      this.say(T.cloudNothing);
      return;
    }
    batch(() => {
      this.cloudPending.clear();
      for (const photo of photos) this.cloudPending.add(photo.id);
      this.cloudRun.value = { total: photos.length, processed: 0, failed: 0, name: "" };
      const errors = new Map(this.cloudErrors.value);
      for (const photo of photos) errors.delete(photo.id);
      this.cloudErrors.value = errors;
    });
    this.post({ action: "cloudAnalyze", photos: photos.map(photoForCloud), options: cloudOptions(this.project.value.cloudSettings) });
  }

  // The program drops the answer of the request under way, so nothing of the run arrives after
  // this; whatever still does belongs to no run and is ignored.
  cancelCloudReview(announce = true): void {
    if (!this.cloudRun.value) return;
    this.post({ action: "cancelCloudAnalysis" });
    this.cloudRun.value = null;
    this.cloudPending.clear();
    if (announce) this.say(T.cloudCancelled);
  }

  cloudAnalysisProgress(payload: unknown): void {
    const run = this.cloudRun.value;
    if (!run || !isObject(payload)) return;
    this.cloudRun.value = {
      ...run,
      processed: Math.max(0, Math.min(run.total, numberField(payload, "processed", run.processed))),
      name: stringField(payload, "name"),
    };
  }

  cloudAnalysisResult(payload: unknown): void {
    const run = this.cloudRun.value;
    if (!run || !isObject(payload) || typeof payload.id !== "string" || !this.cloudPending.delete(payload.id)) return;
    const id = payload.id;
    const error = typeof payload.error === "string" ? payload.error || T.cloudFailed : null;
    batch(() => {
      this.cloudRun.value = {
        ...run,
        processed: Math.max(0, Math.min(run.total, numberField(payload, "processed", run.processed + 1))),
        failed: run.failed + (error ? 1 : 0),
      };
      if (error) {
        this.cloudErrors.value = new Map(this.cloudErrors.value).set(id, error);
        return;
      }
      const i = this.photoIndex.value.get(id);
      if (i === undefined) return;
      const photos = this.project.value.photos.slice();
      photos[i] = withCloudResult(photos[i], payload.result);
      this.setPhotos(photos);
    });
  }

  cloudAnalysisComplete(payload: unknown): void {
    const run = this.cloudRun.value;
    if (!run || !isObject(payload)) return;
    batch(() => {
      this.cloudRun.value = null;
      this.cloudPending.clear();
      if (boolField(payload, "cancelled")) this.say(T.cloudCancelled);
      else this.say(T.cloudDone(numberField(payload, "processed", run.processed), numberField(payload, "failed", run.failed)));
    });
  }

  // Takes the cloud's decision and rating for the selected photos, or for every photo the
  // current filter shows (frames hidden in a collapsed burst included); one undo step.
  acceptCloud(scope: "selected" | "filtered"): void {
    const filter = this.filter.value;
    const ids =
      scope === "selected"
        ? this.targetIds()
        : this.project.value.photos.filter((photo) => matchesFilter(photo, filter)).map((photo) => photo.id);
    if (!ids.length) return;
    const { photos, undo } = acceptCloudVerdicts(this.project.value.photos, ids);
    if (!undo) {
      this.say(T.cloudNothingToAccept);
      return;
    }
    batch(() => {
      this.afterDecision(this.labelled(undo, T.undoCloud), photos, false);
      this.say(T.cloudAccepted(undo.before.length));
    });
  }

  // ---- burst comparison in the cloud ------------------------------------------------------------

  burstMembers(group: string): PhotoRecord[] {
    return this.project.value.photos.filter((photo) => photo.group === group);
  }

  compareBurst(): void {
    const group = this.currentPhoto.value?.group;
    if (!group || this.burstRun.value) return;
    const members = this.burstMembers(group);
    if (members.length < BURST_COMPARE_MIN || members.length > BURST_COMPARE_MAX) {
      this.say(T.burstCompareSize(BURST_COMPARE_MIN, BURST_COMPARE_MAX));
      return;
    }
    const token = newToken();
    const ids = members.map((photo) => photo.id);
    this.burstRun.value = { token, group, ids, processed: 0, total: 0 };
    const options = cloudOptions(this.project.value.cloudSettings);
    this.post({
      action: "compareBurst",
      token,
      photos: members.map((photo) => ({ id: photo.id, path: photo.path })),
      model: options.model,
      weights: options.weights,
    });
  }

  // The program sends nothing more for a cancelled comparison.
  cancelBurstCompare(announce = true): void {
    if (!this.burstRun.value) return;
    this.post({ action: "cancelBurst" });
    this.burstRun.value = null;
    if (announce) this.say(T.burstCompareCancelled);
  }

  burstProgress(payload: unknown): void {
    const run = this.burstRun.value;
    if (!run || !isObject(payload) || payload.token !== run.token) return;
    const total = Math.max(0, numberField(payload, "total", run.total));
    this.burstRun.value = { ...run, total, processed: Math.max(0, Math.min(total, numberField(payload, "processed", run.processed))) };
  }

  burstComplete(payload: unknown): void {
    const run = this.burstRun.value;
    if (!run || !isObject(payload) || payload.token !== run.token) return;
    const result = isObject(payload.result) ? payload.result : null;
    const error = stringField(payload, "error");
    const confidence = result ? Math.max(0, Math.min(1, numberField(result, "confidence"))) : 0;
    const reason = result ? stringField(result, "reason").slice(0, 200) : "";
    const winnerId = result ? stringField(result, "winnerId") : "";
    batch(() => {
      let outcome: BurstOutcome;
      this.burstRun.value = null;
      // The winner must be one of the frames sent and still belong to that burst.
      const winner = winnerId && run.ids.includes(winnerId) ? this.burstMembers(run.group).find((photo) => photo.id === winnerId) : undefined;
      if (error || !result) {
        outcome = { kind: "failed", message: error || T.burstCompareFailed };
      } else if (winner) {
        outcome = { kind: "winner", name: winner.name, confidence, reason };
        const { photos, undo } = markBestFrame(this.project.value.photos, winner.id);
        this.setPhotos(photos);
        this.undoStack.value = pushUndo(this.undoStack.value, undo && { ...undo, label: T.undoBest(winner.name) });
      } else if (winnerId) {
        outcome = { kind: "failed", message: T.burstCompareFailed };
      } else {
        outcome = { kind: "undecided", confidence, reason };
      }
      this.burstOutcomes.value = new Map(this.burstOutcomes.value).set(run.group, outcome);
      this.say(T.burstOutcome(run.group, outcome));
    });
  }

  // ---- trash ------------------------------------------------------------------------------------

  rejects(): PhotoRecord[] {
    return this.project.value.photos.filter((photo) => photo.status === "淘汰");
  }

  askTrashRejects(): void {
    if (!this.rejects().length) {
      this.say(T.trashNone);
      return;
    }
    this.dialog.value = "trash";
  }

  trashRejects(): void {
    this.dialog.value = null;
    const photos = this.rejects();
    if (!photos.length) return;
    const token = newToken();
    this.trashTokens.add(token);
    this.undoStack.value = pushUndo(this.undoStack.value, { before: [], final: true });
    this.post({
      action: "trashRatedPhotos",
      token,
      photos: photos.map((photo) => ({ id: photo.id, path: photo.path })),
    });
  }

  ratingTrashComplete(payload: unknown): void {
    if (!isObject(payload) || typeof payload.token !== "string" || !this.trashTokens.delete(payload.token)) return;
    const removed = new Set(
      (Array.isArray(payload.removedIDs) ? payload.removedIDs : []).filter((id): id is string => typeof id === "string"),
    );
    batch(() => {
      if (removed.size) this.removePhotos(removed);
      this.say(stringField(payload, "message"));
    });
  }

  trashComplete(payload: unknown): void {
    // The page only trashes through the rating workflow; a plain trash answer can only be
    // a message for the user.
    if (isObject(payload)) this.say(stringField(payload, "message"));
  }

  private removePhotos(removed: ReadonlySet<string>): void {
    const before = this.items.value;
    const currentId = this.selection.value.currentId;
    this.setPhotos(this.project.value.photos.filter((photo) => !removed.has(photo.id)));
    const ids = new Set([...this.selection.value.ids].filter((id) => !removed.has(id)));
    if (currentId && removed.has(currentId)) {
      const at = before.findIndex((item) => item.photo.id === currentId);
      const after = this.items.value;
      const next = after[Math.min(Math.max(at, 0), after.length - 1)];
      this.selection.value = next
        ? { currentId: next.photo.id, ids: new Set([next.photo.id]), anchorId: next.photo.id }
        : EMPTY_SELECTION;
    } else {
      this.selection.value = { ...this.selection.value, ids };
    }
  }

  // ---- rated export ---------------------------------------------------------------------------------

  ratedPhotos(): PhotoRecord[] {
    return this.project.value.photos.filter((photo) => (photo.rating ?? 0) > 0 && photo.status !== "淘汰");
  }

  exportRated(): void {
    const photos = this.ratedPhotos();
    if (!photos.length) {
      this.say(T.exportRatedNone);
      return;
    }
    const token = newToken();
    this.ratedExportTokens.add(token);
    this.post({
      action: "exportRatedPhotos",
      token,
      folder: this.project.value.ratingExportFolder,
      photos: photos.map((photo) => ({ id: photo.id, path: photo.path, rating: photo.rating ?? 0 })),
    });
  }

  chooseRatingExportFolder(): void {
    this.post({ action: "chooseRatingExportFolder" });
  }

  ratingExportFolder(payload: unknown): void {
    if (!isObject(payload)) return;
    const path = stringField(payload, "path");
    if (path) this.updateProject((project) => ({ ...project, ratingExportFolder: path }));
  }

  ratingExportComplete(payload: unknown): void {
    if (!isObject(payload) || typeof payload.token !== "string" || !this.ratedExportTokens.delete(payload.token)) return;
    this.say(stringField(payload, "message"));
  }

  // ---- advanced export ---------------------------------------------------------------------------------

  setExportOptions(change: Partial<AdvancedExportOptions>): void {
    this.updateProject((project) => ({ ...project, exportOptions: { ...project.exportOptions, ...change } }));
  }

  photosForScope(scope: ExportScope): PhotoRecord[] {
    const photos = this.project.value.photos;
    switch (scope) {
      case "selected": {
        const ids = new Set(this.targetIds());
        return photos.filter((photo) => ids.has(photo.id));
      }
      case "visible": {
        // Collapsed bursts stand for all their frames.
        const shown = new Set(this.items.value.map((item) => item.photo.id));
        const groups = new Set(this.items.value.filter((i) => i.stackSize > 1).map((i) => i.photo.group));
        return photos.filter((photo) => shown.has(photo.id) || (photo.group && groups.has(photo.group)));
      }
      case "kept":
        return photos.filter((photo) => photo.status === "保留");
      case "all":
        return photos;
    }
  }

  exportAdvanced(scope: ExportScope): void {
    const photos = this.photosForScope(scope);
    this.dialog.value = null;
    const options = this.project.value.exportOptions;
    this.exportRun.value = { completed: 0, total: photos.length, name: "" };
    this.post({
      action: "exportAdvanced",
      photos: photos.map((photo) => {
        const entry: JsonObject = { id: photo.id, path: photo.path, name: photo.name, rating: photo.rating ?? 0 };
        if (photo.status) entry.status = photo.status;
        return entry;
      }),
      options: { ...options },
    });
  }

  exportProgress(payload: unknown): void {
    if (!isObject(payload) || !this.exportRun.value) return;
    this.exportRun.value = {
      completed: numberField(payload, "completed"),
      total: numberField(payload, "total"),
      name: stringField(payload, "name"),
    };
  }

  exportComplete(payload: unknown): void {
    this.exportRun.value = null;
    if (isObject(payload)) this.say(stringField(payload, "message"));
  }

  // ---- culling list -------------------------------------------------------------------------------------

  exportManifest(): void {
    const project = this.project.value;
    this.post({
      action: "exportReviewManifest",
      projectName: project.projectName || "拍摄项目",
      photos: project.photos.map((photo) => {
        const entry: JsonObject = { id: photo.id, path: photo.path, name: photo.name, rating: photo.rating ?? 0 };
        for (const key of ["status", "issues", "group", "best", "cloudReason", "cloudBest", "cloudConfidence"]) {
          if (photo[key] !== undefined) entry[key] = photo[key];
        }
        return entry;
      }),
    });
  }

  reviewManifestComplete(payload: unknown): void {
    if (isObject(payload)) this.say(stringField(payload, "message"));
  }

  reviewManifestCancelled(): void {
    this.say(T.manifestCancelled);
  }

  // ---- the callback table ----------------------------------------------------------------------------------

  handlers(): NativeHandlers {
    return {
      status: (p) => this.setStatus(p),
      version: (p) => this.setVersion(p),
      grsAIState: (p) => this.ai.report(p),
      appUpdateState: (p) => this.appUpdate.report(p),
      appUpdateDownload: (p) => this.appUpdate.downloadAnswer(p),
      workflowAppsState: (p) => this.companionApps.report(p),
      workflowAppOpened: (p) => this.companionApps.openAnswer(p),
      comfySetupState: (p) => this.comfy.report(p),
      comfySetupProgress: (p) => this.comfy.progress(p),
      comfySetupConnection: (p) => this.comfy.connectionAnswer(p),
      receiveState: (p) => this.receiveState(p),
      flushState: (p) => this.flushState(p),
      receiveScan: (p) => this.receiveScan(p),
      cardDetected: (p) => this.cardDetected(p),
      lensCorrectionState: (p) => this.setLensState(p),
      bridgeStatus: (p) => this.bridgeStatus(p),
      previewReady: (p) => this.previewReady(p),
      analysisResult: (p) => this.analysisResult(p),
      analysisComplete: (p) => this.analysisComplete(p),
      cloudAnalysisProgress: (p) => this.cloudAnalysisProgress(p),
      cloudAnalysisResult: (p) => this.cloudAnalysisResult(p),
      cloudAnalysisComplete: (p) => this.cloudAnalysisComplete(p),
      burstProgress: (p) => this.burstProgress(p),
      burstComplete: (p) => this.burstComplete(p),
      ratingTrashComplete: (p) => this.ratingTrashComplete(p),
      trashComplete: (p) => this.trashComplete(p),
      ratingExportFolder: (p) => this.ratingExportFolder(p),
      ratingExportComplete: (p) => this.ratingExportComplete(p),
      exportProgress: (p) => this.exportProgress(p),
      exportComplete: (p) => this.exportComplete(p),
      reviewManifestComplete: (p) => this.reviewManifestComplete(p),
      reviewManifestCancelled: () => this.reviewManifestCancelled(),
      projectArchiveLoaded: (p) => this.projectArchiveLoaded(p),
      projectArchiveSaved: (p) => this.projectArchiveSaved(p),
      projectBackups: (p) => this.projectBackups(p),
      workbenchHealth: (p) => this.workbenchHealth(p),
      projectPhotosRelinked: (p) => this.projectPhotosRelinked(p),
      projectReferenceSelected: (p) => this.style.referenceSelected(p),
      projectStylePreview: (p) => this.style.previewAnswer(p),
      projectStyleComplete: (p) => this.style.exportAnswer(p),
      templateImageSelected: (p) => this.faceBatch.templateSelected(p),
      faceBatchPhotosSelected: (p) => this.faceBatch.photosSelected(p),
      faceBatchProgress: (p) => this.faceBatch.progress(p),
      faceBatchComplete: (p) => this.faceBatch.complete(p),
      faceBatchFailed: (p) => this.faceBatch.failed(p),
      photoEditResult: (p) => this.photoEditResult(p),
      photoMetadata: (p) => this.photoMetadata(p),
      scanProgress: (p) => this.scanProgressed(p),
      scanRecords: (p) => this.scanRecords(p),
      openPhotosRequested: (p) => this.openPhotosRequested(p),
      photoRegion: (p) => this.photoRegion(p),
      photoFaces: (p) => this.photoFaces(p),
    };
  }
}
