// Display conversion: turns image records into pictures (QImage in format
// RGB32, each pixel 0xFF000000 | red << 16 | green << 8 | blue) for image
// windows and raster files.
#pragma once

#include "tamolib.h"

class QImage;

class Tamo2Qt {
public:
    Tamo2Qt() = default;

    // Picture of `record`; the caller owns it. A 3-D record of exactly three
    // frames is shown in colour (frames red, green, blue); everything else as
    // a grey picture of one plane:
    //   - a 3-D record: frame `frame` (held to the record's frames);
    //   - a 2-D "32cmp" record: `component` 0 magnitude, 1 phase, 2 real part,
    //     3 imaginary part (any other value gives a black picture);
    //   - any other record: its first plane.
    // Records of a type other than "32flt" are converted to float first
    // (complex ones outside the component path by their real parts).
    // Brightness is stretched with Tamovidscale: the smallest value becomes
    // black, the largest full intensity, one range for all three channels. A
    // width that is not a multiple of 4 is widened to the next one, the extra
    // columns repeating the last column.
    // Returns null for a null record, a record without pixels ("struct"), an
    // empty one, or when memory runs out.
    QImage *toQImage(TAMOHDR *record, int component, int frame);

    // Colour picture of a 3-D record with three frames (fewer frames: frame
    // 0 in every channel), widened as above. Null as for toQImage.
    QImage *Tamo3d2qt3d(TAMOHDR *record);

    // Stretches the three frames of `record` to 8 bits with one range and
    // writes them into `image` (format RGB32) as red, green and blue. Rows and
    // columns beyond the record's are left alone, except that columns beyond
    // the record's repeat its last column. Does nothing when either is null.
    void normimage(TAMOHDR *record, QImage *image);

    // Copies the 2-D "float" record `source` into frame `frame` of the 3-D
    // "float" record `target` of the same columns and rows: target element
    // frame * (columns * rows) + i receives source element i. A source of
    // another type is converted to float first. Does nothing when the shapes
    // or types do not fit or `frame` is outside the target's frames.
    void copyFrameInto(TAMOHDR *source, TAMOHDR *target, int frame);

    // A new "float" record with the dimensions and values of `record` (the
    // caller releases it with Tamofree(img, 7)): Tamoany2any for the types it
    // converts, the real parts for complex types. Null for a null record, a
    // "struct" record or one without pixels, or when memory runs out.
    static TAMOHDR *toFloatRecord(TAMOHDR *record);
};
