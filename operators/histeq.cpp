// Grey-level histogram equalisation over the whole image (one histogram, one
// table look-up per pixel) or over a sliding window centred on each pixel.
// A colour image (three frames) shares one histogram between its frames in
// whole-image mode and is equalised frame by frame in window mode.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "imagelib_internal.h"
#include "parallel.h"
#include "tamoops.h"

// The selects of quickBins vectorise only when comparisons may be assumed
// not to trap; no result depends on floating-point exception flags.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-trapping-math")
#endif

namespace {

using tamo::dimLength;

using tamo::pixels;

// Starting values of the range search: data wholly beyond them keep them.
constexpr float kRangeMax = -1000000.0f;
constexpr float kRangeMin = 1000000.0f;

struct Plane {
    int rows, cols;
    int planes;  // 3 in colour mode, else 1
};

// Reports every negative pixel on the outer rows and columns, as a check on
// the input's value range; corners are reported by both scans.
void reportNegativeBorder(const float *data, const Plane &p) {
    const long long plane = static_cast<long long>(p.rows) * p.cols;
    for (int f = 0; f < p.planes; ++f) {
        const float *px = data + f * plane;
        auto check = [&](int r, int c) {
            if (px[static_cast<long long>(r) * p.cols + c] < 0.0f)
                std::printf("row %d col %d\n", r, c);
        };
        for (int c = 0; c < p.cols; ++c) check(0, c);
        for (int c = 0; c < p.cols; ++c) check(p.rows - 1, c);
        for (int r = 0; r < p.rows; ++r) check(r, 0);
        for (int r = 0; r < p.rows; ++r) check(r, p.cols - 1);
    }
}

// Writes the value of plane f, row r, column c of the output: floats
// directly, any other type through the pixel writers.
class OutputWriter {
public:
    OutputWriter(TAMOHDR *out, bool colour)
        : out_(out), colour_(colour), direct_(out->dtype == TAMO_32FLT) {
        cols_ = dimLength(out, 0);
        plane_ = static_cast<long long>(cols_) * (out->orvndim >= 2 ? dimLength(out, 1) : 1);
    }
    bool direct() const { return direct_; }
    float *row(int f, int r) const {
        return pixels<float>(out_) + f * plane_ + static_cast<long long>(r) * cols_;
    }
    void put(int f, int r, int c, float v) const {
        if (direct_)
            row(f, r)[c] = v;
        else if (colour_)
            Tamofpp3d(out_, f, r, c, v);
        else
            Tamofpp(out_, r, c, v);
    }

private:
    TAMOHDR *out_;
    bool colour_, direct_;
    int cols_;
    long long plane_;
};

// Bin index in 0..255 of the whole-image histogram: the integer part of
// d * 255.0 / range with d = v - min in single precision and the rest in
// double precision. d * 255 is exact in double precision, so that division
// truncates to floor(255 d / range) of the exact quotient unless it rounds
// up to a whole number; it cannot: d and range are floats, 255 d - k range is
// a multiple of the last bit of the smaller of them, and a quotient near a
// whole k >= 1 that is not k itself lies at least 2^-33 from it. Here the
// quotient is never formed: d times 255 / range in double precision lies
// within 2^-44 of it, and adding 2^-40 before truncating finds the same
// whole number. NaN, and the 0 * inf of an infinite range, land in bin 0.
inline int wholeImageBin(float v, float mn, double scale) {
    const double q = static_cast<double>(v - mn) * scale + 0x1p-40;
    const double low = q > 0.0 ? q : 0.0;  // NaN too
    return static_cast<int>(low < 255.0 ? low : 255.0);
}

// The bins of n consecutive values. Kept free of calls and early exits so that
// the compiler vectorises it.
TAMO_TARGET_CLONES void binValuesPlain(const float *__restrict v, uint8_t *__restrict bins, int n,
                                       float mn, double scale) {
    for (int i = 0; i < n; ++i) bins[i] = static_cast<uint8_t>(wholeImageBin(v[i], mn, scale));
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(TAMO_PORTABLE)
#define TAMO_HISTEQ_AVX512 1
// GCC 12's AVX-512 intrinsics start from deliberately undefined vectors,
// which its own analysis then reports as uninitialised.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// wholeImageBin sixteen values at a time. max_pd(q, 0) gives 0 for NaN, as
// the select does.
__attribute__((target("avx512f"))) void binValuesAvx512(const float *v, uint8_t *bins, int n,
                                                        float mn, double scale) {
    const __m512 low = _mm512_set1_ps(mn);
    const __m512d factor = _mm512_set1_pd(scale);
    const __m512d nudge = _mm512_set1_pd(0x1p-40);
    const __m512d zero = _mm512_setzero_pd();
    const __m512d top = _mm512_set1_pd(255.0);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m512 d = _mm512_sub_ps(_mm512_loadu_ps(v + i), low);
        __m512d q0 = _mm512_cvtps_pd(_mm512_castps512_ps256(d));
        __m512d q1 =
            _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(d), 1)));
        q0 = _mm512_min_pd(_mm512_max_pd(_mm512_add_pd(_mm512_mul_pd(q0, factor), nudge), zero),
                           top);
        q1 = _mm512_min_pd(_mm512_max_pd(_mm512_add_pd(_mm512_mul_pd(q1, factor), nudge), zero),
                           top);
        const __m512i k = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(q0)),
                                             _mm512_cvttpd_epi32(q1), 1);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(bins + i), _mm512_cvtepi32_epi8(k));
    }
    binValuesPlain(v + i, bins + i, n - i, mn, scale);
}

