import { useEffect } from "preact/hooks";
import { handleKey } from "../state/keyboard";
import type { Workbench } from "../state/store";
import { CardBanner, Dialogs } from "./Dialogs";
import { FilterBar } from "./FilterBar";
import { Grid } from "./Grid";
import { Inspector } from "./PhotoDetails";
import { Compare } from "./Compare";
import { Loupe } from "./Loupe";
import { StatusBar } from "./StatusBar";
import { Toolbar } from "./Toolbar";

function isTyping(target: EventTarget | null): boolean {
  if (!(target instanceof HTMLElement)) return false;
  if (target.isContentEditable || target instanceof HTMLTextAreaElement || target instanceof HTMLSelectElement) return true;
  return target instanceof HTMLInputElement && !["checkbox", "radio", "range", "button"].includes(target.type);
}

export function App({ workbench }: { workbench: Workbench }) {
  useEffect(() => {
    const onKey = (event: KeyboardEvent) => {
      if (event.defaultPrevented || event.isComposing || isTyping(event.target)) return;
      if (handleKey(workbench, event)) {
        event.preventDefault();
        // A focused button would otherwise also be "clicked" by Space or Enter.
        if (event.target instanceof HTMLElement && event.target !== document.body) event.target.blur();
      }
    };
    window.addEventListener("keydown", onKey);
    return () => window.removeEventListener("keydown", onKey);
  }, [workbench]);

  const loupe = workbench.loupe.value.open;
  return (
    <div class="app">
      <Toolbar workbench={workbench} />
      <CardBanner workbench={workbench} />
      <FilterBar workbench={workbench} />
      <div class="workspace">
        <main class="main">
          <Grid workbench={workbench} />
          {/* One zoomed view at a time: both would measure their own size as the view's. */}
          {workbench.compare.value ? <Compare workbench={workbench} /> : loupe && <Loupe workbench={workbench} />}
        </main>
        <Inspector workbench={workbench} />
      </div>
      <StatusBar workbench={workbench} />
      <Dialogs workbench={workbench} />
    </div>
  );
}
