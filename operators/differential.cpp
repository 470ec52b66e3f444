// Differential measures built from Gaussian derivatives: isophote curvature,
// Laplacian, quadratic variation, gradient magnitude and direction, Harris
// response and the marking of local maxima.
//
// Each derivative is filtered once per call, frame by frame, and all the
// derivatives of a measure are filtered together row by row; each row is
// combined as soon as its derivatives are there, with the same float
// operations in the same order as the image-by-image expression, so the
// results are those of that expression without any full-size scratch image.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "operators_internal.h"
#include "gaussian_rows.h"
#include "parallel.h"
#include "tamoops.h"

namespace {

using tamo::dimLength;
using tamo::framesOf;
using tamo::isFloat;
using tamo::pixels;
using tamo::RecordPtr;
using tamo::rowsOf;
using tamo::writablePlanes;

// TAMO_OP_ETYPE unless both are "float"; TAMO_OP_ESIZE unless every
// dimension of in matches out.
int checkFloatPair(const TAMOHDR *in, const TAMOHDR *out) {
    if (!isFloat(in) || !isFloat(out) || !in->orvptr || !out->orvptr) return TAMO_OP_ETYPE;
    for (int k = 0; k < in->orvndim && k < TAMO_MAXDIM; ++k)
        if (dimLength(in, k) != dimLength(out, k)) return TAMO_OP_ESIZE;
    return 0;
}

// A zero-filled "float" scratch image with in's dimension list.
RecordPtr floatLike(TAMOHDR *in) {
    tamo::CArray<int> dims(Tamosiz(in));
    if (!dims) return nullptr;
    return RecordPtr(Tamocreate("float", dims.get(), 11, 0));
}

// Scratch images for a set of derivatives; false when memory ran out.
template <std::size_t N>
bool makeScratch(TAMOHDR *in, RecordPtr (&scratch)[N]) {
    for (auto &s : scratch) {
        s = floatLike(in);
        if (!s) return false;
    }
    return true;
}

const float *data(const RecordPtr &r) {
    return pixels<float>(r.get());
}

// ---- Fused combinations ------------------------------------------------------

// sqrt of non-negative values. The compiler keeps a scalar errno path around
// every sqrt call, so the vector form is spelt out.
void sqrtRow(const float *in, float *out, int n) {
    int i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= n; i += 4) _mm_storeu_ps(out + i, _mm_sqrt_ps(_mm_loadu_ps(in + i)));
#endif
    for (; i < n; ++i) out[i] = std::sqrt(in[i]);
}

TAMO_TARGET_CLONES void squaredNormRow(const float *p, const float *q, float *out, int n) {
    for (int i = 0; i < n; ++i) out[i] = p[i] * p[i] + q[i] * q[i];
}

// Curvature of one row; `root` holds sqrt(Lx^2 + Ly^2).
TAMO_TARGET_CLONES void curvatureRow(const float *lx, const float *ly, const float *lxx,
                                     const float *lyy, const float *lxy, const float *root,
                                     float *out, int n) {
    for (int i = 0; i < n; ++i) {
        const float a = ly[i] * ly[i];
        const float n1 = lxx[i] * a;
        const float n2 = ((lxy[i] * ly[i]) * lx[i]) * -2.0f;
        const float b = lx[i] * lx[i];
        const float n3 = lyy[i] * b;
        const float numerator = (n1 + n2) + n3;
        const float q = b + a;
        out[i] = numerator / (q * root[i] + 0.01f);
    }
}

TAMO_TARGET_CLONES void sumRow(const float *p, const float *q, float *out, int n) {
    for (int i = 0; i < n; ++i) out[i] = p[i] + q[i];
}

TAMO_TARGET_CLONES void quadraticVariationRow(const float *xx, const float *yy, const float *xy,
                                              float *out, int n, float s2) {
    for (int i = 0; i < n; ++i) out[i] = ((xx[i] * xx[i] + yy[i] * yy[i]) + xy[i] * xy[i]) * s2;
}

