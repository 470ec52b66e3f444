// Pixel readers and writers, windows and slices.
#include <cstring>
#include <string>
#include <vector>

#include "support.h"

TEST_F(Lib, PlainTypesStoreTruncatedWrappedValues) {
    struct Case {
        const char *type;
        double written;
        double read;
        int readInt;
    } cases[] = {
        {"8bit", 200.9, -56, -56},          {"u8bit", 300.7, 44, 44},       {"u8bit", -1, 255, 255},
        {"16bit", 40000, -25536, -25536},   {"u16bit", -1.5, 65535, 65535}, {"32bit", -7.9, -7, -7},
        {"32flt", 0.1, double(0.1f), 0},    {"64flt", -2.7, -2.7, -2},      {"32cmp", 2.5, 2.5, 2},
        {"64cmp", 1e300, 1e300, INT32_MIN},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        auto img = make(c.type, {3, 2});
        // (row 1, column 2) is element 5; only its bytes (the real part of a
        // complex element) may change.
        EXPECT_EQ(Tamofpp(img.get(), 1, 2, c.written), -1);
        EXPECT_EQ(Tamofgp(img.get(), 1, 2), c.read);
        EXPECT_EQ(Tamoigp(img.get(), 1, 2), c.readInt);
        const int bpd = img->orvbpd;
        const bool complex = Tamontype(c.type) >= 4612;
        for (int i = 0; i < 6 * bpd; ++i)
            if (img->orvptr[i])
                EXPECT_TRUE(i >= 5 * bpd && i < 5 * bpd + (complex ? bpd / 2 : bpd));
    }
    // A complex write leaves the imaginary part alone.
    auto cmp = make("32cmp", {2});
    tamo::pixels<float>(cmp.get())[3] = 9.0f;
    Tamoipp(cmp.get(), 0, 1, 4);
    EXPECT_EQ(tamo::pixels<float>(cmp.get())[2], 4.0f);
    EXPECT_EQ(tamo::pixels<float>(cmp.get())[3], 9.0f);
    // Integer writes: low bits to integer types, rounding to single floats.
    auto u8 = make("u8bit", {2});
    Tamoipp(u8.get(), 0, 1, 257);
    EXPECT_EQ(reinterpret_cast<unsigned char &>(u8->orvptr[1]), 1);
    auto f = make("float", {2});
    Tamoipp(f.get(), 0, 0, 16777217);
    EXPECT_EQ(Tamofgp(f.get(), 0, 0), 16777216.0);
}

TEST_F(Lib, ThreeDimensionalAccessAddressesFramesAndChannels) {
    auto planar = make("float", {4, 3, 2});
    EXPECT_EQ(Tamofpp3d(planar.get(), 1, 2, 3, 7.5), -1);
    EXPECT_EQ(tamo::pixels<float>(planar.get())[1 * 12 + 2 * 4 + 3], 7.5f);
    EXPECT_EQ(Tamoigp3d(planar.get(), 1, 2, 3), 7);

    // Interleaved types: the frame argument picks the channel of a pixel.
    auto rgb = make("Su8bit3", {4, 3, 3});
    EXPECT_EQ(Tamoipp3d(rgb.get(), 2, 1, 3, 200), -1);
    EXPECT_EQ(static_cast<unsigned char>(rgb->orvptr[(1 * 4 + 3) * 3 + 2]), 200);
    EXPECT_EQ(Tamofgp3d(rgb.get(), 2, 1, 3), 200.0);
    auto srgb = make("S8bit3", {4, 3, 3});
    Tamoipp3d(srgb.get(), 2, 1, 3, 200);
    EXPECT_EQ(Tamoigp3d(srgb.get(), 2, 1, 3), -56);
    auto rgba = make("Su16bit4", {2, 2, 4});
    Tamofpp3d(rgba.get(), 3, 1, 1, 70000.5);
    EXPECT_EQ(tamo::pixels<uint16_t>(rgba.get())[(1 * 2 + 1) * 4 + 3], 70000 & 0xFFFF);
    auto d3 = make("S64flt3", {2, 1, 3});
    Tamofpp3d(d3.get(), 1, 0, 1, 0.1);
    EXPECT_EQ(tamo::pixels<double>(d3.get())[4], 0.1);

    TAMOTRACE = 0;
    // A two-dimensional record of an interleaved type cannot hold three
    // channels per pixel: refused instead of written past the data.
    auto flat = make("Su8bit3", {4, 4});
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamofpp3d(flat.get(), 0, 3, 3, 1), 0); }),
              "Tamofpp3d: pixel outside the image data.\n");
    EXPECT_EQ(Tamoerr, 4096);
    // One dimension: the row query complains, the element is still found.
    auto line = make("float", {5});
    Tamofpp(line.get(), 0, 3, 2.0);
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamofgp3d(line.get(), 0, 0, 3), 2.0); }),
              "\nTamodimen: Invalid dimension to get length of.\n");
    // The plain accessors know the nine plain types only.
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamofgp(rgb.get(), 0, 0), 0); }),
              "Tamofgp: unrecognized or illegal data type.\n");
    EXPECT_EQ(Tamoerr, 1024);
    auto rec = make("struct", {2, 2, 2}, 6);
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamoipp3d(rec.get(), 0, 0, 0, 1), 0); }),
              "Tamoipp3d: unrecognized or illegal data type.\n");
}

