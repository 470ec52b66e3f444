// TIFF and .npy files: samples written by tifffile and NumPy
// (tests/data/sci/make_samples.py) read with their exact values, round trips
// through the own format, TIFF and .npy for every type, and damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "npyio.h"
#include "tamo++.h"
#include "tempdir.h"
#include "testrecords.h"
#include "tiffimage.h"

namespace {

std::string sample(const std::string &name) {
    return std::string(TAMO_SAMPLES_DIR) + "/" + name;
}

std::string readBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

tamo::RecordPtr readArray(const std::string &path, std::string &reason) {
    return frontend::isTiffName(path) ? frontend::readTiff(path, reason)
                                      : frontend::readNpy(path, reason);
}

// Element k of img (the real part for complex types) as a double.
double valueAt(const TAMOHDR *img, long long k) {
    double v = NAN;
    tamo::visitScalar(img->dtype, [&](auto tag, tamo::ElemLayout lay) {
        using T = typename decltype(tag)::type;
        v = static_cast<double>(tamo::pixels<T>(img)[k * (lay.complex ? 2 : 1)]);
    });
    return v;
}

std::vector<int> lengths(const TAMOHDR *img) {
    std::vector<int> out;
    for (int d = 0; d < img->orvndim; ++d) out.push_back(img->orvdim[d].dlen);
    return out;
}

// Sets a short or long tag of the first directory of a little-endian TIFF
// (as the sample writer makes them) in place.
void patchTiffTag(std::string &tiff, uint16_t tag, uint32_t value) {
    uint32_t ifd;
    std::memcpy(&ifd, &tiff[4], 4);
    uint16_t count;
    std::memcpy(&count, &tiff[ifd], 2);
    for (uint16_t i = 0; i < count; ++i) {
        const std::size_t at = ifd + 2 + 12u * i;
        uint16_t t, type;
        std::memcpy(&t, &tiff[at], 2);
        std::memcpy(&type, &tiff[at + 2], 2);
        if (t != tag) continue;
        if (type == 3) {
            const uint16_t v = static_cast<uint16_t>(value);
            std::memcpy(&tiff[at + 8], &v, 2);
        } else {
            std::memcpy(&tiff[at + 8], &value, 4);
        }
        return;
    }
    ADD_FAILURE() << "no tag " << tag;
}

std::string npy(const std::string &dict, const std::string &data = std::string(), int version = 1) {
    std::string out("\x93NUMPY", 6);
    out.push_back(static_cast<char>(version));
    out.push_back('\0');
    const std::size_t n = dict.size();
    out.push_back(static_cast<char>(n & 0xff));
    out.push_back(static_cast<char>(n >> 8));
    if (version > 1) out.append(2, '\0');
    return out + dict + data;
}

}  // namespace

