// Linear stretch of images into 8-bit pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tamo++.h"
#include "tamo.h"
#include "testrecords.h"

namespace {

using testsupport::ExitCalled;
using testsupport::ExitHook;
using testsupport::image;
using testsupport::stdoutOf;
using testsupport::throwingExit;

using tamo::RecordPtr;

// Stores v as element i of img's real (first) component.
void setValue(TAMOHDR *img, long long i, double v) {
    tamo::visitScalar(img->dtype, [&](auto tag, tamo::ElemLayout layout) {
        using T = typename decltype(tag)::type;
        tamo::pixels<T>(img)[layout.complex ? 2 * i : i] = static_cast<T>(v);
        if (layout.complex) tamo::pixels<T>(img)[2 * i + 1] = static_cast<T>(-9999);
    });
}

std::vector<uint8_t> bytesOf(const RecordPtr &img) {
    const uint8_t *p = tamo::pixels<uint8_t>(img.get());
    return std::vector<uint8_t>(p, p + tamo::elementCount(img.get()));
}

void returningExit(int) {}

TEST(Vidscale, StretchesEveryTypeFromMinimumToMaximum) {
    // Offsets keep every value representable; the range is 255 wide, so the
    // stretch is the identity on the distance to the minimum.
    const struct {
        const char *type;
        double offset;
    } cases[] = {{"8bit", -128},  {"16bit", -1000}, {"32bit", 70000},
                 {"float", -0.5}, {"double", 1e5},  {"u8bit", 0},
                 {"u16bit", 300}, {"32cmp", 12.25}, {"64cmp", -7}};
    const int steps[8] = {200, 0, 1, 2, 50, 255, 100, 254};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.type);
        auto in = image(c.type, 4, 2);
        for (int i = 0; i < 8; ++i) setValue(in.get(), i, c.offset + steps[i]);
        auto out = image("u8bit", 4, 2);
        float lo = 0, hi = 0;
        EXPECT_EQ(Tamovidscale(in.get(), out.get(), &lo, &hi, 0), 0);
        EXPECT_EQ(bytesOf(out), std::vector<uint8_t>(steps, steps + 8));
        EXPECT_FLOAT_EQ(lo, static_cast<float>(c.offset));
        EXPECT_FLOAT_EQ(hi, static_cast<float>(c.offset + 255));
    }

    // An uneven range: the maximum lands on 255 or just below, never above.
    auto in = image("float", 3, 1);
    setValue(in.get(), 0, 0.1);
    setValue(in.get(), 1, 0.7);
    setValue(in.get(), 2, 0.3);
    auto out = image("u8bit", 3, 1);
    float lo, hi;
    Tamovidscale(in.get(), out.get(), &lo, &hi, 0);
    EXPECT_EQ(bytesOf(out)[0], 0);
    EXPECT_GE(bytesOf(out)[1], 254);
    EXPECT_NEAR(bytesOf(out)[2], 255 * 0.2 / 0.6, 1.0);
}

TEST(Vidscale, NotANumberTakesNoPartAndBecomesZero) {
    auto in = image("float", 4, 1);
    const float values[4] = {std::numeric_limits<float>::quiet_NaN(), 10, 20, 30};
    std::memcpy(in->orvptr, values, sizeof values);
    auto out = image("u8bit", 4, 1);
    float lo, hi;
    EXPECT_EQ(Tamovidscale(in.get(), out.get(), &lo, &hi, 0), 0);
    EXPECT_EQ(lo, 10.0f);
    EXPECT_EQ(hi, 30.0f);
    EXPECT_EQ(bytesOf(out), (std::vector<uint8_t>{0, 0, 127, 255}));
}

