// Crafted TIFF files written byte by byte: little-endian classic TIFF with
// exactly the tags, sizes and chunk bytes a test asks for, including layouts
// no ordinary writer makes (thousands of extra samples, tiles far larger
// than their page, a chain of directories that loops).
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct CraftedPage {
    uint32_t width = 1, height = 1;
    uint16_t bits = 8, samples = 1;
    uint16_t format = 1;                     // SampleFormat: 1 unsigned, 2 signed, 3 float
    uint16_t photometric = 1;                // 1 grey (min is black), 2 RGB
    uint16_t planar = 1;                     // 1 contiguous, 2 separate
    uint16_t extraSamples = 0;               // entries of an ExtraSamples tag (0: none)
    uint16_t compression = 1;                // 1 none, 8 Deflate: the chunks are stored as given
    uint32_t tileWidth = 0, tileHeight = 0;  // 0: strips
    uint32_t rowsPerStrip = 0;               // 0: one strip for the page
    // The stored bytes of each strip or tile; equal chunks anywhere in the
    // file are stored once and shared, as some writers do.
    std::vector<std::string> chunks;
};

// The bytes compressed with zlib (Deflate as TIFF stores it).
inline std::string deflated(const std::string &raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef *>(&out[0]), &size,
                  reinterpret_cast<const Bytef *>(raw.data()), static_cast<uLong>(raw.size()),
                  9) != Z_OK)
        std::abort();
    out.resize(size);
    return out;
}

// The pages as one TIFF file. With loopTo >= 0 the last directory links
// back to that page's directory instead of ending the chain.
inline std::string craftTiff(const std::vector<CraftedPage> &pages, int loopTo = -1) {
    std::string out("II*\0\0\0\0\0", 8);
    auto put16 = [&](std::size_t at, uint32_t v) {
        out[at] = char(v & 0xff);
        out[at + 1] = char((v >> 8) & 0xff);
    };
    auto put32 = [&](std::size_t at, uint32_t v) {
        put16(at, v & 0xffff);
        put16(at + 2, v >> 16);
    };
    auto align = [&] {
        if (out.size() % 2) out.push_back('\0');
    };
    struct Entry {
        uint16_t tag, type;  // type 3 SHORT, 4 LONG
        std::vector<uint32_t> values;
    };
    std::vector<uint32_t> ifdOffsets;
    std::map<std::string, uint32_t> stored;
    std::size_t previousLink = 4;  // where the offset of the next directory goes
    for (const CraftedPage &p : pages) {
        std::vector<uint32_t> offsets, counts;
        for (const std::string &c : p.chunks) {
            auto at = stored.emplace(c, static_cast<uint32_t>(out.size()));
            if (at.second) {
                out += c;
                align();
            }
            offsets.push_back(at.first->second);
            counts.push_back(static_cast<uint32_t>(c.size()));
        }
        const bool tiled = p.tileWidth != 0;
        std::vector<Entry> entries = {
            {256, 4, {p.width}},
            {257, 4, {p.height}},
            {258, 3, std::vector<uint32_t>(p.samples, p.bits)},
            {259, 3, {p.compression}},
            {262, 3, {p.photometric}},
        };
        if (!tiled) entries.push_back({273, 4, offsets});
        entries.push_back({277, 3, {p.samples}});
        if (!tiled) {
            entries.push_back({278, 4, {p.rowsPerStrip ? p.rowsPerStrip : p.height}});
            entries.push_back({279, 4, counts});
        }
        entries.push_back({284, 3, {p.planar}});
        if (tiled) {
            entries.push_back({322, 4, {p.tileWidth}});
            entries.push_back({323, 4, {p.tileHeight}});
            entries.push_back({324, 4, offsets});
            entries.push_back({325, 4, counts});
        }
        if (p.extraSamples) entries.push_back({338, 3, std::vector<uint32_t>(p.extraSamples, 0)});
        entries.push_back({339, 3, std::vector<uint32_t>(p.samples, p.format)});

        // Values longer than four bytes go before the directory.
        std::vector<uint32_t> valueAt(entries.size(), 0);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const Entry &e = entries[i];
            const std::size_t bytes = e.values.size() * (e.type == 3 ? 2 : 4);
            if (bytes <= 4) continue;
            valueAt[i] = static_cast<uint32_t>(out.size());
            out.append(bytes, '\0');
            for (std::size_t k = 0; k < e.values.size(); ++k) {
                if (e.type == 3)
                    put16(valueAt[i] + 2 * k, e.values[k]);
                else
                    put32(valueAt[i] + 4 * k, e.values[k]);
            }
        }
        align();
        const std::size_t ifd = out.size();
        ifdOffsets.push_back(static_cast<uint32_t>(ifd));
        put32(previousLink, static_cast<uint32_t>(ifd));
        out.append(2 + 12 * entries.size() + 4, '\0');
        put16(ifd, static_cast<uint32_t>(entries.size()));
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const Entry &e = entries[i];
            const std::size_t at = ifd + 2 + 12 * i;
            put16(at, e.tag);
            put16(at + 2, e.type);
            put32(at + 4, static_cast<uint32_t>(e.values.size()));
            if (valueAt[i]) {
                put32(at + 8, valueAt[i]);
            } else if (e.type == 3) {
                for (std::size_t k = 0; k < e.values.size(); ++k)
                    put16(at + 8 + 2 * k, e.values[k]);
            } else if (!e.values.empty()) {
                put32(at + 8, e.values[0]);
            }
        }
        previousLink = ifd + 2 + 12 * entries.size();
    }
    if (loopTo >= 0 && static_cast<std::size_t>(loopTo) < ifdOffsets.size())
        put32(previousLink, ifdOffsets[loopTo]);
    return out;
}

}  // namespace testsupport
