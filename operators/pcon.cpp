// Piecewise-constant restoration by mean-field annealing.
//
// Each iteration at temperature T pulls the estimate f towards the data g and
// smooths it with an edge-preserving interaction along four neighbour
// directions (down, down-right, right, up-right):
//   J = f - g;  D = forward differences of f;  E = (D/s) exp(-D^2 / (2s));
//   B = back-projection of E onto the pixels (diagonals weighted 0.7);
//   K = J / sigma^2 + B * b / sqrt(2 pi T);
//   f += K * (-r sigma) / rms(K) * sqrt(T).
// The whole iteration is one pass over the rows (E kept for three rows only,
// the neighbour differences of the row below computed just ahead of the row
// that needs them) and one pass applying the step, which depends on the root
// mean square of K over the whole image. Border pixels take part in J and K
// but have no differences of their own; f's border is replicated from the
// interior before each iteration.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "operators_internal.h"
#include "parallel.h"
#include "tamoops.h"

// The selects in expUpTo709 vectorise only when comparisons may be assumed
// not to trap; no result depends on floating-point exception flags.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-trapping-math")
#endif

namespace {

using tamo::dimLength;
using tamo::isFloatImage;

using tamo::pixels;

// exp(x) in double precision for x <= 709, without calls or branches so that
// loops using it vectorise. Below -708 the result is 0: the true value is
// under 3.3e-308, and the products it enters here stay far below the smallest
// float.
__attribute__((always_inline)) inline double expUpTo709(double x) {
    const double low = x < -708.0 ? -708.0 : x;
    const double e = tamo::expInRange(low > 709.0 ? 709.0 : low);
    return x < -708.0 ? 0.0 : e;
}

// The edge-preserving weight of one neighbour difference:
// (x / s) exp(-0.5 / s * x * x), evaluated in double precision.
__attribute__((always_inline)) inline float weighted(float d, double s, double c) {
    const double x = d;
    return static_cast<float>((x / s) * expUpTo709((c * x) * x));
}

// One-pixel edge replication: every border pixel takes the value of its
// nearest interior pixel, the corners that of the diagonally adjacent one.
// Images narrower than two pixels have no neighbour to copy from.
void reflect(float *x, int rows, int cols) {
    if (rows < 2 || cols < 2) return;
    auto at = [&](int r, int c) -> float & { return x[static_cast<long long>(r) * cols + c]; };
    for (int r = 0; r <= rows - 2; ++r) {
        at(r, 0) = at(r, 1);
        at(r, cols - 1) = at(r, cols - 2);
    }
    for (int c = 0; c <= cols - 2; ++c) {
        at(0, c) = at(1, c);
        at(rows - 1, c) = at(rows - 2, c);
    }
    at(0, 0) = at(1, 1);
    at(0, cols - 1) = at(1, cols - 2);
    at(rows - 1, 0) = at(rows - 2, 1);
    at(rows - 1, cols - 1) = at(rows - 2, cols - 2);
}

// Weighted differences of the interior of row i (columns 1..cols-2) towards
// the row below, the pixel down-right, the pixel right and the pixel
// up-right. Columns 0 and cols-1 stay 0.
TAMO_TARGET_CLONES void rowDifferences(const float *__restrict up, const float *__restrict here,
                                       const float *__restrict down, float *__restrict e1,
                                       float *__restrict e2, float *__restrict e3,
                                       float *__restrict e4, int cols, double s, double c) {
    for (int j = 1; j < cols - 1; ++j) {
        const float centre = here[j];
        e1[j] = weighted(down[j] - centre, s, c);
        e2[j] = weighted(down[j + 1] - centre, s, c);
        e3[j] = weighted(here[j + 1] - centre, s, c);
        e4[j] = weighted(up[j + 1] - centre, s, c);
    }
}

// K of an interior row i (columns 1..cols-2) from the weighted differences
// of rows i-1 (p), i (q) and i+1 (n).
TAMO_TARGET_CLONES void interiorRow(const float *__restrict f, const float *__restrict g,
                                    const float *__restrict p1, const float *__restrict q1,
                                    const float *__restrict p2, const float *__restrict q2,
                                    const float *__restrict q3, const float *__restrict q4,
                                    const float *__restrict n4, float *__restrict k, int cols,
                                    double wa, double wb) {
    for (int j = 1; j < cols - 1; ++j) {
        const float diagonal = (p2[j - 1] - q2[j]) + (n4[j - 1] - q4[j]);
        const float axial = (p1[j] - q1[j]) + (q3[j - 1] - q3[j]);
        const double back = static_cast<float>(0.7 * diagonal + axial);
        k[j] = static_cast<float>(back * wb + static_cast<double>(f[j] - g[j]) * wa);
    }
}

// Sum of squares in double precision, four running sums.
TAMO_TARGET_CLONES double sumOfSquares(const float *x, int n) {
    double s[4] = {0.0, 0.0, 0.0, 0.0};
    int j = 0;
    for (; j + 4 <= n; j += 4)
        for (int t = 0; t < 4; ++t) s[t] += static_cast<double>(x[j + t]) * x[j + t];
    for (; j < n; ++j) s[0] += static_cast<double>(x[j]) * x[j];
    return (s[0] + s[1]) + (s[2] + s[3]);
}

// K where the interaction term is zero (border pixels).
void borderRun(const float *f, const float *g, float *k, int n, double wa, double wb) {
    for (int j = 0; j < n; ++j)
        k[j] = static_cast<float>(0.0 * wb + static_cast<double>(f[j] - g[j]) * wa);
}

// f += k * step; false when a value of f became infinite or NaN (told by its
// exponent bits, which keeps the loop vectorised).
TAMO_TARGET_CLONES bool applyStep(float *__restrict f, const float *__restrict k, long long n,
                                  double step) {
    uint32_t overflowed = 0;
    for (long long i = 0; i < n; ++i) {
        const float v =
            static_cast<float>(static_cast<double>(k[i]) * step + static_cast<double>(f[i]));
        f[i] = v;
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        overflowed |= (bits & 0x7f800000u) == 0x7f800000u;
    }
    return !overflowed;
}

// Longest temperature schedule accepted: about 2000 times the usual one, so
// that a factor a hair below 1 cannot keep a call busy for days.
constexpr long long kMaxSteps = 1000000;

}  // namespace