// The same bins of 16 values in single precision: k, the whole number
// nearest to d * (255 / range), is floor(255 d / range) or one above it, and
// it is one above exactly where 255 d < k range. Both products are split
// into two floats by fused multiply-adds, and their high parts lie within a
// factor 1.5 of each other, so the sign of the difference is exact. For
// ranges within 2^-90 .. 2^100, where no product leaves the normal range;
// NaN gives bin 0 (max_ps returns its second operand for NaN).
__attribute__((target("avx512f"))) inline __m128i binsOf16(const float *v, __m512 low, __m512 scale,
                                                           __m512 range) {
    const __m512 c255 = _mm512_set1_ps(255.0f), zero = _mm512_setzero_ps();
    const __m512 d = _mm512_sub_ps(_mm512_loadu_ps(v), low);
    const __m512 k = _mm512_roundscale_ps(_mm512_mul_ps(d, scale),
                                          _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m512 ph = _mm512_mul_ps(c255, d), pl = _mm512_fmsub_ps(c255, d, ph);
    const __m512 bh = _mm512_mul_ps(k, range), bl = _mm512_fmsub_ps(k, range, bh);
    const __m512 diff = _mm512_add_ps(_mm512_sub_ps(ph, bh), _mm512_sub_ps(pl, bl));
    __m512 bin =
        _mm512_mask_sub_ps(k, _mm512_cmp_ps_mask(diff, zero, _CMP_LT_OQ), k, _mm512_set1_ps(1.0f));
    bin = _mm512_min_ps(_mm512_max_ps(bin, zero), c255);
    return _mm512_cvtepi32_epi8(_mm512_cvttps_epi32(bin));
}
#endif

#ifdef TAMO_HISTEQ_AVX512
__attribute__((target("avx512f"))) void binValuesSingle(const float *v, uint8_t *bins, int n,
                                                        float mn, float range, double scale) {
    const __m512 low = _mm512_set1_ps(mn), rangeV = _mm512_set1_ps(range);
    const __m512 scaleV = _mm512_set1_ps(static_cast<float>(scale));
    int i = 0;
    for (; i + 16 <= n; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(bins + i),
                         binsOf16(v + i, low, scaleV, rangeV));
    binValuesPlain(v + i, bins + i, n - i, mn, scale);
}
#endif

void binValues(const float *v, uint8_t *bins, int n, float mn, float range) {
    const double scale = 255.0 / static_cast<double>(range);
#ifdef TAMO_HISTEQ_AVX512
    static const bool avx512 = __builtin_cpu_supports("avx512f");
    if (avx512 && range >= 0x1p-90f && range <= 0x1p100f)
        return binValuesSingle(v, bins, n, mn, range, scale);
    if (avx512) return binValuesAvx512(v, bins, n, mn, scale);
#endif
    binValuesPlain(v, bins, n, mn, scale);
}

// Counts n bins into four tables, so that runs of equal bins do not wait on
// each other; four bins are read at a time, twice per step (written out:
// the loop over the bytes of a 64-bit word compiled to half the speed).
inline void countBins(const uint8_t *bins, int n, uint32_t (&counts)[4][256]) {
    int j = 0;
    for (; j + 8 <= n; j += 8) {
        uint32_t a, b;
        std::memcpy(&a, bins + j, sizeof a);
        std::memcpy(&b, bins + j + 4, sizeof b);
        ++counts[0][a & 0xFF];
        ++counts[1][(a >> 8) & 0xFF];
        ++counts[2][(a >> 16) & 0xFF];
        ++counts[3][a >> 24];
        ++counts[0][b & 0xFF];
        ++counts[1][(b >> 8) & 0xFF];
        ++counts[2][(b >> 16) & 0xFF];
        ++counts[3][b >> 24];
    }
    for (; j < n; ++j) ++counts[0][bins[j]];
}

// dst[c] = lut[bins[c]]. The image is far larger than the caches, so the
// results are streamed past them (no read of the destination first).
void lookUpPlain(const float *lut, const uint8_t *bins, float *dst, int n) {
    int c = 0;
#if defined(__SSE2__)
    for (; c < n && reinterpret_cast<uintptr_t>(dst + c) % 16 != 0; ++c) dst[c] = lut[bins[c]];
    for (; c + 4 <= n; c += 4)
        _mm_stream_ps(dst + c, _mm_setr_ps(lut[bins[c]], lut[bins[c + 1]], lut[bins[c + 2]],
                                           lut[bins[c + 3]]));
#endif
    for (; c < n; ++c) dst[c] = lut[bins[c]];
}

#ifdef TAMO_HISTEQ_AVX512
// Sixteen look-ups at a time from the table, which stays in the first-level
// cache.
__attribute__((target("avx512f"))) void lookUpAvx512(const float *lut, const uint8_t *bins,
                                                     float *dst, int n) {
    int c = 0;
    for (; c < n && reinterpret_cast<uintptr_t>(dst + c) % 64 != 0; ++c) dst[c] = lut[bins[c]];
    for (; c + 16 <= n; c += 16) {
        const __m512i index =
            _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bins + c)));
        _mm512_stream_ps(dst + c, _mm512_i32gather_ps(index, lut, 4));
    }
    for (; c < n; ++c) dst[c] = lut[bins[c]];
}

