// Deterministic builders of crafted image files for the tests of the
// readers: PNG files put together chunk by chunk (each with its CRC, the
// rows deflated with zlib, any header values at all) and .npy files with any
// header text.
//
//   crafted::Png png{13, 7, 16, crafted::kRgb};
//   png.interlaced = true;
//   std::string bytes = png.file(crafted::pngRows(png, [](uint32_t x, uint32_t y, int c) {...}));
#pragma once

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <string>

namespace crafted {

inline std::string bigEndian32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

// One PNG chunk: length, type, data and the CRC over type and data.
inline std::string pngChunk(const std::string &type, const std::string &data) {
    const std::string body = type + data;
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef *>(body.data()), static_cast<uInt>(body.size()));
    return bigEndian32(static_cast<uint32_t>(data.size())) + body +
           bigEndian32(static_cast<uint32_t>(crc));
}

// A zlib stream of `raw`.
inline std::string deflated(const std::string &raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef *>(out.data()), &size,
              reinterpret_cast<const Bytef *>(raw.data()), static_cast<uLong>(raw.size()), 9);
    out.resize(size);
    return out;
}

constexpr int kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6;

// The header of a PNG file; `file` writes it with its rows.
struct Png {
    uint32_t width, height;
    int depth;  // bits a sample: 1, 2, 4, 8 or 16
    int colourType;
    bool interlaced = false;
    std::string chunksBeforePixels;  // PLTE, ancillary chunks, ...

    int channels() const {
        return colourType == kRgb ? 3 : colourType == kRgba ? 4 : colourType == kGreyAlpha ? 2 : 1;
    }

    // Signature, IHDR, the chunks before the pixels, one IDAT of the
    // deflated `rows` (filter bytes included), IEND.
    std::string file(const std::string &rows) const {
        std::string ihdr = bigEndian32(width) + bigEndian32(height);
        ihdr += {static_cast<char>(depth), static_cast<char>(colourType), 0, 0,
                 static_cast<char>(interlaced ? 1 : 0)};
        return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) + chunksBeforePixels +
               pngChunk("IDAT", deflated(rows)) + pngChunk("IEND", "");
    }
};

// Sample c of the pixel at column x, row y.
using Samples = std::function<unsigned(uint32_t x, uint32_t y, int c)>;

// The unfiltered rows of a picture of 8 or 16 bits a sample, in the order
// the file holds them: row after row, or the seven passes of Adam7.
inline std::string pngRows(const Png &png, const Samples &sample) {
    std::string rows;
    auto addRow = [&](uint32_t y, uint32_t x0, uint32_t dx) {
        rows.push_back('\0');
        for (uint32_t x = x0; x < png.width; x += dx)
            for (int c = 0; c < png.channels(); ++c) {
                const unsigned v = sample(x, y, c);
                if (png.depth == 16) rows.push_back(static_cast<char>(v >> 8));
                rows.push_back(static_cast<char>(v));
            }
    };
    if (!png.interlaced) {
        for (uint32_t y = 0; y < png.height; ++y) addRow(y, 0, 1);
        return rows;
    }
    struct Pass {
        uint32_t x0, y0, dx, dy;
    };
    const Pass passes[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (const Pass &p : passes) {
        if (p.x0 >= png.width) continue;  // a pass without pixels has no rows
        for (uint32_t y = p.y0; y < png.height; y += p.dy) addRow(y, p.x0, p.dx);
    }
    return rows;
}

// A .npy file of format version 1 with the header `dict` (padded as NumPy
// pads it) and then `data`.
inline std::string npyFile(const std::string &dict, const std::string &data) {
    std::string header = dict;
    while ((10 + header.size() + 1) % 64 != 0) header.push_back(' ');
    header.push_back('\n');
    std::string file("\x93NUMPY\x01\x00", 8);
    file.push_back(static_cast<char>(header.size() & 0xff));
    file.push_back(static_cast<char>(header.size() >> 8));
    return file + header + data;
}

}  // namespace crafted
