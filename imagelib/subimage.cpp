// Windows, blocks and slices cut out of a record into new records.
#include <cstring>
#include <utility>

#include "imagelib_internal.h"

namespace {

// Lengths of 1 are dropped from a block's dimensions, order kept; a block of
// a single element keeps one dimension of length 1.
int blockDims(int *dims, const int *lengths, int count) {
    int n = 0;
    for (int i = 0; i < count; ++i)
        if (lengths[i] != 1) dims[1 + n++] = lengths[i];
    if (n == 0) dims[1 + n++] = 1;
    dims[0] = n;
    return n;
}

}  // namespace

extern "C" {

TAMOHDR *Tamoexwin(TAMOHDR *img, int r1, int c1, int r2, int c2) {
    tamo::DepthGuard depth;
    tamo::CArray<int> list(Tamosiz(img));
    if (!list) return nullptr;
    const int *len = list.get();
    if (len[0] != 2) {
        Tamoerr = TAMO_EDIMS;
        Tamoext(TAMOSLV, "Tamoexwin: Image must be 2-dimensional.");
        return nullptr;
    }
    if (r1 > r2) std::swap(r1, r2);
    if (c1 > c2) std::swap(c1, c2);
    const int cols = len[1];
    const int rows = len[2];
    if (r1 < 0 || c1 < 0 || c2 >= cols || r2 >= rows) {
        Tamoerr = TAMO_EBOUNDS;
        return nullptr;
    }
    if (!img->orvptr) {
        Tamoerr = TAMO_EHEADER;
        Tamoext(TAMOSLV, "Tamoexwin: No data associated with header! (field 'orvptr' = 0)");
        return nullptr;
    }
    const int w = c2 - c1 + 1;
    const int h = r2 - r1 + 1;
    const int lengths[2] = {w, h};
    int dims[3];
    blockDims(dims, lengths, 2);
    TAMOHDR *out = tamo::createLike(img, dims, "Tamoexwin");
    if (!out) {
        Tamoext(TAMOSLV, "Tamoexwin: can't make new image!\n");
        return nullptr;
    }
    const size_t bpd = static_cast<size_t>(img->orvbpd);
    const size_t run = static_cast<size_t>(w) * bpd;
    char *to = out->orvptr;
    for (int r = r1; r <= r2; ++r, to += run)
        std::memcpy(to, img->orvptr + (static_cast<size_t>(r) * cols + c1) * bpd, run);
    return out;
}

TAMOHDR *Tamoexwin3d(TAMOHDR *img, int f1, int r1, int c1, int f2, int r2, int c2) {
    tamo::DepthGuard depth;
    tamo::CArray<int> list(Tamosiz(img));
    if (!list) return nullptr;
    const int *len = list.get();
    if (len[0] != 3) {
        Tamoerr = TAMO_EDIMS;
        Tamodie("Tamoexwin: Image must be 3-dimensional.");
        return nullptr;
    }
    if (f1 > f2) std::swap(f1, f2);
    if (r1 > r2) std::swap(r1, r2);
    if (c1 > c2) std::swap(c1, c2);
    const int cols = len[1];
    const int rows = len[2];
    const int frames = len[3];
    if (f1 < 0 || r1 < 0 || c1 < 0 || c2 >= cols || r2 >= rows || f2 >= frames) {
        Tamoerr = TAMO_EBOUNDS;
        return nullptr;
    }
    if (!img->orvptr) {
        Tamoerr = TAMO_EHEADER;
        Tamodie("Tamoexwin: No data associated with header! (field 'orvptr' = 0)");
        return nullptr;
    }
    const int lengths[3] = {c2 - c1 + 1, r2 - r1 + 1, f2 - f1 + 1};
    int dims[4];
    blockDims(dims, lengths, 3);
    TAMOHDR *out = tamo::createLike(img, dims, "Tamoexwin3d");
    if (!out) {
        Tamodie("Tamoexwin: can't make new image!\n");
        return nullptr;
    }
    const size_t bpd = static_cast<size_t>(img->orvbpd);
    const size_t run = static_cast<size_t>(lengths[0]) * bpd;
    char *to = out->orvptr;
    for (int f = f1; f <= f2; ++f)
        for (int r = r1; r <= r2; ++r, to += run)
            std::memcpy(to, img->orvptr + ((static_cast<size_t>(f) * rows + r) * cols + c1) * bpd,
                        run);
    return out;
}

TAMOHDR *Tamoslice(TAMOHDR *img, const char *name, int index) {
    tamo::DepthGuard depth;
    tamo::CArray<int> list(Tamosiz(img));
    if (!list) return nullptr;
    enum { Column, Row, Frame, Unknown } which = Unknown;
    if (name) {
        if (!std::strcmp(name, "c") || !std::strcmp(name, "col") || !std::strcmp(name, "column"))
            which = Column;
        else if (!std::strcmp(name, "r") || !std::strcmp(name, "row"))
            which = Row;
        else if (!std::strcmp(name, "f") || !std::strcmp(name, "frame"))
            which = Frame;
    }
    if (which == Unknown) {
        Tamoerr = TAMO_EDIMS;
        Tamodie("Orvslice: Unknown name of dimension.");
        return nullptr;
    }
    const int *len = list.get();
    switch (len[0]) {
        case 1:
            Tamowarn("Orvslice: Cannot slice one-dimensional image.");
            return img;
        case 2: {
            const int cols = len[1];
            const int rows = len[2];
            if (which == Frame) {
                Tamowarn("Orvslice: 2-D image. Only one frame. Cannot frame-slice");
                return img;
            }
            if (which == Column) return Tamoexwin(img, 0, index, rows - 1, index);
            return Tamoexwin(img, index, 0, index, cols - 1);
        }
        case 3: {
            const int cols = len[1];
            const int rows = len[2];
            const int frames = len[3];
            if (which == Frame) return Tamoexwin3d(img, index, 0, 0, index, rows - 1, cols - 1);
            if (which == Row) return Tamoexwin3d(img, 0, index, 0, frames - 1, index, cols - 1);
            return Tamoexwin3d(img, 0, 0, index, frames - 1, rows - 1, index);
        }
    }
    Tamoerr = TAMO_EDIMS;
    Tamodie("Orvslice: Cannot handle images of dimension > 3.");
    return nullptr;
}

}  // extern "C"
