#!/usr/bin/env bash
# Starts the real desktop window under Xvfb in test mode, waits until the page has said "ready",
# checks the window's title and saves a screenshot as a test artefact.
# usage: smoke.sh TIDEWICK_BINARY ARTEFACT_FOLDER
set -euo pipefail
binary=$1
artefacts=$2
mkdir -p "$artefacts"

scratch=$(mktemp -d /tmp/tidewick-desktop-XXXXXX)
qa=$(mktemp -d /tmp/tidewick-qa-XXXXXX)
trap 'rm -rf "$scratch" "$qa"' EXIT
mkdir -p "$scratch"/{home,config,data,cache,runtime}
chmod 700 "$scratch/runtime"

export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
export XDG_CACHE_HOME="$scratch/cache" XDG_RUNTIME_DIR="$scratch/runtime"
export GDK_BACKEND=x11 GSETTINGS_BACKEND=memory GTK_A11Y=none TIDEWICK_TRACE_READY=1
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
# WebKit's sandbox needs user namespaces; where they are blocked the web process cannot start.
if ! bwrap --ro-bind / / --unshare-user --unshare-pid true 2>/dev/null; then
  export WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1
fi

inner=$(cat <<'INNER'
set -euo pipefail
log="$SCRATCH/stderr.log"
"$BINARY" --test-support-dir "$QA" 2>"$log" &
app=$!
ready=no
for _ in $(seq 1 1200); do  # up to two minutes on a busy machine
  if grep -q "page ready" "$log"; then ready=yes; break; fi
  if ! kill -0 "$app" 2>/dev/null; then break; fi
  read -rt 0.1 <> <(:) || true
done
if [ "$ready" != yes ]; then
  echo "the page never posted ready" >&2
  cat "$log" >&2
  kill "$app" 2>/dev/null || true
  exit 1
fi
title=$(xwininfo -root -tree | grep -o '"岚舟 · 合成照片测试"' | head -n1 || true)
# Let the page paint its first frame before the picture is taken.
read -rt 1 <> <(:) || true
xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng > "$ARTEFACTS/desktop-window.png"
kill "$app"
wait "$app" 2>/dev/null || true
if [ -z "$title" ]; then
  echo "no window titled 岚舟 · 合成照片测试" >&2
  xwininfo -root -tree >&2
  exit 1
fi
echo "window: $title; screenshot: $ARTEFACTS/desktop-window.png"
INNER
)
BINARY=$binary QA=$qa SCRATCH=$scratch ARTEFACTS=$artefacts \
  xvfb-run -a -s "-screen 0 1400x900x24" bash -c "$inner"
