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

// Tamovidscale's range: the extremes start at -/+1,000,000 and take a value
// only when it lies strictly beyond them, so NaN takes no part.
struct StretchRange {
    float min, max;
    bool empty() const { return !(max > min); }
};

StretchRange stretchRangeOf(const float *v, long long n) {
    StretchRange range{1000000.0f, -1000000.0f};
    tamo::valueRange(v, n, range.max, range.min);
    return range;
}

// The byte Tamovidscale stores for v: (v - min) * scale truncated, its low 8
// bits; NaN gives 0. x lies in [0, 256) for every other value.
inline uint32_t stretchedByte(float v, float min, float scale) {
    const float x = (v - min) * scale;
    return x == x ? static_cast<uint32_t>(static_cast<int>(x)) & 0xFFu : 0u;
}

TAMO_TARGET_CLONES_AVX512 void stretchColourRow(const float *__restrict red,
                                                const float *__restrict green,
                                                const float *__restrict blue, int n, float min,
                                                float scale, uint32_t *__restrict line) {
    for (int x = 0; x < n; ++x)
        line[x] = 0xFF000000u | stretchedByte(red[x], min, scale) << 16 |
                  stretchedByte(green[x], min, scale) << 8 | stretchedByte(blue[x], min, scale);
}

TAMO_TARGET_CLONES_AVX512 void stretchGreyRow(const float *__restrict v, int n, float min,
                                              float scale, uint32_t *__restrict line) {
    for (int x = 0; x < n; ++x) line[x] = 0xFF000000u | stretchedByte(v[x], min, scale) * 0x010101u;
}

// Planes first .. first + count - 1 (count 1 or 3) of the "float" record src
// into image: stretched with one range, packed, the columns past the
// record's repeating its last column.
void drawPlanes(TAMOHDR *src, int first, int count, QImage &image) {
    const int cols = tamo::columnsOf(src), rows = tamo::rowsOf(src);
    const int width = image.width();
    const int used = std::min(cols, width);
    const int height = std::min(rows, image.height());
    if (used <= 0 || height <= 0) return;
    const long long plane = static_cast<long long>(cols) * rows;
    const float *base = tamo::pixels<float>(src) + first * plane;
    const StretchRange range = stretchRangeOf(base, plane * count);
    if (range.empty()) {
        // A constant record: the library's stretch reports it and leaves its
        // bytes zero, so the picture is black.
        const bool whole = first == 0 && (count == 3 ? tamo::framesOf(src) == 3 : src->orvndim < 3);
        tamo::RecordPtr planes;
        if (!whole) planes = planesAsFloat(src, first, count);
        if (TAMOHDR *reported = whole ? src : planes.get()) stretchToBytes(reported);
        for (int y = 0; y < height; ++y) {
            auto *line = reinterpret_cast<uint32_t *>(image.scanLine(y));
            std::fill(line, line + width, 0xFF000000u);
        }
        return;
    }
    const float scale = 255.0f / (range.max - range.min);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<uint32_t *>(image.scanLine(y));
        const float *red = base + static_cast<long long>(y) * cols;
        if (count == 3)
            stretchColourRow(red, red + plane, red + 2 * plane, used, range.min, scale, line);
        else
            stretchGreyRow(red, used, range.min, scale, line);
        std::fill(line + used, line + width, line[used - 1]);
    }
}

// Component `component` (0 magnitude, 1 phase, 2 real, 3 imaginary part) of
// the 2-D "32cmp" record as a 2-D "float" record; zeros for any other value.
tamo::RecordPtr componentPlane(TAMOHDR *record, int component) {
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
    return plane;
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
        tamo::RecordPtr plane = componentPlane(record, component);
        return plane ? stretchToBytes(plane.get()) : nullptr;
    }
    if (ndim < 3 && record->dtype == TAMO_32FLT) return stretchToBytes(record);
    // Frames past either end show the nearest frame rather than nothing.
    const int f = ndim == 3 ? std::clamp(frame, 0, frames - 1) : 0;
    tamo::RecordPtr plane = planesAsFloat(record, f, 1);
    return plane ? stretchToBytes(plane.get()) : nullptr;
}

QImage shownPicture(TAMOHDR *record, int component, int frame) {
    if (!hasPixels(record)) return QImage();
    const int ndim = record->orvndim;
    const int frames = tamo::framesOf(record);
    // The float planes to show: the record's own where it holds floats, else
    // a converted copy, as shownBytes takes them.
    tamo::RecordPtr scratch;
    TAMOHDR *src = record;
    int first = 0, count = 1;
    if (ndim == 3 && frames == 3) {
        count = 3;
        if (record->dtype != TAMO_32FLT) scratch = planesAsFloat(record, 0, 3);
    } else if (ndim < 3 && record->dtype == TAMO_32CMP) {
        scratch = componentPlane(record, component);
    } else if (ndim == 3 || record->dtype != TAMO_32FLT) {
        const int f = ndim == 3 ? std::clamp(frame, 0, frames - 1) : 0;
        if (record->dtype == TAMO_32FLT)
            first = f;
        else
            scratch = planesAsFloat(record, f, 1);
    }
    if (scratch)
        src = scratch.get();
    else if (src->dtype != TAMO_32FLT)
        return QImage();

    const int cols = tamo::columnsOf(record);
    QImage image(cols % 4 == 0 ? cols : cols + (4 - cols % 4), tamo::rowsOf(record),
                 QImage::Format_RGB32);
    if (image.isNull()) return QImage();
    drawPlanes(src, first, count, image);
    return image;
}

void drawShownPlanes(TAMOHDR *planes, int count, QImage &image) {
    if (!hasPixels(planes) || planes->dtype != TAMO_32FLT || image.isNull() || image.depth() != 32)
        return;
    if ((count != 1 && count != 3) || tamo::framesOf(planes) < count) return;
    drawPlanes(planes, 0, count, image);
}

}  // namespace frontend
