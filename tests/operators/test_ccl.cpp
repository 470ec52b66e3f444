// Connected-component labelling: against the flat equivalence table it
// stands for, against a flood fill on random images of every shape, on
// shapes worked out by hand, and its outputs and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tamo++.h"
#include "tempdir.h"
#include "tamo.h"

namespace {

using tamo::RecordPtr;

RecordPtr cclImage(int cols, int rows, const char *type = "float", int frames = 0) {
    int dims[4] = {frames ? 3 : 2, cols, rows, frames};
    return RecordPtr(Tamocreate(type, dims, 11, 0));
}

// The labelling with a flat table of smallest labels, rewritten on every
// merge; returns the status and fills labels, count and the areas text.
struct Flat {
    std::vector<int> labels;
    int count = 0;
    std::string areas;
};

int flatLabels(const std::vector<float> &y, int rows, int cols, float t, float lo, float hi,
               int eraseSmall, int eraseLarge, Flat &res) {
    std::vector<int> &L = res.labels;
    L.assign(y.size(), -1);
    L[0] = 0;
    std::vector<int> table(500000);
    std::iota(table.begin(), table.end(), 0);
    int count = 0;
    auto joins = [&](float a, int r, int c) {
        if (r == 0 || c == 0) return false;
        const float b = y[r * cols + c];
        if (a < lo || b < lo || std::fabs(a - b) > t) return false;
        return L[r * cols + c] != -1;
    };
    auto merge = [&](std::vector<int> classes) {
        const int keep = *std::min_element(classes.begin(), classes.end());
        for (int i = 0; i <= count; ++i)
            if (std::find(classes.begin(), classes.end(), table[i]) != classes.end())
                table[i] = keep;
        return keep;
    };
    for (int r = 1; r < rows; ++r)
        for (int c = 1; c < cols; ++c) {
            const float a = y[r * cols + c];
            int &here = L[r * cols + c];
            if (a < lo || a > hi) {
                here = 0;
                continue;
            }
            const int up = L[(r - 1) * cols + c], left = L[r * cols + c - 1],
                      ul = L[(r - 1) * cols + c - 1];
            switch (4 * joins(a, r - 1, c - 1) + 2 * joins(a, r, c - 1) + joins(a, r - 1, c)) {
                case 0:
                    if (count == 499999) return 1;
                    here = ++count;
                    break;
                case 1:
                    here = table[up];
                    break;
                case 2:
                    here = table[left];
                    break;
                case 4:
                    here = table[ul];
                    break;
                case 3:
                    here = merge({table[left], table[up]});
                    break;
                case 5:
                    here = merge({table[ul], table[up]});
                    break;
                case 6:
                    here = merge({table[ul], table[left]});
                    break;
                default:
                    here = merge({table[up], table[left], table[ul]});
                    break;
            }
        }
    for (int r = 1; r < rows; ++r)
        for (int c = 1; c < cols; ++c)
            if (L[r * cols + c] != -1) L[r * cols + c] = table[L[r * cols + c]];
    for (int r = 1; r < rows - 1; ++r)
        for (int c = 1; c < cols - 1; ++c) {
            if (L[r * cols + c] != 0) continue;
            const int u = L[(r - 1) * cols + c];
            if (u >= 1 && L[(r + 1) * cols + c] == u && L[r * cols + c - 1] == u &&
                L[r * cols + c + 1] == u)
                L[r * cols + c] = u;
        }
    res.count = count;
    std::vector<int> area(count + 1, 0);
    for (int r = 1; r < rows; ++r)
        for (int c = 1; c < cols; ++c)
            if (L[r * cols + c] > 0) ++area[table[L[r * cols + c]]];
    std::ostringstream text;
    for (int l = 0; l <= count; ++l) text << l << ' ' << area[l] << '\n';
    res.areas = text.str();
    for (int r = 1; r < rows; ++r)
        for (int c = 1; c < cols; ++c) {
            int &l = L[r * cols + c];
            if (eraseSmall && area[l] < eraseSmall) area[l] = 0, l = 0;
            if (eraseLarge && l > 0 && area[l] > eraseLarge) l = 0;
        }
    return 0;
}

struct Labelled {
    int rc = 0, count = -1;
    std::vector<int> labels;
    std::string out;
};

Labelled label(const std::vector<float> &y, int rows, int cols, float t, float lo, float hi,
               int eraseSmall = 0, int eraseLarge = 0, const char *areas = "") {
    auto in = cclImage(cols, rows), out = cclImage(cols, rows, "32bit");
    std::copy(y.begin(), y.end(), tamo::pixels<float>(in.get()));
    Labelled run;
    testing::internal::CaptureStdout();
    run.rc = cclC4_3(in.get(), eraseSmall, eraseLarge, &run.count, areas, out.get(), t, lo, hi);
    run.out = testing::internal::GetCapturedStdout();
    const int *p = tamo::pixels<int>(out.get());
    run.labels.assign(p, p + rows * cols);
    return run;
}

std::string readText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file in this run's own temporary folder.
std::string tempPath(const char *name) {
    static const testsupport::TempDir dir;
    return dir.file(name);
}

TEST(Ccl, UnionFindGivesTheFlatTablesLabelsCountAndAreas) {
    std::mt19937 gen(2024);
    const std::string areas = tempPath("tamo_ccl_areas.txt");
    // Levels around the band edges (10, 255) and the threshold (2), values
    // above the band that hand on the background label, and smooth ramps
    // that make long chains of merges.
    const float levels[] = {0, 5, 10, 11, 12, 13, 40, 41, 42, 254, 256, 300};
    for (int trial = 0; trial < 24; ++trial) {
        const int rows = 20 + trial * 3, cols = 25 + (trial * 7) % 40;
        std::vector<float> y(static_cast<size_t>(rows) * cols);
        std::uniform_int_distribution<int> pick(0, 11);
        std::normal_distribution<float> step(0.0f, 1.2f);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                float &v = y[r * cols + c];
                if (trial % 2)
                    v = levels[pick(gen)];
                else
                    v = (c ? y[r * cols + c - 1] : 100.0f) + step(gen) +
                        (r % 7 == 3 ? 30.0f : 0.0f);
            }
        const int eraseSmall = trial % 3 == 0 ? 4 : 0, eraseLarge = trial % 4 == 1 ? 30 : 0;
        Flat want;
        ASSERT_EQ(flatLabels(y, rows, cols, 2.0f, 10.0f, 255.0f, eraseSmall, eraseLarge, want), 0);
        // With and without an areas file (labels written straight into the
        // output, or copied there at the end).
        const bool withFile = trial % 4 < 2;
        std::remove(areas.c_str());
        const Labelled got = label(y, rows, cols, 2.0f, 10.0f, 255.0f, eraseSmall, eraseLarge,
                                   withFile ? areas.c_str() : "");
        ASSERT_EQ(got.rc, 0);
        EXPECT_EQ(got.count, want.count) << "trial " << trial;
        EXPECT_EQ(got.labels, want.labels) << "trial " << trial;
        if (withFile) EXPECT_EQ(readText(areas), want.areas) << "trial " << trial;
    }
    std::remove(areas.c_str());
}