// Sixteen look-ups take a gather of 20 cycles on some processors; with byte
// permutes (VBMI) 64 take 27 instructions. Each byte of the floats has its
// own 256-entry table, held in four registers: two two-register permutes on
// the low seven bits of the bins, and bit 7 picks between them. The four
// byte planes are then interleaved into floats; interleaving works within
// 128-bit lanes, so the bins are first put in the order that makes the
// results come out in order. Plain stores: the result is usually looked at
// next, and streaming it past the caches measured slower.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void lookUpVbmi(const float *lut,
                                                                       const uint8_t *bins,
                                                                       float *dst, int n) {
    alignas(64) uint8_t planes[4][256];
    for (int b = 0; b < 256; ++b) {
        uint32_t bits;
        std::memcpy(&bits, lut + b, sizeof bits);
        for (int j = 0; j < 4; ++j) planes[j][b] = static_cast<uint8_t>(bits >> (8 * j));
    }
    __m512i table[4][4];
    for (int j = 0; j < 4; ++j)
        for (int q = 0; q < 4; ++q)
            table[j][q] = _mm512_load_si512(reinterpret_cast<const __m512i *>(planes[j] + 64 * q));
    // Position 16 L + 4 r + k takes bin 16 r + 4 L + k (lane L, result r).
    alignas(64) uint8_t order[64];
    for (int lane = 0; lane < 4; ++lane)
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k)
                order[16 * lane + 4 * r + k] = static_cast<uint8_t>(16 * r + 4 * lane + k);
    const __m512i reorder = _mm512_load_si512(reinterpret_cast<const __m512i *>(order));
    int c = 0;
    for (; c < n && reinterpret_cast<uintptr_t>(dst + c) % 64 != 0; ++c) dst[c] = lut[bins[c]];
    for (; c + 64 <= n; c += 64) {
        const __m512i index = _mm512_permutexvar_epi8(
            reorder, _mm512_loadu_si512(reinterpret_cast<const __m512i *>(bins + c)));
        const __mmask64 high = _mm512_movepi8_mask(index);
        __m512i bytes[4];
        for (int j = 0; j < 4; ++j)
            bytes[j] = _mm512_mask_blend_epi8(
                high, _mm512_permutex2var_epi8(table[j][0], index, table[j][1]),
                _mm512_permutex2var_epi8(table[j][2], index, table[j][3]));
        const __m512i lo01 = _mm512_unpacklo_epi8(bytes[0], bytes[1]);
        const __m512i hi01 = _mm512_unpackhi_epi8(bytes[0], bytes[1]);
        const __m512i lo23 = _mm512_unpacklo_epi8(bytes[2], bytes[3]);
        const __m512i hi23 = _mm512_unpackhi_epi8(bytes[2], bytes[3]);
        float *to = dst + c;
        _mm512_store_ps(to, _mm512_castsi512_ps(_mm512_unpacklo_epi16(lo01, lo23)));
        _mm512_store_ps(to + 16, _mm512_castsi512_ps(_mm512_unpackhi_epi16(lo01, lo23)));
        _mm512_store_ps(to + 32, _mm512_castsi512_ps(_mm512_unpacklo_epi16(hi01, hi23)));
        _mm512_store_ps(to + 48, _mm512_castsi512_ps(_mm512_unpackhi_epi16(hi01, hi23)));
    }
    for (; c < n; ++c) dst[c] = lut[bins[c]];
}
#endif

