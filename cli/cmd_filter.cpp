// Gaussian-derivative filtering, edge padding and the differential measures
// as tamo subcommands.

#include <cstdio>
#include <string>

#include "cli.h"

namespace {

using tamo::RecordPtr;

// The filters work on "float" images: other numeric images are converted,
// as the workbench converts the files it loads.
RecordPtr readFloat(const std::string &path) {
    RecordPtr img = cli::readImage(path);
    if (img->dtype == TAMO_32FLT) return img;
    RecordPtr converted = cli::createLike(img.get(), "float");
    if (Tamoany2any(img.get(), converted.get()) != 0)
        throw cli::Failure(std::string("cannot filter an image of type \"") + img->orvdt + "\"");
    return converted;
}

struct Paths {
    std::string in, out;
};

Paths inOut(const cli::Options &opts) {
    Paths p{opts.arg(0, "IN"), opts.arg(1, "OUT")};
    if (opts.positional.size() > 2)
        throw cli::UsageError("unexpected argument '" + opts.positional[2] + "'");
    return p;
}

float sigmaOf(const cli::Options &opts) {
    return opts.real("sigma", 1.0);
}

int runDog(const cli::Options &opts) {
    const Paths p = inOut(opts);
    const int order = opts.integer("order", 0), direction = opts.integer("direction", 0);
    // Pairs the filter has no kernel for; two of them would end the process.
    if (order < 0 || order > 3) throw cli::UsageError("--order must be 0 to 3");
    if (direction < 0 || direction > 3) throw cli::UsageError("--direction must be 0 to 3");
    if (direction == 2 && order != 2) throw cli::UsageError("--direction 2 needs --order 2");
    if (direction == 3 && order != 0) throw cli::UsageError("--direction 3 needs --order 0");
    const float sigma = sigmaOf(opts);
    RecordPtr src = readFloat(p.in);
    RecordPtr dst = cli::createLike(src.get(), "float");
    int status;
    {
        cli::LibraryTextAside aside(p.out);
        status = flDoG(src.get(), dst.get(), order, direction, sigma);
    }
    cli::checkStatus(status, "flDoG");
    cli::writeImage(p.out, dst.get());
    return 0;
}

int runPad(const cli::Options &opts) {
    const Paths p = inOut(opts);
    const int rows = opts.integer("rows", 0), cols = opts.integer("cols", 0);
    const int frame = opts.integer("frame", 0);
    if (rows < 0 || cols < 0) throw cli::UsageError("--rows and --cols must be 0 or more");
    if (frame < 0) throw cli::UsageError("--frame must be 0 or more");
    RecordPtr src = readFloat(p.in);
    const long long srcRows = src->orvndim >= 2 ? Tamodimen(src.get(), 1) : 1;
    cli::requireRecordFits(Tamodimen(src.get(), 0) + 2LL * cols, srcRows + 2LL * rows, 1,
                           sizeof(float), "the padded image");
    RecordPtr padded(padme1(src.get(), rows, cols, frame));
    if (!padded) throw cli::Failure("padme1 failed (see the message above)");
    cli::writeImage(p.out, padded.get());
    return 0;
}

// A measure writing a "float" image of the input's size.
template <int (*Op)(TAMOHDR *, TAMOHDR *, float)>
int runMeasure(const cli::Options &opts, const char *name) {
    const Paths p = inOut(opts);
    const float sigma = sigmaOf(opts);
    RecordPtr src = readFloat(p.in);
    RecordPtr dst = cli::createLike(src.get(), "float");
    int status;
    {
        cli::LibraryTextAside aside(p.out);
        status = Op(src.get(), dst.get(), sigma);
    }
    cli::checkStatus(status, name);
    cli::writeImage(p.out, dst.get());
    return 0;
}

int runCurv(const cli::Options &o) {
    return runMeasure<flcurv>(o, "flcurv");
}
int runLaplace(const cli::Options &o) {
    return runMeasure<flLaplace>(o, "flLaplace");
}
int runQvar(const cli::Options &o) {
    return runMeasure<flqvar>(o, "flqvar");
}
int runGmag(const cli::Options &o) {
    return runMeasure<flgmag>(o, "flgmag");
}
int runGdir(const cli::Options &o) {
    return runMeasure<flgdir>(o, "flgdir");
}
int runHarris(const cli::Options &o) {
    return runMeasure<flHarris>(o, "flHarris");
}

int runMarkmax(const cli::Options &opts) {
    const Paths p = inOut(opts);
    const float sigma = sigmaOf(opts);
    RecordPtr src = readFloat(p.in);
    const int cols = Tamodimen(src.get(), 0);
    const int rows = src->orvndim >= 2 ? Tamodimen(src.get(), 1) : 1;
    int dims[4] = {3, cols, rows, 3};
    RecordPtr dst(Tamocreate("float", dims, 11, 0));
    if (!dst) throw cli::Failure("cannot create the output image");
    int status;
    {
        cli::LibraryTextAside aside(p.out);
        status = flmarkmax(src.get(), dst.get(), sigma);
    }
    cli::checkStatus(status, "flmarkmax");
    cli::writeImage(p.out, dst.get());
    return 0;
}

#define TAMO_FILTER_FILES_HELP                                                          \
    "  IN         own-format file, \"-\" for standard input, or a picture (read as a\n" \
    "             \"float\" image of 3 frames R, G, B); other numeric types are\n"      \
    "             converted to \"float\"\n"                                             \
    "  OUT        own-format file, \"-\" for standard output, or a picture\n"

#define TAMO_SIGMA_HELP "  --sigma S  standard deviation of the Gaussian in pixels (default 1)\n"

const cli::Registrar kDog(
    {"dog",
     "Gaussian blur or Gaussian derivative of an image (flDoG)",
     "Usage: tamo dog IN OUT [--order N] [--direction D] [--sigma S]\n"
     "\n"
     "Correlates every frame of IN with a sampled Gaussian or one of its partial\n"
     "derivatives over replicated borders. The image needs at least 4K+2 rows,\n"
     "K = (int)(3|S|) + 1.\n" TAMO_FILTER_FILES_HELP
     "  --order N      derivative order 0..3 (default 0: blur)\n"
     "  --direction D  0 along x (columns), 1 along y (rows), 2 mixed x-y (order 2\n"
     "                 only), 3 Laplacian of Gaussian (order 0 only); default 0\n"
     "  --sigma S      standard deviation in pixels (default 1); negative: |S|, and\n"
     "                 with direction 3 the kernel values are squared\n",
     {"order", "direction", "sigma"},
     {},
     runDog});
const cli::Registrar kPad({"pad",
                           "One frame surrounded by replicated borders (padme1)",
                           "Usage: tamo pad IN OUT [--rows PR] [--cols PC] [--frame F]\n"
                           "\n"
                           "OUT is frame F of IN with PR replicated rows above and below and PC\n"
                           "replicated columns left and right.\n" TAMO_FILTER_FILES_HELP
                           "  --rows PR  rows added above and below (default 0)\n"
                           "  --cols PC  columns added left and right (default 0)\n"
                           "  --frame F  frame of IN, from 0 (default 0)\n",
                           {"rows", "cols", "frame"},
                           {},
                           runPad});
const cli::Registrar kCurv({"curv",
                            "Isophote curvature (flcurv)",
                            "Usage: tamo curv IN OUT [--sigma S]\n\n"
                            "OUT = (Lxx Ly^2 - 2 Lx Ly Lxy + Lyy Lx^2) / ((Lx^2 + Ly^2)^1.5 + "
                            "0.01).\n" TAMO_FILTER_FILES_HELP TAMO_SIGMA_HELP,
                            {"sigma"},
                            {},
                            runCurv});
const cli::Registrar kLaplace({"laplace",
                               "Laplacian Lxx + Lyy (flLaplace)",
                               "Usage: tamo laplace IN OUT [--sigma S]\n\n"
                               "OUT = Lxx + Lyy; with a negative S, Lxx^2 + Lyy^2 at "
                               "|S|.\n" TAMO_FILTER_FILES_HELP TAMO_SIGMA_HELP,
                               {"sigma"},
                               {},
                               runLaplace});
const cli::Registrar kQvar(
    {"qvar",
     "Quadratic variation (flqvar)",
     "Usage: tamo qvar IN OUT [--sigma S]\n\n"
     "OUT = S^2 (Lxx^2 + Lyy^2 + Lxy^2).\n" TAMO_FILTER_FILES_HELP TAMO_SIGMA_HELP,
     {"sigma"},
     {},
     runQvar});
const cli::Registrar kGmag({"gmag",
                            "Gradient magnitude (flgmag)",
                            "Usage: tamo gmag IN OUT [--sigma S]\n\n"
                            "OUT = sqrt(Lx^2 + Ly^2).\n" TAMO_FILTER_FILES_HELP TAMO_SIGMA_HELP,
                            {"sigma"},
                            {},
                            runGmag});
const cli::Registrar kGdir({"gdir",
                            "Gradient direction in radians (flgdir)",
                            "Usage: tamo gdir IN OUT [--sigma S]\n\n"
                            "OUT = atan2(Ly, Lx).\n" TAMO_FILTER_FILES_HELP TAMO_SIGMA_HELP,
                            {"sigma"},
                            {},
                            runGdir});
const cli::Registrar kHarris(
    {"harris",
     "Harris corner response (flHarris)",
     "Usage: tamo harris IN OUT [--sigma S]\n\n"
     "OUT = b a - d^2 - 0.07 (a + b)^2, a, b, d the 3 x 3 means of "
     "Lx^2, Ly^2, Lx Ly;\nthe border rows and columns are 0.\n" TAMO_FILTER_FILES_HELP
         TAMO_SIGMA_HELP,
     {"sigma"},
     {},
     runHarris});
const cli::Registrar kMarkmax({"markmax",
                               "Picture with local maxima in red (flmarkmax)",
                               "Usage: tamo markmax IN OUT [--sigma S]\n\n"
                               "OUT is a three-frame colour picture of IN stretched to 0..255 "
                               "(blurred at S\nunless S is 0) with every strict local maximum "
                               "red; the border is 0.\n" TAMO_FILTER_FILES_HELP TAMO_SIGMA_HELP,
                               {"sigma"},
                               {},
                               runMarkmax});

}  // namespace
