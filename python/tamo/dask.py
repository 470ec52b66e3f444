"""The tamo operators on Dask arrays: images larger than memory, and images
computed by several processes or machines.

``tamo.dask.<op>(x, ...)`` takes a ``dask.array.Array`` (2-D, or 3-D frames,
rows, columns) and the keywords of ``tamo.<op>``, and returns a lazy Dask
array whose values are the bytes ``tamo.<op>`` gives for the whole image,
whatever the chunking. Each chunk is computed by the library itself on the
chunk and a halo around it, as wide as the operator's kernel reaches; at the
image's true borders the library applies its own border rule (replicated
edges, windows shifted inwards), because there the chunk's edge is the
image's. Chunks narrower than an operator needs are merged first; the frames
of a 3-D image stay together in every chunk.

Operators whose results depend on the whole image take two passes where an
exact form exists (a reduction over the chunks, then a map), and raise
NotImplementedError, saying why, where none does. Messages the library
prints about a chunk (the window equalisation's negative border pixels, for
instance) name positions within the chunk, and those of the whole-image
passes done here in Python are not printed."""

import builtins
import inspect
import math

import dask
import dask.array as da
import numpy as np

import tamo

__all__ = []

# ---- Halos -----------------------------------------------------------------------


def _radius(sigma):
    """K of the Gaussian kernels, as the library computes it from a float
    sigma: trunc(3 |sigma|) + 1."""
    s = math.fabs(float(np.float32(sigma)))
    return min(int(math.trunc(3.0 * s)) + 1, 100000000)


def _gaussian(extra=0, sigma_of=lambda k: k.get("sigma", 1.0)):
    """The reach of a measure built on Gaussian derivatives: K, plus `extra`
    for a window on the derivatives; the filter needs 4K + 2 rows."""
    def reach(kwargs):
        k = _radius(sigma_of(kwargs))
        return (k + extra, k + extra), (4 * k + 2, 1)
    return reach


def _window(kwargs):
    n = int(kwargs.get("neighbourhood", 0))
    return (n, n), (2 * n + 1, 2 * n + 1)


def _pointwise(kwargs):
    return (0, 0), (1, 1)


# Operator: (rows, columns) of halo and (rows, columns) a chunk must have,
# from the keywords. One table for every operator tiled with a halo.
_REACH = {
    "dog": _gaussian(),
    "curv": _gaussian(),
    "laplace": _gaussian(sigma_of=lambda k: math.fabs(float(k.get("sigma", 1.0)))),
    "qvar": _gaussian(),
    "gmag": _gaussian(),
    "gdir": _gaussian(),
    # A 3 x 3 window on the first derivatives.
    "harris": _gaussian(extra=1),
    "histeq": _window,
}
_POINTWISE = ("abs", "adds", "mults", "exp", "ln", "cp", "crcopy", "intcp", "gray", "mag",
              "phase", "real", "imag")
_TWO_IMAGES = ("addv", "multv", "divv", "atan2")
_SHIFTED = ("add", "sub", "mul", "div")
for _name in _POINTWISE:
    _REACH[_name] = _pointwise

_WHY_NOT = {
    "fft": "every frequency depends on every pixel, and the library's transform is a single "
           "power-of-two square",
    "ifft": "every pixel depends on every frequency, and the library's transform is a single "
            "power-of-two square",
    "pcon": "each of its hundreds of annealing steps is scaled by the root mean square of the "
            "whole image's update, which would take a pass over every tile per step",
    "hog": "its cells and blocks are laid out from the whole image's size",
    "showhog": "it draws the descriptors of hog, which has no tiled form",
    "resize": "the output grid is not the input's: its tiles do not map onto the input's "
              "chunks",
    "colormap": "--map stretches by the whole image's range and --labels draws colours from "
                "one random sequence; colour a computed label image with tamo.colormap",
}


def _merged(chunks, least):
    """Chunk lengths with neighbours merged until each holds at least
    `least`; an axis shorter than that becomes one chunk."""
    out = []
    for c in chunks:
        if out and out[-1] < least:
            out[-1] += c
        else:
            out.append(c)
    if len(out) > 1 and out[-1] < least:
        last = out.pop()
        out[-1] += last
    return tuple(out)


def _as_frames(x, name):
    """x as a 3-D array (frames, rows, columns) with whole frames in every
    chunk and whether it was 2-D."""
    if not isinstance(x, da.Array):
        raise TypeError(f"tamo.dask.{name}: needs a dask.array.Array, not {type(x).__name__} "
                        f"(dask.array.from_array makes one)")
    if x.ndim == 2:
        return x[None], True
    if x.ndim == 3:
        return x.rechunk({0: -1}), False
    raise tamo.Error(f"tamo.dask.{name}: an image is 2-D or 3-D, not {x.ndim}-D")


