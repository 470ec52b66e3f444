// Display conversion: records to RGB32 pictures.
//
// The pictures come from the shared front-end module (frontend::
// shownPicture), so that what the workbench shows is what `tamo convert
// --stretch` writes: exactly the library's stretch. Float planes are
// stretched and packed straight into the picture's scan lines; a grey
// picture stretches its one plane instead of three equal copies (same range,
// same values), and a widened picture repeats the last column's pixel
// instead of stretching repeated values (duplicates change neither the range
// nor the bytes).
#include "tamo2qt.h"

#include <QImage>

#include <cstring>
#include <memory>

#include "pictures.h"
#include "records.h"
#include "tamo++.h"

namespace {

int widenedWidth(int cols) {
    return cols % 4 == 0 ? cols : cols + (4 - cols % 4);
}

QImage *onHeap(QImage image) {
    return image.isNull() ? nullptr : new QImage(std::move(image));
}

}  // namespace

QImage *Tamo2Qt::toQImage(TAMOHDR *record, int component, int frame) {
    return onHeap(frontend::shownPicture(record, component, frame));
}

QImage *Tamo2Qt::Tamo3d2qt3d(TAMOHDR *record) {
    if (!frontend::hasPixels(record)) return nullptr;
    std::unique_ptr<QImage> image(new QImage(widenedWidth(tamo::columnsOf(record)),
                                             tamo::rowsOf(record), QImage::Format_RGB32));
    if (image->isNull()) return nullptr;
    normimage(record, image.get());
    return image.release();
}

void Tamo2Qt::normimage(TAMOHDR *record, QImage *image) {
    if (!frontend::hasPixels(record) || !image || image->isNull() || image->depth() != 32) return;
    // Three frames or more: frames 0, 1, 2 share one range. Fewer: frame 0
    // alone, in every channel.
    const int used = tamo::framesOf(record) >= 3 ? 3 : 1;
    tamo::RecordPtr copy;
    TAMOHDR *src = record;
    if (record->dtype != TAMO_32FLT) {
        copy = frontend::planesAsFloat(record, 0, used);
        if (!copy) return;
        src = copy.get();
    }
    frontend::drawShownPlanes(src, used, *image);
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
