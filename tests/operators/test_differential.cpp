// Differential measures from Gaussian derivatives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "tamo++.h"
#include "tamo.h"
#include "testrecords.h"

namespace {

using testsupport::image;

using tamo::RecordPtr;

RecordPtr filled(int cols, int rows, const std::function<float(int, int)> &f) {
    auto img = image("float", cols, rows);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) tamo::pixels<float>(img.get())[r * cols + c] = f(r, c);
    return img;
}

float at(const RecordPtr &img, int r, int c, int f = 0) {
    return static_cast<float>(Tamofgp3d(img.get(), f, r, c));
}

RecordPtr derivative(const RecordPtr &in, int order, int direction, float sigma) {
    auto d = image("float", Tamodimen(in.get(), 0), Tamodimen(in.get(), 1));
    flDoG(in.get(), d.get(), order, direction, sigma);
    return d;
}

using Measure = int (*)(TAMOHDR *, TAMOHDR *, float);

TEST(Differential, TypeAndSizeRefusals) {
    auto in = image("float", 20, 20), out = image("float", 20, 20), small = image("float", 20, 19);
    auto bytes = image("u8bit", 20, 20);
    tamo::pixels<float>(out.get())[0] = 3.0f;
    for (Measure m : {flcurv, flLaplace, flqvar, flgmag, flgdir}) {
        EXPECT_EQ(m(bytes.get(), out.get(), 1.0f), -1);
        EXPECT_EQ(m(in.get(), bytes.get(), 1.0f), -1);
        EXPECT_EQ(m(in.get(), small.get(), 1.0f), -2);
    }
    EXPECT_EQ(flHarris(in.get(), small.get(), 1.0f), -2);
    auto twoFrames = image("float", 20, 20, 2);
    EXPECT_EQ(flmarkmax(in.get(), twoFrames.get(), 1.0f), -2);
    EXPECT_EQ(tamo::pixels<float>(out.get())[0], 3.0f);
}

TEST(Differential, CurvatureOfConstantAndDisc) {
    auto flat = filled(30, 30, [](int, int) { return 4.0f; });
    auto out = image("float", 30, 30);
    ASSERT_EQ(flcurv(flat.get(), out.get(), 1.0f), 0);
    for (int i = 0; i < 900; ++i) ASSERT_EQ(tamo::pixels<float>(out.get())[i], 0.0f);

    // A bright disc of radius 16: the isophotes are circles, curvature -1/16.
    auto disc = filled(64, 64, [](int r, int c) {
        double rho = std::hypot(r - 32.0, c - 32.0);
        return float(100.0 / (1.0 + std::exp((rho - 16.0) / 1.5)));
    });
    auto curv = image("float", 64, 64);
    ASSERT_EQ(flcurv(disc.get(), curv.get(), 1.0f), 0);
    for (auto [r, c] : {std::pair{32, 48}, {32, 16}, {16, 32}, {48, 32}})
        EXPECT_NEAR(at(curv, r, c), -1.0 / 16, 0.1 / 16) << r << "," << c;
}

TEST(Differential, CurvatureEqualsTheStepByStepExpression) {
    const float s = 1.3f;
    auto in =
        filled(25, 22, [](int r, int c) { return float(std::sin(r * 0.4) * 30 + c * c * 0.1); });
    auto got = image("float", 25, 22);
    ASSERT_EQ(flcurv(in.get(), got.get(), s), 0);
    auto lx = derivative(in, 1, 0, s), ly = derivative(in, 1, 1, s), lxx = derivative(in, 2, 0, s);
    auto lyy = derivative(in, 2, 1, s), lxy = derivative(in, 2, 2, s);
    auto a = image("float", 25, 22), b = image("float", 25, 22), n1 = image("float", 25, 22);
    auto n2 = image("float", 25, 22), n3 = image("float", 25, 22), q = image("float", 25, 22);
    auto r = image("float", 25, 22), want = image("float", 25, 22);
    flmultv(ly.get(), ly.get(), a.get());
    flmultv(lxx.get(), a.get(), n1.get());
    flmultv(lxy.get(), ly.get(), n2.get());
    flmultv(n2.get(), lx.get(), n2.get());
    flmults(n2.get(), n2.get(), -2.0f);
    flmultv(lx.get(), lx.get(), b.get());
    flmultv(lyy.get(), b.get(), n3.get());
    fladdv(n1.get(), n2.get(), n1.get());
    fladdv(n1.get(), n3.get(), n1.get());
    fladdv(b.get(), a.get(), q.get());
    ASSERT_EQ(flsqrt(q.get(), r.get()), 0);
    flmultv(q.get(), r.get(), r.get());
    fladds(r.get(), r.get(), 0.01f);
    fldivv(n1.get(), r.get(), want.get());
    EXPECT_EQ(std::memcmp(got->orvptr, want->orvptr, 25 * 22 * 4), 0);
}

