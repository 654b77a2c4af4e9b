import { useState } from "preact/hooks";
import {
  CLOUD_POLICIES,
  CLOUD_QUALITIES,
  CLOUD_SCENES,
  CLOUD_WEIGHT_KEYS,
  CLOUD_WEIGHT_MAX,
  clampWeight,
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
        <Choice
          name="scene"
          label={T.cloudScene}
          value={settings.scene}
          choices={CLOUD_SCENES}
          labels={T.cloudSceneLabels}
          onChange={(scene) => workbench.setCloudSettings({ scene })}
        />
        <Choice
          name="policy"
          label={T.cloudPolicy}
          value={settings.policy}
          choices={CLOUD_POLICIES}
          labels={T.cloudPolicyLabels}
          onChange={(policy) => workbench.setCloudSettings({ policy })}
        />
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
        <Choice
          name="quality"
          label={T.cloudQuality}
          value={settings.quality}
          choices={CLOUD_QUALITIES}
          labels={T.cloudQualityLabels}
          onChange={(quality) => workbench.setCloudSettings({ quality })}
        />
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

// A labelled choice of the review's settings; its id and test id are "cloud-<name>".
function Choice<V extends string>(props: {
  name: string;
  label: string;
  value: V;
  choices: readonly V[];
  labels: Record<V, string>;
  onChange: (value: V) => void;
}) {
  const id = `cloud-${props.name}`;
  return (
    <>
      <label class="label" for={id}>
        {props.label}
      </label>
      <select
        id={id}
        value={props.value}
        onChange={(event) => props.onChange((event.currentTarget as HTMLSelectElement).value as V)}
        data-testid={id}
      >
        {props.choices.map((choice) => (
          <option key={choice} value={choice}>
            {props.labels[choice]}
          </option>
        ))}
      </select>
    </>
  );
}
