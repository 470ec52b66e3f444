// Histogram equalisation: refusals, whole-image and window modes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tamo++.h"
#include "tamo.h"
#include "testrecords.h"

namespace {

using testsupport::image;
using testsupport::stdoutOf;

using tamo::RecordPtr;

float *data(const RecordPtr &img) {
    return tamo::pixels<float>(img.get());
}

// Window mode by the book: full (2N+1)^2 window shifted inside the image, a
// 258-bin histogram at scale 256, the centre's index at scale 255.
float windowValue(const float *px, int rows, int cols, int r, int c, int n) {
    auto span = [n](int x, int len, int &lo, int &hi) {
        lo = x - n, hi = x + n;
        if (lo < 0) lo = 0, hi = 2 * n;
        if (hi >= len) hi = len - 1, lo = len - 2 * n - 1;
    };
    int r0, r1, c0, c1;
    span(r, rows, r0, r1);
    span(c, cols, c0, c1);
    float mx = -1e6f, mn = 1e6f;
    for (int y = r0; y <= r1; ++y)
        for (int x = c0; x <= c1; ++x)
            mx = std::max(mx, px[y * cols + x]), mn = std::min(mn, px[y * cols + x]);
    if (mx == mn) return 0.0f;
    float h[258] = {};
    for (int y = r0; y <= r1; ++y)
        for (int x = c0; x <= c1; ++x) h[int(((px[y * cols + x] - mn) / (mx - mn)) * 256.0)] += 1;
    float sum = 0;
    for (int b = 0; b < 256; ++b) sum += h[b];
    float cdf[256];
    cdf[0] = h[0] / sum;
    for (int b = 1; b < 256; ++b) cdf[b] = cdf[b - 1] + h[b] / sum;
    const float v = px[r * cols + c];
    int index = mx - mn < 0.5f ? 0 : std::min(255, int(std::floor((v - mn) * 255.0f / (mx - mn))));
    return std::min(255.0f, 255.0f * cdf[index]);
}

TEST(HistogramEq, RefusesSmallFlatAndNonFloatImagesLeavingOutputUntouched) {
    auto in = image("float", 10, 10), out = image("float", 10, 10);
    data(out)[0] = 7.0f;
    int rc = 0;
    std::string text = stdoutOf([&] { rc = flHistogramEq(in.get(), out.get(), 10); });
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(text,
              "Hist0.0:Cannot equalize histogram of an image (10 x 10 )smaller than the "
              "neighborhood(10)\n");

    // A constant image passes the size check in whole-image mode but is flat.
    for (int i = 0; i < 100; ++i) data(in)[i] = 3.0f;
    text = stdoutOf([&] { rc = flHistogramEq(in.get(), out.get(), 0); });
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(text, "maximum = minimum. Somethings is wrong with this image\n");

    auto bytes = image("u8bit", 10, 10);
    text = stdoutOf([&] { rc = flHistogramEq(bytes.get(), out.get(), 2); });
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(text, "flHistogramEq: input must be float\n");

    data(in)[5] = 4.0f;
    auto small = image("float", 10, 9);
    text = stdoutOf([&] { rc = flHistogramEq(in.get(), small.get(), 0); });
    EXPECT_EQ(rc, -3);
    EXPECT_EQ(data(out)[0], 7.0f);
    EXPECT_EQ(data(small)[0], 0.0f);
}

TEST(HistogramEq, WholeImageMapsEachValueToItsCumulativeShare) {
    // Half 0, half 100: the cumulative shares are 1/2 and 1.
    auto in = image("float", 8, 6), out = image("float", 8, 6);
    for (int i = 0; i < 48; ++i) data(in)[i] = i < 24 ? 0.0f : 100.0f;
    EXPECT_EQ(flHistogramEq(in.get(), out.get(), 0), 0);
    EXPECT_EQ(data(out)[0], 127.5f);
    EXPECT_EQ(data(out)[47], 255.0f);

    // Levels 10, 20, 40 with counts 1, 2, 5 of 8: bins 0, 85 and 255 hold
    // 1/8, 3/8 and 8/8; other types are written through the pixel writer.
    auto three = image("float", 4, 2), bytes = image("u8bit", 4, 2);
    const float levels[8] = {40, 10, 40, 20, 40, 20, 40, 40};
    std::copy(levels, levels + 8, data(three));
    EXPECT_EQ(flHistogramEq(three.get(), bytes.get(), 0), 0);
    const uint8_t *b = tamo::pixels<uint8_t>(bytes.get());
    EXPECT_EQ(b[1], 31);  // 255 / 8 = 31.875
    EXPECT_EQ(b[3], 95);  // 255 * 3/8 = 95.625
    EXPECT_EQ(b[0], 255);
}

// Whole-image mode of a grey image by the book: the range from -/+1e6, bins
// by the double-precision division, the shares, 255 times the cumulative
// share.
std::vector<float> wholeImageByTheBook(const std::vector<float> &v) {
    float mx = -1e6f, mn = 1e6f;
    for (float x : v) mx = x > mx ? x : mx, mn = x < mn ? x : mn;
    const float range = mx - mn;
    auto bin = [&](float x) {
        const double q = static_cast<double>(x - mn) * 255.0 / static_cast<double>(range);
        return q > 0.0 ? static_cast<int>(std::min(q, 255.0)) : 0;
    };
    float h[256] = {};
    for (float x : v) h[bin(x)] += 1.0f;
    float cdf[256];
    for (int b = 0; b < 256; ++b)
        cdf[b] = (b ? cdf[b - 1] : 0.0f) + h[b] / static_cast<float>(v.size());
    std::vector<float> out;
    for (float x : v) out.push_back(255.0f * cdf[bin(x)]);
    return out;
}

TEST(HistogramEq, WholeImageBinsAreExactAtEveryStep) {
    // Values on the edges between bins, where the division's result is a
    // whole number or just below one, and their neighbouring floats, for
    // ranges of every size, beyond the +-1e6 starting extremes, and with NaN
    // and infinite values.
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float lo, hi;
    } ranges[] = {{0, 255},     {0, 1},         {-3.7f, 1000},   {1e-39f, 3e-39f}, {0.1f, 0.7f},
                  {2e6f, 5e6f}, {-7e6f, -3e6f}, {-1e30f, 1e30f}, {-5, inf}};
    for (const auto &r : ranges) {
        SCOPED_TRACE(testing::Message() << r.lo << " " << r.hi);
        std::vector<float> values = {r.lo, r.hi, NAN};
        const float mn = std::min(r.lo, 1e6f), mx = std::max(r.hi, -1e6f);
        for (int k = 0; k <= 255; ++k) {
            const float edge = mn + static_cast<float>(k * (static_cast<double>(mx) - mn) / 255.0);
            for (float v : {edge, std::nextafter(edge, -inf), std::nextafter(edge, inf)})
                if (v >= r.lo && v <= r.hi) values.push_back(v);
        }
        auto in = image("float", static_cast<int>(values.size()), 1);
        auto out = image("float", static_cast<int>(values.size()), 1);
        std::copy(values.begin(), values.end(), data(in));
        int rc = 1;
        stdoutOf([&] { rc = flHistogramEq(in.get(), out.get(), 0); });  // negative borders
        ASSERT_EQ(rc, 0);
        const std::vector<float> want = wholeImageByTheBook(values);
        for (size_t i = 0; i < values.size(); ++i)
            ASSERT_EQ(data(out)[i], want[i]) << i << " " << values[i];
    }
}

