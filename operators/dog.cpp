// Gaussian and Gaussian-derivative filtering (flDoG) and edge-replicating
// padding (padme1).
//
// Every kernel but the squared Laplacian of Gaussian is a product of a
// function of x and a function of y (the Laplacian a sum of two such
// products), so it is applied as a row pass followed by a column pass:
// 2(2K+1) multiply-adds per pixel instead of (2K+1)^2. The row pass feeds a
// ring of 2K+1 filtered rows that the column pass reads, so the intermediate
// image never leaves the cache. Only the squared Laplacian, which does not
// factor, is summed directly over a padded copy of the frame.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "operators_internal.h"
#include "gaussian_rows.h"
#include "parallel.h"
#include "tamoops.h"

namespace {

using tamo::dimLength;
using tamo::framesOf;
using tamo::pixels;
using tamo::rowsOf;
using tamo::writablePlanes;

constexpr double kTwoPi = 6.283185307179586;

// One sampled factor of a separable kernel: taps for offsets -K..K.
struct Factor {
    std::vector<float> taps;
    enum Symmetry { Even, Odd, None } symmetry = None;

    void classify() {
        const int k = static_cast<int>(taps.size()) / 2;
        bool even = true, odd = taps[k] == 0.0f;
        for (int m = 1; m <= k; ++m) {
            even = even && taps[k + m] == taps[k - m];
            odd = odd && taps[k + m] == -taps[k - m];
        }
        symmetry = even ? Even : (odd ? Odd : None);
    }
};

// A kernel as a sum of (row factor) x (column factor) products.
struct SeparableKernel {
    struct Term {
        Factor row, col;
    };
    std::vector<Term> terms;
};

// Variance powers as the kernel formulas use them: s2 is formed in single
// precision, the higher powers in double.
struct Powers {
    double s2, s4, s6;
    explicit Powers(float s) {
        s2 = static_cast<float>(s * s);
        s4 = s2 * s2;
        s6 = s4 * s2;
    }
};

// f(t) * exp(-t^2 / (2 s2)) sampled at t = -K..K, each value formed in
// double and stored as a float.
template <class F>
Factor sample(int k, const Powers &p, F &&f) {
    Factor factor;
    factor.taps.resize(2 * k + 1);
    for (int t = -k; t <= k; ++t) {
        double td = t;
        factor.taps[t + k] = static_cast<float>(f(td) * std::exp(-(td * td) / (2.0 * p.s2)));
    }
    factor.classify();
    return factor;
}

// The one-dimensional factor carrying the derivative of the given order
// along its axis, with the kernel's constant 1/(2 pi s^n) folded in.
Factor derivativeFactor(int order, int k, const Powers &p) {
    switch (order) {
        case 0:
            return sample(k, p, [&](double) { return 1.0 / (kTwoPi * p.s2); });
        case 1:
            return sample(k, p, [&](double t) { return -t / (kTwoPi * p.s4); });
        case 2:
            return sample(
                k, p, [&](double t) { return t * t / (kTwoPi * p.s6) - 1.0 / (kTwoPi * p.s4); });
        default:
            return sample(k, p, [&](double t) {
                return 3.0 * t / (kTwoPi * p.s6) - t * t * t / (kTwoPi * p.s6 * p.s2);
            });
    }
}

Factor gaussianFactor(int k, const Powers &p) {
    return sample(k, p, [](double) { return 1.0; });
}

SeparableKernel separableKernel(int order, int direction, int k, const Powers &p) {
    SeparableKernel kernel;
    switch (direction) {
        case 0:
            kernel.terms.push_back({derivativeFactor(order, k, p), gaussianFactor(k, p)});
            break;
        case 1:
            // Order 0 along y is the same blur as along x.
            kernel.terms.push_back({gaussianFactor(k, p), derivativeFactor(order, k, p)});
            break;
        case 2:
            kernel.terms.push_back({sample(k, p, [](double t) { return t; }),
                                    sample(k, p, [&](double t) { return t / (kTwoPi * p.s6); })});
            break;
        default: {
            // Laplacian of Gaussian: d2/dy2 + d2/dx2.
            Factor second = sample(
                k, p, [&](double t) { return t * t / (kTwoPi * p.s6) - 1.0 / (kTwoPi * p.s4); });
            kernel.terms.push_back({gaussianFactor(k, p), second});
            kernel.terms.push_back({second, gaussianFactor(k, p)});
            break;
        }
    }
    return kernel;
}

// The squared Laplacian-of-Gaussian kernel, rows y = -K..K, columns x.
std::vector<float> squaredLogKernel(int k, const Powers &p) {
    std::vector<float> kernel;
    kernel.reserve(static_cast<size_t>(2 * k + 1) * (2 * k + 1));
    for (int y = -k; y <= k; ++y) {
        for (int x = -k; x <= k; ++x) {
            double g = std::exp(-static_cast<double>(x * x + y * y) / (2.0 * p.s2));
            double v = ((y * y / (kTwoPi * p.s6) - 1.0 / (kTwoPi * p.s4)) +
                        (x * x / (kTwoPi * p.s6) - 1.0 / (kTwoPi * p.s4))) *
                       g;
            kernel.push_back(static_cast<float>(v * v));
        }
    }
    return kernel;
}

// The smallest |sigma| other than 0 that flDoG accepts.
constexpr float kSmallestSigma = 0.01f;

// K = trunc(3s) + 1, held below a bound no image can reach.
int kernelRadius(float s) {
    const double kd = std::trunc(3.0 * static_cast<double>(s)) + 1.0;
    return kd > 1e8 ? 100000000 : static_cast<int>(kd);
}

// ---- Passes -------------------------------------------------------------------

// out[c] = sum_j taps[j] * padded[c + j] over one padded row. With K known
// at compile time the tap loop unrolls and each output stays in a register.
template <int K, Factor::Symmetry S>
TAMO_TARGET_CLONES void correlateRowFixed(const float *__restrict padded, int cols,
                                          const float *__restrict taps, float *__restrict out) {
    float t[2 * K + 1];
    for (int j = 0; j <= 2 * K; ++j) t[j] = taps[j];
    for (int c = 0; c < cols; ++c) {
        const float *p = padded + K + c;
        float sum = S == Factor::Even ? t[K] * p[0] : 0.0f;
#pragma GCC unroll 16
        for (int m = 1; m <= K; ++m) {
            if constexpr (S == Factor::Even)
                sum += t[K + m] * (p[m] + p[-m]);
            else
                sum += t[K + m] * (p[m] - p[-m]);
        }
        out[c] = sum;
    }
}

// out[c] (+)= sum_j taps[j] * rows[j][c], rows being the 2K+1 filtered rows
// around the output row.
template <int K, Factor::Symmetry S>
TAMO_TARGET_CLONES void correlateColumnFixed(const float *const *rowPointers, int cols,
                                             const float *__restrict taps, float *__restrict out,
                                             bool accumulate) {
    // Local copies: the compiler then knows no store into `out` changes them.
    const float *__restrict r[2 * K + 1];
    float t[2 * K + 1];
    for (int j = 0; j <= 2 * K; ++j) {
        r[j] = rowPointers[j];
        t[j] = taps[j];
    }
    auto sumAt = [&](int c) {
        float sum = S == Factor::Even ? t[K] * r[K][c] : 0.0f;
#pragma GCC unroll 16
        for (int m = 1; m <= K; ++m) {
            if constexpr (S == Factor::Even)
                sum += t[K + m] * (r[K + m][c] + r[K - m][c]);
            else
                sum += t[K + m] * (r[K + m][c] - r[K - m][c]);
        }
        return sum;
    };
    if (accumulate)
        for (int c = 0; c < cols; ++c) out[c] += sumAt(c);
    else
        for (int c = 0; c < cols; ++c) out[c] = sumAt(c);
}

// Any K and any kernel: one tap at a time over the whole row.
TAMO_TARGET_CLONES void correlateRowAny(const float *padded, int cols, const Factor &f,
                                        float *out) {
    const int k = static_cast<int>(f.taps.size()) / 2;
    const float *t = f.taps.data();
    const float *centre = padded + k;
    if (f.symmetry == Factor::None) {
        for (int c = 0; c < cols; ++c) out[c] = 0.0f;
        for (int j = 0; j <= 2 * k; ++j) {
            const float w = t[j];
            const float *src = padded + j;
            for (int c = 0; c < cols; ++c) out[c] += w * src[c];
        }
        return;
    }
    const bool even = f.symmetry == Factor::Even;
    for (int c = 0; c < cols; ++c) out[c] = even ? t[k] * centre[c] : 0.0f;
    for (int m = 1; m <= k; ++m) {
        const float w = t[k + m];
        const float *hi = centre + m, *lo = centre - m;
        if (even)
            for (int c = 0; c < cols; ++c) out[c] += w * (hi[c] + lo[c]);
        else
            for (int c = 0; c < cols; ++c) out[c] += w * (hi[c] - lo[c]);
    }
}

TAMO_TARGET_CLONES void correlateColumnAny(const float *const *rows, int cols, const Factor &f,
                                           float *out, bool accumulate) {
    const int k = static_cast<int>(f.taps.size()) / 2;
    const float *t = f.taps.data();
    if (!accumulate)
        for (int c = 0; c < cols; ++c) out[c] = 0.0f;
    if (f.symmetry == Factor::None) {
        for (int j = 0; j <= 2 * k; ++j) {
            const float w = t[j];
            const float *src = rows[j];
            for (int c = 0; c < cols; ++c) out[c] += w * src[c];
        }
        return;
    }
    const bool even = f.symmetry == Factor::Even;
    if (even)
        for (int c = 0; c < cols; ++c) out[c] += t[k] * rows[k][c];
    for (int m = 1; m <= k; ++m) {
        const float w = t[k + m];
        const float *hi = rows[k + m], *lo = rows[k - m];
        if (even)
            for (int c = 0; c < cols; ++c) out[c] += w * (hi[c] + lo[c]);
        else
            for (int c = 0; c < cols; ++c) out[c] += w * (hi[c] - lo[c]);
    }
}

using RowPass = void (*)(const float *, int, const float *, float *);
using ColumnPass = void (*)(const float *const *, int, const float *, float *, bool);

// The unrolled passes cover K up to 6 (sigma below 2); larger kernels, whose
// taps outnumber the registers, take the one-tap-at-a-time loops.
constexpr int kMaxFixedK = 6;

template <int... Ks>
RowPass rowPassFor(int k, Factor::Symmetry s, std::integer_sequence<int, Ks...>) {
    RowPass pass = nullptr;
    ((k == Ks ? (pass = s == Factor::Even ? correlateRowFixed<Ks, Factor::Even>
                                          : correlateRowFixed<Ks, Factor::Odd>)
              : pass),
     ...);
    return pass;
}

template <int... Ks>
ColumnPass columnPassFor(int k, Factor::Symmetry s, std::integer_sequence<int, Ks...>) {
    ColumnPass pass = nullptr;
    ((k == Ks ? (pass = s == Factor::Even ? correlateColumnFixed<Ks, Factor::Even>
                                          : correlateColumnFixed<Ks, Factor::Odd>)
              : pass),
     ...);
    return pass;
}

void correlateRow(const float *padded, int cols, const Factor &f, float *out) {
    const int k = static_cast<int>(f.taps.size()) / 2;
    RowPass pass = nullptr;
    if (f.symmetry != Factor::None && k >= 1 && k <= kMaxFixedK)
        pass = rowPassFor(k, f.symmetry, std::make_integer_sequence<int, kMaxFixedK + 1>{});
    if (pass)
        pass(padded, cols, f.taps.data(), out);
    else
        correlateRowAny(padded, cols, f, out);
}

void correlateColumn(const float *const *rows, int cols, const Factor &f, float *out,
                     bool accumulate) {
    const int k = static_cast<int>(f.taps.size()) / 2;
    ColumnPass pass = nullptr;
    if (f.symmetry != Factor::None && k >= 1 && k <= kMaxFixedK)
        pass = columnPassFor(k, f.symmetry, std::make_integer_sequence<int, kMaxFixedK + 1>{});
    if (pass)
        pass(rows, cols, f.taps.data(), out, accumulate);
    else
        correlateColumnAny(rows, cols, f, out, accumulate);
}

// Direct sum over a padded frame, pixel sums taken in kernel order (rows y,
// then columns x) so each pixel sees the same rounding as a plain loop.
TAMO_TARGET_CLONES void correlateDirectRow(const float *padded, int paddedCols, int cols, int k,
                                           const float *kernel, float *out) {
    for (int c = 0; c < cols; ++c) out[c] = 0.0f;
    const int width = 2 * k + 1;
    for (int y = 0; y < width; ++y) {
        const float *row = padded + static_cast<long long>(y) * paddedCols;
        for (int x = 0; x < width; ++x) {
            const float w = kernel[y * width + x];
            const float *src = row + x;
            for (int c = 0; c < cols; ++c) out[c] += src[c] * w;
        }
    }
}

// Where flDoG's rows go: straight into a "float" output, or through the
// pixel writer for any other type.
// Only a "float" output that does not share the input's pixels can take
// rows from several threads.
class FrameWriter : public tamo::DerivativeRowSink {
public:
    FrameWriter(TAMOHDR *out, int cols)
        : out_(out), cols_(cols), direct_(out->dtype == TAMO_32FLT) {
        if (!direct_) scratch_.resize(cols);
    }
    int lanes(int wanted, const TAMOHDR *in) override {
        return direct_ && !tamo::pixelsOverlap(in, out_) ? wanted : 1;
    }
    float *row(int, int f, int r, int) override {
        if (!direct_) return scratch_.data();
        const long long rowStride = out_->orvdln[1];
        const long long frameStride = out_->orvndim >= 3 ? out_->orvdln[2] : 0;
        return pixels<float>(out_) + f * frameStride + r * rowStride;
    }
    void done(int f, int r, int) override {
        if (direct_) return;
        for (int c = 0; c < cols_; ++c) Tamofpp3d(out_, f, r, c, scratch_[c]);
    }

private:
    TAMOHDR *out_;
    int cols_;
    bool direct_;
    std::vector<float> scratch_;
};

// Several separable kernels over one frame. Row factors shared between
// kernels (the Gaussian, above all) are applied once per source row; each
// distinct row factor keeps a ring of the last 2K+1 filtered rows, which the
// column passes read while the rows are still in cache. Bands of output rows
// can be filtered on different threads, each with a workspace of its own:
// a band starts by filtering the K source rows above it, so every output row
// sees the same values whichever band it falls in.
class SeparableFilter {
public:
    SeparableFilter(int cols, int k, const std::vector<SeparableKernel> &kernels, int lanes)
        : cols_(cols), k_(k), width_(2 * k + 1), kernels_(kernels), ringOf_(kernels.size()) {
        for (size_t d = 0; d < kernels.size(); ++d) {
            for (const auto &term : kernels[d].terms) {
                size_t i = 0;
                while (i < rowFactors_.size() && rowFactors_[i]->taps != term.row.taps) ++i;
                if (i == rowFactors_.size()) rowFactors_.push_back(&term.row);
                ringOf_[d].push_back(static_cast<int>(i));
            }
        }
        // Ring rows are one cache line longer than a multiple of 16 floats,
        // so the 2K+1 rows read together fall into different cache sets.
        stride_ = (static_cast<size_t>(cols) + 15) / 16 * 16 + 16;
        for (int lane = 0; lane < lanes; ++lane) {
            Workspace w;
            w.padded.resize(static_cast<size_t>(cols) + 2 * k);
            w.ring.assign(rowFactors_.size(),
                          std::vector<float>(static_cast<size_t>(width_) * stride_));
            w.window.resize(width_);
            work_.push_back(std::move(w));
        }
    }

