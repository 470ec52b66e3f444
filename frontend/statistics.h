// Per-frame statistics of a record, as the workbench's console summary and
// `tamo info` print them.
#pragma once

#include <climits>
#include <vector>

#include "tamo++.h"

namespace frontend {

// Largest and smallest value, mean and standard deviation (of the whole
// frame, divided by the value count) of one frame.
struct FrameStats {
    double max = 0, min = 0, mean = 0, sd = 0;
};

// Statistics of each frame of `img`: the frames of a 3-D record, the
// channels of an interleaved type, the one plane of anything else; complex
// types by their real parts. At most `maxFrames` frames, the first ones.
// Sums are kept in double precision, so that a constant frame has deviation
// 0 however large it is. NaN values take no part in the largest and smallest
// value. An empty frame gives zeros. Empty for "struct" records.
std::vector<FrameStats> frameStatistics(const TAMOHDR *img, int maxFrames = INT_MAX);

// Statistics of `count` 8-bit values from their exact sums: the largest and
// smallest value, their sum and the sum of their squares.
FrameStats byteStatistics(unsigned max, unsigned min, uint64_t sum, uint64_t squares,
                          long long count);

}  // namespace frontend
