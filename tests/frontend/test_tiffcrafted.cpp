// Crafted TIFF files (tests/support/crafttiff.h): layouts that a small file
// can use to make a reader allocate or decode gigabytes, long and looping
// chains of pages, and sizes over the read limit. Each is read with its
// values or refused with a reason that says why.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "crafttiff.h"
#include "tamo++.h"
#include "tempdir.h"
#include "tiffimage.h"

namespace {

using testsupport::CraftedPage;
using testsupport::craftTiff;
using testsupport::deflated;

// Little-endian bytes of 16-bit values.
std::string u16Bytes(const std::vector<int> &values) {
    std::string out;
    for (int v : values) {
        out.push_back(char(v & 0xff));
        out.push_back(char(v >> 8));
    }
    return out;
}

struct Case {
    const char *name;
    std::string bytes;
    // Read: the record's lengths and element k of it. Refused: empty
    // lengths and a part of the reason.
    std::vector<int> lengths;
    std::function<double(long long)> value;
    const char *reason = "";
    int64_t limitBytes = 0;  // a read limit set for this file
};

Case read(const char *name, std::string bytes, std::vector<int> lengths,
          std::function<double(long long)> value) {
    return {name, std::move(bytes), std::move(lengths), std::move(value)};
}

Case refused(const char *name, std::string bytes, const char *reason, int64_t limitBytes = 0) {
    return {name, std::move(bytes), {}, nullptr, reason, limitBytes};
}

std::vector<Case> crafted() {
    std::vector<Case> cases;

    // 3 x 4 grey bytes in strips of 3 rows and 1 row.
    CraftedPage strips;
    strips.width = 3;
    strips.height = 4;
    strips.rowsPerStrip = 3;
    strips.chunks = {std::string("\x00\x07\x0e\x15\x1c\x23\x2a\x31\x38", 9), "\x3f\x46\x4d"};
    cases.push_back(read("grey_strips.tif", craftTiff({strips}), {2, 3, 4},
                         [](long long k) { return 7.0 * k; }));

    // 20 x 3 unsigned 16-bit in two Deflate tiles of 16 x 16; the tile parts
    // beyond the page hold 65535, which must not appear.
    CraftedPage tiles;
    tiles.width = 20;
    tiles.height = 3;
    tiles.bits = 16;
    tiles.compression = 8;
    tiles.tileWidth = tiles.tileHeight = 16;
    for (int tx = 0; tx < 2; ++tx) {
        std::vector<int> tile(16 * 16, 65535);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 16 && tx * 16 + x < 20; ++x)
                tile[y * 16 + x] = 1000 + y * 20 + tx * 16 + x;
        tiles.chunks.push_back(deflated(u16Bytes(tile)));
    }
    cases.push_back(read("u16_tiles.tif", craftTiff({tiles}), {2, 20, 3},
                         [](long long k) { return 1000.0 + k; }));

    // 2 x 1 RGBA, contiguous and in separate planes: R, G, B kept, alpha
    // left out.
    CraftedPage rgba;
    rgba.width = 2;
    rgba.photometric = 2;
    rgba.samples = 4;
    rgba.extraSamples = 1;
    rgba.chunks = {"\x01\x03\x05\xff\x02\x04\x06\xff"};
    const auto rgbValue = [](long long k) { return k + 1.0; };
    cases.push_back(read("rgba_contig.tif", craftTiff({rgba}), {3, 2, 1, 3}, rgbValue));
    rgba.planar = 2;
    rgba.chunks = {"\x01\x02", "\x03\x04", "\x05\x06", "\xff\xff"};
    cases.push_back(read("rgba_planar.tif", craftTiff({rgba}), {3, 2, 1, 3}, rgbValue));

    // 4 x 3 grey 16-bit with 5 extra samples, in Deflate strips of 2 rows:
    // the first sample of each pixel kept.
    CraftedPage fewExtra;
    fewExtra.width = 4;
    fewExtra.height = 3;
    fewExtra.bits = 16;
    fewExtra.samples = 6;
    fewExtra.extraSamples = 5;
    fewExtra.compression = 8;
    fewExtra.rowsPerStrip = 2;
    for (int y0 = 0; y0 < 3; y0 += 2) {
        std::vector<int> strip;
        for (int k = y0 * 4; k < std::min(y0 + 2, 3) * 4; ++k)
            strip.insert(strip.end(), {300 + k, 1, 2, 3, 4, 5});
        fewExtra.chunks.push_back(deflated(u16Bytes(strip)));
    }
    cases.push_back(read("few_extra_samples.tif", craftTiff({fewExtra}), {2, 4, 3},
                         [](long long k) { return 300.0 + k; }));