    // Output rows r0..r1-1 of frame f on lane `lane`.
    void rows(const float *frame, int rows, int r0, int r1, tamo::DerivativeRowSink &sink, int f,
              int lane) {
        const int cols = cols_, k = k_, width = width_;
        Workspace &w = work_[static_cast<size_t>(lane)];
        int next = std::max(0, r0 - k);  // next source row to filter into the rings
        for (int r = r0; r < r1; ++r) {
            for (const int last = std::min(r + k, rows - 1); next <= last; ++next) {
                const float *src = frame + static_cast<long long>(next) * cols;
                std::fill(w.padded.begin(), w.padded.begin() + k, src[0]);
                std::copy(src, src + cols, w.padded.begin() + k);
                std::fill(w.padded.begin() + k + cols, w.padded.end(), src[cols - 1]);
                for (size_t i = 0; i < rowFactors_.size(); ++i)
                    correlateRow(w.padded.data(), cols, *rowFactors_[i],
                                 w.ring[i].data() + static_cast<size_t>(next % width) * stride_);
            }
            for (size_t d = 0; d < kernels_.size(); ++d) {
                float *dst = sink.row(static_cast<int>(d), f, r, lane);
                for (size_t t = 0; t < kernels_[d].terms.size(); ++t) {
                    const std::vector<float> &ringRows = w.ring[ringOf_[d][t]];
                    for (int j = 0; j < width; ++j) {
                        const int src = std::clamp(r + j - k, 0, rows - 1);
                        w.window[j] = ringRows.data() + static_cast<size_t>(src % width) * stride_;
                    }
                    correlateColumn(w.window.data(), cols, kernels_[d].terms[t].col, dst, t > 0);
                }
            }
            sink.done(f, r, lane);
        }
    }

private:
    struct Workspace {
        std::vector<float> padded;
        std::vector<std::vector<float>> ring;
        std::vector<const float *> window;
    };
    int cols_, k_, width_;
    const std::vector<SeparableKernel> &kernels_;
    std::vector<const Factor *> rowFactors_;
    std::vector<std::vector<int>> ringOf_;  // [kernel][term] -> ring index
    size_t stride_ = 0;
    std::vector<Workspace> work_;
};

void filterDirect(TAMOHDR *in, int f, int rows, int cols, int k, const std::vector<float> &kernel,
                  FrameWriter &writer) {
    tamo::RecordPtr padded(padme1(in, k, k, f));
    if (!padded) return;
    const int paddedCols = cols + 2 * k;
    const int lanes = writer.lanes(
        tamo::threadsFor(static_cast<long long>(rows) * cols * (2 * k + 1) * (2 * k + 1), rows),
        in);
    tamo::splitRange(0, rows, lanes, [&](long long r0, long long r1, int lane) {
        for (long long r = r0; r < r1; ++r) {
            float *dst = writer.row(0, f, static_cast<int>(r), lane);
            correlateDirectRow(pixels<float>(padded.get()) + r * paddedCols, paddedCols, cols, k,
                               kernel.data(), dst);
            writer.done(f, static_cast<int>(r), lane);
        }
    });
}

}  // namespace

