// Resampling of one record to the size of another: bilinear interpolation,
// pixel replication and 2 x 2 averaging.
//
// The sampling positions are worked out once per axis; the planar types are
// then resampled by walking the pixel arrays, the rest through the pixel
// accessors. Both paths compute the same float expressions in the same order,
// so they give bit-identical results. The one exception is which NaN comes
// out where two NaNs meet in a sum (e.g. a NaN sample and an infinite one
// times a zero weight): the processor returns one operand's NaN, and which
// operand that is depends on the instructions the compiler chose, so the
// sign of such a NaN may differ between paths and builds.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <vector>

#include "imagelib_internal.h"
#include "parallel.h"
#include "tamoops.h"

namespace {

struct Shape {
    int cols = 0, rows = 0, frames = 0;
};

// Lengths of a record's dimensions; missing dimensions count as length 1.
Shape shapeOf(const TAMOHDR *img) {
    Shape s;
    const int n = img->orvndim;
    s.cols = n >= 1 ? img->orvdim[0].dlen : 1;
    s.rows = n >= 2 ? img->orvdim[1].dlen : 1;
    s.frames = n >= 3 ? img->orvdim[2].dlen : 1;
    return s;
}

bool usable(const TAMOHDR *img) {
    return tamo::hasValidMagic(img) && img->orvptr;
}

// ---- Sampling positions ------------------------------------------------------------

// Position in the input (n samples along the axis) that output index i reads.
// The flat path maps output 0 onto input 0; the framed path samples half a
// step further, at s*i + 0.5. Both stay inside the input.
inline float flatPosition(float s, int i, int n) {
    float p = s * static_cast<float>(i);
    if (p >= static_cast<float>(n)) p = static_cast<float>(n - 1);
    if (p < 0.0f) p = 0.0f;
    return p;
}

inline float framedPosition(float s, int i, int n) {
    float p = s * static_cast<float>(i) + 0.5f;
    if (p > static_cast<float>(n - 1)) p = static_cast<float>(n - 1);
    return p;
}

// The two neighbours of a position along one axis and their weights, as the
// interpolator computes them: lo = trunc(p), hi = lo + 1 limited to the last
// sample, frac = p - lo.
struct Taps {
    float pos;
    int lo, hi;
    float frac, rest;  // rest = 1 - frac
};

inline Taps tapsAt(float p, int n) {
    Taps t;
    t.pos = p;
    t.lo = static_cast<int>(p);
    t.hi = std::min(t.lo + 1, n - 1);
    t.frac = p - static_cast<float>(t.lo);
    t.rest = 1.0f - t.frac;
    return t;
}

// Per-axis tables, one entry per output index.
struct Axis {
    std::vector<Taps> taps;    // bilinear neighbours
    std::vector<int> nearest;  // replication: trunc(position)
    std::vector<int> pairLo;   // averaging: first of the two averaged samples
    std::vector<int> pairHi;
};

Axis makeAxis(int inLen, int outLen, bool framed, int mode) {
    Axis a;
    const float s = static_cast<float>(inLen) / static_cast<float>(outLen);
    for (int i = 0; i < outLen; ++i) {
        const float p = framed ? framedPosition(s, i, inLen) : flatPosition(s, i, inLen);
        if (mode == 1) {
            a.nearest.push_back(static_cast<int>(p));
        } else if (mode == 2 && !framed) {
            // The pair starting at trunc(p), moved back to stay inside; an axis
            // of one sample averages that sample with itself.
            const int lo = std::max(0, std::min(inLen - 2, static_cast<int>(p)));
            a.pairLo.push_back(lo);
            a.pairHi.push_back(std::min(lo + 1, inLen - 1));
        } else {
            a.taps.push_back(tapsAt(p, inLen));
        }
    }
    return a;
}

// ---- Element conversion ------------------------------------------------------------

// A value as the pixel writers store it: integers take the value truncated to
// 32 bits and keep their own low bits; floats are rounded to their precision.
template <class T>
inline T storedValue(double v) {
    if constexpr (std::is_integral_v<T>)
        return static_cast<T>(static_cast<uint32_t>(tamo::truncToInt32(v)));
    else
        return static_cast<T>(v);
}

// ---- Row loops for "float" and "u8bit" planes -------------------------------------
//
// Compiled for AVX-512, AVX2 and plain x86-64, picked at run time, with
// products and sums never fused into multiply-adds (AVX-512 has them), so
// every one is rounded as in the scalar code.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(TAMO_PORTABLE)
#define WIDE_CLONES \
    __attribute__((target_clones("avx512f", "avx2", "default"), optimize("fp-contract=off")))
#else
#define WIDE_CLONES
#endif
//
// The same float expressions as the generic kernels, in the same order and
// without fused multiply-adds, compiled for vector units: results are the
// same bits. Zero weights are multiplied like any other, so an infinite or
// NaN neighbour still turns its zero-weighted product into NaN.

// dst[j] = line[lo[j]] * rest[j] + line[hi[j]] * frac[j].
WIDE_CLONES void lerpGathered(const float *__restrict line, const int *__restrict lo,
                              const int *__restrict hi, const float *__restrict rest,
                              const float *__restrict frac, float *__restrict dst, int n) {
    for (int j = 0; j < n; ++j) dst[j] = line[lo[j]] * rest[j] + line[hi[j]] * frac[j];
}

// The same where lo[j] = 2j and hi[j] = 2j + 1 (halving): neighbours are
// read as adjacent pairs instead of gathered.
WIDE_CLONES void lerpPairs(const float *__restrict line, const float *__restrict rest,
                           const float *__restrict frac, float *__restrict dst, int n) {
    for (int j = 0; j < n; ++j) dst[j] = line[2 * j] * rest[j] + line[2 * j + 1] * frac[j];
}

// The same where lo[2k] = lo[2k + 1] = k and hi = k + 1 (doubling): each
// pair of outputs reads one adjacent pair of samples. n counts output pairs.
WIDE_CLONES void lerpDoubling(const float *__restrict line, const float *__restrict rest,
                              const float *__restrict frac, float *__restrict dst, int n) {
    for (int k = 0; k < n; ++k) {
        dst[2 * k] = line[k] * rest[2 * k] + line[k + 1] * frac[2 * k];
        dst[2 * k + 1] = line[k] * rest[2 * k + 1] + line[k + 1] * frac[2 * k + 1];
    }
}

// The halving loops below stream two input rows per output row. Each block
// of outputs first asks for the same block of the next output row's input
// rows (`nextA`, `nextB`), so that memory is read ahead while this block is
// computed: reading dominates, and the hardware prefetcher alone leaves the
// loads waiting. Prefetches never fault; the pointers passed for the last
// row are the current rows.
constexpr int kHalvingBlock = 64;  // outputs per block: 512 bytes per input row

inline void prefetchPairs(const float *a, const float *b, int j, int n) {
    const int end = 2 * std::min(j + kHalvingBlock, n);
    for (int k = 2 * j; k < end; k += 16) {
        __builtin_prefetch(a + k);
        __builtin_prefetch(b + k);
    }
}

// Both steps at once for rows a (top) and b (bottom) read as pairs, where no
// interpolated row would be used twice (halving): saves keeping rows aside.
WIDE_CLONES void lerpPairsTwice(const float *__restrict a, const float *__restrict b,
                                const float *nextA, const float *nextB,
                                const float *__restrict rest, const float *__restrict frac,
                                float fr, float rr, float *__restrict dst, int n) {
    for (int j0 = 0; j0 < n; j0 += kHalvingBlock) {
        prefetchPairs(nextA, nextB, j0, n);
        const int j1 = std::min(j0 + kHalvingBlock, n);
        for (int j = j0; j < j1; ++j) {
            const float top = a[2 * j] * rest[j] + a[2 * j + 1] * frac[j];
            const float bottom = b[2 * j] * rest[j] + b[2 * j + 1] * frac[j];
            dst[j] = bottom * fr + top * rr;
        }
    }
}

// The same where every column has the same weights (cr, cf), as in an exact
// halving, where all of them are 1 and 0: no weight tables to stream.
WIDE_CLONES void lerpPairsTwiceUniform(const float *__restrict a, const float *__restrict b,
                                       const float *nextA, const float *nextB, float cr, float cf,
                                       float fr, float rr, float *__restrict dst, int n) {
    for (int j0 = 0; j0 < n; j0 += kHalvingBlock) {
        prefetchPairs(nextA, nextB, j0, n);
        const int j1 = std::min(j0 + kHalvingBlock, n);
        for (int j = j0; j < j1; ++j) {
            const float top = a[2 * j] * cr + a[2 * j + 1] * cf;
            const float bottom = b[2 * j] * cr + b[2 * j + 1] * cf;
            dst[j] = bottom * fr + top * rr;
        }
    }
}

// The same for an exact halving along both axes, where every position falls
// on a sample: weights 1 and 0 throughout, written as constants so that the
// products with 1 cost nothing. The products with 0 are still taken, so that
// an infinite or NaN neighbour gives NaN and the sign of a zero comes out as
// in the general loop.
WIDE_CLONES void halveOnSamples(const float *__restrict a, const float *__restrict b,
                                const float *nextA, const float *nextB, float *__restrict dst,
                                int n) {
    for (int j0 = 0; j0 < n; j0 += kHalvingBlock) {
        prefetchPairs(nextA, nextB, j0, n);
        const int j1 = std::min(j0 + kHalvingBlock, n);
        for (int j = j0; j < j1; ++j) {
            const float top = a[2 * j] * 1.0f + a[2 * j + 1] * 0.0f;
            const float bottom = b[2 * j] * 1.0f + b[2 * j + 1] * 0.0f;
            dst[j] = bottom * 0.0f + top * 1.0f;
        }
    }
}

// dst[j] = bottom[j] * fr + top[j] * rr.
WIDE_CLONES void lerpRows(const float *__restrict top, const float *__restrict bottom, float fr,
                          float rr, float *__restrict dst, int n) {
    for (int j = 0; j < n; ++j) dst[j] = bottom[j] * fr + top[j] * rr;
}

// The same, stored as bytes: the values lie within [0, 255] (they blend
// bytes), where truncation to 32 bits and keeping the low byte is a plain
// conversion.
WIDE_CLONES void lerpRowsToBytes(const float *__restrict top, const float *__restrict bottom,
                                 float fr, float rr, uint8_t *__restrict dst, int n) {
    for (int j = 0; j < n; ++j)
        dst[j] = static_cast<uint8_t>(static_cast<int32_t>(bottom[j] * fr + top[j] * rr));
}

WIDE_CLONES void widenBytes(const uint8_t *__restrict src, float *__restrict dst, int n) {
    for (int j = 0; j < n; ++j) dst[j] = static_cast<float>(src[j]);
}

// Means of 2 x 2 samples: rows a and b, columns lo[j] and hi[j], summed in
// double precision in reading order, the mean taken in single precision.
WIDE_CLONES void averageRows(const float *__restrict a, const float *__restrict b,
                             const int *__restrict lo, const int *__restrict hi,
                             float *__restrict dst, int n) {
    for (int j = 0; j < n; ++j) {
        const double sum = static_cast<double>(a[lo[j]]) + static_cast<double>(a[hi[j]]) +
                           static_cast<double>(b[lo[j]]) + static_cast<double>(b[hi[j]]);
        dst[j] = static_cast<float>(sum) / 4.0f;
    }
}

// The same where lo[j] = 2j and hi[j] = 2j + 1, reading ahead as the
// halving loops do.
WIDE_CLONES void averagePairs(const float *__restrict a, const float *__restrict b,
                              const float *nextA, const float *nextB, float *__restrict dst,
                              int n) {
    for (int j0 = 0; j0 < n; j0 += kHalvingBlock) {
        prefetchPairs(nextA, nextB, j0, n);
        const int j1 = std::min(j0 + kHalvingBlock, n);
        for (int j = j0; j < j1; ++j) {
            const double sum = static_cast<double>(a[2 * j]) + static_cast<double>(a[2 * j + 1]) +
                               static_cast<double>(b[2 * j]) + static_cast<double>(b[2 * j + 1]);
            dst[j] = static_cast<float>(sum) / 4.0f;
        }
    }
}

// Replication of "float" rows: a sample is stored as the pixel writers store
// it (through double, which gives the same float back).
WIDE_CLONES void replicateGathered(const float *__restrict line, const int *__restrict at,
                                   float *__restrict dst, int n) {
    for (int j = 0; j < n; ++j) dst[j] = static_cast<float>(static_cast<double>(line[at[j]]));
}

// The same where outputs 2k and 2k + 1 both read sample k (doubling).
WIDE_CLONES void replicateDoubling(const float *__restrict line, float *__restrict dst, int n) {
    for (int k = 0; k < n; ++k) {
        const float v = static_cast<float>(static_cast<double>(line[k]));
        dst[2 * k] = v;
        dst[2 * k + 1] = v;
    }
}

// Number of leading columns whose neighbours are the pair (2j, 2j + 1).
int leadingPairs(const std::vector<int> &lo, const std::vector<int> &hi) {
    int n = 0;
    while (n < static_cast<int>(lo.size()) && lo[n] == 2 * n && hi[n] == 2 * n + 1) ++n;
    return n;
}

// Number of leading output pairs (2k, 2k + 1) whose neighbours are both
// (k, k + 1).
int leadingDoubles(const std::vector<int> &lo, const std::vector<int> &hi) {
    int n = 0;
    while (2 * n + 1 < static_cast<int>(lo.size()) && lo[2 * n] == n && lo[2 * n + 1] == n &&
           hi[2 * n] == n + 1 && hi[2 * n + 1] == n + 1)
        ++n;
    return n;
}

// ---- Planar kernels ----------------------------------------------------------------

// One plane of a planar record: element (r, c) is at base[(r * cols + c) * step];
// step 2 reaches the real parts of complex elements.
template <class T>
struct Plane {
    T *base;
    int cols;
    int step;
    T *row(int r) const { return base + static_cast<std::ptrdiff_t>(r) * cols * step; }
};

// Each kernel prepares its column tables once and then fills any range of
// output rows, given a scratch row buffer of its own (rows(lo, hi, scratch));
// a row's values do not depend on which range it falls in.
template <class Tin, class Tout>
class BilinearPlane {
public:
    // The vector row loops serve planar "float" and "u8bit" planes.
    static constexpr bool kFloatIn = std::is_same_v<Tin, float> || std::is_same_v<Tin, uint8_t>;
    static constexpr bool kFastOut = std::is_same_v<Tout, float> || (std::is_same_v<Tin, uint8_t> &&
                                                                     std::is_same_v<Tout, uint8_t>);