def _fit_chunks(x3, halo, least):
    """x3 rechunked so that every chunk holds the halo and the operator's
    minimum rows and columns."""
    rows = _merged(x3.chunks[1], max(halo[0], least[0]))
    cols = _merged(x3.chunks[2], max(halo[1], least[1]))
    return x3.rechunk((x3.chunks[0], rows, cols))


def _sample(x3, flat, least, halo):
    """A small array of ones of x's type with the rows and columns an
    operator needs (the image's own, where it is smaller)."""
    rows = min(x3.shape[1], max(least[0], 2 * halo[0] + 1))
    cols = min(x3.shape[2], max(least[1], 2 * halo[1] + 1))
    shape = (rows, cols) if flat else (x3.shape[0], rows, cols)
    return np.ones(shape, dtype=x3.dtype)


def _meta(ndim, dtype):
    """An empty array that tells map_blocks the result's kind, so that it
    does not call the function to find out."""
    return np.empty((0,) * ndim, dtype)


def _frames(a):
    return a[None] if a.ndim == 2 else a


def _trimmed(block, location, counts, halo):
    """The block without the halo on its sides that face other chunks."""
    index = [slice(None)]
    for axis, depth in zip((1, 2), halo):
        first = depth if location[axis] > 0 else 0
        last = block.shape[axis] - (depth if location[axis] < counts[axis] - 1 else 0)
        index.append(slice(first, last))
    return block[tuple(index)]


def _tiled(name, function, images, halo, least, kwargs):
    """`function(*blocks, **kwargs)` over the chunks of the images (3-D
    views, equally chunked) with the halo, as a 3-D array; the result of a
    sample decides the type and frames of the result. Returns the result and
    whether the library's result was 2-D."""
    flat = images[0][1]
    x3s = [_fit_chunks(x3, halo, least) for x3, _ in images]
    x3s = [x3.rechunk(x3s[0].chunks) for x3 in x3s]
    sample = function(*[_sample(x3, f, least, halo) for x3, f in zip(x3s, [i[1] for i in images])],
                      **kwargs)
    sample3 = _frames(sample)
    depth = {0: 0, 1: halo[0], 2: halo[1]}
    padded = [da.overlap.overlap(x3, depth=depth, boundary="none") if any(halo) else x3
              for x3 in x3s]

    def block(*blocks, block_info=None):
        info = block_info[0]
        pieces = [b[0] if flat else b for b in blocks]
        result = _frames(function(*pieces, **kwargs))
        return _trimmed(result, info["chunk-location"], info["num-chunks"], halo)

    out = da.map_blocks(block, *padded, meta=_meta(3, sample.dtype),
                        chunks=((sample3.shape[0],),) + x3s[0].chunks[1:],
                        name=f"tamo-{name}-" + dask.base.tokenize(function, kwargs, *x3s))
    return out, sample.ndim == 2


def _squeezed(out, flat_result):
    return out[0] if flat_result else out


# ---- Operators with a halo ---------------------------------------------------------


def _halo_operator(name):
    library = getattr(tamo, name)

    def operator(image, **kwargs):
        if name == "histeq" and int(kwargs.get("neighbourhood", 0)) <= 0:
            return _histeq_whole(image, name)
        halo, least = _REACH[name](kwargs)
        x3, flat = _as_frames(image, name)
        out, flat_result = _tiled(name, library, [(x3, flat)], halo, least, kwargs)
        return _squeezed(out, flat_result)
    return operator


def _two_image_operator(name):
    library = getattr(tamo, name)

    def operator(a, b, **kwargs):
        a3, flat = _as_frames(a, name)
        b3, flat_b = _as_frames(b, name)
        if a3.shape != b3.shape or flat != flat_b:
            raise tamo.Error(f"tamo.dask.{name}: the images differ in shape ({a.shape} and "
                             f"{b.shape})")
        out, flat_result = _tiled(name, library, [(a3, flat), (b3, flat)], (0, 0), (1, 1),
                                  kwargs)
        return _squeezed(out, flat_result)
    return operator


def _shifted_operator(name):
    """a and b shifted by (dr, dc) onto the output's grid, zero where an image
    is absent (the library's rule: absent values count as 0), then combined
    unshifted chunk by chunk."""
    library = getattr(tamo, name)

    def operator(a, b, dr=0, dc=0):
        dr, dc = int(dr), int(dc)
        if a.ndim != b.ndim:
            raise tamo.Error(f"{name}: both input images must be either both grayscale or "
                             f"both color")
        rows = max(a.shape[-2] + builtins.abs(dr), b.shape[-2])
        cols = max(a.shape[-1] + builtins.abs(dc), b.shape[-1])

        def placed(x, r0, c0):
            lead = [(0, 0)] * (x.ndim - 2)
            return da.pad(x, lead + [(r0, rows - r0 - x.shape[-2]), (c0, cols - c0 - x.shape[-1])])

        # A's row k lands on output row k (dr > 0) or k - dr; B's on k + dr or k.
        ap = placed(a, 0 if dr > 0 else -dr, 0 if dc > 0 else -dc)
        bp = placed(b, dr if dr > 0 else 0, dc if dc > 0 else 0)
        a3, flat = _as_frames(ap, name)
        b3, _ = _as_frames(bp, name)
        b3 = b3.rechunk(a3.chunks)
        out, flat_result = _tiled(name, library, [(a3, flat), (b3, flat)], (0, 0), (1, 1), {})
        return _squeezed(out, flat_result)
    return operator


