"""The package's own behaviour: refusals, memory, files, threads, Ctrl-C and
the help texts, against the tool where it has the truth."""

import os
import pathlib
import signal
import threading

import numpy as np
import pytest

import tamo
from conftest import blobs, needs_tool, run_tool, tool

A = blobs()
BAD = pathlib.Path(__file__).resolve().parents[2] / "tests" / "data" / "bad"


def test_refusals_carry_the_reason_and_the_code():
    cases = [
        # (call, code, words of the reason)
        (lambda: tamo.dog(A[:4, :4], sigma=3), -5,
             "flDoG: the image has fewer rows than the kernel needs (code -5)"),
        (lambda: tamo.dog(A, order=5), 2, "--order must be 0 to 3"),
        (lambda: tamo.dog(A, sigma="wide"), 2, "--sigma needs a number, not 'wide'"),
        (lambda: tamo.dog(A, order=1.5), 2, "--order needs an integer, not '1.5'"),
        (lambda: tamo.pcon(A, A, t2=0), 2, "--t2 must be above 0"),
        (lambda: tamo.dog(A.astype(np.float16)), 1, "'<f2' has no matching image data type"),
        (lambda: tamo.dog(A[0]), 2, "2 or 3 dimensions"),
        (lambda: tamo.resize(A, rows=3), 2, "--rows and --cols are required"),
        (lambda: tamo.mag(A), 1, "must be complex"),
        (lambda: tamo.dog(A, out=np.zeros((2, 2), np.float32)), 2, "out= must be"),
        (lambda: tamo.dog(A, sigma=True), 2, "needs a value, not True"),
        # Paths on which the library would end the process.
        (lambda: tamo.intcp(A), -1, "stopped by a fatal library error (status -1)"),
        (lambda: tamo.pcon(A, A[:32, :32]), 0, "stopped by a fatal library error (status 0)"),
    ]
    for call, code, words in cases:
        with pytest.raises(tamo.Error) as caught:
            call()
        assert isinstance(caught.value, ValueError)
        assert words in str(caught.value)
        assert caught.value.code == code, words
    # The interpreter is still here, and the library still works.
    assert tamo.abs(-A).tobytes() == A.tobytes()


def test_files_refused_with_the_matching_oserror(tmp_path):
    with pytest.raises(FileNotFoundError):
        tamo.read(tmp_path / "missing.tamo")
    with pytest.raises(IsADirectoryError):
        tamo.read(tmp_path)
    with pytest.raises(FileNotFoundError):
        tamo.write(tmp_path / "no" / "such.tamo", A)
    with pytest.raises(FileNotFoundError):
        tamo.ccl(A, areas=tmp_path / "no" / "areas.txt")
    with pytest.raises(FileNotFoundError):
        tamo.dog(tmp_path / "missing.tif")
    tamo.write(tmp_path / "a.tif", A)
    assert tamo.dog(tmp_path / "a.tif").tobytes() == tamo.dog(A).tobytes()
    damaged = tmp_path / "damaged.tamo"
    damaged.write_bytes(b"TAM" + bytes(100))
    with pytest.raises(tamo.Error, match="cannot read"):
        tamo.read(damaged)
    if os.geteuid() != 0:
        locked = tmp_path / "locked.tamo"
        tamo.write(locked, A)
        locked.chmod(0)
        with pytest.raises(PermissionError):
            tamo.read(locked)


