// tamo info, tamo convert: looking at image files and moving images between
// the own format and pictures.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "cli.h"
#include "pictures.h"
#include "planes.h"
#include "shownvalues.h"
#include "statistics.h"
#include "tiffimage.h"

namespace {

// Significant digits that print every value of img's type exactly.
int exactDigits(const TAMOHDR *img) {
    int digits = 9;
    tamo::visitScalar(img->dtype, [&](auto tag, tamo::ElemLayout) {
        using T = typename decltype(tag)::type;
        if (std::is_same_v<T, double>) digits = 17;
        if (std::is_same_v<T, int32_t>) digits = 10;
    });
    return digits;
}

int runInfo(const cli::Options &opts) {
    opts.arg(0, "FILE");
    bool several = opts.positional.size() > 1;
    for (std::size_t i = 0; i < opts.positional.size(); ++i) {
        const std::string &path = opts.positional[i];
        tamo::RecordPtr img = cli::readImage(path);
        if (several) std::printf("%s==> %s <==\n", i ? "\n" : "", path.c_str());
        printhdr(img.get());
        std::printf("dimensions:");
        for (int d = 0; d < img->orvndim; ++d) std::printf(" %d", img->orvdim[d].dlen);
        std::printf("\n");
        const std::vector<frontend::FrameStats> stats = frontend::frameStatistics(img.get());
        if (stats.empty()) {
            std::printf("no statistics for data type \"%s\"\n", img->orvdt);
            continue;
        }
        // Interleaved types carry their channels in the code's bits 0x10 and 0x20.
        const char *unit = (img->dtype & 0x30) ? "channel" : "frame";
        // The extremes are values of the image: printed exactly.
        const int digits = exactDigits(img.get());
        for (std::size_t f = 0; f < stats.size(); ++f)
            std::printf("%s %zu: min %.*g max %.*g mean %.9g stddev %.9g\n", unit, f, digits,
                        stats[f].min, digits, stats[f].max, stats[f].mean, stats[f].sd);
        std::fflush(stdout);
    }
    return 0;
}

// The picture the workbench shows of an image, as a "u8bit" record: three
// frames in colour with one range over all of them, anything else as the grey
// picture of one plane (frame `frame` of a 3-D image, the magnitude of a
// complex one), stretched from its smallest value (0) to its largest (255).
tamo::RecordPtr stretchedForDisplay(TAMOHDR *img, int frame, const std::string &out) {
    const int ndim = img->orvndim;
    if (ndim < 2 || ndim > 3) throw cli::Failure("--stretch needs a 2-D or 3-D image");
    const int frames = ndim == 3 ? Tamodimen(img, 2) : 1;
    const bool colour = ndim == 3 && frames == 3;
    const auto complex = [](const TAMOHDR *r) {
        return r->dtype == TAMO_32CMP || r->dtype == TAMO_64CMP;
    };
    tamo::RecordPtr source;
    TAMOHDR *from = img;
    if (!colour) {
        if (frame < 0 || frame >= frames)
            throw cli::UsageError("--frame must be 0 to " + std::to_string(frames - 1));
        if (ndim == 3) {
            source.reset(Tamoslice(img, "f", frame));
            if (!source) throw cli::Failure("cannot cut frame " + std::to_string(frame));
            from = source.get();
        }
    }
    // Complex images are shown by their magnitude, which exists for one
    // "32cmp" plane only.
    const bool refused = colour ? complex(img) : complex(from) && from->dtype != TAMO_32CMP;
    tamo::RecordPtr bytes;
    if (!refused) {
        cli::LibraryTextAside aside(out);
        // A constant image cannot be stretched and stays black, as on screen.
        bytes = frontend::shownBytes(from, 0, 0);
    }
    if (!bytes)
        throw cli::Failure(std::string("cannot show an image of type \"") + from->orvdt + "\"");
    return bytes;
}

// The workbench's Crop: "float" pixels of the rectangle "C,R,W,H" of img.
tamo::RecordPtr cropped(const TAMOHDR *img, const std::string &rectangle) {
    int c0 = 0, r0 = 0, w = 0, h = 0;
    char end = 0;
    if (std::sscanf(rectangle.c_str(), "%d,%d,%d,%d%c", &c0, &r0, &w, &h, &end) != 4 || w < 1 ||
        h < 1)
        throw cli::UsageError("--crop needs C,R,W,H: a column, a row, a width and a height");
    if (c0 < 0 || r0 < 0 || static_cast<long long>(c0) + w > tamo::columnsOf(img) ||
        static_cast<long long>(r0) + h > tamo::rowsOf(img))
        throw cli::Failure("the rectangle " + rectangle + " does not lie inside the image");
    tamo::RecordPtr out = frontend::cropToFloat(img, c0, r0, w, h);
    if (!out) throw cli::Failure("cannot create the image record");
    return out;
}

// The workbench's "2D 2 3D": a "float" image of `frames` frames, each the
// first frame of img.
tamo::RecordPtr spread(const TAMOHDR *img, int frames) {
    if (frames < 1) throw cli::UsageError("--spread needs a frame count of at least 1");
    const int dims[4] = {3, tamo::columnsOf(img), tamo::rowsOf(img), frames};
    tamo::RecordPtr out(Tamocreate("float", dims, TAMO_CREATE_ZEROED, 0));
    if (!out) throw cli::Failure("cannot create the image record");
    float *dst = reinterpret_cast<float *>(out->orvptr);
    const long long plane = static_cast<long long>(dims[1]) * dims[2];
    frontend::planeAsFloats(img, 0, dst);
    for (int f = 1; f < frames; ++f) std::memcpy(dst + f * plane, dst, sizeof(float) * plane);
    return out;
}

// The values an image window's Save writes into its slot when it shows img
// with the settings "LEVEL,WINDOW,BRIGHT,RED,GREEN,BLUE": img's type and
// dimensions.
tamo::RecordPtr savedView(TAMOHDR *img, const std::string &settings) {
    frontend::ShownSettings s;
    char end = 0;
    if (std::sscanf(settings.c_str(), "%d,%d,%d,%d,%d,%d%c", &s.level, &s.window, &s.bright, &s.red,
                    &s.green, &s.blue, &end) != 6)
        throw cli::UsageError("--saved-view needs LEVEL,WINDOW,BRIGHT,RED,GREEN,BLUE");
    tamo::RecordPtr work = cli::createLike(img, "float");
    float top = 0, bottom = 0;
    if (frontend::brScale(img, work.get(), 255, 0, &top, &bottom) != 0)
        throw cli::Failure(std::string("a \"") + img->orvdt + "\" image has no values to show");
    const int planes = work->orvndim == 3 ? std::min(3, tamo::framesOf(img)) : 1;
    tamo::RecordPtr values = frontend::savedValues(work.get(), planes, bottom, top, s);
    tamo::RecordPtr out = cli::createLike(img, img->orvdt);
    if (!values) throw cli::Failure("cannot create the image record");
    std::memcpy(out->orvptr, img->orvptr,
                static_cast<std::size_t>(tamo::elementCount(img) * img->orvbpd));
    for (int c = 0; c < planes; ++c)
        for (int j = 0; j < tamo::rowsOf(img); ++j)
            for (int i = 0; i < tamo::columnsOf(img); ++i)
                Tamofpp3d(out.get(), c, j, i, Tamofgp3d(values.get(), c, j, i));
    out->orvcomp = img->orvcomp;
    return out;
}

int runConvert(const cli::Options &opts) {
    const std::string &in = opts.arg(0, "IN");
    const std::string &out = opts.arg(1, "OUT");
    if (opts.positional.size() > 2)
        throw cli::UsageError("unexpected argument '" + opts.positional[2] + "'");
    if (opts.has("compress") && opts.has("no-compress"))
        throw cli::UsageError("--compress and --no-compress exclude each other");

    const bool typed = opts.has("type");
    const std::string typeName = opts.text("type", "float");
    const TAMODTYPE *type = Tamotype(typeName.c_str());
    if (!type) throw cli::UsageError("unknown data type '" + typeName + "'");

    tamo::RecordPtr img = cli::readImage(in, typeName.c_str());
    if (opts.has("saved-view")) {
        if (opts.has("crop") + opts.has("spread") + opts.has("zero") + opts.has("stretch") > 0)
            throw cli::UsageError("--saved-view takes no --crop, --spread, --zero or --stretch");
        img = savedView(img.get(), opts.text("saved-view", ""));
    }
    if (opts.has("crop") || opts.has("spread")) {
        if (opts.has("crop") + opts.has("spread") + opts.has("zero") + opts.has("stretch") > 1)
            throw cli::UsageError("--crop, --spread, --zero and --stretch exclude each other");
        if (!frontend::visitPlanar(img.get(), [](const auto *) {}))
            throw cli::Failure(std::string("--crop and --spread need one value per pixel, not \"") +
                               img->orvdt + "\"");
        img = opts.has("crop") ? cropped(img.get(), opts.text("crop", ""))
                               : spread(img.get(), opts.integer("spread", 3));
    }
    if (opts.has("zero")) {
        if (opts.has("stretch")) throw cli::UsageError("--zero and --stretch exclude each other");
        tamo::RecordPtr zero = cli::createLike(img.get(), typed ? type->name : img->orvdt);
        zero->orvcomp = img->orvcomp;
        img = std::move(zero);
    } else if (typed && static_cast<uint32_t>(img->dtype) != type->code) {
        if (type->code == TAMO_STRUCT || img->dtype == TAMO_STRUCT)
            throw cli::Failure("cannot convert to or from type \"struct\"");
        tamo::RecordPtr converted = cli::createLike(img.get(), type->name);
        int status = Tamoany2any(img.get(), converted.get());
        if (status != 0)
            throw cli::Failure(std::string("cannot convert \"") + img->orvdt + "\" to \"" +
                               type->name + "\" (code " + std::to_string(status) + ")");
        converted->orvcomp = img->orvcomp;
        img = std::move(converted);
    }
    if (opts.has("stretch")) img = stretchedForDisplay(img.get(), opts.integer("frame", 0), out);
    if (opts.has("compress")) img->orvcomp = 1;
    if (opts.has("no-compress")) img->orvcomp = 0;
    // TIFF files are Deflate-compressed only when asked for.
    if (frontend::isTiffName(out) && !opts.has("compress")) img->orvcomp = 0;
    cli::writeImage(out, img.get());
    return 0;
}

const cli::Registrar info({
    "info",
    "Print the header and per-frame statistics of image files",
    "Usage: tamo info FILE...\n"
    "\n"
    "Prints, for each FILE, the image header and, for each frame (each channel of\n"
    "an interleaved type, the real part of a complex type), the minimum, maximum,\n"
    "mean and standard deviation of the values.\n"
    "  FILE  own-format file, \"-\" for standard input, a TIFF (.tif, .tiff) or\n"
    "        NumPy (.npy) file in the type that holds its values exactly, or a\n"
    "        picture (read as the workbench reads it: a \"float\" image of 3 frames\n"
    "        R, G, B)\n",
    {},
    {},
    runInfo,
});

const cli::Registrar convert({
    "convert",
    "Convert between the own format, its data types and pictures",
    "Usage: tamo convert IN OUT [--type NAME] [--stretch [--frame N] | --zero]\n"
    "                           [--crop C,R,W,H | --spread N | --saved-view S]\n"
    "                           [--compress | --no-compress]\n"
    "\n"
    "  IN             own-format file, \"-\" for standard input, a TIFF (.tif,\n"
    "                 .tiff) or NumPy (.npy) file with its exact values and type,\n"
    "                 or a picture (PNG, JPEG, ...) read as 3 frames R, G, B; a\n"
    "                 name ending in \"Tamob\" is a point file, plotted at scale 1\n"
    "  OUT            own-format file, \"-\" for standard output, a TIFF file (one\n"
    "                 grey page per frame) or .npy file in the image's type, or a\n"
    "                 picture: 2-D images are written grey, 3-frame images in\n"
    "                 colour, values clamped to 0..255 and rounded\n"
    "  --type NAME    data type of the result, any name or alias of the type table\n"
    "                 (\"float\" for pictures when not given; own-format, TIFF\n"
    "                 and .npy input keeps its type when not given)\n"
    "  --stretch      write the picture the workbench shows: values stretched\n"
    "                 from the smallest (0) to the largest (255), three frames\n"
    "                 in colour with one range, other images as the grey picture\n"
    "                 of one frame (complex images: their magnitude)\n"
    "  --frame N      with --stretch, the frame shown of a 3-D image that does not\n"
    "                 have 3 frames (default 0)\n"
    "  --zero         write a zero-filled image of IN's dimensions (and type,\n"
    "                 unless --type names another)\n"
    "  --crop C,R,W,H write the \"float\" pixels of the W x H rectangle from\n"
    "                 column C, row R (of the first three frames of a 3-D image),\n"
    "                 as the workbench's Crop does\n"
    "  --spread N     write a \"float\" image of N frames, each IN's first frame,\n"
    "                 as the workbench's \"2D 2 3D\" does (N = 3)\n"
    "  --saved-view S write what an image window's Save leaves in its slot when it\n"
    "                 shows IN with S = LEVEL,WINDOW,BRIGHT,RED,GREEN,BLUE (the\n"
    "                 window's sliders); IN's type and dimensions\n"
    "  --compress     write own-format pixel data zlib-compressed, TIFF pages\n"
    "                 Deflate-compressed\n"
    "  --no-compress  write them uncompressed (default: as the input image says;\n"
    "                 compressed for pictures; TIFF files uncompressed)\n",
    {"type", "frame", "crop", "spread", "saved-view"},
    {"compress", "no-compress", "stretch", "zero"},
    runConvert,
});

}  // namespace
