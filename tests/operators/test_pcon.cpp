// Piecewise-constant restoration: the iteration against a plain
// step-by-step evaluation, its effect, refusals and the process-ending paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "tamo++.h"
#include "tamo.h"

namespace {

using tamo::RecordPtr;

RecordPtr pconImage(int cols, int rows, const char *type = "float") {
    int dims[3] = {2, cols, rows};
    return RecordPtr(Tamocreate(type, dims, 11, 0));
}

float *px(const RecordPtr &img) {
    return tamo::pixels<float>(img.get());
}

// Two levels (20 left, 80 right) plus Gaussian noise.
RecordPtr noisyTwoLevels(int cols, int rows, float noise, unsigned seed) {
    auto img = pconImage(cols, rows);
    std::mt19937 gen(seed);
    std::normal_distribution<float> n(0.0f, noise);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            px(img)[r * cols + c] = (c < cols / 2 ? 20.0f : 80.0f) + n(gen);
    return img;
}

// The iteration one whole-image step at a time with the C library's exp.
struct Plain {
    int rows, cols;
    std::vector<float> f, g;
    float &at(std::vector<float> &x, int r, int c) { return x[r * cols + c]; }
    void reflect(std::vector<float> &x) {
        for (int r = 0; r < rows; ++r)
            at(x, r, 0) = at(x, r, 1), at(x, r, cols - 1) = at(x, r, cols - 2);
        for (int c = 0; c < cols; ++c)
            at(x, 0, c) = at(x, 1, c), at(x, rows - 1, c) = at(x, rows - 2, c);
        at(x, 0, 0) = at(x, 1, 1), at(x, 0, cols - 1) = at(x, 1, cols - 2);
        at(x, rows - 1, 0) = at(x, rows - 2, 1),
                        at(x, rows - 1, cols - 1) = at(x, rows - 2, cols - 2);
    }
    int run(float sigma, float r, float b, float t1, float t2, float dlt) {
        const size_t n = f.size();
        std::vector<float> j(n), d[4] = {j, j, j, j}, back(n, 0.0f), k(n);
        reflect(g);
        int iterations = 0;
        for (double T = t1; T >= t2; T *= dlt, ++iterations) {
            const double s = sigma * (sigma * (1.41 * (1.41 * T)));
            reflect(f);
            for (size_t i = 0; i < n; ++i) j[i] = f[i] - g[i];
            for (int y = 1; y < rows - 1; ++y)
                for (int x = 1; x < cols - 1; ++x) {
                    const float c = at(f, y, x);
                    const float diffs[4] = {at(f, y + 1, x) - c, at(f, y + 1, x + 1) - c,
                                            at(f, y, x + 1) - c, at(f, y - 1, x + 1) - c};
                    for (int q = 0; q < 4; ++q) {
                        const double v = diffs[q];
                        at(d[q], y, x) = static_cast<float>((v / s) * std::exp(-0.5 / s * v * v));
                    }
                }
            for (int y = 1; y < rows - 1; ++y)
                for (int x = 1; x < cols - 1; ++x)
                    at(back, y, x) = 0.7 * ((at(d[1], y - 1, x - 1) - at(d[1], y, x)) +
                                            (at(d[3], y + 1, x - 1) - at(d[3], y, x))) +
                                     ((at(d[0], y - 1, x) - at(d[0], y, x)) +
                                      (at(d[2], y, x - 1) - at(d[2], y, x)));
            const double wa = 1 / sigma / sigma, wb = b / std::sqrt(6.283185307179586 * T);
            double sum = 0;
            for (size_t i = 0; i < n; ++i) {
                k[i] = static_cast<float>(back[i] * wb + j[i] * wa);
                sum += double(k[i]) * k[i];
            }
            const double step = (-r * sigma) / std::sqrt(sum / n) * std::sqrt(T);
            for (size_t i = 0; i < n; ++i) f[i] = static_cast<float>(k[i] * step + f[i] * 1.0);
        }
        return iterations;
    }
};

void expectSameValues(const float *got, const std::vector<float> &want, float tolerance) {
    for (size_t i = 0; i < want.size(); ++i) ASSERT_NEAR(got[i], want[i], tolerance) << "at " << i;
}

TEST(Pcon, FollowsTheScheduleStepByStep) {
    for (const float t2 : {0.3f, 0.7f, 0.005f}) {
        auto f = noisyTwoLevels(23, 17, 8.0f, 1), g = noisyTwoLevels(23, 17, 8.0f, 2);
        Plain plain{17, 23, std::vector<float>(px(f), px(f) + 391),
                    std::vector<float>(px(g), px(g) + 391)};
        // Halving from 1: T = 1, 0.5 for t2 0.3; T = 1 for 0.7; with the usual
        // schedule floor(log(0.005) / log(0.99)) + 1 = 528 iterations.
        const float dlt = t2 == 0.005f ? 0.99f : 0.5f;
        const int iterations = plain.run(2.0f, 0.03f, 4.0f, 1.0f, t2, dlt);
        EXPECT_EQ(iterations, t2 == 0.3f ? 2 : t2 == 0.7f ? 1 : 528);
        ASSERT_EQ(pconsub(f.get(), g.get(), 2.0f, 0.03f, 4.0f, 1.0f, t2, dlt), 0);
        // The exponential is evaluated by our own routine: equal to a few
        // float roundings after hundreds of iterations.
        expectSameValues(px(f), plain.f, 1e-4f);
        expectSameValues(px(g), plain.g, 0.0f);
    }
}

TEST(Pcon, MovesANoisyTwoLevelImageTowardsTwoLevels) {
    auto f = noisyTwoLevels(40, 40, 2.0f, 7), g = noisyTwoLevels(40, 40, 2.0f, 7);
    // With f's border already replicated, one iteration at T = 1 moves f by a
    // root mean square of r sigma = 0.06.
    for (int r = 0; r < 40; ++r)
        for (int c = 0; c < 40; ++c)
            px(f)[r * 40 + c] = px(g)[std::clamp(r, 1, 38) * 40 + std::clamp(c, 1, 38)];
    std::vector<float> before(px(f), px(f) + 1600);
    ASSERT_EQ(pconsub(f.get(), g.get(), 2.0f, 0.03f, 4.0f, 1.0f, 1.0f, 0.99f), 0);
    double moved = 0;
    for (int i = 0; i < 1600; ++i) moved += std::pow(px(f)[i] - before[i], 2);
    EXPECT_NEAR(std::sqrt(moved / 1600), 0.06, 1e-5);

    double mean = 0;
    auto spread = [&](int c0, int c1) {
        double sum = 0, squares = 0;
        int n = 0;
        for (int r = 2; r < 38; ++r)
            for (int c = c0; c < c1; ++c, ++n) sum += px(f)[r * 40 + c];
        for (int r = 2; r < 38; ++r)
            for (int c = c0; c < c1; ++c) squares += std::pow(px(f)[r * 40 + c] - sum / n, 2);
        mean = sum / n;
        return std::sqrt(squares / n);
    };
    const double noiseLeft = spread(2, 18), noiseRight = spread(22, 38);
    ASSERT_EQ(pconsub(f.get(), g.get(), 2.0f, 0.03f, 4.0f, 1.0f, 0.005f, 0.99f), 0);
    // The noise (about 2) all but vanishes; the levels stay apart.
    EXPECT_LT(spread(2, 18), noiseLeft / 20);
    EXPECT_NEAR(mean, 20.0, 1.0);
    EXPECT_LT(spread(22, 38), noiseRight / 20);
    EXPECT_NEAR(mean, 80.0, 1.0);
}

TEST(Pcon, RefusalsChangeNothing) {
    auto f = noisyTwoLevels(12, 10, 3.0f, 4), g = noisyTwoLevels(12, 10, 3.0f, 5);
    const std::vector<float> f0(px(f), px(f) + 120), g0(px(g), px(g) + 120);
    auto bytes = pconImage(12, 10, "u8bit");
    testing::internal::CaptureStdout();
    EXPECT_EQ(pconsub(bytes.get(), g.get(), 2, 0.03f, 4, 1, 0.005f, 0.99f), -12);
    EXPECT_EQ(pconsub(f.get(), g.get(), 2, 0.03f, 4, 1, 0.005f, 1.0f), -13);
    EXPECT_EQ(pconsub(f.get(), g.get(), 2, 0.03f, 4, 1, 0.0f, 0.99f), -13);
    EXPECT_EQ(pconsub(f.get(), g.get(), NAN, 0.03f, 4, 1, 0.005f, 0.99f), -13);
    EXPECT_EQ(pconsub(f.get(), g.get(), 2, 0.03f, 4, INFINITY, 0.005f, 0.99f), -13);
    // About 44 million steps: a schedule that would keep the call for hours.
    EXPECT_EQ(pconsub(f.get(), g.get(), 2, 0.03f, 4, 1, 0.005f, 0.9999999f), -13);
    EXPECT_EQ(pconsub(f.get(), g.get(), 0, 0.03f, 4, 1, 0.005f, 0.99f), -16);
    EXPECT_EQ(pconsub(f.get(), g.get(), -2, 0.03f, 4, 1, 0.005f, 0.99f), -16);
    // Finite parameters whose estimate overflows: found out while running,
    // and both images are put back.
    EXPECT_EQ(pconsub(f.get(), g.get(), 1e-30f, 0.03f, 4, 1, 0.005f, 0.99f), -17);
    EXPECT_EQ(pconsub(f.get(), g.get(), 1e10f, 1e30f, 4, 1, 0.005f, 0.99f), -17);
    EXPECT_EQ(pconsub(f.get(), g.get(), 2, 0.03f, 1e38f, 1, 0.005f, 0.99f), -17);
    const std::string text = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "Pcon: this program will only work with Tamo float images, please convert your "
              "input image to float");
    EXPECT_NE(text.find("\nPcon: temperature schedule does not end\n"), std::string::npos);
    EXPECT_EQ(std::vector<float>(px(f), px(f) + 120), f0);
    EXPECT_EQ(std::vector<float>(px(g), px(g) + 120), g0);