// Derivative rows of one output row, handed to
// `combine(rows, out, cols, scratch)` with rows[d] the row of derivative d
// and scratch room for two rows. Each lane (thread) has buffers of its own;
// combine must touch nothing but its arguments.
template <class Combine>
class CombiningSink : public tamo::DerivativeRowSink {
public:
    CombiningSink(TAMOHDR *out, size_t derivatives, Combine combine)
        : out_(out),
          rows_(rowsOf(out)),
          cols_(dimLength(out, 0)),
          derivatives_(derivatives),
          combine_(combine) {}
    int lanes(int wanted, const TAMOHDR *in) override {
        const int n = tamo::pixelsOverlap(in, out_) ? 1 : wanted;
        const size_t perLane = (derivatives_ + 2) * static_cast<size_t>(cols_);
        buffers_.assign(perLane * n, 0.0f);
        pointers_.resize(derivatives_ * n);
        for (int lane = 0; lane < n; ++lane)
            for (size_t d = 0; d < derivatives_; ++d)
                pointers_[lane * derivatives_ + d] = rowOf(d, lane);
        return n;
    }
    float *row(int d, int, int, int lane) override { return rowOf(d, lane); }
    void done(int f, int r, int lane) override {
        float *dst = pixels<float>(out_) + (static_cast<long long>(f) * rows_ + r) * cols_;
        combine_(pointers_.data() + lane * derivatives_, dst, cols_, rowOf(derivatives_, lane));
    }

private:
    float *rowOf(size_t d, int lane) {
        return buffers_.data() + ((derivatives_ + 2) * lane + d) * static_cast<size_t>(cols_);
    }
    TAMOHDR *out_;
    int rows_, cols_;
    size_t derivatives_;
    Combine combine_;
    std::vector<float> buffers_;
    std::vector<const float *> pointers_;
};

// Filters the derivatives a measure needs and combines them row by row into
// out (both "float", equal sizes). Each derivative is checked as flDoG
// checks it, in order, with flDoG's messages; `checked(d, status)` sees each
// status. Returns 0, or the first status with which flDoG refuses a
// derivative; then out is left as it was: a measure of derivatives that
// could not be computed would be a plausible-looking wrong result.
template <class Combine, class Checked>
int measure(TAMOHDR *in, TAMOHDR *out, float sigma,
            const std::vector<tamo::Derivative> &derivatives, Combine combine, Checked checked) {
    int failure = 0;
    for (size_t d = 0; d < derivatives.size(); ++d) {
        const int status =
            tamo::checkDoG(in, nullptr, derivatives[d].order, derivatives[d].direction, sigma);
        checked(d, status);
        if (!failure) failure = status;
    }
    if (failure) return failure;
    CombiningSink<Combine> sink(out, derivatives.size(), combine);
    tamo::filterDerivatives(in, derivatives, sigma, sink);
    return 0;
}

template <class Combine>
int measure(TAMOHDR *in, TAMOHDR *out, float sigma,
            const std::vector<tamo::Derivative> &derivatives, Combine combine) {
    return measure(in, out, sigma, derivatives, combine, [](size_t, int) {});
}

// Harris response of one row from the three-row column sums of gx^2, gy^2
// and gx*gy.
TAMO_TARGET_CLONES void harrisRow(const double *cxx, const double *cyy, const double *cxy, int cols,
                                  double *response) {
    for (int c = 1; c < cols - 1; ++c) {
        const double a = (cxx[c - 1] + cxx[c] + cxx[c + 1]) / 9.0;
        const double b = (cyy[c - 1] + cyy[c] + cyy[c + 1]) / 9.0;
        const double d = (cxy[c - 1] + cxy[c] + cxy[c + 1]) / 9.0;
        response[c] = b * a - d * d - 0.07 * (a + b) * (a + b);
    }
}

// Output large enough for in's columns and rows and `planes` planes.
bool holds(const TAMOHDR *out, const TAMOHDR *in, int planes) {
    return tamo::hasValidMagic(out) && out->orvptr && dimLength(out, 0) >= dimLength(in, 0) &&
           rowsOf(out) >= rowsOf(in) && writablePlanes(out) >= planes;
}

