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
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "imagelib_internal.h"
#include "parallel.h"
#include "tamoops.h"

// The join tests vectorise only when comparisons may be assumed not to trap;
// no result depends on floating-point exception flags.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-trapping-math")
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
    int merge(int a, int b) { return mergeIntoRoot(find(a), b); }
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

// Join tests of one row against its left, upper and upper-left neighbours,
// as the code 4 upLeft + 2 left + up, or kBackground for a pixel outside the
// band. A neighbour joins when its value is at least lo and differs from the
// pixel's by at most t; the upper bound is not applied to it, so one above
// the band (background) can hand its label 0 on. Neighbours in row 0 or
// column 0 never join; all others have been visited by then. Free of
// branches so that it vectorises.
constexpr uint8_t kBackground = 8;

TAMO_TARGET_CLONES void joinCodes(const float *__restrict yr, const float *__restrict yu, int cols,
                                  bool firstRow, Band band, uint8_t *__restrict code) {
    const float lo = band.lo, hi = band.hi, t = band.t;
    const uint8_t upAllowed = firstRow ? 0 : 1;
    for (int c = 1; c < cols; ++c) {
        const float a = yr[c], left = yr[c - 1], up = yu[c], upLeft = yu[c - 1];
        const uint8_t outside = (a < lo) | (a > hi);
        const uint8_t aOk = !(a < lo);
        // |a - b| > t, spelt out so that no call is left in the loop.
        auto near = [t](float a, float b) -> uint8_t { return !(a - b > t) & !(b - a > t); };
        const uint8_t joinUp = upAllowed & aOk & !(up < lo) & near(a, up);
        const uint8_t joinLeft = (c > 1) & aOk & !(left < lo) & near(a, left);
        const uint8_t joinUpLeft = upAllowed & (c > 1) & aOk & !(upLeft < lo) & near(a, upLeft);
        const uint8_t joins = static_cast<uint8_t>(4 * joinUpLeft + 2 * joinLeft + joinUp);
        code[c] = outside ? kBackground : joins;
    }
}

// The raster scan over rows and columns from 1 (row 0 and column 0 keep -1).
// Returns kScanned, kFull when the label table is full, or kStopped when the
// progress hook asked to stop (progress counts rows).
enum ScanResult { kScanned, kFull, kStopped };
ScanResult scan(const float *y, int *lab, int rows, int cols, const Band &band, Classes &classes,
                tamo::Progress &progress) {
    std::vector<uint8_t> codes(static_cast<size_t>(cols));
    uint8_t *code = codes.data();
    for (int r = 1; r < rows; ++r) {
        if (progress.report(r)) return kStopped;
        const float *yr = y + static_cast<long long>(r) * cols;
        int *lr = lab + static_cast<long long>(r) * cols;
        const int *lu = lr - cols;
        joinCodes(yr, yr - cols, cols, r == 1, band, code);
        for (int c = 1; c < cols; ++c) {
            const uint8_t k = code[c];
            if (k == kBackground) {
                lr[c] = 0;
                continue;
            }
            // The left neighbour's label is a class root: it was given one
            // and no merge has happened since. Labels equal to one already
            // taken into the class need no look-up.
            const int left = lr[c - 1], up = lu[c], upLeft = lu[c - 1];
            switch (k) {
                case 0:
                    if (classes.count() == kMaxLabels) {
                        std::printf("need more labels than we have\n");
                        return kFull;
                    }
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
                    lr[c] = upLeft == up ? classes.find(up) : classes.merge(upLeft, up);
                    break;
                case 6:
                    lr[c] = upLeft == left ? left : classes.mergeIntoRoot(left, upLeft);
                    break;
                case 7: {
                    int merged = up == left ? left : classes.mergeIntoRoot(left, up);
                    if (upLeft != up && upLeft != left)
                        merged = classes.mergeIntoRoot(merged, upLeft);
                    lr[c] = merged;
                    break;
                }
            }
        }
    }
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
        return -4;
    }
    const int rows = rowsOf(in), cols = dimLength(in, 0);
    if (!tamo::hasValidMagic(out) || !out->orvptr || dimLength(out, 0) != cols ||
        rowsOf(out) != rows) {
        std::printf("cclC4_3: output image must have the input's rows and columns\n");
        return -4;
    }
    std::vector<float> converted;
    const float *y = nullptr;
    if (in->orvndim == 2 && in->dtype == TAMO_32FLT) {
        y = pixels<float>(in);
    } else if (greyImage(in, rows, cols, converted)) {
        y = converted.data();
    } else {
        std::printf("cclC4_3: input image must be numeric\n");
        return -4;
    }

    int dims[3] = {2, cols, rows};
    tamo::RecordPtr labels(Tamocreate("int", dims, 11, 0));
    if (!labels) return -4;
    // The scan writes every pixel but those of row 0 and column 0.
    int *lab = pixels<int>(labels.get());
    std::fill(lab, lab + cols, -1);
    for (int r = 1; r < rows; ++r) lab[static_cast<long long>(r) * cols] = -1;
    lab[0] = 0;

    // Two passes: the scan, then resolving and filling the rows; progress
    // counts the rows of both.
    tamo::Progress progress(2LL * rows);
    Classes classes;
    const Band band{t, lo, hi};
    const ScanResult scanned = scan(y, lab, rows, cols, band, classes, progress);
    if (scanned == kStopped) return TAMO_CANCELLED;
    if (scanned == kFull) {
        if (countOut) *countOut = classes.count();
        return 1;
    }
    const int count = classes.count();
    const int *root = classes.flatten();

    // Once the scan has succeeded, only the areas file can still fail; without
    // one, the final labels go straight into a plain "32bit" output instead
    // of being copied there at the end.
    const bool direct = out->dtype == TAMO_32BIT && out->orvndim == 2 && !(areasPath && *areasPath);
    int *dest = direct ? pixels<int>(out) : lab;
    // Labels written straight into out are put back should the run be
    // stopped.
    tamo::PixelSnapshot before(direct ? out : nullptr, progress);
    if (before.failed()) progress.disable();
    if (direct) std::memcpy(dest, lab, sizeof(int) * cols);
    auto row = [&](int *base, int r) { return base + static_cast<long long>(r) * cols; };

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
    std::vector<int> filled(static_cast<size_t>(cols));
    if (rows > 1) resolveRow(row(lab, 1), row(dest, 1), cols, root);
    for (int r = 1; r < rows; ++r) {
        if (progress.report(static_cast<int64_t>(rows) + r)) {
            before.restore();
            return TAMO_CANCELLED;
        }
        if (r + 1 < rows) {
            resolveRow(row(lab, r + 1), row(dest, r + 1), cols, root);
            fillHolesOfRow(row(dest, r), row(dest, r - 1), row(dest, r + 1), cols, filled.data());
        }
        if (wantAreas) countRow(r);
    }
    if (countOut) *countOut = count;

    if (areasPath && *areasPath && !writeAreas(areasPath, area)) {
        std::printf("file name %s is invalid for areas file\n", areasPath);
        return -3;
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

    int rc = 0;
    if (out->dtype == TAMO_32BIT) {
        rc = intcp(labels.get(), out);
    } else {
        rc = Tamoany2any(labels.get(), out);
        std::printf("cclC4_3:converting output image from %s to %s\n", labels->orvdt, out->orvdt);
        std::fflush(stdout);
    }
    if (rc != 0) {
        std::printf("cclC4_3: cannot write the labels into the output image\n");
        return -4;
    }
    return 0;
}
