#!/usr/bin/env python3
"""Reading and writing a 4096 x 4096 "float" image in the own format: bench_io
against its floors measured in the same program (copying the same bytes file
to file; zlib's one-call compress/uncompress of the same bytes), and against
NumPy (tofile/fromfile) and Python's zlib on the same bytes, in one run.

Usage: python3 bench/peers_io.py BUILD_DIR
The plain writes (BM_Write, NumPy's tofile) are not synced to the disk; the
save (BM_SaveFile: atomic replacement as the programs save, with fsync) is
compared with tofile followed by fsync. The compressed write at two threads
is a wall-clock figure (the CPU column counts the calling thread only).

Prints one line per comparison: ours ms, reference ms, ratio (ours / reference;
below 1 means faster than the reference), as wall-clock medians and, for the
in-program floors, also as CPU-time medians (steadier on a shared machine).
"""
import json
import os
import pathlib
import statistics
import subprocess
import sys

import peerlib
import tempfile
import time

SIDE = 4096


def bench(build_dir):
    """Median (real ms, CPU ms) of every benchmark of bench_io, by name."""
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
        times[name] = (b["real_time"] * scale, b["cpu_time"] * scale)
    return times


def median_ms(fn, min_runs=3, min_seconds=2.0):
    """Median (wall ms, CPU ms) of calls of fn."""
    fn()
    walls, cpus = [], []
    start = time.perf_counter()
    while len(walls) < min_runs or time.perf_counter() - start < min_seconds:
        w0, c0 = time.perf_counter(), time.process_time()
        fn()
        walls.append((time.perf_counter() - w0) * 1e3)
        cpus.append((time.process_time() - c0) * 1e3)
        if len(walls) >= 20:
            break
    return statistics.median(walls), statistics.median(cpus)


def numpy_missing():
    try:
        import numpy  # noqa: F401
    except ImportError:
        return True
    return False


def peers():
    import zlib

    import numpy as np

    y, x = np.mgrid[0:SIDE, 0:SIDE]
    rng = np.random.default_rng(1)
    a = (np.round(100 * np.sin(x / 50.0) * np.cos(y / 70.0) + 1000)
         + rng.integers(0, 4, (SIDE, SIDE))).astype(np.float32)
    raw = a.tobytes()
    packed = zlib.compress(raw)
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "peer.raw")
        a.tofile(path)
        def tofile_fsync():
            with open(path, "wb") as f:
                a.tofile(f)
                f.flush()
                os.fsync(f.fileno())

        result = {
            "numpy tofile": median_ms(lambda: a.tofile(path)),
            "numpy tofile + fsync": median_ms(tofile_fsync),
            "numpy fromfile": median_ms(lambda: np.fromfile(path, dtype=np.float32)),
        }
    w0, c0 = time.perf_counter(), time.process_time()
    zlib.compress(raw)  # slow at the default level: timed once
    result["python zlib.compress"] = ((time.perf_counter() - w0) * 1e3,
                                      (time.process_time() - c0) * 1e3)
    result["python zlib.decompress"] = median_ms(lambda: zlib.decompress(packed))
    return result


def line(what, ours, ref_name, ref):
    print(f"{what:<24} {ours:9.1f} ms  vs {ref_name:<30} {ref:9.1f} ms  ratio {ours / ref:5.2f}",
          flush=True)


def main(build_dir):
    if numpy_missing():
        peerlib.rerun_with_system_python(__file__, build_dir, "peers_io: numpy is needed (scripts/setup bench)")
        return

    t = bench(build_dir)
    pairs = [
        ("write, uncompressed", "BM_Write/0", "copy file to file", "BM_CopyFileToFile"),
        ("read, uncompressed", "BM_Read/0", "copy file to file", "BM_CopyFileToFile"),
        ("write, compressed", "BM_Write/1", "zlib compress", "BM_ZlibCompress"),
        ("read, compressed", "BM_Read/1", "zlib uncompress", "BM_ZlibUncompress"),
        ("read, compressed", "BM_Read/1", "zlib uncompress, fresh output",
         "BM_ZlibUncompressFresh"),
        ("write, compressed, 1 th", "BM_WriteCompressedThreads/1", "zlib compress",
         "BM_ZlibCompress"),
        ("write, compressed, 2 th", "BM_WriteCompressedThreads/2", "zlib compress",
         "BM_ZlibCompress"),
    ]
    print(f"4096 x 4096 float ({SIDE * SIDE * 4 >> 20} MiB)")
    for kind, index in (("wall-clock", 0), ("CPU time", 1)):
        print(f"-- in-program floors, {kind} medians")
        for what, ours, ref_name, ref in pairs:
            line(what, t[ours][index], ref_name, t[ref][index])
    p = peers()
    peer_pairs = [
        ("write, uncompressed", "BM_Write/0", "numpy tofile"),
        ("save, uncompressed", "BM_SaveFile/0", "numpy tofile + fsync"),
        ("read, uncompressed", "BM_Read/0", "numpy fromfile"),
        ("write, compressed", "BM_Write/1", "python zlib.compress"),
        ("read, compressed", "BM_Read/1", "python zlib.decompress"),
    ]
    for kind, index in (("wall-clock", 0), ("CPU time", 1)):
        print(f"-- NumPy and Python's zlib, {kind} medians")
        for what, ours, peer in peer_pairs:
            line(what, t[ours][index], peer, p[peer][index])


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else
         str(pathlib.Path(__file__).resolve().parent.parent / "build"))