// Writes (frame, row, column) values: straight into a "float" array, through
// the pixel writer otherwise.
struct PixelWriter {
    TAMOHDR *img;
    bool direct;
    explicit PixelWriter(TAMOHDR *out) : img(out), direct(out->dtype == TAMO_32FLT) {}
    void put(int f, int r, int c, double v) {
        if (!direct) {
            Tamofpp3d(img, f, r, c, v);
            return;
        }
        const long long frameStride = img->orvndim >= 3 ? img->orvdln[2] : 0;
        pixels<float>(img)[f * frameStride + static_cast<long long>(r) * img->orvdln[1] + c] =
            static_cast<float>(v);
    }
};

}  // namespace

extern "C" {

int flcurv(TAMOHDR *in, TAMOHDR *out, float sigma) {
    if (int rc = checkFloatPair(in, out)) return rc;
    // Lx, Ly, Lxx, Lyy, Lxy, checked in the order the expression uses them.
    return measure(in, out, sigma, {{1, 1}, {2, 0}, {1, 0}, {2, 2}, {2, 1}},
                   [](const float *const *d, float *dst, int n, float *scratch) {
                       float *q = scratch, *root = scratch + n;
                       squaredNormRow(d[2], d[0], q, n);
                       sqrtRow(q, root, n);
                       curvatureRow(d[2], d[0], d[1], d[4], d[3], root, dst, n);
                   });
}

int flLaplace(TAMOHDR *in, TAMOHDR *out, float sigma) {
    if (int rc = checkFloatPair(in, out)) return rc;
    if (sigma < 0)
        return measure(in, out, -sigma, {{2, 0}, {2, 1}},
                       [](const float *const *d, float *dst, int n, float *) {
                           squaredNormRow(d[0], d[1], dst, n);
                       });
    return measure(
        in, out, sigma, {{2, 0}, {2, 1}},
        [](const float *const *d, float *dst, int n, float *) { sumRow(d[0], d[1], dst, n); });
}

int flqvar(TAMOHDR *in, TAMOHDR *out, float sigma) {
    if (int rc = checkFloatPair(in, out)) return rc;
    const float s2 = sigma * sigma;
    return measure(
        in, out, sigma, {{2, 0}, {2, 1}, {2, 2}},
        [s2](const float *const *d, float *dst, int n, float *) {
            quadraticVariationRow(d[0], d[1], d[2], dst, n, s2);
        },
        [](size_t d, int status) {
            if (status != 0 && d < 2)
                std::printf("non zero value returned from flDoG2,%d\n", int(d));
            if (status != 0 && d == 2) std::printf("value %d returned from flDoG2,2\n", status);
            std::fflush(stdout);
        });
}

int flgmag(TAMOHDR *in, TAMOHDR *out, float sigma) {
    if (int rc = checkFloatPair(in, out)) return rc;
    return measure(in, out, sigma, {{1, 0}, {1, 1}},
                   [](const float *const *d, float *dst, int n, float *) {
                       squaredNormRow(d[0], d[1], dst, n);
                       sqrtRow(dst, dst, n);
                   });
}

int flgdir(TAMOHDR *in, TAMOHDR *out, float sigma) {
    if (int rc = checkFloatPair(in, out)) return rc;
    return measure(in, out, sigma, {{1, 0}, {1, 1}},
                   [](const float *const *d, float *dst, int n, float *) {
                       for (int i = 0; i < n; ++i) dst[i] = std::atan2(d[1][i], d[0][i]);
                   });
}

int flHarris(TAMOHDR *in, TAMOHDR *out, float sigma) {
    if (!tamo::hasValidMagic(in) || !in->orvptr) return TAMO_OP_ESIZE;
    const int rows = rowsOf(in), cols = dimLength(in, 0), frames = framesOf(in);
    if (!holds(out, in, frames)) return TAMO_OP_ESIZE;
    RecordPtr g[2];  // Lx, Ly
    if (!makeScratch(in, g)) return TAMO_OP_ENOMEM;
    // Like the measures, Harris passes on the filter's refusal and leaves
    // out alone.
    if (int rc = flDoG(in, g[0].get(), 1, 0, sigma)) return rc;
    if (int rc = flDoG(in, g[1].get(), 1, 1, sigma)) return rc;
    if (rows < 3 || cols < 3) return 0;

    // Column sums over rows j-1..j+1, kept per row of the three below.
    std::vector<double> sq[3][3];  // [product][row in window]
    for (auto &product : sq)
        for (auto &row : product) row.resize(cols);
    std::vector<double> cxx(cols), cyy(cols), cxy(cols), response(cols);
    PixelWriter writer(out);
    const long long plane = static_cast<long long>(rows) * cols;
    for (int f = 0; f < frames; ++f) {
        const float *gx = data(g[0]) + f * plane, *gy = data(g[1]) + f * plane;
        auto square = [&](int r, int slot) {
            const float *x = gx + static_cast<long long>(r) * cols;
            const float *y = gy + static_cast<long long>(r) * cols;
            for (int c = 0; c < cols; ++c) {
                const double dx = x[c], dy = y[c];
                sq[0][slot][c] = dx * dx;
                sq[1][slot][c] = dy * dy;
                sq[2][slot][c] = dx * dy;
            }
        };
        square(0, 0);
        square(1, 1);
        for (int j = 1; j < rows - 1; ++j) {
            square(j + 1, (j + 1) % 3);
            for (int c = 0; c < cols; ++c) {
                cxx[c] = sq[0][0][c] + sq[0][1][c] + sq[0][2][c];
                cyy[c] = sq[1][0][c] + sq[1][1][c] + sq[1][2][c];
                cxy[c] = sq[2][0][c] + sq[2][1][c] + sq[2][2][c];
            }
            harrisRow(cxx.data(), cyy.data(), cxy.data(), cols, response.data());
            for (int c = 1; c < cols - 1; ++c) writer.put(f, j, c, response[c]);
        }
    }
    return 0;
}

int flmarkmax(TAMOHDR *in, TAMOHDR *out, float sigma) {
    if (!tamo::hasValidMagic(in) || !in->orvptr || (in->orvndim != 2 && in->orvndim != 3))
        return TAMO_OP_ESIZE;
    if (!holds(out, in, 3)) return TAMO_OP_ESIZE;
    const int rows = rowsOf(in), cols = dimLength(in, 0);
    const int frames = in->orvndim == 3 ? framesOf(in) : 1;
    int dims[4] = {in->orvndim, cols, rows, frames};
    RecordPtr scaled(Tamocreate("u8bit", dims, 11, 0));
    if (!scaled) return TAMO_OP_ENOMEM;
    float lo = 0.0f, hi = 0.0f;
    if (sigma != 0.0f) {
        RecordPtr blurred = floatLike(in);
        if (!blurred) return TAMO_OP_ENOMEM;
        if (int rc = flDoG(in, blurred.get(), 0, 0, sigma)) return rc;
        Tamovidscale(blurred.get(), scaled.get(), &lo, &hi, 0);
    } else {
        Tamovidscale(in, scaled.get(), &lo, &hi, 0);
    }
    if (in->orvndim == 2) {
        std::printf("starting..\n");
        std::fflush(stdout);
    }
    if (rows < 3 || cols < 3 || frames < 1) return 0;

    // Every frame's pass rewrites all interior pixels of the picture, so the
    // last frame's pass alone decides what is left.
    const long long plane = static_cast<long long>(rows) * cols;
    const uint8_t *s = pixels<uint8_t>(scaled.get());
    const uint8_t *test = s + (frames - 1) * plane;
    // Colour frames the picture copies; a frame the input lacks shows frame 0.
    const uint8_t *colour[3];
    for (int k = 0; k < 3; ++k) colour[k] = s + (k < frames ? k : 0) * plane;
    PixelWriter writer(out);
    for (int j = 1; j < rows - 1; ++j) {
        for (int c = 1; c < cols - 1; ++c) {
            const long long at = static_cast<long long>(j) * cols + c;
            const int v = test[at];
            bool maximum = true;
            for (int dj = -1; dj <= 1; ++dj)
                for (int dc = -1; dc <= 1; ++dc)
                    if ((dj || dc) && test[at + static_cast<long long>(dj) * cols + dc] >= v)
                        maximum = false;
            for (int k = 0; k < 3; ++k)
                writer.put(k, j, c, maximum ? (k == 0 ? 255.0 : 0.0) : colour[k][at]);
        }
    }
    return 0;
}

}  // extern "C"
