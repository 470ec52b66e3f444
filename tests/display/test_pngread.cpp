// PNG files read straight into records: every kind of 8-bit file gives what
// the toolkit's picture of it gives, 16-bit files their exact values, and
// damaged or oversized files a reason instead of a record.
#include <gtest/gtest.h>
#include <png.h>

#include <QImage>

#include <fstream>
#include <string>
#include <vector>

#include "craftedfiles.h"
#include "pictures.h"
#include "pngread.h"
#include "tempdir.h"

namespace {

// One kind of PNG file: colour type, bit depth, interlacing, transparency.
struct Kind {
    const char *name;
    int colourType;
    int depth;
    bool interlaced;
    bool transparent;
};

int channelsOf(int colourType) {
    switch (colourType) {
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return 2;
        case PNG_COLOR_TYPE_RGB:
            return 3;
        case PNG_COLOR_TYPE_RGBA:
            return 4;
        default:
            return 1;  // grey, palette index
    }
}

constexpr int kWidth = 13, kHeight = 7;

// Samples of a kind, row after row, channel after channel: a first pixel
// of zeros, a second of the largest value, then pseudo-random values.
std::vector<unsigned> samplesOf(const Kind &kind) {
    const unsigned top = (1u << kind.depth) - 1;
    const std::size_t channels = channelsOf(kind.colourType);
    std::vector<unsigned> samples(kWidth * kHeight * channels);
    unsigned x = 12345;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        x = x * 1103515245u + 12345u;
        samples[i] = i < channels ? 0 : i < 2 * channels ? top : (x >> 8) % (top + 1);
    }
    return samples;
}

std::vector<png_color> paletteOf(int depth) {
    std::vector<png_color> palette(1u << depth);
    for (std::size_t i = 0; i < palette.size(); ++i)
        palette[i] = {static_cast<png_byte>(i * 37 + 5), static_cast<png_byte>(255 - i * 11),
                      static_cast<png_byte>(i * i)};
    return palette;
}

