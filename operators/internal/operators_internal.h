// Helpers shared by the operators (private to the library): type
// predicates, the planes a pixel writer can reach, and a branch-free
// exponential for loops that must vectorise.
#pragma once

#include <cstdint>
#include <cstring>

#include "imagelib_internal.h"

namespace tamo {

// A valid record of type `code`.
inline bool hasType(const TAMOHDR *img, int32_t code) {
    return hasValidMagic(img) && img->dtype == code;
}
inline bool isFloat(const TAMOHDR *img) {
    return hasType(img, TAMO_32FLT);
}
inline bool isComplex(const TAMOHDR *img) {
    return hasType(img, TAMO_32CMP);
}
// A valid "32flt" record with pixel data.
inline bool isFloatImage(const TAMOHDR *img) {
    return isFloat(img) && img->orvptr;
}

// Planes the three-dimensional pixel writer can address in an image: the
// channels of an interleaved type, else the frames; 0 for types it cannot
// write.
inline int writablePlanes(const TAMOHDR *img) {
    int channels = 0;
    visitScalar(img->dtype, [&](auto, ElemLayout layout) { channels = layout.channels; });
    if (channels > 1) return channels;
    return channels == 0 ? 0 : framesOf(img);
}

// exp(x) in double precision for -708 <= x <= 709 (callers clamp), without
// calls or branches so that loops using it vectorise. x = n ln2 + r with
// |r| <= ln2/2 (ln2 split so that n ln2_hi is exact), exp(r) by its Taylor
// polynomial to degree 13 (truncation below 1e-17) and 2^n assembled in the
// exponent field: within about one unit in the last double place.
__attribute__((always_inline)) inline double expInRange(double x) {
    const double shifter = 6755399441055744.0;  // 1.5 * 2^52: rounds to integer
    const double t = x * 1.4426950408889634 + shifter;
    const double n = t - shifter;
    double r = x - n * 6.93147180369123816490e-01;  // ln2 high part
    r = r - n * 1.90821492927058770002e-10;         // ln2 low part
    double p = 1.0 / 6227020800.0;
    p = p * r + 1.0 / 479001600.0;
    p = p * r + 1.0 / 39916800.0;
    p = p * r + 1.0 / 3628800.0;
    p = p * r + 1.0 / 362880.0;
    p = p * r + 1.0 / 40320.0;
    p = p * r + 1.0 / 5040.0;
    p = p * r + 1.0 / 720.0;
    p = p * r + 1.0 / 120.0;
    p = p * r + 1.0 / 24.0;
    p = p * r + 1.0 / 6.0;
    p = p * r + 0.5;
    p = p * r + 1.0;
    p = p * r + 1.0;
    // The low bits of t hold n as an integer; with n in [-1022, 1023] the
    // biased exponent n + 1023 fits its field. Unsigned arithmetic keeps a
    // NaN argument (whose result is NaN anyway) free of overflow.
    uint64_t tb, sb;
    std::memcpy(&tb, &t, sizeof tb);
    std::memcpy(&sb, &shifter, sizeof sb);
    const uint64_t scaleBits = (tb - sb + 1023) << 52;
    double scale;
    std::memcpy(&scale, &scaleBits, sizeof scale);
    return p * scale;
}

}  // namespace tamo
