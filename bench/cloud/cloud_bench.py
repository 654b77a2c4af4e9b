#!/usr/bin/env python3
"""Cloud review run speed, through `tidewick --headless` as the page would ask for it, against the
test stand-in of the AI service (tests/ai/fake_grsai.py) answering every request after a fixed
150 ms.

A run reviews the first N corpus JPEGs (24 MP) in the standard quality mode. Printed: the wall time
from starting the program to "cloudAnalysisComplete", what the program adds per photo beyond the
answer delay (wall / N - 0.150) and that as a share of the delay, and the program's peak RSS (read
from /proc before its input is closed) for 50 and for 200 photos.

usage: cloud_bench.py TIDEWICK_BINARY CORPUS_FOLDER FAKE_GRSAI_SCRIPT
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

DELAY_SECONDS = 0.150
VERDICT = {"decision": "保留", "rating": 4, "confidence": 0.93, "issues": [], "reason": "主体清晰", "bestCandidate": False}


def start_stand_in(script, workdir):
    stand_in = subprocess.Popen([sys.executable, script, "--workdir", workdir], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True)
    word, port, ca_file = stand_in.stdout.readline().split()
    if word != "ready":
        raise SystemExit("the stand-in did not start")
    answer = {"delay_ms": int(DELAY_SECONDS * 1000),
              "json": {"choices": [{"message": {"content": json.dumps(VERDICT, ensure_ascii=False)}}],
                       "usage": {"prompt_tokens": 900, "completion_tokens": 60}}}
    stand_in.stdin.write(json.dumps({"op": "route", "method": "POST", "path": "/v1/chat/completions",
                                     "responses": [answer]}) + "\n")
    stand_in.stdin.flush()
    stand_in.stdout.readline()
    return stand_in, int(port), ca_file


def peak_rss_mb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024.0
    return float("nan")


def cloud_run(binary, files, port, ca_file, scratch):
    """Returns (seconds from launch to completion, the completion's payload, peak RSS in MB)."""
    home = tempfile.mkdtemp(prefix="home-", dir=scratch)
    config = os.path.join(home, "config", "tidewick")
    os.makedirs(config)
    with open(os.path.join(config, "settings.json"), "w") as settings:
        json.dump({"TWGRSAIAPIKey": "sk-bench-0123456789", "TWGRSAIBaseURL": f"https://127.0.0.1:{port}"}, settings)
    env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
               XDG_CONFIG_HOME=os.path.join(home, "config"), TIDEWICK_TEST_CA_FILE=ca_file)
    photos = [{"id": str(i), "name": os.path.basename(path), "path": path} for i, path in enumerate(files)]
    start = time.monotonic()
    process = subprocess.Popen([binary, "--headless"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env,
                               text=True)
    process.stdin.write(json.dumps({"action": "cloudAnalyze", "photos": photos,
                                    "options": {"quality": "standard"}}) + "\n")
    process.stdin.flush()
    elapsed, payload, failures = None, None, 0
    for text in process.stdout:
        message = json.loads(text)
        if message.get("fn") == "window.Native.cloudAnalysisResult" and "error" in message["arg"]:
            failures += 1
        if message.get("fn") == "window.Native.cloudAnalysisComplete":
            elapsed, payload = time.monotonic() - start, message["arg"]
            break
    peak = peak_rss_mb(process.pid)
    process.stdin.close()
    process.wait()
    if not payload or payload.get("processed") != len(files) or failures:
        raise SystemExit(f"cloud run failed: {payload}, {failures} photos failed")
    return elapsed, payload, peak


def main():
    binary, corpus, script = sys.argv[1], sys.argv[2], sys.argv[3]
    folder = os.path.join(corpus, "jpeg")
    files = sorted(os.path.join(folder, name) for name in os.listdir(folder) if not name.startswith("."))
    if len(files) < 200:
        raise SystemExit(f"the corpus holds {len(files)} JPEGs; 200 are needed")
    scratch = tempfile.mkdtemp(prefix="tidewick-bench-cloud-")
    stand_in, port, ca_file = start_stand_in(script, scratch)
    try:
        _, _, peak50 = cloud_run(binary, files[:50], port, ca_file, scratch)
        seconds, _, peak200 = cloud_run(binary, files[:200], port, ca_file, scratch)
        added = seconds / 200 - DELAY_SECONDS
        print(f"cloud run, 200 × 24 MP JPEGs, standard quality, answers after {DELAY_SECONDS * 1000:.0f} ms: "
              f"{seconds:.2f} s wall; the program adds {added * 1000:.1f} ms per photo, "
              f"{added / DELAY_SECONDS * 100:.1f} % of the delay (target < 25 %)", flush=True)
        print(f"cloud run peak RSS: {peak50:.0f} MB over 50 photos, {peak200:.0f} MB over 200 photos", flush=True)
    finally:
        stand_in.stdin.close()
        stand_in.wait()
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
