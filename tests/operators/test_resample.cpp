// Resampling: replication, bilinear interpolation and averaging on small
// hand-worked images, the framed (3-D) sampling, agreement of the array
// walking path with a per-pixel evaluation, and the process-ending paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tamo++.h"
#include "tamo.h"
#include "testrecords.h"

namespace {

using testsupport::ExitCalled;
using testsupport::ExitHook;
using testsupport::throwingExit;

void returningExit(int) {}

tamo::RecordPtr make(const char *type, int cols, int rows, int frames = 0) {
    int dims[4] = {frames ? 3 : 2, cols, rows, frames};
    return tamo::RecordPtr(Tamocreate(type, dims, 11, 0));
}

// A 2-D record of the given type holding `values` row by row.
tamo::RecordPtr grid(const char *type, int cols, int rows, const std::vector<double> &values) {
    tamo::RecordPtr img = make(type, cols, rows);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) Tamofpp(img.get(), r, c, values[r * cols + c]);
    return img;
}

std::vector<double> plane(TAMOHDR *img, int frame = 0) {
    const int cols = Tamodimen(img, 0), rows = Tamodimen(img, 1);
    std::vector<double> v;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) v.push_back(Tamofgp3d(img, frame, r, c));
    return v;
}

// Runs the zoom and returns what it printed.
std::string zoom(TAMOHDR *in, TAMOHDR *out, int mode, int *status = nullptr) {
    testing::internal::CaptureStdout();
    int s = Tamozoomupdown(in, out, mode);
    if (status) *status = s;
    return testing::internal::GetCapturedStdout();
}

const std::vector<double> kSquare = {0, 10, 20, 30};  // [[0, 10], [20, 30]]

TEST(Zoomupdown, ReplicationRepeatsEachPixel) {
    const std::vector<double> expected = {0,  0,  10, 10, 0,  0,  10, 10,
                                          20, 20, 30, 30, 20, 20, 30, 30};
    for (const char *type : {"float", "ubyte", "short", "double"}) {
        auto in = grid(type, 2, 2, kSquare);
        auto out = make(type, 4, 4);
        int status = 1;
        EXPECT_EQ(zoom(in.get(), out.get(), 1, &status),
                  "Image will be zoomed by pixel replication\nzoomupdown: processing a 2D image\n");
        EXPECT_EQ(status, 0);
        EXPECT_EQ(plane(out.get()), expected) << type;
    }

    // Complex records: the real parts are sampled, the output's imaginary
    // parts stay as they were.
    auto in = make("complex", 2, 2);
    float *inPx = tamo::pixels<float>(in.get());
    for (int i = 0; i < 4; ++i) {
        inPx[2 * i] = static_cast<float>(kSquare[i]);
        inPx[2 * i + 1] = -1.0f;
    }
    auto out = make("complex", 4, 4);
    float *outPx = tamo::pixels<float>(out.get());
    for (int i = 0; i < 16; ++i) outPx[2 * i + 1] = 7.0f;
    zoom(in.get(), out.get(), 1);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(outPx[2 * i], expected[i]);
        EXPECT_EQ(outPx[2 * i + 1], 7.0f);
    }
}

TEST(Zoomupdown, BilinearMapsFirstToFirstAndClampsAtTheEdge) {
    // Rows and columns are sampled at 0, 0.5, 1, 1.5; the neighbour of the
    // last sample is the last sample itself.
    auto in = grid("float", 2, 2, kSquare);
    auto out = make("float", 4, 4);
    EXPECT_EQ(zoom(in.get(), out.get(), 0),
              "Image will be zoomed by bilinear interpolation\n"
              "zoomupdown: processing a 2D image\n");
    EXPECT_EQ(plane(out.get()),
              (std::vector<double>{0, 5, 10, 10, 10, 15, 20, 20, 20, 25, 30, 30, 20, 25, 30, 30}));

    // Downscaling a linear ramp samples it exactly at sr*i, sc*j.
    std::vector<double> ramp;
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 9; ++c) ramp.push_back(4.0 * r + c);
    auto big = grid("float", 9, 6, ramp);
    auto small = make("float", 3, 4);
    zoom(big.get(), small.get(), 0);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_FLOAT_EQ(Tamofgp(small.get(), i, j), 4.0 * 1.5 * i + 3.0 * j);
}