void lookUp(const float *lut, const uint8_t *bins, float *dst, int n) {
#ifdef TAMO_HISTEQ_AVX512
    static const bool vbmi =
        __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw");
    if (vbmi) return lookUpVbmi(lut, bins, dst, n);
    static const bool avx512 = __builtin_cpu_supports("avx512f");
    if (avx512) return lookUpAvx512(lut, bins, dst, n);
#endif
    lookUpPlain(lut, bins, dst, n);
}

// Counts bins into four tables, emptied into 64-bit totals long before the
// 32-bit counts could overflow.
class BinCounter {
public:
    void add(const uint8_t *bins, int n) {
        countBins(bins, n, counts_);
        counted_ += n;
        if (counted_ >= kFold) fold();
    }
    const uint64_t (&totals())[256] {
        fold();
        return totals_;
    }

private:
    static constexpr long long kFold = 1LL << 28;
    void fold() {
        for (int b = 0; b < 256; ++b) {
            totals_[b] += static_cast<uint64_t>(counts_[0][b]) + counts_[1][b] + counts_[2][b] +
                          counts_[3][b];
            counts_[0][b] = counts_[1][b] = counts_[2][b] = counts_[3][b] = 0;
        }
        counted_ = 0;
    }
    uint32_t counts_[4][256] = {};
    uint64_t totals_[256] = {};
    long long counted_ = 0;
};

constexpr int kChunk = 4096;

