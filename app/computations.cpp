#include "computations.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "planes.h"
#include "records.h"
#include "tamo++.h"
#include "tamoops.h"

namespace computations {

namespace {

// Largest label count colour map 6 derives from an image's values: one more
// than the labelling operator can make.
constexpr int kMaxDerivedLabels = 500000;

long long planeSize(const TAMOHDR *img) {
    return static_cast<long long>(columnsOf(img)) * rowsOf(img);
}

using frontend::planeAsFloats;
using frontend::visitPlanar;

Record create(const char *type, int ndim, long long cols, long long rows, long long frames) {
    if (cols > INT_MAX || rows > INT_MAX || frames > INT_MAX) return nullptr;
    const int dims[4] = {ndim, static_cast<int>(cols), static_cast<int>(rows),
                         static_cast<int>(frames)};
    return Record(Tamocreate(type, dims, 11, 0));
}

// A two-dimensional "float" copy of one plane of in.
Record floatPlane(const TAMOHDR *in, int frame) {
    Record plane = create("float", 2, columnsOf(in), rowsOf(in), 1);
    if (plane) planeAsFloats(in, frame, reinterpret_cast<float *>(plane->orvptr));
    return plane;
}

// The label count of a label image that no labelling run has counted: its
// largest value (as the colour map reads labels, truncated) plus one.
int derivedLabelCount(const TAMOHDR *labels) {
    const float *v = reinterpret_cast<const float *>(labels->orvptr);
    const long long n = planeSize(labels);
    float top = -1.0f;
    for (long long k = 0; k < n; ++k)
        if (v[k] > top) top = v[k];  // NaN never counts
    if (top >= static_cast<float>(kMaxDerivedLabels)) return kMaxDerivedLabels;
    return std::max(1, static_cast<int>(top) + 1);
}

}  // namespace

bool isFloat(const TAMOHDR *img) {
    return img && img->dtype == TAMO_32FLT;
}

bool isComplex(const TAMOHDR *img) {
    return img && img->dtype == TAMO_32CMP;
}

bool isPlanarReal(const TAMOHDR *img) {
    return img && visitPlanar(img, [](const auto *) {});
}

int columnsOf(const TAMOHDR *img) {
    return img->orvndim >= 1 ? img->orvdim[0].dlen : 0;
}

int rowsOf(const TAMOHDR *img) {
    return img->orvndim >= 2 ? img->orvdim[1].dlen : 1;
}

int framesOf(const TAMOHDR *img) {
    return img->orvndim >= 3 ? img->orvdim[2].dlen : 1;
}

Record copyOf(const TAMOHDR *img) {
    Record copy(frontend::createLike(const_cast<TAMOHDR *>(img), img->orvdt).release());
    if (copy) copyPixels(img, copy.get());
    return copy;
}

void copyPixels(const TAMOHDR *from, TAMOHDR *to) {
    std::memcpy(to->orvptr, from->orvptr,
                static_cast<std::size_t>(tamo::elementCount(from)) * from->orvbpd);
}

Record threeFrameFloat(const TAMOHDR *like) {
    return create("float", 3, columnsOf(like), rowsOf(like), 3);
}

int unaryOperation(int code, TAMOHDR *in, TAMOHDR *out, float value) {
    switch (code) {
        case 1:
            return flDoG(in, out, 1, 0, value);
        case 2:
            return flDoG(in, out, 2, 0, value);
        case 3:
            return flDoG(in, out, 1, 1, value);
        case 4:
            return flDoG(in, out, 2, 1, value);
        case 5:
            return flDoG(in, out, 2, 2, value);
        case 6:
            return flcurv(in, out, value);
        case 7:
            return flHarris(in, out, value);
        case 8:
            return flexp(in, out, value);
        case 10:
            return flinv(in, out);
        case 11:
            return flLaplace(in, out, value);
        case 12:
            return flqvar(in, out, value);
        case 14:
            return flabsolute(in, out);
        case 15:
            return flHistogramEq(in, out, 0);
        case 16:
            return flmarkmax(in, out, value);
        case 17:
            return flln(in, out);
        case 19:
            return flDoG(in, out, 0, 0, value);
        case 21:
            return HoGdescriptor(in, out);
        case 23:
            return flgmag(in, out, value);
        case 24:
            return flgdir(in, out, value);
        case 29:
            return Tamoc2mag(in, out);
        case 30:
            return Tamoc2phase(in, out);
        case 31:
            return Tamoc2real(in, out);
        case 32:
            return Tamoc2imag(in, out);
        case 35:
            for (int r = 0; r < rowsOf(in); ++r)
                for (int c = 0; c < columnsOf(in); ++c) Tamofpp(out, r, c, Tamofgp(in, r, c));
            return 0;
    }
    return 0;
}

const char *unaryOperator(int code) {
    switch (code) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 19:
            return "flDoG";
        case 6:
            return "flcurv";
        case 7:
            return "flHarris";
        case 8:
            return "flexp";
        case 10:
            return "flinv";
        case 11:
            return "flLaplace";
        case 12:
            return "flqvar";
        case 14:
            return "flabsolute";
        case 15:
            return "flHistogramEq";
        case 16:
            return "flmarkmax";
        case 17:
            return "flln";
        case 21:
            return "HoGdescriptor";
        case 23:
            return "flgmag";
        case 24:
            return "flgdir";
        case 29:
            return "Tamoc2mag";
        case 30:
            return "Tamoc2phase";
        case 31:
            return "Tamoc2real";
        case 32:
            return "Tamoc2imag";
    }
    return nullptr;
}

