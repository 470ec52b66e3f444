// Private helpers of the file format's reader and writer (private to the
// library); it brings the library's own helpers along.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imagelib_internal.h"
#include "tamoio.h"

namespace tamo::io {

// Offsets of the fields in the 256-byte file header.
namespace off {
constexpr int magic = 0, bsize = 4, hblk = 8, dblk = 12, tblk = 16, tlen = 20;
constexpr int fileClass = 28, ctype = 36, user = 44, date = 76, prog = 108, pver = 140;
constexpr int endian = 148, fmt = 149, rsv = 150, units = 188, scale = 204, offset = 208;
constexpr int dt = 212, dtype = 228, bpd = 232, ndim = 236, rsv2 = 252, comp = 255;
}  // namespace off

constexpr int kDimRecord = 64;
// The block size as written, and as read from a file of the other byte order.
constexpr int32_t kBlockSize = 512;
constexpr int32_t kBlockSizeSwapped = 0x00020000;

// Padding after a section of n bytes up to a whole number of blocks.
inline long long padAfter(long long n) {
    return (kBlockSize - n % kBlockSize) % kBlockSize;
}

// Byte order of the running processor: 1 big-endian, 2 little-endian (the
// value TamoCPUEndian holds). Also stores it in TamoCPUEndian.
int probeCPUEndian();

// The table entry with this (non-zero) code, or null.
const TAMODTYPE *typeByCode(int32_t code);

}  // namespace tamo::io