TEST(Vidscale, ConstantImagesAreReportedAndLeftAlone) {
    for (double value : {3.0, -250.0}) {
        SCOPED_TRACE(value);
        auto in = image("float", 3, 2);
        for (int i = 0; i < 6; ++i) setValue(in.get(), i, value);
        auto out = image("u8bit", 3, 2);
        std::memset(out->orvptr, 77, 6);
        float lo = -1, hi = -2;
        int status = 1;
        EXPECT_EQ(stdoutOf([&] { status = Tamovidscale(in.get(), out.get(), &lo, &hi, 0); }),
                  "Cannot vidscale, all pixels are the same brightness\n");
        EXPECT_EQ(status, 0);
        EXPECT_EQ(bytesOf(out), std::vector<uint8_t>(6, 77));
        EXPECT_EQ(lo, -1);
        EXPECT_EQ(hi, -2);
    }
}

TEST(Vidscale, ValuesBeyondAMillionKeepTheMillionBound) {
    // A constant 5e6 is not constant to the stretch: the minimum stays at 1e6
    // and (5e6 - 1e6) * 255 / 4e6 falls just short of 255 in single precision.
    auto flat = image("float", 3, 1);
    for (int i = 0; i < 3; ++i) setValue(flat.get(), i, 5e6);
    auto flatOut = image("u8bit", 3, 1);
    float lo, hi;
    EXPECT_EQ(Tamovidscale(flat.get(), flatOut.get(), &lo, &hi, 0), 0);
    EXPECT_EQ(lo, 1e6f);
    EXPECT_EQ(hi, 5e6f);
    EXPECT_EQ(bytesOf(flatOut), std::vector<uint8_t>(3, 254));

    auto in = image("32bit", 3, 1);
    setValue(in.get(), 0, 2000000);
    setValue(in.get(), 1, 3000000);
    setValue(in.get(), 2, 2500000);
    auto out = image("u8bit", 3, 1);
    EXPECT_EQ(Tamovidscale(in.get(), out.get(), &lo, &hi, 0), 0);
    EXPECT_EQ(lo, 1e6f);
    EXPECT_EQ(hi, 3e6f);
    EXPECT_EQ(bytesOf(out)[0], 127);
    EXPECT_GE(bytesOf(out)[1], 254);
    EXPECT_EQ(bytesOf(out)[2], 191);

    // Wholly below -1e6 the maximum stays at -1e6.
    auto low = image("double", 2, 1);
    setValue(low.get(), 0, -3e9);
    setValue(low.get(), 1, -2e9);
    auto lowOut = image("u8bit", 2, 1);
    EXPECT_EQ(Tamovidscale(low.get(), lowOut.get(), &lo, &hi, 0), 0);
    EXPECT_EQ(lo, -3e9f);
    EXPECT_EQ(hi, -1e6f);
    EXPECT_EQ(bytesOf(lowOut)[0], 0);
    EXPECT_EQ(bytesOf(lowOut)[1], 85);
}

TEST(Vidscale, PerFrameScalesEachFrameAndSkipsEmptyOnes) {
    // Frame 0 spans 10..20, frame 1 is constant, frame 2 spans 0..255.
    for (const char *type : {"u8bit", "16bit", "32bit", "32cmp", "double"}) {
        SCOPED_TRACE(type);
        auto in = image(type, 2, 1, 3);
        const double values[6] = {10, 20, 6, 6, 255, 0};
        for (int i = 0; i < 6; ++i) setValue(in.get(), i, values[i]);
        auto out = image("u8bit", 2, 1, 3);
        std::memset(out->orvptr, 77, 6);
        float lo = -1, hi = -1;
        int status = 1;
        EXPECT_EQ(stdoutOf([&] { status = Tamovidscale(in.get(), out.get(), &lo, &hi, 1); }),
                  "Cannot vidscale frame 1, all pixels are the same brightness\n");
        EXPECT_EQ(status, 0);
        EXPECT_EQ(bytesOf(out), (std::vector<uint8_t>{0, 255, 77, 77, 255, 0}));
        EXPECT_EQ(lo, 0.0f);  // the last frame's range
        EXPECT_EQ(hi, 255.0f);
    }
}