// The labelling worked out plainly: the components of the join graph by
// flood fill, each named after the first of its pixels (in raster order)
// that joins none of its upper, left and upper-left neighbours, those being
// numbered 1, 2, 3, ... in raster order; a component that joins a pixel
// above the band is background (0). Then the one-pixel holes are filled.
Flat floodLabels(const std::vector<float> &y, int rows, int cols, float t, float lo, float hi) {
    const int n = rows * cols;
    auto inBand = [&](int p) {
        return p / cols > 0 && p % cols > 0 && !(y[p] < lo) && !(y[p] > hi);
    };
    // Neighbour q joins the in-band pixel p.
    auto joins = [&](int p, int q) {
        return q / cols > 0 && q % cols > 0 && !(y[q] < lo) && !(std::fabs(y[p] - y[q]) > t);
    };
    std::vector<std::vector<int>> edges(n);
    std::vector<bool> touchesZero(n, false);
    std::vector<int> rank(n, 0);
    int count = 0;
    for (int p = 0; p < n; ++p) {
        if (!inBand(p)) continue;
        const int r = p / cols, c = p % cols;
        bool any = false;
        for (const int q : {p - cols, p - 1, p - cols - 1}) {
            if ((q == p - 1 || q == p - cols - 1) && c == 0) continue;
            if (r == 0 || !joins(p, q)) continue;
            any = true;
            if (inBand(q)) {
                edges[p].push_back(q);
                edges[q].push_back(p);
            } else {
                touchesZero[p] = true;
            }
        }
        if (!any) rank[p] = ++count;
    }
    Flat res;
    res.count = count;
    std::vector<int> &L = res.labels;
    L.assign(n, 0);
    for (int p = 0; p < n; ++p)
        if (p / cols == 0 || p % cols == 0) L[p] = -1;
    L[0] = 0;
    std::vector<bool> seen(n, false);
    for (int p = 0; p < n; ++p) {
        if (!inBand(p) || seen[p]) continue;
        std::vector<int> component{p}, stack{p};
        seen[p] = true;
        bool zero = false;
        int name = 0;
        while (!stack.empty()) {
            const int q = stack.back();
            stack.pop_back();
            zero = zero || touchesZero[q];
            if (rank[q] && (!name || rank[q] < name)) name = rank[q];
            for (const int next : edges[q])
                if (!seen[next]) {
                    seen[next] = true;
                    stack.push_back(next);
                    component.push_back(next);
                }
        }
        for (const int q : component) L[q] = zero ? 0 : name;
    }
    const std::vector<int> before = L;
    for (int r = 1; r + 1 < rows; ++r)
        for (int c = 1; c + 1 < cols; ++c) {
            const int p = r * cols + c, u = before[p - cols];
            if (before[p] == 0 && u >= 1 && before[p + cols] == u && before[p - 1] == u &&
                before[p + 1] == u)
                L[p] = u;
        }
    return res;
}

