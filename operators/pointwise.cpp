// Per-pixel operators: arithmetic between images and with constants,
// elementary functions, copies, colour-to-grey and the shifted arithmetic.
//
// The float paths walk the pixel arrays directly in simple counted loops so
// that the compiler vectorises them; the loops that matter for speed are
// compiled twice (AVX2 and baseline) and picked at load time.
#if defined(__GNUC__) && !defined(__clang__)
// Comparisons and selects may be evaluated for every element (no operator
// here relies on floating-point exception flags), which lets the loops with
// clamps and guards vectorise. Products and sums are never fused into
// multiply-adds, which the AVX-512 variants could otherwise do: every
// variant rounds each operation as written and gives the same bits (the
// hand-written AVX-512 code fuses where it says so). Set before the headers
// so that their inline functions share the options and stay inlinable.
#pragma GCC optimize("no-trapping-math", "fp-contract=off")
#endif

#include <algorithm>
#include <initializer_list>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__x86_64__) || defined(__SSE2__)
// GCC 12 takes the deliberately undefined vectors inside the AVX-512
// intrinsics for uninitialised variables.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

#include "operators_internal.h"
#include "parallel.h"
#include "tamoops.h"
#include "vecmath.h"

namespace {

using tamo::columnsOf;
using tamo::dimLength;
using tamo::pixels;
using tamo::rowsOf;

using tamo::hasType;
using tamo::isComplex;
using tamo::isFloat;

bool sameFloatType2(const TAMOHDR *a, const TAMOHDR *b) {
    return (isFloat(a) && isFloat(b)) || (isComplex(a) && isComplex(b));
}
bool sameFloatType3(const TAMOHDR *a, const TAMOHDR *b, const TAMOHDR *c) {
    return (isFloat(a) && isFloat(b) && isFloat(c)) ||
           (isComplex(a) && isComplex(b) && isComplex(c));
}

// Every dimension of `a` has the same length in `b` (b may have more).
bool sameSize(const TAMOHDR *a, const TAMOHDR *b) {
    if (!tamo::hasValidMagic(a) || !tamo::hasValidMagic(b)) return false;
    for (int k = 0; k < a->orvndim && k < TAMO_MAXDIM; ++k)
        if (dimLength(a, k) != dimLength(b, k)) return false;
    return true;
}

// Planes the three-dimensional accessors can reach without leaving the data:
// the channels of an interleaved type, else the frames.
int planesOf(const TAMOHDR *img) {
    int channels = 1;
    tamo::visitScalar(img->dtype,
                      [&](auto, tamo::ElemLayout layout) { channels = layout.channels; });
    if (channels > 1) return channels;
    return img->orvndim >= 3 ? dimLength(img, 2) : 1;
}

// Checks shared by the single-type unary operators: -1 type, -2 size.
int checkUnaryFloat(const TAMOHDR *in, const TAMOHDR *out) {
    if (!isFloat(in) || !isFloat(out)) return TAMO_OP_ETYPE;
    if (!sameSize(in, out)) return TAMO_OP_ESIZE;
    return 0;
}

// Checks of flmultv, fldivv, flatan2: type first, then the sizes of b and out.
int checkBinary(const TAMOHDR *a, const TAMOHDR *b, const TAMOHDR *out) {
    if (!sameFloatType3(a, b, out)) return TAMO_OP_ETYPE;
    if (!sameSize(a, b) || !sameSize(a, out)) return TAMO_OP_ESIZE;
    return 0;
}

// ---- Vectorised kernels -----------------------------------------------------

TAMO_TARGET_CLONES_AVX512 void absKernel(const float *in, float *out, long long n) {
    for (long long i = 0; i < n; ++i) out[i] = std::fabs(in[i]);
}
TAMO_TARGET_CLONES_AVX512 void addsKernel(const float *in, float *out, long long n, float c) {
    for (long long i = 0; i < n; ++i) out[i] = in[i] + c;
}
TAMO_TARGET_CLONES_AVX512 void multsKernel(const float *in, float *out, long long n, float c) {
    for (long long i = 0; i < n; ++i) out[i] = in[i] * c;
}
TAMO_TARGET_CLONES void addvKernel(const float *a, const float *b, float *out, long long n) {
    for (long long i = 0; i < n; ++i) out[i] = a[i] + b[i];
}
TAMO_TARGET_CLONES void multvKernel(const float *a, const float *b, float *out, long long n) {
    for (long long i = 0; i < n; ++i) out[i] = a[i] * b[i];
}
TAMO_TARGET_CLONES void divvKernel(const float *a, const float *b, float *out, long long n) {
    for (long long i = 0; i < n; ++i) out[i] = a[i] / b[i];
}
TAMO_TARGET_CLONES void invKernel(const float *in, float *out, long long n, float top) {
    for (long long i = 0; i < n; ++i) out[i] = top - in[i];
}

// An output that shares memory with an input without being that very array:
// the results then depend on the order of the loop, which the vector
// kernels below do not keep (they read a block before writing it) and the
// compiler's loops keep by checking at run time.
bool partlyOverlaps(const float *in, const float *out, long long n) {
    return in != out && in < out + n && out < in + n;
}

// atan2 of floats: the correctly rounded value, or where the evaluation
// cannot tell which float that is, the double-precision atan2 rounded.
TAMO_TARGET_CLONES void atan2Generic(const float *y, const float *x, float *out, long long n) {
    // Blocks go through a buffer: the output may be one of the inputs.
    constexpr long long kBlock = 512;
    double sure[kBlock];  // doubles, so that plain x86-64 vectorises the loop too
    float angles[kBlock];
    for (long long b = 0; b < n; b += kBlock) {
        const long long m = std::min(kBlock, n - b);
        for (long long i = 0; i < m; ++i) angles[i] = tamo::atan2Float(y[b + i], x[b + i], sure[i]);
        for (long long i = 0; i < m; ++i)
            if (sure[i] == 0.0) angles[i] = tamo::atan2Rounded(y[b + i], x[b + i]);
        std::memcpy(out + b, angles, static_cast<size_t>(m) * sizeof(float));
    }
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(TAMO_PORTABLE)
#define TAMO_HAVE_AVX512_KERNELS 1
bool haveAvx512() {
    static const bool yes = __builtin_cpu_supports("avx512f");
    return yes;
}

// atan2 of 16 floats at once, in single precision with the few steps that
// need it carried as pairs of floats, so that the result is faithful: one of
// the two floats around the exact angle (error below one unit in the last
// place, against 2.2 units for the C library's atan2f).
//
// With n = min(|x|, |y|) and d = max(|x|, |y|), the angle is
// k pi/4 + s (u + c(u)):
// u = n / d, or u = (n - d) / (n + d) above tan(pi/8) (k one higher), so that
// |u| <= tan(pi/8); c(u) = atan(u) - u is a small polynomial term. n - d and
// n + d are kept exactly as pairs (Fast2Sum), u as a pair to about 2^-38, and
// k pi/4 + s u by a Fast2Sum with pi/4 split so that k pi/4 is exact in the
// high part. The error of c (relative 2^-22 at most) and of the low parts
// stays below a quarter unit of the result, so with the final rounding the
// total is under one unit.
constexpr float kAtanFloatPoly[] = {-0x1.555554p-2f, 0x1.999738p-3f, -0x1.242114p-3f,
                                    0x1.b82052p-4f, -0x1.08741cp-4f};  // (atan(u) - u) / u^3 in u^2
constexpr float kQuarterPiHi = 0x1.921fb0p-1f;  // 21 significant bits: 3 kQuarterPiHi is exact
constexpr float kQuarterPiLo = static_cast<float>(0.78539816339744830962 - 0x1.921fb0p-1);

// 16 values from y and x; lanes outside `lanes` are neither read nor
// written. Returns the lanes the caller must redo: those whose larger
// magnitude lies outside 2^-100 .. 2^100.
__attribute__((target("avx512f"))) inline __mmask16 atan2Block(const float *y, const float *x,
                                                               float *out, __mmask16 lanes) {
    const __m512i magnitude = _mm512_set1_epi32(0x7fffffff);
    const __m512 zero = _mm512_setzero_ps();
    const __m512 vy = _mm512_maskz_loadu_ps(lanes, y), vx = _mm512_maskz_loadu_ps(lanes, x);
    const __m512 ax = _mm512_castsi512_ps(_mm512_and_si512(_mm512_castps_si512(vx), magnitude));
    const __m512 ay = _mm512_castsi512_ps(_mm512_and_si512(_mm512_castps_si512(vy), magnitude));
    const __mmask16 swap = _mm512_cmp_ps_mask(ay, ax, _CMP_GT_OQ);
    // 0/0 becomes 0/2^-126, angle 0 inside the octant; the quadrant logic
    // below does the rest. Infinities are among the lanes redone.
    const __m512 n = _mm512_min_ps(ax, ay), dAsIs = _mm512_max_ps(ax, ay);
    const __m512 d = _mm512_max_ps(dAsIs, _mm512_set1_ps(0x1p-126f));
    const __mmask16 reduce =
        _mm512_cmp_ps_mask(n, _mm512_mul_ps(d, _mm512_set1_ps(0.41421356f)), _CMP_GT_OQ);
    const __mmask16 xNegative =
        _mm512_cmplt_epi32_mask(_mm512_castps_si512(vx), _mm512_setzero_si512());
    // u = (numHi + numLo) / (denHi + denLo): the quotient of the high parts,
    // then the remainder (exact by the fused multiply-add) and the low parts
    // over an approximate reciprocal, which is plenty for a correction.
    const __m512 numHi = _mm512_mask_sub_ps(n, reduce, n, d);
    const __m512 numLo = _mm512_maskz_sub_ps(reduce, n, _mm512_add_ps(numHi, d));
    const __m512 denHi = _mm512_mask_add_ps(d, reduce, n, d);
    const __m512 denLo = _mm512_maskz_sub_ps(reduce, n, _mm512_sub_ps(denHi, d));
    const __m512 uHi = _mm512_div_ps(numHi, denHi);
    const __m512 rest = _mm512_add_ps(_mm512_fnmadd_ps(uHi, denHi, numHi), numLo);
    const __m512 uLo = _mm512_mul_ps(_mm512_fnmadd_ps(uHi, denLo, rest), _mm512_rcp14_ps(denHi));
    // small = uLo + c(u).
    const __m512 z = _mm512_mul_ps(uHi, uHi);
    __m512 p = _mm512_set1_ps(kAtanFloatPoly[4]);
    for (int i = 3; i >= 0; --i) p = _mm512_fmadd_ps(p, z, _mm512_set1_ps(kAtanFloatPoly[i]));
    __m512 small = _mm512_fmadd_ps(_mm512_mul_ps(uHi, z), p, uLo);
    // k pi/4 by octant: 0 in the first, 2 when swapped, 4 for negative x
    // unswapped; one more (or less where the sum is subtracted) when reduced.
    // Indexed by swap + 2 xNegative + 4 reduce.
    const __mmask16 subtract = swap ^ xNegative;
    __m512i octant = _mm512_maskz_mov_epi32(swap, _mm512_set1_epi32(1));
    octant = _mm512_mask_add_epi32(octant, xNegative, octant, _mm512_set1_epi32(2));
    octant = _mm512_mask_add_epi32(octant, reduce, octant, _mm512_set1_epi32(4));
    constexpr float h = kQuarterPiHi, l = kQuarterPiLo;
    const __m512 kHi = _mm512_permutexvar_ps(
        octant, _mm512_setr_ps(0, 2 * h, 4 * h, 2 * h, h, h, 3 * h, 3 * h, 0, 0, 0, 0, 0, 0, 0, 0));
    const __m512 kLo = _mm512_permutexvar_ps(
        octant, _mm512_setr_ps(0, 2 * l, 4 * l, 2 * l, l, l, 3 * l, 3 * l, 0, 0, 0, 0, 0, 0, 0, 0));
    const __m512 su = _mm512_mask_sub_ps(uHi, subtract, zero, uHi);
    small = _mm512_mask_sub_ps(small, subtract, zero, small);
    const __m512 sHi = _mm512_add_ps(kHi, su);
    const __m512 sLo = _mm512_sub_ps(su, _mm512_sub_ps(sHi, kHi));
    __m512 angle = _mm512_add_ps(sHi, _mm512_add_ps(_mm512_add_ps(sLo, small), kLo));
    // The angle is not negative: give it y's sign (angle | (y & sign bit));
    // NaN in, NaN out.
    angle = _mm512_castsi512_ps(
        _mm512_ternarylogic_epi32(_mm512_castps_si512(angle), _mm512_castps_si512(vy),
                                  _mm512_set1_epi32(static_cast<int>(0x80000000u)), 0xf8));
    angle = _mm512_mask_add_ps(angle, _mm512_cmp_ps_mask(vx, vy, _CMP_UNORD_Q), vx, vy);
    _mm512_mask_storeu_ps(out, lanes, angle);
    // Beyond 2^-100 .. 2^100 (zero apart) the reciprocal and the low parts
    // would leave the normal range.
    const __mmask16 outside = _mm512_mask_cmp_epu32_mask(
        _mm512_cmp_ps_mask(dAsIs, zero, _CMP_NEQ_UQ),
        _mm512_sub_epi32(_mm512_castps_si512(dAsIs), _mm512_set1_epi32(0x0d800000)),
        _mm512_set1_epi32(0x71800000 - 0x0d800000), _MM_CMPINT_NLT);
    return static_cast<__mmask16>(outside & lanes);
}

// Chunks of values; the few lanes of extreme magnitude are redone in double precision
// after each chunk, outside the vector loop (a call in the loop would cost
// it its registers). Written in place over an input, a chunk goes through a
// buffer so that those inputs are still there.
__attribute__((target("avx512f"))) void atan2Avx512(const float *y, const float *x, float *out,
                                                    long long n) {
    constexpr int kChunk = 512;
    alignas(64) float staged[kChunk];
    __mmask16 doubtful[kChunk / 16];
    const bool inPlace = out == y || out == x;
    for (long long c = 0; c < n; c += kChunk) {
        const int m = static_cast<int>(std::min<long long>(kChunk, n - c));
        float *dst = inPlace ? staged : out + c;
        unsigned any = 0;
        int i = 0;
        for (; i + 16 <= m; i += 16) {
            doubtful[i / 16] = atan2Block(y + c + i, x + c + i, dst + i, 0xffff);
            any |= doubtful[i / 16];
        }
        if (i < m) {
            const auto lanes = static_cast<__mmask16>((1u << (m - i)) - 1);
            doubtful[i / 16] = atan2Block(y + c + i, x + c + i, dst + i, lanes);
            any |= doubtful[i / 16];
        }
        for (int b = 0; any && b < (m + 15) / 16; ++b)
            for (unsigned d = doubtful[b]; d; d &= d - 1) {
                const long long k = 16 * b + __builtin_ctz(d);
                dst[k] = tamo::atan2Rounded(y[c + k], x[c + k]);
            }
        if (inPlace) std::memcpy(out + c, staged, static_cast<size_t>(m) * sizeof(float));
    }
}
#endif

// exp for the range flexp needs: x is clamped to [-110, 6]; below, the float
// result is 0 anyway; above, it exceeds 255 and is replaced by 255.
inline double expClamped(double x) {
    x = x < -110.0 ? -110.0 : x;
    x = x > 6.0 ? 6.0 : x;
    return tamo::expInRange(x);
}

TAMO_TARGET_CLONES void expGeneric(const float *in, float *out, long long n, float scale) {
    for (long long i = 0; i < n; ++i) {
        float q = in[i] / scale;
        float e = static_cast<float>(expClamped(q));
        e = e > 255.0f ? 255.0f : e;
        out[i] = q != q ? q : e;  // NaN stays NaN
    }
}

#ifdef TAMO_HAVE_AVX512_KERNELS
// exp of 8 doubles within [-110, 6] the way expInRange computes it, with
// fused multiply-adds (which only make each step more exact) and the power
// of two applied by vscalefpd.
__attribute__((target("avx512f"))) inline __m256 expHalf(__m512d x) {
    const __m512d shifter = _mm512_set1_pd(6755399441055744.0);
    const __m512d t = _mm512_fmadd_pd(x, _mm512_set1_pd(1.4426950408889634), shifter);
    const __m512d k = _mm512_sub_pd(t, shifter);
    __m512d r = _mm512_fnmadd_pd(k, _mm512_set1_pd(6.93147180369123816490e-01), x);
    r = _mm512_fnmadd_pd(k, _mm512_set1_pd(1.90821492927058770002e-10), r);
    __m512d p = _mm512_set1_pd(1.0 / 6227020800.0);
    p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(1.0 / 479001600.0));
    p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(1.0 / 39916800.0));
    p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(1.0 / 3628800.0));
    p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(1.0 / 362880.0));
    p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(1.0 / 40320.0));
    p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(1.0 / 5040.0));
    p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(1.0 / 720.0));
    p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(1.0 / 120.0));
    p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(1.0 / 24.0));
    p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(1.0 / 6.0));
    p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(0.5));
    p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(1.0));
    p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(1.0));
    return _mm512_cvtpd_ps(_mm512_scalef_pd(p, k));
}