    BilinearPlane(Plane<const Tin> in, Plane<Tout> out, const Axis &rows, const Axis &cols)
        : in_(in),
          out_(out),
          rows_(rows),
          outCols_(static_cast<int>(cols.taps.size())),
          lo_(outCols_),
          hi_(outCols_),
          frac_(outCols_),
          rest_(outCols_) {
        for (int j = 0; j < outCols_; ++j) {
            lo_[j] = cols.taps[j].lo * in.step;
            hi_[j] = cols.taps[j].hi * in.step;
            frac_[j] = cols.taps[j].frac;
            rest_[j] = cols.taps[j].rest;
        }
        pairs_ = leadingPairs(lo_, hi_);
        doubles_ = leadingDoubles(lo_, hi_);
        uniformCols_ = outCols_ > 0 && std::all_of(frac_.begin(), frac_.end(),
                                                   [&](float f) { return f == frac_[0]; });
    }

    void rows(long long i0, long long i1, float *scratch) const {
        const int outCols = outCols_, outStep = out_.step;
        // Each input row is interpolated along the columns once and kept
        // while output rows still need it: rows are visited in increasing
        // order.
        float *first = scratch, *second = scratch + outCols;
        float *widened = scratch + 2 * outCols;  // a "u8bit" input row as floats
        int firstRow = -1, secondRow = -1;
        auto horizontal = [&](int r, float *dst) {
            const Tin *line = in_.row(r);
            if constexpr (kFloatIn) {
                if (in_.step == 1) {
                    const float *src;
                    if constexpr (std::is_same_v<Tin, uint8_t>) {
                        widenBytes(line, widened, in_.cols);
                        src = widened;
                    } else {
                        src = line;
                    }
                    int p = pairs_;
                    if (doubles_ > 0) {
                        lerpDoubling(src, rest_.data(), frac_.data(), dst, doubles_);
                        p = 2 * doubles_;
                    } else {
                        lerpPairs(src, rest_.data(), frac_.data(), dst, p);
                    }
                    lerpGathered(src, lo_.data() + p, hi_.data() + p, rest_.data() + p,
                                 frac_.data() + p, dst + p, outCols - p);
                    return;
                }
            }
            for (int j = 0; j < outCols; ++j)
                dst[j] = static_cast<float>(line[lo_[j]]) * rest_[j] +
                         static_cast<float>(line[hi_[j]]) * frac_[j];
        };
        for (long long i = i0; i < i1; ++i) {
            const Taps &t = rows_.taps[static_cast<std::size_t>(i)];
            if constexpr (std::is_same_v<Tin, float> && std::is_same_v<Tout, float>) {
                // Rows 2i and 2i + 1, every column a pair: one pass.
                if (in_.step == 1 && outStep == 1 && pairs_ == outCols && t.lo == 2 * i &&
                    t.hi == t.lo + 1) {
                    const Taps &next = rows_.taps[static_cast<std::size_t>(i + 1 < i1 ? i + 1 : i)];
                    const float *a = in_.row(t.lo), *b = in_.row(t.hi);
                    const float *nextA = in_.row(next.lo), *nextB = in_.row(next.hi);
                    float *dst = out_.row(static_cast<int>(i));
                    if (uniformCols_ && frac_[0] == 0.0f && t.frac == 0.0f)
                        halveOnSamples(a, b, nextA, nextB, dst, outCols);
                    else if (uniformCols_)
                        lerpPairsTwiceUniform(a, b, nextA, nextB, rest_[0], frac_[0], t.frac,
                                              t.rest, dst, outCols);
                    else
                        lerpPairsTwice(a, b, nextA, nextB, rest_.data(), frac_.data(), t.frac,
                                       t.rest, dst, outCols);
                    continue;
                }
            }
            if (firstRow != t.lo) {
                if (secondRow == t.lo) {
                    std::swap(first, second);
                    std::swap(firstRow, secondRow);
                } else {
                    horizontal(t.lo, first);
                    firstRow = t.lo;
                }
            }
            const float *top = first, *bottom = first;
            if (t.hi != t.lo) {
                if (secondRow != t.hi) {
                    horizontal(t.hi, second);
                    secondRow = t.hi;
                }
                bottom = second;
            }
            Tout *dst = out_.row(static_cast<int>(i));
            const float fr = t.frac, rr = t.rest;
            if constexpr (kFastOut) {
                if (outStep == 1) {
                    if constexpr (std::is_same_v<Tout, float>)
                        lerpRows(top, bottom, fr, rr, dst, outCols);
                    else
                        lerpRowsToBytes(top, bottom, fr, rr, dst, outCols);
                    continue;
                }
            }
            if (outStep == 1) {
                for (int j = 0; j < outCols; ++j)
                    dst[j] = storedValue<Tout>(bottom[j] * fr + top[j] * rr);
            } else {
                for (int j = 0; j < outCols; ++j)
                    dst[j * outStep] = storedValue<Tout>(bottom[j] * fr + top[j] * rr);
            }
        }
    }

private:
    Plane<const Tin> in_;
    Plane<Tout> out_;
    const Axis &rows_;
    int outCols_;
    std::vector<int> lo_, hi_;
    std::vector<float> frac_, rest_;
    int pairs_ = 0;             // leading columns read as adjacent pairs (unit steps only)
    int doubles_ = 0;           // leading column pairs reading one adjacent pair
    bool uniformCols_ = false;  // every column has the same weights
};

template <class Tin, class Tout>
class ReplicatePlane {
public:
    ReplicatePlane(Plane<const Tin> in, Plane<Tout> out, const Axis &rows, const Axis &cols)
        : in_(in), out_(out), rows_(rows), at_(cols.nearest.size()) {
        for (std::size_t j = 0; j < at_.size(); ++j) at_[j] = cols.nearest[j] * in.step;
        while (2 * doubles_ + 1 < static_cast<int>(at_.size()) && at_[2 * doubles_] == doubles_ &&
               at_[2 * doubles_ + 1] == doubles_)
            ++doubles_;
    }
    void rows(long long i0, long long i1, float *) const {
        const int outCols = static_cast<int>(at_.size());
        for (long long i = i0; i < i1; ++i) {
            const int from = rows_.nearest[static_cast<std::size_t>(i)];
            Tout *dst = out_.row(static_cast<int>(i));
            // An output row reading the same input row as the one above it
            // (enlarging) is a copy of it; with a step of 2 the imaginary
            // parts in between are not ours to copy.
            if (out_.step == 1 && i > i0 &&
                rows_.nearest[static_cast<std::size_t>(i - 1)] == from) {
                std::memcpy(dst, out_.row(static_cast<int>(i - 1)), sizeof(Tout) * outCols);
                continue;
            }
            const Tin *line = in_.row(from);
            if constexpr (std::is_same_v<Tin, float> && std::is_same_v<Tout, float>) {
                if (in_.step == 1 && out_.step == 1) {
                    const int d = doubles_;
                    replicateDoubling(line, dst, d);
                    replicateGathered(line, at_.data() + 2 * d, dst + 2 * d, outCols - 2 * d);
                    continue;
                }
            }
            for (int j = 0; j < outCols; ++j)
                dst[j * out_.step] = storedValue<Tout>(static_cast<double>(line[at_[j]]));
        }
    }

private:
    Plane<const Tin> in_;
    Plane<Tout> out_;
    const Axis &rows_;
    std::vector<int> at_;
    int doubles_ = 0;  // leading output pairs (2k, 2k + 1) both reading sample k
};

// The four samples are summed in double precision in reading order; the mean
// is taken in single precision.
template <class Tin, class Tout>
class AveragePlane {
public:
    AveragePlane(Plane<const Tin> in, Plane<Tout> out, const Axis &rows, const Axis &cols)
        : in_(in), out_(out), rows_(rows), lo_(cols.pairLo.size()), hi_(cols.pairLo.size()) {
        for (std::size_t j = 0; j < lo_.size(); ++j) {
            lo_[j] = cols.pairLo[j] * in.step;
            hi_[j] = cols.pairHi[j] * in.step;
        }
        pairs_ = leadingPairs(lo_, hi_);
    }
    void rows(long long i0, long long i1, float *) const {
        const int outCols = static_cast<int>(lo_.size());
        for (long long i = i0; i < i1; ++i) {
            const Tin *a = in_.row(rows_.pairLo[static_cast<std::size_t>(i)]);
            const Tin *b = in_.row(rows_.pairHi[static_cast<std::size_t>(i)]);
            Tout *dst = out_.row(static_cast<int>(i));
            if constexpr (std::is_same_v<Tin, float> && std::is_same_v<Tout, float>) {
                if (in_.step == 1 && out_.step == 1) {
                    const std::size_t next = static_cast<std::size_t>(i + 1 < i1 ? i + 1 : i);
                    const int p = pairs_;
                    averagePairs(a, b, in_.row(rows_.pairLo[next]), in_.row(rows_.pairHi[next]),
                                 dst, p);
                    averageRows(a, b, lo_.data() + p, hi_.data() + p, dst + p, outCols - p);
                    continue;
                }
            }
            for (int j = 0; j < outCols; ++j) {
                const double sum = static_cast<double>(a[lo_[j]]) + static_cast<double>(a[hi_[j]]) +
                                   static_cast<double>(b[lo_[j]]) + static_cast<double>(b[hi_[j]]);
                dst[j * out_.step] = storedValue<Tout>(static_cast<float>(sum) / 4.0f);
            }
        }
    }

private:
    Plane<const Tin> in_;
    Plane<Tout> out_;
    const Axis &rows_;
    std::vector<int> lo_, hi_;
    int pairs_ = 0;  // leading columns read as adjacent pairs (unit steps only)
};

template <class Tout>
class ZeroPlane {
public:
    ZeroPlane(Plane<Tout> out, int cols) : out_(out), cols_(cols) {}
    void rows(long long i0, long long i1, float *) const {
        for (long long i = i0; i < i1; ++i) {
            Tout *dst = out_.row(static_cast<int>(i));
            for (int j = 0; j < cols_; ++j) dst[j * out_.step] = storedValue<Tout>(0.0);
        }
    }

private:
    Plane<Tout> out_;
    int cols_;
};

// Calls f(TypeTag<T>, step) for records whose elements are planar scalars
// (step 1) or complex (step 2, real part first). False for interleaved
// channels and "struct".
template <class F>
bool visitPlanar(const TAMOHDR *img, F &&f) {
    bool planar = false;
    tamo::visitScalar(img->dtype, [&](auto tag, tamo::ElemLayout layout) {
        if (layout.channels != 1) return;
        f(tag, layout.complex ? 2 : 1);
        planar = true;
    });
    return planar;
}

// Resamples every plane the path covers by walking the pixel arrays, output
// rows shared out between threads. False when either record has a type the
// planar kernels do not handle; with `stopped` set when the progress hook
// asked to stop (some planes then partly written).
bool resamplePlanar(TAMOHDR *in, TAMOHDR *out, int mode, bool framed, const Axis &rows,
                    const Axis &cols, tamo::Progress &progress, bool &stopped) {
    const Shape si = shapeOf(in), so = shapeOf(out);
    const int planes = framed ? si.frames : 1;
    bool done = false;
    visitPlanar(in, [&](auto inTag, int inStep) {
        using Tin = typename decltype(inTag)::type;
        visitPlanar(out, [&](auto outTag, int outStep) {
            using Tout = typename decltype(outTag)::type;
            done = true;
            const std::ptrdiff_t inPlane = static_cast<std::ptrdiff_t>(si.rows) * si.cols * inStep;
            const std::ptrdiff_t outPlane =
                static_cast<std::ptrdiff_t>(so.rows) * so.cols * outStep;
            const int threads =
                tamo::threadsFor(static_cast<long long>(so.rows) * so.cols * 4, so.rows);
            // Per thread: two interpolated rows and one widened input row.
            const std::size_t perThread = 2 * static_cast<std::size_t>(so.cols) + si.cols;
            std::vector<float> scratch(static_cast<std::size_t>(threads) * perThread);
            for (int f = 0; f < planes && !stopped; ++f) {
                Plane<const Tin> src{tamo::pixels<Tin>(in) + f * inPlane, si.cols, inStep};
                Plane<Tout> dst{tamo::pixels<Tout>(out) + f * outPlane, so.cols, outStep};
                auto run = [&](const auto &kernel) {
                    stopped = !tamo::runPieces(
                        so.rows, threads, progress, static_cast<int64_t>(f) * so.rows, 1,
                        [&](long long lo, long long hi, int t) {
                            kernel.rows(lo, hi,
                                        scratch.data() + static_cast<std::size_t>(t) * perThread);
                        });
                };
                if (mode == 1)
                    run(ReplicatePlane<Tin, Tout>(src, dst, rows, cols));
                else if (mode == 2 && !framed)
                    run(AveragePlane<Tin, Tout>(src, dst, rows, cols));
                else if (mode == 0 || framed)
                    run(BilinearPlane<Tin, Tout>(src, dst, rows, cols));
                else
                    run(ZeroPlane<Tout>(dst, so.cols));
            }
        });
    });
    return done;
}

// ---- Interleaved records: through the pixel accessors --------------------------

// True when the element type has one scalar (or one complex value) per pixel.
bool isPlanar(const TAMOHDR *img) {
    return visitPlanar(img, [](auto, int) {});
}

bool isNumeric(const TAMOHDR *img) {
    return tamo::visitScalar(img->dtype, [](auto, tamo::ElemLayout) {});
}

// False when the progress hook asked to stop.
bool resampleFramedInterleaved(TAMOHDR *in, TAMOHDR *out, int mode, const Axis &rows,
                               const Axis &cols, tamo::Progress &progress) {
    const Shape si = shapeOf(in), so = shapeOf(out);
    for (int f = 0; f < si.frames; ++f) {
        for (int j = 0; j < so.rows; ++j) {
            if (progress.report(static_cast<int64_t>(f) * so.rows + j)) return false;
            for (int k = 0; k < so.cols; ++k) {
                double value;
                if (mode == 1) {
                    value = Tamofgp3d(in, f, rows.nearest[j], cols.nearest[k]);
                } else {
                    value = bilininterp1(in, f, rows.taps[j].pos, cols.taps[k].pos);
                }
                Tamofpp3d(out, f, j, k, value);
            }
        }
    }
    return true;
}

}  // namespace

