// The file format: what the writer puts on disk, what the reader makes of
// it, and how both behave on damaged or foreign files.
#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "bigendian.h"
#include "iotest.h"
#include "testrecords.h"
#include "tempdir.h"

using iotest::get32;
using iotest::put32;

namespace {

using bigendian::be16s;
using bigendian::be32s;

uint32_t bitsOf(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

}  // namespace

TEST(FileFormat, EveryTypeRoundTripsCompressedOrNotWithOrWithoutTail) {
    for (int i = 0; i < Tamo_Ntyp; ++i) {
        const TAMODTYPE &t = Tamo_Dtyp[i];
        if (t.code == 0 || t.code == TAMO_STRUCT) continue;
        for (int comp = 0; comp <= 1; ++comp) {
            for (int tail = 0; tail <= 1; ++tail) {
                SCOPED_TRACE(std::string(t.name) + (comp ? " compressed" : " raw") +
                             (tail ? " with tail" : ""));
                tamo::RecordPtr img = iotest::patterned(t.name, {7, 5, 3}, i + 1);
                ASSERT_TRUE(img);
                img->orvcomp = static_cast<char>(comp);
                char tailText[] = "a tail of 23 characters";
                if (tail) {
                    img->orvtail = static_cast<char *>(Tamoalc(sizeof tailText));
                    std::memcpy(img->orvtail, tailText, sizeof tailText);
                    img->orvtlen = sizeof tailText;
                }
                std::string bytes = iotest::writeBytes(img.get(), tail);
                if (!comp) EXPECT_EQ(bytes.size() % 512, 0u);

                tamo::RecordPtr back = iotest::readBytes(bytes, tail);
                ASSERT_TRUE(back);
                EXPECT_STREQ(back->orvdt, t.name);
                EXPECT_EQ(static_cast<uint32_t>(back->dtype), t.code);
                EXPECT_EQ(back->orvbpd, t.size);
                ASSERT_EQ(back->orvndim, 3);
                EXPECT_EQ(back->orvdim[0].dlen, 7);
                EXPECT_EQ(back->orvdim[2].dlen, 3);
                EXPECT_EQ(back->orvdln[3], 105);
                EXPECT_TRUE(iotest::sameData(img.get(), back.get()));
                EXPECT_EQ(back->orvcomp, comp);
                if (tail) {
                    ASSERT_EQ(back->orvtlen, static_cast<int>(sizeof tailText));
                    EXPECT_EQ(std::memcmp(back->orvtail, tailText, sizeof tailText), 0);
                } else {
                    EXPECT_EQ(back->orvtail, nullptr);
                }
            }
        }
    }
}

TEST(FileFormat, WrittenBytesFollowTheLayout) {
    tamo::RecordPtr img = iotest::patterned("float", {3, 5});
    float *px = tamo::pixels<float>(img.get());
    for (int i = 0; i < 15; ++i) px[i] = 0.5f * i - 2;
    img->orvcomp = 0;
    std::string f = iotest::writeBytes(img.get());

    ASSERT_EQ(f.size(), 1024u);  // 512 header + 60 data + 452 padding
    EXPECT_EQ(std::memcmp(f.data(), "TAM", 4), 0);
    EXPECT_EQ(get32(f, 4), 512);
    EXPECT_EQ(get32(f, 16), -(1 + 1));  // tail block as created: -(1 + ceil(60 / 512))
    EXPECT_EQ(get32(f, 20), 0);
    EXPECT_EQ(get32(f, 24), 0);
    EXPECT_STREQ(&f[28], "Orv is");
    EXPECT_EQ(f[148], 2);  // this machine is little-endian
    EXPECT_STREQ(&f[188], "pixels");
    EXPECT_STREQ(&f[212], "32flt");
    EXPECT_EQ(get32(f, 228), 516);
    EXPECT_EQ(get32(f, 232), 4);
    EXPECT_EQ(get32(f, 236), 2);
    EXPECT_EQ(get32(f, 240) | get32(f, 244) | get32(f, 248), 0);
    EXPECT_EQ(f[255], 0);
    EXPECT_EQ(get32(f, 256), 3);
    EXPECT_EQ(get32(f, 260), 1);
    EXPECT_STREQ(&f[264], "fwd");
    EXPECT_STREQ(&f[272], "pixels");
    EXPECT_EQ(get32(f, 320), 5);
    EXPECT_EQ(get32(f, 324), 2);
    EXPECT_EQ(f.find_first_not_of('.', 384), 512u);
    EXPECT_EQ(std::memcmp(&f[512], px, 60), 0);
    EXPECT_EQ(f.find_first_not_of('.', 572), std::string::npos);

    // Compressed: one zlib stream after the header, padding from the raw size.
    img->orvcomp = 1;
    f = iotest::writeBytes(img.get());
    EXPECT_EQ(f[255], 1);
    std::vector<Bytef> raw(60);
    uLongf rawLength = raw.size();
    ASSERT_EQ(uncompress(raw.data(), &rawLength, reinterpret_cast<const Bytef *>(&f[512]),
                         f.size() - 512),
              Z_OK);
    EXPECT_EQ(rawLength, 60u);
    EXPECT_EQ(std::memcmp(raw.data(), px, 60), 0);
    std::size_t padStart = f.size() - 452;
    EXPECT_EQ(f.find_first_not_of('.', padStart), std::string::npos);
    EXPECT_NE(f[padStart - 1], '.');  // the stream's last byte (Adler-32)

    // A 10-byte tail: 9 bytes and a zero, then 502 dots.
    img->orvcomp = 0;
    img->orvtail = static_cast<char *>(Tamoalc(10));
    std::memcpy(img->orvtail, "0123456789", 10);
    img->orvtlen = 10;
    f = iotest::writeBytes(img.get(), 1);
    ASSERT_EQ(f.size(), 1536u);
    EXPECT_EQ(get32(f, 20), 10);
    EXPECT_EQ(f.substr(1024, 10), std::string("012345678\0", 10));
    EXPECT_EQ(f.find_first_not_of('.', 1034), std::string::npos);
    // Without the tail flag the tail is left out and its length written as 0.
    f = iotest::writeBytes(img.get(), 0);
    EXPECT_EQ(f.size(), 1024u);
    EXPECT_EQ(get32(f, 20), 0);
}

TEST(FileFormat, OtherByteOrderIsSwappedElementByElement) {
    std::string err, out;
    // "16bit" values 1, 2 and a negative one.
    tamo::RecordPtr img =
        iotest::readQuietly(bigendian::file("16bit", 258, 2, {3}, be16s({1, 2, 0xfffe}), 40), &err);
    ASSERT_TRUE(img) << err;
    EXPECT_EQ(tamo::pixels<int16_t>(img.get())[0], 1);
    EXPECT_EQ(tamo::pixels<int16_t>(img.get())[1], 2);
    EXPECT_EQ(tamo::pixels<int16_t>(img.get())[2], -2);
    EXPECT_EQ(img->orvendian, 2);  // the record now holds this machine's order
    EXPECT_EQ(img->orvtlen, 0);    // a foreign tail is not carried over
    EXPECT_EQ(err, "");

    // The alias "short" is accepted and made canonical after the two-part warning.
    img = iotest::readQuietly(bigendian::file("short", 258, 2, {2}, be16s({7, 8})), &err);
    ASSERT_TRUE(img);
    EXPECT_STREQ(img->orvdt, "16bit");
    EXPECT_EQ(tamo::pixels<int16_t>(img.get())[1], 8);
    EXPECT_NE(err.find("TamoRdHdr: WARNING!  File header fields 'orvdt', 'dtype' contain\n"
                       "          inconsistent information -- hdr->Tamodt = 'short',\n"
                       "          hdr->dtype = $102\n"
                       "          Data type table shows 'orvdt' should be = '16bit',\n"
                       "          and 'dtype' should be $102"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("TamoRdImg: WARNING -- File header is inconsistent"), std::string::npos);

    // Complex: each float half separately. Multi-channel: each channel.
    img = iotest::readQuietly(
        bigendian::file("32cmp", 4612, 8, {2},
                        be32s({bitsOf(1.5f), bitsOf(-2.0f), bitsOf(3.0f), bitsOf(0.25f)})),
        &err);
    ASSERT_TRUE(img) << err;
    const float *c = tamo::pixels<float>(img.get());
    EXPECT_EQ(c[0], 1.5f);
    EXPECT_EQ(c[1], -2.0f);
    EXPECT_EQ(c[3], 0.25f);
    img = iotest::readQuietly(
        bigendian::file("Su16bit3", 1042, 2, {2, 1, 3}, be16s({1, 2, 3, 0x100, 0x200, 0x300})),
        &err);
    ASSERT_TRUE(img) << err;
    EXPECT_EQ(Tamoigp3d(img.get(), 2, 0, 0), 3);
    EXPECT_EQ(Tamoigp3d(img.get(), 1, 0, 1), 0x200);

    // "struct" cannot be swapped, an unknown name has no table entry: both
    // fail the read, and the process goes on.
    img = iotest::readQuietly(bigendian::file("struct", 8192, 4, {2}, be32s({1, 2})), &err, &out);
    EXPECT_FALSE(img);
    EXPECT_EQ(out,
              "This image was created on another type computer, and it is data type \"struct\".\n"
              "I cannot convert it to this platform because I dont know the format of the "
              "(user-defined) struct.\nSorry\n");
    EXPECT_NE(err.find("TamoRdImg: failed to get data from file"), std::string::npos);
    img = iotest::readQuietly(bigendian::file("quaternion", 77, 4, {1}, be32s({1})), &err);
    EXPECT_FALSE(img);
    EXPECT_NE(err.find("(field 'orvdt' contains 'quaternion')"), std::string::npos) << err;
    EXPECT_NE(err.find("TamoRdImg: failed to get header from file"), std::string::npos);
}

TEST(FileFormat, TypeFieldsThatMisSizeThePixelDataAreRefusedInEitherByteOrder) {
    // Type fields whose sizes disagree would have operators that copy by
    // name write past their buffers; a disagreeing code alone is harmless.
    tamo::RecordPtr img = iotest::patterned("64flt", {2, 2});
    img->orvcomp = 0;
    const std::string good = iotest::writeBytes(img.get());
    auto native = [&](const char *name, int32_t code, int32_t bpd) {
        std::string f = good;
        std::memset(&f[212], 0, 16);
        std::memcpy(&f[212], name, std::strlen(name));
        put32(f, 228, code);
        put32(f, 232, bpd);
        return f;
    };
    const std::string eightBytes = be32s({1, 2, 3, 4, 5, 6, 7, 8});
    struct Refused {
        std::string file;
        const char *message;
    } refusedCases[] = {
        {native("u8bit", 520, 8),
         "data type 'u8bit', code $208, 8 bytes per datum: the type table gives 'u8bit' a "
         "datum size of 1"},
        {native("u8bit", 520, 1), "the type table gives code $208 ('64flt') a datum size of 8"},
        {native("quaternion", 520, 8),
         "data type 'quaternion', code $208, 8 bytes per datum: the name is not in the type "
         "table"},
        {native("struct", 8192, 0), "'struct' needs at least 1 byte per datum"},
        {bigendian::file("u8bit", 520, 8, {4}, eightBytes),
         "data type 'u8bit', code $208, 8 bytes per datum: the type table gives 'u8bit' a "
         "datum size of 1"},
        {bigendian::file("quaternion", 77, 8, {4}, eightBytes),
         "data type 'quaternion', code $4d, 8 bytes per datum: the name is not in the type "
         "table"},
    };
    std::string err;
    for (const Refused &c : refusedCases) {
        EXPECT_FALSE(iotest::readQuietly(c.file, &err)) << c.message;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_NE(err.find("TamoRdImg: failed to get header from file"), std::string::npos);
    }
    // An unknown name keeps the old report before the refusal.
    EXPECT_NE(err.find("TamoRdHdr: WARNING!  Data Type Field 'orvdt' does not contain a data "
                       "type\n          recognized by this version of TAMO (field 'orvdt' "
                       "contains 'quaternion')"),
              std::string::npos)
        << err;

    // A code alone disagreeing: this machine's order keeps the fields as
    // stored, the other order takes the table's code after the warning.
    tamo::RecordPtr kept = iotest::readQuietly(native("64flt", 4612, 8), &err);
    ASSERT_TRUE(kept) << err;
    EXPECT_STREQ(kept->orvdt, "64flt");
    EXPECT_EQ(kept->dtype, 4612);
    tamo::RecordPtr mended =
        iotest::readQuietly(bigendian::file("16bit", 1025, 2, {2}, be16s({7, 8})), &err);
    ASSERT_TRUE(mended) << err;
    EXPECT_STREQ(mended->orvdt, "16bit");
    EXPECT_EQ(mended->dtype, 258);
    EXPECT_EQ(tamo::pixels<int16_t>(mended.get())[1], 8);
    EXPECT_NE(err.find("hdr->dtype = $401"), std::string::npos) << err;
}

TEST(FileFormat, IncompressibleDataRoundTrip) {
    // Random bits deflate to more bytes than they hold.
    tamo::RecordPtr img = iotest::patterned("float", {256, 256});
    std::mt19937 rng(3);
    uint32_t *bits = tamo::pixels<uint32_t>(img.get());
    for (int i = 0; i < 256 * 256; ++i) bits[i] = rng();
    img->orvcomp = 1;
    img->orvtail = static_cast<char *>(Tamoalc(600));
    std::memset(img->orvtail, 'x', 600);
    img->orvtlen = 600;
    std::string f = iotest::writeBytes(img.get(), 1);
    EXPECT_GT(f.size(), 512u + 4 * 256 * 256 + 1024);

    tamo::RecordPtr back = iotest::readBytes(f, 1);
    ASSERT_TRUE(back);
    EXPECT_TRUE(iotest::sameData(img.get(), back.get()));
    ASSERT_EQ(back->orvtlen, 600);
    EXPECT_EQ(back->orvtail[0], 'x');
    EXPECT_EQ(back->orvtail[599], '\0');

    // The same through a pipe, where read-ahead bytes cannot be sought back.
    const testsupport::TempDir temp;
    const std::string path = temp.file("incompressible.tam");
    FILE *file = std::fopen(path.c_str(), "wb");
    std::fwrite(f.data(), 1, f.size(), file);
    std::fclose(file);
    FILE *pipe = popen(("cat " + path).c_str(), "r");
    back.reset(TamoRdImg(pipe, 1));
    pclose(pipe);
    std::remove(path.c_str());
    ASSERT_TRUE(back);
    EXPECT_TRUE(iotest::sameData(img.get(), back.get()));
    ASSERT_EQ(back->orvtlen, 600);
    EXPECT_EQ(back->orvtail[598], 'x');
}

TEST(FileFormat, CompressedDataAreOneZlibStreamWhateverTheThreadCount) {
    // Sizes around the pieces the data are compressed in (1 MiB each), and
    // data that compress well in front of noise that does not.
    constexpr int kPiece = 1 << 20;
    const testsupport::TempDir temp;
    const std::string path = temp.file("packed.tam");
    const char *threadsBefore = std::getenv("TAMO_THREADS");
    const std::string saved = threadsBefore ? threadsBefore : "";
    for (int n : {1, 511, 512, kPiece - 1, kPiece, kPiece + 1, 2 * kPiece + kPiece / 2}) {
        tamo::RecordPtr img = iotest::patterned("u8bit", {n});
        for (int i = 0; i < n / 2; ++i) img->orvptr[i] = static_cast<char>(i / 1000);
        img->orvcomp = 1;
        std::string first;
        for (const char *threads : {"1", "2", "3"}) {
            setenv("TAMO_THREADS", threads, 1);
            // Through a file's descriptor, then a write after it through the
            // stream, which must land behind the image.
            FILE *fp = std::fopen(path.c_str(), "wb");
            ASSERT_EQ(TamoWrImg(img.get(), fp, 0), -1);
            const long end = std::ftell(fp);
            std::fputs("after", fp);
            std::fclose(fp);
            std::ifstream in(path, std::ios::binary);
            std::string f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            ASSERT_EQ(f.substr(f.size() - 5), "after") << n;
            f.resize(f.size() - 5);
            EXPECT_EQ(end, static_cast<long>(f.size())) << n;
            if (first.empty()) {
                first = f;
                // Memory streams have no descriptor: the same bytes by stdio.
                EXPECT_EQ(iotest::writeBytes(img.get()), f) << n;
            } else {
                EXPECT_EQ(f, first) << n << " bytes, " << threads << " threads";
            }
        }
        const std::size_t pad = (512 - n % 512) % 512;
        ASSERT_GT(first.size(), 512 + pad);
        EXPECT_EQ(first.find_first_not_of('.', first.size() - pad), std::string::npos);
        std::vector<Bytef> raw(n + 1);
        uLongf rawLength = raw.size();
        ASSERT_EQ(uncompress(raw.data(), &rawLength, reinterpret_cast<const Bytef *>(&first[512]),
                             first.size() - 512 - pad),
                  Z_OK)
            << n;
        ASSERT_EQ(rawLength, static_cast<uLongf>(n));
        EXPECT_EQ(std::memcmp(raw.data(), img->orvptr, n), 0) << n;
        tamo::RecordPtr back = iotest::readBytes(first);
        ASSERT_TRUE(back) << n;
        EXPECT_TRUE(iotest::sameData(img.get(), back.get())) << n;
    }
    if (threadsBefore)
        setenv("TAMO_THREADS", saved.c_str(), 1);
    else
        unsetenv("TAMO_THREADS");
}

TEST(FileFormat, StreamsOfUnknownLengthAreReadInSteps) {
    // More data than one buffer step, held in a compressed stream small
    // enough to arrive in one read: the buffer must grow while no input is left.
    tamo::RecordPtr img = iotest::patterned("float", {4100, 1100});
    for (long long i = 0; i < 4100LL * 1100; ++i)
        tamo::pixels<float>(img.get())[i] = float(i % 1000);
    const testsupport::TempDir temp;
    const std::string path = temp.file("steps.tam");
    for (int comp = 0; comp <= 1; ++comp) {
        img->orvcomp = static_cast<char>(comp);
        FILE *file = std::fopen(path.c_str(), "wb");
        ASSERT_EQ(TamoWrImg(img.get(), file, 0), -1);
        std::fclose(file);
        FILE *pipe = popen(("cat " + path).c_str(), "r");
        tamo::RecordPtr back(TamoRdImg(pipe, 0));
        pclose(pipe);
        ASSERT_TRUE(back) << "compressed " << comp;
        EXPECT_TRUE(iotest::sameData(img.get(), back.get()));
    }
    std::remove(path.c_str());
}

TEST(FileFormat, DamagedDataIsRefused) {
    tamo::RecordPtr img = iotest::patterned("double", {40, 30});
    img->orvcomp = 0;
    const std::string raw = iotest::writeBytes(img.get());
    img->orvcomp = 1;
    const std::string packed = iotest::writeBytes(img.get());
    const std::size_t n = 40 * 30 * 8;
    std::string err;

    // Truncated raw and compressed data.
    EXPECT_FALSE(iotest::readQuietly(raw.substr(0, 512 + n - 1), &err));
    EXPECT_NE(err.find("TamoRdData: I/O error on read of data [file damaged?]"), std::string::npos);
    EXPECT_NE(err.find("TamoRdImg: failed to get data from file"), std::string::npos);
    EXPECT_EQ(Tamoerr, 448);
    EXPECT_FALSE(iotest::readQuietly(packed.substr(0, 600), &err));
    EXPECT_NE(err.find("compressed data end before their stream does"), std::string::npos);
    // Raw data cut exactly at its end still read: the padding is optional.
    EXPECT_TRUE(iotest::readQuietly(raw.substr(0, 512 + n), &err));

    // A corrupt stream.
    std::string corrupt = packed;
    for (std::size_t i = 530; i < 560; ++i) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5a);
    EXPECT_FALSE(iotest::readQuietly(corrupt, &err));
    EXPECT_NE(err.find("TamoRdData: I/O error on read of data"), std::string::npos);

    // A stream that inflates to fewer or more bytes than the header says.
    std::string fewer = packed, more = packed;
    put32(fewer, 320, 31);
    put32(more, 320, 29);
    EXPECT_FALSE(iotest::readQuietly(fewer, &err));
    EXPECT_NE(err.find("do not inflate to the size in the header"), std::string::npos) << err;
    EXPECT_FALSE(iotest::readQuietly(more, &err));
    EXPECT_NE(err.find("do not inflate to the size in the header"), std::string::npos) << err;
}

namespace {
std::size_t largestRequest = 0;
void *countingCalloc(std::size_t count, std::size_t size) {
    largestRequest = std::max(largestRequest, count * size);
    return std::calloc(count, size);
}
}  // namespace

TEST(FileFormat, HeaderSizesAreNotTrusted) {
    tamo::RecordPtr img = iotest::patterned("float", {4, 4});
    img->orvcomp = 0;
    const std::string good = iotest::writeBytes(img.get());
    std::string err, out;
    auto refused = [&](std::string f, const char *why) {
        largestRequest = 0;
        Tamo_alcptr = countingCalloc;
        tamo::RecordPtr r = iotest::readQuietly(f, &err, &out);
        Tamo_alcptr = std::calloc;
        EXPECT_FALSE(r) << why;
        EXPECT_LT(largestRequest, 64u << 20) << why;
        return err + out;
    };
    auto with = [&](std::size_t at, int32_t v) {
        std::string f = good;
        put32(f, at, v);
        return f;
    };

    EXPECT_NE(refused(with(236, 0), "no dimensions").find("number of dimensions is 0"),
              std::string::npos);
    EXPECT_NE(refused(with(236, -3), "negative dimensions").find("number of dimensions is -3"),
              std::string::npos);
    EXPECT_NE(refused(with(236, 4), "four dimensions").find("number of dimensions is 4"),
              std::string::npos);
    EXPECT_NE(refused(with(256, 0), "zero length").find("dimension 1 has length 0"),
              std::string::npos);
    EXPECT_NE(refused(with(320, -4), "negative length").find("dimension 2 has length -4"),
              std::string::npos);
    EXPECT_NE(refused(with(260, 2), "dimension numbered twice").find("not numbered"),
              std::string::npos);
    std::string huge = with(256, 1 << 20);
    put32(huge, 320, 1 << 20);
    EXPECT_NE(refused(huge, "overflowing size").find("would need 4194304 MB"), std::string::npos);
    EXPECT_NE(refused(with(232, 2), "bytes per datum")
                  .find("data type '32flt', code $204, 2 bytes per datum: the type table gives "
                        "'32flt' a datum size of 4"),
              std::string::npos);
    EXPECT_NE(refused(with(20, -5), "negative tail").find("tail length -5 is negative"),
              std::string::npos);
    std::string blockSize = refused(with(4, 1024), "block size");
    EXPECT_EQ(out, "input file blocksize not set to anything I recognize\n");
    EXPECT_NE(blockSize.find("TamoRdImg: failed to get header from file"), std::string::npos);
    std::string badMark = good;
    badMark[0] = 'X';
    EXPECT_NE(refused(badMark, "mark").find("does not begin with the mark"), std::string::npos);
    EXPECT_NE(refused("", "empty").find("TamoRdHdr: I/O error or EOF when reading header."),
              std::string::npos);
    EXPECT_NE(refused(good.substr(0, 300), "short dimensions").find("dimension headers"),
              std::string::npos);

    // Large announced sizes with little behind them: refused without a large
    // allocation, from a file and from a pipe alike.
    std::string big = with(256, 8192);
    put32(big, 320, 8192);
    refused(big, "raw data missing");
    big[255] = 1;
    refused(big, "compressed data missing");
    FILE *memory = fmemopen(big.data(), big.size(), "rb");  // length unknown to the reader
    largestRequest = 0;
    Tamo_alcptr = countingCalloc;
    testing::internal::CaptureStderr();
    EXPECT_EQ(TamoRdImg(memory, 0), nullptr);
    testing::internal::GetCapturedStderr();
    Tamo_alcptr = std::calloc;
    std::fclose(memory);
    EXPECT_LE(largestRequest, 16u << 20);

    // A tail longer than the file.
    std::string longTail = with(20, 100000);
    std::string e;
    EXPECT_FALSE(iotest::readQuietly(longTail, &e, nullptr, 1));
    EXPECT_NE(e.find("TamoRdTail: I/O error on read of tail [file damaged?]"), std::string::npos);
    // Not asked for, the tail is not read and the image is fine.
    EXPECT_TRUE(iotest::readQuietly(longTail, &e, nullptr, 0));
}

using testsupport::ExitCalled;
using testsupport::throwingExit;

TEST(FileFormat, SeverityEndsAtTheOutermostCallOnly) {
    // At the default severity a damaged file never ends the process.
    tamo::RecordPtr img = iotest::patterned("u8bit", {4});
    img->orvcomp = 0;
    std::string truncated = iotest::writeBytes(img.get()).substr(0, 514);
    std::string err;
    EXPECT_FALSE(iotest::readQuietly(truncated, &err));

    // At severity 64 the host's exit hook runs once, at TamoRdImg's own
    // report, and nothing leaks while unwinding.
    void (*previousExit)(int) = Tamo_exitptr;
    TAMOSLV = 64;
    Tamo_exitptr = throwingExit;
    testing::internal::CaptureStderr();
    try {
        iotest::readBytes(truncated);
        ADD_FAILURE() << "the exit hook was not called";
    } catch (const ExitCalled &s) {
        EXPECT_EQ(s.status, 448);
    }
    std::string text = testing::internal::GetCapturedStderr();
    EXPECT_NE(text.find("TamoRdImg: failed to get data from file"), std::string::npos);
    Tamo_exitptr = previousExit;
    TAMOSLV = 8;
    EXPECT_EQ(TAMODEPTH, 0);

    EXPECT_EXIT(
        {
            TAMOSLV = 64;
            iotest::readBytes(truncated);
        },
        testing::ExitedWithCode(448 & 0xff), "failed to get data from file");
}

TEST(FileFormat, WriterReportsFailures) {
    tamo::RecordPtr img = iotest::patterned("float", {600, 600});
    FILE *in = std::fopen("/dev/null", "rb");
    testing::internal::CaptureStderr();
    EXPECT_EQ(TamoWrImg(img.get(), in, 0), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Tamoerr, 448);
    EXPECT_NE(err.find("TamoWrImg: I/O error when writing TAMO  header."), std::string::npos);
    std::fclose(in);

    // "ORV" records are written like "TAM" ones.
    std::memcpy(img->orvmagic, "ORV", 4);
    std::string f = iotest::writeBytes(img.get());
    EXPECT_EQ(std::memcmp(f.data(), "ORV", 4), 0);
    std::memcpy(img->orvmagic, "TAM", 4);
}

TEST(FileFormat, PrintHeader) {
    tamo::RecordPtr img = iotest::patterned("ushort", {2, 3});
    testing::internal::CaptureStdout();
    printhdr(img.get());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("TAM\nblocksize: 512\nheader block number:0\ndata block number:1\n"
                        "tail block number: -2\nfile class: Orv is\nclass type:great!\n",
                        0),
              0u)
        << out;
    EXPECT_NE(out.find("\nData scaled by: 1.000000\ndata offset by: 0.000000\n"
                       "Data type: u16bit\nData type (int):402\nbytes/datum: 2\n"
                       "number dimensions: 2\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\nuser pointer: 0\ncompresson flag:1\n"), std::string::npos);
}
