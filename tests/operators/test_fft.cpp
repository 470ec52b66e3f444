// Two-dimensional Fourier transform and the complex component extractors.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tamo++.h"
#include "tamo.h"

namespace {

using tamo::RecordPtr;
using Complex = std::complex<double>;

RecordPtr record(const char *type, int cols, int rows, int frames = 0) {
    int dims[4] = {frames ? 3 : 2, cols, rows, frames};
    return RecordPtr(Tamocreate(type, dims, 11, 0));
}

float *floats(const RecordPtr &img) {
    return tamo::pixels<float>(img.get());
}

RecordPtr randomComplex(int n, unsigned seed, int frames = 0) {
    auto img = record("32cmp", n, n, frames);
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    const long long count = 2LL * n * n * (frames ? frames : 1);
    for (long long i = 0; i < count; ++i) floats(img)[i] = dist(gen);
    return img;
}

std::vector<Complex> valuesOf(const RecordPtr &img, int n) {
    std::vector<Complex> v(static_cast<std::size_t>(n) * n);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = {floats(img)[2 * i], floats(img)[2 * i + 1]};
    return v;
}

// The textbook double-precision DFT: X[u][v] = sum x[r][c] e^(sign 2 pi i (ur + vc) / n).
std::vector<Complex> directDft(const std::vector<Complex> &x, int n, int sign) {
    std::vector<Complex> out(x.size());
    for (int u = 0; u < n; ++u)
        for (int v = 0; v < n; ++v) {
            Complex sum = 0;
            for (int r = 0; r < n; ++r)
                for (int c = 0; c < n; ++c)
                    sum +=
                        x[r * n + c] * std::polar(1.0, sign * 2 * M_PI * ((u * r + v * c) % n) / n);
            out[u * n + v] = sum;
        }
    return out;
}

std::string stderrOf(const std::function<void()> &f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

double largestError(const std::vector<Complex> &a, const std::vector<Complex> &b) {
    double worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

TEST(Fft, MatchesTheDirectTransformBothWays) {
    for (int n : {8, 16}) {
        SCOPED_TRACE(n);
        auto img = randomComplex(n, 5 + n);
        const auto input = valuesOf(img, n);

        ASSERT_EQ(Tamocfft2d(img.get(), -1), 0);
        const auto spectrum = valuesOf(img, n);
        // Values reach a few units; single precision with six-digit twiddle steps.
        EXPECT_LT(largestError(spectrum, directDft(input, n, -1)), 2e-4 * n);

        ASSERT_EQ(Tamocfft2d(img.get(), 1), 0);
        EXPECT_LT(largestError(valuesOf(img, n), input), 1e-5);

        // The inverse alone is the conjugate-sign sum scaled by 1/n^2.
        auto again = randomComplex(n, 99);
        const auto x = valuesOf(again, n);
        ASSERT_EQ(Tamocfft2d(again.get(), 1), 0);
        auto expected = directDft(x, n, 1);
        for (auto &e : expected) e /= double(n) * n;
        EXPECT_LT(largestError(valuesOf(again, n), expected), 2e-6);
    }
}

TEST(Fft, ImpulseAndConstantImages) {
    auto impulse = record("32cmp", 8, 8);
    floats(impulse)[0] = 1.0f;
    ASSERT_EQ(Tamocfft2d(impulse.get(), -1), 0);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(floats(impulse)[2 * i], 1.0f) << i;
        EXPECT_EQ(floats(impulse)[2 * i + 1], 0.0f) << i;
    }
    ASSERT_EQ(Tamocfft2d(impulse.get(), 1), 0);
    EXPECT_NEAR(floats(impulse)[0], 1.0f, 1e-6);
    for (int i = 1; i < 128; ++i) EXPECT_NEAR(floats(impulse)[i], 0.0f, 1e-6) << i;

    auto constant = record("32cmp", 4, 4);
    for (int i = 0; i < 16; ++i) floats(constant)[2 * i] = 2.5f;
    ASSERT_EQ(Tamocfft2d(constant.get(), -1), 0);
    EXPECT_NEAR(floats(constant)[0], 40.0f, 1e-5);
    for (int i = 1; i < 32; ++i) EXPECT_NEAR(floats(constant)[i], 0.0f, 1e-5) << i;
}

TEST(Fft, LargeImagesAgreeWithRowAndColumnTransforms) {
    // The image transform must give fftj's results bit for bit, whatever the
    // size and direction; 2048 goes beyond the fixed twiddle steps.
    const struct {
        int n, dir;
    } cases[] = {{32, -1}, {32, 1}, {64, -1}, {512, -1}, {512, 1}, {2048, -1}};
    for (const auto &c : cases) {
        const int n = c.n, dir = c.dir;
        SCOPED_TRACE(testing::Message() << n << " dir " << dir);
        auto img = randomComplex(n, n + dir);
        std::vector<float> ref(floats(img), floats(img) + 2LL * n * n);
        float *p = ref.data();
        auto rows = [&] {
            for (int r = 0; r < n; ++r) fftj(p + 2LL * r * n, 2, p + 2LL * r * n + 1, 2, n, dir);
        };
        auto cols = [&] {
            for (int col = 0; col < n; ++col)
                fftj(p + 2 * col, 2 * n, p + 2 * col + 1, 2 * n, n, dir);
        };
        if (dir == -1)
            rows(), cols();
        else
            cols(), rows();
        ASSERT_EQ(Tamocfft2d(img.get(), dir), 0);
        EXPECT_EQ(std::memcmp(floats(img), ref.data(), ref.size() * sizeof(float)), 0);
    }
}

TEST(Fft, WithoutScratchMemoryTheResultIsTheSame) {
    auto img = randomComplex(64, 1);
    auto copy = record("32cmp", 64, 64);
    std::memcpy(copy->orvptr, img->orvptr, 64 * 64 * 8);
    ASSERT_EQ(Tamocfft2d(img.get(), -1), 0);

    auto saved = Tamo_alcptr;
    Tamo_alcptr = [](size_t, size_t) -> void * { return nullptr; };
    const int status = Tamocfft2d(copy.get(), -1);
    Tamo_alcptr = saved;
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::memcmp(img->orvptr, copy->orvptr, 64 * 64 * 8), 0);
}

TEST(Fft, OneDimensionalTransformAgainstTheDirectSum) {
    // 1024 uses the last fixed step; 4096 needs computed ones.
    for (int n : {1024, 4096}) {
        SCOPED_TRACE(n);
        std::mt19937 gen(n);
        std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
        std::vector<float> re(n), im(n);
        for (int k = 0; k < n; ++k) re[k] = dist(gen), im[k] = dist(gen);
        std::vector<Complex> roots(n), expected(n);
        for (int m = 0; m < n; ++m) roots[m] = std::polar(1.0, -2 * M_PI * m / n);
        for (int k = 0; k < n; ++k) {
            Complex sum = 0;
            for (int j = 0; j < n; ++j) sum += Complex(re[j], im[j]) * roots[(long long)j * k % n];
            expected[k] = sum;
        }
        fftj(re.data(), 1, im.data(), 1, n, -1);
        double worst = 0;
        for (int k = 0; k < n; ++k)
            worst = std::max(worst, std::abs(Complex(re[k], im[k]) - expected[k]));
        // |X| is about sqrt(n); the six-digit twiddle steps of the shorter
        // stages bound the relative accuracy to a few 1e-4.
        EXPECT_LT(worst, 5e-4 * std::sqrt(n));
    }
}

TEST(Fft, RefusesBeforeTouchingTheData) {
    auto oblong = record("32cmp", 8, 4);
    floats(oblong)[3] = 7.0f;
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamocfft2d(oblong.get(), -1), -1); }),
              "cff2d:image must be square\n");
    auto six = record("32cmp", 6, 6);
    floats(six)[3] = 7.0f;
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamocfft2d(six.get(), -1), -2); }),
              "cff2d:image dimension must be  a power of 2! BYE!\n");
    auto real = record("float", 8, 8);
    floats(real)[3] = 7.0f;
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamocfft2d(real.get(), -1), -3); }),
              "cfft2d:image is not floating point complex! BYE!\n");
    for (const auto *img : {&oblong, &six, &real}) EXPECT_EQ(floats(*img)[3], 7.0f);

    // Other directions and a single pixel leave the data as they are.
    auto img = randomComplex(8, 3);
    const std::vector<float> before(floats(img), floats(img) + 128);
    EXPECT_EQ(Tamocfft2d(img.get(), 0), 0);
    EXPECT_EQ(Tamocfft2d(img.get(), 2), 0);
    EXPECT_EQ(std::vector<float>(floats(img), floats(img) + 128), before);
    auto one = record("32cmp", 1, 1);
    floats(one)[0] = 3.0f, floats(one)[1] = -1.0f;
    EXPECT_EQ(Tamocfft2d(one.get(), -1), 0);
    EXPECT_EQ(Tamocfft2d(one.get(), 1), 0);
    EXPECT_EQ(floats(one)[0], 3.0f);
    EXPECT_EQ(floats(one)[1], -1.0f);
}