TEST(ScientificFiles, SamplesFromAnIndependentWriterKeepTheirExactValues) {
    // Element k in the record's order (columns fastest, then rows, frames).
    struct Case {
        const char *file;
        const char *type;
        std::vector<int> dims;
        std::function<double(long long)> value;
    };
    const auto u16 = [](long long k) { return k == 29 ? 65535.0 : k * 2259.0; };
    const auto f32 = [](long long k) { return (k - 10) * 0.25 - 0.125; };
    const Case cases[] = {
        {"u16_grey.tif", "u16bit", {6, 5}, u16},
        {"c_u16.npy", "u16bit", {6, 5}, u16},
        {"f32_grey.tif", "32flt", {5, 4}, f32},
        {"fortran_f32.npy", "32flt", {5, 4}, f32},
        {"u16_stack.tif",
         "u16bit",
         {4, 3, 5},
         [](long long k) { return k == 59 ? 65535.0 : (k / 12) * 13000.0 + (k % 12) * 7; }},
        {"rgb_u8.tif",
         "u8bit",
         {5, 4, 3},
         [](long long k) {
             const long long i = k % 20, c = k / 20;
             return double(c == 0 ? i * 12 : c == 1 ? 255 - i * 12 : (i * 37) % 256);
         }},
        {"rgb_u16_planar.tif",
         "u16bit",
         {4, 3, 3},
         [](long long k) { return (k / 12) * 20000.0 + (k % 12) * 100; }},
        {"i16_bigendian.tif", "16bit", {4, 3}, [](long long k) { return (k - 6) * 5000.0; }},
        {"f32_tiled_deflate.tif", "32flt", {20, 18}, [](long long k) { return k * 0.5 - 100; }},
        {"u32_large.tif",
         "64flt",
         {3, 2},
         [](long long k) {
             const double v[] = {0, 1, 2, 3, 2147483648.0, 4000000000.0};
             return v[k];
         }},
        {"c_bigendian_i32_3d.npy",
         "32bit",
         {4, 3, 2},
         [](long long k) { return (k - 12) * 100000.0; }},
        {"fortran_bigendian_f64_3d.npy", "64flt", {4, 3, 2}, [](long long k) { return k / 3.0; }},
        {"c_i64.npy", "32bit", {3, 2}, [](long long k) { return k - 3.0; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        std::string reason;
        tamo::RecordPtr img = readArray(sample(c.file), reason);
        ASSERT_TRUE(img) << reason;
        EXPECT_STREQ(img->orvdt, c.type);
        ASSERT_EQ(lengths(img.get()), c.dims);
        const long long n = tamo::elementCount(img.get());
        long long wrong = 0;
        for (long long k = 0; k < n; ++k)
            if (valueAt(img.get(), k) != c.value(k) && wrong++ < 3)
                ADD_FAILURE() << "element " << k << ": " << valueAt(img.get(), k) << " instead of "
                              << c.value(k);
    }
}

TEST(ScientificFiles, EveryTypeRoundTripsThroughOwnFormatTiffAndNpy) {
    testsupport::TempDir dir;
    // Values at the ends of each type's range and in between; floats with
    // fractions, signs and magnitudes a narrower type would lose.
    struct Case {
        const char *type;
        std::vector<double> values;
    };
    const Case cases[] = {
        {"u8bit", {0, 1, 128, 254, 255}},
        {"8bit", {-128, -1, 0, 1, 127}},
        {"u16bit", {0, 1, 4095, 40000, 65535}},
        {"16bit", {-32768, -1, 0, 12345, 32767}},
        {"32bit", {-2147483648.0, -1, 0, 16777217, 2147483647}},
        {"float", {-3.5f, 0.1f, 1e-30f, 3.4e38f, -0.0f}},
        {"64flt", {-1.0 / 3, 0.1, 1e-300, 1.7e308, 123456789.123456789}},
    };
    for (const Case &c : cases) {
        for (int frames : {0, 3}) {
            SCOPED_TRACE(std::string(c.type) + (frames ? " 3-D" : " 2-D"));
            tamo::RecordPtr img = testsupport::image(c.type, 5, 2, frames);
            const long long n = tamo::elementCount(img.get());
            tamo::visitScalar(img->dtype, [&](auto tag, tamo::ElemLayout) {
                using T = typename decltype(tag)::type;
                for (long long k = 0; k < n; ++k)
                    tamo::pixels<T>(img.get())[k] = static_cast<T>(c.values[(k * 3) % 5]);
            });

            testsupport::writeOwnFormat(dir.file("a.tam"), img.get());
            tamo::RecordPtr own = testsupport::readOwnFormat(dir.file("a.tam"));
            ASSERT_TRUE(own);
            // Own format -> TIFF (plain and Deflate) -> .npy -> own format.
            ASSERT_EQ(frontend::writeTiff(own.get(), dir.file("a.tif"), false), "");
            ASSERT_EQ(frontend::writeTiff(own.get(), dir.file("z.tif"), true), "");
            std::string reason;
            tamo::RecordPtr plain = frontend::readTiff(dir.file("a.tif"), reason);
            ASSERT_TRUE(plain) << reason;
            tamo::RecordPtr deflated = frontend::readTiff(dir.file("z.tif"), reason);
            ASSERT_TRUE(deflated) << reason;
            ASSERT_EQ(frontend::writeNpy(deflated.get(), dir.file("a.npy")), "");
            tamo::RecordPtr array = frontend::readNpy(dir.file("a.npy"), reason);
            ASSERT_TRUE(array) << reason;
            testsupport::writeOwnFormat(dir.file("b.tam"), array.get());
            tamo::RecordPtr back = testsupport::readOwnFormat(dir.file("b.tam"));
            ASSERT_TRUE(back);
            for (const TAMOHDR *r : {plain.get(), deflated.get(), array.get(), back.get()}) {
                EXPECT_STREQ(r->orvdt, img->orvdt);
                EXPECT_EQ(lengths(r), lengths(img.get()));
                EXPECT_EQ(std::memcmp(r->orvptr, img->orvptr, std::size_t(n) * img->orvbpd), 0);
            }
        }
    }

    // Complex records go to .npy and back; TIFF refuses them and leaves an
    // existing file alone.
    for (const char *type : {"32cmp", "64cmp"}) {
        tamo::RecordPtr img = testsupport::image(type, 3, 2);
        for (int k = 0; k < 12; ++k) {
            if (img->orvbpd == 8)
                tamo::pixels<float>(img.get())[k] = k - 5.5f;
            else
                tamo::pixels<double>(img.get())[k] = (k - 5) / 7.0;
        }
        ASSERT_EQ(frontend::writeNpy(img.get(), dir.file("c.npy")), "");
        std::string reason;
        tamo::RecordPtr back = frontend::readNpy(dir.file("c.npy"), reason);
        ASSERT_TRUE(back) << reason;
        EXPECT_STREQ(back->orvdt, type);
        EXPECT_EQ(std::memcmp(back->orvptr, img->orvptr, 6u * img->orvbpd), 0);
        writeBytes(dir.file("keep.tif"), "old");
        EXPECT_NE(frontend::writeTiff(img.get(), dir.file("keep.tif"), false), "");
        EXPECT_EQ(readBytes(dir.file("keep.tif")), "old");
    }
}

TEST(ScientificFiles, DamagedAndUnsupportedFilesAreRefusedWithAReason) {
    testsupport::TempDir dir;
    const std::string tiff = readBytes(sample("u16_grey.tif"));
    ASSERT_GT(tiff.size(), 100u);
    std::string huge = tiff;  // 20000 x 20000 pixels claimed, 60 bytes held
    patchTiffTag(huge, 256, 20000);
    patchTiffTag(huge, 257, 20000);
    patchTiffTag(huge, 278, 20000);
    std::string enormous = huge;  // more pixels than a record holds
    patchTiffTag(enormous, 256, 60000);
    patchTiffTag(enormous, 257, 60000);
    std::string badBits = tiff;
    patchTiffTag(badBits, 258, 12);
    std::string noIfd = tiff;
    noIfd[4] = '\x7f';  // first directory far beyond the end

    const std::string u2 = "{'descr': '<u2', 'fortran_order': False, 'shape': (2, 3), }";
    struct Case {
        const char *name;
        std::string bytes;
        const char *reason;  // part of the reason given
    };
    const Case cases[] = {
        {"empty.tif", "", "TIFF"},
        {"text.tif", "not a tiff at all", "TIFF"},
        {"cut.tif", tiff.substr(0, 40), ""},
        {"huge.tif", huge, "cut short"},
        {"enormous.tif", enormous, "more than"},
        {"bits.tif", badBits, "12 bits"},
        {"noifd.tif", noIfd, ""},
        {"pages_differ.tif", readBytes(sample("pages_differ.tif")), "pages differ"},
        {"magic.npy", "\x93NUMPX" + npy(u2, std::string(12, '\0')).substr(6), "not a NumPy"},
        {"version.npy", npy(u2, std::string(12, '\0'), 9), "version 9"},
        {"length.npy", npy(u2, std::string(12, '\0')).substr(0, 9) + "\xff\xff", "header"},
        {"cut.npy", npy(u2, std::string(11, '\0')), "cut short"},
        {"object.npy", npy("{'descr': '|O', 'fortran_order': False, 'shape': (2, 3), }"), "|O"},
        {"half.npy", npy("{'descr': '<f2', 'fortran_order': False, 'shape': (2, 3), }"), "<f2"},
        {"struct.npy", npy("{'descr': [('a', '<u2')], 'fortran_order': False, 'shape': (2, 3), }"),
         "structured"},
        {"1d.npy", npy("{'descr': '<u2', 'fortran_order': False, 'shape': (6,), }"),
         "1-dimensional"},
        {"4d.npy", npy("{'descr': '<u2', 'fortran_order': False, 'shape': (1, 1, 2, 3), }"),
         "4-dimensional"},
        {"empty.npy", npy("{'descr': '<u2', 'fortran_order': False, 'shape': (0, 3), }"), "empty"},
        {"overflow.npy",
         npy("{'descr': '|u1', 'fortran_order': False, 'shape': (2000000000, 2000000000), }"),
         "it would need 3814697265625 MB, more than"},
        {"huge.npy", npy("{'descr': '|u1', 'fortran_order': False, 'shape': (100000, 100000), }"),
         "it would need 9537 MB, more than"},
        {"sides.npy",
         npy("{'descr': '<c16', 'fortran_order': False, 'shape': (2000000000, 2000000000, "
             "2000000000), }"),
         "more bytes than 64 bits can count"},
        {"bigshape.npy",
         npy("{'descr': '|u1', 'fortran_order': False, 'shape': (99999999999, 1), }"), "shape"},
        {"v2.npy",
         npy("{'descr': '<u2', 'fortran_order': False, 'shape': (20000, 20000), }",
             std::string(64, '\0'), 2),
         "cut short"},
        {"key.npy", npy("{'descr': '<u2', 'order': False, 'shape': (2, 3), }"),
         "unknown key 'order'"},
        {"noorder.npy", npy("{'descr': '<u2', 'shape': (2, 3), }", std::string(12, '\0')),
         "lacks the key 'fortran_order'"},
        {"twice.npy",
         npy("{'descr': '<u2', 'fortran_order': False, 'shape': (2, 3), 'shape': (3, 2), }",
             std::string(12, '\0')),
         "the key 'shape' twice"},
        {"wide.npy",
         npy("{'descr': '<i8', 'fortran_order': False, 'shape': (1, 1), }",
             std::string("\0\0\0\0\0\0\0\x10", 8)),
         "do not fit"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(dir.file(c.name), c.bytes);
        std::string reason;
        EXPECT_FALSE(readArray(dir.file(c.name), reason));
        EXPECT_FALSE(reason.empty());
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
    std::string reason;
    EXPECT_FALSE(frontend::readTiff(dir.file("missing.tif"), reason));
    EXPECT_EQ(reason, "No such file or directory");
}
