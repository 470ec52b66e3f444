// tamo's own entry points (help, version, errors) and its file commands
// info and convert.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QColor>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "clitest.h"
#include "tamo++.h"
#include "tamo.h"

namespace {

using clitest::run;

// Writes a record to an own-format file with the library.
void writeRecord(TAMOHDR *img, const std::string &path) {
    FILE *fp = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(fp);
    EXPECT_EQ(TamoWrImg(img, fp, 0), -1);
    std::fclose(fp);
}

TAMOHDR *readRecord(const std::string &path) {
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (!fp) return nullptr;
    TAMOHDR *img = TamoRdImg(fp, 0);
    std::fclose(fp);
    return img;
}

QImage randomPicture(int w, int h, bool grey, unsigned seed) {
    QImage p(w, h, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned v = rng();
            if (grey)
                p.scanLine(y)[x] = static_cast<uchar>(v);
            else
                p.setPixel(x, y, qRgb(v & 0xff, (v >> 8) & 0xff, (v >> 16) & 0xff));
        }
    return p;
}

bool samePixels(const QImage &a, const QImage &b) {
    if (a.size() != b.size()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) return false;
    return true;
}

}  // namespace

TEST(CliTool, HelpVersionAndUsageErrors) {
    auto r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\n  convert  "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  info     "), std::string::npos) << r.out;
    r = run({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("tamo ", 0), 0u);
    r = run({"convert", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--type NAME"), std::string::npos);
    EXPECT_NE(r.out.find("--no-compress"), std::string::npos);
    EXPECT_EQ(run({"help", "info"}).out.rfind("Usage: tamo info FILE...", 0), 0u);

    for (const auto &args : std::vector<std::vector<std::string>>{
             {},
             {"frobnicate"},
             {"--frobnicate"},
             {"convert", "a.png", "b.tam", "--colour"},
             {"convert", "a.png", "b.tam", "--type"},
             {"convert", "a.png"},
             {"convert", "a.png", "b.tam", "--compress", "--no-compress"},
             {"convert", "a.png", "b.tam", "--type", "quaternion"},
         }) {
        r = run(args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(clitest::lineCount(r.err), 1) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(CliTool, PicturesRoundTripThroughTheOwnFormat) {
    clitest::TempDir dir;
    QImage colour = randomPicture(37, 23, false, 1);
    QImage grey = randomPicture(16, 40, true, 2);
    ASSERT_TRUE(colour.save(QString::fromStdString(dir.file("c.png"))));
    ASSERT_TRUE(grey.save(QString::fromStdString(dir.file("g.png"))));

    auto r = run({"convert", dir.file("c.png"), dir.file("c.tam")});
    ASSERT_EQ(r.status, 0) << r.err;
    tamo::RecordPtr img(readRecord(dir.file("c.tam")));
    ASSERT_TRUE(img);
    EXPECT_STREQ(img->orvdt, "32flt");
    ASSERT_EQ(img->orvndim, 3);
    EXPECT_EQ(img->orvdim[0].dlen, 37);
    EXPECT_EQ(img->orvdim[1].dlen, 23);
    EXPECT_EQ(img->orvdim[2].dlen, 3);
    EXPECT_EQ(Tamofgp3d(img.get(), 1, 5, 7), qGreen(colour.pixel(7, 5)));
    EXPECT_EQ(Tamofgp3d(img.get(), 2, 22, 36), qBlue(colour.pixel(36, 22)));

    r = run({"convert", dir.file("c.tam"), dir.file("c2.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(samePixels(colour, QImage(QString::fromStdString(dir.file("c2.png")))));

    // Through other types and back: unsigned bytes, interleaved channels.
    for (const char *type : {"ubyte", "Su8bit3", "double", "u16bit"}) {
        SCOPED_TRACE(type);
        r = run({"convert", dir.file("c.png"), dir.file("t.tam"), "--type", type});
        ASSERT_EQ(r.status, 0) << r.err;
        tamo::RecordPtr typed(readRecord(dir.file("t.tam")));
        ASSERT_TRUE(typed);
        EXPECT_EQ(typed->dtype, Tamontype(type));
        r = run({"convert", dir.file("t.tam"), dir.file("t.png")});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(samePixels(colour, QImage(QString::fromStdString(dir.file("t.png")))));
    }

    // Grey pictures come back with the same pixels (as three equal frames).
    ASSERT_EQ(run({"convert", dir.file("g.png"), dir.file("g.tam")}).status, 0);
    ASSERT_EQ(run({"convert", dir.file("g.tam"), dir.file("g2.png")}).status, 0);
    EXPECT_TRUE(samePixels(grey, QImage(QString::fromStdString(dir.file("g2.png")))));

    // 16-bit grey is read with its exact values whatever the type asked for,
    // then converted as the library converts any "u16bit" image.
    QImage deep(300, 2, QImage::Format_Grayscale16);
    const int dims[4] = {3, 300, 2, 3};
    tamo::RecordPtr exact(Tamocreate("u16bit", dims, TAMO_CREATE_ZEROED, 0));
    for (int x = 0; x < 300; ++x) {
        const int values[2] = {x * 219 + 1, 65535 - x * 131};
        for (int y = 0; y < 2; ++y) {
            reinterpret_cast<quint16 *>(deep.scanLine(y))[x] = static_cast<quint16>(values[y]);
            for (int f = 0; f < 3; ++f) Tamofpp3d(exact.get(), f, y, x, values[y]);
        }
    }
    ASSERT_TRUE(deep.save(QString::fromStdString(dir.file("d.png"))));
    for (const char *type : {"float", "u16bit", "32bit", "16bit", "8bit", "u8bit"}) {
        SCOPED_TRACE(type);
        r = run({"convert", dir.file("d.png"), dir.file("d.tam"), "--type", type});
        ASSERT_EQ(r.status, 0) << r.err;
        tamo::RecordPtr typed(readRecord(dir.file("d.tam")));
        ASSERT_TRUE(typed);
        EXPECT_EQ(typed->dtype, Tamontype(type));
        tamo::RecordPtr expected(Tamocreate(type, dims, TAMO_CREATE_ZEROED, 0));
        ASSERT_EQ(Tamoany2any(exact.get(), expected.get()), 0);
        for (int f = 0; f < 3; ++f)
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 300; ++x)
                    ASSERT_EQ(Tamofgp3d(typed.get(), f, y, x), Tamofgp3d(expected.get(), f, y, x))
                        << "frame " << f << " row " << y << " column " << x;
    }
    // The low bits, as for a "u16bit" file of any format: "u8bit" (the last
    // type) holds 65404 as 124, not as 65404 / 257.
    tamo::RecordPtr bytes(readRecord(dir.file("d.tam")));
    EXPECT_EQ(Tamofgp3d(bytes.get(), 0, 1, 1), 124);
}

TEST(CliTool, ConvertBetweenOwnFilesAndStreams) {
    clitest::TempDir dir;
    int dims[] = {2, 40, 30};
    tamo::RecordPtr img(Tamocreate("short", dims, 11, 0));
    for (int i = 0; i < 1200; ++i)
        reinterpret_cast<int16_t *>(img->orvptr)[i] = int16_t(i * 7 - 3000);
    writeRecord(img.get(), dir.file("a.tam"));

    // Standard output, uncompressed: exactly what the writer makes.
    auto r = run({"convert", dir.file("a.tam"), "-", "--no-compress"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.size(), 512u + 2400 + 160);
    EXPECT_EQ(r.out[255], 0);
    // Standard input, compressed, converted to another type.
    r = run({"convert", "-", dir.file("b.orv"), "--compress", "--type", "float"}, r.out);
    ASSERT_EQ(r.status, 0) << r.err;
    tamo::RecordPtr back(readRecord(dir.file("b.orv")));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->orvcomp, 1);
    EXPECT_STREQ(back->orvdt, "32flt");
    EXPECT_EQ(Tamofgp(back.get(), 29, 39), 1199 * 7 - 3000);
    EXPECT_EQ(Tamofgp(back.get(), 0, 0), -3000);
}

TEST(CliTool, PictureValuesAreClampedAndRounded) {
    clitest::TempDir dir;
    int dims[] = {2, 8, 1};
    tamo::RecordPtr img(Tamocreate("double", dims, 11, 0));
    const double values[8] = {-5,     0.4,   0.6, 127.5,
                              254.49, 254.5, 1e9, std::numeric_limits<double>::quiet_NaN()};
    std::memcpy(img->orvptr, values, sizeof values);
    writeRecord(img.get(), dir.file("v.tam"));
    auto r = run({"convert", dir.file("v.tam"), dir.file("v.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    QImage p(QString::fromStdString(dir.file("v.png")));
    ASSERT_EQ(p.width(), 8);
    const int expected[8] = {0, 0, 1, 128, 254, 255, 255, 0};
    for (int x = 0; x < 8; ++x) EXPECT_EQ(qGray(p.pixel(x, 0)), expected[x]) << x;
}

TEST(CliTool, InfoPrintsHeaderAndFrameStatistics) {
    clitest::TempDir dir;
    int dims[] = {3, 2, 2, 2};
    tamo::RecordPtr img(Tamocreate("u8bit", dims, 11, 0));
    const unsigned char values[8] = {0, 2, 4, 6, 10, 10, 10, 10};
    std::memcpy(img->orvptr, values, 8);
    writeRecord(img.get(), dir.file("s.tam"));

    auto r = run({"info", dir.file("s.tam"), dir.file("s.tam")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("==> " + dir.file("s.tam") + " <==\nTAM\nblocksize: 512\n", 0), 0u)
        << r.out;
    EXPECT_NE(r.out.find("Data type: u8bit\n"), std::string::npos);
    EXPECT_NE(r.out.find("dimensions: 2 2 2\n"
                         "frame 0: min 0 max 6 mean 3 stddev 2.23606798\n"
                         "frame 1: min 10 max 10 mean 10 stddev 0\n"),
              std::string::npos)
        << r.out;
}

TEST(CliTool, FailuresSayWhatWentWrong) {
    clitest::TempDir dir;
    auto r = run({"convert", dir.file("missing.tam"), dir.file("x.tam")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("tamo convert: cannot open '" + dir.file("missing.tam") + "'"),
              std::string::npos)
        << r.err;

    clitest::writeFile(dir.file("bad.tam"), std::string(700, 'x'));
    r = run({"info", dir.file("bad.tam")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("tamo info: cannot read '" + dir.file("bad.tam") + "' as a Tamo image: "),
              std::string::npos)
        << r.err;

    r = run({"convert", dir.file("missing.png"), dir.file("x.tam")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("tamo convert: cannot read '" + dir.file("missing.png") + "'"),
              std::string::npos);

    // A PNG file cut short: one line, nothing written.
    QImage picture(64, 64, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    ASSERT_TRUE(picture.save(QString::fromStdString(dir.file("cut.png"))));
    clitest::writeFile(dir.file("cut.png"), clitest::readFile(dir.file("cut.png")).substr(0, 70));
    r = run({"convert", dir.file("cut.png"), dir.file("cut.tam")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("tamo convert: cannot read '" + dir.file("cut.png") + "': ", 0), 0u)
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(readRecord(dir.file("cut.tam")));

    // A full device: the write fails, it is not reported as done.
    int small[] = {2, 30, 20};
    tamo::RecordPtr ok(Tamocreate("float", small, 11, 0));
    writeRecord(ok.get(), dir.file("ok.tam"));
    ASSERT_EQ(symlink("/dev/full", dir.file("full.tam").c_str()), 0);
    r = run({"convert", dir.file("ok.tam"), dir.file("full.tam")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    // A device is written in place, never replaced by a file.
    struct stat st;
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    int dims[] = {3, 4, 4, 5};
    tamo::RecordPtr img(Tamocreate("float", dims, 11, 0));
    writeRecord(img.get(), dir.file("five.tam"));
    r = run({"convert", dir.file("five.tam"), dir.file("five.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tamo convert: cannot write 5 frames as a picture (1 or 3 are needed)\n");
}

TEST(CliTool, StretchWritesThePictureTheWorkbenchShows) {
    clitest::TempDir dir;
    // Grey: one plane stretched from its smallest to its largest value.
    int dims2[] = {2, 3, 1};
    tamo::RecordPtr grey(Tamocreate("float", dims2, 11, 0));
    const float g[3] = {10, 20, 30};
    std::memcpy(grey->orvptr, g, sizeof g);
    writeRecord(grey.get(), dir.file("g.tam"));
    auto r = run({"convert", dir.file("g.tam"), dir.file("g.png"), "--stretch"});
    ASSERT_EQ(r.status, 0) << r.err;
    QImage p(QString::fromStdString(dir.file("g.png")));
    ASSERT_EQ(p.width(), 3);
    EXPECT_EQ(qGray(p.pixel(0, 0)), 0);
    EXPECT_EQ(qGray(p.pixel(1, 0)), 127);
    EXPECT_EQ(qGray(p.pixel(2, 0)), 255);

    // Colour: one range over the three frames keeps their balance.
    int dims3[] = {3, 1, 1, 3};
    tamo::RecordPtr colour(Tamocreate("float", dims3, 11, 0));
    const float c[3] = {100, 50, 0};
    std::memcpy(colour->orvptr, c, sizeof c);
    writeRecord(colour.get(), dir.file("c.tam"));
    r = run({"convert", dir.file("c.tam"), dir.file("c.png"), "--stretch"});
    ASSERT_EQ(r.status, 0) << r.err;
    QImage q(QString::fromStdString(dir.file("c.png")));
    EXPECT_EQ(qRed(q.pixel(0, 0)), 255);
    EXPECT_EQ(qGreen(q.pixel(0, 0)), 127);
    EXPECT_EQ(qBlue(q.pixel(0, 0)), 0);

    // A frame that does not exist is refused and nothing is written.
    r = run({"convert", dir.file("g.tam"), dir.file("x.png"), "--stretch", "--frame", "2"});
    EXPECT_NE(r.status, 0);
    EXPECT_FALSE(std::ifstream(dir.file("x.png")).good());
}

TEST(CliTool, ScientificFilesKeepTheirTypeThroughConvertAndInfo) {
    clitest::TempDir dir;
    const std::string stack = std::string(TAMO_SAMPLES_DIR) + "/u16_stack.tif";
    auto r = run({"info", stack});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Data type: u16bit\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("dimensions: 4 3 5\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frame 4: min 52000 max 65535 "), std::string::npos) << r.out;

    // TIFF -> .npy -> own format keeps the type; --type converts; TIFF is
    // Deflate-compressed only on request.
    ASSERT_EQ(run({"convert", stack, dir.file("s.npy")}).status, 0);
    ASSERT_EQ(run({"convert", dir.file("s.npy"), dir.file("s.tam")}).status, 0);
    r = run({"convert", dir.file("s.tam"), dir.file("s.tif"), "--type", "64flt"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(run({"convert", dir.file("s.tif"), dir.file("z.tiff"), "--compress"}).status, 0);
    EXPECT_LT(clitest::readFile(dir.file("z.tiff")).size(),
              clitest::readFile(dir.file("s.tif")).size());
    tamo::RecordPtr own(readRecord(dir.file("s.tam")));
    ASSERT_TRUE(own);
    EXPECT_STREQ(own->orvdt, "u16bit");
    EXPECT_EQ(tamo::pixels<uint16_t>(own.get())[59], 65535);
    r = run({"info", dir.file("z.tiff")});
    EXPECT_NE(r.out.find("Data type: 64flt\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frame 4: min 52000 max 65535 "), std::string::npos) << r.out;

    // Extremes of wide types are printed exactly.
    r = run({"info", std::string(TAMO_SAMPLES_DIR) + "/fortran_bigendian_f64_3d.npy"});
    EXPECT_NE(r.out.find("frame 1: min 4 max 7.666666666666667 "), std::string::npos) << r.out;

    // Damaged files and unwritable types: one line, exit 1, nothing written.
    clitest::writeFile(dir.file("bad.npy"), "\x93NUMPY\x01");
    r = run({"convert", dir.file("bad.npy"), dir.file("out.tif")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "tamo convert: cannot read '" + dir.file("bad.npy") + "': its header is cut short\n");
    r = run({"convert", dir.file("s.tam"), dir.file("c.tif"), "--type", "32cmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(std::ifstream(dir.file("c.tif")).good());
}
