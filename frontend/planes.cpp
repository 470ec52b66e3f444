#include "planes.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "records.h"

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

tamo::RecordPtr complexDifference(const TAMOHDR *a, const TAMOHDR *b) {
    bool same = a->dtype == TAMO_32CMP && b->dtype == TAMO_32CMP && a->orvndim == b->orvndim;
    for (int k = 0; same && k < a->orvndim; ++k) same = a->orvdim[k].dlen == b->orvdim[k].dlen;
    if (!same) return nullptr;
    tamo::RecordPtr result = createLike(const_cast<TAMOHDR *>(a), "32cmp");
    if (!result) return nullptr;
    const float *x = reinterpret_cast<const float *>(a->orvptr);
    const float *y = reinterpret_cast<const float *>(b->orvptr);
    float *z = reinterpret_cast<float *>(result->orvptr);
    const long long n = 2 * tamo::elementCount(a);
    for (long long k = 0; k < n; ++k) z[k] = x[k] - y[k];
    return result;
}

}  // namespace frontend
