#!/usr/bin/python3
"""Runs our benchmarks and their peers (OpenCV, NumPy, SciPy) in one run and
prints the ratios.

Usage: python3 bench/peers.py [BUILD_DIR] [FAMILY...]

Each family lives in bench/peers_FAMILY.py and has main(build_dir), which runs
its C++ benchmark program from BUILD_DIR and the peers on the same sizes.
The families compare one thread with one thread (TAMO_THREADS=1 for ours,
OpenCV and OpenBLAS held to one thread), except `threads`, whose threads
column gives ours at 1 thread and at every thread against the peers at their
default thread count (SciPy with workers=-1), in elapsed time.
Install the peers with: scripts/setup bench
"""
import importlib
import os
import pathlib
import sys


def main(argv):
    here = pathlib.Path(__file__).resolve().parent
    build_dir = argv[1] if len(argv) > 1 else str(here.parent / "build")
    wanted = argv[2:]
    sys.path.insert(0, str(here))
    families = sorted(p.stem[len("peers_"):] for p in here.glob("peers_*.py"))
    for family in families:
        if wanted and family not in wanted:
            continue
        print(f"== {family}", flush=True)
        module = importlib.import_module(f"peers_{family}")
        module.main(build_dir)
    return 0


if __name__ == "__main__":
    os.environ.setdefault("TAMO_THREADS", "1")
    os.environ.setdefault("OMP_NUM_THREADS", "1")
    os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
    sys.exit(main(sys.argv))