TEST(Vidscale, PerFrameFloatAnnouncesItsFrames) {
    auto in = image("float", 2, 1, 2);
    const double values[4] = {1, 2, 5, 5};
    for (int i = 0; i < 4; ++i) setValue(in.get(), i, values[i]);
    auto out = image("u8bit", 2, 1, 2);
    float lo = 0, hi = 0;
    EXPECT_EQ(stdoutOf([&] { Tamovidscale(in.get(), out.get(), &lo, &hi, 1); }),
              "Tamovidscale: image is 3D float, frame-independent scaling\n"
              "Tamovidscale frame 0\n"
              "Tamovidscale frame 1\n"
              "Cannot vidscale frame 1, all pixels are the same brightness\n");
    EXPECT_EQ(bytesOf(out)[0], 0);
    EXPECT_EQ(bytesOf(out)[1], 255);
    // Whole-image mode on the same 3-D record uses one range.
    EXPECT_EQ(stdoutOf([&] { Tamovidscale(in.get(), out.get(), &lo, &hi, 0); }), "");
    EXPECT_EQ(bytesOf(out), (std::vector<uint8_t>{0, 63, 255, 255}));
    EXPECT_EQ(lo, 1.0f);
    EXPECT_EQ(hi, 5.0f);
}

TEST(Vidscale, RefusalsEndTheProcessThroughTheExitHandler) {
    auto in2d = image("float", 2, 2);
    auto in3d = image("float", 2, 2, 3);
    auto out2d = image("u8bit", 2, 2);
    auto wider = image("u8bit", 3, 2);
    auto floatOut = image("float", 2, 2);
    auto interleaved = image("Su8bit3", 2, 2);
    float lo, hi;
    const struct {
        TAMOHDR *in;
        TAMOHDR *out;
        int perFrame;
        const char *line;
        int status;
    } cases[] = {
        {in2d.get(), nullptr, 0, "Tamovidscale: output image must already exist\n", -1},
        {in2d.get(), floatOut.get(), 0, "Tamovidscale: output image must be unsigned byte\n", -1},
        {nullptr, out2d.get(), 0, "Tamovidscale: input image is null\n", -1},
        {in2d.get(), out2d.get(), 1,
         "Tamovidscale: 3d switch is set, but image is not 3d. Must exit\n", -1},
        {in3d.get(), out2d.get(), 0,
         "Tamovidscale: input and output images have different dimensions.\n", -1},
        // Same dimension count, different lengths: the output would be overrun.
        {in2d.get(), wider.get(), 0,
         "Tamovidscale: input and output images have different dimensions.\n", -1},
        {interleaved.get(), out2d.get(), 0, "Data type not recognized.\n", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        std::memset(out2d->orvptr, 77, 4);
        {
            ExitHook hook(throwingExit);
            int status = 12345;
            EXPECT_EQ(stdoutOf([&] {
                          try {
                              Tamovidscale(c.in, c.out, &lo, &hi, c.perFrame);
                          } catch (const ExitCalled &s) {
                              status = s.status;
                          }
                      }),
                      c.line);
            EXPECT_EQ(status, c.status);
        }
        {
            // A handler that returns: the call fails without touching out.
            ExitHook hook(returningExit);
            int result = 0;
            stdoutOf([&] { result = Tamovidscale(c.in, c.out, &lo, &hi, c.perFrame); });
            EXPECT_EQ(result, -1);
            EXPECT_EQ(bytesOf(out2d), std::vector<uint8_t>(4, 77));
        }
    }
}

TEST(VidscaleDeathTest, DefaultHandlerEndsTheProcess) {
    auto in = image("float", 2, 2);
    auto out = image("u8bit", 2, 2);
    auto interleaved = image("Su8bit3", 2, 2);
    float lo, hi;
    EXPECT_EXIT(Tamovidscale(in.get(), out.get(), &lo, &hi, 1), testing::ExitedWithCode(255), "");
    EXPECT_EXIT(Tamovidscale(in.get(), nullptr, &lo, &hi, 0), testing::ExitedWithCode(255), "");
    // "Data type not recognized." ends with 1, not with a status read as success.
    EXPECT_EXIT(Tamovidscale(interleaved.get(), out.get(), &lo, &hi, 0), testing::ExitedWithCode(1),
                "");
}

}  // namespace
