import { useState } from "preact/hooks";
import {
  CLOUD_POLICIES,
  CLOUD_QUALITIES,
  CLOUD_SCENES,
  CLOUD_WEIGHT_KEYS,
  CLOUD_WEIGHT_MAX,
  clampWeight,
  type CloudPolicy,
  type CloudQuality,
  type CloudScene,
} from "../state/cloudReview";
import { matchesFilter } from "../state/filters";
import type { CloudScope, Workbench } from "../state/store";
import { T } from "../texts";
import { Modal } from "./Modal";

// Starts a cloud review with the project's settings; the run's progress and its stop are in the
// status bar, so the dialog closes once the run is under way.
export function CloudDialog({ workbench }: { workbench: Workbench }) {
  const settings = workbench.project.value.cloudSettings;
  const ai = workbench.ai.state.value;
  const selected = workbench.photosForScope("selected").length;
  const visible = workbench.photosForScope("visible").length;
  const total = workbench.photos.value.length;
  const [scope, setScope] = useState<CloudScope>(selected > 1 ? "selected" : visible < total ? "visible" : "all");
  const close = () => (workbench.dialog.value = null);
  const scopes: Array<[CloudScope, string, number]> = [
    ["selected", T.scopeSelected(selected), selected],
    ["visible", T.scopeVisible(visible), visible],
    ["all", T.scopeAll(total), total],
  ];
  const count = scopes.find(([value]) => value === scope)?.[2] ?? 0;
  const filter = workbench.filter.value;
  const filtered = workbench.photos.value.filter((photo) => matchesFilter(photo, filter)).length;
  const running = !!workbench.cloudRun.value;
  const start = () => {
    close();
    workbench.startCloudReview(scope);
  };
  return (
    <Modal title={T.cloudReview} onClose={close} testid="cloud-dialog" wide>
      <p class="small muted">{T.cloudHint}</p>
      {ai?.configured === false && (
        <p class="small warning" data-testid="cloud-not-configured">
          {T.cloudNotConfigured}
        </p>
      )}
      <div class="form">
        <span class="label">{T.cloudScope}</span>
        <div class="radio-column" role="radiogroup" aria-label={T.cloudScope}>
          {scopes.map(([value, label, n]) => (
            <label key={value}>
              <input type="radio" name="cloud-scope" checked={scope === value} disabled={!n} onChange={() => setScope(value)} />
              {label}
            </label>
          ))}
        </div>
        <label class="label" for="cloud-scene">
          {T.cloudScene}
        </label>
        <select
          id="cloud-scene"
          value={settings.scene}
          onChange={(event) => workbench.setCloudSettings({ scene: (event.currentTarget as HTMLSelectElement).value as CloudScene })}
          data-testid="cloud-scene"
        >
          {CLOUD_SCENES.map((scene) => (
            <option key={scene} value={scene}>
              {T.cloudSceneLabels[scene]}
            </option>
          ))}
        </select>
        <label class="label" for="cloud-policy">
          {T.cloudPolicy}
        </label>
        <select
          id="cloud-policy"
          value={settings.policy}
          onChange={(event) => workbench.setCloudSettings({ policy: (event.currentTarget as HTMLSelectElement).value as CloudPolicy })}
          data-testid="cloud-policy"
        >
          {CLOUD_POLICIES.map((policy) => (
            <option key={policy} value={policy}>
              {T.cloudPolicyLabels[policy]}
            </option>
          ))}
        </select>
        <span class="label">{T.cloudWeights}</span>
        <div class="weights">
          {CLOUD_WEIGHT_KEYS.map((key) => (
            <label key={key} class="weight">
              <span>{T.cloudWeightLabels[key]}</span>
              <input
                type="range"
                min={0}
                max={CLOUD_WEIGHT_MAX}
                step={1}
                value={settings.weights[key]}
                aria-label={T.cloudWeightLabels[key]}
                onInput={(event) =>
                  workbench.setCloudSettings({
                    weights: { ...settings.weights, [key]: clampWeight(Number((event.currentTarget as HTMLInputElement).value)) },
                  })
                }
                data-testid={`cloud-weight-${key}`}
              />
              <span class="weight-value">{settings.weights[key]}</span>
            </label>
          ))}
        </div>
        <label class="label" for="cloud-quality">
          {T.cloudQuality}
        </label>
        <select
          id="cloud-quality"
          value={settings.quality}
          onChange={(event) => workbench.setCloudSettings({ quality: (event.currentTarget as HTMLSelectElement).value as CloudQuality })}
          data-testid="cloud-quality"
        >
          {CLOUD_QUALITIES.map((quality) => (
            <option key={quality} value={quality}>
              {T.cloudQualityLabels[quality]}
            </option>
          ))}
        </select>
        <span />
        <label>
          <input
            type="checkbox"
            checked={settings.doubleCheck}
            onChange={() => workbench.setCloudSettings({ doubleCheck: !settings.doubleCheck })}
            data-testid="cloud-double-check"
          />
          {T.cloudDoubleCheck}
        </label>
        <label class="label" for="cloud-model">
          {T.cloudModel}
        </label>
        <input
          id="cloud-model"
          type="text"
          spellcheck={false}
          value={settings.model}
          onChange={(event) => workbench.setCloudSettings({ model: (event.currentTarget as HTMLInputElement).value.trim() })}
          data-testid="cloud-model"
        />
      </div>
      <div class="modal-actions">
        <button onClick={() => workbench.acceptCloud("filtered")} disabled={!filtered} data-testid="cloud-accept-filtered">
          {T.cloudAcceptFiltered(filtered)}
        </button>
        <span class="spacer" />
        <button onClick={close}>{T.cancel}</button>
        <button class="primary" disabled={!count || running} onClick={start} data-testid="cloud-start">
          {T.cloudStart}
        </button>
      </div>
    </Modal>
  );
}
