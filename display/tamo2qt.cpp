// Display conversion: records to RGB32 pictures.
//
// The 8-bit values come from the shared front-end module (frontend::
// shownBytes), so that what the workbench shows is what `tamo convert
// --stretch` writes: exactly the library's stretch. Two shortcuts keep the
// work down without changing a single pixel: a grey picture stretches its
// one plane instead of three equal copies (same range, same values), and a
// widened picture repeats the last column's bytes instead of stretching
// repeated values (duplicates change neither the range nor the bytes).
#include "tamo2qt.h"

#include <QImage>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "pictures.h"
#include "records.h"
#include "tamo++.h"

namespace {

int widenedWidth(int cols) {
    return cols % 4 == 0 ? cols : cols + (4 - cols % 4);
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

// The picture of the 8-bit values `bytes` (three frames in colour, one plane
// in grey), widened.
QImage *pictureOf(const tamo::RecordPtr &bytes) {
    if (!bytes) return nullptr;
    const int cols = tamo::columnsOf(bytes.get()), rows = tamo::rowsOf(bytes.get());
    std::unique_ptr<QImage> image = newPicture(widenedWidth(cols), rows);
    if (!image) return nullptr;
    const uint8_t *b = tamo::pixels<uint8_t>(bytes.get());
    const long long plane = static_cast<long long>(cols) * rows;
    if (bytes->orvndim == 3)
        packPlanes(b, b + plane, b + 2 * plane, cols, rows, *image);
    else
        packPlanes(b, b, b, cols, rows, *image);
    return image.release();
}

}  // namespace

QImage *Tamo2Qt::toQImage(TAMOHDR *record, int component, int frame) {
    return pictureOf(frontend::shownBytes(record, component, frame));
}

QImage *Tamo2Qt::Tamo3d2qt3d(TAMOHDR *record) {
    if (!frontend::hasPixels(record)) return nullptr;
    std::unique_ptr<QImage> image =
        newPicture(widenedWidth(tamo::columnsOf(record)), tamo::rowsOf(record));
    if (!image) return nullptr;
    normimage(record, image.get());
    return image.release();
}

void Tamo2Qt::normimage(TAMOHDR *record, QImage *image) {
    if (!frontend::hasPixels(record) || !image || image->isNull() || image->depth() != 32) return;
    const int cols = tamo::columnsOf(record), rows = tamo::rowsOf(record);
    // Three frames or more: frames 0, 1, 2 share one range. Fewer: frame 0
    // alone, in every channel.
    const int used = tamo::framesOf(record) >= 3 ? 3 : 1;
    tamo::RecordPtr copy;
    TAMOHDR *src = record;
    if (record->dtype != TAMO_32FLT || tamo::framesOf(record) != used) {
        copy = frontend::planesAsFloat(record, 0, used);
        if (!copy) return;
        src = copy.get();
    }
    tamo::RecordPtr bytes = frontend::stretchToBytes(src);
    if (!bytes) return;
    const uint8_t *b = tamo::pixels<uint8_t>(bytes.get());
    const long long plane = static_cast<long long>(cols) * rows;
    if (used == 3)
        packPlanes(b, b + plane, b + 2 * plane, cols, rows, *image);
    else
        packPlanes(b, b, b, cols, rows, *image);
}

void Tamo2Qt::copyFrameInto(TAMOHDR *source, TAMOHDR *target, int frame) {
    if (!frontend::hasPixels(source) || !frontend::hasPixels(target) || target->dtype != TAMO_32FLT)
        return;
    const int cols = tamo::columnsOf(target), rows = tamo::rowsOf(target);
    if (target->orvndim != 3 || frame < 0 || frame >= tamo::framesOf(target) ||
        tamo::columnsOf(source) != cols || tamo::rowsOf(source) != rows)
        return;
    tamo::RecordPtr converted;
    TAMOHDR *src = source;
    if (source->dtype != TAMO_32FLT) {
        converted = frontend::floatCopy(source);
        if (!converted) return;
        src = converted.get();
    }
    const long long plane = static_cast<long long>(cols) * rows;
    std::memcpy(tamo::pixels<float>(target) + frame * plane, tamo::pixels<float>(src),
                sizeof(float) * plane);
}

TAMOHDR *Tamo2Qt::toFloatRecord(TAMOHDR *record) {
    return frontend::floatCopy(record).release();
}
