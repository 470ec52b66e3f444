#!/usr/bin/env python3
"""Our operators on one thread and on every thread against the peers at their
default thread count, in one run: every Gaussian filter and measure, the
forward FFT, correlation and resampling.

Ours run twice, with TAMO_THREADS=1 and with no cap (all processors); the
peers (OpenCV, NumPy, SciPy with workers=-1) run with their own defaults.
Times are elapsed (wall-clock) medians, since threads are what is measured;
on a shared machine other load shows in both columns, so note it (uptime)
with the figures.

Usage: python3 bench/peers_threads.py [BUILD_DIR]
Prints one line per case and thread setting: name, threads, ours ms, peer ms,
ratio (ours / peer; below 1 means faster than the peer) and the peer.
"""
import json
import os
import pathlib
import subprocess
import sys
import tempfile

import peerlib

HERE = pathlib.Path(__file__).resolve().parent
# Variables that would hold the peers (or us) to one thread.
CAPS = ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS", "TAMO_THREADS",
        "OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE")

GAUSSIAN_CASES = ["dog_blur_s1", "dog_blur_s3", "dog_dx_s1", "dog_dx_s3", "gmag_s1", "curv_s2"]
FFT_SIZES = [512, 1024, 2048]
CORRELATION_SIDES = [32, 64]
# (from, to, mode) of bench_resample's float cases.
RESAMPLE_CASES = [(2048, 4096, 0), (2048, 4096, 1), (4096, 2048, 2), (4096, 2048, 0)]
MODE_NAMES = {0: "bilinear", 1: "replicate", 2: "average"}


def clean_env(**extra):
    env = {k: v for k, v in os.environ.items() if k not in CAPS}
    env.update(extra)
    return env


