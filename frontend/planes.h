// Planes of the one-value-per-pixel real records as floats, and the records
// the workbench's Crop, "2D 2 3D" and complex Sub make; the tamo tool makes
// the same records through these.
#pragma once

#include <cstdint>

#include "tamo++.h"

namespace frontend {

// Calls f(const T *pixels) with the record's element type; false for the
// types that hold more than one value per pixel (complex, interleaved,
// "struct").
template <class F>
bool visitPlanar(const TAMOHDR *img, F &&f) {
    const char *p = img->orvptr;
    switch (img->dtype) {
        case TAMO_8BIT:
            f(reinterpret_cast<const int8_t *>(p));
            return true;
        case TAMO_U8BIT:
            f(reinterpret_cast<const uint8_t *>(p));
            return true;
        case TAMO_16BIT:
            f(reinterpret_cast<const int16_t *>(p));
            return true;
        case TAMO_U16BIT:
            f(reinterpret_cast<const uint16_t *>(p));
            return true;
        case TAMO_32BIT:
            f(reinterpret_cast<const int32_t *>(p));
            return true;
        case TAMO_32FLT:
            f(reinterpret_cast<const float *>(p));
            return true;
        case TAMO_64FLT:
            f(reinterpret_cast<const double *>(p));
            return true;
    }
    return false;
}

// Frame `frame` of a planar real record as columns x rows floats into dst.
void planeAsFloats(const TAMOHDR *img, int frame, float *dst);

// A new "float" record of the w x h pixels from column c0, row r0 of img: of
// its first three frames (into three) when img is three-dimensional. The
// caller has checked that img is planar real and the rectangle lies inside
// it. Null when memory runs out.
tamo::RecordPtr cropToFloat(const TAMOHDR *img, int c0, int r0, int w, int h);

// The difference a - b of two "32cmp" records of the same dimensions, part
// by part (the library has no complex difference), as a new "32cmp" record.
// Null when the records are not both "32cmp" of one shape, or memory runs out.
tamo::RecordPtr complexDifference(const TAMOHDR *a, const TAMOHDR *b);

}  // namespace frontend
