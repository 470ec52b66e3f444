// Texts for the operators' result codes.
#include <cstring>

#include "tamoops.h"

namespace {

struct CodeText {
    int code;
    const char *text;
};

// Each list ends with {0, nullptr}.
const CodeText kFloatOnly[] = {
    {TAMO_OP_ETYPE, "the input or output is not \"float\""},
    {TAMO_OP_ESIZE, "the input and output differ in size"},
    {0, nullptr},
};

const CodeText kFloatOrComplex[] = {
    {TAMO_OP_ETYPE, "the images are not all \"float\" or all \"32cmp\""},
    {TAMO_OP_ESIZE, "the images differ in size"},
    {0, nullptr},
};

const CodeText kLn[] = {
    {TAMO_OP_ETYPE, "the input or output is not \"float\""},
    {TAMO_LN_NONPOSITIVE,
     "the input and output differ in size, or some values were not positive (written as 0)"},
    {0, nullptr},
};

const CodeText kExp[] = {
    {TAMO_OP_ETYPE, "the input or output is not \"float\""},
    {TAMO_OP_ESIZE, "the input and output differ in size"},
    {TAMO_EXP_ESCALE, "the scale is 0 or not a number"},
    {0, nullptr},
};

const CodeText kSqrt[] = {
    {TAMO_OP_ETYPE, "the input or output is not \"float\""},
    {TAMO_OP_ESIZE, "the input and output differ in size"},
    {TAMO_SQRT_NEGATIVE, "a value is negative"},
    {0, nullptr},
};

const CodeText kIntcp[] = {
    {TAMO_OP_ETYPE, "the input or output is not \"32bit\""},
    {TAMO_OP_ESIZE, "the output differs from the input in columns or rows"},
    {0, nullptr},
};

const CodeText kGray[] = {
    {TAMO_GRAY_ENOOUT, "the \"float\" output cannot be created"},
    {TAMO_GRAY_EINPUT, "the input is neither 2-D nor 3-D with at least three frames"},
    {TAMO_GRAY_EOUTDIMS, "the output is missing or not 2-D"},
    {TAMO_GRAY_EROWS, "the input and output differ in rows"},
    {TAMO_GRAY_ECOLS, "the input is missing or differs from the output in columns"},
    {0, nullptr},
};

const CodeText kShifted[] = {
    {TAMO_SHIFT_EOUTSIZE,
     "the output is missing or does not have the rows and columns the shifted images need"},
    {TAMO_SHIFT_EDIMS, "an input is missing, or the inputs differ in their number of dimensions"},
    {0, nullptr},
};

const char kTooFewRows[] = "the image has fewer rows than the kernel needs";
const char kNotFloatInput[] = "the input is missing or not \"float\"";
const char kBadSigma[] = "sigma is not a number, or 0 for a derivative";

const CodeText kDoG[] = {
    {TAMO_DOG_EORDER, "derivatives above the third order cannot be taken"},
    {TAMO_DOG_EMIXED1, "a mixed derivative of order 0 or 1 cannot be taken"},
    {TAMO_DOG_EMIXED3, "a mixed derivative of order 3 cannot be taken"},
    {TAMO_DOG_EPAIR, "the order and direction name no kernel"},
    {TAMO_DOG_EROWS, kTooFewRows},
    {TAMO_DOG_ETYPE, kNotFloatInput},
    {TAMO_DOG_ESIGMA, kBadSigma},
    {TAMO_DOG_EOUT, "the output is missing, not numeric or smaller than the input"},
    {0, nullptr},
};

// The refusals of flDoG that the operators built on it pass on: those that
// depend on the image and sigma they were given.
const CodeText kDoGPassedOn[] = {
    {TAMO_DOG_EROWS, kTooFewRows},
    {TAMO_DOG_ETYPE, kNotFloatInput},
    {TAMO_DOG_ESIGMA, kBadSigma},
    {0, nullptr},
};

const CodeText kMeasure[] = {
    {TAMO_OP_ETYPE, "the input or output is not \"float\""},
    {TAMO_OP_ESIZE, "the input and output differ in size"},
    {TAMO_OP_ENOMEM, "there is not enough memory for the scratch images"},
    {0, nullptr},
};

const CodeText kHarris[] = {
    {TAMO_OP_ESIZE, "the input is missing, or the output has fewer columns, rows or frames"},
    {TAMO_OP_ENOMEM, "there is not enough memory for the scratch images"},
    {0, nullptr},
};

const CodeText kMarkMax[] = {
    {TAMO_OP_ESIZE,
     "the input is missing or not 2-D or 3-D, or the output lacks its columns and rows or "
     "three frames"},
    {TAMO_OP_ENOMEM, "there is not enough memory for the scratch images"},
    {0, nullptr},
};

const CodeText kHistEq[] = {
    {TAMO_HISTEQ_EWINDOW, "the neighbourhood is not smaller than the image"},
    {TAMO_HISTEQ_EINPUT, "the input is not \"float\", or it has one value throughout"},
    {TAMO_HISTEQ_EOUT, "the output is missing or smaller than the input"},
    {TAMO_HISTEQ_ESHARE, "an equalised value left the range 0..255"},
    {0, nullptr},
};

const CodeText kCorrelate[] = {
    {TAMO_CORR_ETYPE, "the image or the template is not \"float\""},
    {TAMO_CORR_EOUT,
     "the output is missing or too small, or a colour image or its template has fewer than "
     "three frames"},
    {0, nullptr},
};

const CodeText kPcon[] = {
    {TAMO_PCON_ETYPE, "the estimate or the data is not \"float\""},
    {TAMO_PCON_ESCHEDULE, "the temperature schedule would not end"},
    {TAMO_PCON_ESIZE, "the estimate and the data differ in rows or columns"},
    {TAMO_PCON_EFLAT, "the update is zero everywhere"},
    {TAMO_PCON_ESIGMA, "sigma is not above 0"},
    {TAMO_PCON_ERANGE, "the estimate leaves the range of floats"},
    {0, nullptr},
};

const CodeText kCcl[] = {
    {TAMO_CCL_ELABELS, "more than 499999 labels would be needed"},
    {TAMO_CCL_EAREAS, "the areas file cannot be written or its name is too long"},
    {TAMO_CCL_EIMAGE,
     "an image is missing or not numeric, the output differs in rows or columns or cannot take "
     "the labels, or memory ran out"},
    {0, nullptr},
};

const CodeText kFft[] = {
    {TAMO_FFT_ESQUARE, "the image is not square"},
    {TAMO_FFT_EPOWER2, "the image's side is not a power of two"},
    {TAMO_FFT_ETYPE, "the image is missing or not \"32cmp\""},
    {0, nullptr},
};

const CodeText kComplexPart[] = {
    {TAMO_CPX_ESIZE, "an image is missing, or the images differ in rows or columns"},
    {TAMO_CPX_ETYPE, "the input is not \"32cmp\", or the output's type cannot take the values"},
    {0, nullptr},
};

const CodeText kVidscale[] = {
    {TAMO_VIDSCALE_EARGS,
     "an image is missing, the output is not \"u8bit\" or differs in size, or per-frame "
     "scaling was asked of an image that is not 3-D"},
    {0, nullptr},
};

const CodeText kColormap[] = {
    {TAMO_CMAP_EOUTTYPE, "the output is not \"u8bit\""},
    {TAMO_CMAP_EINDIMS, "the input is missing or not 2-D"},
    {TAMO_CMAP_EOUTDIMS, "the output is not 3-D with at least three frames"},
    {TAMO_CMAP_ESIZE, "the input and output differ in columns or rows"},
    {TAMO_CMAP_EMAP, "the map number is not 0 to 6"},
    {0, nullptr},
};

const CodeText kHoG[] = {
    {TAMO_HOG_EFIT,
     "the image is missing, holds \"struct\" data or lacks its colour frames, the descriptor "
     "image is too small, or memory ran out"},
    {0, nullptr},
};

const CodeText kMaxgrad[] = {
    {TAMO_HOG_EFIT, "the images are not \"float\" or do not fit each other"},
    {0, nullptr},
};

const CodeText kShowHoG[] = {
    {TAMO_HOG_EFIT, "the descriptor is missing, holds \"struct\" data or has fewer than 9 frames"},
    {0, nullptr},
};

const CodeText kZoom[] = {
    {TAMO_ZOOM_EARGS,
     "an image is missing, damaged or empty, a type cannot be resampled, or the frame counts "
     "differ"},
    {0, nullptr},
};

struct Operator {
    const char *name;
    const CodeText *codes;
    const CodeText *passedOn;  // codes of an operator it calls and passes on, or null
};

const Operator kOperators[] = {
    {"flabsolute", kFloatOnly, nullptr},
    {"fladds", kFloatOnly, nullptr},
    {"flmults", kFloatOnly, nullptr},
    {"flexp", kExp, nullptr},
    {"flinv", kFloatOnly, nullptr},
    {"fladdv", kFloatOrComplex, nullptr},
    {"flmultv", kFloatOrComplex, nullptr},
    {"fldivv", kFloatOrComplex, nullptr},
    {"flatan2", kFloatOrComplex, nullptr},
    {"flcp", kFloatOrComplex, nullptr},
    {"flln", kLn, nullptr},
    {"flsqrt", kSqrt, nullptr},
    {"intcp", kIntcp, nullptr},
    {"flcolor2gray", kGray, nullptr},
    {"fladdi", kShifted, nullptr},
    {"flsubi", kShifted, nullptr},
    {"flmuli", kShifted, nullptr},
    {"fldivi", kShifted, nullptr},
    {"flDoG", kDoG, nullptr},
    {"flcurv", kMeasure, kDoGPassedOn},
    {"flLaplace", kMeasure, kDoGPassedOn},
    {"flqvar", kMeasure, kDoGPassedOn},
    {"flgmag", kMeasure, kDoGPassedOn},
    {"flgdir", kMeasure, kDoGPassedOn},
    {"flHarris", kHarris, kDoGPassedOn},
    {"flmarkmax", kMarkMax, kDoGPassedOn},
    {"flHistogramEq", kHistEq, nullptr},
    {"flcorrelate", kCorrelate, nullptr},
    {"corr1frame", kCorrelate, nullptr},
    {"pconsub", kPcon, nullptr},
    {"cclC4_3", kCcl, nullptr},
    {"Tamocfft2d", kFft, nullptr},
    {"Tamoc2mag", kComplexPart, nullptr},
    {"Tamoc2phase", kComplexPart, nullptr},
    {"Tamoc2real", kComplexPart, nullptr},
    {"Tamoc2imag", kComplexPart, nullptr},
    {"Tamovidscale", kVidscale, nullptr},
    {"Tamocolormap", kColormap, nullptr},
    {"HoGdescriptor", kHoG, nullptr},
    {"HoGdescriptor2D", kHoG, nullptr},
    {"HoGdescriptorCLR", kHoG, nullptr},
    {"maxgrad", kMaxgrad, nullptr},
    {"ShowHoG", kShowHoG, nullptr},
    {"Tamozoomupdown", kZoom, nullptr},
};

const char *find(const CodeText *codes, int code) {
    for (; codes && codes->text; ++codes)
        if (codes->code == code) return codes->text;
    return nullptr;
}

}  // namespace

extern "C" const char *Tamoopstext(const char *op, int code) {
    if (!op || code == 0) return nullptr;
    for (const Operator &entry : kOperators) {
        if (std::strcmp(entry.name, op) != 0) continue;
        if (code == TAMO_CANCELLED) return "the operation was cancelled";
        if (const char *text = find(entry.codes, code)) return text;
        return find(entry.passedOn, code);
    }
    return nullptr;
}
