// The record layout, creation and release, dimension queries, the type table
// and the memory functions.
#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "support.h"

extern "C" int tamo_c_header_check(void);

TEST(Record, LayoutKeepsDeclaredOrderAndFitsOneBlock) {
    // Dimension records are written to disk as they are in memory.
    EXPECT_EQ(sizeof(TAMODIM), 64u);
    EXPECT_EQ(offsetof(TAMODIM, dnum), 4u);
    EXPECT_EQ(offsetof(TAMODIM, ddir), 8u);
    EXPECT_EQ(offsetof(TAMODIM, dunits), 16u);
    EXPECT_EQ(offsetof(TAMODIM, dscale), 24u);
    EXPECT_EQ(offsetof(TAMODIM, doffset), 28u);
    EXPECT_EQ(offsetof(TAMODIM, drsv), 32u);

    const size_t order[] = {
        offsetof(TAMOHDR, orvmagic),  offsetof(TAMOHDR, orvbsize),  offsetof(TAMOHDR, orvhblk),
        offsetof(TAMOHDR, orvdblk),   offsetof(TAMOHDR, orvtblk),   offsetof(TAMOHDR, orvtlen),
        offsetof(TAMOHDR, orvtail),   offsetof(TAMOHDR, orvclass),  offsetof(TAMOHDR, orvctype),
        offsetof(TAMOHDR, orvuser),   offsetof(TAMOHDR, orvdate),   offsetof(TAMOHDR, orvprog),
        offsetof(TAMOHDR, orvpver),   offsetof(TAMOHDR, orvendian), offsetof(TAMOHDR, orvfmt),
        offsetof(TAMOHDR, orvrsv),    offsetof(TAMOHDR, orvunits),  offsetof(TAMOHDR, orvscale),
        offsetof(TAMOHDR, orvoffset), offsetof(TAMOHDR, orvdt),     offsetof(TAMOHDR, dtype),
        offsetof(TAMOHDR, orvbpd),    offsetof(TAMOHDR, orvndim),   offsetof(TAMOHDR, orvptr),
        offsetof(TAMOHDR, orvdln),    offsetof(TAMOHDR, orvuptr),   offsetof(TAMOHDR, orvrsv2),
        offsetof(TAMOHDR, orvcomp),   offsetof(TAMOHDR, orvdim)};
    for (size_t i = 1; i < sizeof order / sizeof order[0]; ++i) EXPECT_LT(order[i - 1], order[i]);
    EXPECT_EQ(offsetof(TAMOHDR, orvcomp) + 1, offsetof(TAMOHDR, orvdim));  // directly after
    EXPECT_LE(sizeof(TAMOHDR), 512u);
    EXPECT_EQ(tamo_c_header_check(), 1 + 64 + 516);
}

TEST_F(Lib, CreateFillsTheHeader) {
    auto img = make("float", {640, 480});
    ASSERT_TRUE(img);
    const TAMOHDR &h = *img;
    EXPECT_STREQ(h.orvmagic, "TAM");
    EXPECT_EQ(h.orvbsize, 512);
    EXPECT_EQ(h.orvdblk, 1);
    EXPECT_EQ(h.orvtblk, -(1 + 2400));
    EXPECT_EQ(h.orvtlen, 0);
    EXPECT_EQ(h.orvtail, nullptr);
    EXPECT_STREQ(h.orvclass, "Orv is");
    EXPECT_STREQ(h.orvctype, "great!");
    EXPECT_STREQ(h.orvuser, "tamotool");
    EXPECT_EQ(std::strlen(h.orvdate), 25u);
    EXPECT_EQ(h.orvdate[24], '\n');
    EXPECT_STREQ(h.orvprog, "Tamocreate");
    EXPECT_STREQ(h.orvpver, "V7.0");
    const uint16_t probe = 1;
    EXPECT_EQ(h.orvendian, *reinterpret_cast<const char *>(&probe) ? 2 : 1);
    EXPECT_EQ(h.orvendian, TamoCPUEndian);
    EXPECT_EQ(h.orvfmt, 16);
    EXPECT_STREQ(h.orvunits, "pixels");
    EXPECT_EQ(h.orvscale, 1.0f);
    EXPECT_STREQ(h.orvdt, "32flt");  // canonical name, not the alias asked for
    EXPECT_EQ(h.dtype, 516);
    EXPECT_EQ(h.orvbpd, 4);
    EXPECT_EQ(h.orvndim, 2);
    EXPECT_EQ(h.orvcomp, 1);
    EXPECT_EQ(h.orvdln[0], 1);
    EXPECT_EQ(h.orvdln[1], 640);
    EXPECT_EQ(h.orvdln[2], 307200);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(h.orvdim[i].dlen, i ? 480 : 640);
        EXPECT_EQ(h.orvdim[i].dnum, i + 1);
        EXPECT_STREQ(h.orvdim[i].ddir, "fwd");
        EXPECT_STREQ(h.orvdim[i].dunits, "pixels");
        EXPECT_EQ(h.orvdim[i].dscale, 1.0f);
    }
    EXPECT_EQ(Tamodimen(img.get(), -2), 1228800);
    int nonZero = 0;
    for (int i = 0; i < 1228800; ++i) nonZero += h.orvptr[i] != 0;
    EXPECT_EQ(nonZero, 0);

    // The size argument counts for "struct" only; flag bit 2 alone allocates.
    int dims[] = {1, 10};
    tamo::RecordPtr rec(Tamocreate("struct", dims, 2, 12));
    EXPECT_EQ(rec->orvbpd, 12);
    EXPECT_EQ(Tamodimen(rec.get(), -2), 120);
    EXPECT_EQ(make("16bit", {10}, 12)->orvbpd, 2);
    tamo::RecordPtr noData(Tamocreate("u8bit", dims, 9, 0));
    EXPECT_EQ(noData->orvptr, nullptr);
}