TEST(Ccl, RandomImagesGetTheLabelsOfAFloodFill) {
    // Band 10..250 with threshold 2. Blobs: 200 on 0 at the given density.
    // Levels: values about the band's ends and the threshold, among them
    // values above the band that hand on the background label. Ramps: smooth
    // rows, so that whether neighbours join depends on their values. Mixed:
    // pairs of rows of levels, of long blobs and of short blobs in turn.
    enum Style { kBlobs, kLevels, kRamps, kMixed };
    struct Case {
        int cols, rows;
        const char *type;
        Style style;
        float density;
    };
    const Case cases[] = {
        {1, 40, "float", kBlobs, 0.5f},     {40, 1, "float", kBlobs, 0.5f},
        {2, 2, "float", kLevels, 0.0f},     {2, 50, "float", kBlobs, 0.7f},
        {50, 2, "u8bit", kLevels, 0.0f},    {17, 23, "float", kBlobs, 0.3f},
        {63, 40, "float", kBlobs, 0.5f},    {64, 64, "32bit", kBlobs, 0.6f},
        {65, 30, "float", kLevels, 0.0f},   {129, 31, "u8bit", kBlobs, 0.8f},
        {130, 45, "float", kRamps, 0.0f},   {200, 150, "float", kBlobs, 0.45f},
        {200, 150, "16bit", kLevels, 0.0f}, {257, 20, "float", kBlobs, 0.95f},
        {300, 60, "float", kRamps, 0.0f},   {97, 97, "u8bit", kLevels, 0.0f},
        {150, 60, "float", kMixed, 0.0f},   {70, 40, "u8bit", kMixed, 0.0f},
    };
    const float levels[] = {0, 5, 10, 11, 12, 13, 40, 41, 42, 248, 249, 250, 251, 252, 255};
    std::mt19937 gen(77);
    for (const Case &k : cases) {
        SCOPED_TRACE(std::to_string(k.cols) + " x " + std::to_string(k.rows) + " " + k.type +
                     " style " + std::to_string(k.style));
        std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
        std::uniform_int_distribution<int> pick(0, 14);
        std::vector<float> y(static_cast<size_t>(k.rows) * k.cols);
        for (int r = 0; r < k.rows; ++r)
            for (int c = 0; c < k.cols; ++c) {
                float &v = y[r * k.cols + c];
                const int rowKind = k.style == kMixed ? r / 2 % 3 : -1;
                const float density = rowKind == 1 ? 0.95f : rowKind == 2 ? 0.5f : k.density;
                if (k.style == kBlobs || rowKind > 0)
                    v = uniform(gen) < density ? 200.0f : 0.0f;
                else if (k.style == kLevels || rowKind == 0)
                    v = levels[pick(gen)];
                else
                    v = std::round((c ? y[r * k.cols + c - 1] : 120.0f) + 3 * uniform(gen) - 1.4f +
                                   (r % 5 == 2 ? 8.0f : 0.0f));
            }
        auto in = cclImage(k.cols, k.rows, k.type), out = cclImage(k.cols, k.rows, "32bit");
        for (int r = 0; r < k.rows; ++r)
            for (int c = 0; c < k.cols; ++c) Tamofpp(in.get(), r, c, y[r * k.cols + c]);
        int count = -1;
        testing::internal::CaptureStdout();
        const int rc = cclC4_3(in.get(), 0, 0, &count, "", out.get(), 2.0f, 10.0f, 250.0f);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        ASSERT_EQ(rc, 0);
        const Flat want = floodLabels(y, k.rows, k.cols, 2.0f, 10.0f, 250.0f);
        EXPECT_EQ(count, want.count);
        const int *got = tamo::pixels<int>(out.get());
        EXPECT_EQ(std::vector<int>(got, got + y.size()), want.labels);
    }
}

