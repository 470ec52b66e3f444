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
#include <cstdio>
#include <cstring>
#include <vector>

#include "detail.h"
#include "tamoops.h"

namespace {

using tamo::pixels;

// The label table holds 500000 entries, entry 0 being the background.
constexpr int kMaxLabels = 499999;
// Longest areas file name accepted, terminating zero included.
constexpr size_t kMaxPathBytes = 256;

int dimLength(const TAMOHDR *img, int k) {
    for (int i = 0; i < img->orvndim && i < TAMO_MAXDIM; ++i)
        if (img->orvdim[i].dnum == k + 1) return img->orvdim[i].dlen;
    return 0;
}
int rowsOf(const TAMOHDR *img) { return img->orvndim >= 2 ? dimLength(img, 1) : 1; }

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
            grey[i] = static_cast<float>(
                static_cast<int>(std::sqrt(static_cast<double>(squares)) / 3));
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
    int merge(int a, int b) {
        a = find(a);
        b = find(b);
        if (a == b) return a;
        if (a > b) std::swap(a, b);
        parent_[b] = a;
        return a;
    }
    // Points every label at its root.
    void flatten() {
        for (size_t l = 1; l < parent_.size(); ++l) parent_[l] = parent_[parent_[l]];
    }
    int root(int l) const { return parent_[l]; }

private:
    std::vector<int> parent_;
};

struct Band {
    float t, lo, hi;
    // The join test of a pixel (value a, already inside the band) with a
    // visited neighbour (value b, label l). The upper bound is not applied to
    // the neighbour: one above it (background) can hand its label 0 on.
    bool joins(float a, float b, int l) const {
        if (a < lo || b < lo) return false;
        if (std::fabs(a - b) > t) return false;
        return l != -1;
    }
};

// The raster scan over rows and columns from 1 (row 0 and column 0 keep -1).
// Returns false when the label table is full.
bool scan(const float *y, int *lab, int rows, int cols, const Band &band, Classes &classes) {
    for (int r = 1; r < rows; ++r) {
        const float *yr = y + static_cast<long long>(r) * cols;
        const float *yu = yr - cols;
        int *lr = lab + static_cast<long long>(r) * cols;
        const int *lu = lr - cols;
        for (int c = 1; c < cols; ++c) {
            const float a = yr[c];
            if (a < band.lo || a > band.hi) {
                lr[c] = 0;
                continue;
            }
            const bool up = r > 1 && band.joins(a, yu[c], lu[c]);
            const bool left = c > 1 && band.joins(a, yr[c - 1], lr[c - 1]);
            const bool upLeft = r > 1 && c > 1 && band.joins(a, yu[c - 1], lu[c - 1]);
            switch (4 * upLeft + 2 * left + up) {
                case 0:
                    if (classes.count() == kMaxLabels) {
                        std::printf("need more labels than we have\n");
                        return false;
                    }
                    lr[c] = classes.make();
                    break;
                case 1: lr[c] = classes.find(lu[c]); break;
                case 2: lr[c] = classes.find(lr[c - 1]); break;
                case 4: lr[c] = classes.find(lu[c - 1]); break;
                case 3: lr[c] = classes.merge(lr[c - 1], lu[c]); break;
                case 5: lr[c] = classes.merge(lu[c - 1], lu[c]); break;
                case 6: lr[c] = classes.merge(lu[c - 1], lr[c - 1]); break;
                case 7: lr[c] = classes.merge(classes.merge(lu[c], lr[c - 1]), lu[c - 1]); break;
            }
        }
    }
    return true;
}

void resolveRow(int *row, int cols, const Classes &classes) {
    for (int c = 1; c < cols; ++c)
        if (row[c] != -1) row[c] = classes.root(row[c]);
}

// A background pixel whose four neighbours carry one label takes it; pixels
// filled earlier in the scan count as neighbours of later ones.
void fillHolesOfRow(int *lab, int r, int cols) {
    int *row = lab + static_cast<long long>(r) * cols;
    const int *above = row - cols, *below = row + cols;
    for (int c = 1; c < cols - 1; ++c) {
        if (row[c] != 0) continue;
        const int u = above[c];
        if (u >= 1 && below[c] == u && row[c - 1] == u && row[c + 1] == u) row[c] = u;
    }
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
    int *lab = pixels<int>(labels.get());
    std::fill(lab, lab + static_cast<long long>(rows) * cols, -1);
    lab[0] = 0;

    Classes classes;
    const Band band{t, lo, hi};
    if (!scan(y, lab, rows, cols, band, classes)) {
        if (countOut) *countOut = classes.count();
        return 1;
    }
    const int count = classes.count();
    classes.flatten();

    // Rows are resolved one ahead of the hole filling, which looks one row
    // down; a row is final once filled, and its areas can be counted.
    const bool wantAreas = eraseSmall != 0 || eraseLarge != 0 || (areasPath && *areasPath);
    std::vector<long long> area(wantAreas ? static_cast<size_t>(count) + 1 : 0, 0);
    auto countRow = [&](int r) {
        const int *row = lab + static_cast<long long>(r) * cols;
        for (int c = 1; c < cols; ++c) {
            const int l = row[c];
            if (l > count || l < -1)
                std::printf("invalid label %d at %d %d\n", l, r, c);
            else if (l > 0)
                ++area[l];
        }
    };
    if (rows > 1) resolveRow(lab + cols, cols, classes);
    for (int r = 1; r < rows; ++r) {
        if (r + 1 < rows) resolveRow(lab + static_cast<long long>(r + 1) * cols, cols, classes);
        if (r + 1 < rows) fillHolesOfRow(lab, r, cols);
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
            int *row = lab + static_cast<long long>(r) * cols;
            for (int c = 1; c < cols; ++c) {
                const int l = row[c];
                if (area[l] < eraseSmall) {
                    row[c] = 0;
                    area[l] = 0;
                }
            }
        }
        std::printf("return from  erasesmalregions\n");
        std::fflush(stdout);
    }
    if (eraseLarge != 0) {
        for (int r = 1; r < rows; ++r) {
            int *row = lab + static_cast<long long>(r) * cols;
            for (int c = 1; c < cols; ++c)
                if (row[c] > 0 && area[row[c]] > eraseLarge) row[c] = 0;
        }
    }

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
