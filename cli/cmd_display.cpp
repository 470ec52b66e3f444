// tamo fft, ifft, mag, phase, real, imag, vidscale, colormap: Fourier
// transforms, complex components, display scaling and pseudo-colour.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "cli.h"

namespace {

void noExtraArguments(const cli::Options &opts, std::size_t expected) {
    if (opts.positional.size() > expected)
        throw cli::UsageError("unexpected argument '" + opts.positional[expected] + "'");
}

// The input as a "32cmp" record: complex images as they are, any other type
// converted and placed in the real parts (imaginary parts zero).
tamo::RecordPtr asComplex(tamo::RecordPtr img) {
    if (img->dtype == TAMO_32CMP) return img;
    if (img->dtype == TAMO_64CMP) throw cli::Failure("\"64cmp\" images are not supported");
    tamo::RecordPtr real = cli::createLike(img.get(), "float");
    if (Tamoany2any(img.get(), real.get()) != 0)
        throw cli::Failure(std::string("cannot convert \"") + img->orvdt + "\" to \"float\"");
    tamo::RecordPtr complex = cli::createLike(img.get(), "32cmp");
    const float *src = tamo::pixels<float>(real.get());
    float *dst = tamo::pixels<float>(complex.get());
    const long long count = tamo::elementCount(real.get());
    for (long long i = 0; i < count; ++i) dst[2 * i] = src[i];
    return complex;
}

// Zeroes every frame of img after the first, as the workbench leaves them
// when it works on the first plane of a three-dimensional image.
void zeroLaterFrames(TAMOHDR *img) {
    const long long plane = static_cast<long long>(tamo::columnsOf(img)) * tamo::rowsOf(img);
    const long long all = tamo::elementCount(img);
    std::memset(img->orvptr + plane * img->orvbpd, 0,
                static_cast<std::size_t>((all - plane) * img->orvbpd));
}

int transform(const cli::Options &opts, int dir) {
    const std::string &in = opts.arg(0, "IN");
    const std::string &out = opts.arg(1, "OUT");
    noExtraArguments(opts, 2);
    tamo::RecordPtr img = asComplex(cli::readImage(in));
    cli::checkStatus(Tamocfft2d(img.get(), dir), "Tamocfft2d");
    if (opts.has("zero-frames")) zeroLaterFrames(img.get());
    cli::writeImage(out, img.get());
    return 0;
}

int runFft(const cli::Options &opts) {
    return transform(opts, -1);
}
int runIfft(const cli::Options &opts) {
    return transform(opts, 1);
}

int extract(const cli::Options &opts, int (*op)(TAMOHDR *, TAMOHDR *), const char *name) {
    const std::string &in = opts.arg(0, "IN");
    const std::string &out = opts.arg(1, "OUT");
    noExtraArguments(opts, 2);
    const std::string typeName = opts.text("type", "float");
    const TAMODTYPE *type = Tamotype(typeName.c_str());
    if (!type) throw cli::UsageError("unknown data type '" + typeName + "'");

    tamo::RecordPtr img = cli::readImage(in);
    if (img->dtype != TAMO_32CMP)
        throw cli::Failure(std::string("the input must be complex (\"32cmp\"), not \"") +
                           img->orvdt + "\"");
    // The component of the first plane only; with --zero-frames in a result
    // of IN's frames, the later ones zero.
    tamo::RecordPtr result =
        cli::createLike(img.get(), type->name, opts.has("zero-frames") ? 0 : 2);
    int status;
    {
        cli::LibraryTextAside quiet(out);
        status = op(img.get(), result.get());
    }
    cli::checkStatus(status, name);
    cli::writeImage(out, result.get());
    return 0;
}

int runMag(const cli::Options &opts) {
    return extract(opts, Tamoc2mag, "Tamoc2mag");
}
int runPhase(const cli::Options &opts) {
    return extract(opts, Tamoc2phase, "Tamoc2phase");
}
int runReal(const cli::Options &opts) {
    return extract(opts, Tamoc2real, "Tamoc2real");
}
int runImag(const cli::Options &opts) {
    return extract(opts, Tamoc2imag, "Tamoc2imag");
}

// Stretches img into a new "u8bit" record; false when the whole image has one
// value (the library has then said so, and the result stays zero).
bool stretch(TAMOHDR *img, tamo::RecordPtr &bytes, bool perFrame, float &lo, float &hi) {
    bytes = cli::createLike(img, "u8bit");
    lo = hi = std::numeric_limits<float>::quiet_NaN();
    Tamovidscale(img, bytes.get(), &lo, &hi, perFrame ? 1 : 0);
    return !std::isnan(lo);
}

int runVidscale(const cli::Options &opts) {
    const std::string &in = opts.arg(0, "IN");
    const std::string &out = opts.arg(1, "OUT");
    noExtraArguments(opts, 2);
    const bool perFrame = opts.has("per-frame");

    tamo::RecordPtr img = cli::readImage(in);
    if (perFrame && img->orvndim != 3)
        throw cli::Failure("--per-frame needs an image of 3 dimensions");
    tamo::RecordPtr bytes;
    float lo, hi;
    bool stretched;
    {
        cli::LibraryTextAside quiet(out);
        stretched = stretch(img.get(), bytes, perFrame, lo, hi);
        if (stretched) std::printf("range %.9g %.9g\n", lo, hi);
    }
    if (!stretched && !perFrame) throw cli::Failure("all pixels are the same brightness");
    cli::writeImage(out, bytes.get());
    return 0;
}

// The first plane of a 3-D record (a picture's red frame), or img itself.
tamo::RecordPtr planeOf(tamo::RecordPtr img, int frame) {
    if (img->orvndim != 3) {
        if (frame != 0) throw cli::UsageError("--frame must be 0 for an image of one frame");
        return img;
    }
    if (frame < 0 || frame >= tamo::framesOf(img.get()))
        throw cli::UsageError("--frame must be 0 to " +
                              std::to_string(tamo::framesOf(img.get()) - 1));
    tamo::RecordPtr plane = cli::createLike(img.get(), img->orvdt, 2);
    const std::size_t bytes =
        static_cast<std::size_t>(tamo::elementCount(plane.get())) * plane->orvbpd;
    std::memcpy(plane->orvptr, img->orvptr + bytes * frame, bytes);
    return plane;
}

// Label counts accepted by --labels: far more than tamo ccl makes (fewer
// than 500000), with a colour table of at most 48 MiB.
constexpr int kMostLabels = 1 << 24;

int runColormap(const cli::Options &opts) {
    const std::string &in = opts.arg(0, "IN");
    const std::string &out = opts.arg(1, "OUT");
    noExtraArguments(opts, 2);
    const bool labels = opts.has("labels");
    if (labels == opts.has("map")) throw cli::UsageError("give either --map or --labels");

    tamo::RecordPtr img = planeOf(cli::readImage(in), opts.integer("frame", 0));
    if (img->orvndim != 2) throw cli::Failure("the input must be a 2-D image");
    int dims[4] = {3, img->orvdim[0].dlen, img->orvdim[1].dlen, 3};
    tamo::RecordPtr rgb(Tamocreate("u8bit", dims, 11, 0));
    if (!rgb) throw cli::Failure("cannot create the colour image");

    if (labels) {
        const int n = opts.integer("labels", 0);
        // The colour table holds three bytes per label, each drawn at random:
        // a count near 2^31 would cost gigabytes for a picture of any size.
        if (n < 1 || n > kMostLabels)
            throw cli::UsageError("--labels must be 1 to " + std::to_string(kMostLabels));
        if (opts.has("seed") && opts.has("state"))
            throw cli::UsageError("--seed and --state exclude each other");
        if (opts.has("seed")) Tamosrand48(opts.integer("seed", 0));
        if (opts.has("state")) {
            unsigned state[3];
            char end = 0;
            if (std::sscanf(opts.text("state", "").c_str(), "%u,%u,%u%c", &state[0], &state[1],
                            &state[2], &end) != 3 ||
                state[0] > 65535 || state[1] > 65535 || state[2] > 65535)
                throw cli::UsageError("--state needs three numbers 0 to 65535: X0,X1,X2");
            unsigned short words[3] = {static_cast<unsigned short>(state[0]),
                                       static_cast<unsigned short>(state[1]),
                                       static_cast<unsigned short>(state[2])};
            Tamoseed48(words);
        }
        cli::LibraryTextAside quiet(out);
        colormap6(img.get(), rgb.get(), n);
        std::printf("\n");
    } else {
        const int map = opts.integer("map", 0);
        if (map < 0 || map > 6) throw cli::UsageError("--map must be 0 to 6");
        int status;
        {
            cli::LibraryTextAside quiet(out);
            if (img->dtype != TAMO_U8BIT) {
                tamo::RecordPtr bytes;
                float lo, hi;
                stretch(img.get(), bytes, false, lo, hi);
                img = std::move(bytes);
            }
            status = Tamocolormap(img.get(), rgb.get(), map);
        }
        cli::checkStatus(status, "Tamocolormap");
    }
    cli::writeImage(out, rgb.get());
    return 0;
}

const cli::Registrar fft({
    "fft",
    "Forward two-dimensional Fourier transform",
    "Usage: tamo fft IN OUT\n"
    "\n"
    "Writes the unnormalised forward transform of IN as a \"32cmp\" image. IN must\n"
    "be square with a power-of-two side; a complex IN is transformed as it is, any\n"
    "other type becomes the real parts. Only the first frame is transformed;\n"
    "further frames are copied unchanged.\n"
    "  IN             own-format file, \"-\" for standard input, or a picture\n"
    "  OUT            own-format file or \"-\" for standard output\n"
    "  --zero-frames  further frames are zero instead\n",
    {},
    {"zero-frames"},
    runFft,
});

const cli::Registrar ifft({
    "ifft",
    "Inverse two-dimensional Fourier transform",
    "Usage: tamo ifft IN OUT\n"
    "\n"
    "Writes the inverse transform of IN (scaled by 1/N per dimension, so that\n"
    "tamo ifft undoes tamo fft) as a \"32cmp\" image. IN must be square with a\n"
    "power-of-two side; a non-complex IN becomes the real parts. Only the first\n"
    "frame is transformed; further frames are copied unchanged.\n"
    "  IN             own-format file, \"-\" for standard input, or a picture\n"
    "  OUT            own-format file or \"-\" for standard output\n"
    "  --zero-frames  further frames are zero instead\n",
    {},
    {"zero-frames"},
    runIfft,
});

#define TAMO_COMPONENT_HELP(NAME, WHAT)                                                \
    "Usage: tamo " NAME                                                                \
    " IN OUT [--type NAME] [--zero-frames]\n"                                          \
    "\n"                                                                               \
    "Writes the " WHAT                                                                 \
    " of each pixel of the complex (\"32cmp\") image IN, first\n"                      \
    "plane only.\n"                                                                    \
    "  IN             own-format file or \"-\" for standard input\n"                   \
    "  OUT            own-format file, \"-\" for standard output, or a picture\n"      \
    "  --type NAME    data type of the result (default \"float\"); \"u8bit\" clamps\n" \
    "                 to 0..255 and truncates\n"                                       \
    "  --zero-frames  the result has IN's frames: the component in the first,\n"       \
    "                 the others zero\n"

const cli::Registrar mag({
    "mag",
    "Magnitude of a complex image",
    TAMO_COMPONENT_HELP("mag", "magnitude sqrt(re^2 + im^2)"),
    {"type"},
    {"zero-frames"},
    runMag,
});

const cli::Registrar phase({
    "phase",
    "Phase of a complex image",
    TAMO_COMPONENT_HELP("phase", "phase atan2(im, re) in radians"),
    {"type"},
    {"zero-frames"},
    runPhase,
});

const cli::Registrar real({
    "real",
    "Real part of a complex image",
    TAMO_COMPONENT_HELP("real", "real part"),
    {"type"},
    {"zero-frames"},
    runReal,
});

const cli::Registrar imag({
    "imag",
    "Imaginary part of a complex image",
    TAMO_COMPONENT_HELP("imag", "imaginary part"),
    {"type"},
    {"zero-frames"},
    runImag,
});

#undef TAMO_COMPONENT_HELP

const cli::Registrar vidscale({
    "vidscale",
    "Stretch an image linearly to 0..255 (\"u8bit\")",
    "Usage: tamo vidscale IN OUT [--per-frame]\n"
    "\n"
    "Maps the minimum of IN to 0 and the maximum to 255 (complex images: the real\n"
    "parts) and writes a \"u8bit\" image of the same dimensions. Prints the range\n"
    "used (\"range MIN MAX\"; on standard error when OUT is \"-\"). An image with a\n"
    "single value cannot be stretched and is an error.\n",
    {},
    {"per-frame"},
    runVidscale,
});

const cli::Registrar colormap({
    "colormap",
    "Pseudo-colour a 2-D image with a colour map or random label colours",
    "Usage: tamo colormap IN OUT --map N [--frame F]\n"
    "       tamo colormap IN OUT --labels N [--seed S | --state X0,X1,X2] [--frame F]\n"
    "\n"
    "Writes a \"u8bit\" image of 3 frames R, G, B. A 3-D IN (a picture) uses its\n"
    "frame F (default 0).\n"
    "  IN          own-format file, \"-\" for standard input, or a picture\n"
    "  OUT         own-format file, \"-\" for standard output, or a picture\n"
    "  --map N     colour map 0 gray, 1 inverse gray, 2 Mevrel, 3 hot metal,\n"
    "              4 heated spectrum, 5 log, 6 random; IN values index the map\n"
    "              (a non-\"u8bit\" IN is first stretched to 0..255)\n"
    "  --labels N  colour label values 2..N-1 with fresh random colours; labels\n"
    "              0 and 1 (and others) are black, as are row 0 and column 0;\n"
    "              N is 1 to 16777216\n"
    "  --seed S    seed the random colours (default: the generator's own state)\n"
    "  --state X0,X1,X2  start the random colours from this state of the generator\n"
    "              (its three 16-bit words, as the workbench records them)\n"
    "  --frame F   the frame of a 3-D IN to colour\n",
    {"map", "labels", "seed", "state", "frame"},
    {},
    runColormap,
});

}  // namespace
