// Display conversion: which picture each kind of record gives, the shared
// stretch range, widening, other data types and the complex components.
#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "guitest.h"
#include "tamo2qt.h"
#include "tamoops.h"

namespace {

using Picture = std::unique_ptr<QImage>;
using Record = std::unique_ptr<TAMOHDR, void (*)(TAMOHDR *)>;

Record own(TAMOHDR *img) {
    return Record(img, [](TAMOHDR *p) {
        if (p) Tamofree(p, 7);
    });
}

Record create(const char *type, int cols, int rows, int frames = 0) {
    const int dims[4] = {frames > 0 ? 3 : 2, cols, rows, frames};
    return own(Tamocreate(type, dims, 11, 0));
}

// A record whose values come from f(frame, row, col).
template <class F>
Record filled(const char *type, int cols, int rows, int frames, F f) {
    Record img = create(type, cols, rows, frames);
    for (int k = 0; k < (frames > 0 ? frames : 1); ++k)
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) Tamofpp3d(img.get(), k, r, c, f(k, r, c));
    return img;
}

int red(QRgb p) {
    return qRed(p);
}

// The picture the conversion must give, built the plain way: widen the
// record by repeating its last column, copy a grey plane into three frames,
// stretch all three frames with one Tamovidscale call and pack the bytes.
// `planes` gives the values of the red, green and blue frames.
QImage expectedPicture(int cols, int rows, const std::vector<std::vector<float>> &planes) {
    const int wide = cols % 4 ? cols + 4 - cols % 4 : cols;
    Record widened = create("float", wide, rows, 3);
    for (int k = 0; k < 3; ++k)
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < wide; ++c)
                Tamofpp3d(widened.get(), k, r, c, planes[k][r * cols + std::min(c, cols - 1)]);
    Record bytes = create("u8bit", wide, rows, 3);
    float lo = 0, hi = 0;
    Tamovidscale(widened.get(), bytes.get(), &lo, &hi, 0);
    QImage image(wide, rows, QImage::Format_RGB32);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < wide; ++c)
            image.setPixel(c, r,
                           qRgb(Tamoigp3d(bytes.get(), 0, r, c), Tamoigp3d(bytes.get(), 1, r, c),
                                Tamoigp3d(bytes.get(), 2, r, c)));
    return image;
}

std::vector<float> plane(TAMOHDR *img, int frame) {
    std::vector<float> values;
    for (int r = 0; r < Tamonr(img); ++r)
        for (int c = 0; c < Tamonc(img); ++c) values.push_back(Tamofgp3d(img, frame, r, c));
    return values;
}

void expectSamePicture(const QImage &got, const QImage &want) {
    ASSERT_EQ(got.size(), want.size());
    for (int y = 0; y < want.height(); ++y)
        for (int x = 0; x < want.width(); ++x)
            ASSERT_EQ(got.pixel(x, y), want.pixel(x, y)) << "at (" << x << ", " << y << ")";
}

}  // namespace

TEST(Tamo2Qt, ColourPictureIsWidenedWithTheLastColumnRepeated) {
    Tamo2Qt converter;
    Record img = filled("float", 5, 4, 3, [](int k, int r, int c) {
        return std::sin(1.0 + k * 7 + r * 3 + c) * 100.0 + k * 10;
    });
    Picture picture(converter.toQImage(img.get(), 0, 0));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->format(), QImage::Format_RGB32);
    EXPECT_EQ(picture->size(), QSize(8, 4));
    for (int y = 0; y < 4; ++y)
        for (int x = 5; x < 8; ++x) EXPECT_EQ(picture->pixel(x, y), picture->pixel(4, y));
    expectSamePicture(
        *picture,
        expectedPicture(5, 4, {plane(img.get(), 0), plane(img.get(), 1), plane(img.get(), 2)}));
    // The frame argument means nothing to a colour picture.
    Picture again(converter.toQImage(img.get(), 0, 2));
    expectSamePicture(*again, *picture);

    // A width that is a multiple of 4 is kept.
    Record even = filled("float", 12, 3, 3, [](int k, int r, int c) { return k + r * c; });
    EXPECT_EQ(Picture(converter.Tamo3d2qt3d(even.get()))->size(), QSize(12, 3));
}

