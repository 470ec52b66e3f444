// Gaussian-derivative filtering and edge padding.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <vector>

#include "tamo++.h"
#include "tamo.h"
#include "testrecords.h"

namespace {

using testsupport::ExitCalled;
using testsupport::image;
using testsupport::throwingExit;

using tamo::RecordPtr;

RecordPtr filled(int cols, int rows, int frames, const std::function<float(int, int, int)> &f) {
    auto img = image("float", cols, rows, frames);
    float *p = tamo::pixels<float>(img.get());
    for (int k = 0; k < std::max(frames, 1); ++k)
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) *p++ = f(k, r, c);
    return img;
}

float at(const RecordPtr &img, int r, int c, int f = 0) {
    return static_cast<float>(Tamofgp3d(img.get(), f, r, c));
}

// The kernel value of (order, direction) straight from its formula.
double kernelValue(int order, int direction, float sigma, int x, int y) {
    const float s = std::fabs(sigma);
    const double s2 = static_cast<float>(s * s), s4 = s2 * s2, s6 = s4 * s2, c = 6.283185307179586;
    const double g = std::exp(-(x * x + y * y) / (2 * s2));
    auto d2 = [&](double t) { return t * t / (c * s6) - 1 / (c * s4); };
    auto d3 = [&](double t) { return 3 * t / (c * s6) - t * t * t / (c * s6 * s2); };
    switch (direction * 4 + order) {
        case 0:
        case 4:
            return g / (c * s2);
        case 1:
            return -x / (c * s4) * g;
        case 2:
            return d2(x) * g;
        case 3:
            return d3(x) * g;
        case 5:
            return -y / (c * s4) * g;
        case 6:
            return d2(y) * g;
        case 7:
            return d3(y) * g;
        case 10:
            return x * y / (c * s6) * g;
        default: {
            double v = (d2(y) + d2(x)) * g;
            return sigma < 0 ? v * v : v;
        }
    }
}

// Direct (2K+1)^2 correlation over the replicated border, in double.
std::vector<double> direct(const RecordPtr &in, int order, int direction, float sigma, int f = 0) {
    const int cols = Tamodimen(in.get(), 0), rows = Tamodimen(in.get(), 1);
    const int k = static_cast<int>(3.0 * std::fabs(sigma)) + 1;
    std::vector<double> out(static_cast<size_t>(rows) * cols);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            double sum = 0;
            for (int y = -k; y <= k; ++y)
                for (int x = -k; x <= k; ++x)
                    sum +=
                        static_cast<float>(kernelValue(order, direction, sigma, x, y)) *
                        at(in, std::clamp(r + y, 0, rows - 1), std::clamp(c + x, 0, cols - 1), f);
            out[static_cast<size_t>(r) * cols + c] = sum;
        }
    return out;
}

int lastStatus = 0;
void returningExit(int status) {
    lastStatus = status;
}

TEST(DoG, ArgumentAndSizeRefusalsLeaveOutputUntouched) {
    auto in = filled(5, 17, 0, [](int, int r, int c) { return float(r + c); });
    auto out = image("float", 5, 17);
    tamo::pixels<float>(out.get())[0] = 9.0f;
    struct Case {
        int order, direction;
        float sigma;
        int rc;
        const char *message;
    };
    const Case cases[] = {
        {4, 0, 1, -1, "flDoG: cannot take derivatives higher than third order. Sorry.\n"},
        {1, 2, 1, -2, "flDoG: cannot compute first deriv wrt x and y. Exiting.\n"},
        {1, 0, 0, -7, "flDoG: sigma must not be zero for derivatives\n"},
        // Narrower Gaussians have weights that overflow (blur at 1e-30: NaN).
        {0, 0, 1e-30f, -7, "flDoG: sigma must be 0 or at least 0.01 in size\n"},
        {2, 1, -0.0099f, -7, "flDoG: sigma must be 0 or at least 0.01 in size\n"},
        {1, 0, 1, -5, "flDoG:kernel is 4 x 4, but image is only 17 x 5. Exiting\n"},
    };
    for (const Case &c : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(flDoG(in.get(), out.get(), c.order, c.direction, c.sigma), c.rc);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
    }
    // 4K + 2 rows are enough; the width is not checked.
    auto eighteen = filled(3, 18, 0, [](int, int, int) { return 1.0f; });
    auto result = image("float", 3, 18);
    EXPECT_EQ(flDoG(eighteen.get(), result.get(), 0, 0, 1.0f), 0);

    auto bytes = image("u8bit", 3, 18), small = image("float", 3, 17);
    testing::internal::CaptureStdout();
    EXPECT_EQ(flDoG(bytes.get(), result.get(), 0, 0, 1.0f), -6);
    EXPECT_EQ(flDoG(eighteen.get(), small.get(), 0, 0, 1.0f), -8);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "flDoG: Data type of input image MUST be float. Exiting\n"
              "flDoG: output image must be a numeric image at least as large as the input. "
              "Exiting\n");
    EXPECT_EQ(tamo::pixels<float>(out.get())[0], 9.0f);
}