TEST(Differential, LaplacianAndQuadraticVariation) {
    auto in = filled(40, 40, [](int r, int c) { return float(std::cos(r * 0.3) * 10 + c); });
    auto out = image("float", 40, 40);
    ASSERT_EQ(flLaplace(in.get(), out.get(), -2.0f), 0);
    auto lxx = derivative(in, 2, 0, 2.0f), lyy = derivative(in, 2, 1, 2.0f);
    for (int i = 0; i < 1600; i += 37) {
        const float xx = tamo::pixels<float>(lxx.get())[i], yy = tamo::pixels<float>(lyy.get())[i];
        EXPECT_EQ(tamo::pixels<float>(out.get())[i], xx * xx + yy * yy);
        EXPECT_GE(tamo::pixels<float>(out.get())[i], 0.0f);
    }
    ASSERT_EQ(flLaplace(in.get(), out.get(), 2.0f), 0);
    EXPECT_EQ(at(out, 20, 20), at(lxx, 20, 20) + at(lyy, 20, 20));

    // x^2 has Lxx = 2 and nothing else: 4 sigma^2.
    auto square = filled(40, 40, [](int, int c) { return float((c - 20) * (c - 20)); });
    for (float sigma : {1.0f, 2.0f}) {
        ASSERT_EQ(flqvar(square.get(), out.get(), sigma), 0);
        EXPECT_NEAR(at(out, 20, 20), 4 * sigma * sigma, 0.05 * 4 * sigma * sigma);
    }
    // Too few rows: every derivative is refused and reported, and the
    // filter's status is passed on with the output untouched.
    auto shortImage = filled(12, 10, [](int r, int) { return float(r); });
    auto shortOut = filled(12, 10, [](int, int) { return 7.0f; });
    testing::internal::CaptureStdout();
    const int status = flqvar(shortImage.get(), shortOut.get(), 1.0f);
    const char *refused = "flDoG:kernel is 4 x 4, but image is only 10 x 12. Exiting\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string(refused) + "non zero value returned from flDoG2,0\n" + refused +
                  "non zero value returned from flDoG2,1\n" + refused +
                  "value -5 returned from flDoG2,2\n");
    EXPECT_EQ(status, -5);
    EXPECT_EQ(at(shortOut, 5, 5), 7.0f);
}

TEST(Differential, FilterFailuresArePassedOnAndWriteNothing) {
    // 40 x 30 pixels: sigma 100 needs far more rows; sigma 0 has no
    // derivative. Blurring at sigma 0 (MarkMax's copy) is no failure.
    const Measure measures[] = {flcurv, flLaplace, flqvar, flgmag, flgdir, flHarris};
    auto in = filled(40, 30, [](int r, int c) { return float(r * c % 7); });
    auto out = filled(40, 30, [](int, int) { return 7.0f; });
    auto picture = image("float", 40, 30, 3);
    for (float sigma : {100.0f, 0.0f}) {
        const int expected = sigma == 0.0f ? -7 : -5;
        testing::internal::CaptureStdout();
        for (Measure m : measures) EXPECT_EQ(m(in.get(), out.get(), sigma), expected) << sigma;
        if (sigma != 0.0f) EXPECT_EQ(flmarkmax(in.get(), picture.get(), sigma), expected);
        testing::internal::GetCapturedStdout();
        for (int i = 0; i < 40 * 30; ++i) ASSERT_EQ(tamo::pixels<float>(out.get())[i], 7.0f);
    }
    for (int i = 0; i < 40 * 30 * 3; ++i) ASSERT_EQ(tamo::pixels<float>(picture.get())[i], 0.0f);
}

TEST(Differential, GradientMagnitudeAndDirectionOfRamps) {
    auto alongX = filled(30, 30, [](int, int c) { return float(c); });
    auto alongY = filled(30, 30, [](int r, int) { return float(2 * r); });
    auto out = image("float", 30, 30);
    ASSERT_EQ(flgmag(alongX.get(), out.get(), 1.0f), 0);
    EXPECT_NEAR(at(out, 15, 15), 1.0f, 1e-3);
    ASSERT_EQ(flgmag(alongY.get(), out.get(), 1.0f), 0);
    EXPECT_NEAR(at(out, 15, 15), 2.0f, 2e-3);
    // Lx of an increasing ramp is negative under correlation: direction pi.
    ASSERT_EQ(flgdir(alongX.get(), out.get(), 1.0f), 0);
    EXPECT_NEAR(std::fabs(at(out, 15, 15)), M_PI, 1e-5);
    ASSERT_EQ(flgdir(alongY.get(), out.get(), 1.0f), 0);
    EXPECT_NEAR(at(out, 15, 15), -M_PI / 2, 1e-5);
}