TEST(Zoomupdown, AveragingTakesTwoByTwoMeans) {
    std::vector<double> v(16);
    for (int i = 0; i < 16; ++i) v[i] = i;
    auto in = grid("float", 4, 4, v);
    auto out = make("float", 2, 2);
    EXPECT_EQ(zoom(in.get(), out.get(), 2),
              "Image will be zoomed by averaging\nzoomupdown: processing a 2D image\n");
    EXPECT_EQ(plane(out.get()), (std::vector<double>{2.5, 4.5, 10.5, 12.5}));

    // 3 x 3 to 2 x 2: the second block would start at 1.5, truncated to 1.
    auto in3 = grid("ubyte", 3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    auto out3 = make("float", 2, 2);
    zoom(in3.get(), out3.get(), 2);
    EXPECT_EQ(plane(out3.get()), (std::vector<double>{3, 4, 6, 7}));

    // A single row (or column) is averaged with itself instead of reading
    // outside the image.
    auto row = grid("float", 4, 1, {2, 4, 6, 8});
    auto half = make("float", 2, 1);
    zoom(row.get(), half.get(), 2);
    EXPECT_EQ(plane(half.get()), (std::vector<double>{3, 7}));
    auto column = grid("float", 1, 4, {2, 4, 6, 8});
    auto halfColumn = make("float", 1, 2);
    zoom(column.get(), halfColumn.get(), 2);
    EXPECT_EQ(plane(halfColumn.get()), (std::vector<double>{3, 7}));
}

TEST(Zoomupdown, OtherModesWriteZerosSilently) {
    for (int mode : {5, -1, 3}) {
        auto in = grid("float", 2, 2, kSquare);
        auto out = grid("short", 3, 3, std::vector<double>(9, 9.0));
        int status = 1;
        EXPECT_EQ(zoom(in.get(), out.get(), mode, &status), "zoomupdown: processing a 2D image\n");
        EXPECT_EQ(status, 0);
        EXPECT_EQ(plane(out.get()), std::vector<double>(9, 0.0)) << mode;
    }
}

TEST(Zoomupdown, FramedImagesSampleHalfAStepFurther) {
    // A ramp 40*r + 10*c (+100 on frame 1) sampled at rows 0.5j + 0.5 and
    // columns 0.5k + 0.5, each limited to the last row and column.
    auto in = make("float", 4, 2, 2);
    for (int f = 0; f < 2; ++f)
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 4; ++c) Tamofpp3d(in.get(), f, r, c, 100.0 * f + 40 * r + 10 * c);
    auto ramp = [](int f, double r, double c) { return 100.0 * f + 40 * r + 10 * c; };

    for (int mode : {0, 2, 7}) {
        auto out = make("float", 8, 4, 2);
        std::string printed = zoom(in.get(), out.get(), mode);
        EXPECT_NE(printed.find("zoomupdown: processing a 3D, 2 4 8image\n"), std::string::npos);
        for (int f = 0; f < 2; ++f)
            for (int j = 0; j < 4; ++j)
                for (int k = 0; k < 8; ++k)
                    EXPECT_FLOAT_EQ(
                        Tamofgp3d(out.get(), f, j, k),
                        ramp(f, std::min(0.5 * j + 0.5, 1.0), std::min(0.5 * k + 0.5, 3.0)))
                        << "mode " << mode << " at " << f << "," << j << "," << k;
    }

    auto out = make("float", 8, 4, 2);
    zoom(in.get(), out.get(), 1);
    const int nearestCol[8] = {0, 1, 1, 2, 2, 3, 3, 3};
    const int nearestRow[4] = {0, 1, 1, 1};
    for (int f = 0; f < 2; ++f)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 8; ++k)
                EXPECT_EQ(Tamofgp3d(out.get(), f, j, k), ramp(f, nearestRow[j], nearestCol[k]));
}

// The bilinear value written out as the interpolator defines it, evaluated
// pixel by pixel on a plain array.
float referenceBilinear(const std::vector<float> &v, int rows, int cols, float r, float c) {
    const int r0 = static_cast<int>(r), c0 = static_cast<int>(c);
    const int r1 = std::min(r0 + 1, rows - 1), c1 = std::min(c0 + 1, cols - 1);
    const float fr = r - static_cast<float>(r0), fc = c - static_cast<float>(c0);
    const float top = v[r0 * cols + c0] * (1.0f - fc) + v[r0 * cols + c1] * fc;
    const float bottom = v[r1 * cols + c0] * (1.0f - fc) + v[r1 * cols + c1] * fc;
    return bottom * fr + top * (1.0f - fr);
}

