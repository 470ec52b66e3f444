// tamo resize: own-format and picture files, the kept data type, the image
// on standard output, and refused arguments.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <cstdio>
#include <string>
#include <vector>

#include "clitest.h"
#include "tamo++.h"
#include "tamo.h"
#include "testrecords.h"

namespace {

tamo::RecordPtr square(const char *type) {
    int dims[3] = {2, 2, 2};
    tamo::RecordPtr img(Tamocreate(type, dims, 11, 0));
    const double v[4] = {0, 10, 20, 30};
    for (int i = 0; i < 4; ++i) Tamofpp(img.get(), i / 2, i % 2, v[i]);
    return img;
}

std::vector<double> values(TAMOHDR *img) {
    std::vector<double> v;
    for (int r = 0; r < Tamodimen(img, 1); ++r)
        for (int c = 0; c < Tamodimen(img, 0); ++c) v.push_back(Tamofgp(img, r, c));
    return v;
}

TEST(CliResize, ResamplesOwnFormatFilesKeepingTheType) {
    clitest::TempDir dir;
    const std::string in = dir.file("in.tam");
    testsupport::writeOwnFormat(in, square("ubyte").get());

    auto r = clitest::run(
        {"resize", in, dir.file("rep.tam"), "--rows", "4", "--cols", "4", "--mode", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Image will be zoomed by pixel replication\nzoomupdown: processing a 2D image\n");
    auto rep = testsupport::readOwnFormat(dir.file("rep.tam"));
    ASSERT_TRUE(rep);
    EXPECT_STREQ(rep->orvdt, "u8bit");
    EXPECT_EQ(values(rep.get()),
              (std::vector<double>{0, 0, 10, 10, 0, 0, 10, 10, 20, 20, 30, 30, 20, 20, 30, 30}));

    // Bilinear is the default mode; rows and columns may differ.
    r = clitest::run({"resize", in, dir.file("lin.tam"), "--rows", "1", "--cols", "4"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto lin = testsupport::readOwnFormat(dir.file("lin.tam"));
    ASSERT_TRUE(lin);
    EXPECT_EQ(values(lin.get()), (std::vector<double>{0, 5, 10, 10}));
}

TEST(CliResize, WritesAnImageOnStandardOutputWithProgressOnStandardError) {
    clitest::TempDir dir;
    const std::string in = dir.file("in.tamo");
    testsupport::writeOwnFormat(in, square("float").get());
    auto r = clitest::run({"resize", in, "-", "--rows", "1", "--cols", "1", "--mode", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Image will be zoomed by averaging\n"), std::string::npos);
    clitest::writeFile(dir.file("out.tam"), r.out);
    auto out = testsupport::readOwnFormat(dir.file("out.tam"));
    ASSERT_TRUE(out) << "standard output is not a clean image";
    EXPECT_EQ(values(out.get()), (std::vector<double>{15}));
}

TEST(CliResize, PicturesAreResampledPerColourFrame) {
    clitest::TempDir dir;
    QImage picture(2, 1, QImage::Format_RGB32);
    picture.setPixel(0, 0, qRgb(255, 0, 0));
    picture.setPixel(1, 0, qRgb(0, 0, 255));
    ASSERT_TRUE(picture.save(QString::fromStdString(dir.file("in.png"))));

    auto r = clitest::run({"resize", dir.file("in.png"), dir.file("out.png"), "--rows", "2",
                           "--cols", "4", "--mode", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("zoomupdown: processing a 3D, 3 2 4image\n"), std::string::npos);
    QImage out(QString::fromStdString(dir.file("out.png")));
    ASSERT_EQ(out.width(), 4);
    ASSERT_EQ(out.height(), 2);
    // Columns sampled at 0.5k + 0.5: 0, 1, 1, 1.
    const QRgb want[4] = {qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 0, 255), qRgb(0, 0, 255)};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(out.pixel(x, y) & 0xffffff, want[x] & 0xffffff);
}

TEST(CliResize, RefusesBadArgumentsWithoutWriting) {
    clitest::TempDir dir;
    const std::string in = dir.file("in.tam");
    testsupport::writeOwnFormat(in, square("float").get());
    const std::string out = dir.file("out.tam");
    const std::vector<std::vector<std::string>> bad = {
        {"resize", in, out, "--rows", "4", "--cols", "4", "--mode", "3"},
        {"resize", in, out, "--rows", "4"},
        {"resize", in, out, "--rows", "0", "--cols", "4"},
        {"resize", in, out, "--rows", "x", "--cols", "4"},
        {"resize", in},
    };
    for (const auto &args : bad) {
        auto r = clitest::run(args);
        EXPECT_EQ(r.status, 2) << args.size();
        EXPECT_EQ(clitest::lineCount(r.err), 1) << r.err;
        EXPECT_NE(r.err.find("tamo resize: "), std::string::npos);
    }

    int dims[2] = {1, 5};
    tamo::RecordPtr line(Tamocreate("float", dims, 11, 0));
    testsupport::writeOwnFormat(dir.file("line.tam"), line.get());
    auto r = clitest::run({"resize", dir.file("line.tam"), out, "--rows", "2", "--cols", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot resize an image of 1 dimensions"), std::string::npos) << r.err;
    EXPECT_FALSE(testsupport::readOwnFormat(out));

    r = clitest::run({"resize", "--help"});
    EXPECT_EQ(r.status, 0);
    for (const char *name : {"--rows", "--cols", "--mode", "IN", "OUT"})
        EXPECT_NE(r.out.find(name), std::string::npos) << name;
}

}  // namespace