TEST(DoGDeathTest, ImpossibleArgumentsEndTheProcess) {
    auto in = image("float", 8, 20), out = image("float", 8, 20);
    EXPECT_EXIT(flDoG(in.get(), out.get(), 3, 2, 1.0f), testing::ExitedWithCode(253), "");
    EXPECT_EXIT(flDoG(in.get(), out.get(), 1, 3, 1.0f), testing::ExitedWithCode(252), "");
    // A negative order is refused even where direction*4 + order is valid.
    EXPECT_EXIT(flDoG(in.get(), out.get(), -1, 1, 1.0f), testing::ExitedWithCode(252), "");

    auto saved = Tamo_exitptr;
    Tamo_exitptr = throwingExit;
    testing::internal::CaptureStdout();
    try {
        flDoG(in.get(), out.get(), 3, 2, 1.0f);
        ADD_FAILURE() << "no exit";
    } catch (const ExitCalled &e) {
        EXPECT_EQ(e.status, -3);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "flDoG: cannot compute third deriv wrt xy. Exiting.\n");
    Tamo_exitptr = returningExit;
    testing::internal::CaptureStdout();
    EXPECT_EQ(flDoG(in.get(), out.get(), 0, 5, 1.0f), -4);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(lastStatus, -4);
    Tamo_exitptr = saved;
}

TEST(DoG, BlurOfConstantsAndTinySigma) {
    auto flat = filled(7, 24, 0, [](int, int, int) { return 5.0f; });
    auto out = image("float", 7, 24);
    ASSERT_EQ(flDoG(flat.get(), out.get(), 0, 0, 1.0f), 0);
    for (int r = 0; r < 24; ++r)
        for (int c = 0; c < 7; ++c) ASSERT_NEAR(at(out, r, c), 5.0f, 1e-4 * 5) << r << "," << c;
    // The kernel is not renormalised: sigma 0.2 keeps only the centre weight.
    ASSERT_EQ(flDoG(flat.get(), out.get(), 0, 1, 0.2f), 0);
    EXPECT_NEAR(at(out, 3, 3), 5.0f / (2 * M_PI * 0.04), 1e-3);
    // Sigma 0 blurs to the image itself.
    auto ramp = filled(7, 24, 0, [](int, int r, int c) { return float(r * c); });
    ASSERT_EQ(flDoG(ramp.get(), out.get(), 0, 0, 0.0f), 0);
    EXPECT_EQ(at(out, 23, 6), 138.0f);
}

TEST(DoG, DerivativesOfPolynomials) {
    const int n = 40;
    const float sigma = 1.0f;
    auto x = filled(n, n, 0, [](int, int, int c) { return float(c); });
    auto xx = filled(n, n, 0, [](int, int, int c) { return float((c - 20) * (c - 20)) / 2; });
    auto xy = filled(n, n, 0, [](int, int r, int c) { return float((r - 20) * (c - 20)); });
    auto x3 =
        filled(n, n, 0, [](int, int, int c) { return float((c - 20) * (c - 20) * (c - 20)); });
    auto yy = filled(n, n, 0, [](int, int r, int) { return float((r - 20) * (r - 20)) / 2; });
    auto out = image("float", n, n);
    struct Case {
        const RecordPtr *img;
        int order, direction;
        double want;
    };
    // Correlation flips odd orders: Dx of x is -1, the third derivative of x^3 is -6.
    const Case cases[] = {{&x, 1, 0, -1.0}, {&x, 1, 1, 0.0},  {&xx, 2, 0, 1.0},  {&yy, 2, 1, 1.0},
                          {&xx, 2, 1, 0.0}, {&xy, 2, 2, 1.0}, {&x3, 3, 0, -6.0}, {&x, 0, 3, 0.0}};
    for (const Case &c : cases) {
        ASSERT_EQ(flDoG(c.img->get(), out.get(), c.order, c.direction, sigma), 0);
        // The truncated third-order kernel keeps a small first moment.
        const double tolerance = c.order == 3 ? 0.08 : 0.02;
        for (int r = 12; r < 28; r += 5)
            for (int col = 12; col < 28; col += 5)
                EXPECT_NEAR(at(out, r, col), c.want, tolerance * std::max(1.0, std::fabs(c.want)))
                    << c.order << "," << c.direction << " at " << r << "," << col;
    }
    // Negative sigma is |sigma| away from the Laplacian.
    auto neg = image("float", n, n);
    ASSERT_EQ(flDoG(xy.get(), out.get(), 2, 2, sigma), 0);
    ASSERT_EQ(flDoG(xy.get(), neg.get(), 2, 2, -sigma), 0);
    EXPECT_EQ(at(out, 7, 9), at(neg, 7, 9));
}