TEST(Tamo2Qt, ThreeChannelsShareOneRange) {
    Tamo2Qt converter;
    // Red reaches 100, green only 50 and blue 25: they keep that balance.
    Record img = filled("float", 4, 1, 3, [](int k, int, int c) {
        const float top[3] = {100.0f, 50.0f, 25.0f};
        return c == 3 ? top[k] : 0.0;
    });
    Picture picture(converter.toQImage(img.get(), 0, 0));
    ASSERT_TRUE(picture);
    const QRgb brightest = picture->pixel(3, 0);
    EXPECT_GE(qRed(brightest), 254);
    EXPECT_EQ(qGreen(brightest), 127);  // 50 * 2.55 = 127.5
    EXPECT_EQ(qBlue(brightest), 63);    // 25 * 2.55 = 63.75
    EXPECT_EQ(qAlpha(brightest), 255);
    EXPECT_EQ(picture->pixel(0, 0), 0xFF000000u);
}

TEST(Tamo2Qt, GreyPicturesOfPlanesAndFrames) {
    Tamo2Qt converter;
    Record flat = filled("float", 8, 2, 0, [](int, int r, int c) { return r * 8 + c; });
    Picture grey(converter.toQImage(flat.get(), 0, 0));
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey->size(), QSize(8, 2));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x) {
            const QRgb p = grey->pixel(x, y);
            EXPECT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) << x << "," << y;
        }
    // 0..15 stretched: v * 17.
    EXPECT_EQ(red(grey->pixel(0, 0)), 0);
    EXPECT_EQ(red(grey->pixel(1, 0)), 17);
    EXPECT_GE(red(grey->pixel(7, 1)), 254);

    // Frame `frame` of a record that is not 3 frames deep, in grey; frames
    // past either end show the nearest one.
    auto value = [](int k, int r, int c) { return (k + 1) * std::cos(r * 5.0 + c * k); };
    Record five = filled("float", 6, 3, 5, value);
    for (const std::pair<int, int> &pick :
         std::initializer_list<std::pair<int, int>>{{2, 2}, {0, 0}, {9, 4}, {-3, 0}}) {
        const int asked = pick.first;
        const int shown = pick.second;
        Record frame =
            filled("float", 6, 3, 0, [&](int, int r, int c) { return value(shown, r, c); });
        Picture got(converter.toQImage(five.get(), 0, asked));
        ASSERT_TRUE(got) << asked;
        const std::vector<float> values = plane(frame.get(), 0);
        expectSamePicture(*got, expectedPicture(6, 3, {values, values, values}));
    }

    // A 3-D record of a single frame is a grey picture of it.
    Record single = filled("float", 3, 2, 1, [](int, int r, int c) { return r - c; });
    const std::vector<float> values = plane(single.get(), 0);
    expectSamePicture(*Picture(converter.toQImage(single.get(), 0, 0)),
                      expectedPicture(3, 2, {values, values, values}));
}

TEST(Tamo2Qt, OtherTypesShowTheirValues) {
    Tamo2Qt converter;
    auto value = [](int k, int r, int c) { return (r * 7 + c * 3 + k * 11) % 23 - 9; };
    for (const char *type : {"16bit", "u8bit", "32bit", "64flt"}) {
        SCOPED_TRACE(type);
        // Unsigned bytes cannot hold the negative values.
        auto v = [&](int k, int r, int c) {
            return std::string(type) == "u8bit" ? value(k, r, c) + 9 : value(k, r, c);
        };
        Record grey = filled(type, 7, 3, 0, v);
        Record greyFloat = filled("float", 7, 3, 0, v);
        expectSamePicture(*Picture(converter.toQImage(grey.get(), 0, 0)),
                          *Picture(converter.toQImage(greyFloat.get(), 0, 0)));
        Record colour = filled(type, 7, 3, 3, v);
        Record colourFloat = filled("float", 7, 3, 3, v);
        expectSamePicture(*Picture(converter.toQImage(colour.get(), 0, 0)),
                          *Picture(converter.toQImage(colourFloat.get(), 0, 0)));
    }

    // A "64cmp" record shows its real parts; "struct" records have nothing
    // to show.
    Record complex = create("64cmp", 4, 2);
    auto *data = reinterpret_cast<double *>(complex->orvptr);
    for (int i = 0; i < 8; ++i) {
        data[2 * i] = i * 3;
        data[2 * i + 1] = 100 - i;
    }
    Record real = filled("float", 4, 2, 0, [](int, int r, int c) { return (r * 4 + c) * 3; });
    expectSamePicture(*Picture(converter.toQImage(complex.get(), 0, 0)),
                      *Picture(converter.toQImage(real.get(), 0, 0)));
    const int dims[] = {2, 4, 4};
    Record opaque = own(Tamocreate("struct", dims, 11, 8));
    EXPECT_EQ(converter.toQImage(opaque.get(), 0, 0), nullptr);
    EXPECT_EQ(converter.toQImage(nullptr, 0, 0), nullptr);
}

