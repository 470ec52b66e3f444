// Connected-component labelling in one raster scan.
//
// A pixel inside the brightness band [lo, hi] joins the region of its upper,
// left and upper-left neighbours when their values differ from its own by at
// most t. Provisional labels are numbered 1, 2, 3, ... in the order they are
// made; whenever a pixel joins two or three classes they merge, and every
// class is known by its smallest label. The classes live in a union-find
// forest linked towards the smaller root, so that a root is always the
// smallest label of its class: every look-up gives what a flat table of
// smallest labels, rewritten on every merge, would give, without rewriting it.
// After the scan one-pixel holes are filled, areas counted, small or large
// regions erased and the labels written into the caller's image.
//
// The scan works on runs rather than pixels. The comparisons of a row with
// the band, with its left neighbours and with the row above are made with
// vector instructions into bit rows (one bit per column); a run is a stretch
// of pixels each joined to its left neighbour, so every pixel of a run ends
// up in the run's class. A pixel makes a new label only when it joins none of
// its three neighbours, which inside a run is never the case, so a run makes
// at most one, at its first pixel, and numbering runs in raster order numbers
// the labels as a pixel-by-pixel scan would. A run joins a run of the row
// above when any of its pixels joins a pixel of that run upwards or
// diagonally; a neighbour above the band carries the background label 0, and
// a run joined to one belongs to class 0. Rows of very short runs (noise) are
// labelled pixel by pixel from the same bit rows instead. Rows of long runs
// keep their runs, the others their provisional labels in a label image, and
// a second pass writes them out resolved to class roots.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "imagelib_internal.h"
#include "parallel.h"
#include "tamoops.h"

// Comparisons for AVX-512 are chosen at run time, except in portable builds.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(TAMO_PORTABLE)
#define CCL_AVX512 1
#endif