// Fills rows r0..r1, columns c0..c1 of y with v.
void box(std::vector<float> &y, int cols, int r0, int c0, int r1, int c1, float v) {
    for (int r = r0; r <= r1; ++r)
        for (int c = c0; c <= c1; ++c) y[r * cols + c] = v;
}

std::set<int> labelsIn(const Labelled &run, int cols, int r0, int c0, int r1, int c1) {
    std::set<int> found;
    for (int r = r0; r <= r1; ++r)
        for (int c = c0; c <= c1; ++c) found.insert(run.labels[r * cols + c]);
    return found;
}

TEST(Ccl, ShapesConnectThroughSidesAndTheUpLeftDiagonalOnly) {
    const int n = 16;
    std::vector<float> y(n * n, 0.0f);
    box(y, n, 2, 2, 6, 6, 100.0f);
    box(y, n, 2, 7, 6, 11, 200.0f);
    Labelled run = label(y, n, n, 2.0f, 10.0f, 255.0f);
    EXPECT_EQ(run.count, 2);
    EXPECT_EQ(labelsIn(run, n, 2, 2, 6, 6), std::set<int>{1});
    EXPECT_EQ(labelsIn(run, n, 2, 7, 6, 11), std::set<int>{2});

    // Corner to corner: the lower square to the lower left touches through
    // the up-right diagonal (two regions), to the lower right through the
    // up-left one (one region).
    std::vector<float> d(n * n, 0.0f);
    box(d, n, 2, 6, 5, 9, 100.0f);
    box(d, n, 6, 2, 9, 5, 100.0f);
    EXPECT_EQ(label(d, n, n, 2.0f, 10.0f, 255.0f).count, 2);
    std::fill(d.begin(), d.end(), 0.0f);
    box(d, n, 2, 2, 5, 5, 100.0f);
    box(d, n, 6, 6, 9, 9, 100.0f);
    run = label(d, n, n, 2.0f, 10.0f, 255.0f);
    EXPECT_EQ(run.count, 1);
    EXPECT_EQ(labelsIn(run, n, 6, 6, 9, 9), std::set<int>{1});

    // A U scanned from the top: two labels, one region.
    std::vector<float> u(n * n, 0.0f);
    box(u, n, 2, 2, 10, 3, 50.0f);
    box(u, n, 2, 8, 10, 9, 50.0f);
    box(u, n, 9, 2, 10, 9, 50.0f);
    run = label(u, n, n, 2.0f, 10.0f, 255.0f);
    EXPECT_EQ(run.count, 2);
    EXPECT_EQ(labelsIn(run, n, 9, 2, 10, 9), std::set<int>{1});
    EXPECT_EQ(labelsIn(run, n, 2, 8, 3, 9), std::set<int>{1});

    // A background pixel inside a region takes its label.
    std::vector<float> h(n * n, 0.0f);
    box(h, n, 3, 3, 7, 7, 60.0f);
    h[5 * n + 5] = 0.0f;
    EXPECT_EQ(label(h, n, n, 2.0f, 10.0f, 255.0f).labels[5 * n + 5], 1);

    // Nothing in the band: row 0 and column 0 keep -1, (0, 0) holds 0.
    run = label(std::vector<float>(n * n, 5.0f), n, n, 2.0f, 10.0f, 255.0f);
    EXPECT_EQ(run.count, 0);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            ASSERT_EQ(run.labels[r * n + c], r == c && r == 0 ? 0 : (r == 0 || c == 0 ? -1 : 0));
}

