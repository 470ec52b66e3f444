// tamo histeq, correlate, pcon, ccl, hog, showhog: histogram equalisation,
// template correlation, piecewise-constant restoration, connected
// components and HoG descriptors.

#include <cstdio>
#include <memory>
#include <string>

#include "atomicfile.h"
#include "cli.h"

namespace {

void noExtraArguments(const cli::Options &opts, std::size_t expected) {
    if (opts.positional.size() > expected)
        throw cli::UsageError("unexpected argument '" + opts.positional[expected] + "'");
}

// The image as "float" (the working type of these operators).
tamo::RecordPtr asFloat(tamo::RecordPtr img) {
    if (img->dtype == TAMO_32FLT) return img;
    tamo::RecordPtr converted = cli::createLike(img.get(), "float");
    if (Tamoany2any(img.get(), converted.get()) != 0)
        throw cli::Failure(std::string("cannot convert \"") + img->orvdt + "\" to \"float\"");
    return converted;
}

int frames(const TAMOHDR *img) {
    return img->orvndim >= 3 ? img->orvdim[2].dlen : 1;
}

int runHisteq(const cli::Options &opts) {
    const std::string &in = opts.arg(0, "IN");
    const std::string &out = opts.arg(1, "OUT");
    noExtraArguments(opts, 2);
    const int n = opts.integer("neighbourhood", 0);
    if (n < 0) throw cli::UsageError("--neighbourhood must be 0 or more");
    tamo::RecordPtr img = asFloat(cli::readImage(in));
    tamo::RecordPtr result = cli::createLike(img.get(), "float");
    {
        cli::LibraryTextAside quiet(out);
        cli::checkStatus(flHistogramEq(img.get(), result.get(), n), "flHistogramEq");
    }
    cli::writeImage(out, result.get());
    return 0;
}

int runCorrelate(const cli::Options &opts) {
    const std::string &image = opts.arg(0, "IMAGE");
    const std::string &templ = opts.arg(1, "TEMPLATE");
    const std::string &out = opts.arg(2, "OUT");
    noExtraArguments(opts, 3);
    tamo::RecordPtr a = asFloat(cli::readImage(image));
    tamo::RecordPtr b = asFloat(cli::readImage(templ));
    if (a->orvndim != b->orvndim)
        throw cli::Failure("I can't correlate a gray scale image with a color image. Sorry.");
    tamo::RecordPtr result = cli::createLike(a.get(), "float");
    {
        cli::LibraryTextAside quiet(out);
        cli::checkStatus(flcorrelate(a.get(), b.get(), result.get()), "flcorrelate");
    }
    cli::writeImage(out, result.get());
    return 0;
}

int runPcon(const cli::Options &opts) {
    const std::string &estimate = opts.arg(0, "ESTIMATE");
    const std::string &data = opts.arg(1, "DATA");
    const std::string &out = opts.arg(2, "OUT");
    noExtraArguments(opts, 3);
    const float sigma = opts.real("sigma", 2.0);
    const float r = opts.real("r", 0.03);
    const float b = opts.real("b", 4.0);
    const float t1 = opts.real("t1", 1.0);
    const float t2 = opts.real("t2", 0.005);
    const float dlt = opts.real("dlt", 0.99);
    // The data term divides by sigma: 0 would make the estimate NaN.
    if (!(sigma > 0.0f)) throw cli::UsageError("--sigma must be above 0");
    // A last temperature of 0 or a factor of 1 or more would never end.
    if (!(t2 > 0.0f)) throw cli::UsageError("--t2 must be above 0");
    if (!(dlt < 1.0f)) throw cli::UsageError("--dlt must be below 1");
    tamo::RecordPtr f = asFloat(cli::readImage(estimate));
    tamo::RecordPtr g = asFloat(cli::readImage(data));
    if (f->orvndim == 3 || g->orvndim == 3)
        throw cli::Failure("This function cannot run on color images.");
    {
        cli::LibraryTextAside quiet(out);
        cli::checkStatus(pconsub(f.get(), g.get(), sigma, r, b, t1, t2, dlt), "pconsub");
    }
    cli::writeImage(out, f.get());
    // The annealing also settles the data's border rows and columns.
    if (opts.has("data-out")) cli::writeImage(opts.text("data-out", ""), g.get());
    return 0;
}

int runCcl(const cli::Options &opts) {
    const std::string &in = opts.arg(0, "IN");
    const std::string &out = opts.arg(1, "OUT");
    noExtraArguments(opts, 2);
    const float t = opts.real("thresh", 2.0);
    float lo = opts.real("minval", 10.0);
    float hi = opts.real("maxval", 255.0);
    const int eraseSmall = opts.integer("erase-small", 1);
    const int eraseLarge = opts.integer("erase-large", 0);
    if (eraseSmall < 0) throw cli::UsageError("--erase-small must be 0 or more");
    if (eraseLarge < 0) throw cli::UsageError("--erase-large must be 0 or more");
    const std::string areas = opts.text("areas", "");
    const std::string type = opts.text("type", "32bit");
    // A zero bound means the workbench's default for it.
    if (lo == 0.0f) lo = 1.0f;
    if (hi == 0.0f) hi = 256.0f;
    if (hi - lo <= 0.0f) throw cli::Failure("Maxvalue and Minvalue don't make sense.");
    if (!Tamotype(type.c_str())) throw cli::UsageError("unknown data type '" + type + "'");

    tamo::RecordPtr img = cli::readImage(in);
    tamo::RecordPtr labels =
        cli::createLike(img.get(), type.c_str(), opts.has("zero-frames") ? 0 : 2);
    // The areas file too replaces its old version only when complete.
    std::unique_ptr<tamo::AtomicFile> areasFile;
    if (!areas.empty()) {
        areasFile = std::make_unique<tamo::AtomicFile>(areas);
        if (!areasFile->ok())
            throw cli::Failure("cannot create the areas file '" + areas +
                               "': " + areasFile->error());
    }
    int count = 0;
    int rc = 0;
    {
        cli::LibraryTextAside quiet(out);
        rc = cclC4_3(img.get(), eraseSmall, eraseLarge, &count,
                     areasFile ? areasFile->temporaryPath().c_str() : "", labels.get(), t, lo, hi);
    }
    if (rc == TAMO_CCL_EAREAS) throw cli::Failure("cannot write the areas file '" + areas + "'");
    cli::checkStatus(rc, "cclC4_3");
    cli::writeImage(out, labels.get());
    if (areasFile && !areasFile->commit())
        throw cli::Failure("cannot write the areas file '" + areas + "': " + areasFile->error());
    if (!cli::reportValue("count", count))
        std::fprintf(out == "-" ? stderr : stdout, "found %d labels\n", count);
    return 0;
}

int runHog(const cli::Options &opts) {
    const std::string &in = opts.arg(0, "IN");
    const std::string &out = opts.arg(1, "OUT");
    noExtraArguments(opts, 2);
    tamo::RecordPtr img = cli::readImage(in);
    const int cols = img->orvdim[0].dlen / 8;
    const int rows = img->orvndim >= 2 ? img->orvdim[1].dlen / 8 : 0;
    if (cols == 0 || rows == 0) throw cli::Failure("the image is smaller than one 8 x 8 cell");
    if (img->orvndim == 3 && frames(img.get()) != 3)
        throw cli::Failure("a three-dimensional image needs three frames (R, G, B)");
    int dims[4] = {3, cols, rows, 9};
    tamo::RecordPtr descriptor(Tamocreate("float", dims, 11, 0));
    if (!descriptor) throw cli::Failure("cannot create the descriptor image");
    {
        cli::LibraryTextAside quiet(out);
        cli::checkStatus(HoGdescriptor(img.get(), descriptor.get()), "HoGdescriptor");
    }
    cli::writeImage(out, descriptor.get());
    return 0;
}

int runShowHog(const cli::Options &opts) {
    const std::string &in = opts.arg(0, "IN");
    const std::string &out = opts.arg(1, "OUT");
    noExtraArguments(opts, 2);
    tamo::RecordPtr descriptor = cli::readImage(in);
    if (descriptor->orvndim != 3 || frames(descriptor.get()) != 9)
        throw cli::Failure("To view a HoG, input must have 9 frames");
    int dims[3] = {2, descriptor->orvdim[0].dlen * 9, descriptor->orvdim[1].dlen * 9};
    tamo::RecordPtr picture(Tamocreate("float", dims, 11, 0));
    if (!picture) throw cli::Failure("cannot create the picture");
    cli::checkStatus(ShowHoG(descriptor.get(), picture.get()), "ShowHoG");
    cli::writeImage(out, picture.get());
    return 0;
}

const cli::Registrar histeq({
    "histeq",
    "Histogram equalisation, whole image or in sliding windows",
    "Usage: tamo histeq IN OUT [--neighbourhood N]\n"
    "\n"
    "Equalises the grey-level histogram of IN (converted to \"float\"): each pixel\n"
    "becomes 255 times the share of pixels at or below its level. A colour image\n"
    "(three frames) shares one histogram between its frames. Negative pixels on\n"
    "the image border are listed on standard output.\n"
    "  IN, OUT            own-format files (\"-\" for the standard streams) or pictures\n"
    "  --neighbourhood N  0 (default): one histogram for the whole image; N > 0:\n"
    "                     a (2N+1) x (2N+1) window around each pixel\n",
    {"neighbourhood"},
    {},
    runHisteq,
});

const cli::Registrar correlate({
    "correlate",
    "Correlation of a template with every position of an image",
    "Usage: tamo correlate IMAGE TEMPLATE OUT\n"
    "\n"
    "Writes, at every position where TEMPLATE fits inside IMAGE (both converted\n"
    "to \"float\"), the correlation of the template's deviations from its mean\n"
    "with the image's deviations from its local mean; other pixels stay 0. Grey\n"
    "results are divided by the template's rows squared, its columns and its\n"
    "standard deviation; colour images (three frames) are correlated frame by\n"
    "frame, each divided by the frame's total squared deviation.\n"
    "  IMAGE, TEMPLATE, OUT  own-format files (\"-\" for the standard streams) or\n"
    "                        pictures; both grey or both colour\n",
    {},
    {},
    runCorrelate,
});

const cli::Registrar pcon({
    "pcon",
    "Piecewise-constant restoration by mean-field annealing",
    "Usage: tamo pcon ESTIMATE DATA OUT [--sigma S] [--r R] [--b B] [--t1 T1]\n"
    "                 [--t2 T2] [--dlt D] [--data-out FILE]\n"
    "\n"
    "Moves the grey image ESTIMATE towards a piecewise-constant version of the\n"
    "grey image DATA (both converted to \"float\", same size; they may be the same\n"
    "file) while the temperature falls from T1 by the factor D per iteration\n"
    "until it is below T2, and writes the estimate to OUT.\n"
    "  ESTIMATE, DATA, OUT  own-format files (\"-\" for the standard streams) or\n"
    "                       pictures\n"
    "  --sigma S  weight of the data term, above 0 (default 2.0)\n"
    "  --r R      step size (default 0.03)\n"
    "  --b B      weight of the neighbour term (default 4.0)\n"
    "  --t1 T1    first temperature (default 1.0)\n"
    "  --t2 T2    last temperature, above 0 (default 0.005)\n"
    "  --dlt D    cooling factor, below 1 (default 0.99)\n"
    "  --data-out FILE  also write DATA as the annealing leaves it (its border\n"
    "                   rows and columns change)\n",
    {"sigma", "r", "b", "t1", "t2", "dlt", "data-out"},
    {},
    runPcon,
});

const cli::Registrar ccl({
    "ccl",
    "Connected-component labelling",
    "Usage: tamo ccl IN OUT [--thresh T] [--minval LO] [--maxval HI]\n"
    "                [--erase-small N] [--erase-large N] [--areas FILE] [--type NAME]\n"
    "                [--zero-frames]\n"
    "\n"
    "Labels the connected regions of IN (colour: the magnitude of R, G, B divided\n"
    "by 3). Pixels with values in LO..HI join their upper, left and upper-left\n"
    "neighbours when the values differ by at most T. Prints \"found N labels\".\n"
    "  IN, OUT          own-format files (\"-\" for the standard streams) or pictures\n"
    "  --thresh T       largest difference inside a region (default 2.0)\n"
    "  --minval LO      lower bound of the band (default 10; 0 means 1)\n"
    "  --maxval HI      upper bound of the band (default 255; 0 means 256)\n"
    "  --erase-small N  erase regions of fewer than N pixels (default 1; 0: off)\n"
    "  --erase-large N  erase regions of more than N pixels (default 0: off)\n"
    "  --areas FILE     write \"label area\" lines for every label to FILE\n"
    "  --type NAME      data type of the label image (default \"32bit\")\n"
    "  --zero-frames    the label image has all of IN's dimensions, as the\n"
    "                   workbench makes it for a colour image\n",
    {"thresh", "minval", "maxval", "erase-small", "erase-large", "areas", "type"},
    {"zero-frames"},
    runCcl,
});

const cli::Registrar hog({
    "hog",
    "HoG descriptor: 9-bin gradient orientation histograms of 8 x 8 cells",
    "Usage: tamo hog IN OUT\n"
    "\n"
    "Writes a \"float\" image of columns/8 x rows/8 cells and 9 frames: frame k\n"
    "counts the pixels of each cell whose gradient direction lies in\n"
    "[40k, 40k + 40) degrees. A colour IN (three frames) uses the gradient\n"
    "averaged over its frames.\n"
    "  IN, OUT  own-format files (\"-\" for the standard streams) or pictures\n",
    {},
    {},
    runHog,
});

const cli::Registrar showhog({
    "showhog",
    "Picture of a HoG descriptor as line glyphs",
    "Usage: tamo showhog IN OUT\n"
    "\n"
    "Draws the 9-frame descriptor IN (as written by tamo hog) as a \"float\" picture\n"
    "of 9 x 9 pixels per cell, one line per non-empty bin, valued by its count.\n"
    "  IN, OUT  own-format files (\"-\" for the standard streams) or pictures\n",
    {},
    {},
    runShowHog,
});

}  // namespace
