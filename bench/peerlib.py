"""Helpers shared by the bench/peers_*.py scripts."""
import json
import os
import pathlib
import statistics
import subprocess
import sys
import time

# The peers (NumPy, SciPy, OpenCV) come from the system's packages
# (scripts/setup bench); another python3 on PATH may not see them.
SYSTEM_PYTHON = "/usr/bin/python3"


def rerun_with_system_python(script, build_dir, missing_message):
    """Runs `script` again under the system's interpreter, where the peers are
    installed, and ends this process when that fails; ends with
    `missing_message` when there is no other interpreter to try."""
    if os.path.exists(SYSTEM_PYTHON) and os.path.realpath(sys.executable) != os.path.realpath(
            SYSTEM_PYTHON):
        status = subprocess.run([SYSTEM_PYTHON, script, str(build_dir)]).returncode
        if status:
            sys.exit(status)
        return
    sys.exit(missing_message)


def benchmark_median_times(build_dir, program_name, case, env=None):
    """Median (CPU ms, real ms) of the Google Benchmark `case` (e.g.
    "BM_X/1024") of the program `program_name` in `build_dir`, over five
    repetitions."""
    program = pathlib.Path(build_dir) / program_name
    if not program.exists():
        sys.exit(f"{program} not found (build the {program_name} target)")
    out = subprocess.run(
        [str(program), "--benchmark_format=json", f"--benchmark_filter=^{case}/",
         "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True, env=env).stdout
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
            return b["cpu_time"] * scale, b["real_time"] * scale
    sys.exit(f"{program_name} reported no {case}")


def benchmark_median_ms(build_dir, program_name, case, env=None):
    """Median real time in ms of `case` (see benchmark_median_times)."""
    return benchmark_median_times(build_dir, program_name, case, env)[1]


def median_ms(fn, min_runs=5, min_seconds=1.0):
    """Median wall time in ms of fn() after one warm-up call (first-call set-up
    and page faults), over at least min_runs calls and min_seconds."""
    fn()
    samples = []
    start = time.perf_counter()
    while len(samples) < min_runs or time.perf_counter() - start < min_seconds:
        t0 = time.perf_counter()
        fn()
        samples.append((time.perf_counter() - t0) * 1e3)
        if len(samples) >= 50:
            break
    return statistics.median(samples)