int colourToGrey(TAMOHDR *in, TAMOHDR **out) {
    return flcolor2gray(in, out);
}

int connectedComponents(TAMOHDR *in, TAMOHDR *out, const CclParameters &p, int *labelCount) {
    return cclC4_3(in, p.eraseSmall, p.eraseLarge, labelCount, p.areasPath.c_str(), out,
                   p.threshold, p.lo, p.hi);
}

int pseudoColour(TAMOHDR *in, TAMOHDR *out, int map, int frame, int labelCount, int *labelsUsed) {
    // A float plane is used as it is; any other plane is read into a float
    // copy first.
    Record copy;
    TAMOHDR *source = in;
    if (in->orvndim != 2 || !isFloat(in)) {
        copy = floatPlane(in, in->orvndim == 3 ? frame : 0);
        if (!copy) return kNoRecord;
        source = copy.get();
    }
    if (map == 6) {
        const int labels = labelCount > 0 ? labelCount : derivedLabelCount(source);
        if (labelsUsed) *labelsUsed = labels;
        colormap6(source, out, labels);
        return 0;
    }
    const int cols = columnsOf(source), rows = rowsOf(source);
    Record grey = create("u8bit", 2, cols, rows, 1);
    Record colour = create("u8bit", 3, cols, rows, 3);
    if (!grey || !colour) return kNoRecord;
    float lo = 0.0f, hi = 0.0f;
    Tamovidscale(source, grey.get(), &lo, &hi, 0);
    if (int rc = Tamocolormap(grey.get(), colour.get(), map)) return rc;
    return Tamoany2any(colour.get(), out);
}

int fourierTransform(TAMOHDR *in, TAMOHDR *out, int direction) {
    if (!isComplex(out)) return -3;
    if (columnsOf(out) != columnsOf(in) || rowsOf(out) != rowsOf(in)) return -1;
    // The transform runs in place on the output's first plane, so no scratch
    // record is needed.
    const long long n = planeSize(in);
    float *dst = reinterpret_cast<float *>(out->orvptr);
    if (isComplex(in)) {
        std::memcpy(dst, in->orvptr, sizeof(float) * 2 * n);
    } else if (direction == 1 || !visitPlanar(in, [&](const auto *src) {
                   for (long long k = 0; k < n; ++k) {
                       dst[2 * k] = static_cast<float>(src[k]);
                       dst[2 * k + 1] = 0.0f;
                   }
               })) {
        return -3;
    }
    const int rc = Tamocfft2d(out, direction);
    if (rc != 0) std::memset(dst, 0, sizeof(float) * 2 * n);
    return rc;
}