def correlate(image, template):
    """tamo.correlate chunk by chunk (grey images): each chunk with a halo of
    half the template's size. The library evaluates the sums in double
    precision from the image's own origin and mean, so a tiled value may
    differ from the whole image's in the last bit of its float; colour
    images are refused (each frame is divided by its total squared
    deviation over the whole frame)."""
    x3, flat = _as_frames(image, "correlate")
    if not flat:
        raise NotImplementedError("tamo.dask.correlate: a colour result is divided by each "
                                  "frame's total squared deviation, a sum over the whole frame "
                                  "in an order tiles cannot keep")
    templ = np.asarray(template.compute() if isinstance(template, da.Array) else template)
    if templ.ndim != 2:
        raise tamo.Error("I can't correlate a gray scale image with a color image. Sorry.")
    rb, cb = templ.shape
    halo = (rb // 2, cb // 2)
    out, flat_result = _tiled("correlate", lambda a: tamo.correlate(a, templ),
                              [(x3, flat)], halo, (rb, cb), {})
    return _squeezed(out, flat_result)


def pad(image, rows=0, cols=0, frame=0):
    """tamo.pad: frame `frame` with `rows` replicated rows above and below and
    `cols` replicated columns left and right, as a "float" image."""
    rows, cols, frame = int(rows), int(cols), int(frame)
    if rows < 0 or cols < 0 or frame < 0:
        raise tamo.Error("pad: --rows, --cols and --frame must be 0 or more")
    plane = image[frame] if image.ndim == 3 else image
    if image.ndim == 2 and frame > 0:
        raise tamo.Error(f"pad: the image has no frame {frame}")
    if np.dtype(plane.dtype).kind == "c":
        raise tamo.Error(f"pad: cannot filter an image of complex type")
    return da.pad(plane.astype(np.float32), ((rows, rows), (cols, cols)), mode="edge")


# ---- Whole-image operators in two passes -----------------------------------------


def _error(text, code=-2):
    error = tamo.Error(text)
    error.code = code
    return error


def _whole_image_error(name, sample):
    """The refusal tamo.NAME gives on a small image with the same fault, so
    that a tiled run fails with the very text and code of the whole image."""
    try:
        getattr(tamo, name)(sample)
    except tamo.Error as error:
        return error
    return _error("%s: refused" % name, 1)


def _float_blocks(x, name):
    """x as float32 values, converted as tamo converts inputs."""
    if np.dtype(x.dtype) == np.float32:
        return x
    if np.dtype(x.dtype).kind == "c":
        raise tamo.Error(f"{name}: cannot use a complex image here")
    return x.astype(np.float32)


def _extremes(block, low, high):
    """Largest and smallest value of a block, NaN left out, starting from
    `high` and `low` as the library's scans do."""
    values = block[~np.isnan(block)]
    if values.size == 0:
        return np.float32(high), np.float32(low)
    return max(np.float32(high), values.max()), min(np.float32(low), values.min())


def _range(x, low, high):
    """Delayed (top, bottom) of a float32 Dask array."""
    parts = [dask.delayed(_extremes)(b, low, high) for b in x.to_delayed().ravel()]

    def fold(parts):
        return max(p[0] for p in parts), min(p[1] for p in parts)
    return dask.delayed(fold)(parts)


def inv(image):
    """tamo.inv: the largest value minus each value, the largest found first
    over every chunk."""
    x = _float_blocks(image, "inv")
    extremes = _range(x, np.inf, -np.inf)
    return x.map_blocks(lambda b, e: e[0] - b, extremes, meta=_meta(x.ndim, np.float32))


def sqrt(image):
    """tamo.sqrt: refused as a whole, as tamo.sqrt is, when any value is
    negative (found in a first pass)."""
    x = _float_blocks(image, "sqrt")
    negative = dask.delayed(any)([dask.delayed(lambda b: bool((b < 0).any()))(b)
                                  for b in x.to_delayed().ravel()])

    def root(block, negative):
        if negative:
            raise _whole_image_error("sqrt", np.full((1, 1), -1, np.float32))
        return tamo.sqrt(block)
    return x.map_blocks(root, negative, meta=_meta(x.ndim, np.float32))


def ifneg(image):
    """tamo.ifneg as a lazy 0-d Dask array: True when a value is below 0
    (bool() of it computes it)."""
    x = _float_blocks(image, "ifneg")
    return (x < 0).any()


def _stretch(block, extremes):
    """Tamovidscale's stretch of float values by the range (top, bottom);
    zeros for an image of one value (extremes None)."""
    if extremes is None:
        return np.zeros(block.shape, np.uint8)
    top, bottom = np.float32(extremes[0]), np.float32(extremes[1])
    scale = np.float32(255.0) / (top - bottom)
    with np.errstate(invalid="ignore", over="ignore"):
        x = (block.astype(np.float32) - bottom) * scale
        out = np.where(x == x, x, 0).astype(np.int32) & 0xFF
    return out.astype(np.uint8)


def _stretch_range(x, refuse_flat):
    """Delayed range of a stretch; for an image of one value None, or with
    `refuse_flat` the refusal of tamo.vidscale."""
    def checked(extremes):
        if not extremes[0] > extremes[1]:
            if refuse_flat:
                raise _whole_image_error("vidscale", np.zeros((2, 2), np.float32))
            return None
        return extremes
    return dask.delayed(checked)(_range(x, 1000000.0, -1000000.0))


def vidscale(image, per_frame=False):
    """tamo.vidscale: the stretch of the whole image's (or with per_frame of
    each frame's) range onto 0..255, the range found in a first pass. A
    frame of one value stays 0; an image of one value is refused."""
    return _vidscale(image, per_frame, True)


def _vidscale(image, per_frame, refuse_flat):
    if image.ndim not in (2, 3):
        raise tamo.Error(f"vidscale: an image is 2-D or 3-D, not {image.ndim}-D")
    if per_frame:
        if image.ndim != 3:
            raise tamo.Error("vidscale: --per-frame needs an image of 3 dimensions")
        return da.stack([_vidscale(image[f], False, False) for f in range(image.shape[0])])
    if np.dtype(image.dtype).kind == "c":
        image = image.real  # the real parts, as the library stretches complex data
    x = image.astype(np.float32)
    return x.map_blocks(_stretch, _stretch_range(x, refuse_flat), meta=_meta(x.ndim, np.uint8))


def markmax(image, sigma=1.0):
    """tamo.markmax: the (blurred) image stretched by its whole range, then
    every strict 3 x 3 maximum of the last frame painted red in a colour
    picture (3, rows, columns); the outer rows and columns stay 0."""
    x = _float_blocks(image, "markmax")
    x3, _ = _as_frames(x, "markmax")
    blurred = dog(x, sigma=sigma) if float(np.float32(sigma)) != 0.0 else x
    scaled = _as_frames(blurred, "markmax")[0]
    scaled = scaled.map_blocks(_stretch, _stretch_range(blurred, False), meta=_meta(3, np.uint8))
    rows, cols = x3.shape[1:]
    frames = x3.shape[0]

    def mark(s, block_info=None):
        test = s[-1].astype(np.int32)
        colour = [s[k] if k < frames else s[0] for k in range(3)]
        out = np.zeros((3,) + test.shape, np.float32)
        centre = test[1:-1, 1:-1]
        maximum = np.ones(centre.shape, bool)
        for dr in (-1, 0, 1):
            for dc in (-1, 0, 1):
                if dr or dc:
                    maximum &= test[1 + dr:test.shape[0] - 1 + dr,
                                    1 + dc:test.shape[1] - 1 + dc] < centre
        for k in range(3):
            out[k, 1:-1, 1:-1] = np.where(maximum, 255.0 if k == 0 else 0.0,
                                          colour[k][1:-1, 1:-1])
        return out

    def block(s, block_info=None):
        info = block_info[0]
        return _trimmed(mark(s), info["chunk-location"], info["num-chunks"], (1, 1))

    scaled = _fit_chunks(scaled, (1, 1), (3, 3))
    padded = da.overlap.overlap(scaled, depth={0: 0, 1: 1, 2: 1}, boundary="none")
    if rows < 3 or cols < 3:
        return da.zeros((3, rows, cols), np.float32)
    return da.map_blocks(block, padded, meta=_meta(3, np.float32),
                         chunks=((3,),) + scaled.chunks[1:])


def _histeq_whole(image, name):
    """Whole-image histogram equalisation: the range, then the 256 bins'
    counts, in passes over the chunks; then each value's bin looked up in the
    table of equalised values, all with the library's arithmetic."""
    x3, flat = _as_frames(image, name)
    x3 = _float_blocks(x3, name)
    rows, cols = x3.shape[1:]
    if rows < 1 or cols < 1:
        raise _error("histeq: flHistogramEq failed (code -1)", -1)
    colour = not flat and x3.shape[0] == 3
    # A 3-D image of other than three frames is equalised in its first plane.
    planes = x3 if colour else x3[:1]
    extremes = dask.delayed(_range_checked)(_range(planes, 1000000.0, -1000000.0))

    def counts(block, extremes):
        return np.bincount(_bins(block, extremes).ravel(), minlength=256).astype(np.uint64)

    totals = dask.delayed(sum)([dask.delayed(counts)(b, extremes)
                                for b in planes.to_delayed().ravel()])
    table = dask.delayed(_equalised)(totals, rows, cols, colour)

    def block(b, extremes, table):
        out = table[_bins(b, extremes)]
        if not colour and b.shape[0] > 1:
            out[1:] = 0
        return out
    out = x3.map_blocks(block, extremes, table, meta=_meta(3, np.float32))
    return out[0] if flat else out


def _range_checked(extremes):
    top, bottom = extremes
    if bottom >= top:
        raise _whole_image_error("histeq", np.zeros((2, 2), np.float32))
    return np.float32(top), np.float32(bottom)


def _bins(block, extremes):
    """Bin 0..255 of each value: trunc((v - min) * 255 / range), the
    difference in single precision and the rest in double, as the library
    bins (the same 2^-40 nudge on the product with 255 / range)."""
    top, bottom = extremes
    scale = 255.0 / float(np.float32(top - bottom))
    with np.errstate(invalid="ignore"):
        q = (block - bottom).astype(np.float64) * scale + 2.0**-40
        q = np.where(q > 0.0, q, 0.0)
    return np.minimum(q, 255.0).astype(np.intp)


def _equalised(totals, rows, cols, colour):
    """The library's table: counts as floats, shares in single precision
    (double for colour), summed in order, times 255."""
    h = totals.astype(np.float32)
    if colour:
        h = (h.astype(np.float64) / (cols * (3.0 * rows))).astype(np.float32)
    else:
        h = h / np.float32(rows * cols)
    cdf = np.empty(256, np.float32)
    running = np.float32(0)
    for b in range(256):
        running = h[b] if b == 0 else np.float32(running + h[b])
        cdf[b] = running
    return np.float32(255.0) * cdf


# ---- Connected components ---------------------------------------------------------
#
# The library labels in one raster scan: a pixel inside the band [minval,
# maxval] joins its upper, left and upper-left neighbours when their values
# differ by at most thresh (a neighbour below the band never, one above the
# band as the background class 0; row 0 and column 0 are never labelled). A
# pixel joining none of them makes a new label, numbered in raster order, and
# a class keeps its smallest label. Whether a pixel makes a label depends on
# its 2 x 2 neighbourhood only, and the smallest label of a class is the one
# made by its first pixel in raster order. So the tiled labelling is exact:
#   1. per tile: the pixels that make labels (counted per row), the tile's
#      own classes (joins inside the tile), and the joins across its upper
#      and left seams;
#   2. merge: the classes joined over the seams, and each class's label, one
#      more than the number of labels made before its first pixel in raster
#      order (0 for a class joined to the background);
#   3. per tile: the classes' labels written out, one-pixel holes filled
#      (with a halo of one pixel), small or large regions erased by their
#      areas (a count over every tile).


def _grey(block):
    """The grey image the labelling works on, as the library makes it."""
    if block.ndim == 3 and block.shape[0] >= 3:
        if block.dtype == np.uint8:
            r, g, b = (block[k].astype(np.int64) for k in range(3))
            squares = (g * g + r * r) + b * b
            return np.trunc(np.sqrt(squares.astype(np.float64)) / 3).astype(np.float32)
        r, g, b = (np.real(block[k]).astype(np.float32) for k in range(3))
        squares = (g * g + r * r) + b * b
        return (np.sqrt(squares.astype(np.float64)) / 3).astype(np.float32)
    plane = block[0] if block.ndim == 3 else block
    return np.real(plane).astype(np.float32)


class _Joins:
    """The joins of the pixels of one tile (rows r0.., columns c0.. of the
    image) given the tile with one row above and one column left of it
    (where the image has them)."""

    def __init__(self, y, r0, c0, band):
        t, lo, hi = band
        top, left = (1 if r0 > 0 else 0), (1 if c0 > 0 else 0)
        self.core = y[top:, left:]
        h, w = self.core.shape
        self.shape = (h, w)
        # The tile padded to one row and column before it; outside the image
        # nothing is joined.
        ext = np.full((h + 1, w + 1), np.nan, np.float32)
        ext[1 - top:, 1 - left:] = y
        rows = np.arange(r0 - 1, r0 + h)[:, None]
        cols = np.arange(c0 - 1, c0 + w)[None, :]
        labelled = (rows >= 1) & (cols >= 1)  # row 0 and column 0 are never labelled
        a = self.core
        with np.errstate(invalid="ignore"):
            self.inside = ~(a < lo) & ~(a > hi) & labelled[1:, 1:]
            above = ext > hi

            def join(dr, dc):
                b = ext[1 - dr:h + 1 - dr, 1 - dc:w + 1 - dc]
                ok = labelled[1 - dr:h + 1 - dr, 1 - dc:w + 1 - dc]
                return self.inside & ok & ~(b < lo) & ~(np.abs(a - b) > t)
            self.up, self.left, self.upleft = join(1, 0), join(0, 1), join(1, 1)
        self.above_band = above
        self.makes = self.inside & ~self.up & ~self.left & ~self.upleft

    def classes(self):
        """Class of every pixel of the tile (node h*w: the background class),
        joined by the joins inside the tile and to neighbours above the band
        anywhere."""
        from scipy.sparse import coo_matrix
        from scipy.sparse.csgraph import connected_components
        h, w = self.shape
        n = h * w
        index = np.arange(n).reshape(h, w)
        sources, targets = [], []
        for joins, dr, dc in ((self.up, 1, 0), (self.left, 0, 1), (self.upleft, 1, 1)):
            beyond = self.beyond(dr, dc)
            to_background = joins & beyond
            sources.append(index[to_background])
            targets.append(np.full(int(to_background.sum()), n))
            # Neighbours in other tiles are the merge's.
            rr, cc = np.nonzero(joins & ~beyond & ~_outside(h, w, dr, dc))
            sources.append(rr * w + cc)
            targets.append((rr - dr) * w + (cc - dc))
        sources, targets = np.concatenate(sources), np.concatenate(targets)
        graph = coo_matrix((np.ones(len(sources), np.int8), (sources, targets)),
                           shape=(n + 1, n + 1))
        _, label = connected_components(graph, directed=False)
        # Classes numbered 0.. over the pixels inside the band only (the
        # others' numbers are never used).
        used, compact = np.unique(np.append(label[:n][self.inside.ravel()], label[n]),
                                  return_inverse=True)
        klass = np.zeros(n, np.int64)
        klass[self.inside.ravel()] = compact[:-1]
        return klass.reshape(h, w), int(compact[-1]), len(used)

    def beyond(self, dr, dc):
        """Whether the neighbour at (-dr, -dc) lies above the band."""
        h, w = self.shape
        return self.above_band[1 - dr:h + 1 - dr, 1 - dc:w + 1 - dc]


def _outside(h, w, dr, dc):
    """Pixels of an h x w tile whose neighbour at (-dr, -dc) is in another
    tile."""
    outside = np.zeros((h, w), bool)
    outside[:dr, :] = True
    outside[:, :dc] = True
    return outside


def _ccl_summary(y, location, starts, band):
    """Step 1 for one tile: what the merge needs from it."""
    r0, c0 = starts[0][location[0]], starts[1][location[1]]
    joins = _Joins(y, r0, c0, band)
    klass, background, count = joins.classes()
    h, w = joins.shape
    # Each class's first label-making pixel: its row and how many labels its
    # row makes before it in this tile.
    before = np.cumsum(joins.makes, axis=1) - joins.makes
    first = np.full(count, -1, np.int64)
    rr, cc = np.nonzero(joins.makes)
    order = rr * w + cc
    found = np.full(count, np.iinfo(np.int64).max)
    np.minimum.at(found, klass[rr, cc], order)
    has = found != np.iinfo(np.int64).max
    first[has] = found[has]
    first_row = np.where(has, first // max(w, 1), -1)
    first_before = np.where(has, before.ravel()[np.where(has, first, 0)], 0)
    # Joins over the upper seam (up, up-left) and the left seam (left,
    # up-left) to pixels inside the band of other tiles, by image position.
    seams = []
    for joins_of, dr, dc in ((joins.up, 1, 0), (joins.left, 0, 1), (joins.upleft, 1, 1)):
        rr, cc = np.nonzero(joins_of & ~joins.beyond(dr, dc) & _outside(h, w, dr, dc))
        seams.append(np.stack([klass[rr, cc], r0 + rr - dr, c0 + cc - dc], axis=1))
    return {
        "rows": joins.makes.sum(axis=1),
        "count": count,
        "background": background,
        "first_row": first_row,
        "first_before": first_before,
        "seams": np.concatenate(seams) if seams else np.zeros((0, 3), np.int64),
        "bottom": klass[-1, :] if h else np.zeros(0, np.int64),
        "right": klass[:, -1] if w else np.zeros(0, np.int64),
    }


def _ccl_merge(summaries, grid, starts, shape):
    """Step 2: the label of every class of every tile, and the count."""
    from scipy.sparse import coo_matrix
    from scipy.sparse.csgraph import connected_components
    ti, tj = grid
    rows, cols = shape
    tiles = {(i, j): summaries[i * tj + j] for i in range(ti) for j in range(tj)}
    # Labels made before each tile's rows: every earlier row of the image,
    # then the earlier tiles of the same row.
    per_row = np.zeros((rows, tj), np.int64)
    for (i, j), s in tiles.items():
        per_row[starts[0][i]:starts[0][i] + len(s["rows"]), j] = s["rows"]
    row_total = per_row.sum(axis=1)
    before_row = np.concatenate([[0], np.cumsum(row_total)[:-1]])
    before_tile = before_row[:, None] + np.cumsum(per_row, axis=1) - per_row
    offset, total = {}, 0
    for key in sorted(tiles):
        offset[key] = total
        total += tiles[key]["count"]
    background = total
    number = np.full(total + 1, np.iinfo(np.int64).max)
    number[background] = 0
    sources, targets = [], []
    for (i, j), s in tiles.items():
        base = offset[(i, j)]
        has = s["first_row"] >= 0
        r = starts[0][i] + s["first_row"][has]
        number[base + np.nonzero(has)[0]] = 1 + before_tile[r, j] + s["first_before"][has]
        sources.append([base + s["background"]])
        targets.append([background])
        if len(s["seams"]):
            klass, r, c = s["seams"].T
            ti_ = np.searchsorted(starts[0], r, side="right") - 1
            tj_ = np.searchsorted(starts[1], c, side="right") - 1
            other = np.empty(len(r), np.int64)
            for k in range(len(r)):
                o = tiles[(ti_[k], tj_[k])]
                local_r, local_c = r[k] - starts[0][ti_[k]], c[k] - starts[1][tj_[k]]
                last_r = local_r == len(o["right"]) - 1
                other[k] = offset[(ti_[k], tj_[k])] + (
                    o["bottom"][local_c] if last_r else o["right"][local_r])
            sources.append(base + klass)
            targets.append(other)
    sources, targets = np.concatenate(sources), np.concatenate(targets)
    graph = coo_matrix((np.ones(len(sources), np.int8), (sources, targets)),
                       shape=(total + 1, total + 1))
    _, joined = connected_components(graph, directed=False)
    smallest = np.full(joined.max() + 1, np.iinfo(np.int64).max)
    np.minimum.at(smallest, joined, number)
    label = smallest[joined]
    made = int(row_total.sum())
    if made > np.iinfo(np.int32).max:
        raise _error("ccl: more labels than a \"32bit\" image holds", 1)
    return {key: label[offset[key]:offset[key] + tiles[key]["count"]].astype(np.int32)
            for key in tiles}, made


def ccl(image, thresh=2.0, minval=10.0, maxval=255.0, erase_small=1, erase_large=0,
        areas=None, type="32bit"):
    """tamo.ccl in tiles: the same labels and count as the whole image gives
    (labels are numbered by the first pixel of their region in raster
    order, after every label the scan makes, as the library numbers them).
    Returns (labels, count), both lazy; count is a 0-d Dask array (int() of
    it computes it). The library's table of 499999 labels does not limit
    this form. Step 2 is one task that sees every tile's seams."""
    if areas is not None:
        raise NotImplementedError("tamo.dask.ccl: no areas file; np.bincount of the computed "
                                  "labels gives the areas")
    if type not in ("32bit", "int", "long", "i4", "I4"):
        raise NotImplementedError(f"tamo.dask.ccl: labels are \"32bit\"; convert them "
                                  f"afterwards instead of type={type!r}")
    t, lo, hi = (float(np.float32(v)) for v in (thresh, minval, maxval))
    erase_small, erase_large = int(erase_small), int(erase_large)
    if erase_small < 0 or erase_large < 0:
        raise tamo.Error("ccl: --erase-small and --erase-large must be 0 or more")
    # A zero bound means the workbench's default for it.
    lo = 1.0 if lo == 0.0 else lo
    hi = 256.0 if hi == 0.0 else hi
    if not hi - lo > 0.0:
        raise tamo.Error("ccl: Maxvalue and Minvalue don't make sense.")
    band = (np.float32(t), np.float32(lo), np.float32(hi))
    x3, flat = _as_frames(image, "ccl")
    y = x3.map_blocks(_grey, drop_axis=0, meta=_meta(2, np.float32))
    rows, cols = y.shape
    starts = tuple(np.concatenate([[0], np.cumsum(c)[:-1]]).astype(np.int64) for c in y.chunks)
    grid = y.numblocks
    with_seams = da.overlap.overlap(y, depth={0: 1, 1: 1}, boundary="none") \
        if rows > 1 and cols > 1 else y

    def upper_left(block, location):
        # The halo above and left only.
        r = 1 if location[0] > 0 and rows > 1 else 0
        c = 1 if location[1] > 0 and cols > 1 else 0
        h = y.chunks[0][location[0]] + r
        w = y.chunks[1][location[1]] + c
        return block[:h, :w]

    blocks = with_seams.to_delayed()
    summaries = [dask.delayed(lambda b, loc: _ccl_summary(upper_left(b, loc), loc, starts, band))(
        blocks[i, j], (i, j)) for i in range(grid[0]) for j in range(grid[1])]
    merged = dask.delayed(_ccl_merge)(summaries, grid, starts, (rows, cols))

    def resolved(block, merged, block_info=None):
        location = block_info[0]["chunk-location"]
        b = upper_left(block, location)
        joins = _Joins(b, starts[0][location[0]], starts[1][location[1]], band)
        klass, _, _ = joins.classes()
        out = np.where(joins.inside, merged[0][tuple(location)][klass], 0).astype(np.int32)
        r0, c0 = starts[0][location[0]], starts[1][location[1]]
        if r0 == 0:
            out[0, :] = -1
        if c0 == 0:
            out[:, 0] = -1
        if r0 == 0 and c0 == 0:
            out[0, 0] = 0
        return out

    labels = da.map_blocks(resolved, with_seams, merged, meta=_meta(2, np.int32), chunks=y.chunks)
    labels = _fill_holes(labels)
    if erase_small or erase_large:
        labels = _erase(labels, erase_small, erase_large)
    count = da.from_delayed(dask.delayed(lambda m: np.int64(m[1]))(merged), (), np.int64)
    return labels, count


def _fill_holes(labels):
    """A 0 whose four neighbours carry one label u >= 1 takes it (the image's
    outer rows and columns never change)."""
    def fill(block, block_info=None):
        out = block.copy()
        if block.shape[0] >= 3 and block.shape[1] >= 3:
            u = block[:-2, 1:-1]
            centre = out[1:-1, 1:-1]
            hole = (block[1:-1, 1:-1] == 0) & (u >= 1) & (block[2:, 1:-1] == u) & \
                (block[1:-1, :-2] == u) & (block[1:-1, 2:] == u)
            centre[hole] = u[hole]
        info = block_info[0]
        return _trimmed(out[None], (0,) + tuple(info["chunk-location"]),
                        (1,) + tuple(info["num-chunks"]), (1, 1))[0]
    fitted = labels.rechunk(tuple(_merged(c, 1) for c in labels.chunks))
    padded = da.overlap.overlap(fitted, depth={0: 1, 1: 1}, boundary="none")
    return da.map_blocks(fill, padded, meta=_meta(2, np.int32), chunks=fitted.chunks)


def _erase(labels, small, large):
    """Regions of fewer than `small` or more than `large` pixels (rows and
    columns from 1) become 0, by the areas counted over every tile."""
    def areas(block, r0, c0):
        b = block[(1 if r0 == 0 else 0):, (1 if c0 == 0 else 0):]
        found, counts = np.unique(b[b > 0], return_counts=True)
        return found, counts

    starts = [np.concatenate([[0], np.cumsum(c)[:-1]]) for c in labels.chunks]
    blocks = labels.to_delayed()
    parts = [dask.delayed(areas)(blocks[i, j], starts[0][i], starts[1][j])
             for i in range(blocks.shape[0]) for j in range(blocks.shape[1])]

    def erased(parts):
        found = np.concatenate([p[0] for p in parts]) if parts else np.zeros(0, np.int32)
        counts = np.concatenate([p[1] for p in parts]) if parts else np.zeros(0, np.int64)
        ids, where = np.unique(found, return_inverse=True)
        area = np.zeros(len(ids), np.int64)
        np.add.at(area, where, counts)
        gone = np.zeros(len(ids), bool)
        if small:
            gone |= area < small
        if large:
            gone |= area > large
        return ids[gone]

    gone = dask.delayed(erased)(parts)

    def erase(block, gone, block_info=None):
        location = block_info[0]["chunk-location"]
        out = block.copy()
        r = 1 if starts[0][location[0]] == 0 else 0
        c = 1 if starts[1][location[1]] == 0 else 0
        inner = out[r:, c:]
        inner[np.isin(inner, gone) & (inner > 0)] = 0
        return out
    return labels.map_blocks(erase, gone, meta=_meta(2, np.int32))


# ---- The module's functions ---------------------------------------------------------


def _not_tiled(name):
    def operator(*args, **kwargs):
        raise NotImplementedError(f"tamo.dask.{name}: no tiled form: {_WHY_NOT[name]}")
    return operator


def _publish(name, function, summary=None):
    library = getattr(tamo, name, None)
    if library is not None:
        signature = inspect.signature(library)
        function.__signature__ = signature.replace(
            parameters=[p for p in signature.parameters.values() if p.name != "out"])
        function.__doc__ = (function.__doc__ or f"tamo.{name} on a Dask array, chunk by "
                            f"chunk.") + "\n\n" + (library.__doc__ or "")
    function.__name__ = function.__qualname__ = name
    function.__module__ = __name__
    globals()[name] = function
    __all__.append(name)


for _name in _REACH:
    _publish(_name, _halo_operator(_name))
for _name in _TWO_IMAGES:
    _publish(_name, _two_image_operator(_name))
for _name in _SHIFTED:
    _publish(_name, _shifted_operator(_name))
for _name in ("correlate", "pad", "inv", "sqrt", "ifneg", "vidscale", "markmax", "ccl"):
    _publish(_name, globals()[_name])
for _name in _WHY_NOT:
    _publish(_name, _not_tiled(_name))
del _name
