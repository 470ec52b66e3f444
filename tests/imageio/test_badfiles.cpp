// The reader on the committed corpus of damaged files (tests/data/bad, made
// by make_bad.py there): each file is refused with a message, or read where
// the damage is harmless, without a crash, a leak, the end of the process,
// or an allocation that the file's own size does not justify.
#include <fstream>
#include <sstream>

#include "iotest.h"
#include "testrecords.h"

#if defined(__SANITIZE_ADDRESS__)
#define TAMO_TEST_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAMO_TEST_LSAN 1
#endif
#endif
#ifdef TAMO_TEST_LSAN
#include <sanitizer/lsan_interface.h>
#endif

#ifndef TAMO_TEST_DATA
#error "TAMO_TEST_DATA comes from the build (the tests' data folder)"
#endif

namespace {

const std::string kBadDir = std::string(TAMO_TEST_DATA) + "/bad/";

struct Case {
    std::string file, expect, what;
    int tail = 0;
};

std::vector<Case> corpus() {
    std::vector<Case> cases;
    std::ifstream list(kBadDir + "bad.list");
    std::string line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        Case c;
        std::getline(fields, c.file, '\t');
        std::string tail;
        std::getline(fields, tail, '\t');
        c.tail = std::atoi(tail.c_str());
        std::getline(fields, c.expect, '\t');
        std::getline(fields, c.what);
        cases.push_back(c);
    }
    return cases;
}

// Every pixel, tail and record buffer the reader makes comes through the
// library's allocation functions (Tamoalc, orvrealloc); the hooks add up what
// they are asked for. zlib's own state and the reader's fixed read chunk are
// not sized by the file and are left out.
long long requested = 0;
void *countingCalloc(std::size_t count, std::size_t size) {
    requested += static_cast<long long>(count * size);
    return std::calloc(count, size);
}
void *countingRealloc(void *p, std::size_t size) {
    requested += static_cast<long long>(size);
    return std::realloc(p, size);
}

// The record a file of one to three dimensions is read into, and its
// dimension products: what any file may cost before its data.
constexpr long long kRecordCost = 2048;
// Deflate cannot expand data by more than this factor.
constexpr long long kInflateRatio = 1032;

bool ownOrder(const std::string &file) {
    const bool littleFile = file.find("_le.") != std::string::npos;
    const uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return littleFile == (first == 1);
}

}  // namespace

TEST(DamagedFiles, AreRefusedWithAMessageWithinTheirSize) {
    const std::vector<Case> cases = corpus();
    ASSERT_GE(cases.size(), 60u) << "bad.list missing or short in " << kBadDir;
    testsupport::ExitHook exitHook(testsupport::throwingExit);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file + ": " + c.what);
        const std::string bytes = iotest::readFile(kBadDir + c.file);
        FILE *fp = std::fopen((kBadDir + c.file).c_str(), "rb");
        ASSERT_TRUE(fp);
        bool refusal = c.expect == "refused";
        if (c.expect == "refused-own") refusal = ownOrder(c.file);
        if (c.expect == "refused-foreign") refusal = !ownOrder(c.file);

        requested = 0;
        Tamo_alcptr = countingCalloc;
        Tamo_realcptr = countingRealloc;
        Tamoerr = 0;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        TAMOHDR *img = nullptr;
        bool ended = false;
        try {
            img = TamoRdImg(fp, c.tail);
        } catch (const testsupport::ExitCalled &) {
            ended = true;
        }
        const int32_t err = Tamoerr;
        const std::string messages =
            testing::internal::GetCapturedStderr() + testing::internal::GetCapturedStdout();
        Tamo_alcptr = std::calloc;
        Tamo_realcptr = std::realloc;
        std::fclose(fp);

        EXPECT_FALSE(ended) << "the reader tried to end the process";
        const bool compressed = bytes.size() > 255 && bytes[255] != 0;
        const long long size = static_cast<long long>(bytes.size());
        EXPECT_LE(requested, kRecordCost + (compressed ? kInflateRatio * size : size));
        if (refusal) {
            EXPECT_EQ(img, nullptr);
            EXPECT_NE(err, 0);
            EXPECT_NE(messages.find("TamoRdImg: failed to get"), std::string::npos) << messages;
        } else {
            ASSERT_NE(img, nullptr) << messages;
            // What was read is whole: every pixel byte is there.
            const long long n = tamo::elementCount(img) * img->orvbpd;
            EXPECT_GT(n, 0);
            EXPECT_EQ(Tamodimen(img, -2), n);
        }
        if (img) Tamofree(img, 7);
#ifdef TAMO_TEST_LSAN
        EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leak after reading";
#endif
    }
}

TEST(DamagedFiles, ATypeCodeOfTheRightSizeIsRepairedFromTheOtherByteOrder) {
    // The same name with another code of the same datum size: a file of the
    // other byte order takes the code of the name's table entry; a file of
    // this order keeps its fields as stored.
    for (const char *order : {"le", "be"}) {
        const std::string file = kBadDir + "code_other_known_" + order + ".tam";
        SCOPED_TRACE(file);
        std::string err;
        tamo::RecordPtr img = iotest::readQuietly(iotest::readFile(file), &err);
        ASSERT_TRUE(img) << err;
        EXPECT_STREQ(img->orvdt, "16bit");
        EXPECT_EQ(img->orvbpd, 2);
        if (ownOrder(file)) {
            EXPECT_EQ(img->dtype, TAMO_U16BIT);
        } else {
            EXPECT_EQ(img->dtype, TAMO_16BIT);
            EXPECT_NE(err.find("inconsistent information"), std::string::npos) << err;
        }
    }
}

TEST(DamagedFiles, SayWhatIsWrong) {
    const struct {
        const char *file, *message;
    } cases[] = {
        {"endian7_le.tam", "endian byte 7 is neither 1 (big-endian) nor 2 (little-endian)"},
        {"endian0_be.tam", "endian byte 0 is neither"},
        {"header_short_le.tam", "the header's padding holds other bytes than '.'"},
        {"tail_negative_be.tam", "tail length -5 is negative"},
        {"typename_nonul_le.tam", "'16bitABCDEFGHIJ'"},
        {"ndim_intmax_be.tam", "number of dimensions is 2147483647"},
        {"dlen_intmin_le.tam", "dimension 2 has length -2147483648"},
        {"overflow64_be.tam", "more bytes than 64 bits can count, more than the 2048 MB one image record"},
        {"overflow32_le.tam", "it would need 4096 MB, more than"},
        {"raw_longer_le.tam", "the file ends before the data it announces"},
        {"zlib_huffman_be.tam", "compressed data are corrupt"},
        {"zlib_cut_le.tam", "compressed data end before their stream does"},
        {"zlib_bomb_le.tam", "do not inflate to the size in the header"},
        {"zlib_longer_be.tam", "the file ends before the data it announces"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        std::string err, out;
        EXPECT_FALSE(iotest::readQuietly(iotest::readFile(kBadDir + c.file), &err, &out));
        EXPECT_NE((err + out).find(c.message), std::string::npos) << err << out;
    }
}
