#include "tiffimage.h"

#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "atomicfile.h"

namespace frontend {

namespace {

// What libtiff says while a file is open, kept instead of printed: the first
// error becomes the reason of a failure; warnings are dropped.
struct Diagnostics {
    std::string error;

    static int onError(TIFF *, void *self, const char *module, const char *fmt, va_list ap) {
        auto *d = static_cast<Diagnostics *>(self);
        if (d->error.empty()) {
            char text[512];
            std::vsnprintf(text, sizeof text, fmt, ap);
            d->error = module && *module ? std::string(module) + ": " + text : text;
        }
        return 1;  // handled: libtiff prints nothing
    }
    static int onWarning(TIFF *, void *, const char *, const char *, va_list) { return 1; }
};

// Largest single allocation libtiff may make for us; a page of pixels is at
// most what a record holds.
constexpr tmsize_t kLibtiffAllocLimit = tmsize_t(INT_MAX);

// A compressed chunk never expands beyond this factor (Deflate stays near
// 1000, LZMA and ZSTD of constant data within a few ten thousand): a file
// that claims more decoded bytes than its compressed bytes can hold is
// damaged.
constexpr long long kMaxExpansion = 65536;

// The bytes a read may decode: at most this factor times the record it
// makes (samples left out, such as alpha, and the parts of edge tiles
// beyond the page) plus a fixed allowance for small pages in large tiles.
// Beyond that a small file could make the reader work through gigabytes
// it then drops.
constexpr long long kDecodeFactor = 8;
constexpr long long kDecodeAllowance = 32ll << 20;

// a * b, or LLONG_MAX when that does not fit.
long long saturatingProduct(long long a, long long b) {
    long long p;
    return __builtin_mul_overflow(a, b, &p) ? LLONG_MAX : p;
}

// Megabytes for a message, rounded up.
long long megabytes(long long bytes) {
    return bytes / (1 << 20) + (bytes % (1 << 20) != 0);
}

struct TiffCloser {
    void operator()(TIFF *tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
    void operator()(TIFFOpenOptions *o) const { TIFFOpenOptionsFree(o); }
};

std::unique_ptr<TIFFOpenOptions, OptionsFree> openOptions(Diagnostics &diag) {
    std::unique_ptr<TIFFOpenOptions, OptionsFree> opts(TIFFOpenOptionsAlloc());
    if (!opts) return opts;
    TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), &Diagnostics::onError, &diag);
    TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), &Diagnostics::onWarning, &diag);
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts.get(), kLibtiffAllocLimit);
    return opts;
}

// The layout of one page, as far as reading it is concerned.
struct PageLayout {
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 0, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
    int channels = 1;  // samples taken: 1 grey, 3 RGB
    bool tiled = false;
    uint32_t tileWidth = 0, tileHeight = 0;
    uint16_t compression = COMPRESSION_NONE;
    // Bytes of one decoded row of a strip or tile (every sample of it when
    // they are contiguous), chunks side by side across the page, and the
    // sample planes read (only the kept ones when planes are separate).
    long long rowBytes = 0, chunksAcross = 1;
    int planesRead = 1;

    bool sameImageAs(const PageLayout &o) const {
        return width == o.width && height == o.height && samples == o.samples && bits == o.bits &&
               format == o.format && channels == o.channels;
    }
    int elementSize() const { return bits / 8; }
    bool separate() const { return planar == PLANARCONFIG_SEPARATE; }
    // Samples per pixel in a decoded row.
    int step() const { return separate() ? 1 : samples; }
    // What reading the page decodes: whole rows of every chunk it needs,
    // never the rows of a tile below the page's end.
    long long decodedBytes() const {
        return saturatingProduct(saturatingProduct(height, rowBytes),
                                 saturatingProduct(chunksAcross, planesRead));
    }
};

