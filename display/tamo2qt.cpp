// Display conversion: records to RGB32 pictures through Tamovidscale.
//
// Every picture is stretched by Tamovidscale itself, so what the workbench
// shows is exactly the library's stretch. Two shortcuts keep the work down
// without changing a single pixel: a grey picture stretches its one plane
// instead of three equal copies (same range, same values), and a widened
// picture repeats the last column's bytes instead of stretching repeated
// values (duplicates change neither the range nor the bytes).
#include "tamo2qt.h"

#include <QImage>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "tamo++.h"
#include "tamoops.h"

namespace {

struct Shape {
    int ndim = 0;
    int cols = 0;
    int rows = 1;
    int frames = 1;
    long long plane() const { return static_cast<long long>(cols) * rows; }
};

Shape shapeOf(const TAMOHDR *img) {
    Shape s;
    s.ndim = img->orvndim;
    s.cols = tamo::columnsOf(img);
    s.rows = tamo::rowsOf(img);
    s.frames = tamo::framesOf(img);
    return s;
}

// A record the conversion can read: a whole header of 1 to 3 dimensions with
// pixel data and at least one pixel.
bool usable(const TAMOHDR *img) {
    if (!tamo::hasValidMagic(img) || img->orvndim < 1 || img->orvndim > TAMO_MAXDIM || !img->orvptr)
        return false;
    const Shape s = shapeOf(img);
    return s.cols > 0 && s.rows > 0 && s.frames > 0;
}

int widenedWidth(int cols) {
    return cols % 4 == 0 ? cols : cols + (4 - cols % 4);
}

// A zero-filled "float" record of cols x rows, 3-D with `frames` frames when
// frames > 1; null after the library's report.
tamo::RecordPtr createFloat(int cols, int rows, int frames) {
    const int dims[4] = {frames > 1 ? 3 : 2, cols, rows, frames};
    return tamo::RecordPtr(Tamocreate("float", dims, 11, 0));
}

// A "float" record of `count` planes of img starting at plane `first` (2-D
// for a single plane). Null when memory runs out or img cannot be converted.
tamo::RecordPtr planesAsFloat(TAMOHDR *img, int first, int count) {
    const Shape s = shapeOf(img);
    tamo::RecordPtr converted;
    TAMOHDR *src = img;
    if (img->dtype != TAMO_32FLT) {
        converted.reset(Tamo2Qt::toFloatRecord(img));
        if (!converted) return nullptr;
        src = converted.get();
    }
    tamo::RecordPtr planes = createFloat(s.cols, s.rows, count);
    if (!planes) return nullptr;
    std::memcpy(planes->orvptr, tamo::pixels<float>(src) + first * s.plane(),
                sizeof(float) * s.plane() * count);
    return planes;
}

// A "u8bit" record of img's dimensions holding Tamovidscale's stretch of img
// with one range. A constant img leaves it zero (black). Null when memory
// runs out.
tamo::RecordPtr stretchToBytes(TAMOHDR *img) {
    tamo::CArray<int> dims(Tamosiz(img));
    if (!dims) return nullptr;
    tamo::RecordPtr bytes(Tamocreate("u8bit", dims.get(), 11, 0));
    if (!bytes) return nullptr;
    float lo = 0.0f, hi = 0.0f;
    Tamovidscale(img, bytes.get(), &lo, &hi, 0);
    return bytes;
}

// Writes cols x rows pixels from three 8-bit planes into image (32 bits per
// pixel) and repeats column cols - 1 across the image's remaining columns.
TAMO_TARGET_CLONES void packPlanes(const uint8_t *red, const uint8_t *green, const uint8_t *blue,
                                   int cols, int rows, QImage &image) {
    const int width = image.width();
    const int used = std::min(cols, width);
    const int height = std::min(rows, image.height());
    if (used <= 0) return;
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<uint32_t *>(image.scanLine(y));
        const long long offset = static_cast<long long>(y) * cols;
        const uint8_t *r = red + offset;
        const uint8_t *g = green + offset;
        const uint8_t *b = blue + offset;
        for (int x = 0; x < used; ++x)
            line[x] = 0xFF000000u | uint32_t(r[x]) << 16 | uint32_t(g[x]) << 8 | uint32_t(b[x]);
        std::fill(line + used, line + width, line[used - 1]);
    }
}

std::unique_ptr<QImage> newPicture(int width, int height) {
    std::unique_ptr<QImage> image(new QImage(width, height, QImage::Format_RGB32));
    if (image->isNull()) return nullptr;
    return image;
}

