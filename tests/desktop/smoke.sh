#!/usr/bin/env bash
# Starts the real desktop window under Xvfb in test mode, waits until the page has said "ready",
# checks the window's title and saves a screenshot as a test artefact. Then, three times, makes a
# decision with a key and at once quits another way (Ctrl+Q, the window's close button, a
# termination signal as the session's end sends): the decision must be in the stored project.
# usage: smoke.sh TIDEWICK_BINARY ARTEFACT_FOLDER
set -euo pipefail
binary=$1
artefacts=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$artefacts"

scratch=$(mktemp -d /tmp/tidewick-desktop-XXXXXX)
qa=$(mktemp -d /tmp/tidewick-qa-XXXXXX)
trap 'rm -rf "$scratch" "$qa"' EXIT
mkdir -p "$scratch"/{home,config,data,cache,runtime,shoot}
chmod 700 "$scratch/runtime"
cp "$here/../data/photos/orientation-1.jpg" "$scratch/shoot/IMG_0001.jpg"
printf '{"photos": [{"id": "P1", "path": "%s", "name": "IMG_0001.jpg", "format": "JPG", "size": 0, "date": "", "thumbnail": ""}]}\n' \
  "$scratch/shoot/IMG_0001.jpg" > "$qa/current-project.json"

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
title='岚舟 · 合成照片测试'
project="$QA/current-project.json"

# Polls the log until a line matches, the program ends, or `tries` tenths of a second pass.
wait_for_line() {  # log pattern tries
  for _ in $(seq 1 "$3"); do
    if grep -q "$2" "$1"; then return 0; fi
    if ! kill -0 "$app" 2>/dev/null; then return 1; fi
    read -rt 0.1 <> <(:) || true
  done
  return 1
}

launch() {  # log
  "$BINARY" --test-support-dir "$QA" 2>"$1" &
  app=$!
  if ! wait_for_line "$1" "page ready" 1200; then  # up to two minutes on a busy machine
    echo "the page never posted ready" >&2
    cat "$1" >&2
    kill "$app" 2>/dev/null || true
    exit 1
  fi
  window=$(xdotool search --name "$title" | head -n1)
  xdotool windowfocus --sync "$window"
}

# The window must be gone within a few seconds: quitting waits at most two for the page's save.
wait_for_exit() {  # log
  for _ in $(seq 1 200); do
    if ! kill -0 "$app" 2>/dev/null; then wait "$app" 2>/dev/null || true; return 0; fi
    read -rt 0.1 <> <(:) || true
  done
  echo "the program did not quit" >&2
  cat "$1" >&2
  kill -9 "$app"
  exit 1
}

quit_with_ctrl_q() { xdotool key --clearmodifiers ctrl+q; }
quit_with_close_button() { python3 "$HERE/close_window.py" "$window"; }
quit_as_the_session_ends() { kill -TERM "$app"; }

decide_and_quit() {  # name key expected-status quit-function
  local name=$1 key=$2 expected=$3 quit=$4
  local log="$SCRATCH/$name.log"
  launch "$log"
  # Keys reach the page only once it holds the project: ratings are given (each unlike the one
  # before, so each is a change) until an ordinary save shows that one arrived.
  for try in $(seq 1 60); do
    xdotool key --clearmodifiers $((try % 5 + 1))
    if wait_for_line "$log" "page posted saveState" 10; then break; fi
  done
  grep -q "page posted saveState" "$log" || { echo "$name: the page never took a key" >&2; cat "$log" >&2; exit 1; }
  # The decision is still waiting in the page's delayed save when the quit comes.
  xdotool key --clearmodifiers "$key"
  "$quit"
  wait_for_exit "$log"
  if ! grep -q "\"status\": \"$expected\"" "$project"; then
    echo "$name: the decision made right before quitting is not in the stored project" >&2
    cat "$project" "$log" >&2
    exit 1
  fi
  grep -q "page posted stateFlushed" "$log" || { echo "$name: the page was not asked to save" >&2; exit 1; }
  echo "$name: $expected kept"
}

launch "$SCRATCH/first.log"
found=$(xwininfo -root -tree | grep -o "\"$title\"" | head -n1 || true)
# Let the page paint its first frame before the picture is taken.
read -rt 1 <> <(:) || true
xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng > "$ARTEFACTS/desktop-window.png"
kill "$app"
wait "$app" 2>/dev/null || true
if [ -z "$found" ]; then
  echo "no window titled $title" >&2
  xwininfo -root -tree >&2
  exit 1
fi
echo "window: $found; screenshot: $ARTEFACTS/desktop-window.png"

decide_and_quit ctrl-q x 淘汰 quit_with_ctrl_q
decide_and_quit close-button p 保留 quit_with_close_button
decide_and_quit session-end u 待定 quit_as_the_session_ends
INNER
)
BINARY=$binary QA=$qa SCRATCH=$scratch ARTEFACTS=$artefacts HERE=$here \
  xvfb-run -a -s "-screen 0 1400x900x24" bash -c "$inner"