TEST_F(Lib, CheckedAccessorsRefusePixelsOutsideTheRecord) {
    TAMOTRACE = 0;
    // Planar 2-D and 3-D records: one step past each end on every axis.
    auto flat = make("32flt", {4, 3});
    auto block = make("16bit", {4, 3, 2});
    struct Case {
        TAMOHDR *img;
        int frame, row, col;
    } cases[] = {
        {flat.get(), 0, 3, 0},  {flat.get(), 0, -1, 0}, {flat.get(), 0, 0, 4},
        {flat.get(), 0, 0, -1}, {flat.get(), 1, 0, 0},  {block.get(), 2, 0, 0},
        {block.get(), 0, 3, 0}, {block.get(), 0, 0, 4}, {block.get(), -1, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.img->orvndim << "-D f" << c.frame << " r" << c.row << " c" << c.col);
        EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamofpp3d(c.img, c.frame, c.row, c.col, 9), 0); }),
                  "Tamofpp3d: pixel outside the image data.\n");
        EXPECT_EQ(Tamoerr, 4096);
        EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamoigp3d(c.img, c.frame, c.row, c.col), 0); }),
                  "Tamoigp3d: pixel outside the image data.\n");
        if (c.frame == 0 && c.img->orvndim == 2) {
            EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamoipp(c.img, c.row, c.col, 9), 0); }),
                      "Tamoipp: pixel outside the image data.\n");
            EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamofgp(c.img, c.row, c.col), 0); }),
                      "Tamofgp: pixel outside the image data.\n");
        }
    }
    // The 2-D accessors address the first frame of a 3-D record only.
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamofpp(block.get(), 3, 0, 9), 0); }),
              "Tamofpp: pixel outside the image data.\n");
    for (auto *img : {flat.get(), block.get()})
        for (int i = 0; i < Tamodimen(img, -2); ++i) ASSERT_EQ(img->orvptr[i], 0) << i;
    // Unchecked, an address inside the data goes ahead: row 3 of a 2-D
    // window onto the first frame is the second frame's first row.
    TAMOCHK = 0;
    EXPECT_EQ(Tamoipp(block.get(), 3, 0, 5), -1);
    EXPECT_EQ(tamo::pixels<int16_t>(block.get())[12], 5);
    TAMOCHK = 1;
}

