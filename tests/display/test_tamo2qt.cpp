// Display conversion: which picture each kind of record gives, the shared
// stretch range, widening, other data types and the complex components.
#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <algorithm>
#include <random>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "guitest.h"
#include "tamo2qt.h"
#include "tamoops.h"

namespace {

using Picture = std::unique_ptr<QImage>;
using Record = std::unique_ptr<TAMOHDR, void (*)(TAMOHDR *)>;

Record create(const char *type, int cols, int rows, int frames = 0) {
    const int dims[4] = {frames > 0 ? 3 : 2, cols, rows, frames};
    return Record(Tamocreate(type, dims, 11, 0), [](TAMOHDR *p) { Tamofree(p, 7); });
}

// A record whose values come from f(frame, row, col).
template <class F>
Record filled(const char *type, int cols, int rows, int frames, F f) {
    Record img = create(type, cols, rows, frames);
    for (int k = 0; k < std::max(frames, 1); ++k)
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) Tamofpp3d(img.get(), k, r, c, f(k, r, c));
    return img;
}

std::vector<float> plane(TAMOHDR *img, int frame) {
    std::vector<float> values;
    for (int r = 0; r < Tamonr(img); ++r)
        for (int c = 0; c < Tamonc(img); ++c) values.push_back(Tamofgp3d(img, frame, r, c));
    return values;
}

// The picture the conversion must give, built the plain way: widen by
// repeating the last column, stretch the red, green and blue planes together
// with one Tamovidscale call, pack the bytes pixel by pixel.
QImage expected(int cols, int rows, const std::vector<float> &r, const std::vector<float> &g,
                const std::vector<float> &b) {
    const int wide = cols % 4 ? cols + 4 - cols % 4 : cols;
    Record widened = create("float", wide, rows, 3);
    for (int k = 0; k < 3; ++k)
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < wide; ++x)
                Tamofpp3d(widened.get(), k, y, x,
                          (k == 0   ? r
                           : k == 1 ? g
                                    : b)[y * cols + std::min(x, cols - 1)]);
    Record bytes = create("u8bit", wide, rows, 3);
    Tamovidscale(widened.get(), bytes.get(), nullptr, nullptr, 0);
    QImage image(wide, rows, QImage::Format_RGB32);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < wide; ++x)
            image.setPixel(x, y,
                           qRgb(Tamoigp3d(bytes.get(), 0, y, x), Tamoigp3d(bytes.get(), 1, y, x),
                                Tamoigp3d(bytes.get(), 2, y, x)));
    return image;
}
QImage expectedGrey(int cols, int rows, const std::vector<float> &v) {
    return expected(cols, rows, v, v, v);
}

Picture convert(TAMOHDR *img, int component = 0, int frame = 0) {
    return Picture(Tamo2Qt().toQImage(img, component, frame));
}

}  // namespace

TEST(Tamo2Qt, ColourPicturesShareOneRangeAndAreWidened) {
    Record img = filled("float", 5, 4, 3, [](int k, int r, int c) {
        return std::sin(1.0 + k * 7 + r * 3 + c) * 100.0 + k * 10;
    });
    Picture picture = convert(img.get(), 0, 2);  // the frame means nothing here
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->format(), QImage::Format_RGB32);
    EXPECT_EQ(*picture,
              expected(5, 4, plane(img.get(), 0), plane(img.get(), 1), plane(img.get(), 2)));
    for (int y = 0; y < 4; ++y) EXPECT_EQ(picture->pixel(7, y), picture->pixel(4, y));

    // Red reaching 100 while green and blue stop at 50 and 25: the balance
    // survives the stretch.
    Record balance =
        filled("float", 4, 1, 3, [](int k, int, int c) { return c == 3 ? 100.0 / (1 << k) : 0.0; });
    const QRgb top = convert(balance.get())->pixel(3, 0);
    EXPECT_GE(qRed(top), 254);
    EXPECT_EQ(qGreen(top), 127);  // 50 * 2.55
    EXPECT_EQ(qBlue(top), 63);    // 25 * 2.55
    EXPECT_EQ(qAlpha(top), 255);
}

