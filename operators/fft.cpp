// Radix-2 Fourier transform of square complex images, and the extraction of
// magnitude, phase, real and imaginary parts.
//
// Two schedules compute the same butterflies with the same single-precision
// operations, so their results agree bit for bit:
//  - fftj, the strided in-place transform of one sequence, which builds each
//    stage's twiddle factors by repeated complex multiplication as it goes;
//  - the image transform, which builds those same factors once per call,
//    copies a block of rows or columns into a split (real / imaginary)
//    scratch buffer in bit-reversed order, and runs every stage over the
//    block with the block index innermost, so the butterflies vectorise and
//    column transforms read whole runs of a row.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <utility>

#include "imagelib_internal.h"
#include "parallel.h"
#include "tamoops.h"

namespace {

// cos(pi/n) and -sin(pi/n) for the stage half-lengths n = 4, 8, ..., 512.
// These values fix the results of every transform up to length 1024.
struct TwiddleStep {
    float cosine;
    float negSine;
};
constexpr TwiddleStep kTwiddleSteps[] = {
    {0.707107f, -0.707107f}, {0.92388f, -0.382683f},  {0.980785f, -0.19509f},
    {0.995185f, -0.098017f}, {0.998795f, -0.049068f}, {0.999699f, -0.024541f},
    {0.999925f, -0.012272f}, {0.999981f, -0.006136f},
};

// The factor by which a stage of half-length n advances its twiddle.
void stepFactor(int n, int dir, float &wr, float &wi) {
    if (n == 1) {
        wr = -1.0f, wi = 0.0f;
    } else if (n == 2) {
        wr = 0.0f, wi = static_cast<float>(dir);
    } else if (n <= 512) {
        int index = 0;
        for (int m = 4; m < n; m *= 2) ++index;
        wr = kTwiddleSteps[index].cosine;
        wi = -static_cast<float>(dir) * kTwiddleSteps[index].negSine;
    } else {
        // Longer transforms than the fixed steps cover: the same quantities,
        // rounded from double.
        const double angle = M_PI / n;
        wr = static_cast<float>(std::cos(angle));
        wi = static_cast<float>(dir * std::sin(angle));
    }
}

inline void complexProduct(float &outRe, float &outIm, float aRe, float aIm, float bRe, float bIm) {
    const float re = aRe * bRe - aIm * bIm;
    const float im = bRe * aIm + aRe * bIm;
    outRe = re;
    outIm = im;
}

bool isPowerOfTwo(long long v) {
    return v > 0 && (v & (v - 1)) == 0;
}

// ---- The image schedule ----------------------------------------------------------

// Rows, or columns, handled together. Column blocks are wider so that each
// row visit reads a longer run; the scratch block holds 2 * n * kColumnBlock
// floats (256 KiB for n = 1024), which stays in the second-level cache.
constexpr int kRowBlock = 16;
constexpr int kColumnBlock = 32;
// Complex elements per cache line, and how far ahead column reads are fetched.
constexpr int kChunk = 8;
constexpr int kPrefetchRows = 8;

// Eight floats of a block row; GCC and Clang compile the element-wise
// operations to whatever vector width the target has, with IEEE results.
typedef float Lane __attribute__((vector_size(32)));
constexpr int kLaneFloats = 8;

inline void loadLane(Lane &v, const float *p) {
    std::memcpy(&v, p, sizeof v);
}
inline void storeLane(float *p, const Lane &v) {
    std::memcpy(p, &v, sizeof v);
}

// t = w * bottom; bottom = top - t; top = top + t: fftj's operations in
// fftj's order.
inline void butterfly(Lane &ar, Lane &ai, Lane &br, Lane &bi, float wr, float wi) {
    const Lane tr = wr * br - wi * bi;
    const Lane ti = br * wi + wr * bi;
    br = ar - tr;
    bi = ai - ti;
    ar = ar + tr;
    ai = ai + ti;
}

// Every butterfly stage over a block of `width` sequences (element k of
// sequence b at k * width + b; width a multiple of kLaneFloats). Stages are taken two at a time:
// the butterflies of stages m and 2m over the four elements g+i, g+i+m, g+i+2m, g+i+3m are done
// while the four stay in registers, which halves the passes over the block without changing any
// result.
TAMO_TARGET_CLONES void blockStages(float *re, float *im, int n,
                                                                   int width, const float *twRe,
                                                                   const float *twIm) {
    const int lanes = width / kLaneFloats;
    int m = 1;
    for (; 2 * m < n; m *= 4) {
        const float *w1r = twRe + (m - 1), *w1i = twIm + (m - 1);
        const float *w2r = twRe + (2 * m - 1), *w2i = twIm + (2 * m - 1);
        const std::size_t quarter = static_cast<std::size_t>(m) * width;
        for (int g = 0; g < n; g += 4 * m) {
            for (int i = 0; i < m; ++i) {
                const float ur = w1r[i], ui = w1i[i];
                const float vr = w2r[i], vi = w2i[i];
                const float xr = w2r[i + m], xi = w2i[i + m];
                float *pr = re + static_cast<std::size_t>(g + i) * width;
                float *pi = im + static_cast<std::size_t>(g + i) * width;
                for (int lane = 0; lane < lanes; ++lane) {
                    const std::size_t o = kLaneFloats * static_cast<std::size_t>(lane);
                    Lane a0, a1;
                    loadLane(a0, pr + o);
                    loadLane(a1, pi + o);
                    Lane b0, b1;
                    loadLane(b0, pr + quarter + o);
                    loadLane(b1, pi + quarter + o);
                    Lane c0, c1;
                    loadLane(c0, pr + 2 * quarter + o);
                    loadLane(c1, pi + 2 * quarter + o);
                    Lane d0, d1;
                    loadLane(d0, pr + 3 * quarter + o);
                    loadLane(d1, pi + 3 * quarter + o);
                    butterfly(a0, a1, b0, b1, ur, ui);
                    butterfly(c0, c1, d0, d1, ur, ui);
                    butterfly(a0, a1, c0, c1, vr, vi);
                    butterfly(b0, b1, d0, d1, xr, xi);
                    storeLane(pr + o, a0), storeLane(pi + o, a1);
                    storeLane(pr + quarter + o, b0), storeLane(pi + quarter + o, b1);
                    storeLane(pr + 2 * quarter + o, c0), storeLane(pi + 2 * quarter + o, c1);
                    storeLane(pr + 3 * quarter + o, d0), storeLane(pi + 3 * quarter + o, d1);
                }
            }
        }
    }
    // An odd number of stages leaves the last one on its own.
    if (m < n) {
        const std::size_t half = static_cast<std::size_t>(m) * width;
        for (int i = 0; i < m; ++i) {
            float *pr = re + static_cast<std::size_t>(i) * width;
            float *pi = im + static_cast<std::size_t>(i) * width;
            for (int lane = 0; lane < lanes; ++lane) {
                const std::size_t o = kLaneFloats * static_cast<std::size_t>(lane);
                Lane a0, a1;
                loadLane(a0, pr + o);
                loadLane(a1, pi + o);
                Lane b0, b1;
                loadLane(b0, pr + half + o);
                loadLane(b1, pi + half + o);
                butterfly(a0, a1, b0, b1, twRe[m - 1 + i], twIm[m - 1 + i]);
                storeLane(pr + o, a0), storeLane(pi + o, a1);
                storeLane(pr + half + o, b0), storeLane(pi + half + o, b1);
            }
        }
    }
}

// Scratch of one image transform: twiddle factors of every stage (stage n at
// offset n - 1), the bit-reversal permutation and one block buffer per
// thread.
class Plan {
public:
    Plan(int n, int dir, int threads) : n_(n) {
        const std::size_t block = 2 * static_cast<std::size_t>(n) * kColumnBlock;
        const std::size_t floats = 2 * static_cast<std::size_t>(n) + block * threads;
        const std::size_t bytes =
            floats * sizeof(float) + static_cast<std::size_t>(n) * sizeof(int);
        memory_ = static_cast<char *>(Tamo_alcptr(bytes, 1));
        if (!memory_) return;
        twRe_ = reinterpret_cast<float *>(memory_);
        twIm_ = twRe_ + n;
        blocks_ = twIm_ + n;
        blockFloats_ = block;
        rev_ = reinterpret_cast<int *>(blocks_ + block * threads);

        for (int m = 1; m < n; m *= 2) {
            float sr, si;
            stepFactor(m, dir, sr, si);
            float wr = 1.0f, wi = 0.0f;
            for (int i = 0; i < m; ++i) {
                twRe_[m - 1 + i] = wr;
                twIm_[m - 1 + i] = wi;
                complexProduct(wr, wi, wr, wi, sr, si);
            }
        }
        int bits = 0;
        while ((1 << bits) < n) ++bits;
        for (int k = 0; k < n; ++k) {
            int r = 0;
            for (int b = 0; b < bits; ++b) r |= ((k >> b) & 1) << (bits - 1 - b);
            rev_[k] = r;
        }
    }
    ~Plan() {
        if (memory_) Tamo_freeptr(memory_);
    }
    Plan(const Plan &) = delete;
    Plan &operator=(const Plan &) = delete;