TEST_F(Lib, AccessorsValidateHeadersWhenAsked) {
    auto img = make("float", {2, 2});
    EXPECT_EQ(stderrOf([] { EXPECT_EQ(Tamofpp(nullptr, 0, 0, 1), 0); }),
              "Tamofpp: Image header is NULL\n");
    EXPECT_EQ(Tamoerr, 8);
    std::memcpy(img->orvmagic, "XXX", 4);
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamoipp(img.get(), 0, 0, 1), 0); }),
              "Tamoipp: Invalid image header (bad magic no.)\n");
    EXPECT_EQ(Tamoerr, 24);
    TAMOCHK = 0;  // unchecked: the access goes ahead
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamofpp(img.get(), 1, 1, 3), -1); }), "");
    EXPECT_EQ(tamo::pixels<float>(img.get())[3], 3.0f);
    TAMOCHK = 1;
    std::memcpy(img->orvmagic, "ORV", 4);
    EXPECT_EQ(Tamofgp(img.get(), 1, 1), 3.0);
    int dims[] = {3, 2, 2, 2};
    tamo::RecordPtr bare(Tamocreate("float", dims, 0, 0));
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamofgp3d(bare.get(), 0, 0, 0), 0); }),
              "Tamofgp3d: No data associated with header! (field 'orvptr' = 0)\n");
    TAMOSLV = 1;
    EXPECT_EQ(stderrOf([] { EXPECT_EQ(Tamoigp3d(nullptr, 0, 0, 0), 0); }), "");
    EXPECT_EQ(Tamoerr, 8);
}

TEST_F(Lib, WindowsCopyTheChosenRectangle) {
    auto src = make("16bit", {5, 4});
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c) Tamoipp(src.get(), r, c, r * 10 + c);
    tamo::RecordPtr win(Tamoexwin(src.get(), 2, 3, 1, 1));  // corners given reversed
    ASSERT_TRUE(win);
    EXPECT_STREQ(win->orvdt, "16bit");
    EXPECT_EQ(win->orvndim, 2);
    EXPECT_EQ(Tamonc(win.get()), 3);
    EXPECT_EQ(Tamonr(win.get()), 2);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(Tamoigp(win.get(), r, c), (r + 1) * 10 + c + 1);
    tamo::RecordPtr row(Tamoexwin(src.get(), 3, 0, 3, 4));
    tamo::RecordPtr col(Tamoexwin(src.get(), 0, 2, 3, 2));
    ASSERT_TRUE(row && col);
    EXPECT_EQ(row->orvndim, 1);
    EXPECT_EQ(col->orvndim, 1);
    EXPECT_EQ(Tamodimen(row.get(), 0), 5);
    EXPECT_EQ(Tamodimen(col.get(), 0), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Tamoigp(col.get(), 0, i), i * 10 + 2);
    EXPECT_EQ(Tamoigp(row.get(), 0, 4), 34);

    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamoexwin(src.get(), 0, 0, 4, 0), nullptr); }), "");
    EXPECT_EQ(Tamoerr, 4096);
    EXPECT_EQ(Tamoexwin(src.get(), 0, -1, 0, 0), nullptr);
    auto cube = make("16bit", {2, 2, 2});
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamoexwin(cube.get(), 0, 0, 1, 1), nullptr); }),
              "Tamoexwin: Image must be 2-dimensional.\n");
    EXPECT_EQ(Tamoerr, 8192);
}

TEST_F(Lib, CopiesLikeARecordRefuseADatumSizeItsTypeContradicts) {
    // An "u8bit" name over 8-byte data: a copy made by name would hold one
    // byte per element and be overrun.
    auto flat = make("64flt", {4, 3});
    auto cube = make("64flt", {4, 3, 2});
    for (TAMOHDR *img : {flat.get(), cube.get()}) {
        std::memcpy(img->orvdt, "u8bit", 6);
        img->dtype = TAMO_U8BIT;
    }
    TAMOTRACE = 0;
    const std::string message = ": 8 bytes per datum contradict data type 'u8bit'.";
    std::string err = stderrOf([&] {
        EXPECT_EQ(Tamoexwin(flat.get(), 0, 0, 2, 3), nullptr);
        EXPECT_EQ(Tamoslice(cube.get(), "frame", 1), nullptr);
        EXPECT_EQ(flcrcopy(flat.get()), nullptr);
    });
    EXPECT_EQ(Tamoerr, 1024);
    for (const char *caller : {"Tamoexwin", "Tamoexwin3d", "flcrcopy"})
        EXPECT_NE(err.find(caller + message), std::string::npos) << err;
    // "struct" takes any size.
    auto records = make("struct", {4, 3}, 12);
    tamo::RecordPtr window(Tamoexwin(records.get(), 1, 1, 2, 2));
    ASSERT_TRUE(window);
    EXPECT_EQ(window->orvbpd, 12);
}

