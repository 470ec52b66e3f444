"""Uncompressed own-format files as NumPy memory maps.

The header of an own-format file is one 512-byte block, so the pixels of an
uncompressed file start at byte 512 and can be mapped where they lie: an
image larger than memory can be read and written in tiles (a Dask source, or
the target of ``dask.array.store``)."""

import os
import struct
import sys
import tempfile

import numpy as np

HEADER_BYTES = 512
BLOCK = 512
_NATIVE_ENDIAN = 2 if sys.byteorder == "little" else 1

# Data type names (canonical and aliases) of the types a NumPy dtype holds.
_DTYPES = {}
for _names, _dtype in ((("8bit", "byte", "char", "i1", "I1"), np.int8),
                       (("u8bit", "ubyte", "uchar"), np.uint8),
                       (("16bit", "short", "i2", "I2"), np.int16),
                       (("u16bit", "ushort"), np.uint16),
                       (("32bit", "int", "long", "i4", "I4"), np.int32),
                       (("32flt", "float", "real", "real*4", "r4", "R4"), np.float32),
                       (("64flt", "double", "real*8", "r8", "R8"), np.float64),
                       (("32cmp", "complex", "c4", "C4", "complex*4"), np.complex64),
                       (("64cmp", "c8", "C8", "complex*8"), np.complex128)):
    for _name in _names:
        _DTYPES[_name] = np.dtype(_dtype)
del _names, _dtype, _name


class _Header:
    """What a mapping needs from a file's header, checked."""

    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            head = f.read(HEADER_BYTES)
            size = os.fstat(f.fileno()).st_size
        if len(head) < HEADER_BYTES:
            self.refuse("shorter than its 512-byte header")
        if head[:3] not in (b"TAM", b"ORV") or head[3] != 0:
            self.refuse("not an own-format image file")
        block = struct.unpack("=i", head[4:8])[0]
        if block != BLOCK:
            if struct.unpack("=i", head[4:8][::-1])[0] == BLOCK:
                self.refuse("written in the other byte order; tamo convert writes it in this "
                            "machine's order")
            self.refuse("its block size is not 512")
        if head[148] != _NATIVE_ENDIAN:
            self.refuse("its pixels are in the other byte order; tamo convert writes them in "
                        "this machine's order")
        if head[255] != 0:
            self.refuse("its pixels are compressed; tamo convert --no-compress writes them "
                        "plainly")
        name = head[212:228].split(b"\0", 1)[0].decode("ascii", "replace")
        if name not in _DTYPES:
            self.refuse(f"its data type \"{name}\" has no NumPy dtype")
        self.dtype = _DTYPES[name]
        bpd, ndim = struct.unpack("=ii", head[232:240])
        if bpd != self.dtype.itemsize:
            self.refuse("its bytes per datum disagree with its data type")
        if not 1 <= ndim <= 3:
            self.refuse(f"it has {ndim} dimensions")
        lengths = {}
        for k in range(ndim):
            dlen, dnum = struct.unpack("=ii", head[256 + 64 * k:264 + 64 * k])
            if not 1 <= dnum <= ndim or dnum in lengths or dlen < 1:
                self.refuse("its dimension records are damaged")
            lengths[dnum] = dlen
        # Columns, rows, frames in the file; NumPy's order is the reverse.
        self.shape = tuple(lengths[k] for k in range(ndim, 0, -1))
        needed = HEADER_BYTES + int(np.prod(self.shape, dtype=np.int64)) * self.dtype.itemsize
        if size < needed:
            self.refuse(f"it ends before its pixels do ({size} of {needed} bytes)")

    def refuse(self, why):
        raise ValueError(f"tamo.memmap: cannot map '{self.path}': {why}")


class TamoMap(np.memmap):
    """A memory map of an own-format file's pixels. The whole map pickles as
    its file name, so Dask's worker processes each map the file themselves
    instead of receiving a copy of the pixels; a slice pickles as its values."""

    def __reduce__(self):
        whole = getattr(self, "_tamo_reopen", None)
        if whole is not None and self.shape == whole[2]:
            return (_reopen, whole[:2])
        return np.ndarray.__reduce__(np.asarray(self))


