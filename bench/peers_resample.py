#!/usr/bin/env python3
"""Resampling against OpenCV's cv2.resize (one thread) on the same sizes.

Usage: python3 bench/peers_resample.py [BUILD_DIR] [--peer-hugepages]

For each case, runs BUILD_DIR/bench_resample on that case alone (JSON written
to a temporary file, since the operator prints its progress lines on standard
output) and then the peer, back to back, so that both see the same load on a
shared machine. Prints name, ours ms, peer ms and their ratio. Times are CPU
times, both sides on one thread, each the best of several runs (Google
Benchmark repetitions for ours, repeated calls for the peer).

What cv2 is given, and what it does with it (OpenCV 4.6):
  bilinear 2048 -> 4096, 512 -> 1024   float32 (and uint8), cv2.INTER_LINEAR.
      On uint8 OpenCV interpolates in 11-bit fixed point; ours works in
      single-precision floats.
  replicate 2048 -> 4096                float32, cv2.INTER_NEAREST
  average 4096 -> 2048                  float32, cv2.INTER_AREA: at this exact
      ratio a 2 x 2 mean summed in single precision (ours sums in double).
  bilinear 4096 -> 2048                 float32, cv2.INTER_LINEAR: at an exact
      halving OpenCV switches to INTER_AREA, the same 2 x 2 mean, so it
      reads all four samples, as ours does (weights 1 and 0 on our grid).
OpenCV's sample grid differs from ours (it centres pixels; ours maps the
first output pixel onto the first input pixel), so the work is the same but
the values are not compared. Both write into an output made once (cv2.resize
is given it as dst), so neither pays for fresh pages on every call.

Memory pages: NumPy asks the kernel for transparent huge pages on large
arrays (madvise), so cv2's input and output would sit on 2 MB pages, while
our records are plain allocations on 4 kB pages. The halvings are bound by
memory reads, and 4 kB pages cost them about a quarter (TLB misses, and the
hardware prefetcher stops at every page boundary), which would measure the
allocators rather than the resampling. So the peer's arrays are made on
4 kB pages too; --peer-hugepages keeps NumPy's default instead.
"""
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import time

import peerlib

MODE_NAMES = {0: "bilinear", 1: "replicate", 2: "average"}
# (type, from, to, mode) as in bench_resample.
CASES = [
    ("float32", 512, 1024, 0),
    ("float32", 2048, 4096, 0),
    ("float32", 2048, 4096, 1),
    ("float32", 4096, 2048, 0),
    ("float32", 4096, 2048, 2),
    ("uint8", 2048, 4096, 0),
]


def run_ours(build_dir, case):
    """Best CPU time in ms of one bench_resample case over five repetitions."""
    kind, size_in, size_out, mode = case
    binary = pathlib.Path(build_dir) / "bench_resample"
    if not binary.exists():
        sys.exit(f"peers_resample: {binary} not found (build the bench_resample target)")
    name = "BM_ZoomFloat" if kind == "float32" else "BM_ZoomUbyte"
    pattern = f"^{name}/from:{size_in}/to:{size_out}/mode:{mode}$"
    with tempfile.TemporaryDirectory() as tmp:
        out = pathlib.Path(tmp) / "bench.json"
        subprocess.run(
            [str(binary), f"--benchmark_filter={pattern}", "--benchmark_repetitions=5",
             f"--benchmark_out={out}", "--benchmark_out_format=json"],
            check=True,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        data = json.loads(out.read_text())
    times = []
    for b in data["benchmarks"]:
        if b.get("run_type") == "iteration":
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
            times.append(b["cpu_time"] * scale)
    return min(times)


def time_peer(fn, repeats=9):
    fn()  # warm-up
    best = float("inf")
    for _ in range(repeats):
        t0 = time.process_time()
        fn()
        best = min(best, time.process_time() - t0)
    return best * 1e3


def peers_missing():
    try:
        import cv2  # noqa: F401
        import numpy  # noqa: F401
    except ImportError:
        return True
    return False


def set_numpy_hugepages(np, enabled):
    """Whether NumPy madvises its large arrays onto huge pages; the previous
    setting, or None when this NumPy has no such switch."""
    switch = getattr(np.core.multiarray, "_set_madvise_hugepage", None)
    return switch(enabled) if switch else None


def main(build_dir, peer_hugepages=False):
    if peers_missing():
        # The peers come with the system's interpreter.
        python = peerlib.SYSTEM_PYTHON
        if not os.path.exists(python) or os.path.realpath(sys.executable) == os.path.realpath(
                python):
            sys.exit("peers_resample: numpy and cv2 are needed (scripts/setup bench)")
        extra = ["--peer-hugepages"] if peer_hugepages else []
        status = subprocess.run([python, __file__, str(build_dir)] + extra).returncode
        if status:
            sys.exit(status)
        return
    import cv2
    import numpy as np

    cv2.setNumThreads(1)
    previous = None
    if not peer_hugepages:
        previous = set_numpy_hugepages(np, False)
        if previous is None:
            print("peers_resample: this NumPy has no huge-page switch; peer on its default pages")
    print("peer arrays on", "NumPy's default (huge) pages" if peer_hugepages else
          "4 kB pages, as ours")
    try:
        compare(build_dir, cv2, np)
    finally:
        if previous is not None:
            set_numpy_hugepages(np, previous)


def compare(build_dir, cv2, np):
    rng = np.random.default_rng(7)
    interpolation = {0: cv2.INTER_LINEAR, 1: cv2.INTER_NEAREST, 2: cv2.INTER_AREA}

    print(f"{'case':44s} {'ours ms':>9s} {'peer ms':>9s} {'ratio':>7s}")
    for case in CASES:
        kind, size_in, size_out, mode = case
        img = rng.uniform(0, 255, (size_in, size_in)).astype(np.float32)
        if kind == "uint8":
            img = img.astype(np.uint8)
        flag = interpolation[mode]
        ours_ms = run_ours(build_dir, case)
        out = np.empty((size_out, size_out), img.dtype)
        peer_ms = time_peer(
            lambda: cv2.resize(img, (size_out, size_out), dst=out, interpolation=flag))
        name = f"{MODE_NAMES[mode]} {kind} {size_in}->{size_out} vs cv2.resize"
        print(f"{name:44s} {ours_ms:9.2f} {peer_ms:9.2f} {ours_ms / peer_ms:7.2f}", flush=True)


if __name__ == "__main__":
    os.environ.setdefault("TAMO_THREADS", "1")
    os.environ.setdefault("OMP_NUM_THREADS", "1")
    here = pathlib.Path(__file__).resolve().parent
    args = [a for a in sys.argv[1:] if a != "--peer-hugepages"]
    sys.exit(main(args[0] if args else str(here.parent / "build"),
                  peer_hugepages="--peer-hugepages" in sys.argv[1:]))
