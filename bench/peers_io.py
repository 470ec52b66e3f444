#!/usr/bin/env python3
"""Reading and writing a 4096 x 4096 "float" image in the own format: bench_io
against its floors measured in the same program (copying the same bytes file
to file; zlib's one-call compress/uncompress of the same bytes), and against
NumPy (tofile/fromfile) and Python's zlib on the same bytes, in one run.

Usage: python3 bench/peers_io.py BUILD_DIR
Prints one line per comparison: ours ms, reference ms, ratio (ours / reference;
below 1 means faster than the reference). Times are wall-clock medians.
"""
import json
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

SIDE = 4096


def bench(build_dir):
    """Median real time in ms of every benchmark of bench_io, by name."""
    program = pathlib.Path(build_dir) / "bench_io"
    if not program.exists():
        sys.exit(f"peers_io: {program} not found (build the bench_io target)")
    out = subprocess.run(
        [str(program), "--benchmark_format=json", "--benchmark_repetitions=3",
         "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        name = b["run_name"].split("/min_time")[0]
        times[name] = b["real_time"] * scale
    return times


def median_ms(fn, min_runs=3, min_seconds=2.0):
    fn()
    samples = []
    start = time.perf_counter()
    while len(samples) < min_runs or time.perf_counter() - start < min_seconds:
        t0 = time.perf_counter()
        fn()
        samples.append((time.perf_counter() - t0) * 1e3)
        if len(samples) >= 20:
            break
    return statistics.median(samples)


def peers():
    try:
        import numpy as np
    except ImportError:
        print("peers_io: NumPy missing (scripts/setup bench); only the in-program floors")
        return {}
    import zlib

    y, x = np.mgrid[0:SIDE, 0:SIDE]
    rng = np.random.default_rng(1)
    a = (np.round(100 * np.sin(x / 50.0) * np.cos(y / 70.0) + 1000)
         + rng.integers(0, 4, (SIDE, SIDE))).astype(np.float32)
    raw = a.tobytes()
    packed = zlib.compress(raw)
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "peer.raw")
        a.tofile(path)
        result = {
            "numpy tofile": median_ms(lambda: a.tofile(path)),
            "numpy fromfile": median_ms(lambda: np.fromfile(path, dtype=np.float32)),
        }
    result["python zlib.compress"] = median_ms(lambda: zlib.compress(raw), 1, 0)
    result["python zlib.decompress"] = median_ms(lambda: zlib.decompress(packed))
    return result


def line(what, ours, ref_name, ref):
    print(f"{what:<28} {ours:9.1f} ms  vs {ref_name:<30} {ref:9.1f} ms  ratio {ours / ref:5.2f}")


def main(build_dir):
    t = bench(build_dir)
    p = peers()
    print(f"4096 x 4096 float ({SIDE * SIDE * 4 >> 20} MiB), wall-clock medians")
    line("write, uncompressed", t["BM_Write/0"], "copy file to file", t["BM_CopyFileToFile"])
    line("read, uncompressed", t["BM_Read/0"], "copy file to file", t["BM_CopyFileToFile"])
    line("write, compressed", t["BM_Write/1"], "zlib compress", t["BM_ZlibCompress"])
    line("read, compressed", t["BM_Read/1"], "zlib uncompress", t["BM_ZlibUncompress"])
    line("read, compressed", t["BM_Read/1"], "zlib uncompress, fresh output",
         t["BM_ZlibUncompressFresh"])
    if p:
        line("write, uncompressed", t["BM_Write/0"], "numpy tofile", p["numpy tofile"])
        line("read, uncompressed", t["BM_Read/0"], "numpy fromfile", p["numpy fromfile"])
        line("write, compressed", t["BM_Write/1"], "python zlib.compress",
             p["python zlib.compress"])
        line("read, compressed", t["BM_Read/1"], "python zlib.decompress",
             p["python zlib.decompress"])


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else
         str(pathlib.Path(__file__).resolve().parent.parent / "build"))
