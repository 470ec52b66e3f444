"""Shared builders and the built tool for the package's tests."""

import os
import subprocess

import numpy as np
import pytest


def tool():
    """The tamo tool of the same build (TAMO_CLI), or None."""
    path = os.environ.get("TAMO_CLI")
    return path if path and os.access(path, os.X_OK) else None


def run_tool(*args):
    """Runs the tool; its standard output as text (a failure fails the test)."""
    done = subprocess.run([tool(), *map(str, args)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return done.stdout


needs_tool = pytest.mark.skipif(tool() is None, reason="TAMO_CLI names no built tamo tool")


def blobs(rows=64, cols=64, seed=1):
    """A float32 picture of bright blobs on a dim noisy ground, values 0..255:
    regions for labelling, edges and extremes for the filters."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[:rows, :cols].astype(np.float64)
    img = 20 + rng.uniform(0, 4, (rows, cols))
    for cy, cx, r, v in ((0.3, 0.3, 0.12, 180), (0.65, 0.7, 0.15, 120), (0.75, 0.25, 0.08, 220)):
        img += v * np.exp(-((y - cy * rows) ** 2 + (x - cx * cols) ** 2) / (r * rows) ** 2)
    return np.clip(img, 0, 255).astype(np.float32)
