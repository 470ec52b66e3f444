// tamo histeq, correlate, pcon, ccl, hog, showhog on temporary files.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "clitest.h"
#include "tamo++.h"
#include "tamo.h"
#include "testrecords.h"

namespace {

// A cols x rows image whose pixel (r, c) is value(r, c).
template <class F>
tamo::RecordPtr grid(const char *type, int cols, int rows, F value) {
    int dims[3] = {2, cols, rows};
    tamo::RecordPtr img(Tamocreate(type, dims, 11, 0));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) Tamofpp(img.get(), r, c, value(r, c));
    return img;
}

TEST(CliOps2, HelpNamesEveryParameter) {
    const std::pair<const char *, std::vector<std::string>> expected[] = {
        {"histeq", {"IN", "OUT", "--neighbourhood"}},
        {"correlate", {"IMAGE", "TEMPLATE", "OUT"}},
        {"pcon", {"ESTIMATE", "DATA", "--sigma", "--r", "--b", "--t1", "--t2", "--dlt"}},
        {"ccl",
         {"--thresh", "--minval", "--maxval", "--erase-small", "--erase-large", "--areas",
          "--type"}},
        {"hog", {"IN", "OUT"}},
        {"showhog", {"IN", "OUT"}},
    };
    for (const auto &[command, words] : expected) {
        auto r = clitest::run({command, "--help"});
        EXPECT_EQ(r.status, 0);
        for (const std::string &word : words)
            EXPECT_NE(r.out.find(word), std::string::npos) << command << " " << word;
    }
}