TEST(Tamo2Qt, PicturesAreTheLibrarysStretchForEveryShapeAndRange) {
    // The picture is stretched and packed in one pass; it must hold exactly
    // the bytes of Tamovidscale on the widened planes. Widths around the
    // vector steps, every kind of record, and ranges that stress the
    // stretch: NaN, signed zeros, infinities, denormals, data wholly beyond
    // the +-1e6 starting extremes.
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<std::vector<float>> special = {
        {},  // uniform values in -1000..1000
        {nan, -0.0f, 0.0f, 1e-3f, -1e-3f},
        {2e6f, 5e6f, 3.5e6f, 1.0000001e6f},
        {-2e9f, -3e6f, -1.5e6f, -1e7f},
        {inf, -5.0f, 7.0f, 1.0f},
        {-inf, inf, 3.0f},
        {1e-42f, 3e-41f, 0.0f, 1e-40f},
    };
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> uniform(-1000.0f, 1000.0f);
    for (const auto &values : special)
        for (int cols : {1, 3, 4, 17, 33, 130})
            for (int frames : {3, 0, 5}) {
                SCOPED_TRACE(testing::Message() << values.size() << " " << cols << " " << frames);
                const int rows = 3;
                Record img = filled("float", cols, rows, frames, [&](int, int, int) {
                    return values.empty() ? uniform(gen) : values[gen() % values.size()];
                });
                if (frames == 3) {
                    EXPECT_EQ(*convert(img.get()),
                              expected(cols, rows, plane(img.get(), 0), plane(img.get(), 1),
                                       plane(img.get(), 2)));
                } else {
                    testing::internal::CaptureStdout();  // constant planes are reported
                    EXPECT_EQ(*convert(img.get(), 0, 4),
                              expectedGrey(cols, rows, plane(img.get(), frames ? 4 : 0)));
                    testing::internal::GetCapturedStdout();
                }
            }
}

TEST(Tamo2Qt, GreyPicturesOfPlanesAndFrames) {
    Record flat = filled("float", 8, 2, 0, [](int, int r, int c) { return r * 8 + c; });
    Picture grey = convert(flat.get());
    ASSERT_EQ(grey->size(), QSize(8, 2));
    for (int v = 0; v < 16; ++v) EXPECT_EQ(grey->pixel(v % 8, v / 8), qRgb(v * 17, v * 17, v * 17));

    // A frame of a record that is not three frames deep; frames past either
    // end show the nearest one.
    auto value = [](int k, int r, int c) { return (k + 1) * std::cos(r * 5.0 + c * k); };
    Record five = filled("float", 6, 3, 5, value);
    for (int asked : {2, 9, -3}) {
        const int shown = std::clamp(asked, 0, 4);
        Record frame =
            filled("float", 6, 3, 0, [&](int, int r, int c) { return value(shown, r, c); });
        EXPECT_EQ(*convert(five.get(), 0, asked), expectedGrey(6, 3, plane(frame.get(), 0)))
            << asked;
    }
    Record single = filled("float", 3, 2, 1, [](int, int r, int c) { return r - c; });
    EXPECT_EQ(*convert(single.get()), expectedGrey(3, 2, plane(single.get(), 0)));
}

TEST(Tamo2Qt, OtherTypesShowTheirValues) {
    for (const char *type : {"16bit", "u8bit", "32bit", "64flt"}) {
        auto v = [](int k, int r, int c) { return (r * 7 + c * 3 + k * 11) % 23; };
        for (int frames : {0, 3}) {
            Record img = filled(type, 7, 3, frames, v);
            Record floats = filled("float", 7, 3, frames, v);
            EXPECT_EQ(*convert(img.get()), *convert(floats.get())) << type << " " << frames;
        }
    }
    // "64cmp" shows its real parts; "struct" has nothing to show.
    Record complex = create("64cmp", 4, 2);
    auto *data = reinterpret_cast<double *>(complex->orvptr);
    for (int i = 0; i < 8; ++i) {
        data[2 * i] = i * 3;
        data[2 * i + 1] = 100 - i;
    }
    Record real = filled("float", 4, 2, 0, [](int, int r, int c) { return (r * 4 + c) * 3; });
    EXPECT_EQ(*convert(complex.get()), *convert(real.get()));
    const int dims[] = {2, 4, 4};
    Record opaque(Tamocreate("struct", dims, 11, 8), [](TAMOHDR *p) { Tamofree(p, 7); });
    EXPECT_EQ(convert(opaque.get()), nullptr);
    EXPECT_EQ(convert(nullptr), nullptr);
}

