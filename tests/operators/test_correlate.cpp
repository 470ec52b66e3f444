// Correlation of a template with an image: against the direct
// single-precision definition, the valid region, colour and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tamo++.h"
#include "tamo.h"
#include "testrecords.h"

namespace {

using testsupport::image;

using tamo::RecordPtr;

float *px(const RecordPtr &img) {
    return tamo::pixels<float>(img.get());
}

RecordPtr randomImage(std::mt19937 &gen, int cols, int rows, int frames = 0) {
    auto img = image("float", cols, rows, frames);
    std::uniform_real_distribution<float> value(0.0f, 255.0f);
    for (long long i = 0; i < tamo::elementCount(img.get()); ++i) px(img)[i] = value(gen);
    return img;
}

// S(r, c) of one frame straight from the definition, in single precision,
// divided as the grey path (norm < 0) or by norm.
std::vector<float> direct(const float *a, int ra, int ca, const float *b, int rb, int cb,
                          double norm, float sentinel) {
    const int hr = rb / 2, hc = cb / 2;
    const float area = static_cast<float>(rb * cb);
    float mean = 0, squares = 0;
    for (int i = 0; i < rb * cb; ++i) mean += b[i];
    mean /= area;
    for (int i = 0; i < rb * cb; ++i) squares += (b[i] - mean) * (b[i] - mean);
    const float sd = std::sqrt(squares / area);
    std::vector<float> out(static_cast<size_t>(ra) * ca, sentinel);
    for (int r = hr; r <= ra - hr - 1; ++r)
        for (int c = hc; c <= ca - hc - 1; ++c) {
            float m = 0, s = 0;
            for (int dr = -hr; dr < hr; ++dr)
                for (int dc = -hc; dc < hc; ++dc) m += a[(r + dr) * ca + c + dc];
            m /= area;
            for (int dr = -hr; dr < hr; ++dr)
                for (int dc = -hc; dc < hc; ++dc)
                    s += (b[(hr + dr) * cb + hc + dc] - mean) * (a[(r + dr) * ca + c + dc] - m);
            out[r * ca + c] = norm < 0 ? (s / (static_cast<float>(rb) * area)) / sd
                                       : static_cast<float>(s / norm);
        }
    return out;
}

// Sum over the valid positions of (A - local mean)^2, the colour divisor.
double frameNorm(const float *a, int ra, int ca, int rb, int cb) {
    const int hr = rb / 2, hc = cb / 2;
    double total = 0;
    for (int r = hr; r <= ra - hr - 1; ++r)
        for (int c = hc; c <= ca - hc - 1; ++c) {
            double m = 0;
            for (int dr = -hr; dr < hr; ++dr)
                for (int dc = -hc; dc < hc; ++dc) m += a[(r + dr) * ca + c + dc];
            const double d = a[r * ca + c] - m / (rb * cb);
            total += d * d;
        }
    return total;
}

// Largest difference relative to the largest reference value; untouched
// pixels (the sentinel) must match exactly.
double relativeError(const float *got, const std::vector<float> &want, float sentinel) {
    double scale = 0, worst = 0;
    for (float w : want)
        if (w != sentinel) scale = std::max(scale, std::fabs(double(w)));
    for (size_t i = 0; i < want.size(); ++i) {
        if (want[i] == sentinel) {
            if (got[i] != sentinel) return 1e9;
            continue;
        }
        worst = std::max(worst, std::fabs(double(got[i]) - want[i]));
    }
    return worst / scale;
}

TEST(Correlate, GreyMatchesTheDirectDefinitionForSmallAndLargeTemplates) {
    std::mt19937 gen(11);
    // Small windows are summed directly, larger ones through transforms;
    // odd sizes leave the template's last row or column out.
    const int sizes[][4] = {{37, 29, 4, 6},   {40, 33, 3, 3},   {41, 52, 9, 8},
                            {90, 70, 16, 16}, {75, 83, 21, 12}, {64, 64, 33, 17}};
    for (const auto &s : sizes) {
        auto a = randomImage(gen, s[1], s[0]), b = randomImage(gen, s[3], s[2]);
        auto o = image("float", s[1], s[0]);
        std::fill(px(o), px(o) + s[0] * s[1], -7.0f);
        ASSERT_EQ(flcorrelate(a.get(), b.get(), o.get()), 0);
        const auto want = direct(px(a), s[0], s[1], px(b), s[2], s[3], -1, -7.0f);
        EXPECT_LT(relativeError(px(o), want, -7.0f), 1e-4)
            << s[0] << "x" << s[1] << " with " << s[2] << "x" << s[3];
    }
}

TEST(Correlate, TemplateCutFromTheImagePeaksAtItsOrigin) {
    std::mt19937 gen(3);
    for (int side : {6, 24}) {
        auto a = randomImage(gen, 80, 60), b = image("float", side, side);
        for (int r = 0; r < side; ++r)
            for (int c = 0; c < side; ++c) px(b)[r * side + c] = px(a)[(17 + r) * 80 + 30 + c];
        auto o = image("float", 80, 60);
        ASSERT_EQ(corr1frame(a.get(), b.get(), o.get()), 0);
        const long long best = std::max_element(px(o), px(o) + 80 * 60) - px(o);
        EXPECT_EQ(best, (17 + side / 2) * 80 + 30 + side / 2);
        // There S = sum (B - mean)^2 = side^2 sd^2, so the value is sd / side.
        double mean = 0, squares = 0;
        for (int i = 0; i < side * side; ++i) mean += px(b)[i] / (side * side);
        for (int i = 0; i < side * side; ++i) squares += std::pow(px(b)[i] - mean, 2);
        EXPECT_NEAR(px(o)[best], std::sqrt(squares / (side * side)) / side, 1e-4);
    }
}

TEST(Correlate, TemplatesTallerOrWiderThanTheImageWriteNothing) {
    std::mt19937 gen(5);
    auto a = randomImage(gen, 10, 8), o = image("float", 10, 8);
    std::fill(px(o), px(o) + 80, 42.0f);
    for (auto [cols, rows] : {std::pair{11, 3}, std::pair{3, 9}}) {
        auto b = randomImage(gen, cols, rows);
        EXPECT_EQ(flcorrelate(a.get(), b.get(), o.get()), 0);
        EXPECT_EQ(std::count(px(o), px(o) + 80, 42.0f), 80);
    }
}

TEST(Correlate, ColourFramesUseTheirOwnTemplateFrameAndNorm) {
    std::mt19937 gen(9);
    auto a = randomImage(gen, 30, 26, 3), b = randomImage(gen, 10, 10, 3);
    auto o = image("float", 30, 26, 3);
    std::fill(px(o), px(o) + 30 * 26 * 3, -5.0f);
    ASSERT_EQ(flcorrelate(a.get(), b.get(), o.get()), 0);
    for (int f = 0; f < 3; ++f) {
        const float *af = px(a) + f * 780;
        const auto want =
            direct(af, 26, 30, px(b) + f * 100, 10, 10, frameNorm(af, 26, 30, 10, 10), -5.0f);
        EXPECT_LT(relativeError(px(o) + f * 780, want, -5.0f), 1e-4) << "frame " << f;
    }
    // Swapping two template frames swaps only those output frames.
    std::vector<float> before(px(o), px(o) + 3 * 780);
    std::swap_ranges(px(b) + 100, px(b) + 200, px(b) + 200);
    std::swap_ranges(px(a) + 780, px(a) + 1560, px(a) + 1560);
    ASSERT_EQ(flcorrelate(a.get(), b.get(), o.get()), 0);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 780, px(o)));
    EXPECT_TRUE(std::equal(before.begin() + 780, before.begin() + 1560, px(o) + 1560));
}

TEST(Correlate, RefusesWhatItCannotReadOrWrite) {
    auto a = image("float", 20, 20), b = image("float", 4, 4), o = image("float", 20, 20);
    auto bytes = image("u8bit", 4, 4, 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(flcorrelate(a.get(), bytes.get(), o.get()), -2);
    EXPECT_EQ(corr1frame(bytes.get(), b.get(), o.get()), -2);
    auto small = image("float", 20, 19);
    EXPECT_EQ(flcorrelate(a.get(), b.get(), small.get()), -3);
    auto colour = image("float", 20, 20, 3), grey3 = image("float", 4, 4, 1),
         out3 = image("float", 20, 20, 3);
    EXPECT_EQ(flcorrelate(colour.get(), grey3.get(), out3.get()), -3);
    EXPECT_EQ(flcorrelate(colour.get(), b.get(), out3.get()), -3);
    const std::string text = testing::internal::GetCapturedStdout();
    const std::string want = "flcorrelate: input must be float\ncorr1frame: input must be float\n";
    EXPECT_EQ(text.substr(0, want.size()), want);
}

}  // namespace
