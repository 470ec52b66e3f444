// HoG descriptors, their glyph picture and the helpers behind them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
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

float count(const RecordPtr &h, int bin, int i, int j) {
    return static_cast<float>(Tamofgp3d(h.get(), bin, i, j));
}

// A 9-frame descriptor for a cols x rows image.
RecordPtr descriptorFor(int cols, int rows) {
    return image("float", cols / 8, rows / 8, 9);
}

TEST(HoG, EveryCellCountsItsSixtyFourPixelsOnce) {
    std::mt19937 gen(8);
    std::uniform_real_distribution<float> value(0.0f, 255.0f);
    auto in = image("float", 45, 38);  // cropped to 40 x 32: 5 x 4 cells
    for (int i = 0; i < 45 * 38; ++i) px(in)[i] = value(gen);
    px(in)[10 * 45 + 10] = NAN;  // an undefined direction counts in bin 0
    auto h = descriptorFor(45, 38);
    ASSERT_EQ(HoGdescriptor(in.get(), h.get()), 0);
    int used = 0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 5; ++j) {
            float sum = 0;
            for (int k = 0; k < 9; ++k) sum += count(h, k, i, j), used += count(h, k, i, j) > 0;
            EXPECT_EQ(sum, 64.0f) << i << "," << j;
        }
    EXPECT_GT(used, 20 * 5);  // random directions spread over the bins

    // Too few rows for the filter: every direction is 0, bin 0 (flDoG says
    // why on stdout). Counts add to what the descriptor held.
    auto small = image("float", 20, 20), hs = descriptorFor(20, 20);
    std::fill(px(hs), px(hs) + 4, 1.5f);
    testing::internal::CaptureStdout();
    EXPECT_EQ(HoGdescriptor(small.get(), hs.get()), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("flDoG:kernel is"), std::string::npos);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) EXPECT_EQ(count(hs, 0, i, j), 65.0f);
}

// The descriptor the long way: flDoG derivatives, flatan2, then each
// direction's bin from its degrees.
std::vector<float> referenceDescriptor(const RecordPtr &in, int cols, int rows) {
    const int c8 = cols / 8 * 8, r8 = rows / 8 * 8, nc = c8 / 8, nr = r8 / 8;
    auto a = image("float", c8, r8), gx = image("float", c8, r8), gy = image("float", c8, r8);
    for (int r = 0; r < r8; ++r)
        for (int c = 0; c < c8; ++c) px(a)[r * c8 + c] = px(in)[r * cols + c];
    flDoG(a.get(), gx.get(), 1, 0, 1.0f);
    flDoG(a.get(), gy.get(), 1, 1, 1.0f);
    flatan2(gy.get(), gx.get(), gy.get());
    std::vector<float> h(static_cast<size_t>(nc) * nr * 9, 0.0f);
    for (int r = 0; r < r8; ++r)
        for (int c = 0; c < c8; ++c) {
            float d = static_cast<float>(px(gy)[r * c8 + c] * 57.2958);
            if (d < 0) d = 360 + d;
            int k = static_cast<int>(d / 40.0);
            if (k > 8 || k < 0) k = 0;
            h[(k * nr + r / 8) * nc + c / 8] += 1;
        }
    return h;
}

TEST(HoG, BinsAreThoseOfTheExactDirections) {
    // Random values, and a paraboloid whose gradients point every way, so
    // that many directions fall close to the edges of the bins.
    std::mt19937 gen(21);
    std::uniform_real_distribution<float> value(0.0f, 255.0f);
    auto noisy = image("float", 203, 166), bowl = image("float", 256, 240);
    for (int i = 0; i < 203 * 166; ++i) px(noisy)[i] = value(gen);
    for (int r = 0; r < 240; ++r)
        for (int c = 0; c < 256; ++c)
            px(bowl)[r * 256 + c] =
                0.01f * ((c - 127.3f) * (c - 127.3f) + (r - 119.6f) * (r - 119.6f));
    px(bowl)[0] = 5.0f;
    for (int i = 0; i < 16; ++i) px(bowl)[100 * 256 + 40 + i] = 7.0f;
    // Falling along the columns with a faint tilt: directions a hair either
    // side of 0 degrees, some of which round to 360.
    auto slope = image("float", 64, 48);
    for (int r = 0; r < 48; ++r)
        for (int c = 0; c < 64; ++c) px(slope)[r * 64 + c] = 1000.0f - 3.0f * c + 1e-4f * (r % 5);
    const std::pair<RecordPtr *, std::pair<int, int>> images[] = {
        {&noisy, {203, 166}}, {&bowl, {256, 240}}, {&slope, {64, 48}}};
    for (const auto &[img, size] : images) {
        auto h = descriptorFor(size.first, size.second);
        ASSERT_EQ(HoGdescriptor(img->get(), h.get()), 0);
        const auto want = referenceDescriptor(*img, size.first, size.second);
        EXPECT_EQ(std::vector<float>(px(h), px(h) + want.size()), want);
    }
}