// Grey picture of a one-plane "float" record.
QImage *greyPicture(TAMOHDR *plane) {
    const Shape s = shapeOf(plane);
    std::unique_ptr<QImage> image = newPicture(widenedWidth(s.cols), s.rows);
    if (!image) return nullptr;
    tamo::RecordPtr bytes = stretchToBytes(plane);
    if (!bytes) return nullptr;
    const uint8_t *b = tamo::pixels<uint8_t>(bytes.get());
    packPlanes(b, b, b, s.cols, s.rows, *image);
    return image.release();
}

}  // namespace

QImage *Tamo2Qt::toQImage(TAMOHDR *record, int component, int frame) {
    if (!usable(record)) return nullptr;
    const Shape s = shapeOf(record);
    if (s.ndim == 3 && s.frames == 3) return Tamo3d2qt3d(record);

    if (s.ndim < 3 && record->dtype == TAMO_32CMP) {
        tamo::RecordPtr plane = createFloat(s.cols, s.rows, 1);
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
                break;  // no such component: the plane stays zero, a black picture
        }
        return greyPicture(plane.get());
    }

    if (s.ndim < 3 && record->dtype == TAMO_32FLT) return greyPicture(record);
    // Frames past either end show the nearest frame rather than nothing.
    const int f = s.ndim == 3 ? std::clamp(frame, 0, s.frames - 1) : 0;
    tamo::RecordPtr plane = planesAsFloat(record, f, 1);
    if (!plane) return nullptr;
    return greyPicture(plane.get());
}

QImage *Tamo2Qt::Tamo3d2qt3d(TAMOHDR *record) {
    if (!usable(record)) return nullptr;
    const Shape s = shapeOf(record);
    std::unique_ptr<QImage> image = newPicture(widenedWidth(s.cols), s.rows);
    if (!image) return nullptr;
    normimage(record, image.get());
    return image.release();
}

void Tamo2Qt::normimage(TAMOHDR *record, QImage *image) {
    if (!usable(record) || !image || image->isNull() || image->depth() != 32) return;
    const Shape s = shapeOf(record);
    // Three frames or more: frames 0, 1, 2 share one range. Fewer: frame 0
    // alone, in every channel.
    const int used = s.frames >= 3 ? 3 : 1;
    tamo::RecordPtr copy;
    TAMOHDR *src = record;
    if (record->dtype != TAMO_32FLT || s.frames != used) {
        copy = planesAsFloat(record, 0, used);
        if (!copy) return;
        src = copy.get();
    }
    tamo::RecordPtr bytes = stretchToBytes(src);
    if (!bytes) return;
    const uint8_t *b = tamo::pixels<uint8_t>(bytes.get());
    const long long plane = s.plane();
    if (used == 3)
        packPlanes(b, b + plane, b + 2 * plane, s.cols, s.rows, *image);
    else
        packPlanes(b, b, b, s.cols, s.rows, *image);
}

void Tamo2Qt::copyFrameInto(TAMOHDR *source, TAMOHDR *target, int frame) {
    if (!usable(source) || !usable(target) || target->dtype != TAMO_32FLT) return;
    const Shape s = shapeOf(source);
    const Shape t = shapeOf(target);
    if (t.ndim != 3 || frame < 0 || frame >= t.frames || s.cols != t.cols || s.rows != t.rows)
        return;
    tamo::RecordPtr converted;
    TAMOHDR *src = source;
    if (source->dtype != TAMO_32FLT) {
        converted.reset(toFloatRecord(source));
        if (!converted) return;
        src = converted.get();
    }
    std::memcpy(tamo::pixels<float>(target) + frame * t.plane(), tamo::pixels<float>(src),
                sizeof(float) * t.plane());
}

TAMOHDR *Tamo2Qt::toFloatRecord(TAMOHDR *record) {
    if (!usable(record)) return nullptr;
    tamo::CArray<int> dims(Tamosiz(record));
    if (!dims) return nullptr;
    tamo::RecordPtr out(Tamocreate("float", dims.get(), 11, 0));
    if (!out) return nullptr;
    if (Tamoany2any(record, out.get()) == 0) return out.release();

    // Tamoany2any leaves complex types alone; a picture shows their real
    // parts, as Tamovidscale does.
    bool copied = false;
    tamo::visitScalar(record->dtype, [&](auto tag, tamo::ElemLayout layout) {
        using T = typename decltype(tag)::type;
        if (!layout.complex || layout.channels != 1) return;
        const T *src = tamo::pixels<T>(record);
        float *dst = tamo::pixels<float>(out.get());
        const long long n = tamo::elementCount(record);
        for (long long i = 0; i < n; ++i) dst[i] = static_cast<float>(src[2 * i]);
        copied = true;
    });
    return copied ? out.release() : nullptr;
}
