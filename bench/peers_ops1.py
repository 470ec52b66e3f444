#!/usr/bin/env python3
"""Pointwise operators, Gaussian-derivative filtering and differential
measures against their peers, in one run, on 2048 x 2048 float32 images.

Ours: BUILD_DIR/bench_ops1 (Google Benchmark, JSON). Peers: OpenCV with one
thread (cv2.sepFilter2D with the same sampled kernels and a replicated
border, cv2.magnitude) and NumPy for the arithmetic. Times are CPU times
(medians), so that other load on a shared machine disturbs both sides alike.

Usage: python3 bench/peers_ops1.py BUILD_DIR
"""
import json
import math
import os
import pathlib
import subprocess
import sys
import tempfile
import time

SIDE = 2048
REPEATS = 9
SYSTEM_PYTHON = "/usr/bin/python3"


def _needs_fresh_interpreter():
    """NumPy and OpenCV come from the system's packages; OpenBLAS core
    overrides slow NumPy down, so the peers run without them."""
    if os.environ.get("TAMO_PEERS_CHILD"):
        return False
    if "OPENBLAS_CORETYPE" in os.environ or "OPENBLAS_L2_SIZE" in os.environ:
        return True
    try:
        import cv2  # noqa: F401
        import numpy  # noqa: F401
    except ImportError:
        return True
    return False


