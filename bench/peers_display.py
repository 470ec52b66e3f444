#!/usr/bin/env python3
"""Display conversion and image-window redraws against OpenCV (one thread).

bench_display's toQImage of a 3-frame "float" record and its changeRGB redraw
are compared with what OpenCV does for the same picture: a min/max stretch of
the three planes to 8 bits with one range (cv2.normalize) and the packing of
the planes into one picture (cv2.merge), on the same sizes in one run.

Usage: /usr/bin/python3 bench/peers_display.py BUILD_DIR
Prints one line per benchmark and size: name, then ours ms, peer ms and ratio
(ours / peer; below 1 means faster than the peer) in CPU time of the working
thread, which a busy shared machine disturbs far less, and the ratio in
elapsed time.
"""
import os
import pathlib
import statistics
import sys
import time

import peerlib

SIZES = [512, 1024, 2048]
OURS = ["BM_ToQImageColour", "BM_ChangeRGB"]


def peers_missing():
    try:
        import numpy  # noqa: F401
        import cv2  # noqa: F401
    except ImportError:
        return True
    return False

def ours(build_dir, name, size):
    """Median (CPU ms, elapsed ms) of bench_display's `name` at `size`."""
    return peerlib.benchmark_median_times(build_dir, "bench_display", f"{name}/{size}",
                                          dict(os.environ, QT_QPA_PLATFORM="offscreen"))


def times_ms(fn, min_runs=5, min_seconds=1.0):
    """Median (CPU ms of this thread, elapsed ms) of fn() after a warm-up."""
    fn()
    cpu, wall = [], []
    start = time.perf_counter()
    while len(cpu) < min_runs or time.perf_counter() - start < min_seconds:
        t0, w0 = time.thread_time(), time.perf_counter()
        fn()
        cpu.append((time.thread_time() - t0) * 1e3)
        wall.append((time.perf_counter() - w0) * 1e3)
        if len(cpu) >= 50:
            break
    return statistics.median(cpu), statistics.median(wall)


def peer(size):
    """cv2.normalize of the three planes with one range, then cv2.merge."""
    import cv2
    import numpy as np

    cv2.setNumThreads(1)
    rng = np.random.default_rng(42)
    planes = rng.uniform(0, 1000, (3 * size, size)).astype(np.float32)

    def stretch_and_pack():
        scaled = cv2.normalize(planes, None, 0, 255, cv2.NORM_MINMAX, dtype=cv2.CV_8U)
        return cv2.merge([scaled[0:size], scaled[size:2 * size], scaled[2 * size:]])

    return times_ms(stretch_and_pack)


def main(build_dir):
    if peers_missing():
        peerlib.rerun_with_system_python(__file__, build_dir, "peers_display: numpy and cv2 are needed (scripts/setup bench)")
        return

    # Ours and the peer of one size are timed back to back, so that both see
    # the same load on a shared machine.
    print(f"{'3 planes to 8 bits, packed (CPU time)':40} {'ours ms':>9} {'peer ms':>9} {'ratio':>7}"
          f" {'elapsed':>8}")
    for size in SIZES:
        for name in OURS:
            mine, mine_wall = ours(build_dir, name, size)
            theirs, theirs_wall = peer(size)
            label = f"{size}x{size} {name} / cv2"
            print(f"{label:40} {mine:9.2f} {theirs:9.2f} {mine / theirs:7.2f}"
                  f" {mine_wall / theirs_wall:8.2f}", flush=True)


if __name__ == "__main__":
    os.environ.setdefault("TAMO_THREADS", "1")
    os.environ.setdefault("OMP_NUM_THREADS", "1")
    main(sys.argv[1] if len(sys.argv) > 1 else
         str(pathlib.Path(__file__).resolve().parent.parent / "build"))
