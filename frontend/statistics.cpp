#include "statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace frontend {

namespace {

// Statistics of K frames of n values each, in two passes; value i of frame k
// is frames[k][i * stride]. The frames are walked side by side so that their
// independent sums overlap in the processor.
template <int K, int kStride, class T>
void statsOf(const T *const *frames, long long n, int stride, FrameStats *out) {
    const long long step = kStride ? kStride : stride;
    double mx[K], mn[K], sum[K], mean[K], dev[K];
    for (int k = 0; k < K; ++k) {
        mx[k] = -std::numeric_limits<double>::infinity();
        mn[k] = std::numeric_limits<double>::infinity();
        sum[k] = 0.0;
        dev[k] = 0.0;
    }
    for (long long i = 0; i < n; ++i) {
        for (int k = 0; k < K; ++k) {
            const double v = static_cast<double>(frames[k][i * step]);
            if (v > mx[k]) mx[k] = v;
            if (v < mn[k]) mn[k] = v;
            sum[k] += v;
        }
    }
    for (int k = 0; k < K; ++k) mean[k] = sum[k] / n;
    for (long long i = 0; i < n; ++i) {
        for (int k = 0; k < K; ++k) {
            const double d = static_cast<double>(frames[k][i * step]) - mean[k];
            dev[k] += d * d;
        }
    }
    for (int k = 0; k < K; ++k) out[k] = {mx[k], mn[k], mean[k], std::sqrt(dev[k] / n)};
}

template <int kStride, class T>
void statsOfGroup(const T *const *frames, int count, long long n, int stride, FrameStats *out) {
    switch (count) {
        case 1:
            statsOf<1, kStride>(frames, n, stride, out);
            break;
        case 2:
            statsOf<2, kStride>(frames, n, stride, out);
            break;
        default:
            statsOf<3, kStride>(frames, n, stride, out);
            break;
    }
}

}  // namespace

std::vector<FrameStats> frameStatistics(const TAMOHDR *img, int maxFrames) {
    std::vector<FrameStats> stats;
    tamo::visitScalar(img->dtype, [&](auto tag, tamo::ElemLayout lay) {
        using T = typename decltype(tag)::type;
        const T *px = tamo::pixels<T>(img);
        const bool interleaved = lay.channels > 1;
        const int frames = interleaved ? lay.channels : tamo::framesOf(img);
        if (frames <= 0) return;
        const long long perFrame = tamo::elementCount(img) / frames;
        const int used = std::min(frames, maxFrames);
        stats.resize(static_cast<std::size_t>(std::max(used, 0)));
        if (perFrame <= 0) return;
        // Scalars from one value of a frame to the next, and from one frame
        // to the next.
        const int stride = interleaved ? lay.channels : (lay.complex ? 2 : 1);
        const long long frameStep = interleaved ? 1 : perFrame * stride;
        for (int f = 0; f < used; f += 3) {
            const int count = std::min(3, used - f);
            const T *first[3];
            for (int k = 0; k < count; ++k) first[k] = px + (f + k) * frameStep;
            if (stride == 1)
                statsOfGroup<1>(first, count, perFrame, stride, &stats[f]);
            else
                statsOfGroup<0>(first, count, perFrame, stride, &stats[f]);
        }
    });
    return stats;
}

FrameStats byteStatistics(unsigned max, unsigned min, uint64_t sum, uint64_t squares,
                          long long count) {
    if (count <= 0) return {};
    const unsigned __int128 spread =
        static_cast<unsigned __int128>(squares) * static_cast<uint64_t>(count) -
        static_cast<unsigned __int128>(sum) * sum;
    const double variance = static_cast<double>(spread) / (static_cast<double>(count) * count);
    return {static_cast<double>(max), static_cast<double>(min), static_cast<double>(sum) / count,
            std::sqrt(variance)};
}

}  // namespace frontend
