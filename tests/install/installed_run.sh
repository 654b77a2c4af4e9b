#!/usr/bin/env bash
# Runs the program the way a photographer gets it: installed into a scratch prefix
# (`cmake --install`) or unpacked from the Debian package (`dpkg-deb -x`), never from the build folder.
# usage: installed_run.sh tree|desktop-files|package BUILD_FOLDER SOURCE_FOLDER
#   tree           install, then the headless handshake and the import of one photo
#   desktop-files  install, then the desktop entry and the AppStream file pass their validators
#   package        build the .deb with cpack, unpack it, check its control data, run it as in `tree`
set -euo pipefail
mode=$1 build=$2 source=$3
photo=$source/tests/data/photos/orientation-1.jpg

scratch=$(mktemp -d /tmp/tidewick-install-XXXXXX)
qa=$(mktemp -d /tmp/tidewick-qa-XXXXXX)
trap 'rm -rf "$scratch" "$qa"' EXIT
fail() { echo "$*" >&2; exit 1; }

install_tree() {  # prefix
  cmake --install "$build" --prefix "$1" >/dev/null
}

# The installed program, with a private home and XDG folders and a throw-away test folder: the
# handshake answers with this version and a scan of a folder holding one photo imports it.
run_headless() {  # binary
  mkdir -p "$scratch"/{home,config,data,cache,shoot}
  cp "$photo" "$scratch/shoot/IMG_0001.jpg"
  local output
  output=$(printf '%s\n' '{"action":"ready"}' "{\"action\":\"scanPath\",\"path\":\"$scratch/shoot\"}" |
    env -u TIDEWICK_RESOURCES HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" \
      XDG_DATA_HOME="$scratch/data" XDG_CACHE_HOME="$scratch/cache" \
      "$1" --headless --test-support-dir "$qa") || fail "the installed program failed: $output"
  python3 - "$output" "$scratch/shoot/IMG_0001.jpg" <<'PY' || exit 1
import json, sys
lines = [json.loads(line) for line in sys.argv[1].splitlines()]
version = lines[0] if lines else None
if not (version and version.get("fn") == "window.Native.version" and isinstance(version.get("arg"), str)
        and version["arg"][:1].isdigit()):
    sys.exit(f"no version handshake first: {version}")
scans = [line["arg"] for line in lines if line.get("fn") == "window.Native.receiveScan"]
paths = [photo.get("path") for photo in scans[-1]["photos"]] if scans else None
if paths != [sys.argv[2]]:
    sys.exit(f"the photo was not imported: {scans}")
print(f"handshake {version['arg']}; imported {paths[0]}")
PY
}

case "$mode" in
  tree)
    prefix="$scratch/prefix"
    install_tree "$prefix"
    for file in bin/tidewick share/tidewick/Web/index.html share/man/man1/tidewick.1.gz \
                share/icons/hicolor/scalable/apps/tidewick.svg; do
      [ -f "$prefix/$file" ] || fail "not installed: $file"
    done
    for size in 16 32 48 64 128 256; do
      [ -f "$prefix/share/icons/hicolor/${size}x${size}/apps/tidewick.png" ] || fail "no ${size}px icon"
    done
    run_headless "$prefix/bin/tidewick"
    ;;
  desktop-files)
    prefix="$scratch/prefix"
    install_tree "$prefix"
    desktop-file-validate "$prefix/share/applications/com.avo.tidewick.desktop"
    grep -qx 'MimeType=x-scheme-handler/tidewick;.*' "$prefix/share/applications/com.avo.tidewick.desktop" ||
      fail "the desktop entry does not handle tidewick: links"
    appstreamcli validate --no-net "$prefix/share/metainfo/com.avo.tidewick.metainfo.xml"
    ;;
  package)
    out="$scratch/deb"
    (cd "$build" && cpack -G DEB -B "$out" >/dev/null)
    deb=$(ls "$out"/tidewick_*.deb)
    dpkg-deb -x "$deb" "$scratch/root"
    depends=$(dpkg-deb -f "$deb" Depends)
    for needed in libdlib-data liblensfun-data-v1 libvips42 libwebkitgtk-6.0-4 libc6; do
      [[ ", $depends," == *", $needed"[\ ,]* ]] || fail "Depends lacks $needed: $depends"
    done
    controls=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t)
    grep -qx './postinst' <<<"$controls" || fail "no postinst"
    # The packaged binary carries no path of the machine that built it.
    for path in "$source" "$build"; do
      ! grep -qaF "$path" "$scratch/root/usr/bin/tidewick" || fail "the packaged binary names $path"
    done
    run_headless "$scratch/root/usr/bin/tidewick"
    ;;
  *) fail "unknown mode $mode" ;;
esac