TEST(Ccl, ErasesSmallAndLargeRegionsAndWritesTheAreas) {
    const int n = 24;
    std::vector<float> y(n * n, 0.0f);
    box(y, n, 1, 1, 1, 3, 30.0f);    // 3 pixels, label 1
    box(y, n, 3, 1, 6, 5, 30.0f);    // 20 pixels, label 2
    box(y, n, 8, 1, 22, 10, 30.0f);  // 150 pixels, label 3
    const std::string areas = tempPath("tamo_ccl_erase.txt");
    Labelled run = label(y, n, n, 2.0f, 10.0f, 255.0f, 5, 100, areas.c_str());
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(readText(areas), "0 0\n1 3\n2 20\n3 150\n");
    EXPECT_EQ(run.out, "calling erasesmalregions 5\nreturn from  erasesmalregions\n");
    EXPECT_EQ(labelsIn(run, n, 1, 1, 1, 3), std::set<int>{0});
    EXPECT_EQ(labelsIn(run, n, 3, 1, 6, 5), std::set<int>{2});
    EXPECT_EQ(labelsIn(run, n, 8, 1, 22, 10), std::set<int>{0});
    std::remove(areas.c_str());

    // Unwritable names, also one of 256 bytes: -3, output untouched.
    auto in = cclImage(n, n), out = cclImage(n, n, "32bit");
    std::copy(y.begin(), y.end(), tamo::pixels<float>(in.get()));
    int count = 0;
    const std::string missing = "/nonexistent-dir/areas.txt",
                      longName = tempPath("") + std::string(256, 'a');
    for (const std::string &name : {missing, longName}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(cclC4_3(in.get(), 1, 0, &count, name.c_str(), out.get(), 2, 10, 255), -3);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "file name " + name + " is invalid for areas file\n");
        EXPECT_EQ(tamo::pixels<int>(out.get())[25], 0);
        EXPECT_EQ(count, 3);
    }
}

TEST(Ccl, OutputsInAnyTypeAndColourInputsAsMagnitude) {
    const int n = 10;
    // Colour (30, 40, 0) has magnitude 50, a third of it 16.67.
    auto colour = cclImage(n, n, "float", 3), bytes = cclImage(n, n, "u8bit", 3);
    for (int i = 0; i < n * n; ++i) {
        tamo::pixels<float>(colour.get())[i] = 30.0f;
        tamo::pixels<float>(colour.get())[n * n + i] = 40.0f;
        tamo::pixels<uint8_t>(bytes.get())[i] = 3;
        tamo::pixels<uint8_t>(bytes.get())[n * n + i] = 4;
    }
    auto out8 = cclImage(n, n, "u8bit");
    int count = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(cclC4_3(colour.get(), 0, 0, &count, "", out8.get(), 0.0f, 16.6f, 16.7f), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "cclC4_3:converting output image from 32bit to u8bit\n");
    EXPECT_EQ(count, 1);
    EXPECT_EQ(tamo::pixels<uint8_t>(out8.get())[n + 1], 1);
    EXPECT_EQ(tamo::pixels<uint8_t>(out8.get())[0], 0);
    EXPECT_EQ(tamo::pixels<uint8_t>(out8.get())[1], 255);  // -1 keeps its low 8 bits

    // "u8bit" colour: sqrt(25) / 3 = 1.67 truncated to 1, below a band from 1.5.
    auto out3 = cclImage(n, n, "32bit", 3);
    EXPECT_EQ(cclC4_3(bytes.get(), 0, 0, &count, "", out3.get(), 0.0f, 1.5f, 2.0f), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(cclC4_3(bytes.get(), 0, 0, &count, "", out3.get(), 0.0f, 0.5f, 2.0f), 0);
    EXPECT_EQ(count, 1);
    for (int f = 0; f < 3; ++f) EXPECT_EQ(tamo::pixels<int>(out3.get())[f * n * n + n + 1], 1);

    auto wrong = cclImage(n, n + 1, "32bit");
    testing::internal::CaptureStdout();
    EXPECT_EQ(cclC4_3(colour.get(), 0, 0, &count, "", wrong.get(), 0.0f, 1.0f, 255.0f), -4);
    testing::internal::GetCapturedStdout();
}

TEST(Ccl, TooManyLabelsLeaveTheOutputUntouched) {
    // Levels 20, 30, 40 by (row + column) mod 3: no pixel joins its upper,
    // left or upper-left neighbour, so each needs a label of its own.
    const int n = 1001;
    std::vector<float> y(static_cast<size_t>(n) * n);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) y[r * n + c] = 20.0f + 10.0f * ((r + c) % 3);
    auto in = cclImage(n, n), out = cclImage(n, n, "32bit");
    std::copy(y.begin(), y.end(), tamo::pixels<float>(in.get()));
    tamo::pixels<int>(out.get())[n + 2] = 77;
    int count = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(cclC4_3(in.get(), 0, 0, &count, "", out.get(), 2.0f, 10.0f, 255.0f), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "need more labels than we have\n");
    EXPECT_EQ(count, 499999);
    EXPECT_EQ(tamo::pixels<int>(out.get())[n + 2], 77);
}

}  // namespace
