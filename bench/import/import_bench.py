#!/usr/bin/env python3
"""Import speed: the headless "scanPath" until "receiveScan" on a cold thumbnail cache, side by side
with vipsthumbnail making the same 640-pixel thumbnails (one call for all files), and the warm
re-import. Prints files per second, the ratio, and peak memory. For the "small" folder (1,000 files)
also the time until the first thumbnails can be shown: from "scanPath" to the first "scanRecords" (or
"scanProgress" with a thumbnail ready) of a page that watches imports, the median of three cold runs.

usage: import_bench.py TIDEWICK_BINARY CORPUS_FOLDER
"""
import json
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

FIRST_THUMBNAILS_TARGET = 1.0
FIRST_THUMBNAILS_RUNS = 3


def photos_in(folder):
    return sorted(os.path.join(folder, name) for name in os.listdir(folder) if not name.startswith("."))


def headless_import(binary, folder, data_home, config_home):
    """Runs one import; returns (seconds until receiveScan, number of photos, peak RSS in MB)."""
    env = dict(os.environ, XDG_DATA_HOME=data_home, XDG_CONFIG_HOME=config_home)
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    start = time.monotonic()
    process = subprocess.Popen([binary, "--headless"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env, text=True)
    process.stdin.write(json.dumps({"action": "scanPath", "path": folder}) + "\n")
    process.stdin.close()
    elapsed, count = None, 0
    for line in process.stdout:
        message = json.loads(line)
        if message.get("fn") == "window.Native.receiveScan":
            elapsed = time.monotonic() - start
            count = len(message["arg"]["photos"])
    process.wait()
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    return elapsed, count, max(peak, before) / 1024.0


def first_thumbnails(binary, folder, scratch):
    """One cold import after the page's handshake; returns (seconds until the first thumbnail is
    told, seconds until receiveScan)."""
    # A test data folder: no plug-in server port and no card check, a fresh thumbnail cache.
    support = tempfile.mkdtemp(prefix="tidewick-qa-bench-", dir="/tmp")
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(scratch, "data"), XDG_CONFIG_HOME=os.path.join(scratch, "config"))
    process = subprocess.Popen([binary, "--headless", "--test-support-dir", support], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, env=env, text=True)

    def send(body):
        process.stdin.write(json.dumps(body) + "\n")
        process.stdin.flush()

    try:
        send({"action": "ready"})
        send({"action": "watchScanProgress", "enabled": True})
        for line in process.stdout:
            if json.loads(line).get("fn") == "window.Native.appUpdateState":
                break
        start = time.monotonic()
        send({"action": "scanPath", "path": folder})
        first = None
        for line in process.stdout:
            message = json.loads(line)
            fn, arg = message.get("fn"), message.get("arg")
            told = fn == "window.Native.scanRecords" or (fn == "window.Native.scanProgress" and arg["thumbnails"] > 0)
            if first is None and told:
                first = time.monotonic() - start
            if fn == "window.Native.receiveScan":
                # Without an earlier batch the thumbnails show with the scan itself.
                scan = time.monotonic() - start
                return (scan if first is None else first), scan
        raise RuntimeError("the import ended without a scan")
    finally:
        process.stdin.close()
        process.wait()
        shutil.rmtree(support)


def vipsthumbnail_rate(files):
    out = tempfile.mkdtemp(prefix="tidewick-bench-vips-")
    try:
        start = time.monotonic()
        subprocess.run(["vipsthumbnail", "-s", "640", "-o", os.path.join(out, "%s.jpg[Q=82]")] + files, check=True,
                       stderr=subprocess.DEVNULL)
        return len(files) / (time.monotonic() - start)
    finally:
        shutil.rmtree(out)


def main():
    binary, corpus = sys.argv[1], sys.argv[2]
    scratch = tempfile.mkdtemp(prefix="tidewick-bench-import-")
    try:
        for name in ("jpeg", "cr3", "small"):
            folder = os.path.join(corpus, name)
            if not os.path.isdir(folder):
                continue
            data, config = os.path.join(scratch, name, "data"), os.path.join(scratch, name, "config")
            os.makedirs(data)
            os.makedirs(config)
            cold, count, peak = headless_import(binary, folder, data, config)
            warm, _, _ = headless_import(binary, folder, data, config)
            line = f"{name:5s} {count:5d} files  cold {count / cold:7.1f} files/s ({cold:6.2f} s)  warm {warm:6.3f} s"
            if name == "jpeg":
                vips = vipsthumbnail_rate(photos_in(folder))
                line += f"  vipsthumbnail {vips:6.1f} files/s  ratio {count / cold / vips:4.2f}x"
            print(line + f"  peak RSS {peak:6.0f} MB", flush=True)
            if name == "small":
                runs = [first_thumbnails(binary, folder, os.path.join(scratch, name)) for _ in range(FIRST_THUMBNAILS_RUNS)]
                firsts = [first for first, _ in runs]
                median = statistics.median(firsts)
                verdict = "within" if median < FIRST_THUMBNAILS_TARGET else "OVER"
                print(f"small {count:5d} files  first thumbnails {median:6.3f} s (median of {len(runs)} cold runs: "
                      + ", ".join(f"{first:.3f}" for first in firsts)
                      + f"; scan {statistics.median(scan for _, scan in runs):5.2f} s)  {verdict} the "
                      + f"{FIRST_THUMBNAILS_TARGET:.0f} s target", flush=True)
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