// Reads the current directory's layout; an empty text on success, else why
// the page cannot be read.
std::string readLayout(TIFF *tif, PageLayout &page) {
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &page.width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &page.height))
        return "a page has no image size";
    if (page.width == 0 || page.height == 0) return "a page has no pixels";
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &page.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &page.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &page.format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &page.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &page.compression);
    if (page.format == SAMPLEFORMAT_VOID) page.format = SAMPLEFORMAT_UINT;

    uint16_t photometric = 0;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = page.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    switch (photometric) {
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_PALETTE:  // the stored indices are the values
            page.channels = 1;
            break;
        case PHOTOMETRIC_RGB:
            page.channels = 3;
            break;
        case PHOTOMETRIC_YCBCR:
            // JPEG-compressed colour is handed over as RGB by libtiff.
            if (page.compression != COMPRESSION_JPEG)
                return "its YCbCr colour pages are not supported";
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
            page.channels = 3;
            break;
        default:
            return "its colour model (photometric " + std::to_string(photometric) +
                   ") is not supported";
    }
    if (page.samples < page.channels)
        return "a page has " + std::to_string(page.samples) + " samples per pixel, too few";
    if (page.planar != PLANARCONFIG_CONTIG && page.planar != PLANARCONFIG_SEPARATE)
        return "a page has an unknown sample arrangement";

    const bool integer = page.format == SAMPLEFORMAT_UINT || page.format == SAMPLEFORMAT_INT;
    const bool sizeOk =
        integer ? (page.bits == 8 || page.bits == 16 || page.bits == 32)
                : page.format == SAMPLEFORMAT_IEEEFP && (page.bits == 32 || page.bits == 64);
    if (!sizeOk)
        return "its samples (" + std::to_string(page.bits) + " bits, format " +
               std::to_string(page.format) + ") have no matching data type";

    page.tiled = TIFFIsTiled(tif) != 0;
    if (page.tiled && (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &page.tileWidth) ||
                       !TIFFGetField(tif, TIFFTAG_TILELENGTH, &page.tileHeight) ||
                       page.tileWidth == 0 || page.tileHeight == 0))
        return "a page has no valid tile size";
    // libtiff's own row size is used when it is larger (it writes that much).
    const uint32_t chunkWidth = page.tiled ? page.tileWidth : page.width;
    page.rowBytes = std::max<long long>(
        static_cast<long long>(chunkWidth) * page.step() * page.elementSize(),
        static_cast<long long>(page.tiled ? TIFFTileRowSize64(tif) : TIFFScanlineSize64(tif)));
    page.chunksAcross = page.tiled ? (page.width - 1ll) / page.tileWidth + 1 : 1;
    page.planesRead = page.separate() ? page.channels : 1;
    return std::string();
}

// The own type of a page's samples; unsigned 32-bit samples are first held
// as "32bit" (same size) and widened afterwards when a value needs it.
const char *ownType(const PageLayout &page) {
    if (page.format == SAMPLEFORMAT_IEEEFP) return page.bits == 32 ? "float" : "64flt";
    const bool isSigned = page.format == SAMPLEFORMAT_INT;
    switch (page.bits) {
        case 8:
            return isSigned ? "8bit" : "u8bit";
        case 16:
            return isSigned ? "16bit" : "u16bit";
        default:
            return "32bit";
    }
}

// Checks that the page's chunks can hold what reading it decodes:
// uncompressed chunks must hold it all, compressed ones within
// kMaxExpansion. Empty when so.
std::string checkChunkSizes(TIFF *tif, const PageLayout &page, long long fileSize) {
    const long long decoded = page.decodedBytes();
    const uint32_t chunks = page.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    uint64_t *counts = nullptr;
    if (chunks == 0 ||
        !TIFFGetField(tif, page.tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS,
                      &counts) ||
        !counts)
        return "a page has no pixel data";
    long long total = 0;
    for (uint32_t i = 0; i < chunks; ++i) {
        if (counts[i] > static_cast<uint64_t>(fileSize)) return "its pixel data are cut short";
        total += static_cast<long long>(counts[i]);
        if (total > LLONG_MAX / kMaxExpansion) break;
    }
    if (page.compression == COMPRESSION_NONE ? total < decoded : decoded / kMaxExpansion > total)
        return "its pixel data are cut short";
    return std::string();
}

