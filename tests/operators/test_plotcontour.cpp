// Point files: picture size, colours, clipping, short and untidy files, and
// the process-ending path for a file that cannot be opened.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "tamo++.h"
#include "tamo.h"
#include "testrecords.h"
#include "tempdir.h"

namespace {

using testsupport::ExitCalled;
using testsupport::ExitHook;
using testsupport::throwingExit;

void returningExit(int) {}

// This run's own temporary folder.
const testsupport::TempDir &tempDir() {
    static const testsupport::TempDir dir;
    return dir;
}

std::string writeFile(const std::string &name, const std::string &text) {
    std::string path = tempDir().file(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

struct Plot {
    tamo::RecordPtr img;
    std::string out, err;
};

Plot plot(const std::string &path, int rows = 0, int cols = 0, int precise = 0,
          float scale = 1.0f) {
    Plot p;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    p.img.reset(Tamoplotcontour(path.c_str(), rows, cols, precise, scale));
    p.err = testing::internal::GetCapturedStderr();
    p.out = testing::internal::GetCapturedStdout();
    return p;
}

using Rgb = std::tuple<int, int, int>;
const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

Rgb at(TAMOHDR *img, int r, int c) {
    return {Tamoigp3d(img, 0, r, c), Tamoigp3d(img, 1, r, c), Tamoigp3d(img, 2, r, c)};
}

// Every lit pixel of the picture as (row, col, colour), in row-major order.
std::vector<std::tuple<int, int, Rgb>> litPixels(TAMOHDR *img) {
    std::vector<std::tuple<int, int, Rgb>> lit;
    for (int r = 0; r < Tamodimen(img, 1); ++r)
        for (int c = 0; c < Tamodimen(img, 0); ++c)
            if (at(img, r, c) != kBlack) lit.emplace_back(r, c, at(img, r, c));
    return lit;
}

using Lit = std::vector<std::tuple<int, int, Rgb>>;

TEST(Plotcontour, SizesThePictureToThePointsAndColoursFirstAndLast) {
    std::string path = writeFile("three", "# 3\n10 20\n12 22\n14 24\n");
    Plot p = plot(path);
    ASSERT_TRUE(p.img);
    EXPECT_EQ(p.out, "plotcontour:read inputimage\n");
    EXPECT_EQ(p.err, "");
    EXPECT_STREQ(p.img->orvdt, "u8bit");
    EXPECT_EQ(p.img->orvndim, 3);
    EXPECT_EQ(Tamodimen(p.img.get(), 0), 5);
    EXPECT_EQ(Tamodimen(p.img.get(), 1), 5);
    EXPECT_EQ(Tamodimen(p.img.get(), 2), 3);
    EXPECT_EQ(litPixels(p.img.get()), (Lit{{0, 0, kRed}, {2, 2, kWhite}, {4, 4, kGreen}}));

    // Scale 2 doubles the picture and the spacing: rows 2*(y - 20 + 0.5).
    Plot scaled = plot(path, 0, 0, 0, 2.0f);
    EXPECT_EQ(Tamodimen(scaled.img.get(), 0), 10);
    EXPECT_EQ(Tamodimen(scaled.img.get(), 1), 10);
    EXPECT_EQ(litPixels(scaled.img.get()), (Lit{{1, 1, kRed}, {5, 5, kWhite}, {9, 9, kGreen}}));

    // Wide and flat: x spans 7 columns, y one row.
    Plot flat = plot(writeFile("flat", "# 2\n3 9\n9 9\n"));
    EXPECT_EQ(Tamodimen(flat.img.get(), 0), 7);
    EXPECT_EQ(Tamodimen(flat.img.get(), 1), 1);
    EXPECT_EQ(litPixels(flat.img.get()), (Lit{{0, 0, kRed}, {0, 6, kGreen}}));

    // A single point is the last one: green.
    Plot single = plot(writeFile("single", "# 1\n5 5\n"));
    EXPECT_EQ(Tamodimen(single.img.get(), 0), 1);
    EXPECT_EQ(litPixels(single.img.get()), (Lit{{0, 0, kGreen}}));
}

TEST(Plotcontour, ForcedSizesAndPreciseCoordinatesClipToTheEdge) {
    std::string path = writeFile("clip", "# 3\n10 20\n12 22\n14 24\n");
    // Three rows: the point at row 4 moves to row 2, overwriting the white
    // point there with green.
    Plot small = plot(path, 3, 3);
    EXPECT_EQ(Tamodimen(small.img.get(), 1), 3);
    EXPECT_EQ(litPixels(small.img.get()), (Lit{{0, 0, kRed}, {2, 2, kGreen}}));

    // Only the columns forced: rows still follow the points.
    Plot narrow = plot(path, 0, 2);
    EXPECT_EQ(Tamodimen(narrow.img.get(), 0), 2);
    EXPECT_EQ(Tamodimen(narrow.img.get(), 1), 5);
    EXPECT_EQ(litPixels(narrow.img.get()), (Lit{{0, 0, kRed}, {2, 1, kWhite}, {4, 1, kGreen}}));

    // Precise: the coordinates as given, clipped into a forced 30 x 16 picture.
    Plot precise = plot(writeFile("precise", "# 4\n3.9 2.2\n-5 7\n15 40\n8 8\n"), 30, 16, 1, 1.0f);
    EXPECT_EQ(litPixels(precise.img.get()),
              (Lit{{2, 3, kRed}, {7, 0, kWhite}, {8, 8, kGreen}, {29, 15, kWhite}}));
}

TEST(Plotcontour, ReadsShortAndUntidyFiles) {
    // Fewer lines than announced: only the points read are plotted, and the
    // last of them is green. A last line without a newline still counts.
    Plot shortFile = plot(writeFile("short", "# 5\n0 0\n1 1\n2 2"));
    EXPECT_EQ(Tamodimen(shortFile.img.get(), 0), 3);
    EXPECT_EQ(litPixels(shortFile.img.get()), (Lit{{0, 0, kRed}, {1, 1, kWhite}, {2, 2, kGreen}}));

    // More lines than announced: the rest is ignored. Trailing text on a line
    // is ignored; tabs and several blanks separate numbers.
    Plot extra = plot(writeFile("extra", "# 2\n1 1 first\n2\t\t3   # note\n9 9\n"));
    EXPECT_EQ(Tamodimen(extra.img.get(), 0), 2);
    EXPECT_EQ(Tamodimen(extra.img.get(), 1), 3);
    EXPECT_EQ(litPixels(extra.img.get()), (Lit{{0, 0, kRed}, {2, 1, kGreen}}));

    // Coordinates far from the origin set the range themselves.
    Plot far = plot(writeFile("far", "# 2\n200000 -3000000\n200002 -2999999\n"));
    EXPECT_EQ(Tamodimen(far.img.get(), 0), 3);
    EXPECT_EQ(Tamodimen(far.img.get(), 1), 2);
    EXPECT_EQ(litPixels(far.img.get()), (Lit{{0, 0, kRed}, {1, 2, kGreen}}));
}

TEST(Plotcontour, RefusesFilesWithoutPointsOrWithUnusableSizes) {
    for (const char *text : {"# 0\n", "", "# 3\n", "# x\n1 2\n"}) {
        Plot p = plot(writeFile("none", text));
        EXPECT_FALSE(p.img) << text;
        EXPECT_NE(p.err.find("plotcontour:no points read from"), std::string::npos) << text;
        EXPECT_EQ(Tamoerr, 448);
    }
    // A forced size still gives a (black) picture.
    Plot black = plot(writeFile("none", "# 0\n"), 4, 6);
    ASSERT_TRUE(black.img);
    EXPECT_EQ(Tamodimen(black.img.get(), 0), 6);
    EXPECT_TRUE(litPixels(black.img.get()).empty());

    std::string path = writeFile("sizes", "# 2\n0 0\n3 3\n");
    for (float scale : {0.0f, -1.0f, 1e12f}) {
        Plot p = plot(path, 0, 0, 0, scale);
        EXPECT_FALSE(p.img) << scale;
        EXPECT_NE(p.err.find("plotcontour:cannot make a picture"), std::string::npos);
    }
    EXPECT_FALSE(plot(path, -2, 5).img);
    EXPECT_FALSE(plot(path, 100000, 100000).img);
}

TEST(Plotcontour, UnopenableFileEndsTheProcess) {
    const std::string missing = tempDir().file("missing/none.Tamob");
    EXPECT_EXIT(Tamoplotcontour(missing.c_str(), 0, 0, 0, 1.0f), testing::ExitedWithCode(255),
                "plotcontour:Could not open " + missing + ". Exiting");
    {
        ExitHook hook(throwingExit);
        testing::internal::CaptureStderr();
        try {
            Tamoplotcontour(missing.c_str(), 0, 0, 0, 1.0f);
            ADD_FAILURE() << "the exit handler was not called";
        } catch (const ExitCalled &s) {
            EXPECT_EQ(s.status, -1);
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "plotcontour:Could not open " + missing + ". Exiting\n");
        EXPECT_EQ(Tamoerr, 64);
    }
    ExitHook hook(returningExit);
    Plot p = plot(missing);
    EXPECT_FALSE(p.img);
    EXPECT_EQ(p.out, "");
}

TEST(SkipToEndOfLine, ConsumesThroughTheNewline) {
    std::string path = writeFile("skip", "ab\n\ncd");
    FILE *fp = std::fopen(path.c_str(), "r");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(SkipToEndOfLine(fp), 0);
    EXPECT_EQ(std::fgetc(fp), '\n');  // the empty line is still there
    EXPECT_EQ(std::fgetc(fp), 'c');
    EXPECT_EQ(SkipToEndOfLine(fp), -1);
    EXPECT_EQ(SkipToEndOfLine(fp), -1);
    std::fclose(fp);
    EXPECT_EQ(SkipToEndOfLine(nullptr), -1);
}

}  // namespace