def _rerun(build_dir):
    env = {k: v for k, v in os.environ.items() if k not in ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE")}
    env["TAMO_PEERS_CHILD"] = "1"
    python = SYSTEM_PYTHON if os.path.exists(SYSTEM_PYTHON) else sys.executable
    subprocess.run([python, str(pathlib.Path(__file__).resolve()), build_dir], env=env, check=True)


def ours(build_dir):
    """Median CPU time in ms of each benchmark of bench_ops1."""
    binary = pathlib.Path(build_dir) / "bench_ops1"
    with tempfile.TemporaryDirectory() as tmp:
        report = pathlib.Path(tmp) / "ops1.json"
        subprocess.run([str(binary), "--benchmark_repetitions=3",
                        "--benchmark_report_aggregates_only=true",
                        f"--benchmark_out={report}", "--benchmark_out_format=json"],
                       check=True, stdout=subprocess.DEVNULL)
        data = json.loads(report.read_text())
    times = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median":
            name = b["run_name"].split("/")[0]
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
            times[name] = b["cpu_time"] * scale
    return times


def _median_cpu_ms(fn):
    fn()
    samples = []
    for _ in range(REPEATS):
        start = time.process_time()
        fn()
        samples.append((time.process_time() - start) * 1e3)
    samples.sort()
    return samples[len(samples) // 2]


def _factors(np, order, sigma):
    """Row (x) and column (y) factors of our kernels, sampled as flDoG does."""
    s = np.float32(abs(sigma))
    k = int(3.0 * float(s)) + 1
    s2 = float(np.float32(s * s))
    s4, s6 = s2 * s2, s2 * s2 * s2
    two_pi = 6.283185307179586
    t = np.arange(-k, k + 1, dtype=np.float64)
    g = np.exp(-(t * t) / (2.0 * s2))
    gaussian = g.astype(np.float32)
    derivative = {0: g / (two_pi * s2),
                  1: -t / (two_pi * s4) * g,
                  2: (t * t / (two_pi * s6) - 1.0 / (two_pi * s4)) * g}[order].astype(np.float32)
    return derivative, gaussian


def peers():
    import cv2
    import numpy as np

    cv2.setNumThreads(1)
    rng = np.random.default_rng(1)
    a = (rng.random((SIDE, SIDE), dtype=np.float32) * 100 + 1).astype(np.float32)
    b = (rng.random((SIDE, SIDE), dtype=np.float32) * 100 + 1).astype(np.float32)
    border = cv2.BORDER_REPLICATE

    def sep(img, kx, ky):
        return cv2.sepFilter2D(img, cv2.CV_32F, kx, ky, borderType=border)

    def along_x(order, sigma):
        d, g = _factors(np, order, sigma)
        return d, g

    def along_y(order, sigma):
        d, g = _factors(np, order, sigma)
        return g, d

    def mixed(sigma):
        s = np.float32(abs(sigma))
        k = int(3.0 * float(s)) + 1
        s2 = float(np.float32(s * s))
        t = np.arange(-k, k + 1, dtype=np.float64)
        g = np.exp(-(t * t) / (2.0 * s2))
        return (t * g).astype(np.float32), (t * g / (6.283185307179586 * s2 ** 3)).astype(np.float32)

    def gmag():
        lx = sep(a, *along_x(1, 1.0))
        ly = sep(a, *along_y(1, 1.0))
        return cv2.magnitude(lx, ly)

    def curv():
        lx = sep(a, *along_x(1, 2.0))
        ly = sep(a, *along_y(1, 2.0))
        lxx = sep(a, *along_x(2, 2.0))
        lyy = sep(a, *along_y(2, 2.0))
        lxy = sep(a, *mixed(2.0))
        sq_y = ly * ly
        sq_x = lx * lx
        num = lxx * sq_y - np.float32(2) * (lxy * ly * lx) + lyy * sq_x
        q = sq_x + sq_y
        return num / (q * np.sqrt(q) + np.float32(0.01))

    def ln():
        out = np.zeros_like(a)
        np.log(a, out=out, where=a > 0)
        return out

    c = np.float32(3.5)
    return {
        "dog_blur_s1": lambda: sep(a, *along_x(0, 1.0)),
        "dog_blur_s3": lambda: sep(a, *along_x(0, 3.0)),
        "dog_dx_s1": lambda: sep(a, *along_x(1, 1.0)),
        "dog_dx_s3": lambda: sep(a, *along_x(1, 3.0)),
        "gmag_s1": gmag,
        "curv_s2": curv,
        "abs": lambda: np.abs(a),
        "adds": lambda: a + c,
        "mults": lambda: a * c,
        "addv": lambda: a + b,
        "multv": lambda: a * b,
        "divv": lambda: a / b,
        "atan2": lambda: np.arctan2(a, b),
        "exp": lambda: np.minimum(np.exp(a / np.float32(50)), np.float32(255)),
        "ln": ln,
        "sqrt": lambda: np.sqrt(a),
        "inv": lambda: a.max() - a,
    }


PEER_NAMES = {
    "dog_blur_s1": "cv2.sepFilter2D", "dog_blur_s3": "cv2.sepFilter2D",
    "dog_dx_s1": "cv2.sepFilter2D", "dog_dx_s3": "cv2.sepFilter2D",
    "gmag_s1": "2 sepFilter2D + magnitude", "curv_s2": "5 sepFilter2D + NumPy",
}
TARGETS = {"dog_blur_s1": 1.5, "dog_blur_s3": 1.5, "dog_dx_s1": 1.5, "dog_dx_s3": 1.5,
           "gmag_s1": 1.5, "curv_s2": 2.0,
           "abs": 1.0, "adds": 1.0, "mults": 1.0, "atan2": 1.0, "exp": 1.0, "ln": 1.0}


def main(build_dir):
    if _needs_fresh_interpreter():
        _rerun(build_dir)
        return 0
    mine = ours(build_dir)
    theirs = {name: _median_cpu_ms(fn) for name, fn in peers().items()}
    print(f"{'name':<13} {'ours ms':>9} {'peer ms':>9} {'ratio':>7} {'target':>7}  peer")
    for name, peer_ms in theirs.items():
        our_ms = mine.get(name, math.nan)
        target = TARGETS.get(name, 1.2)
        print(f"{name:<13} {our_ms:9.2f} {peer_ms:9.2f} {our_ms / peer_ms:7.2f} {target:7.1f}  "
              f"{PEER_NAMES.get(name, 'NumPy')}", flush=True)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