TEST(DoG, SeparableAgreesWithDirectSumOfEveryKernel) {
    auto in = filled(23, 30, 0, [](int, int r, int c) {
        return float(std::sin(r * 0.7) * 40 + std::cos(c * 1.3 + r) * 25 + (r * c % 7));
    });
    auto out = image("float", 23, 30);
    const int pairs[][2] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 1},
                            {1, 1}, {2, 1}, {3, 1}, {2, 2}, {0, 3}};
    for (float sigma : {0.6f, 1.7f, -2.0f}) {
        for (auto [order, direction] : pairs) {
            const int k = static_cast<int>(3.0 * std::fabs(sigma)) + 1;
            if (30 < 4 * k + 2) continue;
            ASSERT_EQ(flDoG(in.get(), out.get(), order, direction, sigma), 0);
            const std::vector<double> want = direct(in, order, direction, sigma);
            double scale = 0, worst = 0;
            for (double v : want) scale = std::max(scale, std::fabs(v));
            for (int i = 0; i < 23 * 30; ++i)
                worst = std::max(worst, std::fabs(tamo::pixels<float>(out.get())[i] - want[i]));
            EXPECT_LE(worst, 1e-5 * scale) << order << "," << direction << " sigma " << sigma;
        }
    }
}

TEST(DoG, FramesOutputTypesAndInPlace) {
    auto cube =
        filled(9, 20, 3, [](int f, int r, int c) { return float((f + 1) * (r * 3 + c * c)); });
    auto out = image("float", 9, 20, 3);
    ASSERT_EQ(flDoG(cube.get(), out.get(), 1, 1, 1.2f), 0);
    for (int f = 0; f < 3; ++f) {
        // Each frame is filtered with its own borders, like a lone image.
        auto frame = filled(9, 20, 0, [&](int, int r, int c) { return at(cube, r, c, f); });
        auto alone = image("float", 9, 20);
        ASSERT_EQ(flDoG(frame.get(), alone.get(), 1, 1, 1.2f), 0);
        for (int r : {0, 10, 19})
            for (int c : {0, 4, 8}) EXPECT_EQ(at(out, r, c, f), at(alone, r, c)) << f;
    }
    // Any numeric output type, written through the pixel writer.
    auto wide = image("64flt", 9, 20, 3);
    ASSERT_EQ(flDoG(cube.get(), wide.get(), 1, 1, 1.2f), 0);
    EXPECT_EQ(Tamofgp3d(wide.get(), 2, 5, 5), at(out, 5, 5, 2));
    // The input may be its own output.
    ASSERT_EQ(flDoG(cube.get(), cube.get(), 1, 1, 1.2f), 0);
    EXPECT_EQ(std::memcmp(cube->orvptr, out->orvptr, 9 * 20 * 3 * 4), 0);
}

TEST(DoG, PaddingReplicatesEdgesOfTheChosenFrame) {
    auto in = filled(3, 2, 2, [](int f, int r, int c) { return float(100 * f + 10 * r + c); });
    RecordPtr pad(padme1(in.get(), 2, 1, 1));
    ASSERT_TRUE(pad);
    ASSERT_EQ(Tamodimen(pad.get(), 0), 5);
    ASSERT_EQ(Tamodimen(pad.get(), 1), 6);
    const float want[6][5] = {{100, 100, 101, 102, 102}, {100, 100, 101, 102, 102},
                              {100, 100, 101, 102, 102}, {110, 110, 111, 112, 112},
                              {110, 110, 111, 112, 112}, {110, 110, 111, 112, 112}};
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 5; ++c) EXPECT_EQ(at(pad, r, c), want[r][c]) << r << "," << c;
    testing::internal::CaptureStderr();
    EXPECT_EQ(padme1(in.get(), 1, 1, 2), nullptr);
    EXPECT_EQ(padme1(in.get(), -1, 1, 0), nullptr);
    // Padded sizes that wrap an int, or exceed a record, are refused.
    for (int big : {INT_MAX, INT_MAX / 2, INT_MAX / 2 - 1, 1 << 28}) {
        EXPECT_EQ(padme1(in.get(), big, 0, 0), nullptr) << big;
        EXPECT_EQ(padme1(in.get(), 0, big, 0), nullptr) << big;
    }
    auto bytes = image("u8bit", 3, 2);
    EXPECT_EQ(padme1(bytes.get(), 1, 1, 0), nullptr);
    testing::internal::GetCapturedStderr();
}

}  // namespace
