#!/usr/bin/env python3
"""tamo.dask at scale:

1. memory: a SIDE x SIDE float32 image (16384: 1 GiB) blurred (tamo.dask.dog,
   sigma 2) from a memory-mapped own-format file into another in 2048 x 2048
   tiles on the threaded scheduler; the peak of the process's anonymous
   memory (RssAnon, sampled every 5 ms; the mapped files' pages do not count)
   against 600 MB;
2. processes: the tiled DoG (sigma 3, WORK_SIDE x WORK_SIDE, 8192 by
   default, memory map to memory map in 2048 x 2048 tiles) on a LocalCluster
   of 2 worker processes against 1 (one thread each, TAMO_THREADS=1), at
   least 1.7 times faster;
3. tiling overhead: the same tiles from memory into memory on Dask's
   single-threaded scheduler against tamo.dog on the whole image in memory
   (also one thread), at most 1.3 times slower.

Wall-clock times (best of REPEATS runs); the load average is printed with
them: on a shared machine the process ratio needs two idle cores.

Usage: python3 bench/peers_dask.py [BUILD_DIR] [--side N] [--work-side N]
(the package built in BUILD_DIR/python by the normal build; scripts/setup
python)
"""
import argparse
import os
import pathlib
import sys
import tempfile
import threading
import time

REPEATS = 3
TILE = 2048


def rss_anon():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("RssAnon:"):
                return int(line.split()[1]) * 1024
    return 0


class PeakMemory:
    """Samples RssAnon while the block runs."""

    def __enter__(self):
        self.peak, self._done = rss_anon(), threading.Event()
        self._thread = threading.Thread(target=self._watch)
        self._thread.start()
        return self

    def _watch(self):
        while not self._done.wait(0.005):
            self.peak = max(self.peak, rss_anon())

    def __exit__(self, *exc):
        self._done.set()
        self._thread.join()


def make_source(tamo, np, path, side):
    """A noisy float32 image of side x side, written in strips."""
    mapped = tamo.memmap(path, mode="w+", shape=(side, side), dtype=np.float32)
    rng = np.random.default_rng(5)
    for r in range(0, side, 512):
        mapped[r:r + 512] = rng.uniform(0, 255, (min(512, side - r), side)).astype(np.float32)
    mapped.flush()


def best_seconds(fn):
    times = []
    for _ in range(REPEATS):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir", nargs="?",
                        default=str(pathlib.Path(__file__).resolve().parent.parent / "build"))
    parser.add_argument("--side", type=int, default=16384)
    parser.add_argument("--work-side", type=int, default=8192)
    args = parser.parse_args()
    sys.path.insert(0, str(pathlib.Path(args.build_dir) / "python"))
    os.environ["TAMO_THREADS"] = "1"
    import dask.array as da
    import distributed
    import numpy as np

    import tamo
    import tamo.dask as td

    with tempfile.TemporaryDirectory(dir=os.environ.get("TMPDIR", "/var/tmp")) as folder:
        folder = pathlib.Path(folder)
        # 1. Memory.
        make_source(tamo, np, folder / "big.tamo", args.side)
        image = da.from_array(tamo.memmap(folder / "big.tamo"), chunks=(TILE, TILE))
        out = tamo.memmap(folder / "big-out.tamo", mode="w+", shape=image.shape,
                          dtype=np.float32)
        start_rss = rss_anon()
        start = time.perf_counter()
        with PeakMemory() as memory:
            da.store(td.dog(image, sigma=2.0), out, lock=False, scheduler="threads",
                     num_workers=2)
        seconds = time.perf_counter() - start
        out.flush()
        del out, image
        os.unlink(folder / "big.tamo")
        os.unlink(folder / "big-out.tamo")

        # 2. Processes: memory map to memory map, so that the workers read
        # and write the files themselves.
        side = args.work_side
        make_source(tamo, np, folder / "work.tamo", side)
        work = da.from_array(tamo.memmap(folder / "work.tamo"), chunks=(TILE, TILE))
        targets = []

        def store():
            # A new map each time: Dask names the stores after the target, and
            # the same names twice would meet the last run's results.
            targets.append(tamo.memmap(folder / "work-out.tamo", mode="r+"))
            da.store(td.dog(work, sigma=3.0), targets[-1], lock=False)

        tamo.memmap(folder / "work-out.tamo", mode="w+", shape=work.shape, dtype=np.float32)
        on_workers = {}
        for workers in (1, 2):
            with distributed.LocalCluster(n_workers=workers, threads_per_worker=1,
                                          processes=True, dashboard_address=None,
                                          silence_logs=40) as cluster, \
                    distributed.Client(cluster) as client:
                client.run(tamo.set_threads, 1)
                on_workers[workers] = best_seconds(store)
        whole_image = np.array(tamo.memmap(folder / "work.tamo"))
        whole = tamo.dog(whole_image, sigma=3.0)
        assert np.array_equal(np.asarray(targets[-1]), whole)
        del targets

        # 3. Tiling overhead: the same tiles from memory into memory on one
        # thread against the whole image.
        tamo.set_threads(1)
        in_memory = best_seconds(lambda: tamo.dog(whole_image, sigma=3.0))
        tiles = td.dog(da.from_array(whole_image, chunks=(TILE, TILE)), sigma=3.0)
        one_thread = best_seconds(lambda: da.store(tiles, whole, lock=False, scheduler="sync"))

    load = " ".join(f"{v:.2f}" for v in os.getloadavg())
    print(f"load average {load}")
    mb = 2**20
    verdict = "ok" if memory.peak < 600 * mb else "MISSED"
    print(f"memory: {args.side} x {args.side} float32 file to file in {TILE} x {TILE} tiles, "
          f"{seconds:.1f} s: RssAnon peak {memory.peak / mb:.0f} MB (at start "
          f"{start_rss / mb:.0f} MB)  goal < 600 MB {verdict}")
    speedup = on_workers[1] / on_workers[2]
    verdict = "ok" if speedup >= 1.7 else "MISSED"
    print(f"processes: tiled DoG sigma 3, {side} x {side}: 1 worker {on_workers[1]:.2f} s, "
          f"2 workers {on_workers[2]:.2f} s: speed-up {speedup:.2f}  goal >= 1.7 {verdict}")
    overhead = one_thread / in_memory
    verdict = "ok" if overhead <= 1.3 else "MISSED"
    print(f"overhead: tiled on one thread {one_thread:.2f} s, whole image in memory "
          f"{in_memory:.2f} s: ratio {overhead:.2f}  goal <= 1.3 {verdict}")


if __name__ == "__main__":
    main()