namespace {

using tamo::dimLength;
using tamo::rowsOf;

using tamo::pixels;

// The label table holds 500000 entries, entry 0 being the background.
constexpr int kMaxLabels = 499999;
// Longest areas file name accepted, terminating zero included.
constexpr size_t kMaxPathBytes = 256;

// The grey image the labelling works on. A colour image (three dimensions,
// at least three frames) becomes sqrt(G^2 + R^2 + B^2) / 3, integral for
// "u8bit" data; anything else is its first plane as floats (the real part of
// complex data, the first channel of interleaved data). Returns false for
// "struct" data.
bool greyImage(TAMOHDR *in, int rows, int cols, std::vector<float> &grey) {
    const long long n = static_cast<long long>(rows) * cols;
    grey.resize(static_cast<size_t>(n));
    const bool colour = in->orvndim == 3 && dimLength(in, 2) >= 3;
    if (colour && in->dtype == TAMO_32FLT) {
        const float *r = pixels<float>(in), *g = r + n, *b = g + n;
        for (long long i = 0; i < n; ++i) {
            const float squares = (g[i] * g[i] + r[i] * r[i]) + b[i] * b[i];
            grey[i] = static_cast<float>(std::sqrt(static_cast<double>(squares)) / 3);
        }
        return true;
    }
    if (colour && in->dtype == TAMO_U8BIT) {
        const uint8_t *r = pixels<uint8_t>(in), *g = r + n, *b = g + n;
        for (long long i = 0; i < n; ++i) {
            const int squares = (g[i] * g[i] + r[i] * r[i]) + b[i] * b[i];
            grey[i] =
                static_cast<float>(static_cast<int>(std::sqrt(static_cast<double>(squares)) / 3));
        }
        return true;
    }
    if (colour) {
        if (in->dtype == TAMO_STRUCT) return false;
        for (int row = 0; row < rows; ++row)
            for (int col = 0; col < cols; ++col) {
                const float r = static_cast<float>(Tamofgp3d(in, 0, row, col));
                const float g = static_cast<float>(Tamofgp3d(in, 1, row, col));
                const float b = static_cast<float>(Tamofgp3d(in, 2, row, col));
                const float squares = (g * g + r * r) + b * b;
                grey[static_cast<long long>(row) * cols + col] =
                    static_cast<float>(std::sqrt(static_cast<double>(squares)) / 3);
            }
        return true;
    }
    return tamo::visitScalar(in->dtype, [&](auto tag, tamo::ElemLayout layout) {
        using T = typename decltype(tag)::type;
        const T *src = pixels<T>(in);
        const int step = layout.complex ? 2 : layout.channels;
        for (long long i = 0; i < n; ++i) grey[i] = static_cast<float>(src[i * step]);
    });
}

// Classes of provisional labels. parent[l] <= l always; a root is the
// smallest label of its class.
class Classes {
public:
    Classes() {
        parent_.reserve(1024);
        parent_.push_back(0);
    }
    int count() const { return static_cast<int>(parent_.size()) - 1; }
    int make() {
        parent_.push_back(count() + 1);
        return count();
    }
    int find(int l) {
        while (parent_[l] != l) {
            parent_[l] = parent_[parent_[l]];
            l = parent_[l];
        }
        return l;
    }
    // Merges the class of b into that of the root a; returns the new root.
    int mergeIntoRoot(int a, int b) {
        b = find(b);
        if (a == b) return a;
        if (a > b) std::swap(a, b);
        parent_[b] = a;
        return a;
    }
    // Points every label at its root; returns the table of roots.
    const int *flatten() {
        for (size_t l = 1; l < parent_.size(); ++l) parent_[l] = parent_[parent_[l]];
        return parent_.data();
    }

private:
    std::vector<int> parent_;
};

struct Band {
    float t, lo, hi;
};

// ---- Comparisons of one row, as bit rows -----------------------------------

using Word = uint64_t;
constexpr int kWordBits = 64;

// Bit c of each row: the pixel's value v is below lo, above hi, or differs
// by more than t from its left, upper or upper-left neighbour. Column 0 has
// no left neighbours; its bits for them are left clear and never used.
struct Comparisons {
    Word *below, *above, *farLeft, *farUp, *farUpLeft;
};

inline void setBit(Word *bits, int c, bool on) {
    bits[c / kWordBits] |= static_cast<Word>(on) << (c % kWordBits);
}

inline bool testBit(const Word *bits, int c) {
    return (bits[c / kWordBits] >> (c % kWordBits)) & 1;
}

// One pixel, for the ends of a row and where no vector code is built.
inline void comparePixel(const float *yr, const float *yu, int c, const Band &band,
                         const Comparisons &cmp) {
    const float a = yr[c];
    setBit(cmp.below, c, a < band.lo);
    setBit(cmp.above, c, a > band.hi);
    setBit(cmp.farUp, c, std::fabs(a - yu[c]) > band.t);
    if (c > 0) {
        setBit(cmp.farLeft, c, std::fabs(a - yr[c - 1]) > band.t);
        setBit(cmp.farUpLeft, c, std::fabs(a - yu[c - 1]) > band.t);
    }
}

// Compares row yr (below row yu) into cmp, whose bit rows are clear. The
// vector versions take blocks of their width from column `width` on (column
// 0 has no left neighbour) and leave the rest to comparePixel.
void compareRowPlain(const float *yr, const float *yu, int cols, const Band &band,
                     const Comparisons &cmp) {
    int c = 0;
#if defined(__SSE2__)
    constexpr int width = 4;
    for (; c < std::min(cols, width); ++c) comparePixel(yr, yu, c, band, cmp);
    const __m128 lo = _mm_set1_ps(band.lo), hi = _mm_set1_ps(band.hi), t = _mm_set1_ps(band.t);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    for (; c + width <= cols; c += width) {
        const __m128 a = _mm_loadu_ps(yr + c);
        const __m128 left = _mm_sub_ps(a, _mm_loadu_ps(yr + c - 1));
        const __m128 up = _mm_sub_ps(a, _mm_loadu_ps(yu + c));
        const __m128 upLeft = _mm_sub_ps(a, _mm_loadu_ps(yu + c - 1));
        const int w = c / kWordBits, shift = c % kWordBits;
        cmp.below[w] |= static_cast<Word>(_mm_movemask_ps(_mm_cmplt_ps(a, lo))) << shift;
        cmp.above[w] |= static_cast<Word>(_mm_movemask_ps(_mm_cmpgt_ps(a, hi))) << shift;
        cmp.farLeft[w] |=
            static_cast<Word>(_mm_movemask_ps(_mm_cmpgt_ps(_mm_and_ps(left, magnitude), t)))
            << shift;
        cmp.farUp[w] |=
            static_cast<Word>(_mm_movemask_ps(_mm_cmpgt_ps(_mm_and_ps(up, magnitude), t))) << shift;
        cmp.farUpLeft[w] |=
            static_cast<Word>(_mm_movemask_ps(_mm_cmpgt_ps(_mm_and_ps(upLeft, magnitude), t)))
            << shift;
    }
#endif
    for (; c < cols; ++c) comparePixel(yr, yu, c, band, cmp);
}

#ifdef CCL_AVX512
__attribute__((target("avx512f"))) void compareRowAvx512(const float *yr, const float *yu, int cols,
                                                         const Band &band, const Comparisons &cmp) {
    constexpr int width = 16;
    int c = 0;
    for (; c < std::min(cols, width); ++c) comparePixel(yr, yu, c, band, cmp);
    const __m512 lo = _mm512_set1_ps(band.lo), hi = _mm512_set1_ps(band.hi),
                 t = _mm512_set1_ps(band.t);
    for (; c + width <= cols; c += width) {
        const __m512 a = _mm512_loadu_ps(yr + c);
        const __m512 left = _mm512_abs_ps(_mm512_sub_ps(a, _mm512_loadu_ps(yr + c - 1)));
        const __m512 up = _mm512_abs_ps(_mm512_sub_ps(a, _mm512_loadu_ps(yu + c)));
        const __m512 upLeft = _mm512_abs_ps(_mm512_sub_ps(a, _mm512_loadu_ps(yu + c - 1)));
        const int w = c / kWordBits, shift = c % kWordBits;
        cmp.below[w] |= static_cast<Word>(_mm512_cmp_ps_mask(a, lo, _CMP_LT_OQ)) << shift;
        cmp.above[w] |= static_cast<Word>(_mm512_cmp_ps_mask(a, hi, _CMP_GT_OQ)) << shift;
        cmp.farLeft[w] |= static_cast<Word>(_mm512_cmp_ps_mask(left, t, _CMP_GT_OQ)) << shift;
        cmp.farUp[w] |= static_cast<Word>(_mm512_cmp_ps_mask(up, t, _CMP_GT_OQ)) << shift;
        cmp.farUpLeft[w] |= static_cast<Word>(_mm512_cmp_ps_mask(upLeft, t, _CMP_GT_OQ)) << shift;
    }
    for (; c < cols; ++c) comparePixel(yr, yu, c, band, cmp);
}
#endif

using CompareRow = void (*)(const float *, const float *, int, const Band &, const Comparisons &);

CompareRow pickCompareRow() {
#ifdef CCL_AVX512
    if (__builtin_cpu_supports("avx512f")) return compareRowAvx512;
#endif
    return compareRowPlain;
}

// True when bits has a set bit in columns [from, to).
inline bool anyBit(const Word *bits, int from, int to) {
    if (from >= to) return false;
    const unsigned first = static_cast<unsigned>(from) / kWordBits;
    const unsigned last = static_cast<unsigned>(to - 1) / kWordBits;
    const Word low = ~Word{0} << (static_cast<unsigned>(from) % kWordBits);
    const Word high = ~Word{0} >> (kWordBits - 1 - static_cast<unsigned>(to - 1) % kWordBits);
    if (first == last) return (bits[first] & low & high) != 0;
    if (bits[first] & low) return true;
    for (unsigned w = first + 1; w < last; ++w)
        if (bits[w]) return true;
    return (bits[last] & high) != 0;
}

// Number of set bits (plain x86-64 has no instruction for it).
inline int bitCount(Word x) {
    x = x - ((x >> 1) & 0x5555555555555555ULL);
    x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
    x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
    return static_cast<int>((x * 0x0101010101010101ULL) >> 56);
}

// Bit c of bits, as 0 or 1.
inline unsigned bitAt(const Word *bits, int c) {
    return (bits[static_cast<unsigned>(c) / kWordBits] >> (static_cast<unsigned>(c) % kWordBits)) &
           1;
}

// ---- The scan ----------------------------------------------------------------

// A run of row pixels [start, end) and a provisional label of its class.
struct Run {
    int start, end, label;
};

// The joins of one row, as bit rows built from its comparisons and from the
// row above. A neighbour joins a pixel inside the band when its value is at
// least lo and differs from the pixel's by at most t; the upper bound is not
// applied to the neighbour, so one above the band (background) can hand its
// label 0 on. Neighbours in row 0 or column 0 never join.
class RowJoins {
public:
    explicit RowJoins(int cols) : cols_(cols), words_(cols / kWordBits + 1) {
        store_.assign(static_cast<size_t>(words_) * kRows, 0);
        for (int i = 0; i < kRows; ++i) bits_[i] = store_.data() + static_cast<size_t>(i) * words_;
    }
    // The comparisons of the next row go here (cleared by clearComparisons).
    Comparisons comparisons() {
        return {bits_[kBelow], bits_[kAbove], bits_[kFarLeft], bits_[kFarUp], bits_[kFarUpLeft]};
    }
    void clearComparisons() {
        for (int i = kBelow; i <= kFarUpLeft; ++i) std::fill(bits_[i], bits_[i] + words_, 0);
    }