TEST_F(Lib, CreateRefusesBadArgumentsWithoutAllocating) {
    TAMOTRACE = 0;
    struct Case {
        const char *type;
        std::initializer_list<int> dims;
        int err;
        const char *msg;
    } cases[] = {
        {"float", {}, 8192, "Tamocreate: can't create image with number of dimensions < 1"},
        {"float",
         {1, 1, 1, 1},
         8192,
         "Tamocreate: This version of Tamo can't create image with more than 3 dimensions"},
        {"Float", {4}, 1024, "Tamocreate: invalid data type"},
        {"float", {4, -1}, 512, "Tamocreate:  can't allocate space for image data"},
        {"u8bit", {65536, 65536}, 512, "Tamocreate:  can't allocate space for image data"},
        {"64flt", {1 << 14, 1 << 14}, 512, "Tamocreate:  can't allocate space for image data"},
    };
    for (const Case &c : cases) {
        CountingAlloc::install();
        tamo::RecordPtr img;
        EXPECT_EQ(stderrOf([&] { img = make(c.type, c.dims); }), std::string("\n") + c.msg + "\n");
        EXPECT_FALSE(img);
        EXPECT_EQ(Tamoerr, c.err);
        EXPECT_EQ(CountingAlloc::calls, 0) << c.msg;
    }
    EXPECT_EQ(stderrOf([] { EXPECT_EQ(Tamocreate("float", nullptr, 11, 0), nullptr); }),
              "\nTamocreate: NULL pointer passed as dimension-lengths array\n");
    EXPECT_EQ(Tamoerr, 8);
    // A zero length is accepted; the damage shows when the record is measured.
    auto empty = make("float", {0, 5});
    ASSERT_TRUE(empty);
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamodimen(empty.get(), -1), 0); }),
              "\nTamodimen: found dimension of length zero; header presumed to be damaged.\n");
}

TEST_F(Lib, FailedAllocationsInCreateLeaveNothingBehind) {
    TAMOTRACE = 0;
    const char *messages[] = {
        "\nTamoalc: can't allocate storage (512 bytes requested)\n"
        "\nTamocreate: can't allocate space for image header\n",
        "\nTamoalc: can't allocate storage (12 bytes requested)\n"
        "\nTamosiz: can't allocate space for array\n"
        "\nTamocreate:  can't allocate space for 'orvdln' field\n",
        "\nTamoalc: can't allocate storage (24 bytes requested)\n"
        "\nTamocreate:  can't allocate space for image data\n"};
    for (int failing = 0; failing < 3; ++failing) {
        CountingAlloc::install(failing);
        tamo::RecordPtr img;
        EXPECT_EQ(stderrOf([&] { img = make("16bit", {3, 4}); }), messages[failing]);
        EXPECT_FALSE(img);
        EXPECT_EQ(Tamoerr, 512);
        EXPECT_EQ(CountingAlloc::live, 0) << "failing allocation " << failing;
    }
}

TEST_F(Lib, FreeReleasesWhatItsFlagsSay) {
    CountingAlloc::install();
    TAMOHDR *img = make("float", {4, 4}).release();
    img->orvtail = static_cast<char *>(Tamoalc(10));
    EXPECT_EQ(CountingAlloc::live, 4);  // header, orvdln, pixels, tail
    char *pixels = img->orvptr;
    EXPECT_EQ(Tamofree(img, 5), 0);  // keeps the pixels
    EXPECT_EQ(CountingAlloc::live, 1);
    Tamocfree(pixels);
    EXPECT_EQ(CountingAlloc::live, 0);

    Tamoerr = 1024;
    EXPECT_EQ(Tamofree(nullptr, 7), 0);
    EXPECT_EQ(Tamoerr, 1024 | 8);
    TAMOHDR bad{};
    std::memcpy(bad.orvmagic, "XYZ", 4);
    testing::internal::CaptureStdout();
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamofree(&bad, 7), 0); }),
              "\nTamochkhd:  Bad TAMO image header encountered.\nTamofree: unable to free image\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "chk:XYZ\n");
    EXPECT_EQ(Tamoerr, 1024 | 8 | 24);
}