    bool ok() const { return memory_ != nullptr; }

    // Transforms kColumnBlock columns starting at column c0 of the interleaved
    // n x n array with thread `t`'s block buffer; scale multiplies the
    // results (1 or 1/n).
    void columns(float *data, int c0, float scale, int t) {
        float *re = blocks_ + blockFloats_ * t;
        float *im = re + static_cast<std::size_t>(n_) * kColumnBlock;
        const std::size_t rowFloats = 2 * static_cast<std::size_t>(n_);
        float *base = data + 2 * static_cast<std::size_t>(c0);
        for (int r = 0; r < n_; ++r) {
            const float *src = base + r * rowFloats;
            // Rows lie a whole row apart; fetching ahead keeps several
            // of those far reads in flight.
            if (r + kPrefetchRows < n_) {
                for (int line = 0; line < 2 * kColumnBlock; line += 16)
                    __builtin_prefetch(src + kPrefetchRows * rowFloats + line);
            }
            float *dr = re + static_cast<std::size_t>(rev_[r]) * kColumnBlock;
            float *di = im + static_cast<std::size_t>(rev_[r]) * kColumnBlock;
            for (int b = 0; b < kColumnBlock; ++b) {
                dr[b] = src[2 * b];
                di[b] = src[2 * b + 1];
            }
        }
        stages(re, im, kColumnBlock);
        for (int r = 0; r < n_; ++r) {
            float *dst = base + r * rowFloats;
            const float *sr = re + static_cast<std::size_t>(r) * kColumnBlock;
            const float *si = im + static_cast<std::size_t>(r) * kColumnBlock;
            for (int b = 0; b < kColumnBlock; ++b) {
                dst[2 * b] = sr[b] * scale;
                dst[2 * b + 1] = si[b] * scale;
            }
        }
    }