    // Builds the joins of a row from its comparisons; the row above is the
    // previous row given here (none before the first).
    void build() {
        std::swap(bits_[kInBand], bits_[kInBandUp]);
        std::swap(bits_[kAtLeastLo], bits_[kAtLeastLoUp]);
        std::swap(bits_[kStart], bits_[kStartUp]);
        std::swap(bits_[kLast], bits_[kLastUp]);
        Word *inBand = bits_[kInBand], *atLeastLo = bits_[kAtLeastLo];
        const Word *upIn = bits_[kInBandUp], *upOk = bits_[kAtLeastLoUp];
        Word *cont = bits_[kContinues];
        Word carryIn = 0, carryOk = 0, carryUpIn = 0, carryUpOk = 0;
        Word zeroAny = 0, mismatch = 0;
        int starts = 0;
        const int tailBits = cols_ % kWordBits;
        for (int w = 0; w < words_; ++w) {
            Word valid = w == words_ - 1 ? (Word{1} << tailBits) - 1 : ~Word{0};
            // Column 0 is never labelled; column 1 has no left neighbour that
            // may join.
            const Word pastFirst = w == 0 ? ~Word{3} : ~Word{0};
            if (w == 0) valid &= ~Word{1};
            const Word below = bits_[kBelow][w];
            const Word in = ~below & ~bits_[kAbove][w] & valid;
            const Word ok = ~below & valid;
            inBand[w] = in;
            atLeastLo[w] = ok;
            const Word leftIn = (in << 1) | (carryIn >> 63), leftOk = (ok << 1) | (carryOk >> 63);
            const Word upLeftIn = (upIn[w] << 1) | (carryUpIn >> 63);
            const Word upLeftOk = (upOk[w] << 1) | (carryUpOk >> 63);
            carryIn = in, carryOk = ok, carryUpIn = upIn[w], carryUpOk = upOk[w];

            const Word left = in & leftOk & ~bits_[kFarLeft][w] & pastFirst;
            const Word up = in & upOk[w] & ~bits_[kFarUp][w];
            const Word upLeft = in & upLeftOk & ~bits_[kFarUpLeft][w] & pastFirst;
            bits_[kLeft][w] = left;
            bits_[kUp][w] = up;
            bits_[kUpLeft][w] = upLeft;
            cont[w] = left & leftIn;
            const Word zero = (left & ~leftIn) | (up & ~upIn[w]) | (upLeft & ~upLeftIn);
            bits_[kZero][w] = zero;
            zeroAny |= zero;
            bits_[kJoinUp][w] = up & upIn[w];
            bits_[kJoinUpLeft][w] = upLeft & upLeftIn;
            // Pixels whose every in-band neighbour above joins them.
            mismatch |= (bits_[kJoinUp][w] ^ (in & upIn[w])) |
                        (bits_[kJoinUpLeft][w] ^ (in & upLeftIn & pastFirst));
            bits_[kStart][w] = in & ~cont[w];
            starts += bitCount(bits_[kStart][w]);
            bits_[kNew][w] = in & ~cont[w] & ~(left | up | upLeft);
        }
        for (int w = 0; w < words_; ++w) {
            const Word next = w + 1 < words_ ? cont[w + 1] : 0;
            bits_[kLast][w] = inBand[w] & ~((cont[w] >> 1) | (next << 63));
        }
        anyZero_ = zeroAny != 0;
        allJoin_ = mismatch == 0;
        runCount_ = starts;
    }