int copyIntoThreeFrames(TAMOHDR *in, TAMOHDR *out) {
    if (!isFloat(out) || out->orvndim != 3 || framesOf(out) < 3 ||
        columnsOf(out) != columnsOf(in) || rowsOf(out) != rowsOf(in))
        return -2;
    const long long plane = planeSize(in);
    float *dst = reinterpret_cast<float *>(out->orvptr);
    planeAsFloats(in, 0, dst);
    std::memcpy(dst + plane, dst, sizeof(float) * plane);
    std::memcpy(dst + 2 * plane, dst, sizeof(float) * plane);
    return 0;
}

int hogDescriptor(TAMOHDR *in, Record &result) {
    result = create("float", 3, columnsOf(in) / 8, rowsOf(in) / 8, 9);
    if (!result) return kNoRecord;
    return HoGdescriptor(in, result.get());
}

int hogPicture(TAMOHDR *in, Record &result) {
    result = create("float", 2, 9LL * columnsOf(in), 9LL * rowsOf(in), 1);
    if (!result) return kNoRecord;
    return ShowHoG(in, result.get());
}

int crop(TAMOHDR *in, int c0, int r0, int w, int h, Record &result) {
    result.reset(frontend::cropToFloat(in, c0, r0, w, h).release());
    return result ? 0 : kNoRecord;
}

int resize(TAMOHDR *in, int rows, int cols, int mode, Record &result) {
    result = create(in->orvdt, in->orvndim, cols, rows, framesOf(in));
    if (!result) return kNoRecord;
    return Tamozoomupdown(in, result.get(), mode);
}

int shiftedArithmetic(int code, TAMOHDR *a, TAMOHDR *b, int dr, int dc, Record &result) {
    const long long cols = std::max(std::llabs(dc) + columnsOf(a), 0LL + columnsOf(b));
    const long long rows = std::max(std::llabs(dr) + rowsOf(a), 0LL + rowsOf(b));
    result = create(a->orvdt, a->orvndim, cols, rows, 3);
    if (!result) return kNoRecord;
    switch (code) {
        case 22:
            return fladdi(a, b, result.get(), dr, dc);
        case 25:
            return flsubi(a, b, result.get(), dr, dc);
        case 26:
            return flmuli(a, b, result.get(), dr, dc);
        case 27:
            return fldivi(a, b, result.get(), dr, dc);
    }
    return 0;
}

int complexArithmetic(int code, TAMOHDR *a, TAMOHDR *b, Record &result) {
    result = create("32cmp", a->orvndim, columnsOf(a), rowsOf(a), framesOf(a));
    if (!result) return kNoRecord;
    TAMOHDR *out = result.get();
    switch (code) {
        case 22:
            return fladdv(a, b, out);
        case 26:
            return flmultv(a, b, out);
        case 27:
            return fldivv(a, b, out);
        case 25: {
            bool same = isComplex(b) && b->orvndim == a->orvndim;
            for (int k = 0; same && k < a->orvndim; ++k)
                same = a->orvdim[k].dlen == b->orvdim[k].dlen;
            if (!same) return -2;
            result.reset(frontend::complexDifference(a, b).release());
            return result ? 0 : kNoRecord;
        }
    }
    return 0;
}

int correlate(TAMOHDR *a, TAMOHDR *b, TAMOHDR *out) {
    return flcorrelate(a, b, out);
}

int pcon(TAMOHDR *estimate, TAMOHDR *data, const PconParameters &p) {
    return pconsub(estimate, data, p.sigma, p.r, p.b, p.t1, p.t2, p.dlt);
}

}  // namespace computations