TEST_F(Lib, DimensionQueriesFollowDimensionNumbers) {
    auto img = make("64flt", {5, 4, 3});
    // Records stored out of order are found by number; Tamosiz sorts a copy.
    std::swap(img->orvdim[0], img->orvdim[2]);
    EXPECT_EQ(Tamodimen(img.get(), 0), 5);
    EXPECT_EQ(Tamodimen(img.get(), 1), 4);
    EXPECT_EQ(Tamodimen(img.get(), 2), 3);
    EXPECT_EQ(Tamodimen(img.get(), -1), 60);
    EXPECT_EQ(Tamodimen(img.get(), -2), 480);
    tamo::CArray<int> list(Tamosiz(img.get()));
    EXPECT_EQ(std::vector<int>(list.get(), list.get() + 4), (std::vector<int>{3, 5, 4, 3}));
    EXPECT_EQ(img->orvdim[0].dnum, 3);
    EXPECT_EQ(Tamonc(img.get()), 5);
    EXPECT_EQ(Tamonr(img.get()), 4);
    EXPECT_EQ(Tamonr(make("float", {7}).get()), 1);

    TAMOTRACE = 0;
    TAMOHDR bad{};
    struct Case {
        TAMOHDR *img;
        int k, err;
        const char *msg;
    } cases[] = {
        {nullptr, 0, 8, "Tamodimen: NULL passed as image header."},
        {&bad, 0, 24, "Tamodimen: Bad image header."},
        {img.get(), 3, 8192, "Tamodimen: Invalid dimension to get length of."},
        {img.get(), -3, 8192, "Tamodimen: Invalid dimension to get length of."},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamodimen(c.img, c.k), 0); }),
                  std::string("\n") + c.msg + "\n");
        EXPECT_EQ(Tamoerr, c.err);
    }
    // A damaged header whose lengths multiply past an int is refused.
    img->orvdim[0].dlen = img->orvdim[1].dlen = 1 << 30;
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamodimen(img.get(), -1), 0); }),
              "\nTamodimen: Bad image header.\n");
    EXPECT_EQ(Tamoerr, 24);
    img->orvndim = 0;
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamosiz(img.get()), nullptr); }),
              "\nTamosiz: number of dimensions not positive.\n");
    EXPECT_EQ(Tamoerr, -1);
    img->orvndim = 3;
}

TEST_F(Lib, TypeTableResolvesAliasesExactly) {
    EXPECT_EQ(Tamo_Ntyp, 54);
    std::set<std::string> names;
    int canonical = 0;
    for (int i = 0; i < 54; ++i) {
        names.insert(Tamo_Dtyp[i].name);
        const TAMODTYPE *t = Tamotype(Tamo_Dtyp[i].name);
        ASSERT_NE(t, nullptr);
        EXPECT_NE(t->code, 0u);
        EXPECT_GE(t, &Tamo_Dtyp[i]);  // an alias stands for the next canonical entry
        if (Tamo_Dtyp[i].code) {
            ++canonical;
            EXPECT_EQ(t, &Tamo_Dtyp[i]);
        }
    }
    EXPECT_EQ(names.size(), 54u);
    EXPECT_EQ(canonical, 24);
    const std::pair<const char *, int> known[] = {
        {"byte", 257},      {"I1", 257},       {"ubyte", 1025},     {"uchar", 1025},
        {"short", 258},     {"ushort", 1026},  {"long", 260},       {"real*4", 516},
        {"R8", 520},        {"complex", 4612}, {"complex*8", 4616}, {"S8bit4", 289},
        {"Su16bit3", 1042}, {"S64flt3", 25},   {"S64flt4", 41},     {"struct", 8192}};
    for (auto [name, code] : known) EXPECT_EQ(Tamontype(name), code) << name;
    EXPECT_STREQ(Tamotype("uchar")->name, "u8bit");
    EXPECT_EQ(Tamotype("c8")->size, 16);
    EXPECT_EQ(Tamotype("UBYTE"), nullptr);
    EXPECT_EQ(Tamoerr, 1024);
    EXPECT_EQ(Tamontype("Float"), 0);
    Tamo_Ntyp = 8;  // only the first entries are searched
    EXPECT_EQ(Tamontype("ubyte"), 1025);
    EXPECT_EQ(Tamontype("short"), 0);
    Tamoinitt();
    EXPECT_EQ(Tamontype("short"), 258);
}

TEST_F(Lib, MemoryFunctionsRefuseNegativeSizes) {
    TAMOTRACE = 0;
    CountingAlloc::install();
    EXPECT_EQ(stderrOf([] { EXPECT_EQ(Tamoalc(-1), nullptr); }),
              "\nTamoalc: can't allocate storage (-1 bytes requested)\n");
    EXPECT_EQ(Tamoerr, 512);
    EXPECT_EQ(CountingAlloc::calls, 0);
    Tamoinit();
    char *p = static_cast<char *>(Tamoalc(4));
    std::memcpy(p, "abc", 4);
    p = static_cast<char *>(orvrealloc(p, 1 << 20));
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "abc");
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(orvrealloc(p, -5), nullptr); }),
              "\nTamorealloc: can't allocate storage (-5 bytes requested)\n");
    p = static_cast<char *>(orvrealloc(p, 0));  // still a block of the caller's
    ASSERT_NE(p, nullptr);
    Tamocfree(p);
}
