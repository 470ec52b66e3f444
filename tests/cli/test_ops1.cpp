// tamo's pointwise, filtering and measure subcommands on own-format files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "clitest.h"
#include "tamo++.h"
#include "tamo.h"

namespace {

using tamo::RecordPtr;

void writeOwn(const std::string &path, TAMOHDR *img) {
    FILE *fp = std::fopen(path.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    TamoWrImg(img, fp, 0);
    std::fclose(fp);
}

RecordPtr readOwn(const std::string &path) {
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (!fp) return nullptr;
    RecordPtr img(TamoRdImg(fp, 0));
    std::fclose(fp);
    return img;
}

RecordPtr image(const char *type, int cols, int rows, int frames = 0) {
    int dims[4] = {frames ? 3 : 2, cols, rows, frames};
    return RecordPtr(Tamocreate(type, dims, 11, 0));
}

RecordPtr pattern(int cols, int rows, float offset = 0) {
    auto img = image("float", cols, rows);
    for (int i = 0; i < cols * rows; ++i)
        tamo::pixels<float>(img.get())[i] = offset + float(std::sin(i * 0.37) * 20 + (i % cols));
    return img;
}

bool sameFloats(TAMOHDR *a, TAMOHDR *b) {
    return a && b && Tamodimen(a, -1) == Tamodimen(b, -1) &&
           std::memcmp(a->orvptr, b->orvptr, Tamodimen(a, -2)) == 0;
}

TEST(CliOps1, OneImageCommandsMatchTheLibrary) {
    clitest::TempDir dir;
    const std::string in = dir.file("in.tam"), out = dir.file("out.tam");
    auto src = pattern(24, 32, 30.0f);
    writeOwn(in, src.get());
    struct Case {
        std::vector<std::string> args;
        std::function<int(TAMOHDR *, TAMOHDR *)> op;
    };
    const Case cases[] = {
        {{"dog", "--order", "1", "--direction", "0", "--sigma", "2"},
         [](auto i, auto o) { return flDoG(i, o, 1, 0, 2.0f); }},
        {{"dog", "--order", "2", "--direction", "2", "--sigma", "1.5"},
         [](auto i, auto o) { return flDoG(i, o, 2, 2, 1.5f); }},
        {{"curv", "--sigma", "1"}, [](auto i, auto o) { return flcurv(i, o, 1.0f); }},
        {{"laplace", "--sigma", "-1"}, [](auto i, auto o) { return flLaplace(i, o, -1.0f); }},
        {{"qvar", "--sigma", "1.2"}, [](auto i, auto o) { return flqvar(i, o, 1.2f); }},
        {{"gmag"}, [](auto i, auto o) { return flgmag(i, o, 1.0f); }},
        {{"gdir", "--sigma", "0.8"}, [](auto i, auto o) { return flgdir(i, o, 0.8f); }},
        {{"harris", "--sigma", "1"}, [](auto i, auto o) { return flHarris(i, o, 1.0f); }},
        {{"abs"}, flabsolute},
        {{"adds", "--value", "-2.5"}, [](auto i, auto o) { return fladds(i, o, -2.5f); }},
        {{"mults", "--value", "3"}, [](auto i, auto o) { return flmults(i, o, 3.0f); }},
        {{"exp", "--scale", "10"}, [](auto i, auto o) { return flexp(i, o, 10.0f); }},
        {{"ln"}, flln},
        {{"sqrt"}, flsqrt},
        {{"inv"}, flinv},
        {{"cp"}, flcp},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args{c.args[0], in, out};
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        auto r = clitest::run(args);
        ASSERT_EQ(r.status, 0) << c.args[0] << ": " << r.err;
        auto want = image("float", 24, 32);
        testing::internal::CaptureStdout();
        c.op(src.get(), want.get());
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(sameFloats(readOwn(out).get(), want.get())) << c.args[0];
    }
}

TEST(CliOps1, TwoImageCommands) {
    clitest::TempDir dir;
    const std::string a = dir.file("a.tam"), b = dir.file("b.tam"), out = dir.file("out.tam");
    auto first = pattern(6, 5, 1.0f), second = pattern(4, 3, 2.0f);
    writeOwn(a, first.get());
    writeOwn(b, second.get());

    auto r = clitest::run({"add", a, b, out, "--dr", "-2", "--dc", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto sum = readOwn(out);
    ASSERT_TRUE(sum);
    EXPECT_EQ(Tamodimen(sum.get(), 0), 9);
    EXPECT_EQ(Tamodimen(sum.get(), 1), 7);
    // Row 2 of the output holds A's row 0 and, three columns on, B's row 2.
    EXPECT_FLOAT_EQ(Tamofgp(sum.get(), 2, 4),
                    Tamofgp(first.get(), 0, 4) + Tamofgp(second.get(), 2, 1));
    EXPECT_EQ(Tamofgp(sum.get(), 0, 0), 0.0);  // in neither image

    r = clitest::run({"div", a, b, out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Tamofgp(readOwn(out).get(), 4, 5), 255.0);  // outside B

    using Shifted = int (*)(TAMOHDR *, TAMOHDR *, TAMOHDR *, int, int);
    for (auto [cmd, op] : {std::pair<const char *, Shifted>{"sub", flsubi}, {"mul", flmuli}}) {
        r = clitest::run({cmd, a, b, out, "--dr", "1", "--dc", "-2"});
        ASSERT_EQ(r.status, 0) << cmd << ": " << r.err;
        auto want = image("float", 8, 6);
        ASSERT_EQ(op(first.get(), second.get(), want.get(), 1, -2), 0);
        EXPECT_TRUE(sameFloats(readOwn(out).get(), want.get())) << cmd;
    }

    const std::string same = dir.file("same.tam");
    auto other = pattern(6, 5, 4.0f);
    writeOwn(same, other.get());
    for (auto [cmd, op] :
         {std::pair<const char *, int (*)(TAMOHDR *, TAMOHDR *, TAMOHDR *)>{"addv", fladdv},
          {"multv", flmultv},
          {"divv", fldivv},
          {"atan2", flatan2}}) {
        r = clitest::run({cmd, a, same, out});
        ASSERT_EQ(r.status, 0) << cmd << ": " << r.err;
        auto want = image("float", 6, 5);
        op(first.get(), other.get(), want.get());
        EXPECT_TRUE(sameFloats(readOwn(out).get(), want.get())) << cmd;
    }
    r = clitest::run({"addv", a, b, out});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("fladdv"), std::string::npos) << r.err;
}

TEST(CliOps1, CopiesGreyPaddingAndMaxima) {
    clitest::TempDir dir;
    const std::string in = dir.file("in.tam"), out = dir.file("out.tam");
    auto colour = image("float", 20, 20, 3);
    for (int i = 0; i < 1200; ++i) tamo::pixels<float>(colour.get())[i] = float(i % 97);
    tamo::pixels<float>(colour.get())[2 * 400 + 10 * 20 + 10] = 500.0f;
    writeOwn(in, colour.get());

    ASSERT_EQ(clitest::run({"gray", in, out}).status, 0);
    auto grey = readOwn(out);
    ASSERT_EQ(grey->orvndim, 2);
    EXPECT_NEAR(Tamofgp(grey.get(), 10, 10), 0.21 * 16 + 0.72 * 28 + 0.07 * 500, 1e-3);

    ASSERT_EQ(clitest::run({"pad", in, out, "--rows", "2", "--cols", "1", "--frame", "2"}).status,
              0);
    auto pad = readOwn(out);
    EXPECT_EQ(Tamodimen(pad.get(), 0), 22);
    EXPECT_EQ(Tamofgp(pad.get(), 12, 11), 500.0);

    auto r = clitest::run({"markmax", in, out, "--sigma", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto marked = readOwn(out);
    EXPECT_EQ(Tamodimen(marked.get(), 2), 3);
    EXPECT_EQ(Tamofgp3d(marked.get(), 0, 10, 10), 255.0);
    EXPECT_EQ(Tamofgp3d(marked.get(), 2, 10, 10), 0.0);

    ASSERT_EQ(clitest::run({"crcopy", in, out}).status, 0);
    EXPECT_TRUE(sameFloats(readOwn(out).get(), colour.get()));

    r = clitest::run({"ifneg", in});
    EXPECT_EQ(r.out, "0\n");

    auto ints = image("32bit", 4, 3);
    tamo::pixels<int32_t>(ints.get())[5] = -7;
    writeOwn(in, ints.get());
    ASSERT_EQ(clitest::run({"intcp", in, out, "--colour"}).status, 0);
    EXPECT_EQ(Tamoigp3d(readOwn(out).get(), 2, 1, 1), -7);
}

TEST(CliOps1, FailuresAndHelp) {
    clitest::TempDir dir;
    const std::string in = dir.file("in.tam"), out = dir.file("out.tam");
    writeOwn(in, pattern(20, 17).get());
    auto r = clitest::run({"dog", in, out, "--order", "1", "--sigma", "1"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "flDoG:kernel is 4 x 4, but image is only 17 x 20. Exiting\n");
    EXPECT_NE(r.err.find("flDoG"), std::string::npos);
    EXPECT_EQ(readOwn(out), nullptr);

    // A pair the filter would end the process for is a usage error.
    r = clitest::run({"dog", in, out, "--order", "3", "--direction", "2"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--direction 2 needs --order 2"), std::string::npos) << r.err;

    auto ints = image("16bit", 4, 3);
    writeOwn(in, ints.get());
    r = clitest::run({"intcp", in, out});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "intcp type error 16bit and 32bit\n");

    writeOwn(in, pattern(5, 5, -100.0f).get());
    r = clitest::run({"sqrt", in, out});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("flsqrt: a value is negative (code 1)"), std::string::npos) << r.err;
    r = clitest::run({"ln", in, out});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("not positive"), std::string::npos);

    const std::pair<const char *, std::vector<const char *>> helps[] = {
        {"dog", {"--order", "--direction", "--sigma"}},
        {"add", {"--dr", "--dc"}},
        {"curv", {"--sigma"}},
        {"exp", {"--scale"}},
        {"pad", {"--rows", "--cols", "--frame"}},
        {"intcp", {"--colour"}},
    };
    for (const auto &[cmd, words] : helps) {
        r = clitest::run({cmd, "--help"});
        EXPECT_EQ(r.status, 0);
        for (const char *w : words) EXPECT_NE(r.out.find(w), std::string::npos) << cmd << " " << w;
    }
}

}  // namespace