// The equalised value of each bin, 255 times its cumulative share, from the
// bins' totals; colour images report the counts and shares.
void equalisedValues(const uint64_t (&totals)[256], const Plane &p, bool colour,
                     float (&lut)[256]) {
    // Counted as integers: identical to counting in floats up to 2^24 pixels
    // per bin, and still right beyond.
    float h[256];
    for (int b = 0; b < 256; ++b) h[b] = static_cast<float>(totals[b]);
    if (colour)
        for (int b = 0; b < 256; ++b) std::printf("h[%d]= %f\n", b, h[b]);

    if (colour) {
        const double total = p.cols * (3.0 * p.rows);
        for (int b = 0; b < 256; ++b) h[b] = static_cast<float>(h[b] / total);
    } else {
        const float total = static_cast<float>(static_cast<long long>(p.rows) * p.cols);
        for (int b = 0; b < 256; ++b) h[b] = h[b] / total;
    }
    float cdf[256];
    cdf[0] = h[0];
    for (int b = 1; b < 256; ++b) cdf[b] = cdf[b - 1] + h[b];
    if (colour)
        for (int b = 0; b < 256; ++b) std::printf("p[%d]= %f\n", b, cdf[b]);
    for (int b = 0; b < 256; ++b) lut[b] = 255.0f * cdf[b];
}

#ifdef TAMO_HISTEQ_AVX512
// Pictures of whole levels 0 .. 255 (8-bit images read as floats, the usual
// case) take two passes instead of three. A pixel's bin depends only on its
// level, so the first pass counts the levels while it finds the range, the
// 256 levels are binned once, and the output pass looks each pixel's level
// up in a table of 256 results. The same bins, counts and values as the
// general path.

// Counts the levels of n values and finds the lowest and highest; false as
// soon as a chunk holds anything but a whole number 0 .. 255 (-0 included).
__attribute__((target("avx512f"))) bool countLevels(const float *v, long long n, BinCounter &levels,
                                                    int &lowest, int &highest) {
    alignas(64) uint8_t keys[kChunk];
    const __m512i top = _mm512_set1_epi32(255);
    __m512i lo = _mm512_set1_epi32(255), hi = _mm512_setzero_si512();
    for (long long i0 = 0; i0 < n; i0 += kChunk) {
        const int len = static_cast<int>(std::min<long long>(kChunk, n - i0));
        __mmask16 whole = 0xffff;
        int i = 0;
        for (; i + 16 <= len; i += 16) {
            const __m512 x = _mm512_loadu_ps(v + i0 + i);
            const __m512i k = _mm512_cvttps_epi32(x);
            whole &= _mm512_cmpeq_epi32_mask(_mm512_castps_si512(_mm512_cvtepi32_ps(k)),
                                             _mm512_castps_si512(x)) &
                     _mm512_cmple_epu32_mask(k, top);
            lo = _mm512_min_epu32(lo, k);
            hi = _mm512_max_epu32(hi, k);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(keys + i), _mm512_cvtepi32_epi8(k));
        }
        for (; i < len; ++i) {
            const float x = v[i0 + i];
            if (!(x >= 0.0f && x <= 255.0f) || x != std::floor(x) || std::signbit(x)) return false;
            keys[i] = static_cast<uint8_t>(x);
            lowest = std::min(lowest, static_cast<int>(keys[i]));
            highest = std::max(highest, static_cast<int>(keys[i]));
        }
        if (whole != 0xffff) return false;
        levels.add(keys, len);
    }
    lowest = std::min(lowest, static_cast<int>(_mm512_reduce_min_epu32(lo)));
    highest = std::max(highest, static_cast<int>(_mm512_reduce_max_epu32(hi)));
    return true;
}

