import { render } from "preact";
import { installNative, postToNative } from "./bridge/native";
import { Workbench } from "./state/store";
import { App } from "./ui/App";
import "./ui/style.css";

const workbench = new Workbench(postToNative);
installNative(workbench.handlers());
render(<App workbench={workbench} />, document.getElementById("app")!);
// A pending save must not be lost when the window closes or the page reloads.
window.addEventListener("pagehide", () => workbench.flushSave());
workbench.start();