TEST(Fft, OnlyTheFirstFrameIsTransformed) {
    for (int n : {4, 64}) {
        auto img = randomComplex(n, 8, 2);
        const std::size_t plane = 2 * static_cast<std::size_t>(n) * n;
        const std::vector<float> second(floats(img) + plane, floats(img) + 2 * plane);
        auto first = record("32cmp", n, n);
        std::memcpy(first->orvptr, img->orvptr, plane * sizeof(float));
        ASSERT_EQ(Tamocfft2d(img.get(), -1), 0);
        ASSERT_EQ(Tamocfft2d(first.get(), -1), 0);
        EXPECT_EQ(std::memcmp(img->orvptr, first->orvptr, plane * sizeof(float)), 0);
        EXPECT_EQ(std::vector<float>(floats(img) + plane, floats(img) + 2 * plane), second);
    }
}

TEST(Fft, Helpers) {
    for (int v : {-4, 0, 1, 2, 4, 1024, 1 << 30}) EXPECT_EQ(ispwrof2(v), 1) << v;
    for (int v : {3, 6, 12, 1023}) EXPECT_EQ(ispwrof2(v), 0) << v;

    float re, im;
    mult(&re, &im, 1, 2, 3, 4);  // (1 + 2i)(3 + 4i)
    EXPECT_EQ(re, -5.0f);
    EXPECT_EQ(im, 10.0f);

    // Bit reversal of 8 values with strides: position k receives value rev(k).
    float data[32] = {};
    for (int k = 0; k < 8; ++k) data[4 * k] = k, data[4 * k + 2] = 10 + k;
    EXPECT_EQ(broj(8, data, 4, data + 2, 4), 1);
    const int rev[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(data[4 * k], rev[k]);
        EXPECT_EQ(data[4 * k + 2], 10 + rev[k]);
        EXPECT_EQ(data[4 * k + 1], 0.0f);  // between the strides: untouched
    }
    // A length that is not a power of two is left alone.
    float three[6] = {1, 2, 3, 4, 5, 6};
    fftj(three, 2, three + 1, 2, 3, -1);
    EXPECT_EQ(three[2], 3.0f);
}