__attribute__((target("avx512f"))) void expAvx512(const float *in, float *out, long long n,
                                                  float scale) {
    const __m512 vscale = _mm512_set1_ps(scale);
    long long i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m512 q = _mm512_div_ps(_mm512_loadu_ps(in + i), vscale);
        // NaN becomes -110 here and is put back below.
        const __m512 x =
            _mm512_min_ps(_mm512_max_ps(q, _mm512_set1_ps(-110.0f)), _mm512_set1_ps(6.0f));
        const __m256 lo = expHalf(_mm512_cvtps_pd(_mm512_castps512_ps256(x)));
        const __m256 hi = expHalf(
            _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(x), 1))));
        __m512 e = _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(lo)),
                                                       _mm256_castps_pd(hi), 1));
        e = _mm512_min_ps(e, _mm512_set1_ps(255.0f));
        e = _mm512_mask_mov_ps(e, _mm512_cmp_ps_mask(q, q, _CMP_UNORD_Q), q);
        _mm512_storeu_ps(out + i, e);
    }
    expGeneric(in + i, out + i, n - i, scale);
}
#endif

void expKernel(const float *in, float *out, long long n, float scale) {
#ifdef TAMO_HAVE_AVX512_KERNELS
    if (haveAvx512() && !partlyOverlaps(in, out, n)) return expAvx512(in, out, n, scale);
#endif
    expGeneric(in, out, n, scale);
}

