#!/usr/bin/python3
"""Writes the sample TIFF and .npy files beside this script with an
independent writer (tifffile and NumPy, Debian's python3-tifffile and
python3-numpy). The tests read them and check the values given here; the
formulas are repeated in tests/frontend/test_scientific.cpp.

    /usr/bin/python3 tests/data/sci/make_samples.py
"""
import os

import numpy as np
import tifffile

here = os.path.dirname(os.path.abspath(__file__))


def path(name):
    return os.path.join(here, name)


def index(shape):
    return np.arange(int(np.prod(shape))).reshape(shape)


def u16_grey():
    v = (index((5, 6)) * 2259).astype(np.uint16)
    v[4, 5] = 65535
    return v


def f32_grey():
    return ((index((4, 5)) - 10) * 0.25 - 0.125).astype(np.float32)


def u16_stack():
    v = np.empty((5, 3, 4), np.uint16)
    for p in range(5):
        v[p] = p * 13000 + index((3, 4)) * 7
    v[4, 2, 3] = 65535
    return v


def rgb_u8():
    i = index((4, 5))
    return np.stack([i * 12, 255 - i * 12, (i * 37) % 256], axis=-1).astype(np.uint8)


def main():
    # TIFF
    tifffile.imwrite(path("u16_grey.tif"), u16_grey(), photometric="minisblack")
    tifffile.imwrite(path("f32_grey.tif"), f32_grey(), photometric="minisblack")
    with tifffile.TiffWriter(path("u16_stack.tif")) as tif:
        for page in u16_stack():
            tif.write(page, photometric="minisblack", contiguous=False)
    tifffile.imwrite(path("rgb_u8.tif"), rgb_u8(), photometric="rgb")
    tifffile.imwrite(path("i16_bigendian.tif"),
                     ((index((3, 4)) - 6) * 5000).astype(np.int16),
                     byteorder=">", photometric="minisblack")
    tifffile.imwrite(path("f32_tiled_deflate.tif"),
                     (index((18, 20)) * 0.5 - 100).astype(np.float32),
                     tile=(16, 16), compression="zlib", photometric="minisblack")
    planes = np.stack([c * 20000 + index((3, 4)) * 100 for c in range(3)]).astype(np.uint16)
    tifffile.imwrite(path("rgb_u16_planar.tif"), planes, photometric="rgb",
                     planarconfig="separate")
    # Refused: a stack whose second page is smaller than the first.
    with tifffile.TiffWriter(path("pages_differ.tif")) as tif:
        tif.write(np.zeros((3, 4), np.uint8), photometric="minisblack", contiguous=False)
        tif.write(np.zeros((2, 4), np.uint8), photometric="minisblack", contiguous=False)
    tifffile.imwrite(path("u32_large.tif"),
                     np.array([[0, 1, 2], [3, 2147483648, 4000000000]], np.uint32),
                     photometric="minisblack")

    # .npy
    np.save(path("c_u16.npy"), u16_grey())
    np.save(path("fortran_f32.npy"), np.asfortranarray(f32_grey()))
    np.save(path("c_bigendian_i32_3d.npy"),
            ((index((2, 3, 4)) - 12) * 100000).astype(">i4"))
    np.save(path("fortran_bigendian_f64_3d.npy"),
            np.asfortranarray((index((2, 3, 4)) / 3.0).astype(">f8")))
    np.save(path("c_i64.npy"), (index((2, 3)) - 3).astype(np.int64))


if __name__ == "__main__":
    main()
