// Colour tables, their application to 8-bit images and random label colours.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tamo++.h"
#include "tamo.h"
#include "testrecords.h"

namespace {

using testsupport::image;
using testsupport::stdoutOf;

using tamo::RecordPtr;

using Rgb = std::array<int, 3>;

struct Table {
    unsigned char bytes[768];
    explicit Table(int map) {
        std::memset(bytes, 0xAB, sizeof bytes);
        CreateColorMap(bytes, nullptr, map);
    }
    Rgb operator[](int j) const { return {bytes[j], bytes[256 + j], bytes[512 + j]}; }
};

Rgb hex(uint32_t c) {
    return {int(c >> 16), int((c >> 8) & 0xFF), int(c & 0xFF)};
}

TEST(ColorMap, GreyAndLogMaps) {
    const Table grey(0), inverse(1), log(5);
    for (int j : {0, 1, 127, 255}) EXPECT_EQ(grey[j], (Rgb{j, j, j}));
    EXPECT_EQ(inverse[0], (Rgb{0, 0, 0}));
    EXPECT_EQ(inverse[1], (Rgb{255, 255, 255}));
    EXPECT_EQ(inverse[128], (Rgb{128, 128, 128}));
    EXPECT_EQ(inverse[255], (Rgb{1, 1, 1}));
    // 255 * log10(j + 1) / log10(256), worked out by hand.
    EXPECT_EQ(log[0], (Rgb{0, 0, 0}));
    EXPECT_EQ(log[1], (Rgb{31, 31, 31}));
    EXPECT_EQ(log[2], (Rgb{50, 50, 50}));
    EXPECT_EQ(log[15], (Rgb{127, 127, 127}));  // log10(16) / log10(256) = 1/2
    EXPECT_EQ(log[255], (Rgb{255, 255, 255}));
    for (int j = 1; j < 256; ++j) EXPECT_LE(log[j - 1][0], log[j][0]);
}

TEST(ColorMap, MevrelBandsStartAndEndWhereTabulated) {
    const Table mevrel(2);
    const struct {
        int first, last;
        Rgb colour;
    } bands[] = {{0, 23, {0, 0, 0}},         {24, 49, {160, 160, 160}}, {50, 73, {150, 135, 0}},
                 {74, 99, {0, 0, 215}},      {100, 123, {0, 195, 0}},   {124, 149, {0, 240, 240}},
                 {150, 173, {240, 0, 240}},  {174, 199, {255, 175, 0}}, {200, 223, {255, 252, 0}},
                 {224, 255, {255, 255, 255}}};
    for (const auto &band : bands) {
        SCOPED_TRACE(band.first);
        for (int j = band.first; j <= band.last; ++j) EXPECT_EQ(mevrel[j], band.colour);
    }
}

TEST(ColorMap, HotMetalRampsAtTheirBreakPoints) {
    const Table hot(3);
    // Index j takes level j | 1: red 255 i / 182, green 255 (i - 128) / 91,
    // blue 255 (i - 192) / 64, each floored and saturating at 255.
    EXPECT_EQ(hot[0], (Rgb{1, 0, 0}));
    EXPECT_EQ(hot[127], (Rgb{177, 0, 0}));
    EXPECT_EQ(hot[128], (Rgb{180, 2, 0}));  // green starts
    EXPECT_EQ(hot[180], (Rgb{253, 148, 0}));
    EXPECT_EQ(hot[182], (Rgb{255, 154, 0}));  // red saturated
    EXPECT_EQ(hot[190], (Rgb{255, 176, 0}));
    EXPECT_EQ(hot[192], (Rgb{255, 182, 3}));  // blue starts
    EXPECT_EQ(hot[216], (Rgb{255, 249, 99}));
    EXPECT_EQ(hot[218], (Rgb{255, 255, 107}));  // green saturated
    EXPECT_EQ(hot[255], (Rgb{255, 255, 251}));
}

TEST(ColorMap, HeatedSpectrumSegmentEnds) {
    const Table heated(4);
    // Index j shows entry j / 2 of the half-resolution table.
    EXPECT_EQ(heated[0], (Rgb{0, 0, 0}));
    EXPECT_EQ(heated[35], (Rgb{0, 0, 255}));  // entry 17
    EXPECT_EQ(heated[36], (Rgb{0, 0, 255}));  // entry 18: blue to cyan
    EXPECT_EQ(heated[38], (Rgb{0, 15, 255}));
    EXPECT_EQ(heated[72], (Rgb{0, 255, 255}));    // entry 36: cyan to green
    EXPECT_EQ(heated[107], (Rgb{0, 255, 0}));     // entry 53
    EXPECT_EQ(heated[143], (Rgb{255, 255, 0}));   // entry 71: yellow
    EXPECT_EQ(heated[179], (Rgb{255, 0, 0}));     // entry 89: red
    EXPECT_EQ(heated[215], (Rgb{255, 0, 255}));   // entry 107: magenta
    EXPECT_EQ(heated[218], (Rgb{255, 13, 255}));  // entry 109
    EXPECT_EQ(heated[255], (Rgb{255, 255, 255}));
}

TEST(ColorMap, HalfResolutionMapsPairIndices) {
    for (int map : {2, 3, 4}) {
        const Table t(map);
        for (int j = 0; j < 256; j += 2) EXPECT_EQ(t[j], t[j + 1]) << "map " << map << " at " << j;
    }
}

TEST(ColorMap, RandomTableRepeatsAfter128) {
    const Table random(6);
    for (int j = 0; j < 128; ++j) EXPECT_EQ(random[j], random[j + 128]) << j;
    EXPECT_EQ(random[0], hex(0x1B837C));
    EXPECT_EQ(random[7], hex(0x5371B4));
    EXPECT_EQ(random[58], hex(0xE3ADCE));
    EXPECT_EQ(random[59], hex(0x7F7F7F));
    EXPECT_EQ(random[187], hex(0x7F7F7F));
    EXPECT_EQ(random[60], hex(0x45A013));
    EXPECT_EQ(random[100], hex(0xBD0443));
    EXPECT_EQ(random[127], hex(0xC0926A));
    EXPECT_EQ(random[255], hex(0xC0926A));
}

TEST(ColorMap, UnknownMapLeavesTheTableAlone) {
    for (int map : {-1, 7, 1000}) {
        const Table t(map);
        for (unsigned char b : t.bytes) ASSERT_EQ(b, 0xAB);
    }
}

TEST(Tamocolormap, PaintsThreeFramesClampingTheInput) {
    auto in = image("float", 4, 1);
    const float values[4] = {-5, 1, 300, 24};
    std::memcpy(in->orvptr, values, sizeof values);
    auto out = image("u8bit", 4, 1, 3);
    EXPECT_EQ(Tamocolormap(in.get(), out.get(), 2), 0);
    // Frames are red, green, blue; -5 counts as 0 and 300 as 255.
    const uint8_t expected[12] = {0, 0, 255, 160, 0, 0, 255, 160, 0, 0, 255, 160};
    EXPECT_EQ(std::memcmp(out->orvptr, expected, 12), 0);

    auto bytes = image("u8bit", 2, 1);
    tamo::pixels<uint8_t>(bytes.get())[0] = 1;
    tamo::pixels<uint8_t>(bytes.get())[1] = 128;
    auto rgb = image("u8bit", 2, 1, 3);
    EXPECT_EQ(Tamocolormap(bytes.get(), rgb.get(), 6), 0);
    // Entry 1 is 995E41; index 128 repeats entry 0, 1B837C.
    const uint8_t expectedRgb[6] = {0x99, 0x1B, 0x5E, 0x83, 0x41, 0x7C};
    EXPECT_EQ(std::memcmp(rgb->orvptr, expectedRgb, 6), 0);
}

TEST(Tamocolormap, RefusesWithCodeAndLineLeavingOutputAlone) {
    auto in = image("u8bit", 2, 2);
    auto rgb = image("u8bit", 2, 2, 3);
    auto floatRgb = image("float", 2, 2, 3);
    auto flat = image("u8bit", 2, 2);
    auto twoFrames = image("u8bit", 2, 2, 2);
    auto wide = image("u8bit", 3, 2, 3);
    auto cube = image("u8bit", 2, 2, 3);
    const struct {
        TAMOHDR *in;
        TAMOHDR *out;
        int map;
        int code;
        const char *line;
    } cases[] = {
        {in.get(), floatRgb.get(), 0, -1, "Tamocolormap: output image must be U8IT\n"},
        {cube.get(), rgb.get(), 0, -2, "input image needs to be 2D\n"},
        {in.get(), flat.get(), 0, -3, "Tamocolormap:output image must be 3D\n"},
        {in.get(), twoFrames.get(), 0, -3, "Tamocolormap:output image must be 3D\n"},
        {in.get(), wide.get(), 0, -4,
         "Tamocolormap: input and output images must be the same rows and cols\n"},
        {in.get(), rgb.get(), 7, -5, "Tamocolormap: map number must be 0 to 6\n"},
        {in.get(), rgb.get(), -1, -5, "Tamocolormap: map number must be 0 to 6\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        std::memset(rgb->orvptr, 77, 12);
        int code = 0;
        EXPECT_EQ(stdoutOf([&] { code = Tamocolormap(c.in, c.out, c.map); }), c.line);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(tamo::pixels<uint8_t>(rgb.get())[5], 77);
    }
}

TEST(Colormap6, ColoursLabelsFromTheGeneratorSequence) {
    const int n = 5;
    auto labels = image("float", 4, 3);
    // Row 0 and column 0 are never visited; 7 and -3 lie outside 0..n-1.
    const float values[12] = {4, 4, 4, 4,  //
                              4, 2, 3, 4,  //
                              4, 1, 7, -3};
    std::memcpy(labels->orvptr, values, sizeof values);
    auto out = image("u16bit", 4, 3, 3);
    for (long long i = 0; i < 36; ++i) tamo::pixels<uint16_t>(out.get())[i] = 999;

    Tamosrand48(2024);
    EXPECT_EQ(stdoutOf([&] { colormap6(labels.get(), out.get(), n); }),
              "processing a random color map");
    const double next = Tamodrand48();

    // The same draws by hand: bytes 2 .. 3n-1 of red, green, blue planes.
    Tamosrand48(2024);
    std::vector<int> table(3 * n, 0);
    for (int i = 2; i < 3 * n; ++i) table[i] = static_cast<int>(255 * Tamodrand48());
    EXPECT_EQ(next, Tamodrand48());  // the call continues the sequence

    auto pixel = [&](int row, int col) {
        return Rgb{Tamoigp3d(out.get(), 0, row, col), Tamoigp3d(out.get(), 1, row, col),
                   Tamoigp3d(out.get(), 2, row, col)};
    };
    auto colour = [&](int v) { return Rgb{table[v], table[n + v], table[2 * n + v]}; };
    EXPECT_EQ(pixel(1, 1), colour(2));
    EXPECT_EQ(pixel(1, 2), colour(3));
    EXPECT_EQ(pixel(1, 3), colour(4));
    EXPECT_EQ(pixel(2, 1), (Rgb{0, 0, 0}));  // label 1
    EXPECT_EQ(pixel(2, 2), (Rgb{0, 0, 0}));  // label 7
    EXPECT_EQ(pixel(2, 3), (Rgb{0, 0, 0}));  // label -3
    for (int c = 0; c < 4; ++c) EXPECT_EQ(pixel(0, c), (Rgb{999, 999, 999}));
    for (int r = 0; r < 3; ++r) EXPECT_EQ(pixel(r, 0), (Rgb{999, 999, 999}));
    for (int v = 2; v < n; ++v)
        for (int ch = 0; ch < 3; ++ch) EXPECT_LE(colour(v)[ch], 254);
}

TEST(Colormap6, BlackLabelsOnlyAndMismatchedOutput) {
    auto labels = image("u8bit", 3, 3);
    tamo::pixels<uint8_t>(labels.get())[4] = 1;
    auto out = image("u8bit", 3, 3, 3);
    std::memset(out->orvptr, 9, 27);
    stdoutOf([&] { colormap6(labels.get(), out.get(), 2); });
    for (int f = 0; f < 3; ++f)
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(Tamoigp3d(out.get(), f, r, c), r == 0 || c == 0 ? 9 : 0);

    // An output that cannot hold three frames of the input is not written.
    auto small = image("u8bit", 2, 3, 3);
    std::memset(small->orvptr, 9, 18);
    const std::string said = stdoutOf([&] { colormap6(labels.get(), small.get(), 2); });
    EXPECT_NE(said.find("colormap6:"), std::string::npos);
    EXPECT_EQ(tamo::pixels<uint8_t>(small.get())[17], 9);
}

}  // namespace
