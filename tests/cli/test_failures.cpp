// What tamo does with damaged files, excluded option values, failing
// operators and failed writes: a reason, a failure status, and no output file
// harmed or left half-written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "bigendian.h"
#include "clitest.h"
#include "tamo++.h"
#include "tamo.h"

namespace {

using clitest::run;

// The bytes TamoWrImg writes for img.
std::string ownFormatBytes(TAMOHDR *img) {
    char *buf = nullptr;
    std::size_t len = 0;
    FILE *fp = open_memstream(&buf, &len);
    EXPECT_EQ(TamoWrImg(img, fp, 0), -1);
    std::fclose(fp);
    std::string bytes(buf, len);
    std::free(buf);
    return bytes;
}

// A record whose pixels vary in an irregular pattern (pictures of it do not
// compress much).
tamo::RecordPtr noise(const char *type, int cols, int rows) {
    int dims[3] = {2, cols, rows};
    tamo::RecordPtr img(Tamocreate(type, dims, 11, 0));
    unsigned x = 12345;
    for (int i = 0; i < cols * rows; ++i) {
        x = x * 1103515245u + 12345u;
        Tamofpp(img.get(), i / cols, i % cols, (x >> 16) & 0xff);
    }
    img->orvcomp = 0;
    return img;
}

bool exists(const std::string &path) {
    return std::filesystem::exists(path);
}

}  // namespace

TEST(CliFailures, FilesWhoseTypeFieldsMisSizeTheDataAreRefused) {
    clitest::TempDir dir;
    const std::string good = ownFormatBytes(noise("64flt", 6, 5).get());
    auto native = [&](const char *name, int32_t code, int32_t bpd) {
        std::string f = good;
        std::memset(&f[212], 0, 16);
        std::memcpy(&f[212], name, std::strlen(name));
        std::memcpy(&f[228], &code, 4);
        std::memcpy(&f[232], &bpd, 4);
        return f;
    };
    const std::string pixels(6 * 5 * 8, '\x01');
    const std::pair<const char *, std::string> refused[] = {
        {"name-size.tam", native("u8bit", 520, 8)},
        {"unknown.tam", native("quaternion", 520, 8)},
        {"big-name-size.tam", bigendian::file("u8bit", 520, 8, {6, 5}, pixels)},
        {"big-unknown.tam", bigendian::file("quaternion", 77, 8, {6, 5}, pixels)},
    };
    const std::string out = dir.file("out.tam"), picture = dir.file("out.png");
    for (const auto &[name, bytes] : refused) {
        const std::string in = dir.file(name);
        clitest::writeFile(in, bytes);
        for (const auto &args : std::vector<std::vector<std::string>>{
                 {"crcopy", in, out}, {"convert", in, picture, "--stretch"}}) {
            auto r = run(args);
            SCOPED_TRACE(name + (" " + args[0]));
            EXPECT_EQ(r.status, 1) << r.err;
            EXPECT_EQ(r.signal, 0);
            EXPECT_NE(r.err.find("bytes per datum: the"), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
            EXPECT_FALSE(exists(out) || exists(picture));
        }
    }

    // From the other byte order, a code alone that disagrees and an alias
    // are read with the table's type.
    std::vector<uint16_t> values(30);
    for (int i = 0; i < 30; ++i) values[i] = static_cast<uint16_t>(i * 1000);
    for (const char *name : {"16bit", "short"}) {
        clitest::writeFile(dir.file("big.tam"),
                           bigendian::file(name, name[0] == 's' ? 258 : 1025, 2, {6, 5},
                                           bigendian::be16s(values)));
        auto r = run({"crcopy", dir.file("big.tam"), out});
        ASSERT_EQ(r.status, 0) << r.err;
        FILE *fp = std::fopen(out.c_str(), "rb");
        tamo::RecordPtr copy(TamoRdImg(fp, 0));
        std::fclose(fp);
        ASSERT_TRUE(copy);
        EXPECT_STREQ(copy->orvdt, "16bit");
        EXPECT_EQ(copy->dtype, 258);
        EXPECT_EQ(Tamoigp(copy.get(), 4, 5), 29000);
    }
}

TEST(CliFailures, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    clitest::TempDir dir;
    const std::string in = dir.file("in.tam");
    clitest::writeFile(in, ownFormatBytes(noise("float", 200, 200).get()));
    const std::string own = dir.file("out.tam"), picture = dir.file("out.png");
    clitest::writeFile(own, "old image");
    clitest::writeFile(picture, "old picture");

    // Both outputs are far above 16 KiB, so the write fails part-way.
    auto r = run({"convert", in, own, "--no-compress"}, {}, 16 << 10);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("TamoWrImg: I/O error when writing the image data."), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("cannot write '" + own + "': File too large"), std::string::npos) << r.err;
    r = run({"convert", in, picture}, {}, 16 << 10);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write '" + picture + "': File too large"), std::string::npos)
        << r.err;
    EXPECT_EQ(clitest::readFile(own), "old image");
    EXPECT_EQ(clitest::readFile(picture), "old picture");
    const std::vector<std::string> files{"in.tam", "out.png", "out.tam"};
    EXPECT_EQ(clitest::listing(dir.path()), files);

    // A write that completes replaces the file and keeps its permissions.
    ASSERT_EQ(chmod(own.c_str(), 0640), 0);
    ASSERT_EQ(run({"convert", in, own}).status, 0);
    ASSERT_EQ(run({"convert", in, picture}).status, 0);
    struct stat st;
    ASSERT_EQ(stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(clitest::readFile(own).substr(0, 3), "TAM");
    EXPECT_EQ(clitest::readFile(picture).substr(1, 3), "PNG");
    EXPECT_EQ(clitest::listing(dir.path()), files);
}

TEST(CliFailures, FilterFailuresAndExcludedOptionValuesWriteNothing) {
    clitest::TempDir dir;
    const std::string in = dir.file("in.tam"), out = dir.file("out.tam");
    clitest::writeFile(in, ownFormatBytes(noise("float", 40, 30).get()));

    auto r = run({"gmag", in, out, "--sigma", "100"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("flDoG:kernel is 301 x 301, but image is only 30 x 40."),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("flgmag: the image has fewer rows than the kernel needs (code -5)"),
              std::string::npos)
        << r.err;
    r = run({"harris", in, out, "--sigma", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("flDoG: sigma must not be zero for derivatives"), std::string::npos);
    EXPECT_FALSE(exists(out));

    for (const auto &args : std::vector<std::vector<std::string>>{
             {"histeq", in, out, "--neighbourhood", "-1"},
             {"dog", in, out, "--order", "4"},
             {"dog", in, out, "--direction", "-1"},
             {"dog", in, out, "--order", "3", "--direction", "2"},
             {"dog", in, out, "--order", "1", "--direction", "3"},
             {"pad", in, out, "--rows", "-1"},
             {"pcon", in, in, out, "--dlt", "1"},
             {"pcon", in, in, out, "--t2", "0"},
             {"ccl", in, out, "--erase-small", "-2"},
         }) {
        r = run(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << args[3] << ": " << r.err;
        EXPECT_NE(r.err.find("(see tamo " + args[0] + " --help)"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(exists(out));
}