TEST(Differential, HarrisRespondsAtCornersAndKeepsBorders) {
    auto square = filled(30, 30, [](int r, int c) { return r >= 12 && c >= 12 ? 100.0f : 0.0f; });
    auto out = image("float", 30, 30);
    for (int i = 0; i < 900; ++i) tamo::pixels<float>(out.get())[i] = 7.0f;
    ASSERT_EQ(flHarris(square.get(), out.get(), 1.0f), 0);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(at(out, 0, i), 7.0f);
        EXPECT_EQ(at(out, 29, i), 7.0f);
        EXPECT_EQ(at(out, i, 0), 7.0f);
        EXPECT_EQ(at(out, i, 29), 7.0f);
    }
    // The response from its definition at a corner and an edge.
    auto gx = derivative(square, 1, 0, 1.0f), gy = derivative(square, 1, 1, 1.0f);
    auto response = [&](int j, int c) {
        double sxx = 0, syy = 0, sxy = 0;
        for (int r = j - 1; r <= j + 1; ++r)
            for (int k = c - 1; k <= c + 1; ++k) {
                double x = at(gx, r, k), y = at(gy, r, k);
                sxx += x * x, syy += y * y, sxy += x * y;
            }
        double a = sxx / 9, b = syy / 9, d = sxy / 9;
        return float(b * a - d * d - 0.07 * (a + b) * (a + b));
    };
    EXPECT_FLOAT_EQ(at(out, 12, 12), response(12, 12));
    EXPECT_FLOAT_EQ(at(out, 12, 22), response(12, 22));
    EXPECT_GT(at(out, 12, 12), 0.0f);
    EXPECT_LT(at(out, 12, 22), 0.0f);
    EXPECT_EQ(at(out, 3, 3), 0.0f);  // flat

    auto wide = image("64flt", 30, 30);
    ASSERT_EQ(flHarris(square.get(), wide.get(), 1.0f), 0);
    EXPECT_EQ(static_cast<float>(Tamofgp(wide.get(), 12, 12)), at(out, 12, 12));
}

TEST(Differential, MarkMaxPaintsStrictMaxima) {
    auto in = filled(20, 20, [](int r, int c) {
        if (r == 4 && c == 4) return 10.0f;
        if (r == 12 && (c == 12 || c == 13)) return 8.0f;  // plateau: no maximum
        return 0.0f;
    });
    auto out = image("float", 20, 20, 3);
    for (int i = 0; i < 1200; ++i) tamo::pixels<float>(out.get())[i] = 77.0f;
    testing::internal::CaptureStdout();
    ASSERT_EQ(flmarkmax(in.get(), out.get(), 0.0f), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "starting..\n");
    EXPECT_EQ(at(out, 4, 4, 0), 255.0f);
    EXPECT_EQ(at(out, 4, 4, 1), 0.0f);
    EXPECT_EQ(at(out, 4, 4, 2), 0.0f);
    for (int f = 0; f < 3; ++f) {
        EXPECT_EQ(at(out, 12, 12, f), 204.0f);  // 8 of 0..10 stretched, unmarked
        EXPECT_EQ(at(out, 12, 13, f), 204.0f);
        EXPECT_EQ(at(out, 7, 7, f), 0.0f);
        EXPECT_EQ(at(out, 0, 4, f), 77.0f);  // border untouched
    }
    // The blurred peak is still a maximum; the blurred plateau is symmetric.
    testing::internal::CaptureStdout();
    ASSERT_EQ(flmarkmax(in.get(), out.get(), 1.0f), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(at(out, 4, 4, 1), 0.0f);
    EXPECT_EQ(at(out, 4, 4, 0), 255.0f);
    EXPECT_NE(at(out, 12, 12, 1), 0.0f);

    // Three frames: the picture shows the maxima of the last frame.
    auto cube = image("float", 20, 20, 3);
    float *p = tamo::pixels<float>(cube.get());
    p[1 * 400 + 5 * 20 + 5] = 50.0f;
    p[2 * 400 + 9 * 20 + 9] = 50.0f;
    testing::internal::CaptureStdout();
    ASSERT_EQ(flmarkmax(cube.get(), out.get(), 0.0f), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(at(out, 5, 5, 0), 0.0f);  // frame 1's peak: shown green, not marked
    EXPECT_EQ(at(out, 5, 5, 1), 255.0f);
    EXPECT_EQ(at(out, 9, 9, 0), 255.0f);  // frame 2's peak: marked red
    EXPECT_EQ(at(out, 9, 9, 2), 0.0f);
}

}  // namespace