TEST_F(Lib, BlocksAndSlicesKeepOnlyTheirLongDimensions) {
    auto src = make("u16bit", {4, 3, 2});
    auto value = [](int f, int r, int c) { return f * 100 + r * 10 + c; };
    for (int f = 0; f < 2; ++f)
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c) Tamoipp3d(src.get(), f, r, c, value(f, r, c));
    // Each result's dimension lengths and the source position of its first
    // element.
    struct Case {
        TAMOHDR *out;
        std::vector<int> dims;
        int f0, r0, c0;
    };
    TAMOHDR *s = src.get();
    std::vector<Case> cases = {
        {Tamoexwin3d(s, 1, 2, 3, 0, 1, 1), {3, 2, 2}, 0, 1, 1},
        {Tamoexwin3d(s, 1, 1, 0, 1, 1, 3), {4}, 1, 1, 0},
        {Tamoexwin3d(s, 1, 2, 3, 1, 2, 3), {1}, 1, 2, 3},
        {Tamoslice(s, "frame", 1), {4, 3}, 1, 0, 0},
        {Tamoslice(s, "r", 2), {4, 2}, 0, 2, 0},
        {Tamoslice(s, "column", 3), {3, 2}, 0, 0, 3},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        tamo::RecordPtr out(cases[i].out);
        ASSERT_TRUE(out);
        tamo::CArray<int> len(Tamosiz(out.get()));
        EXPECT_EQ(std::vector<int>(len.get() + 1, len.get() + 1 + len.get()[0]), cases[i].dims);
        EXPECT_EQ(out->dtype, TAMO_U16BIT);
        EXPECT_EQ(Tamoigp(out.get(), 0, 0), value(cases[i].f0, cases[i].r0, cases[i].c0));
    }
    // Spot values along the short axes of slices.
    tamo::RecordPtr row(Tamoslice(s, "row", 2)), column(Tamoslice(s, "c", 3));
    EXPECT_EQ(Tamoigp(row.get(), 1, 3), value(1, 2, 3));
    EXPECT_EQ(Tamoigp(column.get(), 1, 2), value(1, 2, 3));
    tamo::RecordPtr block(Tamoexwin3d(s, 0, 1, 1, 1, 2, 3));
    EXPECT_EQ(Tamoigp3d(block.get(), 1, 1, 2), value(1, 2, 3));

    EXPECT_EQ(Tamoslice(s, "row", 3), nullptr);
    EXPECT_EQ(Tamoerr, 4096);
    TAMOTRACE = 0;
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamoslice(s, "rows", 0), nullptr); }),
              "\nOrvslice: Unknown name of dimension.\n");
    auto flat = make("float", {3, 2});
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamoslice(flat.get(), "f", 0), flat.get()); }),
              "\nOrvslice: 2-D image. Only one frame. Cannot frame-slice\n");
    auto line = make("float", {3});
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(Tamoslice(line.get(), "c", 0), line.get()); }),
              "\nOrvslice: Cannot slice one-dimensional image.\n");
    tamo::RecordPtr flatCol(Tamoslice(flat.get(), "col", 2));
    EXPECT_EQ(flatCol->orvndim, 1);
    EXPECT_EQ(Tamodimen(flatCol.get(), 0), 2);
}
