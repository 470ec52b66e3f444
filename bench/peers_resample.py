#!/usr/bin/env python3
"""Resampling against OpenCV's cv2.resize (one thread) on the same sizes.

Usage: python3 bench/peers_resample.py [BUILD_DIR]

Runs BUILD_DIR/bench_resample (JSON written to a temporary file, since the
operator prints its progress lines on standard output) and the peers in one
run, and prints name, ours ms, peer ms and their ratio. Times are CPU times
(the machine is shared; both sides run on one thread), each the best of
several runs for the peer and Google Benchmark's mean for ours.

Pairs:
  bilinear 2048 -> 4096   cv2.INTER_LINEAR   (float32; uint8 as well)
  replicate 2048 -> 4096  cv2.INTER_NEAREST
  average 4096 -> 2048    cv2.INTER_AREA (a 2 x 2 mean at this exact ratio)
  bilinear 4096 -> 2048   cv2.INTER_LINEAR
OpenCV's sample grid differs from ours (it centres pixels; ours maps the
first output pixel onto the first input pixel), so the work is the same but
the values are not compared.
"""
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import time

MODE_NAMES = {0: "bilinear", 1: "replicate", 2: "average"}


def run_ours(build_dir):
    binary = pathlib.Path(build_dir) / "bench_resample"
    with tempfile.TemporaryDirectory() as tmp:
        out = pathlib.Path(tmp) / "bench.json"
        subprocess.run(
            [str(binary), f"--benchmark_out={out}", "--benchmark_out_format=json"],
            check=True,
            stdout=subprocess.DEVNULL,
        )
        data = json.loads(out.read_text())
    results = {}
    for b in data["benchmarks"]:
        # e.g. BM_ZoomFloat/from:2048/to:4096/mode:0
        parts = b["name"].split("/")
        kind = "float32" if parts[0] == "BM_ZoomFloat" else "uint8"
        args = dict(p.split(":") for p in parts[1:])
        key = (kind, int(args["from"]), int(args["to"]), int(args["mode"]))
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        results[key] = b["cpu_time"] * scale
    return results


def time_peer(fn, repeats=7):
    fn()  # warm-up
    best = float("inf")
    for _ in range(repeats):
        t0 = time.process_time()
        fn()
        best = min(best, time.process_time() - t0)
    return best * 1e3


def main(build_dir):
    import cv2
    import numpy as np

    cv2.setNumThreads(1)
    ours = run_ours(build_dir)
    rng = np.random.default_rng(7)
    interpolation = {0: cv2.INTER_LINEAR, 1: cv2.INTER_NEAREST, 2: cv2.INTER_AREA}

    print(f"{'case':44s} {'ours ms':>9s} {'peer ms':>9s} {'ratio':>7s}")
    for (kind, size_in, size_out, mode), ours_ms in sorted(ours.items()):
        img = rng.uniform(0, 255, (size_in, size_in)).astype(np.float32)
        if kind == "uint8":
            img = img.astype(np.uint8)
        flag = interpolation[mode]
        peer_ms = time_peer(lambda: cv2.resize(img, (size_out, size_out), interpolation=flag))
        name = f"{MODE_NAMES[mode]} {kind} {size_in}->{size_out} vs cv2.resize"
        print(f"{name:44s} {ours_ms:9.2f} {peer_ms:9.2f} {ours_ms / peer_ms:7.2f}", flush=True)


if __name__ == "__main__":
    os.environ.setdefault("TAMO_THREADS", "1")
    os.environ.setdefault("OMP_NUM_THREADS", "1")
    here = pathlib.Path(__file__).resolve().parent
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else str(here.parent / "build")))
