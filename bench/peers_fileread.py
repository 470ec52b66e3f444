#!/usr/bin/env python3
"""Reading a 4096 x 4096 PNG into a slot (decoding, the "float" record, the
statistics and the console summary) against the toolkit's decoding of the
same file alone (QImage::load), both timed by bench_fileread in one run.

Usage: python3 bench/peers_fileread.py BUILD_DIR
Prints ours ms, reference ms and the ratio (ours / reference) as wall-clock
and CPU-time medians (CPU time is the steadier one on a shared machine).
"""
import json
import os
import pathlib
import subprocess
import sys


def main(build_dir):
    program = pathlib.Path(build_dir) / "bench_fileread"
    if not program.exists():
        sys.exit(f"peers_fileread: {program} not found (build the bench_fileread target)")
    env = dict(os.environ)
    env.setdefault("QT_QPA_PLATFORM", "offscreen")
    out = subprocess.run(
        [str(program), "--benchmark_format=json", "--benchmark_repetitions=5",
         "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True, env=env).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        name = "/".join(p for p in b["run_name"].split("/") if p != "real_time")
        times[name] = (b["real_time"] * scale, b["cpu_time"] * scale)
    ref = times["BM_QImageLoad"]
    for case, label in (("BM_ReadIntoSlot/undo:0", "into a slot"),
                        ("BM_ReadIntoSlot/undo:1", "into a slot + undo copy")):
        ours = times[case]
        for kind, i in (("wall-clock", 0), ("CPU time", 1)):
            print(f"PNG 4096 x 4096 {label:<23} {kind:<10} {ours[i]:8.1f} ms  vs QImage::load "
                  f"{ref[i]:7.1f} ms  ratio {ours[i] / ref[i]:5.2f}", flush=True)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else
         str(pathlib.Path(__file__).resolve().parent.parent / "build"))