TEST(Tamo2Qt, ComplexRecordsShowTheChosenComponent) {
    Tamo2Qt converter;
    Record img = create("32cmp", 6, 2);
    auto *data = reinterpret_cast<float *>(img->orvptr);
    std::vector<std::vector<float>> parts(4);
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
        SCOPED_TRACE(component);
        Picture got(converter.toQImage(img.get(), component, 0));
        ASSERT_TRUE(got);
        const std::vector<float> &v = parts[component];
        const QImage want = expectedPicture(6, 2, {v, v, v});
        ASSERT_EQ(got->size(), want.size());
        // Magnitude and phase may differ from the test's own sqrt and atan2
        // in the last bit, which can move a byte by one.
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 8; ++x)
                EXPECT_NEAR(red(got->pixel(x, y)), red(want.pixel(x, y)), component < 2 ? 1 : 0);
    }
    // No such component: black.
    Picture none(converter.toQImage(img.get(), 7, 0));
    ASSERT_TRUE(none);
    EXPECT_EQ(none->pixel(3, 1), 0xFF000000u);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("c2mag:incomplex outreal"), std::string::npos) << out;
}

TEST(Tamo2Qt, ConstantAndNanValues) {
    Tamo2Qt converter;
    testing::internal::CaptureStdout();
    Record constant = filled("float", 5, 3, 3, [](int, int, int) { return 42.0; });
    Picture black(converter.toQImage(constant.get(), 0, 0));
    Record flat = filled("float", 4, 4, 0, [](int, int, int) { return -7.0; });
    Picture black2(converter.toQImage(flat.get(), 0, 0));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Cannot vidscale, all pixels are the same brightness"), std::string::npos);
    for (const QImage *p : {black.get(), black2.get()})
        for (int y = 0; y < p->height(); ++y)
            for (int x = 0; x < p->width(); ++x) ASSERT_EQ(p->pixel(x, y), 0xFF000000u);

    // NaN takes no part in the range and shows black.
    Record holes =
        filled("float", 4, 1, 0, [](int, int, int c) { return c == 1 ? std::nan("") : c * 10.0; });
    Picture p(converter.toQImage(holes.get(), 0, 0));
    EXPECT_EQ(red(p->pixel(0, 0)), 0);
    EXPECT_EQ(red(p->pixel(1, 0)), 0);
    EXPECT_EQ(red(p->pixel(2, 0)), 170);
    EXPECT_GE(red(p->pixel(3, 0)), 254);
}

TEST(Tamo2Qt, CopyFrameIntoAndNormimage) {
    Tamo2Qt converter;
    Record target = create("float", 3, 2, 3);
    Record source = filled("float", 3, 2, 0, [](int, int r, int c) { return 1 + r * 3 + c; });
    converter.copyFrameInto(source.get(), target.get(), 1);
    const float *t = reinterpret_cast<float *>(target->orvptr);
    for (int i = 0; i < 18; ++i) EXPECT_EQ(t[i], i >= 6 && i < 12 ? i - 5 : 0) << i;

    // Misfits change nothing: another shape, a frame outside the target, a
    // target that is not "float".
    Record wrong = filled("float", 2, 3, 0, [](int, int, int) { return 9.0; });
    converter.copyFrameInto(wrong.get(), target.get(), 0);
    converter.copyFrameInto(source.get(), target.get(), 3);
    converter.copyFrameInto(source.get(), target.get(), -1);
    Record bytes = create("u8bit", 3, 2, 3);
    converter.copyFrameInto(source.get(), bytes.get(), 0);
    for (int i = 0; i < 18; ++i) EXPECT_EQ(t[i], i >= 6 && i < 12 ? i - 5 : 0) << i;
    EXPECT_EQ(Tamoigp3d(bytes.get(), 0, 1, 1), 0);
    // A source of another type is converted.
    Record shorts = filled("16bit", 3, 2, 0, [](int, int r, int c) { return -r - c; });
    converter.copyFrameInto(shorts.get(), target.get(), 2);
    EXPECT_EQ(t[12 + 5], -3.0f);

    // normimage fills an existing picture; columns past the record repeat its
    // last one.
    Record img = filled("float", 3, 2, 3, [](int k, int r, int c) { return k * 6 + r * 3 + c; });
    QImage picture(4, 2, QImage::Format_RGB32);
    picture.fill(Qt::white);
    converter.normimage(img.get(), &picture);
    expectSamePicture(
        picture,
        expectedPicture(3, 2, {plane(img.get(), 0), plane(img.get(), 1), plane(img.get(), 2)}));
}
