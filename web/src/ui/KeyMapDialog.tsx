import { KEY_TABLE, type KeyPlace } from "../state/keyboard";
import type { Workbench } from "../state/store";
import { T } from "../texts";
import { Modal } from "./Modal";

const PLACES: readonly KeyPlace[] = ["everywhere", "grid", "loupe", "compare"];

// The "?" overlay: the key table itself, grouped by where the keys act.
export function KeyMapDialog({ workbench }: { workbench: Workbench }) {
  const close = () => (workbench.dialog.value = null);
  return (
    <Modal title={T.keyMapTitle} onClose={close} testid="key-map" wide>
      <div class="key-map">
        {PLACES.map((place) => (
          <section key={place}>
            <h3>{T.keyPlaces[place]}</h3>
            <dl>
              {KEY_TABLE.filter((binding) => binding.place === place && binding.shown).map((binding) => (
                <div class="key-row" key={binding.shown}>
                  <dt>
                    <kbd>{binding.shown}</kbd>
                  </dt>
                  <dd>{binding.what}</dd>
                </div>
              ))}
            </dl>
          </section>
        ))}
      </div>
      <div class="modal-actions">
        <button onClick={close}>{T.close}</button>
      </div>
    </Modal>
  );
}