    // Transforms kRowBlock rows starting at row r0. The rows are moved a cache
    // line (kChunk elements) at a time, so that the block lines being filled
    // or emptied stay in the first-level cache across all kRowBlock rows; the
    // bit reversal follows as swaps of whole block lines (done while
    // copying, it would scatter each chunk over lines a power of two apart,
    // which share a cache set).
    void rows(float *data, int r0, float scale, int t) {
        float *re = blocks_ + blockFloats_ * t;
        float *im = re + static_cast<std::size_t>(n_) * kColumnBlock;
        const std::size_t rowFloats = 2 * static_cast<std::size_t>(n_);
        float *base = data + static_cast<std::size_t>(r0) * rowFloats;
        for (int k0 = 0; k0 < n_; k0 += kChunk) {
            for (int b = 0; b < kRowBlock; ++b) {
                const float *src = base + b * rowFloats + 2 * static_cast<std::size_t>(k0);
                for (int j = 0; j < kChunk; ++j) {
                    const std::size_t at = static_cast<std::size_t>(k0 + j) * kRowBlock + b;
                    re[at] = src[2 * j];
                    im[at] = src[2 * j + 1];
                }
            }
        }
        for (int k = 0; k < n_; ++k) {
            if (k < rev_[k]) {
                swapLines(re, k, rev_[k]);
                swapLines(im, k, rev_[k]);
            }
        }
        stages(re, im, kRowBlock);
        for (int k0 = 0; k0 < n_; k0 += kChunk) {
            for (int b = 0; b < kRowBlock; ++b) {
                float *dst = base + b * rowFloats + 2 * static_cast<std::size_t>(k0);
                for (int j = 0; j < kChunk; ++j) {
                    const std::size_t at = static_cast<std::size_t>(k0 + j) * kRowBlock + b;
                    dst[2 * j] = re[at] * scale;
                    dst[2 * j + 1] = im[at] * scale;
                }
            }
        }
    }

private:
    static void swapLines(float *block, int a, int b) {
        float *pa = block + static_cast<std::size_t>(a) * kRowBlock;
        float *pb = block + static_cast<std::size_t>(b) * kRowBlock;
        for (int i = 0; i < kRowBlock; ++i) std::swap(pa[i], pb[i]);
    }

