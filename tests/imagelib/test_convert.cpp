// Conversion between data types.
#include <cstring>

#include "support.h"

namespace {

const char *const kTypes[] = {"32flt", "u8bit", "16bit", "8bit", "u16bit", "32bit", "64flt"};

// The value a record of `type` holds after a single write of v.
double storedAs(const char *type, double v) {
    auto one = make(type, {1, 1});
    Tamofpp(one.get(), 0, 0, v);
    return Tamofgp(one.get(), 0, 0);
}

}  // namespace

TEST_F(Lib, EveryPairConvertsLikeSingleWritesThroughSinglePrecision) {
    const double values[] = {0,       1,        -1,       2.5, -1.5, 255.9, 256,
                             40000.7, -70000.2, 16777217, 0.1, 3e9,  -3e9};
    const int n = sizeof values / sizeof values[0];
    for (const char *from : kTypes)
        for (const char *to : kTypes) {
            SCOPED_TRACE(std::string(from) + " -> " + to);
            auto src = make(from, {n, 1});
            auto dst = make(to, {n, 1});
            for (int i = 0; i < n; ++i) Tamofpp(src.get(), 0, i, values[i]);
            ASSERT_EQ(Tamoany2any(src.get(), dst.get()), 0);
            // Every value passes through single precision, then is stored as
            // a single write of it would store it.
            for (int i = 0; i < n; ++i) {
                const double expected = storedAs(to, float(Tamofgp(src.get(), 0, i)));
                EXPECT_EQ(Tamofgp(dst.get(), 0, i), expected) << "value " << values[i];
            }
        }
    // Hand-worked values of the directly walked pairs.
    auto f = make("float", {3});
    auto u8 = make("u8bit", {3});
    const float in[] = {255.9f, 256.0f, -1.5f};
    std::memcpy(f->orvptr, in, sizeof in);
    ASSERT_EQ(Tamoany2any(f.get(), u8.get()), 0);  // one-dimensional records convert too
    EXPECT_EQ(std::string(u8->orvptr, 3), std::string("\xff\x00\xff", 3));
    auto s16 = make("16bit", {3});
    ASSERT_EQ(Tamoany2any(u8.get(), s16.get()), 0);
    EXPECT_EQ(tamo::pixels<int16_t>(s16.get())[0], 255);  // never negative
    auto d = make("64flt", {1});
    auto d2 = make("64flt", {1});
    tamo::pixels<double>(d.get())[0] = 0.1;
    ASSERT_EQ(Tamoany2any(d.get(), d2.get()), 0);
    EXPECT_EQ(tamo::pixels<double>(d2.get())[0], double(0.1f));
}

TEST_F(Lib, ConversionOfFramesAndInterleavedChannels) {
    // Interleaved channels come out as planar frames and go back.
    auto rgb = make("Su8bit3", {2, 2, 3});
    for (int i = 0; i < 12; ++i) rgb->orvptr[i] = static_cast<char>(i);  // pixel p, channel k: 3p+k
    auto planar = make("float", {2, 2, 3});
    ASSERT_EQ(Tamoany2any(rgb.get(), planar.get()), 0);
    for (int k = 0; k < 3; ++k)
        for (int p = 0; p < 4; ++p)
            EXPECT_EQ(tamo::pixels<float>(planar.get())[k * 4 + p], 3 * p + k);
    auto back = make("Su16bit3", {2, 2, 3});
    ASSERT_EQ(Tamoany2any(planar.get(), back.get()), 0);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(tamo::pixels<uint16_t>(back.get())[i], i);
    // A two-dimensional source fills the first frame of a deeper destination.
    auto flat = make("16bit", {2, 2});
    std::memset(flat->orvptr, 0xFF, 8);
    auto deep = make("64flt", {2, 2, 2});
    ASSERT_EQ(Tamoany2any(flat.get(), deep.get()), 0);
    EXPECT_EQ(Tamofgp3d(deep.get(), 0, 1, 1), -1.0);
    EXPECT_EQ(Tamofgp3d(deep.get(), 1, 0, 0), 0.0);
}

TEST_F(Lib, ConversionRefusesMismatchesWithoutTouchingTheDestination) {
    auto wide = make("float", {640, 480});
    auto tall = make("u8bit", {480, 640});
    std::memset(tall->orvptr, 7, 480 * 640);
    EXPECT_EQ(Tamoany2any(wide.get(), tall.get()), -1);
    EXPECT_EQ(tall->orvptr[0], 7);
    EXPECT_EQ(tall->orvptr[480 * 640 - 1], 7);

    auto f = make("float", {3, 3});
    EXPECT_EQ(Tamoany2any(make("32cmp", {3, 3}).get(), f.get()), -2);
    EXPECT_EQ(Tamoany2any(f.get(), make("64cmp", {3, 3}).get()), -2);
    EXPECT_EQ(Tamoany2any(f.get(), make("struct", {3, 3}, 5).get()), -2);
    EXPECT_EQ(Tamoany2any(make("float", {3, 3, 2}).get(), make("float", {3, 3, 3}).get()), -1);
    // Too few frames for the channels of an interleaved type.
    EXPECT_EQ(Tamoany2any(f.get(), make("Su8bit3", {3, 3}).get()), -1);
    EXPECT_EQ(Tamoany2any(make("S32flt4", {3, 3, 3}).get(), make("float", {3, 3, 3}).get()), -1);

    TAMOTRACE = 0;
    int dims[] = {2, 3, 3};
    tamo::RecordPtr bare(Tamocreate("u8bit", dims, 0, 0));
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamoany2any(f.get(), bare.get()), -1); }),
              "\nTamoany2any: No data associated with header! (field 'orvptr' = 0)\n");
}