// Copies `rows` rows of `cols` pixels from decoded rows of `rowBytes`
// (`step` samples per pixel, the wanted sample at `sample`) into a plane at
// (x0, y0).
void copyRows(const unsigned char *rowsIn, std::size_t rowBytes, int step, int sample,
              uint32_t rows, uint32_t cols, unsigned char *plane, uint32_t width, uint32_t x0,
              uint32_t y0, int es) {
    for (uint32_t r = 0; r < rows; ++r) {
        const unsigned char *src = rowsIn + r * rowBytes + std::size_t(sample) * es;
        unsigned char *dst = plane + ((std::size_t(y0) + r) * width + x0) * es;
        if (step == 1) {
            std::memcpy(dst, src, std::size_t(cols) * es);
            continue;
        }
        for (uint32_t c = 0; c < cols; ++c)
            std::memcpy(dst + std::size_t(c) * es, src + std::size_t(c) * step * es, es);
    }
}

// Decodes the current page into the planes starting at `first` (one plane
// of width x height elements per channel). Strips are decoded a row at a
// time, so that samples left out never fill a buffer of their own; of a
// tile only its rows within the page are decoded. Empty on success.
std::string readPage(TIFF *tif, const PageLayout &page, unsigned char *first, Diagnostics &diag) {
    const int es = page.elementSize();
    const std::size_t planeBytes = std::size_t(page.width) * page.height * es;
    const uint32_t chunkHeight = page.tiled ? std::min(page.tileHeight, page.height) : 1;
    // Bounded by the decoding allowance checked for the whole file.
    std::vector<unsigned char> buffer(std::size_t(page.rowBytes) * chunkHeight);
    const std::size_t rowBytes = static_cast<std::size_t>(page.rowBytes);
    auto failed = [&]() {
        return diag.error.empty() ? std::string("its pixel data are damaged or cut short")
                                  : diag.error;
    };
    auto keep = [&](int plane, uint32_t rows, uint32_t cols, uint32_t x, uint32_t y) {
        const int from = page.separate() ? plane : 0;
        const int to = page.separate() ? plane + 1 : page.channels;
        for (int ch = from; ch < to; ++ch)
            copyRows(buffer.data(), rowBytes, page.step(), page.separate() ? 0 : ch, rows, cols,
                     first + ch * planeBytes, page.width, x, y, es);
    };
    for (int pl = 0; pl < page.planesRead; ++pl) {
        const uint16_t sample = static_cast<uint16_t>(pl);
        if (!page.tiled) {
            for (uint32_t y = 0; y < page.height; ++y) {
                if (TIFFReadScanline(tif, buffer.data(), y, sample) < 0) return failed();
                keep(pl, 1, page.width, 0, y);
            }
            continue;
        }
        for (uint32_t y = 0; y < page.height; y += page.tileHeight) {
            const uint32_t rows = std::min(page.tileHeight, page.height - y);
            const tmsize_t wanted = static_cast<tmsize_t>(rows * rowBytes);
            for (uint32_t x = 0; x < page.width; x += page.tileWidth) {
                const uint32_t tile = TIFFComputeTile(tif, x, y, 0, sample);
                if (TIFFReadEncodedTile(tif, tile, buffer.data(), wanted) < wanted) return failed();
                keep(pl, rows, std::min(page.tileWidth, page.width - x), x, y);
            }
        }
    }
    return std::string();
}

// Unsigned 32-bit values were read into a "32bit" record; those above the
// int32 range move the whole record to "64flt", which holds them exactly.
tamo::RecordPtr widenUnsigned32(tamo::RecordPtr img, std::string &reason) {
    const uint32_t *values = tamo::pixels<uint32_t>(img.get());
    const long long n = tamo::elementCount(img.get());
    if (std::all_of(values, values + n, [](uint32_t v) { return v <= INT32_MAX; })) return img;
    if (Tamochkread(n * 8) != 0) {
        reason = Tamolimittext();
        return nullptr;
    }
    tamo::CArray<int> dims(Tamosiz(img.get()));
    tamo::RecordPtr wide(dims ? Tamocreate("64flt", dims.get(), TAMO_CREATE_ZEROED, 0) : nullptr);
    if (!wide) {
        reason = "there is not enough memory";
        return nullptr;
    }
    double *out = tamo::pixels<double>(wide.get());
    for (long long i = 0; i < n; ++i) out[i] = values[i];
    return wide;
}