// The levels of n values (whole numbers 0 .. 255) as bytes.
__attribute__((target("avx512f"))) void levelsOf(const float *v, uint8_t *keys, int n) {
    int i = 0;
    for (; i + 16 <= n; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(keys + i),
                         _mm512_cvtepi32_epi8(_mm512_cvttps_epi32(_mm512_loadu_ps(v + i))));
    for (; i < n; ++i) keys[i] = static_cast<uint8_t>(v[i]);
}

// Whole-image mode for pictures of whole levels; false, with nothing
// written or printed, for any other picture.
bool equaliseLevels(const float *data, const Plane &p, const OutputWriter &out, bool colour,
                    int &rc) {
    static const bool avx512 = __builtin_cpu_supports("avx512f");
    const long long plane = static_cast<long long>(p.rows) * p.cols;
    const long long n = plane * p.planes;
    BinCounter levels;
    int lowest = 255, highest = 0;
    if (!avx512 || !countLevels(data, n, levels, lowest, highest)) return false;
    if (lowest >= highest) {
        std::printf("maximum = minimum. Somethings is wrong with this image\n");
        rc = TAMO_HISTEQ_EINPUT;
        return true;
    }
    const float bottom = static_cast<float>(lowest), range = static_cast<float>(highest) - bottom;
    const double scale = 255.0 / static_cast<double>(range);
    const uint64_t(&perLevel)[256] = levels.totals();
    int binOf[256] = {};
    uint64_t totals[256] = {};
    for (int level = lowest; level <= highest; ++level) {
        binOf[level] = wholeImageBin(static_cast<float>(level), bottom, scale);
        totals[binOf[level]] += perLevel[level];
    }
    float lut[256], byLevel[256];
    equalisedValues(totals, p, colour, lut);
    for (int level = 0; level < 256; ++level) byLevel[level] = lut[binOf[level]];
    std::vector<uint8_t> keys(static_cast<size_t>(p.cols));
    for (int f = 0; f < p.planes; ++f)
        for (int r = 0; r < p.rows; ++r) {
            levelsOf(data + f * plane + static_cast<long long>(r) * p.cols, keys.data(), p.cols);
            if (out.direct()) {
                lookUp(byLevel, keys.data(), out.row(f, r), p.cols);
            } else {
                for (int c = 0; c < p.cols; ++c) out.put(f, r, c, byLevel[keys[c]]);
            }
        }
    _mm_sfence();  // the streamed stores are visible before the call returns
    rc = 0;
    return true;
}
#endif

int equaliseWholeImage(const float *data, const Plane &p, const OutputWriter &out, bool colour) {
    const long long plane = static_cast<long long>(p.rows) * p.cols;
    const long long n = plane * p.planes;
#ifdef TAMO_HISTEQ_AVX512
    int rc = 0;
    if (equaliseLevels(data, p, out, colour, rc)) return rc;
#endif

    float top = kRangeMax, bottom = kRangeMin;
    tamo::valueRange(data, n, top, bottom);
    if (bottom >= top) {
        std::printf("maximum = minimum. Somethings is wrong with this image\n");
        return TAMO_HISTEQ_EINPUT;
    }
    const float range = top - bottom;

    // Bins once, kept for the output pass, in chunks that stay in cache while
    // they are counted.
    std::unique_ptr<uint8_t[]> bins(new uint8_t[static_cast<size_t>(n)]);
    BinCounter counter;
    for (long long i0 = 0; i0 < n; i0 += kChunk) {
        const int len = static_cast<int>(std::min<long long>(kChunk, n - i0));
        binValues(data + i0, bins.get() + i0, len, bottom, range);
        counter.add(bins.get() + i0, len);
    }
    float lut[256];
    equalisedValues(counter.totals(), p, colour, lut);
    for (int f = 0; f < p.planes; ++f)
        for (int r = 0; r < p.rows; ++r) {
            const uint8_t *src = bins.get() + f * plane + static_cast<long long>(r) * p.cols;
            if (out.direct()) {
                lookUp(lut, src, out.row(f, r), p.cols);
            } else {
                for (int c = 0; c < p.cols; ++c) out.put(f, r, c, lut[src[c]]);
            }
        }
#if defined(__SSE2__)
    _mm_sfence();  // the streamed stores are visible before the call returns
#endif
    return 0;
}

