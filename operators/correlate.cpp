// Correlation of a template with every position of a larger image.
//
// At an output position (r, c) the window holds the image rows r-hr..r+hr-1
// and columns c-hc..c+hc-1 (hr, hc: half the template's rows and columns),
// matched with the template's elements from (0, 0). With b the template
// minus its mean and M the window sum divided by the template's pixel count,
//     S(r, c) = sum b * (A - M) = sum b * A - M * sum b,
// so the sliding product sum X = sum b * A is all that needs a correlation:
// M comes from a summed-area table. X is evaluated in double precision,
// directly for small windows and through tiled Fourier transforms otherwise
// (overlap-save: a tile of the image is transformed, multiplied by the
// conjugate spectrum of the template and transformed back; two real tiles
// share one complex transform as its real and imaginary parts).
//
// The transform here is its own rather than the library's Tamocfft2d: that
// one is single precision, square and a power of two on a side with fixed
// twiddle tables, as its results are defined; correlation needs double
// precision on rectangular tiles, so that sums over large windows keep the
// accuracy of the direct evaluation.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "operators_internal.h"
#include "parallel.h"
#include "tamoops.h"

namespace {

using tamo::dimLength;
using tamo::rowsOf;

using tamo::pixels;

using tamo::isFloatImage;

// ---- Transforms ---------------------------------------------------------------

// Radix-2 butterflies between two runs of a split-complex array (real and
// imaginary parts in separate arrays), so that the inner loops run over
// contiguous memory and vectorise. The "Rows" kernels pair two whole rows
// under one twiddle factor; the "Run" kernels pair two runs of one row with a
// twiddle factor per element.
TAMO_TARGET_CLONES void difRows(double *__restrict pr, double *__restrict pi, double *__restrict qr,
                                double *__restrict qi, int n, double wr, double wi) {
    for (int x = 0; x < n; ++x) {
        const double ar = pr[x], ai = pi[x], br = qr[x], bi = qi[x];
        pr[x] = ar + br;
        pi[x] = ai + bi;
        const double dr = ar - br, di = ai - bi;
        qr[x] = dr * wr - di * wi;
        qi[x] = dr * wi + di * wr;
    }
}

TAMO_TARGET_CLONES void ditRows(double *__restrict pr, double *__restrict pi, double *__restrict qr,
                                double *__restrict qi, int n, double wr, double wi) {
    for (int x = 0; x < n; ++x) {
        const double br = qr[x], bi = qi[x];
        const double tr = br * wr - bi * wi, ti = br * wi + bi * wr;
        const double ar = pr[x], ai = pi[x];
        pr[x] = ar + tr;
        pi[x] = ai + ti;
        qr[x] = ar - tr;
        qi[x] = ai - ti;
    }
}

TAMO_TARGET_CLONES void difRun(double *__restrict pr, double *__restrict pi, double *__restrict qr,
                               double *__restrict qi, int n, const double *__restrict wr,
                               const double *__restrict wi) {
    for (int x = 0; x < n; ++x) {
        const double ar = pr[x], ai = pi[x], br = qr[x], bi = qi[x];
        pr[x] = ar + br;
        pi[x] = ai + bi;
        const double dr = ar - br, di = ai - bi;
        qr[x] = dr * wr[x] - di * wi[x];
        qi[x] = dr * wi[x] + di * wr[x];
    }
}

TAMO_TARGET_CLONES void ditRun(double *__restrict pr, double *__restrict pi, double *__restrict qr,
                               double *__restrict qi, int n, const double *__restrict wr,
                               const double *__restrict wi) {
    for (int x = 0; x < n; ++x) {
        const double br = qr[x], bi = qi[x];
        const double tr = br * wr[x] + bi * wi[x], ti = bi * wr[x] - br * wi[x];
        const double ar = pr[x], ai = pi[x];
        pr[x] = ar + tr;
        pi[x] = ai + ti;
        qr[x] = ar - tr;
        qi[x] = ai - ti;
    }
}

// Pointwise product with a prepared spectrum k (the template's conjugate
// spectrum, already divided by the transform size).
TAMO_TARGET_CLONES void multiplySpectrum(double *__restrict zr, double *__restrict zi,
                                         const double *__restrict kr, const double *__restrict ki,
                                         long long n) {
    for (long long i = 0; i < n; ++i) {
        const double a = zr[i], b = zi[i];
        zr[i] = a * kr[i] - b * ki[i];
        zi[i] = a * ki[i] + b * kr[i];
    }
}

// Twiddle factors exp(-2 pi i k / (2h)), k < h, for every half-size h of a
// transform of up to maxN points, each stage's factors stored contiguously.
class Twiddles {
public:
    explicit Twiddles(int maxN) : re_(std::max(maxN, 2)), im_(std::max(maxN, 2)) {
        for (int h = 1; h < maxN; h *= 2)
            for (int k = 0; k < h; ++k) {
                const double angle = M_PI * k / h;
                re_[h + k] = std::cos(angle);
                im_[h + k] = -std::sin(angle);
            }
    }
    const double *re(int h) const { return re_.data() + h; }
    const double *im(int h) const { return im_.data() + h; }

private:
    std::vector<double> re_, im_;
};

// Two-dimensional transforms of a rows x cols split-complex array (powers of
// two) with row stride `stride`. The forward transform (decimation in
// frequency) leaves both axes in bit-reversed order; the inverse (decimation
// in time) takes that order and returns natural order, unscaled, so that
// pointwise products in between need no reordering.
class Fft2d {
public:
    Fft2d(int rows, int cols, int stride)
        : rows_(rows), cols_(cols), stride_(stride), tw_(std::max(rows, cols)) {}