// One complex image with pixels (3, 4), (-300, 0), (-1, 0), (0, -1).
RecordPtr sample() {
    auto in = record("32cmp", 2, 2);
    const float v[8] = {3, 4, -300, 0, -1, 0, 0, -1};
    std::memcpy(in->orvptr, v, sizeof v);
    return in;
}

TEST(Extractors, WriteEveryOutputType) {
    auto in = sample();
    using Extract = int (*)(TAMOHDR *, TAMOHDR *);
    const struct {
        Extract op;
        double values[4];
    } ops[] = {
        {Tamoc2mag, {5, 300, 1, 1}},
        {Tamoc2phase, {std::atan2(4.0, 3.0), M_PI, M_PI, -M_PI / 2}},
        {Tamoc2real, {3, -300, -1, 0}},
        {Tamoc2imag, {4, 0, 0, -1}},
    };
    for (const auto &op : ops) {
        auto f = record("float", 2, 2);
        testing::internal::CaptureStdout();
        EXPECT_EQ(op.op(in.get(), f.get()), 0);
        const std::string said = testing::internal::GetCapturedStdout();
        EXPECT_EQ(said, op.op == Tamoc2mag ? "c2mag:incomplex outreal\n" : "");
        auto d = record("double", 2, 2);
        auto s16 = record("16bit", 2, 2);
        auto bytes = record("u8bit", 2, 2);
        auto c = record("32cmp", 2, 2);
        for (int i = 0; i < 4; ++i) floats(c)[2 * i + 1] = 42.0f;
        EXPECT_EQ(op.op(in.get(), d.get()), 0);
        EXPECT_EQ(op.op(in.get(), s16.get()), 0);
        EXPECT_EQ(op.op(in.get(), bytes.get()), 0);
        EXPECT_EQ(op.op(in.get(), c.get()), 0);
        for (int i = 0; i < 4; ++i) {
            const double v = op.values[i];
            SCOPED_TRACE(v);
            EXPECT_FLOAT_EQ(floats(f)[i], static_cast<float>(v));
            EXPECT_NEAR(tamo::pixels<double>(d.get())[i], v, 1e-6);
            EXPECT_NEAR(Tamofgp(s16.get(), i / 2, i % 2), v, 1.0);
            // Bytes: clamped to 0..255, then truncated.
            const int byte = v > 255 ? 255 : v < 0 ? 0 : static_cast<int>(v);
            EXPECT_EQ(tamo::pixels<uint8_t>(bytes.get())[i], byte);
            EXPECT_FLOAT_EQ(floats(c)[2 * i], static_cast<float>(v));
            EXPECT_EQ(floats(c)[2 * i + 1], 42.0f);  // imaginary parts kept
        }
    }
}