// First and last index of the window of half-width n around x in 0..len-1:
// shifted inwards at the edges so that it keeps its full width, and clipped
// when the image is narrower than the window.
inline void windowSpan(int x, int n, int len, int &lo, int &hi) {
    lo = x - n;
    hi = x + n;
    if (lo < 0) lo = 0, hi = 2 * n;
    if (hi >= len) hi = len - 1, lo = len - 2 * n - 1;
    if (lo < 0) lo = 0;
}

// What became of one row in window mode: the "iv wrong" lines it owes and,
// should a share leave its range, the column where the run must end.
struct RowOutcome {
    int invalid = 0;
    int stopColumn = -1;
    bool valueOutOfRange = false;  // the second check failed rather than the first
    float stopValue = 0.0f;
};

// Equalises row r of one plane into dst (cols values). Touches nothing but
// its arguments, so rows can be done on several threads.
RowOutcome equaliseWindowRow(const float *px, const Plane &p, int n, int r, float *dst) {
    RowOutcome outcome;
    float h[258];
    int r0, r1;
    windowSpan(r, n, p.rows, r0, r1);
    for (int c = 0; c < p.cols; ++c) {
        int c0, c1;
        windowSpan(c, n, p.cols, c0, c1);
        float mx = kRangeMax, mn = kRangeMin;
        for (int y = r0; y <= r1; ++y) {
            const float *line = px + static_cast<long long>(y) * p.cols;
            for (int x = c0; x <= c1; ++x) {
                const float v = line[x];
                mx = v > mx ? v : mx;
                mn = v < mn ? v : mn;
            }
        }
        const bool flat = mx == mn;
        for (float &bin : h) bin = 0.0f;
        for (int y = r0; y <= r1; ++y) {
            const float *line = px + static_cast<long long>(y) * p.cols;
            for (int x = c0; x <= c1; ++x) {
                int bin = 0;
                if (!flat) {
                    const double q = static_cast<double>((line[x] - mn) / (mx - mn)) * 256.0;
                    // A value equal to the maximum falls into bin 256, counted
                    // but not used; NaN has no bin at all.
                    if (!(q >= 0.0 && q < 257.0)) {
                        ++outcome.invalid;
                        continue;
                    }
                    bin = static_cast<int>(q);
                }
                h[bin] += 1.0f;
            }
        }
        float sum = 0.0f;
        for (int b = 0; b < 256; ++b) sum += h[b];

        const float v = px[static_cast<long long>(r) * p.cols + c];
        int index = 0;
        if (!(mx - mn < 0.5f)) {
            const float t = std::floor((v - mn) * 255.0f / (mx - mn));
            index = t > 0.0f ? (t < 255.0f ? static_cast<int>(t) : 255) : 0;
        }
        // The cumulative share up to the centre's bin, summed in the order
        // the cumulative distribution would be.
        float share = 0.0f;
        if (sum > 0.0f)
            for (int b = 0; b <= index; ++b) share += h[b] / sum;

        if (share > 255.0f || share < 0.0f) {
            outcome.stopColumn = c;
            outcome.stopValue = share;
            return outcome;
        }
        float value = 0.0f;
        if (!flat) {
            // Same scale as whole-image mode; rounding may carry the share a
            // hair above 1.
            value = 255.0f * share;
            if (value > 255.0f) value = 255.0f;
            if (value < 0.0f) value = 0.0f;
        }
        if (value > 255.0f || value < 0.0f) {
            outcome.stopColumn = c;
            outcome.valueOutOfRange = true;
            outcome.stopValue = value;
            return outcome;
        }
        dst[c] = value;
    }
    return outcome;
}

