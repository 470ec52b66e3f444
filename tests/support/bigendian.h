// Own-format files as a big-endian machine writes them, built byte by byte,
// for tests of the reader's byte-order handling.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace bigendian {

// Header, one dimension record per length, padding, then `data` as given
// and padding to whole blocks.
inline std::string file(const char *typeName, int32_t code, int32_t bpd,
                        std::vector<int32_t> lengths, const std::string &data,
                        int32_t tailLength = 0) {
    auto be32 = [](std::string &s, std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (24 - 8 * i));
    };
    std::string f(512, '.');
    std::fill(f.begin(), f.begin() + 256, '\0');
    std::memcpy(&f[0], "TAM", 4);
    be32(f, 4, 512);
    be32(f, 20, static_cast<uint32_t>(tailLength));
    std::memcpy(&f[28], "Orv is", 6);
    f[148] = 1;  // big-endian writer
    f[149] = 16;
    std::memcpy(&f[212], typeName, std::strlen(typeName));
    be32(f, 228, static_cast<uint32_t>(code));
    be32(f, 232, static_cast<uint32_t>(bpd));
    be32(f, 236, static_cast<uint32_t>(lengths.size()));
    for (std::size_t d = 0; d < lengths.size(); ++d) {
        std::size_t at = 256 + 64 * d;
        std::fill(f.begin() + at, f.begin() + at + 64, '\0');
        be32(f, at, static_cast<uint32_t>(lengths[d]));
        be32(f, at + 4, static_cast<uint32_t>(d + 1));
        std::memcpy(&f[at + 8], "fwd", 3);
    }
    f += data;
    f += std::string((512 - data.size() % 512) % 512, '.');
    return f;
}

inline std::string be16s(std::vector<uint16_t> v) {
    std::string s;
    for (uint16_t x : v) s += {static_cast<char>(x >> 8), static_cast<char>(x & 0xff)};
    return s;
}

inline std::string be32s(std::vector<uint32_t> v) {
    std::string s;
    for (uint32_t x : v)
        for (int i = 0; i < 4; ++i) s += static_cast<char>(x >> (24 - 8 * i));
    return s;
}

}  // namespace bigendian