TEST(Extractors, Refusals) {
    auto in = sample();
    auto out = record("float", 2, 2);
    auto wrongSize = record("float", 2, 3);
    auto wideIn = record("32cmp", 3, 2);
    auto doubleComplex = record("64cmp", 2, 2);
    auto real = record("float", 2, 2);
    auto interleaved = record("Su8bit3", 2, 2);
    floats(out)[0] = 77.0f;
    const struct {
        int (*op)(TAMOHDR *, TAMOHDR *);
        const char *name;
    } ops[] = {{Tamoc2mag, "Tamoc2mag"},
               {Tamoc2phase, "Tamoc2phase"},
               {Tamoc2real, "Tamoc2real"},
               {Tamoc2imag, "Tamoc2imag"}};
    for (const auto &op : ops) {
        SCOPED_TRACE(op.name);
        EXPECT_EQ(stderrOf([&] { EXPECT_EQ(op.op(in.get(), wrongSize.get()), -1); }), "");
        EXPECT_EQ(stderrOf([&] { EXPECT_EQ(op.op(wideIn.get(), out.get()), -1); }), "");
        EXPECT_EQ(stderrOf([&] { EXPECT_EQ(op.op(doubleComplex.get(), out.get()), -2); }), "");
        EXPECT_EQ(stderrOf([&] { EXPECT_EQ(op.op(in.get(), doubleComplex.get()), -2); }), "");
        EXPECT_EQ(stderrOf([&] { EXPECT_EQ(op.op(real.get(), out.get()), -2); }),
                  std::string(op.name) + ": Input data type not complex\n");
        EXPECT_EQ(stderrOf([&] { EXPECT_EQ(op.op(in.get(), interleaved.get()), -2); }),
                  std::string(op.name) + ": Output data type not supported\n");
        EXPECT_EQ(floats(out)[0], 77.0f);
    }
}

}  // namespace
