"""Every function against its subcommand: the same input files, the same
options, the same bytes out. The Python side reads its inputs as read-only
memory maps, so an operator that wrote into an input would fault here."""

import numpy as np
import pytest

import tamo
from conftest import blobs, needs_tool, run_tool

A = blobs()
B = blobs(seed=2)[::-1].copy()
SIGNED = A - 100
COLOUR = np.stack([A, B, A[:, ::-1]])
COMPLEX = (A + 1j * B).astype(np.complex64)
HOG = tamo.hog(A)

# (command, inputs, keywords); several cases per command where options
# choose different paths.
CASES = [
    ("dog", [A], {}),
    ("dog", [A], {"sigma": 3, "order": 1, "direction": 1}),
    ("dog", [A.astype(np.uint8)], {"sigma": 2.5, "order": 2, "direction": 2}),
    ("dog", [COLOUR], {"sigma": -1.5, "direction": 3}),
    ("pad", [COLOUR], {"rows": 3, "cols": 2, "frame": 1}),
    ("curv", [A], {"sigma": 1.5}),
    ("laplace", [A], {"sigma": -2}),
    ("qvar", [A], {}),
    ("gmag", [A], {"sigma": 2}),
    ("gmag", [A.astype(">f4")], {}),
    ("gdir", [A], {}),
    ("harris", [A], {"sigma": 1.2}),
    ("markmax", [A], {"sigma": 2}),
    ("abs", [SIGNED], {}),
    ("adds", [A], {"value": 2.5}),
    ("adds", [A.astype(np.int64)], {"value": 1}),
    ("mults", [SIGNED], {"value": -3}),
    ("exp", [A], {"scale": 50}),
    ("ln", [SIGNED], {}),
    ("sqrt", [A], {}),
    ("inv", [A], {}),
    ("cp", [A.astype(np.int16)], {}),
    ("crcopy", [A.astype(np.uint16)], {}),
    ("ifneg", [SIGNED], {}),
    ("ifneg", [A], {}),
    ("intcp", [A.astype(np.int32)], {"colour": True}),
    ("gray", [COLOUR], {}),
    ("addv", [A, B], {}),
    ("multv", [COMPLEX, COMPLEX[::-1].copy()], {}),
    ("divv", [A, B], {}),
    ("atan2", [SIGNED, B], {}),
    ("add", [A, B], {"dr": 2, "dc": -3}),
    ("sub", [COLOUR, COLOUR[::-1].copy()], {"dr": -1}),
    ("mul", [A, B[:40, :50].copy()], {"dc": 5}),
    ("div", [A, B], {"dr": 4, "dc": 4}),
    ("histeq", [A], {}),
    ("histeq", [COLOUR], {"neighbourhood": 3}),
    ("correlate", [A, A[20:30, 15:27].copy()], {}),
    ("pcon", [A[:32, :32].copy(), B[:32, :32].copy()], {"t2": 0.3, "dlt": 0.9}),
    ("ccl", [A], {}),
    ("ccl", [A > 60], {"minval": 1, "maxval": 2}),
    ("ccl", [COLOUR], {"thresh": 5, "minval": 30, "erase_small": 3, "type": "u16bit"}),
    ("hog", [COLOUR], {}),
    ("showhog", [HOG], {}),
    ("fft", [A], {}),
    ("ifft", [COMPLEX], {}),
    ("mag", [COMPLEX], {}),
    ("phase", [COMPLEX], {"type": "64flt"}),
    ("real", [COMPLEX], {"type": "u8bit"}),
    ("imag", [COMPLEX], {}),
    ("vidscale", [COLOUR], {"per_frame": True}),
    ("colormap", [A], {"map": 3}),
    ("colormap", [A.astype(np.int32)], {"labels": 8, "seed": 5}),
    ("resize", [A], {"rows": 40, "cols": 50}),
    ("resize", [COLOUR], {"rows": 80, "cols": 30, "mode": 1}),
]


def test_every_function_has_a_case():
    functions = {name for name in tamo.__all__ if callable(getattr(tamo, name))}
    functions -= {"Error", "read", "write", "info", "set_threads", "memmap"}
    assert functions == {case[0] for case in CASES}


def tool_options(keywords):
    words = []
    for key, value in keywords.items():
        option = "--" + key.replace("_", "-")
        words += [option] if value is True else [option, value]
    return words


@needs_tool
@pytest.mark.parametrize("name,inputs,keywords", CASES,
                         ids=[f"{c[0]}-{i}" for i, c in enumerate(CASES)])
def test_same_bytes_as_the_tool(tmp_path, name, inputs, keywords):
    files = []
    for i, array in enumerate(inputs):
        files.append(tmp_path / f"in{i}.npy")
        np.save(files[-1], array)
    mapped = [np.load(f, mmap_mode="r") for f in files]
    result = getattr(tamo, name)(*mapped, **keywords)
    if name == "ifneg":
        assert run_tool(name, *files) == f"{int(result)}\n"
        return
    out = tmp_path / "out.npy"
    extra = ["--data-out", tmp_path / "data.npy"] if name == "pcon" else []
    printed = run_tool(name, *files, out, *tool_options(keywords), *extra)
    results = result if isinstance(result, tuple) else (result,)
    expected = [np.load(out)]
    if name == "pcon":
        expected.append(np.load(tmp_path / "data.npy"))
    if name == "ccl":
        assert printed.endswith(f"found {results[1]} labels\n")
        results = results[:1]
    assert len(results) == len(expected)
    for got, want in zip(results, expected):
        assert (got.dtype, got.shape) == (want.dtype, want.shape)
        assert got.tobytes() == want.tobytes()
    for array, f in zip(inputs, files):
        assert np.load(f).tobytes() == array.tobytes()