    // Number of runs of the row.
    int runCount() const { return runCount_; }
    // The runs of this row (above = false) or of the row above, with start
    // and end only; returns their number.
    int runs(Run *runs, bool above) const {
        const Word *start = bits_[above ? kStartUp : kStart],
                   *last = bits_[above ? kLastUp : kLast];
        int n = 0;
        for (int w = 0; w < words_; ++w)
            for (Word m = start[w]; m; m &= m - 1)
                runs[n++].start = w * kWordBits + __builtin_ctzll(m);
        int k = 0;
        for (int w = 0; w < words_; ++w)
            for (Word m = last[w]; m; m &= m - 1)
                runs[k++].end = w * kWordBits + __builtin_ctzll(m) + 1;
        return n;
    }

    // The first pixel of a run at `start` joins none of its neighbours.
    bool makesLabel(int start) const { return bitAt(bits_[kNew], start); }
    // Some pixel of [start, end) joins a neighbour labelled 0.
    bool joinsZero(int start, int end) const {
        return anyZero_ && anyBit(bits_[kZero], start, end);
    }
    // The run [start, end) joins the run `above` of the row above.
    bool joinsAbove(int start, int end, const Run &above) const {
        return allJoin_ ||
               anyBit(bits_[kJoinUp], std::max(start, above.start), std::min(end, above.end)) ||
               anyBit(bits_[kJoinUpLeft], std::max(start, above.start + 1),
                      std::min(end, above.end + 1));
    }