TEST(Zoomupdown, ArrayPathAgreesBitForBitWithPerPixelEvaluation) {
    std::mt19937 gen(11);
    std::uniform_real_distribution<float> dist(-1000.0f, 1000.0f);
    const int sizes[][4] = {{23, 37, 50, 61}, {80, 100, 27, 33}, {5, 5, 17, 3}, {1, 7, 4, 9}};
    for (const auto &sz : sizes) {
        const int ri = sz[0], ci = sz[1], ro = sz[2], co = sz[3];
        std::vector<float> v(ri * ci);
        for (float &x : v) x = dist(gen);
        auto in = make("float", ci, ri);
        std::copy(v.begin(), v.end(), tamo::pixels<float>(in.get()));

        auto flat = make("float", co, ro);
        zoom(in.get(), flat.get(), 0);
        const float sr = static_cast<float>(ri) / ro, sc = static_cast<float>(ci) / co;
        for (int i = 0; i < ro; ++i) {
            for (int j = 0; j < co; ++j) {
                float r = sr * i, c = sc * j;
                if (r >= ri) r = static_cast<float>(ri - 1);
                if (c >= ci) c = static_cast<float>(ci - 1);
                const float want = referenceBilinear(v, ri, ci, r, c);
                ASSERT_EQ(tamo::pixels<float>(flat.get())[i * co + j], want)
                    << ri << "x" << ci << " -> " << ro << "x" << co << " at " << i << "," << j;
                ASSERT_EQ(bilininterp1(in.get(), 0, r, c), want);
            }
        }
    }
}

TEST(Zoomupdown, HalvingAndByteRowsMatchPerPixelEvaluationBitForBit) {
    // Halving reads neighbours as adjacent pairs, "u8bit" rows go through
    // floats; infinities and NaN among the values must still spread through
    // their zero-weighted products exactly as pixel by pixel, and -0 keep
    // its sign. Where two NaNs meet, which one comes out (its sign) is the
    // processor's choice of operand, so NaN results are compared as NaN.
    const float inf = std::numeric_limits<float>::infinity();
    const float specials[] = {inf, -inf, std::nanf(""), -0.0f, 0.0f};
    std::mt19937 gen(5);
    std::uniform_real_distribution<float> dist(-100.0f, 100.0f);
    // Exact halvings (rows of several read-ahead blocks among them), halving
    // of the columns only with rows between samples, and near-halvings.
    const int sizes[][4] = {{40, 46, 20, 23}, {41, 47, 20, 23}, {20, 23, 40, 46}, {6, 4, 3, 2},
                            {8, 302, 4, 151}, {41, 46, 20, 23}, {9, 300, 4, 150}, {7, 261, 3, 130}};
    auto bits = [](float x) {
        uint32_t b;
        std::memcpy(&b, &x, sizeof b);
        return std::isnan(x) ? 0x7fc00000u : b;
    };
    for (const auto &sz : sizes) {
        const int ri = sz[0], ci = sz[1], ro = sz[2], co = sz[3];
        std::vector<float> v(ri * ci);
        std::vector<uint8_t> bytes(v.size());
        for (std::size_t k = 0; k < v.size(); ++k) {
            v[k] = k % 7 == 3 ? specials[k % 5] : dist(gen);
            bytes[k] = static_cast<uint8_t>(gen() % 256);
        }
        auto in = make("float", ci, ri);
        std::copy(v.begin(), v.end(), tamo::pixels<float>(in.get()));
        auto inBytes = make("ubyte", ci, ri);
        std::copy(bytes.begin(), bytes.end(), tamo::pixels<uint8_t>(inBytes.get()));
        const std::vector<float> byteValues(bytes.begin(), bytes.end());

        auto bilinear = make("float", co, ro);
        auto average = make("float", co, ro);
        auto byteOut = make("ubyte", co, ro);
        zoom(in.get(), bilinear.get(), 0);
        zoom(in.get(), average.get(), 2);
        zoom(inBytes.get(), byteOut.get(), 0);
        const float sr = static_cast<float>(ri) / ro, sc = static_cast<float>(ci) / co;
        for (int i = 0; i < ro; ++i) {
            for (int j = 0; j < co; ++j) {
                float r = sr * i, c = sc * j;
                if (r >= ri) r = static_cast<float>(ri - 1);
                if (c >= ci) c = static_cast<float>(ci - 1);
                const int at = i * co + j;
                SCOPED_TRACE(testing::Message() << ri << "x" << ci << " -> " << ro << "x" << co
                                                << " at " << i << "," << j);
                ASSERT_EQ(bits(tamo::pixels<float>(bilinear.get())[at]),
                          bits(referenceBilinear(v, ri, ci, r, c)));
                const int r2 = std::min(ri - 2, static_cast<int>(r));
                const int c2 = std::min(ci - 2, static_cast<int>(c));
                const double sum = static_cast<double>(v[r2 * ci + c2]) + v[r2 * ci + c2 + 1] +
                                   v[(r2 + 1) * ci + c2] + v[(r2 + 1) * ci + c2 + 1];
                ASSERT_EQ(bits(tamo::pixels<float>(average.get())[at]),
                          bits(static_cast<float>(sum) / 4.0f));
                ASSERT_EQ(tamo::pixels<uint8_t>(byteOut.get())[at],
                          static_cast<uint8_t>(referenceBilinear(byteValues, ri, ci, r, c)));
            }
        }
    }
}