// Natural logarithm of a positive float in double precision, without calls:
// v = m 2^e with m in [sqrt(1/2), sqrt(2)), ln m = 2 atanh((m-1)/(m+1)) by
// its series. Subnormals are scaled into the normal range first, +inf maps
// to itself. Accurate far beyond the float rounding that follows.
inline double logPositive(float v) {
    const bool subnormal = v < 1.17549435e-38f;
    const float scaled = subnormal ? v * 8388608.0f : v;  // 2^23
    uint32_t bits;
    std::memcpy(&bits, &scaled, sizeof bits);
    int e = static_cast<int>(bits >> 23) - 127 - (subnormal ? 23 : 0);
    const uint32_t mantissaBits = (bits & 0x007fffffu) | 0x3f800000u;
    float m;
    std::memcpy(&m, &mantissaBits, sizeof m);
    const bool high = m > 1.41421356f;
    const double md = high ? 0.5 * m : m;
    e += high ? 1 : 0;
    const double f = (md - 1.0) / (md + 1.0), f2 = f * f;
    double p = 1.0 / 21;
    p = p * f2 + 1.0 / 19;
    p = p * f2 + 1.0 / 17;
    p = p * f2 + 1.0 / 15;
    p = p * f2 + 1.0 / 13;
    p = p * f2 + 1.0 / 11;
    p = p * f2 + 1.0 / 9;
    p = p * f2 + 1.0 / 7;
    p = p * f2 + 1.0 / 5;
    p = p * f2 + 1.0 / 3;
    const double result = e * 0.69314718055994530942 + 2.0 * f + 2.0 * f * f2 * p;
    return v == std::numeric_limits<float>::infinity() ? static_cast<double>(v) : result;
}