    void forward(double *re, double *im) const {
        for (int y = 0; y < rows_; ++y) forwardRow(re + offset(y), im + offset(y));
        forwardColumns(re, im);
    }
    // Only the first `keepRows` rows of the result are computed.
    void inverse(double *re, double *im, int keepRows) const {
        inverseColumns(re, im);
        for (int y = 0; y < std::min(keepRows, rows_); ++y)
            inverseRow(re + offset(y), im + offset(y));
    }

private:
    static constexpr int kStrip = 32;  // columns transformed together

    long long offset(int y) const { return static_cast<long long>(y) * stride_; }

    void forwardRow(double *re, double *im) const {
        const int n = cols_;
        int h = n / 2;
        for (; h >= 4; h /= 2)
            for (int s = 0; s < n; s += 2 * h)
                difRun(re + s, im + s, re + s + h, im + s + h, h, tw_.re(h), tw_.im(h));
        if (n >= 4) {
            // The last two stages together: factors 1 and -i, then 1.
            for (int s = 0; s < n; s += 4) {
                double *r = re + s, *i = im + s;
                const double y0r = r[0] + r[2], y0i = i[0] + i[2];
                const double y2r = r[0] - r[2], y2i = i[0] - i[2];
                const double y1r = r[1] + r[3], y1i = i[1] + i[3];
                const double y3r = i[1] - i[3], y3i = r[3] - r[1];
                r[0] = y0r + y1r, i[0] = y0i + y1i;
                r[1] = y0r - y1r, i[1] = y0i - y1i;
                r[2] = y2r + y3r, i[2] = y2i + y3i;
                r[3] = y2r - y3r, i[3] = y2i - y3i;
            }
        } else if (n == 2) {
            const double ar = re[0], ai = im[0];
            re[0] = ar + re[1], im[0] = ai + im[1];
            re[1] = ar - re[1], im[1] = ai - im[1];
        }
    }