TEST(HoG, RampsLandInTheBinOfTheirGradientDirection) {
    // Rising by 1 per column: Dx is about -1, so the direction is about 180
    // degrees, bin 4, for every cell clear of the borders.
    auto ramp = image("float", 48, 40);
    for (int r = 0; r < 40; ++r)
        for (int c = 0; c < 48; ++c) px(ramp)[r * 48 + c] = static_cast<float>(c);
    auto h = descriptorFor(48, 40);
    ASSERT_EQ(HoGdescriptor2D(ramp.get(), h.get()), 0);
    for (int i = 1; i < 4; ++i)
        for (int j = 1; j < 5; ++j) EXPECT_EQ(count(h, 4, i, j), 64.0f) << i << "," << j;

    // Colour: red rises along the rows, green and blue are flat. The averaged
    // Dy is about -1/3 and Dx 0: -90 degrees, i.e. 270, bin 6.
    auto colour = image("float", 48, 40, 3), hc = descriptorFor(48, 40);
    for (int r = 0; r < 40; ++r)
        for (int c = 0; c < 48; ++c) px(colour)[r * 48 + c] = static_cast<float>(r);
    ASSERT_EQ(HoGdescriptor(colour.get(), hc.get()), 0);
    for (int i = 1; i < 4; ++i)
        for (int j = 1; j < 5; ++j) EXPECT_EQ(count(hc, 6, i, j), 64.0f) << i << "," << j;

    // Two frames are neither grey nor colour: nothing is written.
    auto two = image("float", 48, 40, 2), hn = descriptorFor(48, 40);
    EXPECT_EQ(HoGdescriptor(two.get(), hn.get()), 0);
    EXPECT_EQ(*std::max_element(px(hn), px(hn) + 6 * 5 * 9), 0.0f);
    // A descriptor without room for the cells is refused.
    auto tooSmall = image("float", 6, 4, 9);
    testing::internal::CaptureStdout();
    EXPECT_EQ(HoGdescriptor(ramp.get(), tooSmall.get()), -1);
    testing::internal::GetCapturedStdout();
}

TEST(HoG, MaxgradAveragesTheThreeFrames) {
    auto gx3 = image("float", 2, 1, 3), gy3 = image("float", 2, 1, 3), gx = image("float", 2, 1),
         gy = image("float", 2, 1);
    const float xs[6] = {1, 2, 4, 8, 7, -1}, ys[6] = {3, 0, 3, 0, 3, 9};
    std::copy(xs, xs + 6, px(gx3));
    std::copy(ys, ys + 6, px(gy3));
    EXPECT_EQ(maxgrad(gx3.get(), gy3.get(), gx.get(), gy.get()), 0);
    EXPECT_FLOAT_EQ(px(gx)[0], 4.0f);  // (1 + 4 + 7) / 3
    EXPECT_FLOAT_EQ(px(gx)[1], 3.0f);  // (2 + 8 - 1) / 3
    EXPECT_FLOAT_EQ(px(gy)[0], 3.0f);
    EXPECT_FLOAT_EQ(px(gy)[1], 3.0f);
    auto wide = image("float", 3, 1);
    EXPECT_EQ(maxgrad(gx3.get(), gy3.get(), wide.get(), gy.get()), -1);
}

TEST(HoG, GlyphsAreSortedLinesInsideTheirBlocks) {
    // Only the second of two cells has counts, all in bin 0: a horizontal
    // segment through its block centre (9 pixels on the centre row and the
    // next, plus one to the right, which falls outside the picture here).
    auto h = image("float", 2, 1, 9), p = image("float", 18, 9);
    px(h)[1] = 64.0f;
    EXPECT_EQ(ShowHoG(h.get(), p.get()), 0);
    for (int r = 0; r < 9; ++r)
        for (int c = 0; c < 18; ++c)
            EXPECT_EQ(px(p)[r * 18 + c], (r == 4 || r == 5) && c >= 9 ? 64.0f : 0.0f)
                << r << "," << c;

    // Larger counts are drawn last: the centre shows the largest.
    auto h2 = image("float", 1, 1, 9), p2 = image("float", 9, 9);
    px(h2)[0] = 50.0f;  // bin 0, horizontal
    px(h2)[2] = 14.0f;  // bin 2, 80 degrees: nearly vertical
    EXPECT_EQ(ShowHoG(h2.get(), p2.get()), 0);
    EXPECT_EQ(px(p2)[4 * 9 + 4], 50.0f);
    EXPECT_EQ(px(p2)[4 * 9 + 0], 50.0f);
    EXPECT_EQ(px(p2)[0 * 9 + 3], 14.0f);  // h = -4: y = 4 - 3.94, x = 4 - 0.69

    auto grey = image("float", 4, 4);
    EXPECT_EQ(ShowHoG(grey.get(), p2.get()), -1);

    std::mt19937 gen(4);
    std::uniform_int_distribution<int> value(0, 20);
    for (int trial = 0; trial < 50; ++trial) {
        float items[9][2];
        for (int k = 0; k < 9; ++k) items[k][0] = k, items[k][1] = value(gen);
        float copy[9][2];
        std::copy(&items[0][0], &items[0][0] + 18, &copy[0][0]);
        qsort2(items, 0, 8);
        for (int k = 0; k < 9; ++k) {
            if (k) ASSERT_LE(items[k - 1][1], items[k][1]);
            ASSERT_EQ(items[k][1], copy[static_cast<int>(items[k][0])][1]);
        }
    }
}

}  // namespace