// Window mode: rows are equalised (on several threads for large images) into
// a buffer, and only a run that was not stopped through the progress hook
// writes the output and the lines the rows owe, in row order.
int equaliseWindows(const float *data, const Plane &p, const OutputWriter &out, int n) {
    const long long plane = static_cast<long long>(p.rows) * p.cols;
    std::vector<float> values(static_cast<size_t>(plane * p.planes));
    std::vector<RowOutcome> outcomes(static_cast<size_t>(p.rows) * p.planes);
    const long long window = static_cast<long long>(2 * n + 1) * (2 * n + 1);
    const int threads = tamo::threadsFor(plane * window, p.rows);
    tamo::Progress progress(static_cast<int64_t>(p.planes) * p.rows);
    for (int f = 0; f < p.planes; ++f) {
        const float *px = data + f * plane;
        const bool finished = tamo::runPieces(
            p.rows, threads, progress, static_cast<int64_t>(f) * p.rows, 1,
            [&](long long lo, long long hi, int) {
                for (long long r = lo; r < hi; ++r)
                    outcomes[static_cast<size_t>(f * p.rows + r)] = equaliseWindowRow(
                        px, p, n, static_cast<int>(r), values.data() + f * plane + r * p.cols);
            });
        if (!finished) return TAMO_CANCELLED;
    }
    for (int f = 0; f < p.planes; ++f) {
        for (int r = 0; r < p.rows; ++r) {
            const RowOutcome &o = outcomes[static_cast<size_t>(f * p.rows + r)];
            for (int i = 0; i < o.invalid; ++i) std::printf("iv wrong");
            const float *row = values.data() + f * plane + static_cast<long long>(r) * p.cols;
            const int end = o.stopColumn < 0 ? p.cols : o.stopColumn;
            if (out.direct())
                std::copy(row, row + end, out.row(f, r));
            else
                for (int c = 0; c < end; ++c) out.put(f, r, c, row[c]);
            if (o.stopColumn >= 0) {
                std::printf(o.valueOutOfRange ? "!! %f  %d  %d \n" : "! %f  %d  %d \n", o.stopValue,
                            r, o.stopColumn);
                std::fflush(stdout);
                tamo::endProcess(-1);
                return TAMO_HISTEQ_ESHARE;
            }
        }
    }
    return 0;
}

}  // namespace

int flHistogramEq(TAMOHDR *in, TAMOHDR *out, int N) {
    if (!tamo::hasValidMagic(in) || !in->orvptr) {
        std::printf("flHistogramEq: input must be float\n");
        return TAMO_HISTEQ_EINPUT;
    }
    Plane p;
    p.cols = dimLength(in, 0);
    p.rows = in->orvndim >= 2 ? dimLength(in, 1) : 1;
    if (N >= p.cols || N >= p.rows) {
        std::printf(
            "Hist0.0:Cannot equalize histogram of an image (%d x %d )smaller than the "
            "neighborhood(%d)\n",
            p.rows, p.cols, N);
        return TAMO_HISTEQ_EWINDOW;
    }
    if (in->dtype != TAMO_32FLT) {
        std::printf("flHistogramEq: input must be float\n");
        return TAMO_HISTEQ_EINPUT;
    }
    const bool colour = in->orvndim == 3 && dimLength(in, 2) == 3;
    p.planes = colour ? 3 : 1;

    bool fits = tamo::hasValidMagic(out) && out->orvptr && dimLength(out, 0) >= p.cols &&
                (out->orvndim >= 2 ? dimLength(out, 1) : 1) >= p.rows;
    if (colour) fits = fits && out->orvndim == 3 && dimLength(out, 2) >= 3;
    if (!fits) {
        std::printf("flHistogramEq: output image is smaller than the input\n");
        return TAMO_HISTEQ_EOUT;
    }

    const float *data = pixels<float>(in);
    reportNegativeBorder(data, p);
    OutputWriter writer(out, colour);
    if (N <= 0) return equaliseWholeImage(data, p, writer, colour);
    return equaliseWindows(data, p, writer, N);
}