TEST(CliOps2, HisteqAndCorrelateWriteFloatResults) {
    clitest::TempDir dir;
    const std::string in = dir.file("in.tam"), out = dir.file("out.tam");
    testsupport::writeOwnFormat(
        in, grid("u8bit", 8, 6, [](int, int c) { return c < 4 ? 0 : 100; }).get());
    auto r = clitest::run({"histeq", in, out});
    ASSERT_EQ(r.status, 0) << r.err;
    auto eq = testsupport::readOwnFormat(out);
    ASSERT_TRUE(eq);
    EXPECT_STREQ(eq->orvdt, "32flt");
    EXPECT_EQ(Tamofgp(eq.get(), 2, 1), 127.5);
    EXPECT_EQ(Tamofgp(eq.get(), 2, 6), 255.0);
    r = clitest::run({"histeq", in, out, "--neighbourhood", "8"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("smaller than the neighborhood(8)"), std::string::npos);

    // A template cut from the image at (5, 9) peaks at its centre (9, 13).
    std::mt19937 gen(12);
    std::uniform_real_distribution<double> noise(0.0, 255.0);
    auto image = grid("float", 30, 20, [&](int, int) { return noise(gen); });
    auto templ =
        grid("float", 8, 8, [&](int r, int c) { return Tamofgp(image.get(), 5 + r, 9 + c); });
    testsupport::writeOwnFormat(dir.file("a.tam"), image.get());
    testsupport::writeOwnFormat(dir.file("b.tam"), templ.get());
    r = clitest::run({"correlate", dir.file("a.tam"), dir.file("b.tam"), out});
    ASSERT_EQ(r.status, 0) << r.err;
    auto corr = testsupport::readOwnFormat(out);
    ASSERT_TRUE(corr);
    int bestR = 0, bestC = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            if (Tamofgp(corr.get(), y, x) > Tamofgp(corr.get(), bestR, bestC)) bestR = y, bestC = x;
    EXPECT_EQ(bestR, 9);
    EXPECT_EQ(bestC, 13);
}

TEST(CliOps2, PconRestoresAndRefusesEndlessSchedules) {
    clitest::TempDir dir;
    const std::string in = dir.file("noisy.tam"), out = dir.file("flat.tam");
    testsupport::writeOwnFormat(in, grid("float", 20, 20, [](int r, int c) {
                                        return (c < 10 ? 20.0 : 80.0) +
                                               ((r * 7 + c * 3) % 5 - 2) * 0.5;
                                    }).get());
    auto r = clitest::run({"pcon", in, in, out, "--t2", "0.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto f = testsupport::readOwnFormat(out);
    ASSERT_TRUE(f);
    EXPECT_NEAR(Tamofgp(f.get(), 5, 3), 20.0, 1.5);
    EXPECT_NEAR(Tamofgp(f.get(), 5, 15), 80.0, 1.5);

    r = clitest::run({"pcon", in, in, out, "--dlt", "1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--dlt must be below 1"), std::string::npos);
    // Different sizes end the operation through the library's exit hook.
    testsupport::writeOwnFormat(dir.file("small.tam"),
                                grid("float", 20, 19, [](int, int) { return 1.0; }).get());
    r = clitest::run({"pcon", in, dir.file("small.tam"), out});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("bug1"), std::string::npos);
}

TEST(CliOps2, CclWritesLabelsAndAreas) {
    clitest::TempDir dir;
    const std::string in = dir.file("blobs.tam"), out = dir.file("labels.tam");
    // Two squares of 9 and 4 pixels and a single pixel.
    testsupport::writeOwnFormat(in, grid("float", 10, 10, [](int r, int c) {
                                        if (r >= 1 && r <= 3 && c >= 1 && c <= 3) return 100.0;
                                        if (r >= 6 && r <= 7 && c >= 5 && c <= 6) return 50.0;
                                        return r == 8 && c == 1 ? 200.0 : 0.0;
                                    }).get());
    const std::string areas = dir.file("areas.txt");
    auto r = clitest::run({"ccl", in, out, "--erase-small", "2", "--areas", areas});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("found 3 labels"), std::string::npos);
    EXPECT_EQ(clitest::readFile(areas), "0 0\n1 9\n2 4\n3 1\n");
    auto labels = testsupport::readOwnFormat(out);
    ASSERT_TRUE(labels);
    EXPECT_STREQ(labels->orvdt, "32bit");
    EXPECT_EQ(Tamoigp(labels.get(), 2, 2), 1);
    EXPECT_EQ(Tamoigp(labels.get(), 7, 6), 2);
    EXPECT_EQ(Tamoigp(labels.get(), 8, 1), 0);  // erased
    EXPECT_EQ(Tamoigp(labels.get(), 0, 4), -1);

    r = clitest::run({"ccl", in, out, "--areas", dir.file("no/such/dir/areas.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot create the areas file '" + dir.file("no/such/dir/areas.txt") +
                         "': No such file or directory"),
              std::string::npos)
        << r.err;
    r = clitest::run({"ccl", in, out, "--minval", "20", "--maxval", "10"});
    EXPECT_NE(r.status, 0);
}

TEST(CliOps2, HogAndShowhogMakeDescriptorsAndGlyphs) {
    clitest::TempDir dir;
    const std::string in = dir.file("ramp.tam"), desc = dir.file("hog.tam");
    testsupport::writeOwnFormat(in,
                                grid("float", 40, 32, [](int, int c) { return double(c); }).get());
    auto r = clitest::run({"hog", in, desc});
    ASSERT_EQ(r.status, 0) << r.err;
    auto h = testsupport::readOwnFormat(desc);
    ASSERT_TRUE(h);
    ASSERT_EQ(h->orvndim, 3);
    EXPECT_EQ(Tamodimen(h.get(), 0), 5);
    EXPECT_EQ(Tamodimen(h.get(), 1), 4);
    EXPECT_EQ(Tamodimen(h.get(), 2), 9);
    EXPECT_EQ(Tamofgp3d(h.get(), 4, 1, 2), 64.0);

    r = clitest::run({"showhog", desc, dir.file("glyphs.tam")});
    ASSERT_EQ(r.status, 0) << r.err;
    auto p = testsupport::readOwnFormat(dir.file("glyphs.tam"));
    ASSERT_TRUE(p);
    EXPECT_EQ(Tamodimen(p.get(), 0), 45);
    EXPECT_EQ(Tamodimen(p.get(), 1), 36);
    EXPECT_EQ(Tamofgp(p.get(), 9 + 4, 18 + 4), 64.0);

    r = clitest::run({"showhog", in, dir.file("glyphs.tam")});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("To view a HoG, input must have 9 frames"), std::string::npos);
}

}  // namespace