int pconsub(TAMOHDR *f, TAMOHDR *g, float sigma, float r, float b, float t1, float t2, float dlt) {
    if (!isFloatImage(g) || !isFloatImage(f)) {
        std::printf(
            "Pcon: this program will only work with Tamo float images, please convert your input "
            "image to float\n");
        return TAMO_PCON_ETYPE;
    }
    // A schedule that would never reach t2 is refused before anything changes.
    const float params[] = {sigma, r, b, t1, t2, dlt};
    bool finite = true;
    for (float v : params) finite = finite && std::isfinite(v);
    if (!finite || !(dlt < 1.0f) || !(t2 > 0.0f)) {
        std::printf("Pcon: temperature schedule does not end\n");
        return TAMO_PCON_ESCHEDULE;
    }
    long long steps = 0;
    for (double T = t1; T >= t2 && steps <= kMaxSteps; T *= dlt) ++steps;
    if (steps > kMaxSteps) {
        std::printf("Pcon: temperature schedule has more than %lld steps\n", kMaxSteps);
        return -13;
    }
    // The data term divides by sigma squared.
    if (!(sigma > 0.0f)) {
        std::printf("Pcon: sigma must be greater than 0\n");
        return TAMO_PCON_ESIGMA;
    }
    const int cols = dimLength(f, 0);
    const int rows = f->orvndim >= 2 ? dimLength(f, 1) : 1;
    if (dimLength(g, 0) != cols || (g->orvndim >= 2 ? dimLength(g, 1) : 1) != rows) {
        std::printf("bug1");
        std::fflush(stdout);
        tamo::endProcess(0);
        return TAMO_PCON_ESIZE;
    }

    float *fp = pixels<float>(f);
    float *gp = pixels<float>(g);
    const long long count = static_cast<long long>(rows) * cols;
    std::vector<float> k(static_cast<size_t>(count));
    // Weighted differences of three consecutive rows, four directions each;
    // border rows and columns stay 0.
    std::vector<float> ring(static_cast<size_t>(3) * 4 * cols, 0.0f);
    auto diffs = [&](int row, int dir) { return ring.data() + ((row % 3) * 4 + dir) * cols; };
    auto line = [&](float *base, int row) { return base + static_cast<long long>(row) * cols; };

    // Progress counts temperature steps. A stopped run, and one whose
    // estimate leaves the float range, put f and g back as they came (g's
    // border is replicated below).
    tamo::Progress progress(steps);
    tamo::PixelSnapshot fBefore(f), gBefore(g);
    if (fBefore.failed() || gBefore.failed()) progress.disable();
    long long step = 0;

    reflect(gp, rows, cols);
    // The estimate's weight is formed in single precision, like the step's
    // product r * sigma below.
    const double wa = 1.0f / sigma / sigma;
    const float rs = -r * sigma;
    for (double T = t1; T >= t2; T *= dlt) {
        const double s = sigma * (sigma * (1.41 * (1.41 * T)));
        const double c = -0.5 / s;
        const double wb = b / std::sqrt(6.283185307179586 * T);
        reflect(fp, rows, cols);

        auto differencesOf = [&](int row) {
            rowDifferences(line(fp, row - 1), line(fp, row), line(fp, row + 1), diffs(row, 0),
                           diffs(row, 1), diffs(row, 2), diffs(row, 3), cols, s, c);
        };
        auto clear = [&](int row) {
            for (int dir = 0; dir < 4; ++dir)
                std::fill(diffs(row, dir), diffs(row, dir) + cols, 0.0f);
        };
        double sum = 0.0;
        clear(0);
        if (rows > 2) differencesOf(1);
        for (int i = 0; i < rows; ++i) {
            float *ki = line(k.data(), i);
            const float *fi = line(fp, i), *gi = line(gp, i);
            if (i == 0 || i == rows - 1 || cols < 3) {
                borderRun(fi, gi, ki, cols, wa, wb);
            } else {
                // Row i+1's differences (zero for the last row) are due now.
                if (i + 1 <= rows - 2)
                    differencesOf(i + 1);
                else
                    clear(i + 1);
                borderRun(fi, gi, ki, 1, wa, wb);
                interiorRow(fi, gi, diffs(i - 1, 0), diffs(i, 0), diffs(i - 1, 1), diffs(i, 1),
                            diffs(i, 2), diffs(i, 3), diffs(i + 1, 3), ki, cols, wa, wb);
                borderRun(fi + cols - 1, gi + cols - 1, ki + cols - 1, 1, wa, wb);
            }
            sum += sumOfSquares(ki, cols);
        }
        const double m = std::sqrt(sum / static_cast<double>(count));
        auto overflow = [&] {
            fBefore.restore();
            gBefore.restore();
            std::printf("Pcon: the estimate leaves the range of floats\n");
            return TAMO_PCON_ERANGE;
        };
        if (!std::isfinite(m)) return overflow();
        if (m == 0.0) {
            std::printf("magf=0 exiting\n");
            std::fflush(stdout);
            tamo::endProcess(0);
            return TAMO_PCON_EFLAT;
        }
        if (!applyStep(fp, k.data(), count, rs / m * std::sqrt(T))) return overflow();
        if (progress.report(++step)) {
            fBefore.restore();
            gBefore.restore();
            return TAMO_CANCELLED;
        }
    }
    return 0;
}
