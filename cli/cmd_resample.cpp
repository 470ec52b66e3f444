// tamo resize: resampling an image to a given number of rows and columns.

#include <cstdio>
#include <string>

#include "cli.h"

namespace {

int runResize(const cli::Options &opts) {
    const std::string &in = opts.arg(0, "IN");
    const std::string &out = opts.arg(1, "OUT");
    if (opts.positional.size() > 2)
        throw cli::UsageError("unexpected argument '" + opts.positional[2] + "'");
    if (!opts.has("rows") || !opts.has("cols"))
        throw cli::UsageError("--rows and --cols are required");
    const int rows = opts.integer("rows", 0);
    const int cols = opts.integer("cols", 0);
    const int mode = opts.integer("mode", 0);
    if (rows < 1 || cols < 1) throw cli::UsageError("--rows and --cols must be at least 1");
    if (mode < 0 || mode > 2) throw cli::UsageError("--mode must be 0, 1 or 2");

    tamo::RecordPtr src = cli::readImage(in);
    const int ndim = src->orvndim;
    if (ndim != 2 && ndim != 3)
        throw cli::Failure("cannot resize an image of " + std::to_string(ndim) +
                           " dimensions (2 or 3 are needed)");
    cli::requireRecordFits(cols, rows, ndim == 3 ? src->orvdim[2].dlen : 1, src->orvbpd,
                           "the resized image");
    int dims[4] = {ndim, cols, rows, ndim == 3 ? src->orvdim[2].dlen : 0};
    tamo::RecordPtr dst(Tamocreate(src->orvdt, dims, 11, src->orvbpd));
    if (!dst) throw cli::Failure("cannot create the resized image");
    dst->orvcomp = src->orvcomp;

    int status;
    {
        cli::LibraryTextAside quiet(out);
        status = Tamozoomupdown(src.get(), dst.get(), mode);
    }
    cli::checkStatus(status, "Tamozoomupdown");
    cli::writeImage(out, dst.get());
    return 0;
}

const cli::Registrar resize({
    "resize",
    "Resample an image to a given number of rows and columns",
    "Usage: tamo resize IN OUT --rows R --cols C [--mode M]\n"
    "\n"
    "Resamples IN to R rows and C columns; the result keeps IN's data type and\n"
    "frames (each frame is resampled on its own).\n"
    "  IN         own-format file, \"-\" for standard input, or a picture (read as\n"
    "             a \"float\" image of 3 frames R, G, B)\n"
    "  OUT        own-format file, \"-\" for standard output, or a picture\n"
    "  --rows R   rows of the result (at least 1)\n"
    "  --cols C   columns of the result (at least 1)\n"
    "  --mode M   0 bilinear interpolation (default), 1 pixel replication,\n"
    "             2 mean of 2 x 2 blocks (3-frame images: bilinear)\n"
    "\n"
    "A 2-D image maps output pixel (i, j) onto input position (i*Ri/R, j*Ci/C),\n"
    "the first output pixel onto the first input pixel; an image with frames is\n"
    "sampled half a pixel further. The operation's progress lines go to standard\n"
    "output (to standard error when OUT is \"-\").\n",
    {"rows", "cols", "mode"},
    {},
    runResize,
});

}  // namespace
