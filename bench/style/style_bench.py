#!/usr/bin/env python3
"""Whole-set style export speed, through `tidewick --headless` as the page would ask for it: a preview
of 50 corpus JPEGs (24 MP) against a reference, then the export of full-resolution copies, in photos per
second and the program's peak memory. Side by side in the same run, the `vips` command line does the
same operations on the same files with the values the program recorded for each photo: sRGB to linear
light, one 3 × 3 matrix (exposure and channel gains, then saturation around the luminance), back to
sRGB and JPEG at quality 95, one `vips` command per operation with its intermediate file (in memory on
a tmpfs).

usage: style_bench.py TIDEWICK_BINARY CORPUS_FOLDER [ROUNDS]
"""
import json
import math
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

PHOTOS = 50
LUMA = (0.2126, 0.7152, 0.0722)


def photos_in(folder):
    return sorted(os.path.join(folder, name) for name in os.listdir(folder) if not name.startswith("."))


class Headless:
    def __init__(self, binary, scratch):
        home = tempfile.mkdtemp(prefix="home-", dir=scratch)
        env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
                   XDG_CONFIG_HOME=os.path.join(home, "config"))
        self.process = subprocess.Popen([binary, "--headless"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        env=env, text=True)

    def send(self, *lines):
        for line in lines:
            self.process.stdin.write(json.dumps(line) + "\n")
        self.process.stdin.flush()

    def wait_for(self, function):
        for text in self.process.stdout:
            message = json.loads(text)
            if message.get("fn") == function:
                return message["arg"]
        raise SystemExit(f"the program ended before {function}")

    def close(self):
        self.process.stdin.close()
        self.process.wait()
        # ru_maxrss of children is the largest child so far; each run here is its own process.
        return resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024.0


def ours(binary, files, reference, scratch):
    """Seconds of the export (after the preview) and the record it wrote."""
    target = tempfile.mkdtemp(prefix="style-", dir=scratch)
    program = Headless(binary, scratch)
    program.send({"action": "previewProjectStyle", "token": "B", "reference": {"path": reference},
                  "photos": [{"path": path} for path in files], "options": {"strength": 100, "preserveColors": False}})
    preview = program.wait_for("window.Native.projectStylePreview")
    if preview.get("total") != len(files):
        raise SystemExit(f"preview failed: {preview.get('error')}")
    start = time.monotonic()
    program.send({"action": "exportProjectStyle", "token": "B"}, {"@panel": {"paths": [target]}})
    done = program.wait_for("window.Native.projectStyleComplete")
    seconds = time.monotonic() - start
    peak = program.close()
    if not done.get("message", "").startswith(f"已另存 {len(files)} 张"):
        raise SystemExit(f"export failed: {done}")
    (folder,) = os.listdir(target)
    with open(os.path.join(target, folder, "处理记录.json"), encoding="utf-8") as record:
        files_written = json.load(record)["files"]
    shutil.rmtree(target)
    return seconds, peak, files_written


def matrix(values):
    gains = [math.pow(2, values["exposure"]) * values[c] for c in "rgb"]
    s = values["saturation"]
    return [[((1 - s) * LUMA[column] + (s if row == column else 0)) * gains[column] for column in range(3)]
            for row in range(3)]


def vips_cli(entries, scratch):
    target = tempfile.mkdtemp(prefix="vips-", dir=scratch)
    # The intermediate files (290 MB of linear light per photo) go to memory when the machine has a
    # tmpfs: the command line at its best.
    between = tempfile.mkdtemp(prefix="tidewick-bench-vips-", dir="/dev/shm" if os.path.isdir("/dev/shm") else scratch)
    start = time.monotonic()
    for index, entry in enumerate(entries):
        mat = os.path.join(between, "m.mat")
        with open(mat, "w") as out:
            out.write("3 3\n" + "\n".join(" ".join(repr(v) for v in row) for row in matrix(entry["values"])) + "\n")
        linear, adjusted = os.path.join(between, "linear.v"), os.path.join(between, "adjusted.v")
        output = os.path.join(target, f"{index + 1:04d}.jpg")
        subprocess.run(["vips", "colourspace", entry["source"], linear, "scrgb"], check=True)
        subprocess.run(["vips", "recomb", linear, adjusted, mat], check=True)
        subprocess.run(["vips", "colourspace", adjusted, output + "[Q=95,strip]", "srgb"], check=True)
    seconds = time.monotonic() - start
    shutil.rmtree(target)
    shutil.rmtree(between)
    return seconds


def main():
    binary, corpus = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    everything = photos_in(os.path.join(corpus, "jpeg"))
    files, reference = everything[:PHOTOS], everything[-1]
    scratch = tempfile.mkdtemp(prefix="tidewick-bench-style-", dir=os.path.dirname(os.path.abspath(corpus)))
    try:
        times, peaks, theirs, entries = [], [], [], None
        for _ in range(rounds):
            seconds, peak, entries = ours(binary, files, reference, scratch)
            times.append(seconds)
            peaks.append(peak)
            theirs.append(vips_cli(entries, scratch))
        best, best_vips = len(files) / min(times), len(files) / min(theirs)
        print(f"style export  {len(files)} × 24 MP JPEGs: {best:5.2f} photos/s (best of {rounds}: {min(times):.1f} s), "
              f"peak RSS {max(peaks):.0f} MB   vips command line {best_vips:5.2f} photos/s ({min(theirs):.1f} s)   "
              f"ratio {best / best_vips:.2f}x", flush=True)
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