TEST(HistogramEq, PicturesOfWholeLevelsGiveTheSameAsAnyOtherImage) {
    // Whole levels 0 .. 255 take their own path; anything else in any chunk
    // (here near the end, after many chunks of levels) sends the image down
    // the general one. Both must give what the book gives.
    const int side = 131;  // 17,161 values: four chunks and a ragged tail
    const struct {
        const char *name;
        int lo, hi;    // levels drawn from lo .. hi
        float oddOne;  // put at value 17,000 unless 0
    } cases[] = {{"levels 0..255", 0, 255, 0.0f},
                 {"levels 10..20", 10, 20, 0.0f},
                 {"levels 0..3", 0, 3, 0.0f},
                 {"a half level", 0, 255, 7.5f},
                 {"a negative zero", 1, 200, -0.0f},
                 {"a level above 255", 0, 255, 256.0f},
                 {"NaN", 0, 255, NAN}};
    std::mt19937 gen(7);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::uniform_int_distribution<int> level(c.lo, c.hi);
        std::vector<float> values(side * side);
        for (float &v : values) v = static_cast<float>(level(gen));
        if (c.oddOne != 0.0f || std::signbit(c.oddOne) || std::isnan(c.oddOne))
            values[17000] = c.oddOne;
        auto in = image("float", side, side), out = image("float", side, side);
        std::copy(values.begin(), values.end(), data(in));
        ASSERT_EQ(flHistogramEq(in.get(), out.get(), 0), 0);
        const std::vector<float> want = wholeImageByTheBook(values);
        int differ = 0;
        for (size_t i = 0; i < values.size(); ++i)
            differ += std::memcmp(&data(out)[i], &want[i], sizeof(float)) != 0;
        EXPECT_EQ(differ, 0);
    }
}