    void stages(float *re, float *im, int width) { blockStages(re, im, n_, width, twRe_, twIm_); }

    int n_;
    char *memory_ = nullptr;
    float *twRe_ = nullptr, *twIm_ = nullptr, *blocks_ = nullptr;
    std::size_t blockFloats_ = 0;
    int *rev_ = nullptr;
};

// Rows then columns (forward) or columns then rows (inverse) with fftj; used
// for sides below the block size and when no scratch memory can be had.
void transformInPlace(float *data, int n, int dir) {
    const int rowStride = 2 * n;
    auto rows = [&] {
        for (int r = 0; r < n; ++r) {
            float *row = data + static_cast<std::ptrdiff_t>(r) * rowStride;
            fftj(row, 2, row + 1, 2, n, dir);
        }
    };
    if (dir == -1) rows();
    for (int c = 0; c < n; ++c) fftj(data + 2 * c, rowStride, data + 2 * c + 1, rowStride, n, dir);
    if (dir == 1) rows();
}

// ---- Complex components ------------------------------------------------------------

int planeCols(const TAMOHDR *img) {
    return img->orvndim >= 1 ? img->orvdim[0].dlen : 0;
}
int planeRows(const TAMOHDR *img) {
    return img->orvndim >= 2 ? img->orvdim[1].dlen : 1;
}

// Writes value(re, im) of every pixel of in's first plane into out.
// floatNotice is printed before a "float" output is filled (null: none).
template <class Value>
int extract(TAMOHDR *in, TAMOHDR *out, const char *name, const char *floatNotice, Value value) {
    if (!in || !out) return TAMO_CPX_ESIZE;
    const int cols = planeCols(in);
    const int rows = planeRows(in);
    if (cols != planeCols(out) || rows != planeRows(out)) return TAMO_CPX_ESIZE;
    if (in->dtype == TAMO_64CMP || out->dtype == TAMO_64CMP) return TAMO_CPX_ETYPE;
    if (in->dtype != TAMO_32CMP) {
        std::fprintf(stderr, "%s: Input data type not complex\n", name);
        return TAMO_CPX_ETYPE;
    }

    const float *src = tamo::pixels<float>(in);
    const long long count = static_cast<long long>(cols) * rows;
    bool written = false;
    tamo::visitScalar(out->dtype, [&](auto tag, tamo::ElemLayout layout) {
        using T = typename decltype(tag)::type;
        // Interleaved outputs have no single value per pixel.
        if (layout.channels != 1) return;
        written = true;
        T *dst = tamo::pixels<T>(out);
        if constexpr (std::is_same_v<T, float>) {
            if (layout.complex) {
                // The imaginary parts of a complex output keep their values.
                for (long long i = 0; i < count; ++i)
                    dst[2 * i] = static_cast<float>(value(src[2 * i], src[2 * i + 1]));
                return;
            }
            if (floatNotice) {
                std::printf("%s\n", floatNotice);
                std::fflush(stdout);
            }
            for (long long i = 0; i < count; ++i)
                dst[i] = static_cast<float>(value(src[2 * i], src[2 * i + 1]));
        } else if constexpr (std::is_same_v<T, uint8_t>) {
            for (long long i = 0; i < count; ++i) {
                const double v = value(src[2 * i], src[2 * i + 1]);
                dst[i] = v > 255.0 ? 255 : v >= 0.0 ? static_cast<uint8_t>(v) : 0;
            }
        } else {
            // The remaining types take the pixel writer's own conversion.
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < cols; ++c) {
                    const long long i = static_cast<long long>(r) * cols + c;
                    Tamofpp(out, r, c, value(src[2 * i], src[2 * i + 1]));
                }
        }
    });
    if (!written) {
        std::fprintf(stderr, "%s: Output data type not supported\n", name);
        return TAMO_CPX_ETYPE;
    }
    return 0;
}

}  // namespace