    // 1000 x 1000 grey bytes declaring 3999 extra samples, in one Deflate
    // strip of zeros: 4 GB to decode for 1 MB kept.
    CraftedPage extra;
    extra.width = extra.height = 1000;
    extra.samples = 4000;
    extra.extraSamples = 3999;
    extra.compression = 8;
    extra.chunks = {deflated(std::string(1 << 20, '\0'))};
    cases.push_back(refused("extra_samples.tif", craftTiff({extra}), "4000 samples per pixel"));

    // 1000 pages of 1 x 1 pixel, each stored as one 8192 x 8192 Deflate
    // tile whose stream holds only its first row: the pixel is read, the
    // 64 MB of tile below it never decoded.
    std::vector<CraftedPage> tiny(1000);
    for (int p = 0; p < 1000; ++p) {
        tiny[p].tileWidth = tiny[p].tileHeight = 8192;
        tiny[p].compression = 8;
        std::string row(8192, '\0');
        row[0] = char(p % 251);
        tiny[p].chunks = {deflated(row)};
    }
    cases.push_back(read("pages_in_huge_tiles.tif", craftTiff(tiny), {3, 1, 1, 1000},
                         [](long long k) { return double(k % 251); }));
    // A 1 x 8192 page in such a tile needs every row of it: refused.
    CraftedPage tall = tiny[0];
    tall.height = 8192;
    tall.chunks = {std::string(16, '\0')};
    cases.push_back(
        refused("tall_page_in_huge_tile.tif", craftTiff({tall}), "tiles are far larger"));

    // A header claiming 100,000 x 100,000 pixels says what it would need.
    CraftedPage huge;
    huge.width = huge.height = 100000;
    huge.chunks = {std::string(16, '\0')};
    cases.push_back(
        refused("huge_header.tif", craftTiff({huge}), "it would need 9537 MB, more than"));

    // Three pages of 400 KB under a limit of 1 MB: the pages add up.
    CraftedPage part;
    part.width = 1000;
    part.height = 400;
    part.compression = 8;
    part.chunks = {deflated(std::string(400000, '\0'))};
    cases.push_back(refused("pages_over_limit.tif", craftTiff({part, part, part}),
                            "it would need 2 MB, more than the 1 MB", int64_t(1) << 20));

    // A chain of pages whose last links back to the first ends there: each
    // page is read once.
    CraftedPage one;
    one.chunks = {std::string(1, '\x05')};
    cases.push_back(read("looped_chain.tif", craftTiff({one, one, one}, 0), {3, 1, 1, 3},
                         [](long long) { return 5.0; }));

    // 60,000 pages of 1 x 1, each holding its own number.
    std::vector<CraftedPage> many(60000);
    for (int p = 0; p < 60000; ++p) {
        many[p].bits = 16;
        many[p].chunks = {u16Bytes({p})};
    }
    cases.push_back(read("sixty_thousand_pages.tif", craftTiff(many), {3, 1, 1, 60000},
                         [](long long k) { return double(k); }));
    return cases;
}

TEST(TiffCrafted, EachFileIsReadWithItsValuesOrRefusedWithAReason) {
    testsupport::TempDir dir;
    // TAMO_CRAFTED_TIFF_DIR keeps a copy of every file (seeds, measurements).
    const char *keep = std::getenv("TAMO_CRAFTED_TIFF_DIR");
    for (const Case &c : crafted()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        std::ofstream(path, std::ios::binary) << c.bytes;
        if (keep) std::ofstream(std::string(keep) + "/" + c.name, std::ios::binary) << c.bytes;
        Tamo_maxreadbytes = c.limitBytes;
        std::string reason;
        tamo::RecordPtr img = frontend::readTiff(path, reason);
        Tamo_maxreadbytes = 0;
        if (c.lengths.empty()) {
            EXPECT_FALSE(img);
            EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
            continue;
        }
        if (!img) {
            ADD_FAILURE() << reason;
            continue;
        }
        std::vector<int> lengths{img->orvndim};
        for (int d = 0; d < img->orvndim; ++d) lengths.push_back(img->orvdim[d].dlen);
        if (lengths != c.lengths) {
            ADD_FAILURE() << "lengths differ";
            continue;
        }
        const long long n = tamo::elementCount(img.get());
        long long wrong = 0;
        for (long long k = 0; k < n; ++k)
            wrong += Tamofgp3d(img.get(), int(k / (lengths[1] * lengths[2])),
                               int(k % (lengths[1] * lengths[2]) / lengths[1]),
                               int(k % lengths[1])) != c.value(k);
        EXPECT_EQ(wrong, 0);
    }
    // Nothing above decoded or allocated gigabytes (reading them all peaks
    // far below this; sizing by the crafted claims needs 4 GB).
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 1024 * 1024) << "peak kB";
}

}  // namespace