    void inverseRow(double *re, double *im) const {
        const int n = cols_;
        if (n >= 4) {
            // The first two stages together: factor 1, then 1 and +i.
            for (int s = 0; s < n; s += 4) {
                double *r = re + s, *i = im + s;
                const double y0r = r[0] + r[1], y0i = i[0] + i[1];
                const double y1r = r[0] - r[1], y1i = i[0] - i[1];
                const double y2r = r[2] + r[3], y2i = i[2] + i[3];
                const double y3r = r[2] - r[3], y3i = i[2] - i[3];
                const double tr = -y3i, ti = y3r;
                r[0] = y0r + y2r, i[0] = y0i + y2i;
                r[2] = y0r - y2r, i[2] = y0i - y2i;
                r[1] = y1r + tr, i[1] = y1i + ti;
                r[3] = y1r - tr, i[3] = y1i - ti;
            }
        } else if (n == 2) {
            const double ar = re[0], ai = im[0];
            re[0] = ar + re[1], im[0] = ai + im[1];
            re[1] = ar - re[1], im[1] = ai - im[1];
        }
        for (int h = 4; h < n; h *= 2)
            for (int s = 0; s < n; s += 2 * h)
                ditRun(re + s, im + s, re + s + h, im + s + h, h, tw_.re(h), tw_.im(h));
    }

    // Column transforms in strips of columns narrow enough to stay in cache
    // through all the stages.
    void forwardColumns(double *re, double *im) const {
        for (int x0 = 0; x0 < cols_; x0 += kStrip) {
            const int n = std::min(kStrip, cols_ - x0);
            for (int h = rows_ / 2; h >= 1; h /= 2)
                for (int s = 0; s < rows_; s += 2 * h)
                    for (int k = 0; k < h; ++k) {
                        const long long p = offset(s + k) + x0, q = offset(s + k + h) + x0;
                        difRows(re + p, im + p, re + q, im + q, n, tw_.re(h)[k], tw_.im(h)[k]);
                    }
        }
    }
    void inverseColumns(double *re, double *im) const {
        for (int x0 = 0; x0 < cols_; x0 += kStrip) {
            const int n = std::min(kStrip, cols_ - x0);
            for (int h = 1; h < rows_; h *= 2)
                for (int s = 0; s < rows_; s += 2 * h)
                    for (int k = 0; k < h; ++k) {
                        const long long p = offset(s + k) + x0, q = offset(s + k + h) + x0;
                        ditRows(re + p, im + p, re + q, im + q, n, tw_.re(h)[k], -tw_.im(h)[k]);
                    }
        }
    }