    // Pixel by pixel: the row's pixels in the band, and which of them join
    // their upper, left and upper-left neighbours.
    const Word *inBand() const { return bits_[kInBand]; }
    const Word *joinsUp() const { return bits_[kUp]; }
    const Word *joinsLeft() const { return bits_[kLeft]; }
    const Word *joinsUpLeft() const { return bits_[kUpLeft]; }
    int words() const { return words_; }

private:
    enum {
        kBelow,
        kAbove,
        kFarLeft,
        kFarUp,
        kFarUpLeft,
        kInBand,
        kAtLeastLo,
        kInBandUp,
        kAtLeastLoUp,
        kLeft,
        kUp,
        kUpLeft,
        kContinues,
        kStart,
        kLast,
        kStartUp,
        kLastUp,
        kNew,
        kZero,
        kJoinUp,
        kJoinUpLeft,
        kRows
    };
    int cols_, words_;
    std::vector<Word> store_;
    Word *bits_[kRows];
    bool anyZero_ = false, allJoin_ = true;
    int runCount_ = 0;
};

// Writes label u over columns [start, end) of a row whose pixels right of
// start are 0, in whole blocks of 8 where the row has room for them: the
// block written past the end is cleared again, and a later run overwrites
// what lies in its way.
inline void writeRun(int *d, int start, int end, int u, int cols) {
    constexpr int kBlock = 8;
    if (end + kBlock > cols) {
        std::fill(d + start, d + end, u);
        return;
    }
    int c = start;
    do {
        for (int i = 0; i < kBlock; ++i) d[c + i] = u;
        c += kBlock;
    } while (c < end);
    for (int i = 0; i < kBlock; ++i) d[end + i] = 0;
}

// Rows with more runs than this fraction of their pixels are labelled pixel
// by pixel: with runs that short, run bookkeeping costs more than it saves.
constexpr int kPixelsPerRun = 4;
// Rows with fewer runs than this fraction of their pixels keep their runs
// for the second pass; others go into the label image.
constexpr int kPixelsPerKeptRun = 8;

enum ScanResult { kScanned, kFull, kStopped, kNoMemory };

// Labels a row run by run into `here`; `above` holds the runs of the row
// above. Returns the number of runs, or -1 when the label table is full.
int labelRuns(const RowJoins &joins, Classes &classes, const std::vector<Run> &above, Run *here) {
    const int n = joins.runs(here, false);
    const Run *a0 = above.data(), *aboveEnd = above.data() + above.size();
    for (int k = 0; k < n; ++k) {
        const int start = here[k].start, end = here[k].end;
        int label = -1;
        if (joins.makesLabel(start)) {
            if (classes.count() == kMaxLabels) return -1;
            label = classes.make();
        }
        if (joins.joinsZero(start, end)) label = label < 0 ? 0 : classes.mergeIntoRoot(label, 0);
        // Runs above from column start - 1 (the upper-left neighbour of the
        // first pixel) to end - 1.
        while (a0 < aboveEnd && a0->end < start) ++a0;
        for (const Run *a = a0; a < aboveEnd && a->start < end; ++a) {
            if (!joins.joinsAbove(start, end, *a)) continue;
            label = label < 0 ? classes.find(a->label) : classes.mergeIntoRoot(label, a->label);
        }
        here[k].label = label;
    }
    return n;
}

// Spreads the 8 bits of a byte over the 8 bytes of a word, bit i to the
// byte at address i.
struct Spread {
    uint64_t word[256];
    Spread() {
        for (int v = 0; v < 256; ++v) {
            unsigned char bytes[8];
            for (int i = 0; i < 8; ++i) bytes[i] = (v >> i) & 1;
            std::memcpy(&word[v], bytes, 8);
        }
    }
};

// The join code of every pixel of the row, 4 upLeft + 2 left + up, or 8
// outside the band; code has room for every word of the bit rows.
void codesOfRow(const RowJoins &joins, uint8_t *code) {
    static const Spread spread;
    const Word *inBand = joins.inBand(), *up = joins.joinsUp(), *left = joins.joinsLeft(),
               *upLeft = joins.joinsUpLeft();
    for (int w = 0; w < joins.words(); ++w)
        for (int i = 0; i < 8; ++i) {
            const int shift = 8 * i;
            auto bytes = [&](const Word *bits) { return spread.word[(bits[w] >> shift) & 255]; };
            const uint64_t codes = bytes(up) | bytes(left) << 1 | bytes(upLeft) << 2 |
                                   spread.word[(~inBand[w] >> shift) & 255] << 3;
            std::memcpy(code + w * kWordBits + 8 * i, &codes, 8);
        }
}

// Labels the row lr (row above lu) pixel by pixel from the codes of its
// pixels. The left neighbour's label is a class root: it was given one and
// no merge has happened since. Labels equal to one already taken into the
// class need no look-up. Kept out of line: the speed of this loop depends
// on the code laid out around it.
__attribute__((noinline)) ScanResult labelPixels(const uint8_t *code, int *lr, const int *lu,
                                                 int cols, Classes &classes) {
    for (int c = 1; c < cols; ++c) {
        const unsigned k = code[c];
        if (k == 8) continue;  // background: the label image holds 0
        const int left = lr[c - 1], up = lu[c], upLeft = lu[c - 1];
        switch (k) {
            case 0:
                if (classes.count() == kMaxLabels) return kFull;
                lr[c] = classes.make();
                break;
            case 1:
                lr[c] = classes.find(up);
                break;
            case 2:
                lr[c] = left;
                break;
            case 3:
                lr[c] = up == left ? left : classes.mergeIntoRoot(left, up);
                break;
            case 4:
                lr[c] = classes.find(upLeft);
                break;
            case 5:
                lr[c] = upLeft == up ? classes.find(up)
                                     : classes.mergeIntoRoot(classes.find(upLeft), up);
                break;
            case 6:
                lr[c] = upLeft == left ? left : classes.mergeIntoRoot(left, upLeft);
                break;
            default: {
                int merged = up == left ? left : classes.mergeIntoRoot(left, up);
                if (upLeft != up && upLeft != left) merged = classes.mergeIntoRoot(merged, upLeft);
                lr[c] = merged;
                break;
            }
        }
    }
    return kScanned;
}

// The provisional labels of rows 1.. after the scan: a row of long runs
// keeps its runs (runs[rowBegin[r]] on), any other its row of the label
// image (inLabelImage[r]), whose other rows are left untouched.
struct Scanned {
    std::vector<Run> runs;
    std::vector<size_t> rowBegin;
    std::vector<char> inLabelImage;
    tamo::RecordPtr labels;  // made when a row needs it
    int *labelRow(int r, int cols) {
        return pixels<int>(labels.get()) + static_cast<long long>(r) * cols;
    }
    // Makes the label image (0 everywhere) unless made; false when it
    // cannot be made.
    bool makeLabels(int rows, int cols) {
        if (labels) return true;
        int dims[3] = {2, cols, rows};
        labels.reset(Tamocreate("int", dims, 11, 0));
        return labels != nullptr;
    }
};

// The raster scan over rows and columns from 1. Returns kScanned, kFull when
// the label table is full, kNoMemory, or kStopped when the progress hook
// asked to stop (progress counts rows).
ScanResult scan(const float *y, int rows, int cols, const Band &band, Classes &classes,
                Scanned &out, tamo::Progress &progress) {
    out.rowBegin.assign(static_cast<size_t>(rows) + 1, 0);
    out.inLabelImage.assign(static_cast<size_t>(rows), 0);
    if (rows < 2 || cols < 2) return kScanned;
    const CompareRow compareRow = pickCompareRow();
    RowJoins joins(cols);
    out.runs.reserve(static_cast<size_t>(rows) * cols / 16 + cols);
    // The runs of the row above (while it was labelled run by run) and of
    // this row, which has at most cols - 1; the row above spelt out pixel by
    // pixel, for a row labelled pixel by pixel below one that kept its runs
    // (row 0 holds -1, but (0, 0) is 0).
    std::vector<Run> above, here(static_cast<size_t>(cols));
    above.reserve(static_cast<size_t>(cols));
    std::vector<int> aboveLabels(static_cast<size_t>(cols), -1);
    aboveLabels[0] = 0;
    std::vector<uint8_t> codes(static_cast<size_t>(cols / kWordBits + 1) * kWordBits);
    bool aboveHasRuns = true;
    for (int r = 1; r < rows; ++r) {
        if (progress.report(r)) return kStopped;
        const float *yr = y + static_cast<long long>(r) * cols;
        joins.clearComparisons();
        compareRow(yr, yr - cols, cols, band, joins.comparisons());
        joins.build();
        const bool aboveInImage = out.inLabelImage[r - 1] != 0;
        out.rowBegin[r] = out.runs.size();
        const int runCount = joins.runCount();
        if (runCount * kPixelsPerRun > cols) {
            if (!out.makeLabels(rows, cols)) return kNoMemory;
            const int *lu = aboveLabels.data();
            if (aboveInImage) {
                lu = out.labelRow(r - 1, cols);
            } else if (r > 1) {
                std::fill(aboveLabels.begin(), aboveLabels.end(), 0);
                for (const Run &a : above)
                    std::fill(aboveLabels.begin() + a.start, aboveLabels.begin() + a.end, a.label);
            }
            codesOfRow(joins, codes.data());
            out.inLabelImage[r] = 1;
            aboveHasRuns = false;
            if (labelPixels(codes.data(), out.labelRow(r, cols), lu, cols, classes) == kFull) {
                std::printf("need more labels than we have\n");
                return kFull;
            }
            continue;
        }
        if (!aboveHasRuns) {
            // Any pixel of a run carries a label of the run's class.
            const int *lu = out.labelRow(r - 1, cols);
            above.resize(static_cast<size_t>(joins.runs(here.data(), true)));
            std::copy(here.begin(), here.begin() + above.size(), above.begin());
            for (Run &a : above) a.label = lu[a.start];
        }
        const int n = labelRuns(joins, classes, above, here.data());
        if (n < 0) {
            std::printf("need more labels than we have\n");
            return kFull;
        }
        above.assign(here.begin(), here.begin() + n);
        aboveHasRuns = true;
        if (runCount * kPixelsPerKeptRun > cols) {
            // Fairly short runs are written out more quickly from the label
            // image than from the runs.
            if (!out.makeLabels(rows, cols)) return kNoMemory;
            int *lr = out.labelRow(r, cols);
            for (int k = 0; k < n; ++k)
                writeRun(lr, here[k].start, here[k].end, here[k].label, cols);
            out.inLabelImage[r] = 1;
        } else {
            out.runs.insert(out.runs.end(), here.begin(), here.begin() + n);
        }
    }
    out.rowBegin[rows] = out.runs.size();
    return kScanned;
}

// Every label of a row to its class root (src and dst may be the same row);
// column 0 keeps its -1.
TAMO_TARGET_CLONES void resolveRow(const int *src, int *dst, int cols, const int *__restrict root) {
    dst[0] = src[0];
    for (int c = 1; c < cols; ++c) dst[c] = root[src[c]];
}

// A background pixel whose four neighbours carry one label u >= 1 takes it.
// A filled pixel's neighbours in its row are labelled, so filling one cannot
// enable or prevent another in the same row: the fills need no order, and
// the row is filled into `filled` and copied back.
TAMO_TARGET_CLONES void fillHolesOfRow(int *__restrict row, const int *__restrict above,
                                       const int *__restrict below, int cols,
                                       int *__restrict filled) {
    for (int c = 1; c < cols - 1; ++c) {
        const int u = above[c];
        const bool fill =
            (row[c] == 0) & (u >= 1) & (below[c] == u) & (row[c - 1] == u) & (row[c + 1] == u);
        filled[c] = fill ? u : row[c];
    }
    if (cols > 2) std::memcpy(row + 1, filled + 1, sizeof(int) * (cols - 2));
}

bool writeAreas(const char *path, const std::vector<long long> &area) {
    FILE *file = std::strlen(path) < kMaxPathBytes ? std::fopen(path, "wb") : nullptr;
    if (!file) return false;
    for (size_t l = 0; l < area.size(); ++l)
        std::fprintf(file, "%d %d\n", static_cast<int>(l), static_cast<int>(area[l]));
    const bool failed = std::ferror(file) != 0;
    return std::fclose(file) == 0 && !failed;
}

}  // namespace