extern "C" {

TAMOHDR *padme1(TAMOHDR *in, int pr, int pc, int frame) {
    tamo::DepthGuard depth;
    if (!tamo::hasValidMagic(in) || in->dtype != TAMO_32FLT || !in->orvptr) {
        Tamoerr = TAMO_ETYPE;
        Tamodie("padme1: input image must be a float image");
        return nullptr;
    }
    const int rows = rowsOf(in), cols = dimLength(in, 0);
    if (pr < 0 || pc < 0 || frame < 0 || frame >= framesOf(in) || rows < 1 || cols < 1) {
        Tamoerr = TAMO_EBOUNDS;
        Tamodie("padme1: padding or frame outside the image");
        return nullptr;
    }
    // Sizes from the arguments are formed in 64 bits: near 2^31 they would
    // wrap in an int and the copies below would run outside the record.
    const long long wideCols = cols + 2LL * pc, wideRows = rows + 2LL * pr;
    if (wideCols > INT_MAX || wideRows > INT_MAX ||
        wideCols * wideRows > static_cast<long long>(INT_MAX / sizeof(float))) {
        Tamoerr = 512;
        Tamodie("padme1: padded image too large for an image record");
        return nullptr;
    }
    const int paddedCols = static_cast<int>(wideCols), paddedRows = static_cast<int>(wideRows);
    int dims[3] = {2, paddedCols, paddedRows};
    TAMOHDR *padded = Tamocreate("float", dims, 11, 0);
    if (!padded) return nullptr;
    const float *src = pixels<float>(in) + static_cast<long long>(frame) * rows * cols;
    float *dst = pixels<float>(padded);
    for (int i = 0; i < rows; ++i) {
        const float *s = src + static_cast<long long>(i) * cols;
        float *d = dst + static_cast<long long>(i + pr) * paddedCols;
        std::fill(d, d + pc, s[0]);
        std::memcpy(d + pc, s, static_cast<size_t>(cols) * sizeof(float));
        std::fill(d + pc + cols, d + paddedCols, s[cols - 1]);
    }
    const float *top = dst + static_cast<long long>(pr) * paddedCols;
    const float *bottom = dst + static_cast<long long>(rows + pr - 1) * paddedCols;
    for (int i = 0; i < pr; ++i) {
        std::memcpy(dst + static_cast<long long>(i) * paddedCols, top,
                    static_cast<size_t>(paddedCols) * sizeof(float));
        std::memcpy(dst + static_cast<long long>(rows + pr + i) * paddedCols, bottom,
                    static_cast<size_t>(paddedCols) * sizeof(float));
    }
    return padded;
}

int flDoG(TAMOHDR *in, TAMOHDR *out, int order, int direction, float sigma) {
    if (int rc = tamo::checkDoG(in, out, order, direction, sigma)) return rc;
    const int rows = rowsOf(in), cols = dimLength(in, 0), frames = framesOf(in);
    if (cols < 1) return 0;
    FrameWriter writer(out, cols);
    const float s = std::fabs(sigma);
    if (s == 0.0f) {
        // The limit of a vanishing Gaussian: the image itself.
        const long long plane = static_cast<long long>(rows) * cols;
        for (int f = 0; f < frames; ++f) {
            for (int r = 0; r < rows; ++r) {
                const float *src = pixels<float>(in) + f * plane + static_cast<long long>(r) * cols;
                std::memmove(writer.row(0, f, r, 0), src,
                             static_cast<size_t>(cols) * sizeof(float));
                writer.done(f, r, 0);
            }
        }
        return 0;
    }
    if (direction == 3 && sigma < 0) {
        const int k = kernelRadius(s);
        const std::vector<float> kernel = squaredLogKernel(k, Powers(s));
        for (int f = 0; f < frames; ++f) filterDirect(in, f, rows, cols, k, kernel, writer);
        return 0;
    }
    tamo::filterDerivatives(in, {{order, direction}}, sigma, writer);
    return 0;
}

}  // extern "C"