TEST(HistogramEq, ColourImagesShareOneHistogramAndReportItAndNegativeBorders) {
    // Frames mostly 0, 50 and 100; 50 also appears once in frames 0 and 2.
    auto in = image("float", 3, 4, 3), out = image("float", 3, 4, 3);
    for (int i = 0; i < 36; ++i) data(in)[i] = 50.0f * (i / 12);
    data(in)[2] = 50.0f;
    data(in)[24 + 3] = 50.0f;
    data(in)[0] = -1.0f;       // corner: reported by the first row and the first column
    data(in)[12 + 5] = -2.0f;  // frame 1, row 1, last column
    data(in)[12 + 4] = -3.0f;  // interior: not reported
    const std::string text = stdoutOf([&] { EXPECT_EQ(flHistogramEq(in.get(), out.get(), 0), 0); });
    EXPECT_EQ(text.substr(0, 51), "row 0 col 0\nrow 0 col 0\nrow 1 col 2\nh[0]= 1.000000\n");
    EXPECT_NE(text.find("\nh[255]= 11.000000\np[0]= 0.027778\n"), std::string::npos);
    EXPECT_NE(text.find("\np[255]= 1.000000\n"), std::string::npos);
    int hLines = 0, pLines = 0;
    for (size_t at = 0; (at = text.find("h[", at)) != std::string::npos; ++at) ++hLines;
    for (size_t at = 0; (at = text.find("p[", at)) != std::string::npos; ++at) ++pLines;
    EXPECT_EQ(hLines, 256);
    EXPECT_EQ(pLines, 256);
    // Counts over all frames: -3, -2, -1 once each, 0 ten times, 50 twelve
    // times, 100 eleven times; a value maps to the same result in every frame.
    EXPECT_FLOAT_EQ(data(out)[1], 255.0f * 13 / 36);
    EXPECT_FLOAT_EQ(data(out)[2], 255.0f * 25 / 36);
    EXPECT_EQ(data(out)[12 + 1], data(out)[2]);
    EXPECT_EQ(data(out)[24 + 3], data(out)[2]);
    EXPECT_FLOAT_EQ(data(out)[24 + 1], 255.0f);
}

TEST(HistogramEq, WindowModeShiftsWindowsInsideTheImage) {
    // A row-dependent ramp: the result at the first and last rows tells which
    // rows their windows covered.
    auto in = image("float", 3, 5), out = image("float", 3, 5);
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 3; ++c) data(in)[r * 3 + c] = 10.0f * r + c;
    EXPECT_EQ(flHistogramEq(in.get(), out.get(), 1), 0);
    // Row 0 uses rows 0..2: the centre 0 is the smallest of nine values, and
    // the largest (22) falls into the bin left out of the distribution.
    EXPECT_FLOAT_EQ(data(out)[0], 255.0f / 8);
    // The last row uses rows 2..4: six of the eight values below the window's
    // maximum fall at or below the centre's index.
    EXPECT_FLOAT_EQ(data(out)[12], 255.0f * 6 / 8);

    // Against the plain definition on random grey and colour images.
    std::mt19937 gen(5);
    std::uniform_real_distribution<float> value(0.0f, 200.0f);
    auto grey = image("float", 13, 11), greyOut = image("float", 13, 11);
    for (int i = 0; i < 13 * 11; ++i) data(grey)[i] = std::round(value(gen));
    for (int n : {1, 3}) {
        ASSERT_EQ(flHistogramEq(grey.get(), greyOut.get(), n), 0);
        for (int r = 0; r < 11; ++r)
            for (int c = 0; c < 13; ++c)
                ASSERT_FLOAT_EQ(data(greyOut)[r * 13 + c], windowValue(data(grey), 11, 13, r, c, n))
                    << "n " << n << " at " << r << "," << c;
    }
    auto colour = image("float", 6, 7, 3), colourOut = image("float", 6, 7, 3);
    for (int i = 0; i < 6 * 7 * 3; ++i) data(colour)[i] = value(gen);
    ASSERT_EQ(flHistogramEq(colour.get(), colourOut.get(), 2), 0);
    for (int f = 0; f < 3; ++f)
        for (int r = 0; r < 7; ++r)
            for (int c = 0; c < 6; ++c)
                ASSERT_FLOAT_EQ(data(colourOut)[f * 42 + r * 6 + c],
                                windowValue(data(colour) + f * 42, 7, 6, r, c, 2));

    // A flat window gives 0; NaN and a window wider than the image are
    // handled without leaving the histogram or the image.
    auto flat = image("float", 4, 4), flatOut = image("float", 4, 4);
    for (int i = 0; i < 16; ++i) data(flat)[i] = 9.0f, data(flatOut)[i] = 1.0f;
    EXPECT_EQ(flHistogramEq(flat.get(), flatOut.get(), 1), 0);
    EXPECT_EQ(data(flatOut)[5], 0.0f);
    data(flat)[6] = NAN;
    data(flat)[7] = 1.0f;
    std::string text = stdoutOf([&] { EXPECT_EQ(flHistogramEq(flat.get(), flatOut.get(), 3), 0); });
    EXPECT_NE(text.find("iv wrong"), std::string::npos);
    for (int i = 0; i < 16; ++i)
        EXPECT_TRUE(data(flatOut)[i] >= 0.0f && data(flatOut)[i] <= 255.0f);
}

}  // namespace