// Writes the kind's samples as a PNG file with libpng.
void writePng(const std::string &path, const Kind &kind) {
    FILE *fp = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(fp);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, fp);
    png_set_IHDR(png, info, kWidth, kHeight, kind.depth, kind.colourType,
                 kind.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const std::vector<png_color> palette = paletteOf(kind.depth);
    if (kind.colourType == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (kind.transparent) {
        const png_byte alpha[3] = {0, 128, 0};
        png_color_16 colour{};
        colour.gray = colour.red = 1;
        if (kind.colourType == PNG_COLOR_TYPE_PALETTE)
            png_set_tRNS(png, info, alpha, 3, nullptr);
        else
            png_set_tRNS(png, info, nullptr, 0, &colour);
    }
    png_write_info(png, info);
    const int channels = channelsOf(kind.colourType);
    const std::size_t rowBytes = (kWidth * channels * kind.depth + 7) / 8;
    const std::vector<unsigned> samples = samplesOf(kind);
    std::vector<std::vector<png_byte>> rows(kHeight, std::vector<png_byte>(rowBytes));
    std::vector<png_bytep> pointers;
    for (int y = 0; y < kHeight; ++y) {
        for (int i = 0; i < kWidth * channels; ++i) {
            const unsigned v = samples[y * kWidth * channels + i];
            if (kind.depth == 16) {
                rows[y][2 * i] = static_cast<png_byte>(v >> 8);
                rows[y][2 * i + 1] = static_cast<png_byte>(v);
            } else {
                const int bit = i * kind.depth;
                rows[y][bit / 8] |= static_cast<png_byte>(v << (8 - kind.depth - bit % 8));
            }
        }
        pointers.push_back(rows[y].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(fp);
}

void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<int> shape(const TAMOHDR *img) {
    std::vector<int> dims;
    for (int i = 0; i < img->orvndim; ++i) dims.push_back(img->orvdim[i].dlen);
    return dims;
}

TEST(PngRead, EightBitFilesGiveWhatTheToolkitsPictureGives) {
    const Kind kinds[] = {
        {"grey 1", PNG_COLOR_TYPE_GRAY, 1, false, false},
        {"grey 2", PNG_COLOR_TYPE_GRAY, 2, false, false},
        {"grey 4", PNG_COLOR_TYPE_GRAY, 4, false, false},
        {"grey 8", PNG_COLOR_TYPE_GRAY, 8, false, false},
        {"grey 8 transparent", PNG_COLOR_TYPE_GRAY, 8, false, true},
        {"grey+alpha 8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, false},
        {"RGB 8", PNG_COLOR_TYPE_RGB, 8, false, false},
        {"RGB 8 transparent", PNG_COLOR_TYPE_RGB, 8, false, true},
        {"RGB 8 interlaced", PNG_COLOR_TYPE_RGB, 8, true, false},
        {"RGBA 8", PNG_COLOR_TYPE_RGBA, 8, false, false},
        {"palette 8 transparent", PNG_COLOR_TYPE_PALETTE, 8, false, true},
        {"palette 4", PNG_COLOR_TYPE_PALETTE, 4, false, false},
        {"palette 1 interlaced", PNG_COLOR_TYPE_PALETTE, 1, true, false},
    };
    const testsupport::TempDir dir;
    const std::string path = dir.file("kind.png");
    for (const Kind &kind : kinds) {
        writePng(path, kind);
        QImage picture(QString::fromStdString(path));
        ASSERT_FALSE(picture.isNull()) << kind.name;
        // The toolkit paints the transparent level of a grey file black;
        // alpha being ignored, that level keeps its value.
        if (kind.colourType == PNG_COLOR_TYPE_GRAY && kind.transparent) {
            ASSERT_EQ(picture.format(), QImage::Format_Indexed8);
            EXPECT_EQ(picture.color(1), 0u);
            picture.setColor(1, qRgb(1, 1, 1));
        }
        for (const char *typeName : {"float", "u8bit", "8bit", "32cmp", "64flt"}) {
            const TAMODTYPE *type = Tamotype(typeName);
            frontend::FrameStats expectedStats[3], stats[3];
            tamo::RecordPtr expected = frontend::recordFromPicture(picture, *type, expectedStats);
            tamo::RecordPtr record;
            std::string reason;
            ASSERT_TRUE(frontend::readPng(path, *type, record, reason, stats))
                << kind.name << " " << typeName;
            ASSERT_TRUE(record) << kind.name << " " << typeName << ": " << reason;
            ASSERT_EQ(shape(record.get()), shape(expected.get()));
            EXPECT_EQ(std::memcmp(record->orvptr, expected->orvptr,
                                  tamo::elementCount(record.get()) * record->orvbpd),
                      0)
                << kind.name << " " << typeName;
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(stats[c].max, expectedStats[c].max) << kind.name << " " << c;
                EXPECT_EQ(stats[c].min, expectedStats[c].min) << kind.name << " " << c;
                EXPECT_EQ(stats[c].mean, expectedStats[c].mean) << kind.name << " " << c;
                EXPECT_EQ(stats[c].sd, expectedStats[c].sd) << kind.name << " " << c;
            }
        }
    }
}

TEST(PngRead, SixteenBitFilesKeepTheirValuesInTypesThatHoldThem) {
    const Kind kinds[] = {
        {"grey 16", PNG_COLOR_TYPE_GRAY, 16, false, false},
        {"grey 16 transparent", PNG_COLOR_TYPE_GRAY, 16, false, true},
        {"grey+alpha 16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, false},
        {"RGB 16", PNG_COLOR_TYPE_RGB, 16, false, false},
        {"RGB 16 interlaced", PNG_COLOR_TYPE_RGB, 16, true, false},
        {"RGBA 16", PNG_COLOR_TYPE_RGBA, 16, false, false},
    };
    const testsupport::TempDir dir;
    const std::string path = dir.file("deep.png");
    for (const Kind &kind : kinds) {
        writePng(path, kind);
        const std::vector<unsigned> samples = samplesOf(kind);
        const int channels = channelsOf(kind.colourType);
        // Types that cannot hold 65535 get the exact values as "u16bit",
        // for the caller to convert.
        const std::pair<const char *, const char *> asked[] = {
            {"float", "float"},  {"u16bit", "u16bit"}, {"32bit", "32bit"},
            {"u8bit", "u16bit"}, {"16bit", "u16bit"},  {"Su16bit3", "u16bit"}};
        for (const auto &[typeName, given] : asked) {
            tamo::RecordPtr record;
            std::string reason;
            frontend::FrameStats stats[3];
            ASSERT_TRUE(frontend::readPng(path, *Tamotype(typeName), record, reason, stats));
            ASSERT_TRUE(record) << kind.name << ": " << reason;
            EXPECT_EQ(record->dtype, Tamontype(given)) << kind.name << " " << typeName;
            EXPECT_EQ(shape(record.get()), std::vector<int>({kWidth, kHeight, 3}));
            for (int f = 0; f < 3; ++f) {
                double sum = 0, max = 0;
                for (int i = 0; i < kWidth * kHeight; ++i) {
                    const unsigned v = samples[i * channels + (channels < 3 ? 0 : f)];
                    const int r = i / kWidth, c = i % kWidth;
                    ASSERT_EQ(Tamofgp3d(record.get(), f, r, c), static_cast<float>(v))
                        << kind.name << " " << typeName << " frame " << f << " at " << i;
                    sum += v;
                    max = std::max(max, static_cast<double>(v));
                }
                EXPECT_EQ(stats[f].max, max) << kind.name;
                EXPECT_DOUBLE_EQ(stats[f].mean, sum / (kWidth * kHeight)) << kind.name;
            }
            EXPECT_EQ(stats[0].max, 65535.0) << kind.name;
        }
    }
}

// Files put together chunk by chunk: each is read with the values it holds,
// or refused with a reason that names the cause. The size of the record is
// checked against the limit on reading before anything is claimed for it.
TEST(PngRead, CraftedFilesAreReadExactlyOrRefusedWithTheirCause) {
    const crafted::Samples deep = [](uint32_t x, uint32_t y, int c) {
        return (x * 40503u + y * 8191u + c * 21011u + (x == 1 ? 65535u : 0)) & 0xffff;
    };
    const crafted::Samples bytes = [&](uint32_t x, uint32_t y, int c) {
        return deep(x, y, c) >> 8;
    };
    const crafted::Samples zeros = [](uint32_t, uint32_t, int) { return 0u; };
    auto file = [](const crafted::Png &png, const crafted::Samples &samples) {
        return png.file(crafted::pngRows(png, samples));
    };
    const crafted::Png deepRgb{13, 11, 16, crafted::kRgb, true};
    const crafted::Png deepDot{1, 1, 16, crafted::kGreyAlpha, true};
    const crafted::Png tall{3, 9, 8, crafted::kRgb, true};
    const crafted::Png flat{9, 2, 8, crafted::kGrey, true};
    const crafted::Png huge{16000, 16000, 8, crafted::kRgb};
    const crafted::Png deepRgba{300, 300, 16, crafted::kRgba, true};
    const crafted::Png line{PNG_UINT_31_MAX, 1, 8, crafted::kGrey};
    const crafted::Png longRow{50000, 1, 8, crafted::kGrey};
    const crafted::Png plain{13, 7, 8, crafted::kRgb};
    const std::string good = file(plain, bytes);
    const std::size_t idat = good.find("IDAT");
    std::string flipped = good;
    flipped[idat + 10] = static_cast<char>(flipped[idat + 10] ^ 0x40);

    constexpr int64_t kMiB = 1 << 20;
    struct Case {
        const char *name;
        std::string bytes;
        const char *type;    // asked for
        int64_t limit;       // largest image to read, 0 for the default
        const char *given;   // type of the record, or null when refused
        const char *reason;  // part of the reason; null with `given` when not a PNG file
        crafted::Png png;
        crafted::Samples samples;
    };
    const Case cases[] = {
        {"16-bit RGB for u8bit", file(deepRgb, deep), "u8bit", 0, "u16bit", "", deepRgb, deep},
        {"16-bit grey and alpha, one pixel", file(deepDot, deep), "float", 0, "float", "", deepDot,
         deep},
        {"passes without pixels (narrow)", file(tall, bytes), "32cmp", 0, "32cmp", "", tall, bytes},
        {"passes without pixels (flat)", file(flat, bytes), "float", 0, "float", "", flat, bytes},
        {"over the record limit", huge.file(""), "float", 0, nullptr,
         "it would need 2930 MB, more than", huge, zeros},
        {"over the limit set", file(deepRgba, zeros), "float", kMiB, nullptr,
         "it would need 2 MB, more than the 1 MB set as the largest image to read", deepRgba,
         zeros},
        {"widest picture", line.file(""), "u8bit", 0, nullptr, "it would need 6144 MB", line,
         zeros},
        {"rows beyond the limit set", file(longRow, zeros), "float", kMiB, nullptr,
         "it would need 2 MB, more than the 1 MB", longRow, zeros},
        {"cut in the pixels", good.substr(0, idat + 20), "float", 0, nullptr, "damaged", plain,
         bytes},
        {"cut before its end", good.substr(0, good.size() - 12), "float", 0, nullptr, "damaged",
         plain, bytes},
        {"signature only", good.substr(0, 8), "float", 0, nullptr, "damaged", plain, bytes},
        {"damaged pixel data", flipped, "float", 0, nullptr, "damaged", plain, bytes},
        {"not a PNG file", "not a picture", "float", 0, nullptr, nullptr, plain, bytes},
    };
    const testsupport::TempDir dir;
    const std::string path = dir.file("crafted.png");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, c.bytes);
        Tamo_maxreadbytes = c.limit;
        tamo::RecordPtr record;
        std::string reason;
        const bool png = frontend::readPng(path, *Tamotype(c.type), record, reason);
        Tamo_maxreadbytes = 0;
        EXPECT_EQ(png, c.given != nullptr || c.reason != nullptr);
        if (!c.given) {
            EXPECT_FALSE(record);
            if (c.reason) EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
            continue;
        }
        if (!record) {
            ADD_FAILURE() << "refused: " << reason;
            continue;
        }
        EXPECT_EQ(record->dtype, Tamontype(c.given));
        const int w = static_cast<int>(c.png.width), h = static_cast<int>(c.png.height);
        ASSERT_EQ(shape(record.get()), std::vector<int>({w, h, 3}));
        for (int f = 0; f < 3; ++f)
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(Tamofgp3d(record.get(), f, y, x),
                              c.samples(x, y, c.png.channels() < 3 ? 0 : f))
                        << "frame " << f << " row " << y << " column " << x;
    }

    // Nothing at all: the caller tries others.
    tamo::RecordPtr record;
    std::string reason;
    EXPECT_FALSE(frontend::readPng(dir.file("missing.png"), *Tamotype("float"), record, reason));
}

}  // namespace
