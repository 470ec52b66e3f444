"""The worked example of docs/python.md runs as written, on a TIFF stack made
from a real picture; TAMO_SCREENSHOT_DIR keeps the picture it draws."""

import os
import pathlib
import re
import shutil

import numpy as np
import pytest

import tamo

DOC = pathlib.Path(__file__).resolve().parents[2] / "docs" / "python.md"


def test_worked_example(tmp_path, monkeypatch, capsys):
    data = pytest.importorskip("skimage.data")
    pytest.importorskip("matplotlib").use("Agg")
    section = DOC.read_text().split("## A worked example", 1)[1]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    coins = data.coins().astype(np.float64) * 16
    noise = np.random.default_rng(3).normal(0, 40, (4,) + coins.shape)
    tamo.write(tmp_path / "coins.tif", np.clip(coins + noise, 0, 65535).astype(np.uint16))
    monkeypatch.chdir(tmp_path)
    exec(compile(code, str(DOC), "exec"), {})
    printed = capsys.readouterr().out
    coins_found = int(re.search(r"labels, (\d+) coins", printed).group(1))
    # The picture has 24 coins; a few touch each other, and dark ones split.
    assert 18 <= coins_found <= 30, printed
    if os.environ.get("TAMO_SCREENSHOT_DIR"):
        shutil.copyfile(tmp_path / "coins-labelled.png",
                        pathlib.Path(os.environ["TAMO_SCREENSHOT_DIR"]) / "python-example.png")