TEST(Zoomupdown, ReplicationMatchesPerPixelNearestSample) {
    // Doubling reads each sample for two columns and copies rows that repeat
    // the one above; other ratios pick samples from the column table. Runs
    // of several threads start their own rows.
    const int sizes[][4] = {{5, 7, 10, 14},  {5, 7, 11, 15},   {300, 301, 600, 602},
                            {9, 40, 20, 81}, {40, 30, 13, 17}, {3, 2, 7, 5}};
    std::mt19937 gen(9);
    std::uniform_real_distribution<float> dist(-1e6f, 1e6f);
    for (const auto &sz : sizes) {
        const int ri = sz[0], ci = sz[1], ro = sz[2], co = sz[3];
        for (const char *type : {"float", "short"}) {
            auto in = make(type, ci, ri);
            for (int r = 0; r < ri; ++r)
                for (int c = 0; c < ci; ++c) Tamofpp(in.get(), r, c, std::floor(dist(gen)));
            auto out = make(type, co, ro);
            zoom(in.get(), out.get(), 1);
            const float sr = static_cast<float>(ri) / ro, sc = static_cast<float>(ci) / co;
            for (int i = 0; i < ro; ++i)
                for (int j = 0; j < co; ++j) {
                    const int r = std::min(ri - 1, static_cast<int>(sr * i));
                    const int c = std::min(ci - 1, static_cast<int>(sc * j));
                    ASSERT_EQ(Tamofgp(out.get(), i, j), Tamofgp(in.get(), r, c))
                        << type << " " << ri << "x" << ci << " -> " << ro << "x" << co << " at "
                        << i << "," << j;
                }
        }
    }
}

TEST(Zoomupdown, InterleavedRecordsGiveTheSameResultsAsPlanarOnes) {
    // An "Su8bit3" record goes through the pixel accessors, a planar "u8bit"
    // record with the same values through the array walk.
    const int cols = 5, rows = 3;
    auto planar = make("ubyte", cols, rows, 3);
    auto interleaved = make("Su8bit3", cols, rows, 3);
    for (int f = 0; f < 3; ++f)
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                const int value = (37 * f + 11 * r * r + 5 * c) % 256;
                Tamoipp3d(planar.get(), f, r, c, value);
                Tamoipp3d(interleaved.get(), f, r, c, value);
            }
    for (int mode : {0, 1}) {
        auto a = make("float", 8, 7, 3);
        auto b = make("float", 8, 7, 3);
        zoom(planar.get(), a.get(), mode);
        zoom(interleaved.get(), b.get(), mode);
        for (int f = 0; f < 3; ++f) EXPECT_EQ(plane(a.get(), f), plane(b.get(), f)) << mode;
    }

    // A 2-D interleaved record has no single plane to resample: refused.
    auto rgb = make("Su8bit3", cols, rows);
    auto out = make("float", 8, 7);
    int status = 0;
    EXPECT_EQ(zoom(rgb.get(), out.get(), 0, &status),
              "Image will be zoomed by bilinear interpolation\n"
              "zoomupdown: processing a 2D image\n"
              "Tamozoomupdown: cannot resample images of type Su8bit3\n");
    EXPECT_EQ(status, -1);
    EXPECT_EQ(Tamoerr, 1024);
}

TEST(Zoomupdown, StoresValuesAsThePixelWritersDo) {
    const std::vector<double> values = {300.7, -1.0, 65537.9, -2.5e10};
    auto in = grid("double", 2, 2, values);
    for (const char *type : {"ubyte", "byte", "short", "ushort", "int", "float"}) {
        auto out = make(type, 2, 2);
        zoom(in.get(), out.get(), 1);
        auto direct = grid(type, 2, 2, values);
        EXPECT_EQ(plane(out.get()), plane(direct.get())) << type;
    }
}