// Why a file whose reading would decode `decoded` bytes for a record of
// `recordBytes` is refused.
std::string tooMuchDecoding(const PageLayout &page, long long decoded, long long recordBytes) {
    std::string why = "reading it would decode " + std::to_string(megabytes(decoded)) +
                      " MB for an image of " + std::to_string(megabytes(recordBytes)) + " MB: ";
    if (!page.separate() && page.samples > page.channels)
        return why + "its pages hold " + std::to_string(page.samples) +
               " samples per pixel, of which " + std::to_string(page.channels) +
               (page.channels == 1 ? " is" : " are") + " kept";
    return why + "its tiles are far larger than its pages";
}

long long fileSizeOf(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

}  // namespace

bool isTiffName(const std::string &path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
    std::string suffix = path.substr(dot + 1);
    for (char &c : suffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return suffix == "tif" || suffix == "tiff";
}

tamo::RecordPtr readTiff(const std::string &path, std::string &reason) {
    Diagnostics diag;
    auto fail = [&](const std::string &why) {
        reason = why.empty() ? (diag.error.empty() ? "it is not a readable TIFF file" : diag.error)
                             : why;
        return nullptr;
    };
    const long long fileSize = fileSizeOf(path);
    if (fileSize < 0) return fail(std::strerror(errno));
    auto opts = openOptions(diag);
    if (!opts) return fail("there is not enough memory");
    TiffPtr tif(TIFFOpenExt(path.c_str(), "r", opts.get()));
    if (!tif) return fail(diag.error.empty() ? "it is not a TIFF file" : diag.error);

    // First pass, forward through the chain of pages: every page's layout,
    // checked before any pixel memory. libtiff ends a chain that loops.
    PageLayout first;
    if (std::string why = readLayout(tif.get(), first); !why.empty()) return fail(why);
    // Two 32-bit lengths multiply exactly in 64 bits, and a sample is at
    // most 8 bytes of 3 channels: the page's bytes fit 64 bits unless it
    // has more than 2^59 pixels.
    const uint64_t pagePixels = uint64_t(first.width) * first.height;
    const long long pageBytes =
        pagePixels > (uint64_t(1) << 59)
            ? -1
            : static_cast<long long>(pagePixels) * first.channels * first.elementSize();
    const long long readLimit = Tamomaxread();
    if (pageBytes < 0 || pageBytes > readLimit) {
        Tamochkread(pageBytes);
        return fail(Tamolimittext());
    }
    long long pages = 0, decoded = 0;  // decoded: bytes reading the pages decodes
    do {
        PageLayout page;
        if (std::string why = readLayout(tif.get(), page); !why.empty()) return fail(why);
        if (!page.sameImageAs(first))
            return fail("its pages differ in size or data type (page " + std::to_string(pages + 1) +
                        ")");
        ++pages;
        if (pageBytes * pages > readLimit) {
            Tamochkread(pageBytes * pages);
            return fail(Tamolimittext());
        }
        // The work so far within what the pages so far make.
        decoded = std::min(decoded, LLONG_MAX - page.decodedBytes()) + page.decodedBytes();
        if (decoded > kDecodeFactor * pageBytes * pages + kDecodeAllowance)
            return fail(tooMuchDecoding(page, decoded, pageBytes * pages));
        if (std::string why = checkChunkSizes(tif.get(), page, fileSize); !why.empty())
            return fail(why);
    } while (TIFFReadDirectory(tif.get()));
    // A damaged directory ends the scan with an error rather than a page.
    if (!diag.error.empty()) return fail(diag.error);

    const long long planes = pages * first.channels;
    int dims[4] = {planes > 1 ? 3 : 2, static_cast<int>(first.width),
                   static_cast<int>(first.height), static_cast<int>(planes)};
    tamo::RecordPtr img(Tamocreate(ownType(first), dims, TAMO_CREATE_ZEROED, 0));
    if (!img) return fail("there is not enough memory");

    // Second pass, forward again from the first page: the pixels.
    if (!TIFFSetDirectory(tif.get(), 0)) return fail("");
    unsigned char *base = reinterpret_cast<unsigned char *>(img->orvptr);
    for (long long p = 0; p < pages; ++p) {
        if (p > 0 && !TIFFReadDirectory(tif.get())) return fail("");
        PageLayout page;
        if (std::string why = readLayout(tif.get(), page); !why.empty()) return fail(why);
        // The record was sized by the first pass; a file changed since then
        // must not write past it.
        if (!page.sameImageAs(first)) return fail("the file changed while it was read");
        if (std::string why = readPage(tif.get(), page, base + p * pageBytes, diag); !why.empty())
            return fail(why);
    }
    if (first.bits == 32 && first.format == SAMPLEFORMAT_UINT) {
        img = widenUnsigned32(std::move(img), reason);
        if (!img) return nullptr;
    }
    // Kept for writers that follow the input's compression.
    img->orvcomp = first.compression != COMPRESSION_NONE;
    return img;
}

std::string writeTiff(const TAMOHDR *img, const std::string &path, bool deflate) {
    if (!tamo::hasValidMagic(img) || !img->orvptr || img->orvndim < 1 || img->orvndim > TAMO_MAXDIM)
        return "there is no image to write";
    uint16_t format = SAMPLEFORMAT_UINT;
    switch (img->dtype) {
        case TAMO_U8BIT:
        case TAMO_U16BIT:
            break;
        case TAMO_8BIT:
        case TAMO_16BIT:
        case TAMO_32BIT:
            format = SAMPLEFORMAT_INT;
            break;
        case TAMO_32FLT:
        case TAMO_64FLT:
            format = SAMPLEFORMAT_IEEEFP;
            break;
        default:
            return std::string("a \"") + img->orvdt + "\" image cannot be written as TIFF";
    }
    const int es = img->orvbpd;
    const uint32_t width = static_cast<uint32_t>(img->orvdim[0].dlen);
    const uint32_t height = img->orvndim >= 2 ? static_cast<uint32_t>(img->orvdim[1].dlen) : 1;
    const int frames = img->orvndim >= 3 ? img->orvdim[2].dlen : 1;
    if (width == 0 || height == 0 || frames <= 0) return "the image has no pixels";

    tamo::AtomicFile file(path);
    if (!file.ok()) return file.error();
    Diagnostics diag;
    auto opts = openOptions(diag);
    const int fd = ::dup(file.fd());
    if (fd < 0) return std::strerror(errno);
    // TIFFClose closes the duplicate; the AtomicFile keeps its own descriptor.
    TiffPtr tif(opts ? TIFFFdOpenExt(fd, path.c_str(), "w", opts.get()) : nullptr);
    if (!tif) {
        ::close(fd);
        return diag.error.empty() ? "the TIFF file cannot be started" : diag.error;
    }
    auto failed = [&]() { return diag.error.empty() ? std::string("writing failed") : diag.error; };

    const std::size_t rowBytes = std::size_t(width) * es;
    // Strips of about 64 KiB keep Deflate's gain and the reader's buffers small.
    const uint32_t rowsPerStrip =
        static_cast<uint32_t>(std::clamp<std::size_t>((64u << 10) / rowBytes, 1, height));
    const unsigned char *base = reinterpret_cast<const unsigned char *>(img->orvptr);
    for (int f = 0; f < frames; ++f) {
        TIFF *t = tif.get();
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(es * 8));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(1));
        TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, format);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_COMPRESSION,
                     deflate ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        if (frames > 1) {
            TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
            TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(std::min(f, 65535)),
                         static_cast<uint16_t>(std::min(frames, 65535)));
        }
        const unsigned char *plane = base + std::size_t(f) * rowBytes * height;
        for (uint32_t y = 0, s = 0; y < height; y += rowsPerStrip, ++s) {
            const std::size_t bytes = std::size_t(std::min(rowsPerStrip, height - y)) * rowBytes;
            // Written in this machine's byte order, libtiff leaves the data as
            // they are; the cast only meets its C signature.
            void *data = const_cast<unsigned char *>(plane + std::size_t(y) * rowBytes);
            if (TIFFWriteEncodedStrip(t, s, data, static_cast<tmsize_t>(bytes)) < 0)
                return failed();
        }
        if (!TIFFWriteDirectory(t)) return failed();
    }
    if (!TIFFFlush(tif.get())) return failed();
    tif.reset();
    if (!diag.error.empty()) return diag.error;
    if (!file.commit()) return file.error();
    return std::string();
}

}  // namespace frontend