// ln where positive, else 0; returns the number of values that were not.
TAMO_TARGET_CLONES long long lnGeneric(const float *in, float *out, long long n) {
    long long refused = 0;
    for (long long i = 0; i < n; ++i) {
        const float v = in[i];
        const bool positive = v > 0.0f;
        const float l = static_cast<float>(logPositive(positive ? v : 1.0f));
        out[i] = positive ? l : 0.0f;
        refused += positive ? 0 : 1;
    }
    return refused;
}

#ifdef TAMO_HAVE_AVX512_KERNELS
// logPositive on 8 values, operation for operation (no fused steps): m and e
// come from vgetmantps / vgetexpps, which normalise subnormals themselves.
__attribute__((target("avx512f"))) inline __m256 lnHalf(__m512d md, __m512d e) {
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d f = _mm512_div_pd(_mm512_sub_pd(md, one), _mm512_add_pd(md, one));
    const __m512d f2 = _mm512_mul_pd(f, f);
    __m512d p = _mm512_set1_pd(1.0 / 21);
    for (double c :
         {1.0 / 19, 1.0 / 17, 1.0 / 15, 1.0 / 13, 1.0 / 11, 1.0 / 9, 1.0 / 7, 1.0 / 5, 1.0 / 3})
        p = _mm512_fmadd_pd(p, f2, _mm512_set1_pd(c));
    const __m512d twoF = _mm512_add_pd(f, f);
    const __m512d result =
        _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(e, _mm512_set1_pd(0.69314718055994530942)), twoF),
                      _mm512_mul_pd(_mm512_mul_pd(twoF, f2), p));
    return _mm512_cvtpd_ps(result);
}

__attribute__((target("avx512f"))) long long lnAvx512(const float *in, float *out, long long n) {
    const __m512 zero = _mm512_setzero_ps();
    const __m512 inf = _mm512_set1_ps(std::numeric_limits<float>::infinity());
    long long refused = 0;
    long long i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m512 v = _mm512_loadu_ps(in + i);
        const __mmask16 positive = _mm512_cmp_ps_mask(v, zero, _CMP_GT_OQ);
        refused += 16 - __builtin_popcount(positive);
        const __m512 w = _mm512_mask_blend_ps(positive, _mm512_set1_ps(1.0f), v);
        __m512 m = _mm512_getmant_ps(w, _MM_MANT_NORM_1_2, _MM_MANT_SIGN_zero);
        __m512 e = _mm512_getexp_ps(w);
        const __mmask16 high = _mm512_cmp_ps_mask(m, _mm512_set1_ps(1.41421356f), _CMP_GT_OQ);
        m = _mm512_mask_mul_ps(m, high, m, _mm512_set1_ps(0.5f));
        e = _mm512_mask_add_ps(e, high, e, _mm512_set1_ps(1.0f));
        const __m256 lo = lnHalf(_mm512_cvtps_pd(_mm512_castps512_ps256(m)),
                                 _mm512_cvtps_pd(_mm512_castps512_ps256(e)));
        const __m256 hi = lnHalf(
            _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(m), 1))),
            _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(e), 1))));
        __m512 l = _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(lo)),
                                                       _mm256_castps_pd(hi), 1));
        l = _mm512_mask_mov_ps(l, _mm512_cmp_ps_mask(w, inf, _CMP_EQ_OQ), inf);
        _mm512_storeu_ps(out + i, _mm512_maskz_mov_ps(positive, l));
    }
    return refused + lnGeneric(in + i, out + i, n - i);
}
#endif

long long lnKernel(const float *in, float *out, long long n) {
#ifdef TAMO_HAVE_AVX512_KERNELS
    if (haveAvx512() && !partlyOverlaps(in, out, n)) return lnAvx512(in, out, n);
#endif
    return lnGeneric(in, out, n);
}