namespace tamo {

int checkDoG(TAMOHDR *in, TAMOHDR *out, int order, int direction, float sigma) {
    if (order > 3) {
        std::printf("flDoG: cannot take derivatives higher than third order. Sorry.\n");
        return TAMO_DOG_EORDER;
    }
    if (direction == 2 && (order == 0 || order == 1)) {
        std::printf("flDoG: cannot compute first deriv wrt x and y. Exiting.\n");
        return TAMO_DOG_EMIXED1;
    }
    if (direction == 2 && order == 3) {
        std::printf("flDoG: cannot compute third deriv wrt xy. Exiting.\n");
        std::fflush(stdout);
        tamo::endProcess(TAMO_DOG_EMIXED3);
        return TAMO_DOG_EMIXED3;
    }
    // Order and direction must name a kernel: orders 0..3 along x or y, order
    // 2 mixed, order 0 Laplacian. A negative order or direction is refused
    // even where direction*4 + order would land on a valid pair.
    if (order < 0 || direction < 0 || direction > 3 || (direction == 3 && order != 0)) {
        std::printf("Something wrong with arguments to function flDoG. Exiting.\n");
        std::fflush(stdout);
        tamo::endProcess(TAMO_DOG_EPAIR);
        return TAMO_DOG_EPAIR;
    }
    if (std::isnan(sigma)) {
        std::printf("flDoG: sigma is not a number. Exiting\n");
        return TAMO_DOG_ESIGMA;
    }
    const float s = std::fabs(sigma);
    if (s == 0.0f && order > 0) {
        std::printf("flDoG: sigma must not be zero for derivatives\n");
        return TAMO_DOG_ESIGMA;
    }
    // Narrower Gaussians only scale the centre pixel by ever larger weights,
    // which overflow to infinity (or give 0/0) long before 1e-19.
    if (s != 0.0f && s < kSmallestSigma) {
        std::printf("flDoG: sigma must be 0 or at least 0.01 in size\n");
        return -7;
    }
    const int k = kernelRadius(s);
    const bool inValid = tamo::hasValidMagic(in) && in->orvptr;
    const int rows = inValid ? rowsOf(in) : 0, cols = inValid ? dimLength(in, 0) : 0;
    if (inValid && rows < 4LL * k + 2) {
        std::printf("flDoG:kernel is %d x %d, but image is only %d x %d. Exiting\n", k, k, rows,
                    cols);
        return TAMO_DOG_EROWS;
    }
    if (!inValid || in->dtype != TAMO_32FLT) {
        std::printf("flDoG: Data type of input image MUST be float. Exiting\n");
        return TAMO_DOG_ETYPE;
    }
    if (out && (!tamo::hasValidMagic(out) || !out->orvptr || dimLength(out, 0) < cols ||
                rowsOf(out) < rows || writablePlanes(out) < framesOf(in))) {
        std::printf(
            "flDoG: output image must be a numeric image at least as large as the "
            "input. Exiting\n");
        return TAMO_DOG_EOUT;
    }
    return 0;
}

void filterDerivatives(TAMOHDR *in, const std::vector<Derivative> &derivatives, float sigma,
                       DerivativeRowSink &sink) {
    const float s = std::fabs(sigma);
    const int k = kernelRadius(s);
    const Powers powers(s);
    std::vector<SeparableKernel> kernels;
    for (const Derivative &d : derivatives)
        kernels.push_back(separableKernel(d.order, d.direction, k, powers));
    const int rows = rowsOf(in), cols = dimLength(in, 0), frames = framesOf(in);
    if (cols < 1) return;
    const long long plane = static_cast<long long>(rows) * cols;
    long long taps = 0;
    for (const SeparableKernel &kernel : kernels) taps += 2 * kernel.terms.size();
    const int lanes = sink.lanes(
        tamo::threadsFor(static_cast<long long>(rows) * cols * (2 * k + 1) * taps, rows), in);
    SeparableFilter filter(cols, k, kernels, lanes);
    for (int f = 0; f < frames; ++f) {
        const float *frame = pixels<float>(in) + f * plane;
        tamo::splitRange(0, rows, lanes, [&](long long r0, long long r1, int lane) {
            filter.rows(frame, rows, static_cast<int>(r0), static_cast<int>(r1), sink, f, lane);
        });
    }
}

}  // namespace tamo
