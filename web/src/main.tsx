import { render } from "preact";
import { installNative, postToNative } from "./bridge/native";
import { Workbench } from "./state/store";
import { App } from "./ui/App";
import "./ui/style.css";

const workbench = new Workbench(postToNative);
// "?preload=0": the loupe makes no previews ahead, to measure what making them ahead gains.
workbench.preloading = new URLSearchParams(location.search).get("preload") !== "0";
installNative(workbench.handlers());
render(<App workbench={workbench} />, document.getElementById("app")!);
// A pending save must not be lost when the window closes or the page reloads.
window.addEventListener("pagehide", () => workbench.flushSave());
workbench.start();
