// tamo fft, ifft, mag, phase, real, imag, vidscale and colormap run on files.
#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "clitest.h"
#include "tamo++.h"
#include "tamo.h"
#include "testrecords.h"

namespace {

tamo::RecordPtr image(const char *type, int cols, int rows, const std::vector<double> &values) {
    int dims[3] = {2, cols, rows};
    tamo::RecordPtr img(Tamocreate(type, dims, 11, 0));
    for (int i = 0; i < cols * rows; ++i) Tamofpp(img.get(), i / cols, i % cols, values[i]);
    return img;
}

std::vector<double> values(TAMOHDR *img) {
    std::vector<double> v;
    for (int r = 0; r < Tamonr(img); ++r)
        for (int c = 0; c < Tamonc(img); ++c) v.push_back(Tamofgp(img, r, c));
    return v;
}

TEST(CliDisplay, ForwardAndInverseTransformsRoundTrip) {
    clitest::TempDir dir;
    const std::string in = dir.file("in.tam");
    // A constant 4 x 4 "u8bit" image: its transform is 16 c at the origin.
    testsupport::writeOwnFormat(in, image("u8bit", 4, 4, std::vector<double>(16, 3)).get());

    auto r = clitest::run({"fft", in, dir.file("spectrum.tam")});
    ASSERT_EQ(r.status, 0) << r.err;
    auto spectrum = testsupport::readOwnFormat(dir.file("spectrum.tam"));
    ASSERT_TRUE(spectrum);
    EXPECT_STREQ(spectrum->orvdt, "32cmp");
    std::vector<double> expected(16, 0.0);
    expected[0] = 48;
    EXPECT_EQ(values(spectrum.get()), expected);

    r = clitest::run({"ifft", dir.file("spectrum.tam"), dir.file("back.tam")});
    ASSERT_EQ(r.status, 0) << r.err;
    auto back = testsupport::readOwnFormat(dir.file("back.tam"));
    ASSERT_TRUE(back);
    for (double v : values(back.get())) EXPECT_NEAR(v, 3.0, 1e-6);

    // The library's refusal becomes a failure with its message.
    testsupport::writeOwnFormat(dir.file("odd.tam"),
                                image("float", 3, 3, std::vector<double>(9, 1)).get());
    r = clitest::run({"fft", dir.file("odd.tam"), dir.file("x.tam")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cff2d:image dimension must be  a power of 2! BYE!\n"), std::string::npos);
    EXPECT_NE(r.err.find("Tamocfft2d: the image's side is not a power of two (code -2)"),
              std::string::npos)
        << r.err;
}

TEST(CliDisplay, ComplexComponentsInChosenTypes) {
    clitest::TempDir dir;
    int dims[3] = {2, 2, 1};
    tamo::RecordPtr c(Tamocreate("32cmp", dims, 11, 0));
    const float v[4] = {3, 4, -600, 0};
    std::memcpy(c->orvptr, v, sizeof v);
    const std::string in = dir.file("c.tam");
    testsupport::writeOwnFormat(in, c.get());

    auto r = clitest::run({"mag", in, dir.file("m.tam")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "c2mag:incomplex outreal\n");
    auto m = testsupport::readOwnFormat(dir.file("m.tam"));
    ASSERT_TRUE(m);
    EXPECT_STREQ(m->orvdt, "32flt");
    EXPECT_EQ(values(m.get()), (std::vector<double>{5, 600}));

    r = clitest::run({"mag", in, dir.file("mb.tam"), "--type", "u8bit"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(values(testsupport::readOwnFormat(dir.file("mb.tam")).get()),
              (std::vector<double>{5, 255}));

    r = clitest::run({"phase", in, dir.file("p.tam"), "--type", "double"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto p = values(testsupport::readOwnFormat(dir.file("p.tam")).get());
    EXPECT_DOUBLE_EQ(p[0], std::atan2(4.0, 3.0));
    EXPECT_DOUBLE_EQ(p[1], M_PI);

    for (const char *cmd : {"real", "imag"}) {
        r = clitest::run({cmd, in, dir.file("x.tam")});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(values(testsupport::readOwnFormat(dir.file("x.tam")).get()),
                  cmd[0] == 'r' ? (std::vector<double>{3, -600}) : (std::vector<double>{4, 0}));
    }

    testsupport::writeOwnFormat(dir.file("f.tam"), image("float", 2, 1, {1, 2}).get());
    r = clitest::run({"real", dir.file("f.tam"), dir.file("y.tam")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("must be complex"), std::string::npos);
    r = clitest::run({"imag", in, dir.file("y.tam"), "--type", "nonsense"});
    EXPECT_EQ(r.status, 2);
}

TEST(CliDisplay, VidscaleStretchesAndRefusesConstantImages) {
    clitest::TempDir dir;
    testsupport::writeOwnFormat(dir.file("in.tam"), image("16bit", 3, 1, {-100, 155, 0}).get());
    auto r = clitest::run({"vidscale", dir.file("in.tam"), dir.file("out.tam")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "range -100 155\n");
    auto out = testsupport::readOwnFormat(dir.file("out.tam"));
    ASSERT_TRUE(out);
    EXPECT_STREQ(out->orvdt, "u8bit");
    EXPECT_EQ(values(out.get()), (std::vector<double>{0, 255, 100}));

    // On standard output the image stays clean; the text goes to stderr.
    r = clitest::run({"vidscale", dir.file("in.tam"), "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "range -100 155\n");
    clitest::writeFile(dir.file("piped.tam"), r.out);
    ASSERT_TRUE(testsupport::readOwnFormat(dir.file("piped.tam")));

    testsupport::writeOwnFormat(dir.file("flat.tam"), image("float", 2, 2, {7, 7, 7, 7}).get());
    r = clitest::run({"vidscale", dir.file("flat.tam"), dir.file("no.tam")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Cannot vidscale, all pixels are the same brightness\n");
    EXPECT_FALSE(testsupport::readOwnFormat(dir.file("no.tam")));

    r = clitest::run({"vidscale", dir.file("flat.tam"), dir.file("no.tam"), "--per-frame"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("3 dimensions"), std::string::npos);
}

TEST(CliDisplay, ColormapWritesPictures) {
    clitest::TempDir dir;
    // Float values are stretched to 0..255 before the hot-metal map.
    testsupport::writeOwnFormat(dir.file("in.tam"), image("float", 2, 1, {0, 1}).get());
    auto r = clitest::run({"colormap", dir.file("in.tam"), dir.file("hot.png"), "--map", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    QImage hot(QString::fromStdString(dir.file("hot.png")));
    ASSERT_EQ(hot.width(), 2);
    EXPECT_EQ(hot.pixel(0, 0) & 0xFFFFFF, 0x010000u);
    EXPECT_EQ(hot.pixel(1, 0) & 0xFFFFFF, 0xFFFFFBu);

    r = clitest::run({"colormap", dir.file("in.tam"), dir.file("x.tam"), "--map", "9"});
    EXPECT_EQ(r.status, 2);
    r = clitest::run({"colormap", dir.file("in.tam"), dir.file("x.tam")});
    EXPECT_EQ(r.status, 2);

    // Label colours: reproducible with a seed, black for labels 0 and 1.
    testsupport::writeOwnFormat(dir.file("labels.tam"),
                                image("u8bit", 3, 2, {0, 0, 0, 0, 1, 2}).get());
    for (const char *name : {"a.tam", "b.tam"}) {
        r = clitest::run(
            {"colormap", dir.file("labels.tam"), dir.file(name), "--labels", "3", "--seed", "11"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    auto a = testsupport::readOwnFormat(dir.file("a.tam")),
         b = testsupport::readOwnFormat(dir.file("b.tam"));
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->orvdim[2].dlen, 3);
    EXPECT_EQ(std::memcmp(a->orvptr, b->orvptr, 18), 0);
    for (int f = 0; f < 3; ++f) EXPECT_EQ(Tamoigp3d(a.get(), f, 1, 1), 0);
    const int sum =
        Tamoigp3d(a.get(), 0, 1, 2) + Tamoigp3d(a.get(), 1, 1, 2) + Tamoigp3d(a.get(), 2, 1, 2);
    EXPECT_GT(sum, 0);
}

}  // namespace
