// Elementary functions for the per-pixel operators (private to the library).
//
// Each function here is written for one value, without calls or branches,
// so that a counted loop over an array of floats vectorises: special values
// are folded in with selects rather than tests. They work in double
// precision and are meant to be rounded to float by the caller.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tamo {

// Coefficients of atan(t) = t + t z P(z), z = t^2, for |t| <= tan(pi/8):
// relative error below 2^-42.8.
constexpr double kAtanPoly[] = {0.032598278250121321,  -0.060070604900746755, 0.076003323143872925,
                                -0.090836161251240111, 0.11110792805797372,   -0.14285707406767334,
                                0.19999999943031221,   -0.33333333333255538};

// A double result r >= 0 rounds to float with certainty when it lies more
// than 2^-13 of half a float unit in the last place (about 2^-37 relative,
// far above the error of the evaluation) from the nearest halfway point
// between floats; a nonzero r in or near the subnormal float range is never
// certain. Half a unit is taken in r's own binade (its exponent bits times
// 2^-24), which is also right where r rounds up to the next power of two.
__attribute__((always_inline)) inline bool roundsWithoutDoubt(double r) {
    uint64_t bits;
    std::memcpy(&bits, &r, sizeof bits);
    bits &= 0x7ff0000000000000u;
    double binade;
    std::memcpy(&binade, &bits, sizeof binade);
    const double half = binade * 0x1p-24;
    const double off = r - static_cast<double>(static_cast<float>(r));
    const double fromHalf = (off < 0.0 ? -off : off) - half;
    return !((fromHalf < 0.0 ? -fromHalf : fromHalf) < half * 0x1p-13) &&
           !(r < 0x1p-125 && r != 0.0);
}

// atan2(y, x) for floats, evaluated in double precision. The result is the
// correctly rounded float wherever `sure` comes back 1 (else 0); elsewhere (about
// one value in 8000) the exact value lies too close to a halfway point for
// this evaluation to decide, and the caller takes atan2Rounded.
// Signed zeros, infinities and NaN give what the C library gives.
//
// With n = min(|x|, |y|) and d = max(|x|, |y|), atan(n / d) lies in
// [0, pi/4]; above tan(pi/8) it is taken as pi/4 + atan((n - d) / (n + d)),
// whose argument is again within tan(pi/8). Both n - d and n + d are exact
// in double for such n and d. The quadrant follows from which of |x| and |y|
// is larger, the sign bit of x and the sign of y.
__attribute__((always_inline)) inline float atan2Float(float y, float x, double &sure) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    const float ax = x < 0.0f ? -x : x, ay = y < 0.0f ? -y : y;
    const bool swap = ay > ax;
    const float nf = swap ? ax : ay, df = swap ? ay : ax;
    // Zeros and infinities: 0/0 and 0/inf give angle 0 inside the octant,
    // inf/inf gives pi/4; the quadrant logic below does the rest.
    const bool extreme = !(df > 0.0f && df < inf);
    const double n = extreme ? (nf == inf ? 1.0 : 0.0) : nf;
    const double d = extreme ? 1.0 : df;
    const bool reduce = n > 0.41421356 * d;
    const double t = (reduce ? n - d : n) / (reduce ? n + d : d);
    const double z = t * t;
    double p = kAtanPoly[0];
    for (int k = 1; k < 8; ++k) p = p * z + kAtanPoly[k];
    double r = t + t * (z * p);
    r = reduce ? 0.78539816339744830962 + r : r;
    r = swap ? 1.57079632679489661923 - r : r;
    uint32_t xbits, ybits, abits;
    std::memcpy(&xbits, &x, sizeof xbits);
    std::memcpy(&ybits, &y, sizeof ybits);
    r = (xbits >> 31) ? 3.14159265358979323846 - r : r;
    sure = roundsWithoutDoubt(r) ? 1.0 : 0.0;
    // r >= 0: the sign is y's, -0 included.
    const float angle = static_cast<float>(r);
    std::memcpy(&abits, &angle, sizeof abits);
    abits |= ybits & 0x80000000u;
    float signedAngle;
    std::memcpy(&signedAngle, &abits, sizeof signedAngle);
    return (x != x || y != y) ? x + y : signedAngle;
}

// The C library's double-precision atan2 rounded to float: always one of
// the two floats around the exact angle, and nearly always the nearer one
// (the C library's atan2f is up to 2.2 units off).
inline float atan2Rounded(float y, float x) {
    return static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(x)));
}

// out[i] = atan2(y[i], x[i]) exactly as flatan2 computes it (on the vector
// unit this machine has): for operators whose results must agree with it.
void atan2Floats(const float *y, const float *x, float *out, long long n);

}  // namespace tamo