extern "C" {

void mult(float *out_re, float *out_im, float a_re, float a_im, float b_re, float b_im) {
    complexProduct(*out_re, *out_im, a_re, a_im, b_re, b_im);
}

int ispwrof2(int v) {
    return v <= 1 || (v & (v - 1)) == 0 ? 1 : 0;
}

int broj(int N, float *re, int sre, float *im, int sim) {
    if (!isPowerOfTwo(N)) return 1;
    int j = 0;
    for (int i = 0; i < N - 1; ++i) {
        if (i < j) {
            float t = re[static_cast<long long>(i) * sre];
            re[static_cast<long long>(i) * sre] = re[static_cast<long long>(j) * sre];
            re[static_cast<long long>(j) * sre] = t;
            t = im[static_cast<long long>(i) * sim];
            im[static_cast<long long>(i) * sim] = im[static_cast<long long>(j) * sim];
            im[static_cast<long long>(j) * sim] = t;
        }
        int m = N / 2;
        while (m >= 1 && m <= j) {
            j -= m;
            m /= 2;
        }
        j += m;
    }
    return 1;
}

void fftj(float *re, int sre, float *im, int sim, int N, int dir) {
    // A length that is not a power of two would send the permutation past
    // the end of the data.
    if ((dir != -1 && dir != 1) || !isPowerOfTwo(N)) return;
    broj(N, re, sre, im, sim);
    for (int n = 1; n < N; n *= 2) {
        const int l = 2 * n;
        float sr, si;
        stepFactor(n, dir, sr, si);
        float wr = 1.0f, wi = 0.0f;
        for (int i = 0; i < n; ++i) {
            for (int r = i; r < N; r += l) {
                float &ar = re[static_cast<long long>(r) * sre];
                float &ai = im[static_cast<long long>(r) * sim];
                float &br = re[static_cast<long long>(r + n) * sre];
                float &bi = im[static_cast<long long>(r + n) * sim];
                float tr, ti;
                complexProduct(tr, ti, wr, wi, br, bi);
                br = ar - tr;
                bi = ai - ti;
                ar = ar + tr;
                ai = ai + ti;
            }
            complexProduct(wr, wi, wr, wi, sr, si);
        }
    }
    if (dir == 1) {
        const float size = static_cast<float>(N);
        for (int k = 0; k < N; ++k) {
            re[static_cast<long long>(k) * sre] /= size;
            im[static_cast<long long>(k) * sim] /= size;
        }
    }
}

int Tamocfft2d(TAMOHDR *img, int dir) {
    if (!img || img->dtype != TAMO_32CMP) {
        std::fprintf(stderr, "cfft2d:image is not floating point complex! BYE!\n");
        return TAMO_FFT_ETYPE;
    }
    // Read from the record itself: Tamonr and Tamonc allocate, and a failed
    // allocation would read as an empty image.
    const int rows = planeRows(img);
    const int cols = planeCols(img);
    if (rows != cols) {
        std::fprintf(stderr, "cff2d:image must be square\n");
        return TAMO_FFT_ESQUARE;
    }
    if (!ispwrof2(rows) || !ispwrof2(cols)) {
        std::fprintf(stderr, "cff2d:image dimension must be  a power of 2! BYE!\n");
        return TAMO_FFT_EPOWER2;
    }
    if (dir != -1 && dir != 1) return 0;

    const int n = rows;
    float *data = tamo::pixels<float>(img);
    if (n < kColumnBlock) {
        transformInPlace(data, n, dir);
        return 0;
    }
    // Row blocks and column blocks are independent of each other, so they
    // are shared out between threads; each thread has its own block buffer.
    const int rowBlocks = n / kRowBlock, columnBlocks = n / kColumnBlock;
    const int threads = tamo::threadsFor(static_cast<long long>(n) * n * 8, columnBlocks);
    Plan plan(n, dir, threads);
    if (!plan.ok()) {
        transformInPlace(data, n, dir);
        return 0;
    }
    tamo::Progress progress(rowBlocks + columnBlocks);
    tamo::PixelSnapshot before(img, progress);
    if (before.failed()) progress.disable();
    // 1/n is exact for a power of two, so scaling by it equals dividing by n.
    const float scale = dir == 1 ? 1.0f / static_cast<float>(n) : 1.0f;
    auto rowPass = [&](int64_t base) {
        return tamo::runPieces(rowBlocks, threads, progress, base, 1,
                               [&](long long lo, long long hi, int t) {
                                   for (long long b = lo; b < hi; ++b)
                                       plan.rows(data, static_cast<int>(b) * kRowBlock, scale, t);
                               });
    };
    auto columnPass = [&](int64_t base) {
        return tamo::runPieces(
            columnBlocks, threads, progress, base, 1, [&](long long lo, long long hi, int t) {
                for (long long b = lo; b < hi; ++b)
                    plan.columns(data, static_cast<int>(b) * kColumnBlock, scale, t);
            });
    };
    const bool finished =
        dir == -1 ? rowPass(0) && columnPass(rowBlocks) : columnPass(0) && rowPass(columnBlocks);
    if (!finished) {
        before.restore();
        return TAMO_CANCELLED;
    }
    return 0;
}

int Tamoc2mag(TAMOHDR *in, TAMOHDR *out) {
    return extract(in, out, "Tamoc2mag", "c2mag:incomplex outreal", [](float re, float im) {
        return std::sqrt(static_cast<double>(re * re + im * im));
    });
}

int Tamoc2phase(TAMOHDR *in, TAMOHDR *out) {
    return extract(in, out, "Tamoc2phase", nullptr, [](float re, float im) {
        return std::atan2(static_cast<double>(im), static_cast<double>(re));
    });
}

int Tamoc2real(TAMOHDR *in, TAMOHDR *out) {
    return extract(in, out, "Tamoc2real", nullptr,
                   [](float re, float) { return static_cast<double>(re); });
}

int Tamoc2imag(TAMOHDR *in, TAMOHDR *out) {
    return extract(in, out, "Tamoc2imag", nullptr,
                   [](float, float im) { return static_cast<double>(im); });
}

}  // extern "C"
