// The values an image window shows, and those its Save writes back into the
// window's slot. The tamo tool repeats a Save through the same functions, so
// that a recorded session makes the same bits.
#pragma once

#include "tamo++.h"

namespace frontend {

// Maps `in` linearly onto lo..hi into the "float" record `out` of the same
// element count: its smallest value goes to lo, its largest to hi (single
// precision; NaN values take no part in the range). A constant `in` gives
// zeros. Records of another type are converted to float first. *max and
// *min receive the range (-1.0e8 and 1.0e8 when no value was compared).
// Returns 0; -1 when `in` is null or has no values to convert; -2 when `out`
// is null, not "32flt" or of another size; -3 when lo > hi. Nothing is
// written on failure.
int brScale(TAMOHDR *in, TAMOHDR *out, float hi, float lo, float *max, float *min);

// lo when lo > v, otherwise the smaller of hi and v.
double boundValue(double lo, double v, double hi);

// The contrast stretch of a window's Level and Window: shown values run
// from lo (0) to hi (255); a zero window becomes a threshold at the level.
void contrastBounds(int level, int window, float &hi, float &lo);

// The shown value 0..255 (not truncated) of working value v under a channel
// offset and the stretch lo..hi.
double displayedValue(double v, int offset, float hi, float lo);

// What a window's Save reads of its controls.
struct ShownSettings {
    int level = 0, window = 0;
    int bright = 0;                    // a grey window's offset
    int red = 0, green = 0, blue = 0;  // a colour window's offsets
};

// The values Save writes, from a window's working copy `work` (the slot's
// values stretched onto 0..255 from dataMin..dataMax): a new "double"
// record of work's columns and rows with `planes` frames. A colour window
// (work has three dimensions) gives frames 0..planes-1 as shown under their
// offsets, mapped back onto dataMin..dataMax; a grey one gives frame 0 under
// the Bright offset, the stretch not held to 0..255. Null without memory.
tamo::RecordPtr savedValues(const TAMOHDR *work, int planes, float dataMin, float dataMax,
                            const ShownSettings &s);

}  // namespace frontend
