import type { ComponentChildren } from "preact";
import { useEffect, useRef } from "preact/hooks";

export function Modal(props: {
  title: string;
  onClose: () => void;
  children: ComponentChildren;
  testid: string;
  wide?: boolean;
}) {
  const box = useRef<HTMLDivElement>(null);
  // Focus moves into the dialog so Tab walks its controls, and back where it was on close.
  useEffect(() => {
    const before = document.activeElement;
    if (!box.current?.contains(before)) box.current?.focus();
    return () => {
      if (before instanceof HTMLElement && before.isConnected) before.focus();
    };
  }, []);
  // Escape closes even from a text field, where the page's single-key handler stays out.
  const onKeyDown = (event: KeyboardEvent) => {
    if (event.key !== "Escape" || event.isComposing) return;
    event.preventDefault();
    props.onClose();
  };
  return (
    <div class="modal-backdrop" onMouseDown={(event) => event.target === event.currentTarget && props.onClose()}>
      <div class={props.wide ? "modal wide" : "modal"} role="dialog" aria-modal="true" aria-label={props.title} data-testid={props.testid} ref={box} tabIndex={-1} onKeyDown={onKeyDown}>
        <h2>{props.title}</h2>
        {props.children}
      </div>
    </div>
  );
}