// The square roots and the range scan of flinv are spelt out in vector
// instructions: the compiler keeps a scalar errno path around every sqrt
// call, and does not split a max/min scan into lanes.
// Writes sqrt of the values before the first negative one and returns that
// one's index (n when there is none).
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx"))) long long sqrtUntilNegativeAvx(const float *in, float *out,
                                                              long long n) {
    long long i = 0;
    const __m256 zero = _mm256_setzero_ps();
    for (; i + 8 <= n; i += 8) {
        const __m256 v = _mm256_loadu_ps(in + i);
        if (_mm256_movemask_ps(_mm256_cmp_ps(v, zero, _CMP_LT_OQ))) break;
        _mm256_storeu_ps(out + i, _mm256_sqrt_ps(v));
    }
    for (; i < n; ++i) {
        if (in[i] < 0.0f) return i;
        out[i] = std::sqrt(in[i]);
    }
    return n;
}
bool haveAvx() {
    static const bool yes = __builtin_cpu_supports("avx");
    return yes;
}
#endif

long long sqrtUntilNegative(const float *in, float *out, long long n) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (haveAvx()) return sqrtUntilNegativeAvx(in, out, n);
#endif
    long long i = 0;
#if defined(__SSE2__)
    const __m128 zero = _mm_setzero_ps();
    for (; i + 4 <= n; i += 4) {
        const __m128 v = _mm_loadu_ps(in + i);
        if (_mm_movemask_ps(_mm_cmplt_ps(v, zero))) break;
        _mm_storeu_ps(out + i, _mm_sqrt_ps(v));
    }
#endif
    for (; i < n; ++i) {
        if (in[i] < 0.0f) return i;
        out[i] = std::sqrt(in[i]);
    }
    return n;
}

// Largest and smallest value, NaN ignored: each lane keeps v > max ? v : max,
// which is what max(v, max) computes lane by lane.
void rangeKernel(const float *in, long long n, float &top, float &bottom) {
    top = -std::numeric_limits<float>::infinity();
    bottom = std::numeric_limits<float>::infinity();
    long long i = 0;
#if defined(__SSE2__)
    __m128 hi[4], lo[4];
    for (int l = 0; l < 4; ++l) {
        hi[l] = _mm_set1_ps(top);
        lo[l] = _mm_set1_ps(bottom);
    }
    for (; i + 16 <= n; i += 16) {
        for (int l = 0; l < 4; ++l) {
            const __m128 v = _mm_loadu_ps(in + i + 4 * l);
            hi[l] = _mm_max_ps(v, hi[l]);
            lo[l] = _mm_min_ps(v, lo[l]);
        }
    }
    float lanes[16];
    for (int l = 0; l < 4; ++l) _mm_storeu_ps(lanes + 4 * l, hi[l]);
    for (float v : lanes) top = v > top ? v : top;
    for (int l = 0; l < 4; ++l) _mm_storeu_ps(lanes + 4 * l, lo[l]);
    for (float v : lanes) bottom = v < bottom ? v : bottom;
#endif
    for (; i < n; ++i) {
        top = in[i] > top ? in[i] : top;
        bottom = in[i] < bottom ? in[i] : bottom;
    }
}

// ---- Shifted arithmetic ------------------------------------------------------

enum class Combine { Add, Sub, Mul, Div };

template <Combine C>
TAMO_TARGET_CLONES void combineRow(const float *va, const float *vb, float *out, int n) {
    for (int j = 0; j < n; ++j) {
        if constexpr (C == Combine::Add) out[j] = va[j] + vb[j];
        if constexpr (C == Combine::Sub) out[j] = va[j] - vb[j];
        if constexpr (C == Combine::Mul) out[j] = va[j] * vb[j];
        if constexpr (C == Combine::Div) {
            const float q = va[j] / vb[j];  // unconditional, so the loop stays branch-free
            out[j] = vb[j] == 0.0f ? 255.0f : q;
        }
    }
}

// One source of a shifted operation: where its rows and columns land in the
// output, and how its values are read.
struct ShiftedSource {
    TAMOHDR *img;
    int rows, cols, planes;
    int rowOffset, colOffset;  // source index = output index + offset
    bool direct;               // "float": read the array itself

    // Fills `row` (output width) with plane `f` of the source row that lands
    // on output row i; positions outside the source are 0.
    void stage(int f, int i, std::vector<float> &row, bool threeD) const {
        std::fill(row.begin(), row.end(), 0.0f);
        int r = i + rowOffset;
        if (r < 0 || r >= rows || f >= planes) return;
        int first = std::max(0, -colOffset);
        int last = std::min(static_cast<int>(row.size()), cols - colOffset);
        if (direct) {
            const float *src = pixels<float>(img) + (static_cast<long long>(f) * rows + r) * cols;
            for (int j = first; j < last; ++j) row[j] = src[j + colOffset];
            return;
        }
        for (int j = first; j < last; ++j)
            row[j] = static_cast<float>(threeD ? Tamofgp3d(img, f, r, j + colOffset)
                                               : Tamofgp(img, r, j + colOffset));
    }
};

template <Combine C>
int shifted(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out, int dr, int dc) {
    if (!tamo::hasValidMagic(a) || !tamo::hasValidMagic(b) || a->orvndim != b->orvndim) {
        std::printf("both input images must be either both grayscale or both color\n");
        std::fflush(stdout);
        return TAMO_SHIFT_EDIMS;
    }
    if (!tamo::hasValidMagic(out)) return TAMO_SHIFT_EOUTSIZE;
    const long long ra = rowsOf(a), ca = columnsOf(a), rb = rowsOf(b), cb = columnsOf(b);
    const long long ro = rowsOf(out), co = columnsOf(out);
    if (ro != std::max(ra + std::llabs(dr), rb)) return TAMO_SHIFT_EOUTSIZE;
    if (co != std::max(ca + std::llabs(dc), cb)) return TAMO_SHIFT_EOUTSIZE;

    const int ndim = a->orvndim;
    if (ndim != 2 && ndim != 3) return 0;
    const bool threeD = ndim == 3;
    const int frames = threeD ? 3 : 1;
    const int outPlanes = planesOf(out);
    const bool allFloat = isFloat(a) && isFloat(b) && isFloat(out);

    ShiftedSource sa{a,           static_cast<int>(ra), static_cast<int>(ca),
                     planesOf(a), dr > 0 ? 0 : dr,      dc > 0 ? 0 : dc,
                     isFloat(a)};
    ShiftedSource sb{b,           static_cast<int>(rb), static_cast<int>(cb),
                     planesOf(b), dr > 0 ? -dr : 0,     dc > 0 ? -dc : 0,
                     isFloat(b)};
    std::vector<float> rowA(co), rowB(co), result(co);
    for (int f = 0; f < frames && f < outPlanes; ++f) {
        for (int i = 0; i < ro; ++i) {
            sa.stage(f, i, rowA, threeD);
            sb.stage(f, i, rowB, threeD);
            float *dst = allFloat ? pixels<float>(out) + (static_cast<long long>(f) * ro + i) * co
                                  : result.data();
            combineRow<C>(rowA.data(), rowB.data(), dst, static_cast<int>(co));
            if (allFloat) continue;
            for (int j = 0; j < co; ++j) {
                if (threeD)
                    Tamofpp3d(out, f, i, j, result[j]);
                else
                    Tamofpp(out, i, j, result[j]);
            }
        }
    }
    return 0;
}

