#include "pictures.h"

#include <QImage>

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

#include "records.h"
#include "tamoops.h"

namespace frontend {

namespace {

// Sums of one 8-bit channel over a picture.
struct ChannelSums {
    uint64_t sum = 0, squares = 0;
    unsigned max = 0, min = 255;
    void add(unsigned v) {
        sum += v;
        squares += v * v;
        max = std::max(max, v);
        min = std::min(min, v);
    }
};

// Red, green and blue of every pixel into three planes (`step` scalars from
// one value to the next), with their sums when kSums is set.
template <bool kSums, class T>
void fillPlanes(const QImage &picture, T *out, int step, ChannelSums *sums) {
    const int width = picture.width(), height = picture.height();
    const std::ptrdiff_t plane = static_cast<std::ptrdiff_t>(width) * height * step;
    for (int y = 0; y < height; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        T *r = out + static_cast<std::ptrdiff_t>(y) * width * step;
        T *g = r + plane;
        T *b = g + plane;
        for (int x = 0; x < width; ++x) {
            const QRgb v = line[x];
            const unsigned cr = (v >> 16) & 0xff, cg = (v >> 8) & 0xff, cb = v & 0xff;
            r[x * step] = static_cast<T>(cr);
            g[x * step] = static_cast<T>(cg);
            b[x * step] = static_cast<T>(cb);
            if (kSums) {
                sums[0].add(cr);
                sums[1].add(cg);
                sums[2].add(cb);
            }
        }
    }
}

}  // namespace

tamo::RecordPtr stretchToBytes(TAMOHDR *img) {
    tamo::RecordPtr bytes = createLike(img, "u8bit");
    if (!bytes) return nullptr;
    float lo = 0.0f, hi = 0.0f;
    if (Tamovidscale(img, bytes.get(), &lo, &hi, 0) < 0) return nullptr;
    return bytes;
}

tamo::RecordPtr planesAsFloat(TAMOHDR *img, int first, int count) {
    tamo::RecordPtr converted;
    TAMOHDR *src = img;
    if (img->dtype != TAMO_32FLT) {
        converted = floatCopy(img);
        if (!converted) return nullptr;
        src = converted.get();
    }
    const int cols = tamo::columnsOf(img), rows = tamo::rowsOf(img);
    const int dims[4] = {count > 1 ? 3 : 2, cols, rows, count};
    tamo::RecordPtr planes(Tamocreate("float", dims, TAMO_CREATE_ZEROED, 0));
    if (!planes) return nullptr;
    const long long plane = static_cast<long long>(cols) * rows;
    std::memcpy(planes->orvptr, tamo::pixels<float>(src) + first * plane,
                sizeof(float) * plane * count);
    return planes;
}

tamo::RecordPtr recordFromPicture(const QImage &source, const TAMODTYPE &type, FrameStats *stats) {
    // One conversion to 32-bit pixels, then whole scan lines. Non-premultiplied
    // ARGB keeps the colour values that QImage::pixel reports.
    const QImage picture =
        source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
            ? source
            : source.convertToFormat(QImage::Format_ARGB32);
    const int w = picture.width(), h = picture.height();
    tamo::RecordPtr rec;
    tamo::visitScalar(static_cast<int32_t>(type.code), [&](auto tag, tamo::ElemLayout lay) {
        using T = typename decltype(tag)::type;
        const bool interleaved = lay.channels > 1;
        // Interleaved types hold their channels along the third dimension.
        int dims[4] = {3, w, h, interleaved ? lay.channels : 3};
        rec.reset(Tamocreate(type.name, dims, TAMO_CREATE_ZEROED, 0));
        if (!rec) return;
        adviseHugePages(rec.get());
        T *out = tamo::pixels<T>(rec.get());
        if (!interleaved) {
            const int step = lay.complex ? 2 : 1;
            ChannelSums sums[3];
            if (stats) {
                fillPlanes<true>(picture, out, step, sums);
                const long long count = static_cast<long long>(w) * h;
                for (int c = 0; c < 3; ++c)
                    stats[c] = byteStatistics(sums[c].max, sums[c].min, sums[c].sum,
                                              sums[c].squares, count);
            } else {
                fillPlanes<false>(picture, out, step, sums);
            }
            return;
        }
        for (int r = 0; r < h; ++r) {
            const QRgb *line = reinterpret_cast<const QRgb *>(picture.constScanLine(r));
            for (int c = 0; c < w; ++c) {
                const QRgb px = line[c];
                const int value[4] = {qRed(px), qGreen(px), qBlue(px), qAlpha(px)};
                T *at = out + (static_cast<std::size_t>(r) * w + c) * lay.channels;
                for (int k = 0; k < lay.channels; ++k) at[k] = static_cast<T>(value[k]);
            }
        }
        if (stats) {
            const std::vector<FrameStats> all = frameStatistics(rec.get(), 3);
            std::copy(all.begin(), all.end(), stats);
        }
    });
    return rec;
}

void adviseHugePages(TAMOHDR *img) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHugePage = std::uintptr_t(1) << 21;
    const auto data = reinterpret_cast<std::uintptr_t>(img->orvptr);
    const std::uintptr_t begin = (data + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end =
        (data + static_cast<std::uintptr_t>(Tamodimen(img, -2))) & ~(kHugePage - 1);
    if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)img;
#endif
}

tamo::RecordPtr shownBytes(TAMOHDR *record, int component, int frame) {
    if (!hasPixels(record)) return nullptr;
    const int ndim = record->orvndim;
    const int frames = tamo::framesOf(record);
    if (ndim == 3 && frames == 3) {
        if (record->dtype == TAMO_32FLT) return stretchToBytes(record);
        tamo::RecordPtr colour = planesAsFloat(record, 0, 3);
        return colour ? stretchToBytes(colour.get()) : nullptr;
    }
    if (ndim < 3 && record->dtype == TAMO_32CMP) {
        const int dims[3] = {2, tamo::columnsOf(record), tamo::rowsOf(record)};
        tamo::RecordPtr plane(Tamocreate("float", dims, TAMO_CREATE_ZEROED, 0));
        if (!plane) return nullptr;
        switch (component) {
            case 0:
                Tamoc2mag(record, plane.get());
                break;
            case 1:
                Tamoc2phase(record, plane.get());
                break;
            case 2:
                Tamoc2real(record, plane.get());
                break;
            case 3:
                Tamoc2imag(record, plane.get());
                break;
            default:
                break;  // no such component: the plane stays zero
        }
        return stretchToBytes(plane.get());
    }
    if (ndim < 3 && record->dtype == TAMO_32FLT) return stretchToBytes(record);
    // Frames past either end show the nearest frame rather than nothing.
    const int f = ndim == 3 ? std::clamp(frame, 0, frames - 1) : 0;
    tamo::RecordPtr plane = planesAsFloat(record, f, 1);
    return plane ? stretchToBytes(plane.get()) : nullptr;
}

}  // namespace frontend