TEST(Tamo2Qt, ComplexRecordsShowTheChosenComponent) {
    Record img = create("32cmp", 6, 2);
    auto *data = reinterpret_cast<float *>(img->orvptr);
    std::vector<float> parts[4];
    for (int i = 0; i < 12; ++i) {
        const float re = std::cos(i * 0.7f) * (i + 1);
        const float im = std::sin(i * 1.3f) * 5 - 2;
        data[2 * i] = re;
        data[2 * i + 1] = im;
        parts[0].push_back(std::sqrt(re * re + im * im));
        parts[1].push_back(std::atan2(im, re));
        parts[2].push_back(re);
        parts[3].push_back(im);
    }
    testing::internal::CaptureStdout();
    for (int component = 0; component < 4; ++component) {
        Picture got = convert(img.get(), component);
        const QImage want = expectedGrey(6, 2, parts[component]);
        ASSERT_EQ(got->size(), want.size());
        // Magnitude and phase may differ from the test's own sqrt and atan2
        // in the last bit, which can move a byte by one.
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 8; ++x)
                EXPECT_NEAR(qRed(got->pixel(x, y)), qRed(want.pixel(x, y)), component < 2)
                    << component;
    }
    EXPECT_EQ(convert(img.get(), 7)->pixel(3, 1), 0xFF000000u);  // no such component
    EXPECT_NE(testing::internal::GetCapturedStdout().find("c2mag:incomplex outreal"),
              std::string::npos);
}

TEST(Tamo2Qt, ConstantRecordsAreBlackAndNanIsIgnored) {
    testing::internal::CaptureStdout();
    Record constant = filled("float", 5, 3, 3, [](int, int, int) { return 42.0; });
    Picture black = convert(constant.get());
    EXPECT_NE(testing::internal::GetCapturedStdout().find(
                  "Cannot vidscale, all pixels are the same brightness"),
              std::string::npos);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(black->pixel(x, y), 0xFF000000u);

    Record holes =
        filled("float", 4, 1, 0, [](int, int, int c) { return c == 1 ? std::nan("") : c * 10.0; });
    Picture p = convert(holes.get());
    EXPECT_EQ(qRed(p->pixel(1, 0)), 0);
    EXPECT_EQ(qRed(p->pixel(2, 0)), 170);  // 20 * 255 / 30
}

TEST(Tamo2Qt, CopyFrameIntoAndNormimage) {
    Tamo2Qt converter;
    Record target = create("float", 3, 2, 3);
    Record source = filled("float", 3, 2, 0, [](int, int r, int c) { return 1 + r * 3 + c; });
    converter.copyFrameInto(source.get(), target.get(), 1);
    // Misfits change nothing: another shape, a frame outside the target.
    Record wrong = filled("float", 2, 3, 0, [](int, int, int) { return 9.0; });
    converter.copyFrameInto(wrong.get(), target.get(), 0);
    converter.copyFrameInto(source.get(), target.get(), 3);
    const float *t = reinterpret_cast<float *>(target->orvptr);
    for (int i = 0; i < 18; ++i) EXPECT_EQ(t[i], i >= 6 && i < 12 ? i - 5 : 0) << i;

    // normimage fills an existing picture; columns past the record repeat its
    // last one.
    Record img = filled("float", 3, 2, 3, [](int k, int r, int c) { return k * 6 + r * 3 + c; });
    QImage picture(4, 2, QImage::Format_RGB32);
    converter.normimage(img.get(), &picture);
    EXPECT_EQ(picture,
              expected(3, 2, plane(img.get(), 0), plane(img.get(), 1), plane(img.get(), 2)));
}
