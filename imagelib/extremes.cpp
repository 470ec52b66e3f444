// The running extremes of an array of floats, shared by the operators and
// the display code that stretch or bin an image by its range.
#include "tamo++.h"

namespace tamo {

TAMO_TARGET_CLONES_AVX512 void valueRange(const float *__restrict v, long long n, float &top,
                                          float &bottom) {
    constexpr int kLanes = 32;
    float hi[kLanes], lo[kLanes];
    for (int j = 0; j < kLanes; ++j) {
        hi[j] = top;
        lo[j] = bottom;
    }
    long long i = 0;
    for (; i + kLanes <= n; i += kLanes)
        for (int j = 0; j < kLanes; ++j) {
            const float x = v[i + j];
            hi[j] = x > hi[j] ? x : hi[j];
            lo[j] = x < lo[j] ? x : lo[j];
        }
    for (; i < n; ++i) {
        hi[0] = v[i] > hi[0] ? v[i] : hi[0];
        lo[0] = v[i] < lo[0] ? v[i] : lo[0];
    }
    for (int j = 0; j < kLanes; ++j) {
        top = hi[j] > top ? hi[j] : top;
        bottom = lo[j] < bottom ? lo[j] : bottom;
    }
}

}  // namespace tamo