    int rows_, cols_, stride_;
    Twiddles tw_;
};

int log2Of(int n) {
    int k = 0;
    while ((1 << k) < n) ++k;
    return k;
}

// ---- The sliding product sum ------------------------------------------------------

// X(i, j) = sum over y < wr, x < wc of K(y, x) * (A(i + y, j + x) - shift)
// for i < outRows, j < outCols, handed to a sink row segment by row segment:
// sink(i, j0, n, values, back), the true sums being values + *back where
// back is not null. Segments are handed over from several threads at once
// (never the same segment twice), so the sink must only write its own
// segment. Progress counts output rows; false when the hook asked to stop.
struct Frame {
    const float *a;
    int rows, cols;
};

template <class Sink>
bool slidingSumDirect(const Frame &f, const std::vector<double> &k, int wr, int wc, int outRows,
                      int outCols, tamo::Progress &progress, int64_t base, Sink &&sink) {
    const int threads =
        tamo::threadsFor(static_cast<long long>(outRows) * outCols * wr * wc, outRows);
    std::vector<double> accs(static_cast<size_t>(outCols) * threads);
    return tamo::runPieces(outRows, threads, progress, base, 1,
                           [&](long long i0, long long i1, int t) {
                               double *acc = accs.data() + static_cast<size_t>(outCols) * t;
                               for (long long i = i0; i < i1; ++i) {
                                   std::fill(acc, acc + outCols, 0.0);
                                   for (int y = 0; y < wr; ++y) {
                                       const float *line = f.a + (i + y) * f.cols;
                                       for (int x = 0; x < wc; ++x) {
                                           const double w = k[static_cast<size_t>(y) * wc + x];
                                           const float *src = line + x;
                                           for (int j = 0; j < outCols; ++j)
                                               acc[j] += w * static_cast<double>(src[j]);
                                       }
                                   }
                                   sink(static_cast<int>(i), 0, outCols, acc, nullptr);
                               }
                           });
}

int nextPow2(int n) {
    int p = 1;
    while (p < n) p *= 2;
    return p;
}

struct TilePlan {
    int th = 0, tw = 0;  // transform size
    double cost = 0;
};

// The tile size with the least estimated work: tiles go in pairs, each pair
// costing a forward and an inverse transform of th * tw points, a little more
// once the arrays outgrow the cache.
TilePlan planTiles(int wr, int wc, int outRows, int outCols) {
    constexpr long long kMaxPoints = 1 << 18;
    constexpr long long kCachePoints = 1 << 15;
    TilePlan best;
    const int thMax = std::max(nextPow2(wr + 1), nextPow2(outRows + wr - 1));
    const int twMax = std::max(nextPow2(wc + 1), nextPow2(outCols + wc - 1));
    for (int th = nextPow2(wr + 1); th <= thMax; th *= 2)
        for (int tw = nextPow2(wc + 1); tw <= twMax; tw *= 2) {
            const long long points = static_cast<long long>(th) * tw;
            if (points > kMaxPoints && best.th) continue;
            const long long down = (outRows + (th - wr)) / (th - wr + 1);
            const long long across = (outCols + (tw - wc)) / (tw - wc + 1);
            const long long pairs = (down * across + 1) / 2;
            double cost = static_cast<double>(pairs) * points * (log2Of(th) + log2Of(tw) + 6);
            if (points > kCachePoints) cost *= 1.25;
            if (!best.th || cost < best.cost) best = {th, tw, cost};
        }
    return best;
}

template <class Sink>
bool slidingSumFft(const Frame &f, const std::vector<double> &k, int wr, int wc, int outRows,
                   int outCols, double shift, const double *back, tamo::Progress &progress,
                   int64_t base, Sink &&sink) {
    const TilePlan plan = planTiles(wr, wc, outRows, outCols);
    const int th = plan.th, tw = plan.tw;
    // A row stride off the power of two keeps the rows of a column strip
    // from competing for the same cache sets.
    const int stride = tw + 8;
    const long long size = static_cast<long long>(th) * stride;
    const Fft2d fft(th, tw, stride);
    std::vector<double> kr(size), ki(size);
    {
        std::vector<double> re(size, 0.0), im(size, 0.0);
        for (int y = 0; y < wr; ++y)
            for (int x = 0; x < wc; ++x)
                re[static_cast<long long>(y) * stride + x] = k[static_cast<size_t>(y) * wc + x];
        fft.forward(re.data(), im.data());
        const double scale = 1.0 / (static_cast<double>(th) * tw);
        for (long long i = 0; i < size; ++i) {
            kr[i] = re[i] * scale;
            ki[i] = -im[i] * scale;
        }
    }

    const int stepDown = th - wr + 1, stepAcross = tw - wc + 1;
    std::vector<std::pair<int, int>> tiles;
    for (int i0 = 0; i0 < outRows; i0 += stepDown)
        for (int j0 = 0; j0 < outCols; j0 += stepAcross) tiles.emplace_back(i0, j0);

    auto load = [&](double *dst, int i0, int j0) {
        const int rows = std::min(th, f.rows - i0), cols = std::min(tw, f.cols - j0);
        for (int y = 0; y < th; ++y) {
            double *line = dst + static_cast<long long>(y) * stride;
            if (y >= rows) {
                std::fill(line, line + tw, 0.0);
                continue;
            }
            const float *src = f.a + static_cast<long long>(i0 + y) * f.cols + j0;
            for (int x = 0; x < cols; ++x) line[x] = static_cast<double>(src[x]) - shift;
            std::fill(line + cols, line + tw, 0.0);
        }
    };
    auto emit = [&](const double *src, int i0, int j0) {
        const int rows = std::min(stepDown, outRows - i0);
        const int cols = std::min(stepAcross, outCols - j0);
        for (int i = 0; i < rows; ++i)
            sink(i0 + i, j0, cols, src + static_cast<long long>(i) * stride, back);
    };

    // Tiles go in fixed pairs, so the pairs can be shared out between
    // threads, each with transform buffers of its own.
    const long long pairs = static_cast<long long>((tiles.size() + 1) / 2);
    const int threads = tamo::threadsFor(pairs * size * 16, pairs);
    std::vector<double> buffers(static_cast<size_t>(2 * size) * threads);
    // Tiles run down the image in bands: the rows done are those above the
    // next pair's band.
    auto rowsDone = [&](long long pairsDone) -> int64_t {
        const size_t t = static_cast<size_t>(2 * pairsDone);
        return base + (t < tiles.size() ? tiles[t].first : outRows);
    };
    return tamo::runPiecesBy(
        pairs, threads, progress, rowsDone, [&](long long p0, long long p1, int thread) {
            double *re = buffers.data() + static_cast<size_t>(2 * size) * thread;
            double *im = re + size;
            for (long long p = p0; p < p1; ++p) {
                const size_t t = static_cast<size_t>(2 * p);
                const bool pair = t + 1 < tiles.size();
                load(re, tiles[t].first, tiles[t].second);
                if (pair)
                    load(im, tiles[t + 1].first, tiles[t + 1].second);
                else
                    std::fill(im, im + size, 0.0);
                fft.forward(re, im);
                multiplySpectrum(re, im, kr.data(), ki.data(), size);
                fft.inverse(re, im, stepDown);
                emit(re, tiles[t].first, tiles[t].second);
                if (pair) emit(im, tiles[t + 1].first, tiles[t + 1].second);
            }
        });
}

// Windows up to this many elements are summed directly; beyond, the
// transforms are cheaper.
constexpr int kDirectWindow = 36;

// The transforms work on the image minus `shift` (its mean), which keeps
// their rounding small against the result; the shift is added back.
template <class Sink>
bool slidingSum(const Frame &f, const std::vector<double> &k, int wr, int wc, int outRows,
                int outCols, double shift, tamo::Progress &progress, int64_t base, Sink &&sink) {
    if (outRows <= 0 || outCols <= 0) return true;
    if (wr == 0 || wc == 0) {
        std::vector<double> zeros(static_cast<size_t>(outCols), 0.0);
        for (int i = 0; i < outRows; ++i) sink(i, 0, outCols, zeros.data(), nullptr);
        return true;
    }
    if (wr * wc <= kDirectWindow)
        return slidingSumDirect(f, k, wr, wc, outRows, outCols, progress, base, sink);
    double sumK = 0.0;
    for (double v : k) sumK += v;
    const double back = shift * sumK;
    return slidingSumFft(f, k, wr, wc, outRows, outCols, shift, &back, progress, base, sink);
}

// ---- Local sums -------------------------------------------------------------------

// Summed-area table of one frame: sum of A over rows < y and columns < x.
class AreaSums {
public:
    explicit AreaSums(const Frame &f) : cols_(f.cols + 1), table_((f.rows + 1) * (f.cols + 1LL)) {
        for (int y = 0; y < f.rows; ++y) {
            const float *line = f.a + static_cast<long long>(y) * f.cols;
            const double *above = &table_[static_cast<size_t>(y) * cols_];
            double *here = &table_[static_cast<size_t>(y + 1) * cols_];
            double run = 0.0;
            for (int x = 0; x < f.cols; ++x) {
                run += line[x];
                here[x + 1] = above[x + 1] + run;
            }
        }
    }
    double total() const { return table_.back(); }
    // Row y of the table: sums over the rows above y.
    const double *row(int y) const { return &table_[static_cast<size_t>(y) * cols_]; }
    // Sum over rows y..y+h-1 and columns x..x+w-1.
    double window(int y, int x, int h, int w) const {
        const double *top = &table_[static_cast<size_t>(y) * cols_];
        const double *bottom = &table_[static_cast<size_t>(y + h) * cols_];
        return (bottom[x + w] - bottom[x]) - (top[x + w] - top[x]);
    }

private:
    long long cols_;
    std::vector<double> table_;
};

// Writes output values of one frame: floats directly, other types through
// the pixel writers (the three-dimensional one for colour results).
class OutputWriter {
public:
    OutputWriter(TAMOHDR *out, int frame, bool colour)
        : out_(out), frame_(frame), colour_(colour), direct_(out->dtype == TAMO_32FLT) {
        cols_ = dimLength(out, 0);
        base_ = pixels<float>(out) + static_cast<long long>(frame) * cols_ * rowsOf(out);
    }
    void putRun(int r, int c, int n, const float *v) const {
        if (direct_) {
            float *dst = base_ + static_cast<long long>(r) * cols_ + c;
            for (int t = 0; t < n; ++t) dst[t] = v[t];
        } else {
            for (int t = 0; t < n; ++t) put(r, c + t, v[t]);
        }
    }
    void put(int r, int c, double v) const {
        if (direct_)
            base_[static_cast<long long>(r) * cols_ + c] = static_cast<float>(v);
        else if (colour_)
            Tamofpp3d(out_, frame_, r, c, static_cast<float>(v));
        else
            Tamofpp(out_, r, c, static_cast<float>(v));
    }

private:
    TAMOHDR *out_;
    int frame_;
    bool colour_, direct_;
    int cols_;
    float *base_;
};

// The template's elements that take part (the window's wr x wc corner) minus
// the mean of the whole template, as single-precision differences.
std::vector<double> centredWindow(const float *b, int cols, int wr, int wc, float mean) {
    std::vector<double> k(static_cast<size_t>(wr) * wc);
    for (int y = 0; y < wr; ++y)
        for (int x = 0; x < wc; ++x)
            k[static_cast<size_t>(y) * wc + x] = static_cast<float>(b[y * cols + x] - mean);
    return k;
}

struct Geometry {
    int ra, ca, rb, cb;
    int hr, hc;            // half sizes of the template
    int outRows, outCols;  // valid positions, from (hr, hc)
    float area;            // template pixel count
};

Geometry geometryOf(TAMOHDR *a, TAMOHDR *b) {
    Geometry g;
    g.ra = rowsOf(a);
    g.ca = dimLength(a, 0);
    g.rb = rowsOf(b);
    g.cb = dimLength(b, 0);
    g.hr = g.rb / 2;
    g.hc = g.cb / 2;
    g.outRows = g.ra - 2 * g.hr;
    g.outCols = g.ca - 2 * g.hc;
    g.area = static_cast<float>(g.rb * g.cb);
    return g;
}

bool outputFits(TAMOHDR *out, const Geometry &g, int frames) {
    if (!tamo::hasValidMagic(out) || !out->orvptr) return false;
    if (dimLength(out, 0) < g.ca || rowsOf(out) < g.ra) return false;
    return frames == 1 || (out->orvndim == 3 && dimLength(out, 2) >= frames);
}

// Correlates frame `frame` of a with the same frame of b into `results`
// (outRows x outCols values, in the order the output takes them). Grey
// results (colour false) are normalised by the template's spread, colour
// results by `frameNorm`, computed here from the frame's deviations from its
// local means. Progress counts output rows from `base`; false when the hook
// asked to stop.
bool correlateFrame(TAMOHDR *a, TAMOHDR *b, const Geometry &g, int frame, bool colour,
                    float *results, tamo::Progress &progress, int64_t base) {
    const float *bp = pixels<float>(b) + static_cast<long long>(frame) * g.rb * g.cb;
    const Frame f{pixels<float>(a) + static_cast<long long>(frame) * g.ra * g.ca, g.ra, g.ca};

    const long long count = static_cast<long long>(g.rb) * g.cb;
    float total = 0.0f;
    for (long long i = 0; i < count; ++i) total += bp[i];
    const float mean = total / g.area;
    float spread = 0.0f;
    if (!colour) {
        float squares = 0.0f;
        for (long long i = 0; i < count; ++i) {
            const float d = bp[i] - mean;
            squares += d * d;
        }
        spread = static_cast<float>(std::sqrt(squares / g.area));
    }

    const int wr = 2 * g.hr, wc = 2 * g.hc;
    const std::vector<double> k = centredWindow(bp, g.cb, wr, wc, mean);
    double sumK = 0.0;
    for (double v : k) sumK += v;

    const AreaSums sums(f);
    auto localMean = [&](int i, int j) { return sums.window(i, j, wr, wc) / g.area; };

    // The grey result is divided by the template's row count twice, its pixel
    // count and its spread; a colour frame's by its total squared deviation
    // from the local means.
    const float divisor = static_cast<float>(g.rb) * g.area;
    double norm = 1.0;
    if (colour) {
        double squares = 0.0;
        for (int i = 0; i < g.outRows; ++i)
            for (int j = 0; j < g.outCols; ++j) {
                const double d =
                    f.a[static_cast<long long>(i + g.hr) * g.ca + j + g.hc] - localMean(i, j);
                squares += d * d;
            }
        norm = squares;
    }

    const double scaleK = sumK / g.area;
    const double shift = sums.total() / (static_cast<double>(g.ra) * g.ca);
    const int outCols = g.outCols;
    return slidingSum(f, k, wr, wc, g.outRows, g.outCols, shift, progress, base,
                      [&](int i, int j0, int n, const double *x, const double *back) {
                          const double *top = sums.row(i) + j0;
                          const double *bottom = sums.row(i + wr) + j0;
                          float *dst = results + static_cast<long long>(i) * outCols + j0;
                          for (int t = 0; t < n; ++t) {
                              const double sum = back ? x[t] + *back : x[t];
                              const double window =
                                  (bottom[t + wc] - bottom[t]) - (top[t + wc] - top[t]);
                              double v = sum - window * scaleK;
                              v = colour ? v / norm : (v / divisor) / spread;
                              dst[t] = static_cast<float>(v);
                          }
                      });
}

// Correlates `frames` frames (1: grey) and only then writes them into O, so
// that a run stopped through the progress hook leaves O untouched.
int correlateFrames(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out, const Geometry &g, int frames) {
    if (g.outRows <= 0 || g.outCols <= 0) return 0;
    const bool colour = frames > 1;
    const long long plane = static_cast<long long>(g.outRows) * g.outCols;
    std::vector<float> results(static_cast<size_t>(plane * frames));
    tamo::Progress progress(static_cast<int64_t>(frames) * g.outRows);
    for (int frame = 0; frame < frames; ++frame)
        if (!correlateFrame(a, b, g, frame, colour, results.data() + frame * plane, progress,
                            static_cast<int64_t>(frame) * g.outRows))
            return TAMO_CANCELLED;
    for (int frame = 0; frame < frames; ++frame) {
        const OutputWriter writer(out, frame, colour);
        for (int i = 0; i < g.outRows; ++i)
            writer.putRun(i + g.hr, g.hc, g.outCols,
                          results.data() + frame * plane + static_cast<long long>(i) * g.outCols);
    }
    return 0;
}

}  // namespace

