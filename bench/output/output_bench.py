#!/usr/bin/env python3
"""Photo output speed, through `tidewick --headless` as the page would ask for it:

- rated export of every corpus JPEG (copies with rating sidecars) in MB/s, side by side with `cp` of
  the same files into a fresh folder in the same run (best of three each, alternating, the sources
  read once beforehand so both start from a warm page cache);
- advanced export to JPEG of 50 photos: photos per second and the program's peak memory.

usage: output_bench.py TIDEWICK_BINARY CORPUS_FOLDER [ROUNDS]
"""
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time


def photos_in(folder):
    return sorted(os.path.join(folder, name) for name in os.listdir(folder) if not name.startswith("."))


def headless(binary, lines, scratch, done):
    """Runs the lines; returns (seconds until the callback `done`, its payload, peak RSS of this run in MB)."""
    home = tempfile.mkdtemp(prefix="home-", dir=scratch)
    env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
               XDG_CONFIG_HOME=os.path.join(home, "config"))
    start = time.monotonic()
    process = subprocess.Popen([binary, "--headless"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env,
                               text=True)
    for line in lines:
        process.stdin.write(json.dumps(line) + "\n")
    process.stdin.close()
    elapsed, payload = None, None
    for text in process.stdout:
        message = json.loads(text)
        if message.get("fn") == done:
            elapsed, payload = time.monotonic() - start, message["arg"]
    process.wait()
    # ru_maxrss of children is the largest child so far; each run here is its own process.
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024.0
    return elapsed, payload, peak


def idle_run(binary, scratch):
    """Start-up and exit of the program with nothing to do: the part of the end-to-end time that cp does not pay."""
    home = tempfile.mkdtemp(prefix="home-", dir=scratch)
    env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
               XDG_CONFIG_HOME=os.path.join(home, "config"))
    start = time.monotonic()
    subprocess.run([binary, "--headless"], input='{"action":"none"}\n', text=True, env=env, check=True,
                   stdout=subprocess.DEVNULL)
    return time.monotonic() - start


def warm(files):
    for path in files:
        with open(path, "rb") as source:
            while source.read(1 << 24):
                pass


def rated_export(binary, files, scratch):
    target = tempfile.mkdtemp(prefix="rated-", dir=scratch)
    photos = [{"id": str(i), "path": path, "rating": 4} for i, path in enumerate(files)]
    seconds, answer, _ = headless(binary, [{"action": "exportRatedPhotos", "token": "B", "photos": photos,
                                            "folder": target}], scratch, "window.Native.ratingExportComplete")
    if not answer or len(answer.get("outputs", [])) != len(files):
        raise SystemExit(f"rated export failed: {answer}")
    shutil.rmtree(target)
    return seconds


def cp(files, scratch):
    target = tempfile.mkdtemp(prefix="cp-", dir=scratch)
    start = time.monotonic()
    subprocess.run(["cp"] + files + [target], check=True)
    seconds = time.monotonic() - start
    shutil.rmtree(target)
    return seconds


def advanced_export(binary, files, scratch):
    target = tempfile.mkdtemp(prefix="advanced-", dir=scratch)
    photos = [{"id": str(i), "path": path, "status": "保留", "rating": 4} for i, path in enumerate(files)]
    seconds, answer, peak = headless(binary, [{"action": "exportAdvanced", "photos": photos,
                                               "options": {"format": "jpeg", "quality": 0.92}},
                                              {"@panel": {"paths": [target]}}],
                                     scratch, "window.Native.exportComplete")
    if not answer or answer.get("message") != f"已导出 {len(files)} 张":
        raise SystemExit(f"advanced export failed: {answer}")
    shutil.rmtree(target)
    return seconds, peak


def main():
    binary, corpus = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    files = photos_in(os.path.join(corpus, "jpeg"))
    megabytes = sum(os.path.getsize(path) for path in files) / 1e6
    scratch = tempfile.mkdtemp(prefix="tidewick-bench-output-", dir=os.path.dirname(os.path.abspath(corpus)))
    try:
        warm(files)
        ours, theirs = [], []
        for _ in range(rounds):
            theirs.append(cp(files, scratch))
            ours.append(rated_export(binary, files, scratch))
        idle = min(idle_run(binary, scratch) for _ in range(rounds))
        best_ours, best_cp = megabytes / min(ours), megabytes / min(theirs)
        print(f"rated export end to end  {len(files)} files, {megabytes:.0f} MB: {best_ours:7.1f} MB/s "
              f"(best of {rounds}: {min(ours):.2f} s, of which {idle:.2f} s program start and exit)   "
              f"cp {best_cp:7.1f} MB/s ({min(theirs):.2f} s)   ratio {best_ours / best_cp:.2f}x", flush=True)

        fifty = files[:50]
        seconds, peak = advanced_export(binary, fifty, scratch)
        print(f"advanced export to JPEG  {len(fifty)} photos: {len(fifty) / seconds:5.2f} photos/s ({seconds:.1f} s), "
              f"peak RSS {peak:.0f} MB", flush=True)
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
