#!/usr/bin/env python3
"""Forward 2-D Fourier transform of square complex64 images: bench_fft against
numpy.fft.fft2, scipy.fft.fft2 (one worker) and cv2.dft (one thread) on the same
sizes, in one run.

Usage: python3 bench/peers_fft.py BUILD_DIR
Prints one line per size and peer: name, ours ms, peer ms, ratio (ours / peer;
below 1 means faster than the peer).
"""
import os
import pathlib
import sys

import peerlib

SIZES = [256, 512, 1024, 2048]


def ours(build_dir, size):
    return peerlib.benchmark_median_ms(build_dir, "bench_fft", f"BM_ForwardFFT/{size}")


def peers_missing():
    try:
        import numpy  # noqa: F401
        import scipy.fft  # noqa: F401
        import cv2  # noqa: F401
    except ImportError:
        return True
    return False






def peers(size):
    import cv2
    import numpy as np
    import scipy.fft

    cv2.setNumThreads(1)
    rng = np.random.default_rng(42)
    a = (rng.uniform(-1, 1, (size, size)) + 1j * rng.uniform(-1, 1, (size, size))).astype(
        np.complex64)
    planes = np.ascontiguousarray(np.stack([a.real, a.imag], axis=-1), dtype=np.float32)
    return {
        "numpy.fft.fft2": peerlib.median_ms(lambda: np.fft.fft2(a)),
        "scipy.fft.fft2(workers=1)": peerlib.median_ms(lambda: scipy.fft.fft2(a, workers=1)),
        "cv2.dft": peerlib.median_ms(lambda: cv2.dft(planes, flags=cv2.DFT_COMPLEX_OUTPUT)),
    }


def main(build_dir):
    if peers_missing():
        peerlib.rerun_with_system_python(__file__, build_dir, "peers_fft: numpy, scipy and cv2 are needed (scripts/setup bench)")
        return

    # Ours and the peers of one size are timed back to back, so that both see
    # the same load on a shared machine.
    print(f"{'forward FFT, complex64':36} {'ours ms':>9} {'peer ms':>9} {'ratio':>7}")
    for size in SIZES:
        mine = ours(build_dir, size)
        for name, ms in peers(size).items():
            label = f"{size}x{size} {name}"
            print(f"{label:36} {mine:9.2f} {ms:9.2f} {mine / ms:7.2f}", flush=True)


if __name__ == "__main__":
    os.environ.setdefault("TAMO_THREADS", "1")
    os.environ.setdefault("OMP_NUM_THREADS", "1")
    main(sys.argv[1] if len(sys.argv) > 1 else
         str(pathlib.Path(__file__).resolve().parent.parent / "build"))
