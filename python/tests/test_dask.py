"""tamo.dask against the whole-image functions, bit for bit, and
tamo.memmap: tiles over any chunking equal tamo.<op> on the whole image, on
threads and on worker processes, and a memory-mapped image filtered into a
memory-mapped file in tiles stays within a bound of anonymous memory."""

import os
import threading

import numpy as np
import pytest

import tamo
from conftest import blobs

da = pytest.importorskip("dask.array")
pytest.importorskip("distributed")
import tamo.dask as td  # noqa: E402

IMG = blobs(70, 53)
COLOUR = np.stack([blobs(70, 53, seed=s) for s in (2, 3, 4)])
OTHER = blobs(70, 53, seed=9) + 1
LEVELS = np.round(IMG).astype(np.uint8)  # whole levels: the library's byte path
TEMPLATE = blobs(20, 20)[4:11, 6:12].copy()
# Many small regions, holes, and regions joined to pixels above the band.
NOISE = np.random.default_rng(5).integers(0, 40, (70, 53)).astype(np.float32)

# (operator, images, keywords). Sigma 1 needs 18-row chunks, 1.4 (K = 5) 22:
# the chunkings below are smaller and make the merging work.
CASES = [
    ("dog", (IMG,), {"sigma": 1.0}),
    ("dog", (IMG,), {"sigma": 1.4, "order": 3, "direction": 1}),
    ("dog", (IMG,), {"sigma": 1.0, "order": 2, "direction": 2}),
    ("dog", (IMG,), {"sigma": -1.0, "direction": 3}),
    ("dog", (COLOUR,), {"sigma": 1.0, "order": 1}),
    ("curv", (IMG,), {"sigma": 1.0}),
    ("laplace", (IMG,), {"sigma": -1.4}),
    ("qvar", (IMG,), {"sigma": 1.0}),
    ("gmag", (COLOUR,), {"sigma": 1.0}),
    ("gdir", (IMG,), {"sigma": 1.0}),
    ("harris", (IMG,), {"sigma": 1.0}),
    ("markmax", (IMG,), {"sigma": 1.0}),
    ("markmax", (COLOUR,), {"sigma": 0}),
    ("histeq", (IMG,), {"neighbourhood": 4}),
    ("histeq", (COLOUR,), {"neighbourhood": 2}),
    ("histeq", (IMG,), {}),
    ("histeq", (LEVELS,), {}),
    ("histeq", (COLOUR,), {}),
    ("histeq", (COLOUR[:2],), {}),
    ("abs", (IMG - 100,), {}),
    ("adds", (IMG,), {"value": 0.3}),
    ("mults", (IMG,), {"value": -1.7}),
    ("exp", (IMG,), {"scale": 40}),
    ("ln", (OTHER,), {}),
    ("gray", (COLOUR,), {}),
    ("intcp", (LEVELS.astype(np.int32),), {"colour": True}),
    ("cp", (IMG,), {}),
    ("crcopy", (LEVELS,), {}),
    ("real", ((IMG + 1j * OTHER).astype(np.complex64),), {}),
    ("mag", ((IMG + 1j * OTHER).astype(np.complex64),), {}),
    ("phase", ((IMG + 1j * OTHER).astype(np.complex64),), {}),
    ("addv", (IMG, OTHER), {}),
    ("multv", ((IMG + 1j * OTHER).astype(np.complex64),) * 2, {}),
    ("divv", (IMG, OTHER), {}),
    ("atan2", (IMG, OTHER - 30), {}),
    ("add", (IMG, OTHER[:60, :50]), {"dr": 3, "dc": -2}),
    ("div", (COLOUR, COLOUR + 1), {"dr": -4, "dc": 5}),
    ("mul", (IMG[:50], OTHER), {"dr": -1}),
    ("inv", (IMG,), {}),
    ("sqrt", (IMG,), {}),
    ("vidscale", (IMG.astype(np.int16),), {}),
    ("vidscale", (np.stack([IMG, np.ones_like(IMG)]),), {"per_frame": True}),
    ("markmax", (np.ones_like(IMG),), {"sigma": 0}),
    ("pad", (COLOUR,), {"rows": 3, "cols": 5, "frame": 1}),
    ("ccl", (IMG,), {"thresh": 3, "minval": 30}),
    ("ccl", (NOISE,), {"thresh": 2, "minval": 10, "maxval": 30}),
    ("ccl", (NOISE,), {"thresh": 5, "minval": 8, "maxval": 33, "erase_small": 3,
                       "erase_large": 40}),
    ("ccl", (COLOUR.astype(np.uint8),), {"thresh": 3, "minval": 20}),
]
# Whole image, chunks that divide it, chunks that do not, and chunks smaller
# than the operators need.
CHUNKINGS = [(70, 53), (35, 53), (23, 17), (9, 40), (64, 5)]


def chunked(image, rows, cols):
    return da.from_array(image, chunks=image.shape[:-2] + (rows, cols))


def both(name, images, kwargs, chunks, **compute):
    """The whole image's result and the tiled one."""
    whole = getattr(tamo, name)(*images, **kwargs)
    tiled = getattr(td, name)(*[chunked(i, *chunks) for i in images], **kwargs)
    if isinstance(whole, tuple):  # ccl: (labels, count)
        return whole, tuple(np.asarray(t) for t in __import__("dask").compute(*tiled, **compute))
    return whole, tiled.compute(**compute)


def same(whole, tiled):
    if isinstance(whole, tuple):
        return all(same(w, t) for w, t in zip(whole, tiled))
    whole, tiled = np.asarray(whole), np.asarray(tiled)
    return whole.dtype == tiled.dtype and whole.shape == tiled.shape and \
        whole.tobytes() == tiled.tobytes()