extern "C" {

float bilininterp1(TAMOHDR *img, int frame, float row, float col) {
    if (!usable(img)) {
        Tamoerr = img ? TAMO_EHEADER : TAMO_ENULL;
        Tamowarn("bilininterp1: invalid image");
        return 0.0f;
    }
    const Shape s = shapeOf(img);
    if (s.rows < 1 || s.cols < 1) return 0.0f;
    if (img->orvndim < 2) frame = 0;
    // A position outside the image is read at the nearest edge (NaN at the
    // first sample), so no read leaves the pixel data.
    if (!(row >= 0.0f)) row = 0.0f;
    if (row >= static_cast<float>(s.rows)) row = static_cast<float>(s.rows - 1);
    if (!(col >= 0.0f)) col = 0.0f;
    if (col >= static_cast<float>(s.cols)) col = static_cast<float>(s.cols - 1);

    const Taps tr = tapsAt(row, s.rows), tc = tapsAt(col, s.cols);
    // The first plane of a planar record is read with the 2-D reader (which
    // also serves 1-D records); interleaved channels need the 3-D reader.
    const bool plane0 = frame == 0 && isPlanar(img);
    auto at = [&](int r, int c) {
        return static_cast<float>(plane0 ? Tamofgp(img, r, c) : Tamofgp3d(img, frame, r, c));
    };
    const float top = at(tr.lo, tc.lo) * tc.rest + at(tr.lo, tc.hi) * tc.frac;
    const float bottom = at(tr.hi, tc.lo) * tc.rest + at(tr.hi, tc.hi) * tc.frac;
    return bottom * tr.frac + top * tr.rest;
}

int Tamozoomupdown(TAMOHDR *in, TAMOHDR *out, int mode) {
    if (!usable(in) || !usable(out)) {
        Tamoerr = (in && out) ? TAMO_EHEADER : TAMO_ENULL;
        std::printf("Tamozoomupdown: invalid %s image\n", usable(in) ? "output" : "input");
        std::fflush(stdout);
        return TAMO_ZOOM_EARGS;
    }
    switch (mode) {
        case 0:
            std::printf("Image will be zoomed by bilinear interpolation\n");
            break;
        case 1:
            std::printf("Image will be zoomed by pixel replication\n");
            break;
        case 2:
            std::printf("Image will be zoomed by averaging\n");
            break;
    }
    const Shape si = shapeOf(in), so = shapeOf(out);
    if (in->orvndim == 3 && so.frames != si.frames) {
        std::printf(
            "Tamozoomupdown: both input and output images must have same number of "
            "frames\n");
        std::printf("input image is %d %d %d, output is %d %d %d\n", si.cols, si.rows, si.frames,
                    so.cols, so.rows, so.frames);
        std::fflush(stdout);
        tamo::endProcess(-1);
        return TAMO_ZOOM_EARGS;
    }
    if (in->orvndim != 2 && in->orvndim != 3) {
        std::printf("zoomupdown: bug in case statement!\n");
        std::fflush(stdout);
        tamo::endProcess(-1);
        return TAMO_ZOOM_EARGS;
    }
    const bool framed = in->orvndim == 3;
    if (framed)
        std::printf("zoomupdown: processing a 3D, %d %d %dimage\n", si.frames, so.rows, so.cols);
    else
        std::printf("zoomupdown: processing a 2D image\n");
    std::fflush(stdout);

    if (so.rows < 1 || so.cols < 1) return 0;
    if (si.rows < 1 || si.cols < 1) {
        // Nothing to sample from: reading would leave the input's data.
        Tamoerr = TAMO_EHEADER;
        std::printf("Tamozoomupdown: input image is empty\n");
        std::fflush(stdout);
        return TAMO_ZOOM_EARGS;
    }

    // The 2-D path reads and writes single planes, which interleaved records
    // do not have; framed records reach their channels as frames.
    for (TAMOHDR *img : {in, out}) {
        if (framed ? isNumeric(img) : isPlanar(img)) continue;
        Tamoerr = TAMO_ETYPE;
        std::printf("Tamozoomupdown: cannot resample images of type %s\n", img->orvdt);
        std::fflush(stdout);
        return TAMO_ZOOM_EARGS;
    }

    const Axis rows = makeAxis(si.rows, so.rows, framed, mode);
    const Axis cols = makeAxis(si.cols, so.cols, framed, mode);
    // Progress counts output rows of every plane; a stopped run puts the
    // output back as it came.
    tamo::Progress progress(static_cast<int64_t>(framed ? si.frames : 1) * so.rows);
    tamo::PixelSnapshot before(out, progress);
    if (before.failed()) progress.disable();
    bool stopped = false;
    if (!resamplePlanar(in, out, mode, framed, rows, cols, progress, stopped))
        stopped = !resampleFramedInterleaved(in, out, mode, rows, cols, progress);
    if (stopped) {
        before.restore();
        return TAMO_CANCELLED;
    }
    return 0;
}

}  // extern "C"