int cclC4_3(TAMOHDR *in, int eraseSmall, int eraseLarge, int *countOut, const char *areasPath,
            TAMOHDR *out, float t, float lo, float hi) {
    if (!tamo::hasValidMagic(in) || !in->orvptr) {
        std::printf("cclC4_3: input image is missing\n");
        return TAMO_CCL_EIMAGE;
    }
    const int rows = rowsOf(in), cols = dimLength(in, 0);
    if (!tamo::hasValidMagic(out) || !out->orvptr || dimLength(out, 0) != cols ||
        rowsOf(out) != rows) {
        std::printf("cclC4_3: output image must have the input's rows and columns\n");
        return TAMO_CCL_EIMAGE;
    }
    std::vector<float> converted;
    const float *y = nullptr;
    if (in->orvndim == 2 && in->dtype == TAMO_32FLT) {
        y = pixels<float>(in);
    } else if (greyImage(in, rows, cols, converted)) {
        y = converted.data();
    } else {
        std::printf("cclC4_3: input image must be numeric\n");
        return TAMO_CCL_EIMAGE;
    }

    // Two passes: the scan, then writing the resolved rows; progress counts
    // the rows of both.
    tamo::Progress progress(2LL * rows);
    Classes classes;
    Scanned scanned;
    switch (scan(y, rows, cols, Band{t, lo, hi}, classes, scanned, progress)) {
        case kScanned:
            break;
        case kStopped:
            return TAMO_CANCELLED;
        case kNoMemory:
            return TAMO_CCL_EIMAGE;
        case kFull:
            if (countOut) *countOut = classes.count();
            return TAMO_CCL_ELABELS;
    }
    const int count = classes.count();
    const int *root = classes.flatten();

    // Once the scan has succeeded, only the areas file can still fail; without
    // one, the final labels go straight into a plain "32bit" output, else
    // into the label image, copied there at the end.
    const bool direct = out->dtype == TAMO_32BIT && out->orvndim == 2 && !(areasPath && *areasPath);
    if (!direct && !scanned.makeLabels(rows, cols)) return TAMO_CCL_EIMAGE;
    int *dest = direct ? pixels<int>(out) : pixels<int>(scanned.labels.get());
    // Labels written straight into out are put back should the run be
    // stopped.
    tamo::PixelSnapshot before(direct ? out : nullptr, progress);
    if (before.failed()) progress.disable();
    auto row = [&](int *base, int r) { return base + static_cast<long long>(r) * cols; };

    // Row 0 and column 0 keep -1, but (0, 0) is background. A row that kept
    // its runs is written from them, noting the one-pixel gaps between two
    // runs of one class, the only places where it can have a hole; any other
    // is resolved from the label image.
    std::fill(dest, dest + cols, -1);
    dest[0] = 0;
    std::vector<int> holes[2];
    auto resolve = [&](int r) {
        int *d = row(dest, r);
        if (scanned.inLabelImage[r]) {
            resolveRow(scanned.labelRow(r, cols), d, cols, root);
            d[0] = -1;
            return;
        }
        std::vector<int> &gaps = holes[r % 2];
        gaps.clear();
        std::memset(d, 0, sizeof(int) * cols);
        d[0] = -1;
        int lastEnd = -2, lastLabel = 0;
        for (size_t k = scanned.rowBegin[r]; k < scanned.rowBegin[r + 1]; ++k) {
            const Run &run = scanned.runs[k];
            const int u = root[run.label];
            writeRun(d, run.start, run.end, u, cols);
            if (u == 0) continue;
            if (run.start == lastEnd + 1 && u == lastLabel) gaps.push_back(lastEnd);
            lastEnd = run.end;
            lastLabel = u;
        }
    };
    // Fills row r once rows r - 1 and r + 1 are resolved.
    std::vector<int> filled(static_cast<size_t>(cols));
    auto fillHoles = [&](int r) {
        int *d = row(dest, r);
        const int *top = row(dest, r - 1), *bottom = row(dest, r + 1);
        if (scanned.inLabelImage[r]) {
            fillHolesOfRow(d, top, bottom, cols, filled.data());
            return;
        }
        for (const int c : holes[r % 2]) {
            const int u = d[c - 1];
            if (top[c] == u && bottom[c] == u) d[c] = u;
        }
    };

    // Rows are resolved one ahead of the hole filling, which looks one row
    // down; a row is final once filled, and its areas can be counted.
    const bool wantAreas = eraseSmall != 0 || eraseLarge != 0 || (areasPath && *areasPath);
    std::vector<long long> area(wantAreas ? static_cast<size_t>(count) + 1 : 0, 0);
    auto countRow = [&](int r) {
        const int *labels = row(dest, r);
        for (int c = 1; c < cols; ++c) {
            const int l = labels[c];
            if (l > count || l < -1)
                std::printf("invalid label %d at %d %d\n", l, r, c);
            else if (l > 0)
                ++area[l];
        }
    };
    if (rows > 1) resolve(1);
    for (int r = 1; r < rows; ++r) {
        if (progress.report(static_cast<int64_t>(rows) + r)) {
            before.restore();
            return TAMO_CANCELLED;
        }
        if (r + 1 < rows) {
            resolve(r + 1);
            fillHoles(r);
        }
        if (wantAreas) countRow(r);
    }
    if (countOut) *countOut = count;

    if (areasPath && *areasPath && !writeAreas(areasPath, area)) {
        std::printf("file name %s is invalid for areas file\n", areasPath);
        return TAMO_CCL_EAREAS;
    }
    if (eraseSmall != 0) {
        std::printf("calling erasesmalregions %d\n", eraseSmall);
        std::fflush(stdout);
        // An erased class's area becomes 0, so the rest of it follows.
        for (int r = 1; r < rows; ++r) {
            int *labels = row(dest, r);
            for (int c = 1; c < cols; ++c) {
                const int l = labels[c];
                if (area[l] < eraseSmall) {
                    labels[c] = 0;
                    area[l] = 0;
                }
            }
        }
        std::printf("return from  erasesmalregions\n");
        std::fflush(stdout);
    }
    if (eraseLarge != 0) {
        for (int r = 1; r < rows; ++r) {
            int *labels = row(dest, r);
            for (int c = 1; c < cols; ++c)
                if (labels[c] > 0 && area[labels[c]] > eraseLarge) labels[c] = 0;
        }
    }
    if (direct) return 0;

    TAMOHDR *labels = scanned.labels.get();
    int rc = 0;
    if (out->dtype == TAMO_32BIT) {
        rc = intcp(labels, out);
    } else {
        rc = Tamoany2any(labels, out);
        std::printf("cclC4_3:converting output image from %s to %s\n", labels->orvdt, out->orvdt);
        std::fflush(stdout);
    }
    if (rc != 0) {
        std::printf("cclC4_3: cannot write the labels into the output image\n");
        return TAMO_CCL_EIMAGE;
    }
    return 0;
}
