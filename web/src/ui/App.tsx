import type { Workbench } from "../state/store";
import { T } from "../texts";

export function App({ workbench }: { workbench: Workbench }) {
  const version = workbench.version.value;
  const photos = workbench.photos.value;
  return (
    <div class="app">
      <header class="toolbar">
        <span class="app-name">{T.appName}</span>
        <span class="version" data-testid="version">
          {version ? T.versionPrefix + version : T.versionUnknown}
        </span>
        <button onClick={() => workbench.chooseFolder()}>{T.importFolder}</button>
        <button onClick={() => workbench.choosePhotos()}>{T.importPhotos}</button>
      </header>
      <main class="main">
        {photos.length === 0 ? <p class="empty">{T.emptyProject}</p> : <p>{T.photosCount(photos.length, photos.length)}</p>}
      </main>
      <footer class="statusbar">
        <span class="status-line" data-testid="status">
          {workbench.status.value || T.ready}
        </span>
      </footer>
    </div>
  );
}