TEST(Zoomupdown, FrameMismatchEndsTheProcess) {
    auto in = make("float", 4, 3, 3);
    auto out = make("float", 8, 6, 2);
    EXPECT_EXIT(Tamozoomupdown(in.get(), out.get(), 0), testing::ExitedWithCode(255), "");

    ExitHook hook(throwingExit);
    testing::internal::CaptureStdout();
    try {
        Tamozoomupdown(in.get(), out.get(), 1);
        ADD_FAILURE() << "the exit handler was not called";
    } catch (const ExitCalled &s) {
        EXPECT_EQ(s.status, -1);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Image will be zoomed by pixel replication\n"
              "Tamozoomupdown: both input and output images must have same number of frames\n"
              "input image is 4 3 3, output is 8 6 2\n");

    // A 3-D input into a 2-D output of one frame is fine.
    auto single = make("float", 2, 2, 1);
    auto flatOut = make("float", 4, 4);
    int status = 1;
    zoom(single.get(), flatOut.get(), 0, &status);
    EXPECT_EQ(status, 0);
}

TEST(Zoomupdown, OneDimensionalInputEndsTheProcess) {
    int dims[2] = {1, 8};
    tamo::RecordPtr line(Tamocreate("float", dims, 11, 0));
    auto out = make("float", 4, 4);
    EXPECT_EXIT(Tamozoomupdown(line.get(), out.get(), 0), testing::ExitedWithCode(255), "");
    {
        ExitHook hook(throwingExit);
        testing::internal::CaptureStdout();
        EXPECT_THROW(Tamozoomupdown(line.get(), out.get(), 0), ExitCalled);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "Image will be zoomed by bilinear interpolation\n"
                  "zoomupdown: bug in case statement!\n");
    }
    ExitHook hook(returningExit);
    int status = 0;
    zoom(line.get(), out.get(), 0, &status);
    EXPECT_EQ(status, -1);
}

TEST(Zoomupdown, RefusesMissingOrEmptyImages) {
    auto img = make("float", 2, 2);
    int status = 0;
    EXPECT_EQ(zoom(nullptr, img.get(), 0, &status), "Tamozoomupdown: invalid input image\n");
    EXPECT_EQ(status, -1);
    EXPECT_EQ(zoom(img.get(), nullptr, 0, &status), "Tamozoomupdown: invalid output image\n");
    EXPECT_EQ(status, -1);

    auto empty = make("float", 0, 3);
    auto out = make("float", 2, 2);
    std::string printed = zoom(empty.get(), out.get(), 0, &status);
    EXPECT_EQ(status, -1);
    EXPECT_NE(printed.find("Tamozoomupdown: input image is empty\n"), std::string::npos);
}

TEST(Bilininterp1, InterpolatesInsideAndHoldsTheEdgeOutside) {
    auto sq = grid("float", 2, 2, kSquare);
    EXPECT_FLOAT_EQ(bilininterp1(sq.get(), 0, 0.5f, 0.5f), 15.0f);
    EXPECT_FLOAT_EQ(bilininterp1(sq.get(), 0, 0.25f, 0.75f), 12.5f);
    EXPECT_FLOAT_EQ(bilininterp1(sq.get(), 0, 1.0f, 1.0f), 30.0f);
    // Outside: read at the nearest edge, never beyond the data.
    EXPECT_FLOAT_EQ(bilininterp1(sq.get(), 0, 5.0f, -3.0f), 20.0f);
    EXPECT_FLOAT_EQ(bilininterp1(sq.get(), 0, -1.0f, 0.5f), 5.0f);
    EXPECT_FLOAT_EQ(bilininterp1(sq.get(), 0, NAN, 9.0f), 10.0f);

    // Other frames read their own plane; a 1-D record uses frame 0.
    auto framed = make("float", 2, 2, 2);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) Tamofpp3d(framed.get(), 1, r, c, kSquare[r * 2 + c] + 1000);
    EXPECT_FLOAT_EQ(bilininterp1(framed.get(), 1, 0.5f, 0.5f), 1015.0f);
    int dims[2] = {1, 3};
    tamo::RecordPtr line(Tamocreate("float", dims, 11, 0));
    Tamofpp(line.get(), 0, 1, 4.0);
    Tamofpp(line.get(), 0, 2, 8.0);
    EXPECT_FLOAT_EQ(bilininterp1(line.get(), 2, 0.0f, 1.25f), 5.0f);

    testing::internal::CaptureStderr();
    EXPECT_EQ(bilininterp1(nullptr, 0, 0.0f, 0.0f), 0.0f);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("bilininterp1: invalid image"),
              std::string::npos);
}

}  // namespace