@pytest.mark.parametrize("name,images,kwargs", CASES,
                         ids=[f"{c[0]}-{i}" for i, c in enumerate(CASES)])
def test_tiles_equal_the_whole_image(name, images, kwargs):
    for chunks in CHUNKINGS:
        whole, tiled = both(name, images, kwargs, chunks, scheduler="threads")
        assert same(whole, tiled), (name, kwargs, chunks)


def test_correlation_equals_to_the_last_bit_and_global_refusals():
    # Every command has a tiled form or says why not.
    assert {c["name"] for c in tamo._COMMANDS} <= set(td.__all__)
    # Correlation sums in double precision from the image's origin: a tile's
    # float may differ from the whole image's in its last bit.
    for chunks in CHUNKINGS:
        whole, tiled = both("correlate", (IMG, TEMPLATE), {}, chunks, scheduler="threads")
        assert whole.shape == tiled.shape
        ulps = np.abs(whole.view(np.int32).astype(np.int64) - tiled.view(np.int32))
        assert ulps.max() <= 1, chunks
    image = chunked(IMG, 32, 32)
    for name, args in (("fft", ()), ("pcon", (image,)), ("resize", ())):
        with pytest.raises(NotImplementedError, match=name):
            getattr(td, name)(image, *args)
    flat = chunked(np.ones_like(IMG), 32, 32)
    for name, image in (("sqrt", chunked(IMG - 100, 32, 32)), ("vidscale", flat),
                        ("histeq", flat)):
        with pytest.raises(tamo.Error) as tiled:
            getattr(td, name)(image).compute()
        with pytest.raises(tamo.Error) as whole:
            getattr(tamo, name)(image.compute())
        assert (str(tiled.value), tiled.value.code) == (str(whole.value), whole.value.code)
    assert bool(td.ifneg(chunked(IMG - 20.5, 32, 32))) == tamo.ifneg(IMG - 20.5)
    # Refusals of the library come when the function is called.
    with pytest.raises(tamo.Error):
        td.dog(image, order=5)


def test_on_worker_processes(tmp_path):
    distributed = pytest.importorskip("distributed")
    path = tmp_path / "in.tamo"
    tamo.write(path, IMG, compress=False)
    source = da.from_array(tamo.memmap(path), chunks=(23, 17))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, silence_logs=40) as cluster, \
            distributed.Client(cluster, timeout="60s") as client:
        for name, images, kwargs in [c for c in CASES if c[0] in ("dog", "histeq", "ccl")][:5]:
            whole, tiled = both(name, images, kwargs, (23, 17))
            assert same(whole, tiled), (name, kwargs)
        # Memory maps travel as their file names, not as their pixels: the
        # workers read the source and write the target themselves.
        out = tamo.memmap(tmp_path / "out.tamo", mode="w+", shape=IMG.shape, dtype=np.float32)
        da.store(td.gmag(source, sigma=1.4), out, lock=False)
        assert same(tamo.gmag(IMG, sigma=1.4), out)


def rss_anon():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("RssAnon:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no RssAnon in /proc/self/status")


def test_file_to_file_in_tiles_within_memory(tmp_path):
    side, tile = 4096, 512
    source, target = tmp_path / "big.tamo", tmp_path / "out.tamo"
    rng = np.random.default_rng(3)
    mapped = tamo.memmap(source, mode="w+", shape=(side, side), dtype=np.float32)
    for r in range(0, side, tile):  # written in strips: never a whole image in memory
        mapped[r:r + tile] = rng.uniform(0, 255, (tile, side)).astype(np.float32)
    mapped.flush()
    del mapped
    image = da.from_array(tamo.memmap(source), chunks=(tile, tile))
    out = tamo.memmap(target, mode="w+", shape=image.shape, dtype=np.float32)
    peak, done = [rss_anon()], threading.Event()
    start = peak[0]

    def watch():
        while not done.wait(0.005):
            peak.append(rss_anon())
    watcher = threading.Thread(target=watch)
    watcher.start()
    try:
        da.store(td.dog(image, sigma=2.0), out, scheduler="threads", num_workers=2)
    finally:
        done.set()
        watcher.join()
    out.flush()
    # Input and output are 64 MB each; the tiles in flight need a few MB.
    assert max(peak) - start < 40 * 2**20, (max(peak) - start) / 2**20
    del out
    whole = tamo.dog(tamo.read(source), sigma=2.0)
    assert tamo.read(target).tobytes() == whole.tobytes()


def test_memmap_reads_writes_and_refuses(tmp_path):
    plain, packed = tmp_path / "plain.tamo", tmp_path / "packed.tamo"
    for array in (COLOUR, LEVELS.astype(np.uint16)[:7, :9], (IMG + 2j).astype(np.complex64)):
        tamo.write(plain, array, compress=False)
        mapped = tamo.memmap(plain)
        assert mapped.dtype == array.dtype and np.array_equal(mapped, array)
    made = tmp_path / "made.tamo"
    out = tamo.memmap(made, mode="w+", shape=(3, 5, 7), dtype=np.int16)
    out[1, 2, 3] = -9
    out.flush()
    assert tamo.read(made)[1, 2, 3] == -9 and tamo.read(made).sum() == -9
    assert tamo.info(made)["compressed"] in (0, False)
    tamo.write(packed, IMG, compress=True)
    swapped = tmp_path / "swapped.tamo"
    data = bytearray(plain.read_bytes())
    data[4:8] = data[4:8][::-1]
    swapped.write_bytes(bytes(data))
    for path, reason in ((packed, "compressed"), (swapped, "other byte order")):
        with pytest.raises(ValueError, match=reason):
            tamo.memmap(path)