const char *typeName(const TAMOHDR *img) {
    return tamo::hasValidMagic(img) ? img->orvdt : "(none)";
}

// Runs body(lo, hi) over the elements [0, n) of records whose elements are
// each computed from the same element of the inputs, split over threads for
// large records. Outputs that partly overlap an input (rather than being it)
// stay on one thread, where the order of the loop decides the result.
bool partlyOverlapsAny(std::initializer_list<const TAMOHDR *> inputs, const TAMOHDR *out) {
    for (const TAMOHDR *in : inputs)
        if (in->orvptr != out->orvptr && tamo::pixelsOverlap(in, out)) return true;
    return false;
}

template <class Body>
void elementwise(long long n, int cost, std::initializer_list<const TAMOHDR *> inputs,
                 const TAMOHDR *out, Body &&body) {
    const int threads = partlyOverlapsAny(inputs, out) ? 1 : tamo::threadsFor(n * cost, n / 4096);
    // Ranges start on multiples of 16 elements, so each vector loop sees the
    // same alignment it would see on one thread.
    const long long blocks = (n + 15) / 16;
    tamo::splitRange(0, blocks, threads,
                     [&](long long b0, long long b1, int) { body(b0 * 16, std::min(n, b1 * 16)); });
}

// Large results of the memory-bound kernels are written past the caches.
// When a result and its inputs together exceed the last-level cache (taken
// as 32 MiB: the slice one core sees on current processors is no larger),
// the result would be evicted before anyone reads it again, and a plain
// store first reads in every line it writes. Kernels then fill a small
// buffer that stays in the first-level cache, and the buffer goes out with
// streaming stores: a quarter less time for the simplest operators. Kernels
// with more arithmetic per value write directly, as the copy would cost them
// more than the reads it saves.
bool streamsResults(long long bytesTouched) {
    return bytesTouched >= (32LL << 20);
}

constexpr int kStreamBlock = 1024;  // floats: 4 kB

#ifdef TAMO_HAVE_AVX512_KERNELS
__attribute__((target("avx512f"))) void streamBlockAvx512(const float *from, float *to) {
    for (int k = 0; k < kStreamBlock; k += 16) _mm512_stream_ps(to + k, _mm512_load_ps(from + k));
}
#endif

// from and to aligned to 64 bytes.
void streamBlock(const float *from, float *to) {
#ifdef TAMO_HAVE_AVX512_KERNELS
    if (haveAvx512()) return streamBlockAvx512(from, to);
#endif
#if defined(__SSE2__)
    for (int k = 0; k < kStreamBlock; k += 4) _mm_stream_ps(to + k, _mm_load_ps(from + k));
#else
    std::memcpy(to, from, kStreamBlock * sizeof(float));
#endif
}

// elementwise for kernels of the form kernel(lo, to, len), which write the
// results of elements lo .. lo + len - 1 to `to`: into the output directly,
// or block by block through a buffer that is streamed out. An output that
// partly overlaps an input is written directly, in the loop's order.
template <class Kernel>
void elementwiseTo(long long n, int cost, std::initializer_list<const TAMOHDR *> inputs,
                   TAMOHDR *out, Kernel &&kernel) {
    float *dst = pixels<float>(out);
    const long long bytes =
        n * static_cast<long long>(sizeof(float)) * static_cast<long long>(inputs.size() + 1);
    const bool stream = !partlyOverlapsAny(inputs, out) && streamsResults(bytes);
    elementwise(n, cost, inputs, out, [&](long long lo, long long hi) {
        if (!stream) return kernel(lo, dst + lo, hi - lo);
        const auto address = reinterpret_cast<uintptr_t>(dst + lo);
        long long i = std::min(hi, lo + static_cast<long long>((64 - address % 64) % 64 / 4));
        if (i > lo) kernel(lo, dst + lo, i - lo);
        alignas(64) float buffer[kStreamBlock];
        for (; i + kStreamBlock <= hi; i += kStreamBlock) {
            kernel(i, buffer, kStreamBlock);
            streamBlock(buffer, dst + i);
        }
        if (i < hi) kernel(i, dst + i, hi - i);
#if defined(__SSE2__)
        _mm_sfence();  // the streamed stores are seen before the results are used
#endif
    });
}

}  // namespace

namespace tamo {

void atan2Floats(const float *y, const float *x, float *out, long long n) {
    if (partlyOverlaps(y, out, n) || partlyOverlaps(x, out, n)) {
#ifdef TAMO_HAVE_AVX512_KERNELS
        // One value at a time, each read after the writes before it.
        if (haveAvx512()) {
            for (long long i = 0; i < n; ++i) atan2Avx512(y + i, x + i, out + i, 1);
            return;
        }
#endif
        for (long long i = 0; i < n; ++i) {
            double sure;
            const float angle = atan2Float(y[i], x[i], sure);
            out[i] = sure != 0.0 ? angle : atan2Rounded(y[i], x[i]);
        }
        return;
    }
#ifdef TAMO_HAVE_AVX512_KERNELS
    if (haveAvx512()) return atan2Avx512(y, x, out, n);
#endif
    atan2Generic(y, x, out, n);
}

}  // namespace tamo

