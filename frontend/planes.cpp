#include "planes.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace frontend {

void planeAsFloats(const TAMOHDR *img, int frame, float *dst) {
    const long long plane = static_cast<long long>(tamo::columnsOf(img)) * tamo::rowsOf(img);
    const long long first = plane * frame;
    if (img->dtype == TAMO_32FLT) {
        std::memcpy(dst, reinterpret_cast<const float *>(img->orvptr) + first,
                    sizeof(float) * plane);
        return;
    }
    visitPlanar(img, [&](const auto *src) {
        for (long long k = 0; k < plane; ++k) dst[k] = static_cast<float>(src[first + k]);
    });
}

tamo::RecordPtr cropToFloat(const TAMOHDR *img, int c0, int r0, int w, int h) {
    const bool colour = img->orvndim == 3;
    const int dims[4] = {colour ? 3 : 2, w, h, 3};
    tamo::RecordPtr result(Tamocreate("float", dims, TAMO_CREATE_ZEROED, 0));
    if (!result) return nullptr;
    const int frames = colour ? std::min(3, tamo::framesOf(img)) : 1;
    const int cols = tamo::columnsOf(img);
    const long long plane = static_cast<long long>(cols) * tamo::rowsOf(img);
    float *dst = reinterpret_cast<float *>(result->orvptr);
    visitPlanar(img, [&](const auto *src) {
        for (int f = 0; f < frames; ++f)
            for (int r = 0; r < h; ++r) {
                const auto *row = src + f * plane + static_cast<long long>(r0 + r) * cols + c0;
                float *to = dst + (static_cast<long long>(f) * h + r) * w;
                for (int c = 0; c < w; ++c) to[c] = static_cast<float>(row[c]);
            }
    });
    return result;
}

}  // namespace frontend