def _reopen(path, mode):
    return memmap(path, mode=mode)


def memmap(path, mode="r", shape=None, dtype=None):
    """The pixels of the uncompressed own-format file `path` as a NumPy
    memory map: shape (rows, columns), or (frames, rows, columns) for three
    dimensions. `mode` is NumPy's: "r" reads, "r+" reads and writes the
    file's pixels in place, "c" writes to memory only. "w+" makes a new
    uncompressed file of `shape` and `dtype` (all pixels 0) and maps it for
    writing, for example as the target of ``dask.array.store``; an existing
    file of that name is replaced once the new one is complete.

    Compressed files and files of the other byte order cannot be mapped:
    ``tamo convert --no-compress`` on this machine writes one that can."""
    path = os.fspath(path)
    if mode == "w+":
        if shape is None or dtype is None:
            raise TypeError("tamo.memmap: mode \"w+\" needs shape= and dtype=")
        _create(path, tuple(int(n) for n in shape), np.dtype(dtype))
        mode = "r+"
    elif mode not in ("r", "r+", "c"):
        raise ValueError(f"tamo.memmap: mode must be \"r\", \"r+\", \"c\" or \"w+\", not {mode!r}")
    elif shape is not None or dtype is not None:
        raise TypeError("tamo.memmap: shape= and dtype= are for mode \"w+\" only")
    header = _Header(path)
    array = TamoMap(path, dtype=header.dtype, mode=mode, offset=HEADER_BYTES, shape=header.shape)
    if mode != "c":
        array._tamo_reopen = (path, mode, header.shape)
    return array


def _create(path, shape, dtype):
    """Writes an uncompressed own-format file of `shape` and `dtype` whose
    pixels are 0, leaving the pixel area unwritten (sparse) so that making a
    file larger than memory costs no time. The header is the library's own,
    taken from a one-pixel file it writes, with the sizes filled in."""
    from . import write  # the package imports this module first
    if not 1 <= len(shape) <= 3 or min(shape) < 1:
        raise ValueError(f"tamo.memmap: shape must have 1 to 3 lengths of at least 1, not "
                         f"{shape}")
    if dtype not in _DTYPES.values():
        raise ValueError(f"tamo.memmap: dtype {dtype} has no own-format data type")
    count = int(np.prod(shape, dtype=np.int64))
    nbytes = count * dtype.itemsize
    if nbytes > 2**31 - 1:
        # The reader's limit for one image.
        raise ValueError(f"tamo.memmap: an image of {nbytes} bytes is larger than an own-format "
                         f"file holds (2^31 - 1 bytes)")
    folder = os.path.dirname(os.path.abspath(path))
    fd, temporary = tempfile.mkstemp(dir=folder, prefix=".tamo-map-", suffix=".tamo")
    os.close(fd)
    try:
        write(temporary, np.zeros((1,) * len(shape), dtype), compress=False)
        with open(temporary, "r+b") as f:
            head = bytearray(f.read(HEADER_BYTES))
            ndim = struct.unpack("=i", head[236:240])[0]
            if ndim != len(shape):
                raise ValueError(f"tamo.memmap: cannot make a file of shape {shape}")
            for k in range(ndim):
                dnum = struct.unpack("=i", head[260 + 64 * k:264 + 64 * k])[0]
                head[256 + 64 * k:260 + 64 * k] = struct.pack("=i", shape[ndim - dnum])
            data_blocks = (nbytes + BLOCK - 1) // BLOCK
            head[16:20] = struct.pack("=i", -(1 + data_blocks))
            f.seek(0)
            f.write(head)
            f.truncate(HEADER_BYTES)
            padding = (BLOCK - nbytes % BLOCK) % BLOCK
            f.seek(HEADER_BYTES + nbytes)
            f.write(b"." * padding)
            f.truncate(HEADER_BYTES + nbytes + padding)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise
