#!/usr/bin/env python3
"""The tamo Python package against its peers in the same process, one thread:
tamo.dog(a, sigma=3) against cv2.sepFilter2D with the same sampled kernels
and a replicated border (2048 x 2048 float32), tamo.abs against np.abs
(2048 x 2048: no hidden copy on the way in or out), and the call overhead:
tamo.abs against cv2.GaussianBlur with a 3 x 3 kernel on a 16 x 16 array.
Times are medians of CPU time; the load average is printed with them.

Usage: python3 bench/peers_python.py BUILD_DIR (the package built in
BUILD_DIR/python by the normal build; scripts/setup python)
"""
import os
import pathlib
import sys
import time

REPEATS = 15
# Each goal: (ours, peer, the largest ratio the issue allows).
GOALS = (("dog_s3_2048", "sepFilter2D_s3_2048", 1.0),
         ("abs_2048", "np.abs_2048", 1.2),
         ("abs_16", "GaussianBlur3x3_16", 1.5))


def _median_cpu_ms(pair, calls=1):
    """Median CPU times of one call in ms of both functions of `pair`, over
    REPEATS rounds of `calls` calls each (small arrays need many calls per
    round); the two alternate within every round, so that a change in the
    machine's load or memory state falls on both."""
    samples = ([], [])
    for fn in pair:
        fn()
    for _ in range(REPEATS):
        for fn, times in zip(pair, samples):
            start = time.process_time()
            for _ in range(calls):
                fn()
            times.append((time.process_time() - start) * 1e3 / calls)
    return tuple(sorted(times)[len(times) // 2] for times in samples)


def measure(build_dir):
    sys.path.insert(0, str(pathlib.Path(build_dir) / "python"))
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
    import cv2
    import numpy as np

    import tamo
    from peers_ops1 import _factors

    tamo.set_threads(1)
    cv2.setNumThreads(1)
    rng = np.random.default_rng(1)
    big = (rng.random((2048, 2048), dtype=np.float32) * 100 - 50).astype(np.float32)
    small = big[:16, :16].copy()
    row, column = _factors(np, 0, 3.0)
    blur = lambda: cv2.sepFilter2D(big, cv2.CV_32F, row, column,
                                   borderType=cv2.BORDER_REPLICATE)
    # The peer computes what we compute (away from the borders' last bits).
    assert np.allclose(tamo.dog(big, sigma=3)[20:-20, 20:-20], blur()[20:-20, 20:-20],
                       rtol=1e-4, atol=1e-3)
    times = {}
    times["dog_s3_2048"], times["sepFilter2D_s3_2048"] = _median_cpu_ms(
        (lambda: tamo.dog(big, sigma=3), blur))
    times["abs_2048"], times["np.abs_2048"] = _median_cpu_ms(
        (lambda: tamo.abs(big), lambda: np.abs(big)))
    times["abs_16"], times["GaussianBlur3x3_16"] = _median_cpu_ms(
        (lambda: tamo.abs(small), lambda: cv2.GaussianBlur(small, (3, 3), 0)), calls=2000)
    return times


def main(build_dir):
    times = measure(build_dir)
    load = " ".join(f"{v:.2f}" for v in os.getloadavg())
    print(f"load average {load}")
    print(f"{'ours':<14} {'ms':>9}   {'peer':<20} {'ms':>9}  ratio  goal")
    for ours, peer, goal in GOALS:
        ratio = times[ours] / times[peer]
        verdict = "ok" if ratio <= goal else "MISSED"
        print(f"{ours:<14} {times[ours]:9.4f}   {peer:<20} {times[peer]:9.4f}  {ratio:5.2f}"
              f"  <= {goal} {verdict}")


if __name__ == "__main__":
    os.environ["TAMO_THREADS"] = "1"
    os.environ.setdefault("OMP_NUM_THREADS", "1")
    main(sys.argv[1] if len(sys.argv) > 1 else
         str(pathlib.Path(__file__).resolve().parent.parent / "build"))
