// Linear min-to-max stretch of any numeric image into an 8-bit picture.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "imagelib_internal.h"
#include "parallel.h"
#include "tamoops.h"

namespace {

// Prints the reason on stdout and ends the process; returns only when the
// host's exit handler does, so that the caller can bail out.
int fatal(const char *line, int status) {
    std::printf("%s\n", line);
    std::fflush(stdout);
    tamo::endProcess(status);
    return TAMO_VIDSCALE_EARGS;
}

struct Range {
    float min;
    float max;
    // No value compared (empty input or all NaN) counts as empty as well.
    bool empty() const { return !(max > min); }
};

// The extremes start at -/+1,000,000, so data lying wholly above 1e6 keep the
// minimum at 1e6 (and wholly below -1e6 the maximum at -1e6): stored pictures
// and scripts rely on this mapping. NaN never takes part: both comparisons are
// false for it.
//
// Large images are scanned in consecutive ranges on several threads. The
// ranges' extremes, folded in range order by the same strict comparisons,
// give what one scan gives: the first value reaching the extreme wins, which
// matters only for -0 and +0.
template <class T>
Range findRangeOf(const T *data, long long begin, long long end, int stride) {
    float lo = 1000000.0f;
    float hi = -1000000.0f;
    for (long long i = begin; i < end; ++i) {
        const float v = static_cast<float>(data[i * stride]);
        hi = v > hi ? v : hi;
        lo = v < lo ? v : lo;
    }
    return Range{lo, hi};
}

template <class T>
Range findRange(const T *data, long long count, int stride) {
    const int threads = tamo::threadsFor(count, count / 4096);
    if (threads <= 1) return findRangeOf(data, 0, count, stride);
    Range parts[64];
    const int n = std::min(threads, 64);
    tamo::splitRange(0, n, n, [&](long long p0, long long p1, int) {
        for (long long p = p0; p < p1; ++p)
            parts[p] = findRangeOf(data, count * p / n, count * (p + 1) / n, stride);
    });
    Range all{1000000.0f, -1000000.0f};
    for (int p = 0; p < n; ++p) {
        all.max = parts[p].max > all.max ? parts[p].max : all.max;
        all.min = parts[p].min < all.min ? parts[p].min : all.min;
    }
    return all;
}

template <class T>
void stretch(const T *data, long long count, int stride, Range range, uint8_t *out) {
    const float scale = 255.0f / (range.max - range.min);
    tamo::splitRange(
        0, count, tamo::threadsFor(count, count / 4096), [&](long long lo, long long hi, int) {
            for (long long i = lo; i < hi; ++i) {
                const float x = (static_cast<float>(data[i * stride]) - range.min) * scale;
                // x lies in [0, 256) for every comparable value; NaN gives 0.
                out[i] = x == x ? static_cast<uint8_t>(static_cast<int>(x) & 0xFF) : 0;
            }
        });
}

const char kSameBrightness[] = "Cannot vidscale, all pixels are the same brightness";

bool sameShape(const TAMOHDR *a, const TAMOHDR *b) {
    if (a->orvndim != b->orvndim) return false;
    for (int i = 0; i < a->orvndim && i < TAMO_MAXDIM; ++i)
        if (a->orvdim[i].dlen != b->orvdim[i].dlen) return false;
    return true;
}

}  // namespace

extern "C" int Tamovidscale(TAMOHDR *in, TAMOHDR *out, float *min_out, float *max_out,
                            int per_frame) {
    if (!out) return fatal("Tamovidscale: output image must already exist", -1);
    if (out->dtype != TAMO_U8BIT)
        return fatal("Tamovidscale: output image must be unsigned byte", -1);
    if (!in) return fatal("Tamovidscale: input image is null", -1);
    if (per_frame && in->orvndim != 3)
        return fatal("Tamovidscale: 3d switch is set, but image is not 3d. Must exit", -1);
    // Equal lengths, not only equal dimension counts: the stretch writes one
    // output byte per input element, so a smaller output would be overrun.
    if (!sameShape(in, out))
        return fatal("Tamovidscale: input and output images have different dimensions.", -1);

    bool handled = false;
    int result = 0;
    tamo::visitScalar(in->dtype, [&](auto tag, tamo::ElemLayout layout) {
        using T = typename decltype(tag)::type;
        // Only the single-valued types and the two complex ones are images
        // this function knows; the interleaved kinds are not.
        if (layout.channels != 1) return;
        handled = true;
        const int stride = layout.complex ? 2 : 1;
        const T *src = tamo::pixels<T>(in);
        uint8_t *dst = tamo::pixels<uint8_t>(out);

        if (!per_frame) {
            const long long count = tamo::elementCount(in);
            const Range range = findRange(src, count, stride);
            if (range.empty()) {
                std::printf("%s\n", kSameBrightness);
                return;
            }
            stretch(src, count, stride, range, dst);
            if (min_out) *min_out = range.min;
            if (max_out) *max_out = range.max;
            return;
        }

        const long long plane = static_cast<long long>(in->orvdim[0].dlen) * in->orvdim[1].dlen;
        const int frames = in->orvdim[2].dlen;
        const bool isFloat = in->dtype == TAMO_32FLT;
        if (isFloat) {
            std::printf("Tamovidscale: image is 3D float, frame-independent scaling\n");
            std::fflush(stdout);
        }
        Range range{0.0f, 0.0f};
        for (int k = 0; k < frames; ++k) {
            if (isFloat) std::printf("Tamovidscale frame %d\n", k);
            const T *frameIn = src + static_cast<long long>(k) * plane * stride;
            range = findRange(frameIn, plane, stride);
            if (range.empty()) {
                std::printf("Cannot vidscale frame %d, all pixels are the same brightness\n", k);
                continue;
            }
            stretch(frameIn, plane, stride, range, dst + static_cast<long long>(k) * plane);
        }
        if (frames > 0) {
            if (min_out) *min_out = range.min;
            if (max_out) *max_out = range.max;
        }
    });
    if (!handled) {
        result = fatal("Data type not recognized.", 0);
    }
    std::fflush(stdout);
    return result;
}