int corr1frame(TAMOHDR *A, TAMOHDR *B, TAMOHDR *O) {
    if (!isFloatImage(A) || !isFloatImage(B)) {
        std::printf("corr1frame: input must be float\n");
        return TAMO_CORR_ETYPE;
    }
    const Geometry g = geometryOf(A, B);
    if (!outputFits(O, g, 1)) {
        std::printf("corr1frame: output image is smaller than the input\n");
        return TAMO_CORR_EOUT;
    }
    return correlateFrames(A, B, O, g, 1);
}

int flcorrelate(TAMOHDR *A, TAMOHDR *B, TAMOHDR *O) {
    if (!isFloatImage(A) || !isFloatImage(B)) {
        std::printf("flcorrelate: input must be float\n");
        return TAMO_CORR_ETYPE;
    }
    if (A->orvndim == 2) {
        const Geometry g = geometryOf(A, B);
        if (!outputFits(O, g, 1)) {
            std::printf("flcorrelate: output image is smaller than the input\n");
            return TAMO_CORR_EOUT;
        }
        return correlateFrames(A, B, O, g, 1);
    }
    if (A->orvndim != 3) return 0;
    if (dimLength(A, 2) < 3 || B->orvndim != 3 || dimLength(B, 2) < 3) {
        std::printf("flcorrelate: colour image and template need three frames each\n");
        return TAMO_CORR_EOUT;
    }
    const Geometry g = geometryOf(A, B);
    if (!outputFits(O, g, 3)) {
        std::printf("flcorrelate: output image is smaller than the input\n");
        return TAMO_CORR_EOUT;
    }
    return correlateFrames(A, B, O, g, 3);
}
