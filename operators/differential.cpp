// Differential measures built from Gaussian derivatives: isophote curvature,
// Laplacian, quadratic variation, gradient magnitude and direction, Harris
// response and the marking of local maxima.
//
// Each derivative is filtered once per call (flDoG handles the frames of a
// three-dimensional image one by one, as the measures require), and the
// image-by-image arithmetic that combines them runs as one pass per measure
// with the same float operations in the same order as the step-by-step
// expression, so the results are those of that expression.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "detail.h"
#include "tamoops.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TAMO_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TAMO_VECTOR_CLONES
#endif

namespace {

using tamo::pixels;
using tamo::RecordPtr;

int dimLength(const TAMOHDR *img, int k) {
    for (int i = 0; i < img->orvndim && i < TAMO_MAXDIM; ++i)
        if (img->orvdim[i].dnum == k + 1) return img->orvdim[i].dlen;
    return 0;
}
int rowsOf(const TAMOHDR *img) {
    return img->orvndim >= 2 ? dimLength(img, 1) : 1;
}
int framesOf(const TAMOHDR *img) {
    return img->orvndim >= 3 ? dimLength(img, 2) : 1;
}

bool isFloat(const TAMOHDR *img) {
    return tamo::hasValidMagic(img) && img->dtype == TAMO_32FLT;
}

// -1 unless both are "float"; -2 unless every dimension of in matches out.
int checkFloatPair(const TAMOHDR *in, const TAMOHDR *out) {
    if (!isFloat(in) || !isFloat(out) || !in->orvptr || !out->orvptr) return -1;
    for (int k = 0; k < in->orvndim && k < TAMO_MAXDIM; ++k)
        if (dimLength(in, k) != dimLength(out, k)) return -2;
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

TAMO_VECTOR_CLONES void curvatureKernel(const float *lx, const float *ly, const float *lxx,
                                        const float *lyy, const float *lxy, float *out,
                                        long long n) {
    for (long long i = 0; i < n; ++i) {
        const float a = ly[i] * ly[i];
        const float n1 = lxx[i] * a;
        const float n2 = ((lxy[i] * ly[i]) * lx[i]) * -2.0f;
        const float b = lx[i] * lx[i];
        const float n3 = lyy[i] * b;
        const float numerator = (n1 + n2) + n3;
        const float q = b + a;
        const float r = q * std::sqrt(q) + 0.01f;
        out[i] = numerator / r;
    }
}

TAMO_VECTOR_CLONES void sumKernel(const float *p, const float *q, float *out, long long n) {
    for (long long i = 0; i < n; ++i) out[i] = p[i] + q[i];
}

TAMO_VECTOR_CLONES void sumOfSquaresKernel(const float *p, const float *q, float *out,
                                           long long n) {
    for (long long i = 0; i < n; ++i) out[i] = p[i] * p[i] + q[i] * q[i];
}

TAMO_VECTOR_CLONES void magnitudeKernel(const float *p, const float *q, float *out, long long n) {
    for (long long i = 0; i < n; ++i) out[i] = std::sqrt(p[i] * p[i] + q[i] * q[i]);
}

TAMO_VECTOR_CLONES void quadraticVariationKernel(const float *xx, const float *yy, const float *xy,
                                                 float *out, long long n, float s2) {
    for (long long i = 0; i < n; ++i)
        out[i] = ((xx[i] * xx[i] + yy[i] * yy[i]) + xy[i] * xy[i]) * s2;
}

// Harris response of one row from the three-row column sums of gx^2, gy^2
// and gx*gy.
TAMO_VECTOR_CLONES void harrisRow(const double *cxx, const double *cyy, const double *cxy, int cols,
                                  double *response) {
    for (int c = 1; c < cols - 1; ++c) {
        const double a = (cxx[c - 1] + cxx[c] + cxx[c + 1]) / 9.0;
        const double b = (cyy[c - 1] + cyy[c] + cyy[c + 1]) / 9.0;
        const double d = (cxy[c - 1] + cxy[c] + cxy[c + 1]) / 9.0;
        response[c] = b * a - d * d - 0.07 * (a + b) * (a + b);
    }
}

// Planes the three-dimensional pixel writer can address in an image.
int writablePlanes(const TAMOHDR *img) {
    int channels = 0;
    tamo::visitScalar(img->dtype,
                      [&](auto, tamo::ElemLayout layout) { channels = layout.channels; });
    if (channels > 1) return channels;
    return channels == 0 ? 0 : framesOf(img);
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
    RecordPtr d[5];  // Lx, Ly, Lxx, Lyy, Lxy
    if (!makeScratch(in, d)) return -3;
    flDoG(in, d[1].get(), 1, 1, sigma);
    flDoG(in, d[2].get(), 2, 0, sigma);
    flDoG(in, d[0].get(), 1, 0, sigma);
    flDoG(in, d[4].get(), 2, 2, sigma);
    flDoG(in, d[3].get(), 2, 1, sigma);
    curvatureKernel(data(d[0]), data(d[1]), data(d[2]), data(d[3]), data(d[4]), pixels<float>(out),
                    tamo::elementCount(in));
    return 0;
}

int flLaplace(TAMOHDR *in, TAMOHDR *out, float sigma) {
    if (int rc = checkFloatPair(in, out)) return rc;
    RecordPtr d[2];  // Lxx, Lyy
    if (!makeScratch(in, d)) return -3;
    const bool squared = sigma < 0;
    const float s = squared ? -sigma : sigma;
    flDoG(in, d[0].get(), 2, 0, s);
    flDoG(in, d[1].get(), 2, 1, s);
    const long long n = tamo::elementCount(in);
    if (squared)
        sumOfSquaresKernel(data(d[0]), data(d[1]), pixels<float>(out), n);
    else
        sumKernel(data(d[0]), data(d[1]), pixels<float>(out), n);
    return 0;
}

int flqvar(TAMOHDR *in, TAMOHDR *out, float sigma) {
    if (int rc = checkFloatPair(in, out)) return rc;
    RecordPtr d[3];  // Lxx, Lyy, Lxy
    if (!makeScratch(in, d)) return -3;
    if (flDoG(in, d[0].get(), 2, 0, sigma) != 0)
        std::printf("non zero value returned from flDoG2,0\n");
    std::fflush(stdout);
    if (flDoG(in, d[1].get(), 2, 1, sigma) != 0)
        std::printf("non zero value returned from flDoG2,1\n");
    std::fflush(stdout);
    if (int rc = flDoG(in, d[2].get(), 2, 2, sigma))
        std::printf("value %d returned from flDoG2,2\n", rc);
    std::fflush(stdout);
    quadraticVariationKernel(data(d[0]), data(d[1]), data(d[2]), pixels<float>(out),
                             tamo::elementCount(in), sigma * sigma);
    return 0;
}

int flgmag(TAMOHDR *in, TAMOHDR *out, float sigma) {
    if (int rc = checkFloatPair(in, out)) return rc;
    RecordPtr d[2];  // Lx, Ly
    if (!makeScratch(in, d)) return -3;
    flDoG(in, d[0].get(), 1, 0, sigma);
    flDoG(in, d[1].get(), 1, 1, sigma);
    magnitudeKernel(data(d[0]), data(d[1]), pixels<float>(out), tamo::elementCount(in));
    return 0;
}

int flgdir(TAMOHDR *in, TAMOHDR *out, float sigma) {
    if (int rc = checkFloatPair(in, out)) return rc;
    RecordPtr d[2];  // Lx, Ly
    if (!makeScratch(in, d)) return -3;
    flDoG(in, d[0].get(), 1, 0, sigma);
    flDoG(in, d[1].get(), 1, 1, sigma);
    const float *lx = data(d[0]), *ly = data(d[1]);
    float *dst = pixels<float>(out);
    const long long n = tamo::elementCount(in);
    for (long long i = 0; i < n; ++i) dst[i] = std::atan2(ly[i], lx[i]);
    return 0;
}

int flHarris(TAMOHDR *in, TAMOHDR *out, float sigma) {
    if (!tamo::hasValidMagic(in) || !in->orvptr) return -2;
    const int rows = rowsOf(in), cols = dimLength(in, 0), frames = framesOf(in);
    if (!holds(out, in, frames)) return -2;
    RecordPtr g[2];  // Lx, Ly
    if (!makeScratch(in, g)) return -3;
    flDoG(in, g[0].get(), 1, 0, sigma);
    flDoG(in, g[1].get(), 1, 1, sigma);
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
        return -2;
    if (!holds(out, in, 3)) return -2;
    const int rows = rowsOf(in), cols = dimLength(in, 0);
    const int frames = in->orvndim == 3 ? framesOf(in) : 1;
    int dims[4] = {in->orvndim, cols, rows, frames};
    RecordPtr scaled(Tamocreate("u8bit", dims, 11, 0));
    if (!scaled) return -3;
    float lo = 0.0f, hi = 0.0f;
    if (sigma != 0.0f) {
        RecordPtr blurred = floatLike(in);
        if (!blurred) return -3;
        flDoG(in, blurred.get(), 0, 0, sigma);
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
