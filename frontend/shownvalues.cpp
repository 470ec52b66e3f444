#include "shownvalues.h"

#include <algorithm>
#include <limits>

#include "records.h"

namespace frontend {

int brScale(TAMOHDR *in, TAMOHDR *out, float hi, float lo, float *max, float *min) {
    if (!tamo::hasValidMagic(in) || !in->orvptr) return -1;
    tamo::RecordPtr converted;
    TAMOHDR *src = in;
    if (in->dtype != TAMO_32FLT) {
        converted = floatCopy(in);
        if (!converted) return -1;
        src = converted.get();
    }
    const long long n = tamo::elementCount(src);
    if (!tamo::hasValidMagic(out) || out->dtype != TAMO_32FLT || !out->orvptr ||
        tamo::elementCount(out) != n)
        return -2;
    if (lo > hi) return -3;

    // The extremes start at the infinities, so that data lying wholly above
    // or below any fixed bound still get their own range.
    const float *data = tamo::pixels<float>(src);
    float top = -std::numeric_limits<float>::infinity();
    float bottom = std::numeric_limits<float>::infinity();
    for (long long k = 0; k < n; ++k) {
        const float v = data[k];
        top = v > top ? v : top;
        bottom = v < bottom ? v : bottom;
    }
    const bool compared = top >= bottom;
    if (!compared) {
        top = -1.0e8f;
        bottom = 1.0e8f;
    }

    float *dst = tamo::pixels<float>(out);
    if (top != bottom) {
        const float span = hi - lo;
        const float range = top - bottom;
        for (long long k = 0; k < n; ++k) dst[k] = (data[k] - bottom) * span / range + lo;
    } else {
        std::fill(dst, dst + n, 0.0f);
    }
    if (max) *max = top;
    if (min) *min = bottom;
    return 0;
}

double boundValue(double lo, double v, double hi) {
    return lo > v ? lo : std::min(hi, v);
}

void contrastBounds(int level, int window, float &hi, float &lo) {
    hi = static_cast<float>(level + window);
    lo = static_cast<float>(level);
    if (hi - lo == 0.0f) hi = static_cast<float>(static_cast<double>(hi) + 0.0001);
}

double displayedValue(double v, int offset, float hi, float lo) {
    const double t = boundValue(0, v + offset, 255);
    return boundValue(0, (t - lo) * 255 / static_cast<double>(hi - lo), 255);
}

tamo::RecordPtr savedValues(const TAMOHDR *work, int planes, float dataMin, float dataMax,
                            const ShownSettings &s) {
    const int cols = tamo::columnsOf(work), rows = tamo::rowsOf(work);
    const int dims[4] = {3, cols, rows, planes};
    tamo::RecordPtr values(Tamocreate("double", dims, TAMO_CREATE_ZEROED, 0));
    if (!values) return nullptr;
    float hi, lo;
    contrastBounds(s.level, s.window, hi, lo);
    const float span = dataMax - dataMin;
    // Double precision holds every value below exactly.
    TAMOHDR *w = const_cast<TAMOHDR *>(work);
    if (work->orvndim == 3) {
        // Frames 0..2 as shown in colour, each under its RGB offset.
        const int offsets[3] = {s.red, s.green, s.blue};
        for (int c = 0; c < planes; ++c)
            for (int j = 0; j < rows; ++j)
                for (int i = 0; i < cols; ++i) {
                    const float d = static_cast<float>(
                        displayedValue(Tamofgp3d(w, c, j, i), offsets[c], hi, lo));
                    Tamofpp3d(values.get(), c, j, i, span * d / 255 + dataMin);
                }
        return values;
    }
    // One plane under the Bright offset; the stretch is not held to 0..255
    // here, so values beyond the window keep their distance from it.
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i) {
            const double t = boundValue(0, Tamofgp3d(w, 0, j, i) + s.bright, 255);
            Tamofpp3d(values.get(), 0, j, i, (t - lo) * 255 / (hi - lo) * span / 255 + dataMin);
        }
    return values;
}

}  // namespace frontend
