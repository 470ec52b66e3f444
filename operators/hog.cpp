// Histograms of gradient orientation over cells of 8 x 8 pixels, and their
// picture as line glyphs.
//
// The gradient comes from first derivatives of a Gaussian of sigma 1 (for a
// colour image averaged over the three frames); each pixel's direction
// atan2(gy, gx), in degrees 0..360, counts in one of nine bins of 40 degrees.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "operators_internal.h"
#include "tamoops.h"
#include "vecmath.h"

// The selects of quickBins vectorise only when comparisons may be assumed not
// to trap; no result depends on floating-point exception flags.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-trapping-math")
#endif

namespace {

using tamo::dimLength;
using tamo::framesOf;
using tamo::rowsOf;

using tamo::pixels;

constexpr int kCell = 8;
constexpr int kBins = 9;
constexpr int kGlyph = 9;  // side of a cell's block in the glyph picture
// Degrees per radian as the descriptor and the glyphs use it.
constexpr double kDegrees = 57.2958;

using tamo::isFloatImage;

tamo::RecordPtr floatImage(int cols, int rows, int frames = 1) {
    int dims[4] = {frames > 1 ? 3 : 2, cols, rows, frames};
    return tamo::RecordPtr(Tamocreate("float", dims, 11, 0));
}

// The top-left rows x cols pixels of one frame of `in`, as floats.
void cropFrame(TAMOHDR *in, int frame, int rows, int cols, float *dst) {
    if (in->dtype == TAMO_32FLT) {
        const int inCols = dimLength(in, 0);
        const float *src = pixels<float>(in) + static_cast<long long>(frame) * inCols * rowsOf(in);
        for (int r = 0; r < rows; ++r)
            std::memcpy(dst + static_cast<long long>(r) * cols,
                        src + static_cast<long long>(r) * inCols, sizeof(float) * cols);
        return;
    }
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            dst[static_cast<long long>(r) * cols + c] =
                static_cast<float>(Tamofgp3d(in, frame, r, c));
}

// Bin of a direction in radians: degrees rounded to single precision,
// brought into 0..360; a direction that rounds to 360 (and an undefined one)
// counts in bin 0.
inline int binOf(float direction) {
    float d = static_cast<float>(direction * kDegrees);
    if (d < 0) d = 360 + d;
    const int k = static_cast<int>(d / 40.0);
    return k >= 0 && k < kBins ? k : 0;
}

constexpr uint8_t kUnsure = 255;

inline uint32_t bitsOf(float x) {
    uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// Bins of the directions atan2(gy, gx) of n pixels, as binOf(atan2(gy, gx))
// gives them, without a library call per pixel: the direction comes from a
// polynomial for atan (error below 2e-7 radians) and decides the bin unless
// it lies within 0.02 degrees of a bin edge (or is undefined), where
// kUnsure asks for the exact evaluation. That margin is a hundred times the
// combined error of the polynomial, of atan2 and of the rounding of degrees,
// so every bin decided here is the exact one.
TAMO_TARGET_CLONES void quickBins(const float *__restrict gx, const float *__restrict gy,
                                  uint8_t *__restrict bins, int n) {
    for (int i = 0; i < n; ++i) {
        const float x = gx[i], y = gy[i];
        const float ax = x < 0.0f ? -x : x, ay = y < 0.0f ? -y : y;
        const bool steep = ay > ax;
        const float top = steep ? ax : ay, bottom = steep ? ay : ax;
        const float t = top / bottom;  // 0..1; NaN when both are 0
        // atan(t) = pi/4 + atan((t - 1) / (t + 1)) keeps the series argument
        // below tan(pi/8); the series is cut after u^13 (error < 1.2e-7).
        const bool upper = t > 0.41421356f;
        const float u = upper ? (t - 1.0f) / (t + 1.0f) : t;
        const float u2 = u * u;
        float p = 1.0f / 13.0f;
        p = p * u2 - 1.0f / 11.0f;
        p = p * u2 + 1.0f / 9.0f;
        p = p * u2 - 1.0f / 7.0f;
        p = p * u2 + 1.0f / 5.0f;
        p = p * u2 - 1.0f / 3.0f;
        float angle = p * u2 * u + u;
        angle = upper ? 0.78539816f + angle : angle;
        angle = steep ? 1.57079633f - angle : angle;
        angle = (bitsOf(x) >> 31) ? 3.14159265f - angle : angle;
        angle = (bitsOf(y) >> 31) ? -angle : angle;

        float d = angle * 57.2958f;
        d = d < 0.0f ? d + 360.0f : d;
        const float q = d * (1.0f / 40.0f);
        const int inRange = (q >= 0.0f) & (q < 9.0f);  // false for NaN
        const float qc = inRange ? q : 0.0f;
        const int k = static_cast<int>(qc);
        const float f = qc - static_cast<float>(k);
        // Arithmetic rather than a select keeps the loop vectorisable.
        const int sure = inRange & (f > 0.0005f) & (f < 0.9995f);
        bins[i] = static_cast<uint8_t>(sure * k + (1 - sure) * kUnsure);
    }
}

// Counts the directions of every cell into the descriptor: each count is
// added to the descriptor's value truncated to an integer.
void binDirections(const float *gx, const float *gy, int cols, int cellRows, int cellCols,
                   TAMOHDR *h) {
    const bool direct = h->dtype == TAMO_32FLT;
    const int hCols = dimLength(h, 0);
    const long long hPlane = static_cast<long long>(hCols) * rowsOf(h);
    float *hp = pixels<float>(h);
    std::vector<uint8_t> bins(static_cast<size_t>(kCell) * cols);
    std::vector<int> counts(static_cast<size_t>(cellCols) * kBins);
    for (int i = 0; i < cellRows; ++i) {
        for (int y = 0; y < kCell; ++y) {
            const long long at = static_cast<long long>(i * kCell + y) * cols;
            uint8_t *line = bins.data() + y * cols;
            quickBins(gx + at, gy + at, line, cols);
            for (int x = 0; x < cols; ++x)
                if (line[x] == kUnsure) {
                    float direction;
                    tamo::atan2Floats(gy + at + x, gx + at + x, &direction, 1);
                    line[x] = static_cast<uint8_t>(binOf(direction));
                }
        }
        std::fill(counts.begin(), counts.end(), 0);
        for (int y = 0; y < kCell; ++y) {
            const uint8_t *line = bins.data() + y * cols;
            for (int x = 0; x < cellCols * kCell; ++x) ++counts[(x / kCell) * kBins + line[x]];
        }
        for (int j = 0; j < cellCols; ++j)
            for (int k = 0; k < kBins; ++k) {
                const int n = counts[j * kBins + k];
                if (n == 0) continue;
                if (direct) {
                    float &v = hp[k * hPlane + static_cast<long long>(i) * hCols + j];
                    v = static_cast<float>(static_cast<int>(v) + n);
                } else {
                    const int v = static_cast<int>(Tamofgp3d(h, k, i, j));
                    Tamofpp3d(h, k, i, j, v + n);
                }
            }
    }
}

struct Cells {
    int rows, cols;  // cropped size in pixels
    int cellRows, cellCols;
};

// The cells of `in` and whether `h` can hold their descriptor.
bool cellsOf(TAMOHDR *in, TAMOHDR *h, Cells &cells) {
    cells.rows = rowsOf(in) / kCell * kCell;
    cells.cols = dimLength(in, 0) / kCell * kCell;
    cells.cellRows = cells.rows / kCell;
    cells.cellCols = cells.cols / kCell;
    if (cells.cellRows == 0 || cells.cellCols == 0) return true;
    if (tamo::hasValidMagic(h) && h->orvptr && h->orvndim == 3 &&
        dimLength(h, 0) >= cells.cellCols && rowsOf(h) >= cells.cellRows && framesOf(h) >= kBins)
        return true;
    std::printf("HoGdescriptor: the descriptor image needs %d columns, %d rows and 9 frames\n",
                cells.cellCols, cells.cellRows);
    return false;
}

bool validInput(TAMOHDR *in) {
    return tamo::hasValidMagic(in) && in->orvptr && in->dtype != TAMO_STRUCT;
}

}  // namespace

int HoGdescriptor2D(TAMOHDR *I, TAMOHDR *H) {
    if (!validInput(I)) return TAMO_HOG_EFIT;
    Cells cells;
    if (!cellsOf(I, H, cells)) return TAMO_HOG_EFIT;
    if (cells.cellRows == 0 || cells.cellCols == 0) return 0;
    tamo::RecordPtr a = floatImage(cells.cols, cells.rows);
    tamo::RecordPtr gx = floatImage(cells.cols, cells.rows);
    tamo::RecordPtr gy = floatImage(cells.cols, cells.rows);
    if (!a || !gx || !gy) return TAMO_HOG_EFIT;
    cropFrame(I, 0, cells.rows, cells.cols, pixels<float>(a.get()));
    // On an image too small for the filter the derivatives stay 0.
    flDoG(a.get(), gx.get(), 1, 0, 1.0f);
    flDoG(a.get(), gy.get(), 1, 1, 1.0f);
    binDirections(pixels<float>(gx.get()), pixels<float>(gy.get()), cells.cols, cells.cellRows,
                  cells.cellCols, H);
    return 0;
}

int maxgrad(TAMOHDR *gx3, TAMOHDR *gy3, TAMOHDR *gx, TAMOHDR *gy) {
    TAMOHDR *all[] = {gx3, gy3, gx, gy};
    for (TAMOHDR *img : all)
        if (!isFloatImage(img)) return TAMO_HOG_EFIT;
    const int cols = dimLength(gx, 0), rows = rowsOf(gx);
    for (TAMOHDR *img : {gx3, gy3})
        if (dimLength(img, 0) != cols || rowsOf(img) != rows || framesOf(img) < 3)
            return TAMO_HOG_EFIT;
    if (dimLength(gy, 0) != cols || rowsOf(gy) != rows) return TAMO_HOG_EFIT;
    const long long n = static_cast<long long>(rows) * cols;
    const std::pair<TAMOHDR *, TAMOHDR *> pairs[] = {{gx3, gx}, {gy3, gy}};
    for (const auto &pair : pairs) {
        const float *f0 = pixels<float>(pair.first), *f1 = f0 + n, *f2 = f1 + n;
        float *dst = pixels<float>(pair.second);
        for (long long i = 0; i < n; ++i) dst[i] = ((f0[i] + f1[i]) + f2[i]) / 3;
    }
    return 0;
}

int HoGdescriptorCLR(TAMOHDR *I, TAMOHDR *H) {
    if (!validInput(I) || framesOf(I) < 3) return TAMO_HOG_EFIT;
    Cells cells;
    if (!cellsOf(I, H, cells)) return TAMO_HOG_EFIT;
    if (cells.cellRows == 0 || cells.cellCols == 0) return 0;
    const long long plane = static_cast<long long>(cells.rows) * cells.cols;
    tamo::RecordPtr a = floatImage(cells.cols, cells.rows);
    tamo::RecordPtr d = floatImage(cells.cols, cells.rows);
    tamo::RecordPtr gx3 = floatImage(cells.cols, cells.rows, 3);
    tamo::RecordPtr gy3 = floatImage(cells.cols, cells.rows, 3);
    tamo::RecordPtr gx = floatImage(cells.cols, cells.rows);
    tamo::RecordPtr gy = floatImage(cells.cols, cells.rows);
    if (!a || !d || !gx3 || !gy3 || !gx || !gy) return TAMO_HOG_EFIT;
    // Each frame is filtered on its own; a derivative the filter refuses
    // stays 0.
    auto derivative = [&](int direction, TAMOHDR *target, int frame) {
        std::memset(d->orvptr, 0, sizeof(float) * plane);
        flDoG(a.get(), d.get(), 1, direction, 1.0f);
        std::memcpy(pixels<float>(target) + frame * plane, d->orvptr, sizeof(float) * plane);
    };
    for (int frame = 0; frame < 3; ++frame) {
        cropFrame(I, frame, cells.rows, cells.cols, pixels<float>(a.get()));
        derivative(0, gx3.get(), frame);
        derivative(1, gy3.get(), frame);
    }
    maxgrad(gx3.get(), gy3.get(), gx.get(), gy.get());
    gx3.reset();
    gy3.reset();
    binDirections(pixels<float>(gx.get()), pixels<float>(gy.get()), cells.cols, cells.cellRows,
                  cells.cellCols, H);
    return 0;
}

int HoGdescriptor(TAMOHDR *I, TAMOHDR *H) {
    if (!tamo::hasValidMagic(I)) return 0;
    if (I->orvndim == 2) return HoGdescriptor2D(I, H);
    if (I->orvndim == 3 && framesOf(I) == 3) return HoGdescriptorCLR(I, H);
    return 0;
}

void qsort2(float (*items)[2], int lo, int hi) {
    int i = lo, j = hi;
    const float pivot = std::trunc(items[(lo + hi) / 2][1]);
    while (j >= i) {
        // Bounded scans: with fractional values the truncated pivot need not
        // stop them inside the range.
        while (i < hi && items[i][1] < pivot) ++i;
        while (j > lo && items[j][1] > pivot) --j;
        if (i <= j) {
            std::swap(items[i][0], items[j][0]);
            std::swap(items[i][1], items[j][1]);
            ++i;
            --j;
        }
    }
    if (lo < j) qsort2(items, lo, j);
    if (i < hi) qsort2(items, i, hi);
}

void drawline(TAMOHDR *P, int y0, int x0, float angle, float value, int L) {
    if (!tamo::hasValidMagic(P) || !P->orvptr) return;
    const int rows = rowsOf(P), cols = dimLength(P, 0);
    const float s = static_cast<float>(std::sin(angle));
    const float c = static_cast<float>(std::cos(angle));
    // Points outside the picture are left out rather than written elsewhere.
    auto plot = [&](int y, int x) {
        if (y >= 0 && y < rows && x >= 0 && x < cols) Tamofpp(P, y, x, value);
    };
    for (float h = static_cast<float>(-L); h <= static_cast<float>(L); h += 1.0f) {
        const int y = static_cast<int>(s * h + static_cast<float>(y0));
        const int x = static_cast<int>(c * h + static_cast<float>(x0));
        plot(y, x);
        plot(y + 1, x);
        plot(y, x + 1);
    }
}

int ShowHoG(TAMOHDR *H, TAMOHDR *P) {
    if (!tamo::hasValidMagic(H) || !H->orvptr || H->orvndim != 3 || framesOf(H) < kBins ||
        H->dtype == TAMO_STRUCT)
        return TAMO_HOG_EFIT;
    const int cellRows = rowsOf(H), cellCols = dimLength(H, 0);
    for (int i = 0; i < cellRows; ++i)
        for (int j = 0; j < cellCols; ++j) {
            float items[kBins][2];
            for (int k = 0; k < kBins; ++k) {
                items[k][0] = static_cast<float>(k);
                items[k][1] = static_cast<float>(Tamofgp3d(H, k, i, j));
            }
            qsort2(items, 0, kBins - 1);
            // Larger counts are drawn later, on top; each glyph lies along
            // the lower edge of its bin.
            for (const auto &item : items) {
                if (item[1] == 0.0f) continue;
                const float angle = static_cast<float>(item[0] * 40 / kDegrees);
                drawline(P, kGlyph * i + 4, kGlyph * j + 4, angle, item[1], 4);
            }
        }
    return 0;
}