    // A schedule that starts below its end changes f not at all, g's border
    // only: it becomes the nearest interior pixel.
    EXPECT_EQ(pconsub(f.get(), g.get(), 2, 0.03f, 4, 0.001f, 0.005f, 0.99f), 0);
    EXPECT_EQ(std::vector<float>(px(f), px(f) + 120), f0);
    EXPECT_EQ(px(g)[0], g0[13]);
    EXPECT_EQ(px(g)[5], g0[12 + 5]);
    EXPECT_EQ(px(g)[12 * 4 + 11], g0[12 * 4 + 10]);
    EXPECT_EQ(px(g)[119], g0[12 * 8 + 10]);
    EXPECT_EQ(px(g)[12 * 4 + 5], g0[12 * 4 + 5]);
}

struct PconExit {
    int status;
};
void pconThrowingExit(int status) {
    throw PconExit{status};
}
void pconReturningExit(int) {}

TEST(Pcon, SizeMismatchAndVanishingUpdateEndTheProcess) {
    auto f = noisyTwoLevels(12, 10, 3.0f, 4), g = noisyTwoLevels(12, 11, 3.0f, 5);
    // The literal status 0 would read as success: the process ends with 1.
    EXPECT_EXIT(pconsub(f.get(), g.get(), 2, 0.03f, 4, 1, 0.005f, 0.99f),
                testing::ExitedWithCode(1), "");
    // f equal to a constant g: every term is zero.
    auto flat = pconImage(8, 8), data = pconImage(8, 8);
    for (int i = 0; i < 64; ++i) px(flat)[i] = px(data)[i] = 5.0f;
    EXPECT_EXIT(
        {
            pconsub(flat.get(), data.get(), 2, 0.03f, 4, 1, 0.005f, 0.99f);
            std::fflush(stdout);
            std::_Exit(3);
        },
        testing::ExitedWithCode(1), "");

    void (*saved)(int) = Tamo_exitptr;
    Tamo_exitptr = pconThrowingExit;
    testing::internal::CaptureStdout();
    try {
        pconsub(f.get(), g.get(), 2, 0.03f, 4, 1, 0.005f, 0.99f);
        ADD_FAILURE() << "no exit";
    } catch (const PconExit &e) {
        EXPECT_EQ(e.status, 0);
    }
    Tamo_exitptr = pconReturningExit;
    EXPECT_EQ(pconsub(f.get(), g.get(), 2, 0.03f, 4, 1, 0.005f, 0.99f), -14);
    EXPECT_EQ(pconsub(flat.get(), data.get(), 2, 0.03f, 4, 1, 0.005f, 0.99f), -15);
    Tamo_exitptr = saved;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "bug1bug1magf=0 exiting\n");
}

}  // namespace