extern "C" {

int flabsolute(TAMOHDR *in, TAMOHDR *out) {
    if (int rc = checkUnaryFloat(in, out)) return rc;
    const float *src = pixels<float>(in);
    elementwiseTo(tamo::elementCount(in), 1, {in}, out,
                  [&](long long lo, float *to, long long len) { absKernel(src + lo, to, len); });
    return 0;
}

int fladds(TAMOHDR *in, TAMOHDR *out, float c) {
    if (int rc = checkUnaryFloat(in, out)) return rc;
    const float *src = pixels<float>(in);
    elementwiseTo(
        tamo::elementCount(in), 1, {in}, out,
        [&](long long lo, float *to, long long len) { addsKernel(src + lo, to, len, c); });
    return 0;
}

int flmults(TAMOHDR *in, TAMOHDR *out, float c) {
    if (int rc = checkUnaryFloat(in, out)) return rc;
    const float *src = pixels<float>(in);
    elementwiseTo(
        tamo::elementCount(in), 1, {in}, out,
        [&](long long lo, float *to, long long len) { multsKernel(src + lo, to, len, c); });
    return 0;
}

int fladdv(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out) {
    if (!sameSize(a, b) || !sameSize(a, out)) return TAMO_OP_ESIZE;
    if (!sameFloatType3(a, b, out)) return TAMO_OP_ETYPE;
    long long n = tamo::elementCount(a) * (isComplex(a) ? 2 : 1);
    const float *pa = pixels<float>(a), *pb = pixels<float>(b);
    elementwiseTo(n, 1, {a, b}, out, [&](long long lo, float *to, long long len) {
        addvKernel(pa + lo, pb + lo, to, len);
    });
    return 0;
}

int flmultv(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out) {
    if (int rc = checkBinary(a, b, out)) return rc;
    long long n = tamo::elementCount(a);
    const float *pa = pixels<float>(a), *pb = pixels<float>(b);
    float *po = pixels<float>(out);
    if (isFloat(a)) {
        elementwiseTo(n, 1, {a, b}, out, [&](long long lo, float *to, long long len) {
            multvKernel(pa + lo, pb + lo, to, len);
        });
        return 0;
    }
    elementwise(n, 2, {a, b}, out, [&](long long lo, long long hi) {
        for (long long i = lo; i < hi; ++i) {
            float ar = pa[2 * i], ai = pa[2 * i + 1], br = pb[2 * i], bi = pb[2 * i + 1];
            po[2 * i] = ar * br - ai * bi;
            po[2 * i + 1] = ai * br + ar * bi;
        }
    });
    return 0;
}

int fldivv(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out) {
    if (int rc = checkBinary(a, b, out)) return rc;
    long long n = tamo::elementCount(a);
    const float *pa = pixels<float>(a), *pb = pixels<float>(b);
    float *po = pixels<float>(out);
    if (isFloat(a)) {
        elementwiseTo(n, 2, {a, b}, out, [&](long long lo, float *to, long long len) {
            divvKernel(pa + lo, pb + lo, to, len);
        });
        return 0;
    }
    elementwise(n, 4, {a, b}, out, [&](long long lo, long long hi) {
        for (long long i = lo; i < hi; ++i) {
            float ar = pa[2 * i], ai = pa[2 * i + 1], br = pb[2 * i], bi = pb[2 * i + 1];
            float h = bi * bi + br * br;
            po[2 * i] = (ai * bi + ar * br) / h;
            po[2 * i + 1] = (ai * br - ar * bi) / h;
        }
    });
    return 0;
}

int flatan2(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out) {
    if (int rc = checkBinary(a, b, out)) return rc;
    long long n = tamo::elementCount(a) * (isComplex(a) ? 2 : 1);
    const float *pa = pixels<float>(a), *pb = pixels<float>(b);
    float *po = pixels<float>(out);
    elementwise(n, 16, {a, b}, out, [&](long long lo, long long hi) {
        tamo::atan2Floats(pa + lo, pb + lo, po + lo, hi - lo);
    });
    return 0;
}

int flexp(TAMOHDR *in, TAMOHDR *out, float scale) {
    if (int rc = checkUnaryFloat(in, out)) return rc;
    // exp(0 / 0) would be NaN; any other scale gives a number for every value.
    if (scale == 0.0f || std::isnan(scale)) {
        std::printf("flexp: scale must be a number other than 0\n");
        return TAMO_EXP_ESCALE;
    }
    const float *src = pixels<float>(in);
    float *dst = pixels<float>(out);
    elementwise(tamo::elementCount(in), 8, {in}, out,
                [&](long long lo, long long hi) { expKernel(src + lo, dst + lo, hi - lo, scale); });
    return 0;
}

int flln(TAMOHDR *in, TAMOHDR *out) {
    if (int rc = checkUnaryFloat(in, out)) return rc;
    const float *src = pixels<float>(in);
    float *dst = pixels<float>(out);
    // Any range that met a value that is not positive makes the result
    // TAMO_LN_NONPOSITIVE.
    bool refused = false;
    elementwise(tamo::elementCount(in), 8, {in}, out, [&](long long lo, long long hi) {
        if (lnKernel(src + lo, dst + lo, hi - lo) != 0) {
#pragma omp atomic write
            refused = true;
        }
    });
    return refused ? TAMO_LN_NONPOSITIVE : 0;
}

int flsqrt(TAMOHDR *in, TAMOHDR *out) {
    if (int rc = checkUnaryFloat(in, out)) return rc;
    const long long n = tamo::elementCount(in);
    const float *src = pixels<float>(in);
    float *dst = pixels<float>(out);
    // Values from the first negative one on are not written, so that one is
    // found first; the roots before it can then be taken in any order.
    long long firstNegative = n;
    if (tamo::threadsFor(n, n / 4096) > 1) {
        long long found = n;
        elementwise(n, 1, {in}, out, [&](long long lo, long long hi) {
            for (long long i = lo; i < hi; ++i)
                if (src[i] < 0.0f) {
#pragma omp critical(tamo_flsqrt)
                    found = std::min(found, i);
                    break;
                }
        });
        firstNegative = found;
        elementwise(firstNegative, 1, {in}, out, [&](long long lo, long long hi) {
            sqrtUntilNegative(src + lo, dst + lo, hi - lo);
        });
    } else {
        firstNegative = sqrtUntilNegative(src, dst, n);
    }
    if (firstNegative < n) {
        std::fputs("!! flsgrt error : Negative Value for Square Root !!\n", stderr);
        return TAMO_SQRT_NEGATIVE;
    }
    return 0;
}

int flinv(TAMOHDR *in, TAMOHDR *out) {
    if (int rc = checkUnaryFloat(in, out)) return rc;
    const float *src = pixels<float>(in);
    const long long n = tamo::elementCount(in);
    // The scan starts from the infinities, so the true extremes are found
    // whatever the range of the data.
    float top, bottom;
    rangeKernel(src, n, top, bottom);
    std::printf("flinv: max = %f min=%f\n", top, bottom);
    elementwiseTo(n, 1, {in}, out, [&](long long lo, float *to, long long len) {
        invKernel(src + lo, to, len, top);
    });
    return 0;
}

int flcp(TAMOHDR *in, TAMOHDR *out) {
    if (!sameFloatType2(in, out)) return TAMO_OP_ETYPE;
    if (!sameSize(in, out)) return TAMO_OP_ESIZE;
    long long words = tamo::elementCount(in) * (isComplex(in) ? 2 : 1);
    std::memmove(out->orvptr, in->orvptr, static_cast<size_t>(words) * sizeof(float));
    return 0;
}

int ifneg(TAMOHDR *img) {
    if (!isFloat(img)) return 0;
    const float *p = pixels<float>(img);
    long long n = tamo::elementCount(img);
    for (long long i = 0; i < n; ++i)
        if (p[i] < 0.0f) return 1;
    return 0;
}

TAMOHDR *flcrcopy(TAMOHDR *in) {
    if (!tamo::hasValidMagic(in) || !in->orvptr) return nullptr;
    tamo::CArray<int> dims(Tamosiz(in));
    if (!dims) return nullptr;
    TAMOHDR *copy = tamo::createLike(in, dims.get(), "flcrcopy");
    if (!copy) return nullptr;
    std::memcpy(copy->orvptr, in->orvptr,
                static_cast<size_t>(tamo::elementCount(in)) * static_cast<size_t>(in->orvbpd));
    return copy;
}

int intcp(TAMOHDR *in, TAMOHDR *out) {
    if (!hasType(in, TAMO_32BIT) || !hasType(out, TAMO_32BIT)) {
        std::printf("intcp type error %s and %s\n", typeName(in), typeName(out));
        std::fflush(stdout);
        tamo::endProcess(TAMO_OP_ETYPE);
        return TAMO_OP_ETYPE;
    }
    const int rows = rowsOf(in), cols = columnsOf(in);
    if (rowsOf(out) != rows || columnsOf(out) != cols) return TAMO_OP_ESIZE;
    const size_t plane = static_cast<size_t>(rows) * static_cast<size_t>(cols);
    char *dst = out->orvptr;
    std::memcpy(dst, in->orvptr, plane * sizeof(int32_t));
    if (out->orvndim == 3) {
        const int frames = std::min(3, dimLength(out, 2));
        for (int f = 1; f < frames; ++f)
            std::memcpy(dst + f * plane * sizeof(int32_t), dst, plane * sizeof(int32_t));
    }
    return 0;
}

int flcolor2gray(TAMOHDR *in, TAMOHDR **outp) {
    TAMOHDR *out = outp ? *outp : nullptr;
    if (!tamo::hasValidMagic(out) || out->orvndim != 2) return TAMO_GRAY_EOUTDIMS;
    const bool inValid = tamo::hasValidMagic(in);
    if (!inValid || columnsOf(in) != columnsOf(out)) return TAMO_GRAY_ECOLS;
    if (rowsOf(in) != rowsOf(out)) return TAMO_GRAY_EROWS;
    // A three-dimensional input must carry the three colour frames.
    if (!(in->orvndim == 2 || (in->orvndim == 3 && dimLength(in, 2) >= 3))) {
        std::printf("Input must be a 3D 3 frame Tamo image\n");
        std::printf("or a 2D 1 frame Tamo image\n");
        return TAMO_GRAY_EINPUT;
    }
    if (!isFloat(out)) {
        tamo::CArray<int> dims(Tamosiz(out));
        TAMOHDR *replacement = dims ? Tamocreate("float", dims.get(), 11, 0) : nullptr;
        if (!replacement) return TAMO_GRAY_ENOOUT;
        Tamofree(out, 7);
        out = *outp = replacement;
    }
    const int rows = rowsOf(in), cols = columnsOf(in);
    const long long plane = static_cast<long long>(rows) * cols;
    float *dst = pixels<float>(out);
    if (in->orvndim == 2) {
        // The weights sum to 1: a single plane is its own grey image.
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j)
                dst[static_cast<long long>(i) * cols + j] = static_cast<float>(Tamofgp(in, i, j));
        return 0;
    }
    if (isFloat(in)) {
        const float *r = pixels<float>(in), *g = r + plane, *b = g + plane;
        for (long long k = 0; k < plane; ++k)
            dst[k] = static_cast<float>(0.21 * r[k] + 0.72 * g[k] + 0.07 * b[k]);
        return 0;
    }
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < cols; ++j) {
            float r = static_cast<float>(Tamofgp3d(in, 0, i, j));
            float g = static_cast<float>(Tamofgp3d(in, 1, i, j));
            float b = static_cast<float>(Tamofgp3d(in, 2, i, j));
            dst[static_cast<long long>(i) * cols + j] =
                static_cast<float>(0.21 * r + 0.72 * g + 0.07 * b);
        }
    }
    return 0;
}

int fladdi(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out, int dr, int dc) {
    return shifted<Combine::Add>(a, b, out, dr, dc);
}
int flsubi(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out, int dr, int dc) {
    return shifted<Combine::Sub>(a, b, out, dr, dc);
}
int flmuli(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out, int dr, int dc) {
    return shifted<Combine::Mul>(a, b, out, dr, dc);
}
int fldivi(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out, int dr, int dc) {
    return shifted<Combine::Div>(a, b, out, dr, dc);
}

}  // extern "C"
