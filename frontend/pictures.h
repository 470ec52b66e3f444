// Pictures and records: a picture read into a record, and the 8-bit values
// the workbench shows of a record (which `tamo convert --stretch` writes).
#pragma once

#include "statistics.h"
#include "tamo++.h"

class QImage;

namespace frontend {

// A record of `type` holding `picture` (any format; alpha is ignored by the
// planar types). Planar types get a 3-D record of three frames red, green
// and blue; interleaved types get red, green, blue (and alpha for four
// channels) as the channels of each pixel, along a third dimension of that
// many frames. When `stats` is given, it receives the statistics of the red,
// green and blue values, gathered in the same pass over the picture. Null
// for "struct" and unknown types and when the record cannot be made.
tamo::RecordPtr recordFromPicture(const QImage &picture, const TAMODTYPE &type,
                                  FrameStats *stats = nullptr);

// Asks the kernel to back the pixels of a new, large record with huge pages
// before they are written through: a hint that spares most of the page
// faults of filling it; the memory is the same either way.
void adviseHugePages(TAMOHDR *img);

// The 8-bit values shown of `record`, stretched with Tamovidscale so that
// the smallest value becomes 0 and the largest 255 (a constant record stays
// 0), as a "u8bit" record:
//   - a 3-D record of exactly three frames: the three frames with one range
//     (3-D, three frames);
//   - a 2-D "32cmp" record: `component` 0 magnitude, 1 phase, 2 real part,
//     3 imaginary part (any other value gives zeros);
//   - any other 3-D record: frame `frame`, held to the record's frames;
//   - anything else: its first plane.
// Values of other types than "32flt" are converted to float first, complex
// ones (outside the component path) by their real parts. The result is 2-D
// for one plane. Null for a null, empty or "struct" record, one without
// pixels, or when memory runs out.
tamo::RecordPtr shownBytes(TAMOHDR *record, int component, int frame);

// The picture (format RGB32, 0xFF000000 | red << 16 | green << 8 | blue) of
// the bytes shownBytes gives for the same arguments: red, green and blue from
// the three frames in colour, the one plane in every channel otherwise. Its
// width is the record's columns rounded up to a multiple of 4; the extra
// columns repeat the last one. A null picture where shownBytes gives null.
// Float planes are stretched and packed in one pass over the scan lines,
// without an 8-bit record in between.
QImage shownPicture(TAMOHDR *record, int component, int frame);

// Writes the picture of the first `count` planes (3: red, green and blue; 1:
// grey) of the "float" record `planes` into `image` (32 bits per pixel),
// stretched with one range as Tamovidscale stretches them. Columns of the
// image beyond the record's repeat its last column; rows beyond it are left
// alone. A constant record is reported by Tamovidscale and drawn black.
// Does nothing when the record has fewer planes or is not "float".
void drawShownPlanes(TAMOHDR *planes, int count, QImage &image);

// A "u8bit" record of img's dimensions holding Tamovidscale's stretch of img
// with one range (a constant img leaves it zero); null when it cannot be made.
tamo::RecordPtr stretchToBytes(TAMOHDR *img);

// A "float" record of `count` planes of img from plane `first` on (2-D for
// one plane, 3-D otherwise), converted as floatCopy does; null when img has
// no float values or memory runs out. The planes must exist.
tamo::RecordPtr planesAsFloat(TAMOHDR *img, int first, int count);

}  // namespace frontend