@needs_tool
def test_files_round_trip_as_the_tool_converts(tmp_path):
    types = {"u8bit": np.uint8, "8bit": np.int8, "u16bit": np.uint16, "16bit": np.int16,
             "32bit": np.int32, "float": np.float32, "64flt": np.float64,
             "32cmp": np.complex64, "64cmp": np.complex128}
    for name, dtype in types.items():
        for suffix in (".tamo", ".npy"):
            path = tmp_path / f"img-{name}{suffix}"
            tamo.write(path, A.astype(dtype), compress=False)
            back = tamo.read(path)
            assert back.dtype == dtype and back.tobytes() == A.astype(dtype).tobytes()
            if name[-3:] != "cmp":
                # Converted by the library, as tamo convert --type does.
                tamo.write(path, A, type=name)
                assert tamo.read(path).tobytes() == back.tobytes()
            # The tool reads the same image from it.
            run_tool("convert", path, tmp_path / "tool.npy")
            assert np.load(tmp_path / "tool.npy").tobytes() == back.tobytes()
    with pytest.raises(tamo.Error, match="s8bit3|no NumPy dtype"):
        tamo.read(tmp_path / "img-float.tamo", type="s8bit3")
    # A picture reads as the workbench reads it: float32 (3, rows, columns).
    tamo.write(tmp_path / "picture.png", np.stack([A, A, A]))
    picture = tamo.read(tmp_path / "picture.png")
    assert picture.dtype == np.float32 and picture.shape == (3,) + A.shape
    assert np.array_equal(picture[1], np.clip(np.rint(A), 0, 255))
    stats = tamo.info(tmp_path / "img-float.tamo")
    assert stats["dimensions"] == (A.shape[1], A.shape[0])
    assert stats["frames"][0]["max"] == float(A.max())


def test_memory_in_place_strided_and_owned():
    result = tamo.abs(A)
    # The result owns the library's record: no copy on the way back.
    assert type(result.base).__name__ == "PyCapsule" and result.flags.writeable
    # Strided views and other dtypes are converted as files of them would be.
    view = A[::2, 1::3]
    assert tamo.dog(view, sigma=1).tobytes() == tamo.dog(view.copy(), sigma=1).tobytes()
    frozen = A.copy()
    frozen.flags.writeable = False
    estimate, data = tamo.pcon(frozen, frozen, t2=0.3, dlt=0.9)
    assert np.array_equal(frozen, A) and not np.array_equal(data, A)
    out = np.empty_like(A)
    assert tamo.gmag(A, sigma=2, out=out) is out
    assert out.tobytes() == tamo.gmag(A, sigma=2).tobytes()
    assert isinstance(tamo.ifneg(A - 300), bool) and tamo.ifneg(A - 300)
    labels, count = tamo.ccl(A)
    assert labels.dtype == np.int32 and isinstance(count, int)


def test_threads_run_side_by_side_with_their_own_errors(tmp_path):
    images = [blobs(128, 128, seed) for seed in range(6)]
    alone = [tamo.dog(img, sigma=2) for img in images]
    # Damaged files whose refusal names the library's error number: each
    # thread must see its own, while the others read good files.
    bad = sorted(BAD.glob("*_le.tam"))[:6]
    good = tmp_path / "good.tamo"
    tamo.write(good, A)

    def refusal(path):
        try:
            tamo.read(path)
        except tamo.Error as e:
            return str(e)
        return None

    reasons = [refusal(path) for path in bad]
    found = [None] * len(images)
    seen = [[] for _ in images]

    def work(i):
        for _ in range(20):
            found[i] = tamo.dog(images[i], sigma=2)
            seen[i].append(refusal(bad[i]))
            seen[i].append(tamo.read(good).tobytes() == A.tobytes())

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(images))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(f.tobytes() == a.tobytes() for f, a in zip(found, alone))
    assert all(s == [r, True] * 20 for s, r in zip(seen, reasons))
    tamo.set_threads(1)
    try:
        assert tamo.dog(images[0], sigma=2).tobytes() == alone[0].tobytes()
    finally:
        tamo.set_threads(None)


def test_ctrl_c_stops_a_long_computation():
    big = blobs(1024, 1024)
    for call in (lambda: tamo.pcon(big, big, t2=1e-4, dlt=0.999),
                 lambda: tamo.histeq(big, neighbourhood=60)):
        timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
        timer.start()
        try:
            with pytest.raises(KeyboardInterrupt):
                call()
        finally:
            timer.cancel()
    assert np.array_equal(big, blobs(1024, 1024))


@needs_tool
def test_help_version_and_stub_come_from_the_tool():
    for name in tamo.__all__:
        function = getattr(tamo, name)
        if callable(function) and name not in ("Error", "read", "write", "info", "set_threads", "memmap"):
            assert function.__doc__ == run_tool(name, "--help")
    assert run_tool("--version") == f"tamo {tamo.__version__}\n"
    stub = pathlib.Path(tamo.__file__).with_name("__init__.pyi")
    from tamo import _stub
    assert stub.read_text() == _stub.stub_text()
