// Pointwise and arithmetic operators as tamo subcommands: elementary
// functions of one image, arithmetic with a constant, whole-image arithmetic
// of two images, shifted arithmetic, copies and colour-to-grey.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli.h"
#include "planes.h"

namespace {

using tamo::RecordPtr;

// Reads an operand of the float operators: "float" and "32cmp" images as
// they are, any other numeric image converted to "float" (as the workbench
// loads files).
RecordPtr readOperand(const std::string &path) {
    RecordPtr img = cli::readImage(path);
    if (img->dtype == TAMO_32FLT || img->dtype == TAMO_32CMP) return img;
    RecordPtr converted = cli::createLike(img.get(), "float");
    if (Tamoany2any(img.get(), converted.get()) != 0)
        throw cli::Failure(std::string("cannot use an image of type \"") + img->orvdt +
                           "\" here (\"float\" or \"32cmp\" needed)");
    return converted;
}

void noExtraArguments(const cli::Options &opts, std::size_t count) {
    if (opts.positional.size() > count)
        throw cli::UsageError("unexpected argument '" + opts.positional[count] + "'");
}

// ---- One input ----------------------------------------------------------------

// Op writes every element of its result (or fails).
template <int (*Op)(TAMOHDR *, TAMOHDR *)>
int runUnary(const cli::Options &opts, const char *name) {
    const std::string &in = opts.arg(0, "IN"), &out = opts.arg(1, "OUT");
    noExtraArguments(opts, 2);
    RecordPtr src = readOperand(in);
    RecordPtr dst = cli::createUnfilled(src.get(), src->orvdt);
    int status;
    {
        cli::LibraryTextAside aside(out);
        status = Op(src.get(), dst.get());
    }
    cli::checkStatus(status, name);
    cli::writeImage(out, dst.get());
    return 0;
}

int runAbs(const cli::Options &o) {
    return runUnary<flabsolute>(o, "flabsolute");
}
int runSqrtCmd(const cli::Options &o) {
    const std::string &in = o.arg(0, "IN"), &out = o.arg(1, "OUT");
    noExtraArguments(o, 2);
    RecordPtr src = readOperand(in);
    RecordPtr dst = cli::createLike(src.get(), src->orvdt);
    const int status = flsqrt(src.get(), dst.get());
    cli::checkStatus(status, "flsqrt");
    cli::writeImage(out, dst.get());
    return 0;
}
int runInv(const cli::Options &o) {
    return runUnary<flinv>(o, "flinv");
}
int runCp(const cli::Options &o) {
    return runUnary<flcp>(o, "flcp");
}

int runLn(const cli::Options &opts) {
    const std::string &in = opts.arg(0, "IN"), &out = opts.arg(1, "OUT");
    noExtraArguments(opts, 2);
    RecordPtr src = readOperand(in);
    RecordPtr dst = cli::createLike(src.get(), src->orvdt);
    const int status = flln(src.get(), dst.get());
    // -2 after a full pass means some values were not positive; the image is
    // complete, those values are 0.
    if (status == TAMO_LN_NONPOSITIVE && src->dtype == TAMO_32FLT)
        std::fprintf(stderr, "tamo ln: values that are not positive were written as 0\n");
    else
        cli::checkStatus(status, "flln");
    cli::writeImage(out, dst.get());
    return 0;
}

// Op writes every element of its result (or fails).
template <int (*Op)(TAMOHDR *, TAMOHDR *, float)>
int runWithConstant(const cli::Options &opts, const char *option, double fallback,
                    const char *name) {
    const std::string &in = opts.arg(0, "IN"), &out = opts.arg(1, "OUT");
    noExtraArguments(opts, 2);
    const float value = opts.real(option, fallback);
    RecordPtr src = readOperand(in);
    RecordPtr dst = cli::createUnfilled(src.get(), src->orvdt);
    cli::checkStatus(Op(src.get(), dst.get(), value), name);
    cli::writeImage(out, dst.get());
    return 0;
}

int runAdds(const cli::Options &o) {
    return runWithConstant<fladds>(o, "value", 0, "fladds");
}
int runMults(const cli::Options &o) {
    return runWithConstant<flmults>(o, "value", 1, "flmults");
}
int runExp(const cli::Options &o) {
    // exp(0 / 0) would be NaN.
    if (o.real("scale", 1) == 0.0f) throw cli::UsageError("--scale must not be 0");
    return runWithConstant<flexp>(o, "scale", 1, "flexp");
}

int runIfneg(const cli::Options &opts) {
    const std::string &in = opts.arg(0, "IN");
    noExtraArguments(opts, 1);
    RecordPtr src = readOperand(in);
    if (src->dtype != TAMO_32FLT) throw cli::Failure("ifneg needs a \"float\" image");
    const int negative = ifneg(src.get());
    if (!cli::reportValue("negative", negative)) std::printf("%d\n", negative);
    return 0;
}

int runCrcopy(const cli::Options &opts) {
    const std::string &in = opts.arg(0, "IN"), &out = opts.arg(1, "OUT");
    noExtraArguments(opts, 2);
    RecordPtr src = cli::readImage(in);
    RecordPtr copy(flcrcopy(src.get()));
    if (!copy) throw cli::Failure("flcrcopy could not copy the image");
    cli::writeImage(out, copy.get());
    return 0;
}

int runIntcp(const cli::Options &opts) {
    const std::string &in = opts.arg(0, "IN"), &out = opts.arg(1, "OUT");
    noExtraArguments(opts, 2);
    RecordPtr src = cli::readImage(in);
    const int cols = Tamodimen(src.get(), 0);
    const int rows = src->orvndim >= 2 ? Tamodimen(src.get(), 1) : 1;
    const bool colour = opts.has("colour");
    int dims[4] = {colour ? 3 : 2, cols, rows, 3};
    RecordPtr dst(Tamocreate("32bit", dims, 11, 0));
    if (!dst) throw cli::Failure("cannot create the output image");
    int status;
    {
        cli::LibraryTextAside aside(out);
        status = intcp(src.get(), dst.get());
    }
    cli::checkStatus(status, "intcp");
    cli::writeImage(out, dst.get());
    return 0;
}

int runGray(const cli::Options &opts) {
    const std::string &in = opts.arg(0, "IN"), &out = opts.arg(1, "OUT");
    noExtraArguments(opts, 2);
    RecordPtr src = cli::readImage(in);
    RecordPtr dst = cli::createLike(src.get(), "float", 2);
    TAMOHDR *result = dst.release();
    int status;
    {
        cli::LibraryTextAside aside(out);
        status = flcolor2gray(src.get(), &result);
    }
    dst.reset(result);  // flcolor2gray may have replaced it
    cli::checkStatus(status, "flcolor2gray");
    cli::writeImage(out, dst.get());
    return 0;
}

// ---- Two inputs -----------------------------------------------------------------

template <int (*Op)(TAMOHDR *, TAMOHDR *, TAMOHDR *)>
int runBinary(const cli::Options &opts, const char *name) {
    const std::string &a = opts.arg(0, "A"), &b = opts.arg(1, "B"), &out = opts.arg(2, "OUT");
    noExtraArguments(opts, 3);
    RecordPtr first = readOperand(a), second = readOperand(b);
    RecordPtr dst = cli::createLike(first.get(), first->orvdt);
    cli::checkStatus(Op(first.get(), second.get(), dst.get()), name);
    cli::writeImage(out, dst.get());
    return 0;
}

int runAddv(const cli::Options &o) {
    return runBinary<fladdv>(o, "fladdv");
}
int runMultv(const cli::Options &o) {
    return runBinary<flmultv>(o, "flmultv");
}
int runDivv(const cli::Options &o) {
    return runBinary<fldivv>(o, "fldivv");
}
int runAtan2(const cli::Options &o) {
    return runBinary<flatan2>(o, "flatan2");
}

// The shifted operators need an output that holds both images: the first
// input's type and number of dimensions (three frames when three-dimensional).
template <int (*Op)(TAMOHDR *, TAMOHDR *, TAMOHDR *, int, int)>
int runShifted(const cli::Options &opts, const char *name) {
    const std::string &a = opts.arg(0, "A"), &b = opts.arg(1, "B"), &out = opts.arg(2, "OUT");
    noExtraArguments(opts, 3);
    const int dr = opts.integer("dr", 0), dc = opts.integer("dc", 0);
    RecordPtr first = readOperand(a), second = readOperand(b);
    // Two complex images: Sub gives their difference, as the workbench's does.
    if (Op == flsubi && first->dtype == TAMO_32CMP && second->dtype == TAMO_32CMP) {
        if (dr != 0 || dc != 0) throw cli::UsageError("complex images are not shifted");
        RecordPtr difference = frontend::complexDifference(first.get(), second.get());
        if (!difference) throw cli::Failure("the two complex images differ in size");
        cli::writeImage(out, difference.get());
        return 0;
    }
    auto length = [](TAMOHDR *img, int k) { return img->orvndim > k ? Tamodimen(img, k) : 1; };
    const long long rows =
        std::max<long long>(length(first.get(), 1) + std::llabs(dr), length(second.get(), 1));
    const long long cols =
        std::max<long long>(length(first.get(), 0) + std::llabs(dc), length(second.get(), 0));
    const int ndim = first->orvndim == 3 ? 3 : 2;
    cli::requireRecordFits(cols, rows, ndim == 3 ? 3 : 1, first->orvbpd, "the output");
    int dims[4] = {ndim, static_cast<int>(cols), static_cast<int>(rows), 3};
    RecordPtr dst(Tamocreate(first->orvdt, dims, 11, 0));
    if (!dst) throw cli::Failure("cannot create the output image");
    int status;
    {
        cli::LibraryTextAside aside(out);
        status = Op(first.get(), second.get(), dst.get(), dr, dc);
    }
    cli::checkStatus(status, name);
    cli::writeImage(out, dst.get());
    return 0;
}

int runAdd(const cli::Options &o) {
    return runShifted<fladdi>(o, "fladdi");
}
int runSub(const cli::Options &o) {
    return runShifted<flsubi>(o, "flsubi");
}
int runMul(const cli::Options &o) {
    return runShifted<flmuli>(o, "flmuli");
}
int runDiv(const cli::Options &o) {
    return runShifted<fldivi>(o, "fldivi");
}

#define TAMO_FILES_HELP                                                                  \
    "  IN, A, B   own-format file, \"-\" for standard input, or a picture (read as a\n"  \
    "             \"float\" image of 3 frames R, G, B); images of other numeric types\n" \
    "             are converted to \"float\"\n"                                          \
    "  OUT        own-format file, \"-\" for standard output, or a picture\n"

#define TAMO_SHIFT_HELP                                                                \
    "B is displaced by DR rows and DC columns relative to A (negative: up or left);\n" \
    "OUT has max(rows(A) + |DR|, rows(B)) rows and max(cols(A) + |DC|, cols(B))\n"     \
    "columns, A's type, and three frames when A has three dimensions. Positions\n"     \
    "outside an image count as 0.\n" TAMO_FILES_HELP                                   \
    "  --dr DR    row offset of B (default 0)\n"                                       \
    "  --dc DC    column offset of B (default 0)\n"

const cli::Registrar kAbs(
    {"abs",
     "Absolute value of every pixel (flabsolute)",
     "Usage: tamo abs IN OUT\n\nOUT = |IN| for a \"float\" image.\n" TAMO_FILES_HELP,
     {},
     {},
     runAbs});
const cli::Registrar kAdds({"adds",
                            "Add a constant to every pixel (fladds)",
                            "Usage: tamo adds IN OUT --value C\n\nOUT = IN + C.\n" TAMO_FILES_HELP
                            "  --value C  the constant (default 0)\n",
                            {"value"},
                            {},
                            runAdds});
const cli::Registrar kMults({"mults",
                             "Multiply every pixel by a constant (flmults)",
                             "Usage: tamo mults IN OUT --value C\n\nOUT = IN * C.\n" TAMO_FILES_HELP
                             "  --value C  the factor (default 1)\n",
                             {"value"},
                             {},
                             runMults});
const cli::Registrar kExp(
    {"exp",
     "Exponential of every pixel, held at 255 (flexp)",
     "Usage: tamo exp IN OUT --scale S\n\nOUT = exp(IN / S), 255 where that "
     "exceeds 255.\n" TAMO_FILES_HELP
     "  --scale S  divisor applied before the exponential, not 0 (default 1)\n",
     {"scale"},
     {},
     runExp});
const cli::Registrar kLn({"ln",
                          "Natural logarithm of every pixel (flln)",
                          "Usage: tamo ln IN OUT\n\nOUT = ln(IN) where IN > 0, else 0 (with a "
                          "warning on standard error).\n" TAMO_FILES_HELP,
                          {},
                          {},
                          runLn});
const cli::Registrar kSqrt({"sqrt",
                            "Square root of every pixel (flsqrt)",
                            "Usage: tamo sqrt IN OUT\n\nOUT = sqrt(IN); a negative value stops the "
                            "command and nothing is written.\n" TAMO_FILES_HELP,
                            {},
                            {},
                            runSqrtCmd});
const cli::Registrar kInv({"inv",
                           "Invert about the maximum (flinv)",
                           "Usage: tamo inv IN OUT\n\nOUT = max(IN) - IN; prints the range "
                           "found.\n" TAMO_FILES_HELP,
                           {},
                           {},
                           runInv});
const cli::Registrar kCp({"cp",
                          "Copy a \"float\" or \"32cmp\" image (flcp)",
                          "Usage: tamo cp IN OUT\n\nOUT = IN.\n" TAMO_FILES_HELP,
                          {},
                          {},
                          runCp});
const cli::Registrar kCrcopy({"crcopy",
                              "Copy an image of any type (flcrcopy)",
                              "Usage: tamo crcopy IN OUT\n\nOUT is a new image with IN's type, "
                              "dimensions and values.\n" TAMO_FILES_HELP,
                              {},
                              {},
                              runCrcopy});
const cli::Registrar kIfneg({"ifneg",
                             "Print 1 if any pixel is negative, else 0 (ifneg)",
                             "Usage: tamo ifneg IN\n\nPrints 1 when a value of IN is below 0, "
                             "else 0.\n" TAMO_FILES_HELP,
                             {},
                             {},
                             runIfneg});
const cli::Registrar kIntcp({"intcp",
                             "Copy the first plane of a \"32bit\" image (intcp)",
                             "Usage: tamo intcp IN OUT [--colour]\n\nCopies the first plane of a "
                             "\"32bit\" image IN into a \"32bit\" OUT;\nany other type stops the "
                             "command.\n" TAMO_FILES_HELP
                             "  --colour   OUT has three frames, each holding the plane\n",
                             {},
                             {"colour"},
                             runIntcp});
const cli::Registrar kGray(
    {"gray",
     "Grey image of a colour image (flcolor2gray)",
     "Usage: tamo gray IN OUT\n\nOUT = 0.21 R + 0.72 G + 0.07 B of the "
     "three frames of IN (a\ntwo-dimensional IN is copied).\n" TAMO_FILES_HELP,
     {},
     {},
     runGray});
const cli::Registrar kAddv(
    {"addv",
     "Sum of two images of the same size (fladdv)",
     "Usage: tamo addv A B OUT\n\nOUT = A + B (\"float\" or \"32cmp\").\n" TAMO_FILES_HELP,
     {},
     {},
     runAddv});
const cli::Registrar kMultv({"multv",
                             "Product of two images of the same size (flmultv)",
                             "Usage: tamo multv A B OUT\n\nOUT = A * B (complex product for "
                             "\"32cmp\").\n" TAMO_FILES_HELP,
                             {},
                             {},
                             runMultv});
const cli::Registrar kDivv({"divv",
                            "Quotient of two images of the same size (fldivv)",
                            "Usage: tamo divv A B OUT\n\nOUT = A / B (complex quotient for "
                            "\"32cmp\").\n" TAMO_FILES_HELP,
                            {},
                            {},
                            runDivv});
const cli::Registrar kAtan2({"atan2",
                             "Angle atan2(A, B) of two images (flatan2)",
                             "Usage: tamo atan2 A B OUT\n\nOUT = atan2(A, B) in radians, A the "
                             "ordinate.\n" TAMO_FILES_HELP,
                             {},
                             {},
                             runAtan2});
const cli::Registrar kAdd({"add",
                           "Sum of two images, the second shifted (fladdi)",
                           "Usage: tamo add A B OUT [--dr DR] [--dc DC]\n\nOUT = A + shifted "
                           "B.\n" TAMO_SHIFT_HELP,
                           {"dr", "dc"},
                           {},
                           runAdd});
const cli::Registrar kSub({"sub",
                           "Difference of two images, the second shifted (flsubi)",
                           "Usage: tamo sub A B OUT [--dr DR] [--dc DC]\n\nOUT = A - shifted "
                           "B; two \"32cmp\" images of one size give their\ncomplex "
                           "difference, unshifted.\n" TAMO_SHIFT_HELP,
                           {"dr", "dc"},
                           {},
                           runSub});
const cli::Registrar kMul({"mul",
                           "Product of two images, the second shifted (flmuli)",
                           "Usage: tamo mul A B OUT [--dr DR] [--dc DC]\n\nOUT = A * shifted "
                           "B.\n" TAMO_SHIFT_HELP,
                           {"dr", "dc"},
                           {},
                           runMul});
const cli::Registrar kDiv({"div",
                           "Quotient of two images, the second shifted (fldivi)",
                           "Usage: tamo div A B OUT [--dr DR] [--dc DC]\n\nOUT = A / shifted B, "
                           "255 where B is 0 or absent.\n" TAMO_SHIFT_HELP,
                           {"dr", "dc"},
                           {},
                           runDiv});

}  // namespace