def ours(build_dir, program, pattern, threads):
    """Median wall time in ms of every benchmark of `program` matching
    `pattern`, by run name, with TAMO_THREADS=threads (None: no cap)."""
    binary = pathlib.Path(build_dir) / program
    if not binary.exists():
        sys.exit(f"peers_threads: {binary} not found (build the {program} target)")
    env = clean_env(**({"TAMO_THREADS": str(threads)} if threads else {}))
    # The report goes to a file: some operators print lines of their own.
    with tempfile.TemporaryDirectory() as tmp:
        path = pathlib.Path(tmp) / "report.json"
        subprocess.run(
            [str(binary), f"--benchmark_filter={pattern}", "--benchmark_repetitions=3",
             "--benchmark_report_aggregates_only=true", f"--benchmark_out={path}",
             "--benchmark_out_format=json"],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        report = json.loads(path.read_text())
    times = {}
    for b in report["benchmarks"]:
        if b.get("aggregate_name") == "median":
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
            # Names without the settings Google Benchmark appends.
            parts = [p for p in b["run_name"].split("/")
                     if not p.startswith(("min_time:", "real_time", "iterations:"))]
            times["/".join(parts)] = b["real_time"] * scale
    return times


def peers_missing():
    try:
        import cv2  # noqa: F401
        import numpy  # noqa: F401
        import scipy.fft  # noqa: F401
    except ImportError:
        return True
    return False


def run(build_dir):
    import cv2
    import numpy as np
    import scipy.fft

    sys.path.insert(0, str(HERE))
    import peers_ops1

    cores = os.cpu_count()
    print(f"wall time; ours at 1 and {cores} threads, peers at their default "
          f"(cv2 {cv2.getNumThreads()} threads, scipy.fft workers=-1)")
    print(f"{'case':40} {'threads':>7} {'ours ms':>9} {'peer ms':>9} {'ratio':>7}  peer")

    def report(name, mine_by_threads, peer_ms, peer_name):
        for threads, mine in mine_by_threads:
            print(f"{name:40} {threads:>7} {mine:9.2f} {peer_ms:9.2f} {mine / peer_ms:7.2f}  "
                  f"{peer_name}", flush=True)

    def both(program, pattern):
        one = ours(build_dir, program, pattern, 1)
        every = ours(build_dir, program, pattern, None)
        return lambda name: [(1, one[name]), (cores, every[name])]

    # Gaussian filters and measures, 2048 x 2048 (bench_ops1).
    mine = both("bench_ops1", "^(" + "|".join(GAUSSIAN_CASES) + ")(/|$)")
    gaussian_peers = peers_ops1.peers()
    cv2.setNumThreads(-1)  # peers() holds OpenCV to one thread; back to its default
    for name in GAUSSIAN_CASES:
        report(f"{name} 2048^2", mine(name), peerlib.median_ms(gaussian_peers[name]),
               peers_ops1.PEER_NAMES[name])

    # Forward FFT of complex images.
    mine = both("bench_fft", "^BM_ForwardFFT/")
    rng = np.random.default_rng(42)
    for size in FFT_SIZES:
        a = (rng.uniform(-1, 1, (size, size)) + 1j * rng.uniform(-1, 1, (size, size))).astype(
            np.complex64)
        planes = np.ascontiguousarray(np.stack([a.real, a.imag], axis=-1), dtype=np.float32)
        times = mine(f"BM_ForwardFFT/{size}")
        report(f"FFT {size}^2", times, peerlib.median_ms(lambda: np.fft.fft2(a)), "numpy.fft.fft2")
        report(f"FFT {size}^2", times,
               peerlib.median_ms(lambda: scipy.fft.fft2(a, workers=-1)),
               "scipy.fft.fft2(workers=-1)")
        report(f"FFT {size}^2", times,
               peerlib.median_ms(lambda: cv2.dft(planes, flags=cv2.DFT_COMPLEX_OUTPUT)),
               "cv2.dft")

    # Correlation of a 2048 x 2048 image with square templates (bench_ops2).
    mine = both("bench_ops2", "^BM_Correlate/")
    image = np.random.default_rng(42).integers(0, 256, (2048, 2048)).astype(np.float32)
    for side in CORRELATION_SIDES:
        tpl = image[500:500 + side, 700:700 + side].copy()
        report(f"correlate 2048^2, {side}x{side}", mine(f"BM_Correlate/{side}"),
               peerlib.median_ms(lambda: cv2.matchTemplate(image, tpl, cv2.TM_CCOEFF_NORMED)),
               "cv2.matchTemplate")

    # Resampling of float images (bench_resample). As in peers_resample.py,
    # cv2.resize writes into an output made once (dst) and its arrays sit on
    # 4 kB pages like our records, not on the huge pages NumPy would ask for.
    mine = both("bench_resample", "^BM_ZoomFloat/")
    interpolation = {0: cv2.INTER_LINEAR, 1: cv2.INTER_NEAREST, 2: cv2.INTER_AREA}
    hugepage_switch = getattr(np.core.multiarray, "_set_madvise_hugepage", None)
    previous = hugepage_switch(False) if hugepage_switch else None
    try:
        for size_in, size_out, mode in RESAMPLE_CASES:
            img = np.random.default_rng(7).uniform(0, 255, (size_in, size_in)).astype(np.float32)
            out = np.empty((size_out, size_out), np.float32)
            flag = interpolation[mode]
            times = mine(f"BM_ZoomFloat/from:{size_in}/to:{size_out}/mode:{mode}")
            report(f"{MODE_NAMES[mode]} {size_in}->{size_out}", times,
                   peerlib.median_ms(lambda: cv2.resize(img, (size_out, size_out), dst=out,
                                                        interpolation=flag)),
                   "cv2.resize (dst, 4 kB pages)")
    finally:
        if hugepage_switch:
            hugepage_switch(previous)


def main(build_dir):
    # The peers must start without the one-thread caps that peers.py sets for
    # the other families, so this family always runs in a fresh interpreter.
    if os.environ.get("TAMO_PEERS_THREADS_CHILD"):
        if peers_missing():
            sys.exit("peers_threads: numpy, scipy and cv2 are needed (scripts/setup bench)")
        run(build_dir)
        return 0
    python = peerlib.SYSTEM_PYTHON if os.path.exists(peerlib.SYSTEM_PYTHON) else sys.executable
    subprocess.run([python, str(pathlib.Path(__file__).resolve()), str(build_dir)],
                   env=clean_env(TAMO_PEERS_THREADS_CHILD="1"), check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else str(HERE.parent / "build")))
