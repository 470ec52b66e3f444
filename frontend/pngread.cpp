#include "pngread.h"

#include <png.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

#include "pictures.h"
#include "records.h"

namespace frontend {

namespace {

constexpr int kSignatureBytes = 8;
// The largest ancillary chunk libpng may hold in memory. Only IHDR, PLTE,
// tRNS, IDAT and IEND are read at all (the others are skipped unread), and
// none of those is near this size.
constexpr png_alloc_size_t kMaxChunkBytes = 1 << 20;

// Where a decoded row goes: row `y` of the picture, its pixels at columns
// first, first + 2^shift, ... (an interlaced pass holds every 2^shift-th
// pixel of some rows), `count` of them.
struct RowPlace {
    png_uint_32 y = 0, first = 0, count = 0;
    int shift = 0;
};

// The state of one decoding, in plain data only: libpng leaves a failing
// call by longjmp, which must not pass over anything with a destructor.
struct Decoder {
    FILE *fp = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    // One decoded row; an interlaced picture is decoded pass by pass, each
    // row of a pass going straight to its place in the record.
    unsigned char *pixels = nullptr;
    char message[160] = "";

    // The picture as the file declares it.
    png_uint_32 width = 0, height = 0;
    int fileDepth = 0;
    bool interlaced = false;
    // The picture as decoded, after the transforms.
    int depth = 0, channels = 0;
    std::size_t rowBytes = 0;

    // Called with each decoded row, in the order of the file.
    void (*takeRow)(void *target, const unsigned char *row, const RowPlace &place) = nullptr;
    void *target = nullptr;
};

extern "C" void pngFailed(png_structp png, png_const_charp message) {
    auto *decoder = static_cast<Decoder *>(png_get_error_ptr(png));
    std::snprintf(decoder->message, sizeof decoder->message, "%s", message);
    png_longjmp(png, 1);
}

extern "C" void pngWarned(png_structp, png_const_charp) {}

// Reads the chunks up to the pixels. libpng's own limits give way to the
// reader's: any width and height PNG allows (the size of the record is
// checked next, against the limit on reading), and no ancillary chunk kept
// but tRNS, so that a crafted text or profile chunk costs no memory.
bool readInfo(Decoder *d) {
    if (setjmp(png_jmpbuf(d->png))) return false;
    png_init_io(d->png, d->fp);
    png_set_sig_bytes(d->png, kSignatureBytes);
    png_set_user_limits(d->png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_chunk_cache_max(d->png, 16);
    png_set_chunk_malloc_max(d->png, kMaxChunkBytes);
#ifdef PNG_HANDLE_AS_UNKNOWN_SUPPORTED
    png_set_keep_unknown_chunks(d->png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
#endif
#ifdef PNG_IGNORE_ADLER32
    // Every chunk's CRC already guards the compressed bytes; zlib's own
    // checksum over the inflated rows would cost a second pass.
    png_set_option(d->png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
    png_read_info(d->png, d->info);
    d->width = png_get_image_width(d->png, d->info);
    d->height = png_get_image_height(d->png, d->info);
    d->fileDepth = png_get_bit_depth(d->png, d->info);
    d->interlaced = png_get_interlace_type(d->png, d->info) != PNG_INTERLACE_NONE;
    return true;
}

// Sets the transforms that give 8- or 16-bit grey, grey and alpha, RGB or
// RGBA samples without changing a colour value. No gamma or colour-space
// correction, as the toolkit's reader applies none. Interlaced pictures are
// left as their passes: libpng would otherwise need the whole picture in
// its own layout besides the record.
bool startRows(Decoder *d) {
    if (setjmp(png_jmpbuf(d->png))) return false;
    const int colourType = png_get_color_type(d->png, d->info);
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(d->png);
    if (colourType == PNG_COLOR_TYPE_GRAY && d->fileDepth < 8)
        png_set_expand_gray_1_2_4_to_8(d->png);
    png_read_update_info(d->png, d->info);
    d->depth = png_get_bit_depth(d->png, d->info);
    d->channels = png_get_channels(d->png, d->info);
    d->rowBytes = png_get_rowbytes(d->png, d->info);
    return true;
}

// Decodes every row and hands it over, then reads to the end of the file,
// so that damage after the pixels fails the read as well.
bool readRows(Decoder *d) {
    if (setjmp(png_jmpbuf(d->png))) return false;
    RowPlace place;
    if (!d->interlaced) {
        place.count = d->width;
        for (place.y = 0; place.y < d->height; ++place.y) {
            png_read_row(d->png, d->pixels, nullptr);
            d->takeRow(d->target, d->pixels, place);
        }
    } else {
        // libpng skips the passes that hold no pixel of a small picture.
        for (int pass = 0; pass < PNG_INTERLACE_ADAM7_PASSES; ++pass) {
            const png_uint_32 rows = PNG_PASS_ROWS(d->height, pass);
            place.count = PNG_PASS_COLS(d->width, pass);
            if (rows == 0 || place.count == 0) continue;
            place.first = PNG_PASS_START_COL(pass);
            place.shift = PNG_PASS_COL_SHIFT(pass);
            for (png_uint_32 r = 0; r < rows; ++r) {
                png_read_row(d->png, d->pixels, nullptr);
                place.y = PNG_ROW_FROM_PASS_ROW(r, pass);
                d->takeRow(d->target, d->pixels, place);
            }
        }
    }
    png_read_end(d->png, nullptr);
    return true;
}

// Exact sums of one channel's values.
struct Sums {
    uint64_t sum = 0, squares = 0;
    unsigned max = 0, min = UINT_MAX;
};

// Where decoded rows go: three planes of T, `step` scalars from one value
// to the next.
template <class T>
struct Planes {
    T *red;
    std::size_t plane;  // scalars from one plane to the next
    std::size_t line;   // scalars from one row to the next
    int step;
    Sums sums[3];
};

template <int kDepth>
inline unsigned sample(const unsigned char *at) {
    if constexpr (kDepth == 16)
        return static_cast<unsigned>(at[0]) << 8 | at[1];
    else
        return at[0];
}

// One row of kChannels samples of kDepth bits a pixel into the planes; a
// grey row (one or two channels) fills all three alike and sums once.
// kStep 1 serves whole rows of a record of one scalar a value; 0 any other.
template <class T, int kDepth, int kChannels, bool kSums, int kStep>
void takeRow(void *target, const unsigned char *row, const RowPlace &place) {
    auto *to = static_cast<Planes<T> *>(target);
    const std::size_t step = kStep ? kStep : static_cast<std::size_t>(to->step) << place.shift;
    T *r = to->red + place.y * to->line + static_cast<std::size_t>(place.first) * to->step;
    T *g = r + to->plane;
    T *b = g + to->plane;
    constexpr int bytes = kDepth / 8;
    constexpr bool grey = kChannels < 3;
    const png_uint_32 width = place.count;
    uint64_t sum[3] = {}, squares[3] = {};
    unsigned max[3] = {0, 0, 0}, min[3] = {UINT_MAX, UINT_MAX, UINT_MAX};
    for (png_uint_32 x = 0; x < width; ++x) {
        const unsigned char *px = row + static_cast<std::size_t>(x) * kChannels * bytes;
        const unsigned cr = sample<kDepth>(px);
        const unsigned cg = grey ? cr : sample<kDepth>(px + bytes);
        const unsigned cb = grey ? cr : sample<kDepth>(px + 2 * bytes);
        const std::size_t at = x * step;
        r[at] = static_cast<T>(cr);
        g[at] = static_cast<T>(cg);
        b[at] = static_cast<T>(cb);
        if constexpr (kSums) {
            const unsigned v[3] = {cr, cg, cb};
            for (int c = 0; c < (grey ? 1 : 3); ++c) {
                sum[c] += v[c];
                squares[c] += static_cast<uint64_t>(v[c]) * v[c];
                max[c] = std::max(max[c], v[c]);
                min[c] = std::min(min[c], v[c]);
            }
        }
    }
    if constexpr (kSums) {
        for (int c = 0; c < (grey ? 1 : 3); ++c) {
            Sums &s = to->sums[c];
            s.sum += sum[c];
            s.squares += squares[c];
            s.max = std::max(s.max, max[c]);
            s.min = std::min(s.min, min[c]);
        }
    }
}

// The common case, 8-bit samples into "float" planes with their sums, in
// loops the compiler turns into vector code: one channel at a time, in runs
// short enough for 32-bit sums.
template <int kChannels>
inline void byteChannel(const unsigned char *src, std::size_t n, float *dst, Sums &s) {
    constexpr std::size_t kRun = 65536;  // 65536 * 255 * 255 < 2^32
    for (std::size_t start = 0; start < n; start += kRun) {
        const std::size_t end = std::min(n, start + kRun);
        uint32_t sum = 0, squares = 0;
        unsigned char max = 0, min = 255;
        for (std::size_t x = start; x < end; ++x) {
            const unsigned char v = src[x * kChannels];
            dst[x] = static_cast<float>(v);
            sum += v;
            squares += static_cast<uint32_t>(v) * v;
            max = v > max ? v : max;
            min = v < min ? v : min;
        }
        s.sum += sum;
        s.squares += squares;
        s.max = std::max<unsigned>(s.max, max);
        s.min = std::min<unsigned>(s.min, min);
    }
}

template <int kChannels>
inline void byteRow(const unsigned char *row, std::size_t n, float *r, float *g, float *b,
                    Sums *sums) {
    byteChannel<kChannels>(row, n, r, sums[0]);
    if constexpr (kChannels < 3) {
        std::memcpy(g, r, n * sizeof(float));
        std::memcpy(b, r, n * sizeof(float));
    } else {
        byteChannel<kChannels>(row + 1, n, g, sums[1]);
        byteChannel<kChannels>(row + 2, n, b, sums[2]);
    }
}

TAMO_TARGET_CLONES_AVX512 void byteRowToFloat(const unsigned char *row, int channels, std::size_t n,
                                              float *r, float *g, float *b, Sums *sums) {
    switch (channels) {
        case 1:
            byteRow<1>(row, n, r, g, b, sums);
            break;
        case 2:
            byteRow<2>(row, n, r, g, b, sums);
            break;
        case 3:
            byteRow<3>(row, n, r, g, b, sums);
            break;
        default:
            byteRow<4>(row, n, r, g, b, sums);
            break;
    }
}

// A whole row of 8-bit samples into "float" planes.
template <int kChannels>
void takeByteRow(void *target, const unsigned char *row, const RowPlace &place) {
    auto *to = static_cast<Planes<float> *>(target);
    float *r = to->red + place.y * to->line;
    byteRowToFloat(row, kChannels, place.count, r, r + to->plane, r + 2 * to->plane, to->sums);
}

using RowTaker = void (*)(void *, const unsigned char *, const RowPlace &);

template <class T, int kDepth, int kChannels, bool kSums>
RowTaker rowTaker(int step) {
    return step == 1 ? &takeRow<T, kDepth, kChannels, kSums, 1>
                     : &takeRow<T, kDepth, kChannels, kSums, 0>;
}

template <class T, int kDepth, bool kSums>
RowTaker rowTaker(int channels, int step) {
    switch (channels) {
        case 1:
            return rowTaker<T, kDepth, 1, kSums>(step);
        case 2:
            return rowTaker<T, kDepth, 2, kSums>(step);
        case 3:
            return rowTaker<T, kDepth, 3, kSums>(step);
        default:
            return rowTaker<T, kDepth, 4, kSums>(step);
    }
}

// `step` 0 asks for the general row taker, which also places the pixels of
// an interlaced pass.
template <class T>
RowTaker rowTaker(int depth, int channels, int step, bool sums) {
    if constexpr (std::is_same_v<T, float>) {
        if (depth == 8 && step == 1) {
            switch (channels) {
                case 1:
                    return &takeByteRow<1>;
                case 2:
                    return &takeByteRow<2>;
                case 3:
                    return &takeByteRow<3>;
                default:
                    return &takeByteRow<4>;
            }
        }
    }
    if (depth == 16)
        return sums ? rowTaker<T, 16, true>(channels, step)
                    : rowTaker<T, 16, false>(channels, step);
    return sums ? rowTaker<T, 8, true>(channels, step) : rowTaker<T, 8, false>(channels, step);
}

// Releases what a decoding holds, on every path.
class DecoderOwner {
public:
    DecoderOwner() = default;
    ~DecoderOwner() {
        if (d.png) png_destroy_read_struct(&d.png, d.info ? &d.info : nullptr, nullptr);
        std::free(d.pixels);
        if (d.fp) std::fclose(d.fp);
    }
    DecoderOwner(const DecoderOwner &) = delete;
    DecoderOwner &operator=(const DecoderOwner &) = delete;
    Decoder d;
};

}  // namespace

bool readPng(const std::string &path, const TAMODTYPE &type, tamo::RecordPtr &record,
             std::string &reason, FrameStats *stats) {
    DecoderOwner owner;
    Decoder &d = owner.d;
    d.fp = std::fopen(path.c_str(), "rb");
    if (!d.fp) return false;
    unsigned char signature[kSignatureBytes];
    if (std::fread(signature, 1, kSignatureBytes, d.fp) != kSignatureBytes ||
        png_sig_cmp(signature, 0, kSignatureBytes) != 0)
        return false;

    // "struct" has no pixel values; it stays with the toolkit.
    bool planar = false, channelled = false, wide = false;
    tamo::visitScalar(static_cast<int32_t>(type.code), [&](auto tag, tamo::ElemLayout lay) {
        using T = typename decltype(tag)::type;
        planar = lay.channels == 1;
        channelled = lay.channels > 1;
        wide = std::numeric_limits<T>::max() >= 65535;
    });
    if (!planar && !channelled) return false;

    d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &d, pngFailed, pngWarned);
    if (d.png) d.info = png_create_info_struct(d.png);
    if (!d.png || !d.info) {
        reason = "there is not enough memory";
        return true;
    }
    auto damaged = [&] {
        reason = d.message[0] ? std::string("the PNG data are damaged (") + d.message + ")"
                              : std::string("the PNG data are damaged");
        return true;
    };
    if (!readInfo(&d)) return damaged();
    // The values of a 16-bit file are read exactly, as "u16bit", where the
    // type asked for cannot hold them; the caller converts that record as it
    // converts any other. 8-bit files for types with channels of their own
    // stay with the toolkit, which gives them their alpha channel.
    const bool deep = d.fileDepth == 16 && (channelled || !wide);
    if (channelled && !deep) return false;
    const TAMODTYPE &recordType = deep ? *Tamotype("u16bit") : type;
    tamo::ElemLayout layout{};
    tamo::visitScalar(static_cast<int32_t>(recordType.code),
                      [&](auto, tamo::ElemLayout lay) { layout = lay; });
    const int step = layout.complex ? 2 : 1;

    // Nothing is allocated for the pixels before the limit on reading allows
    // the record; the decoding besides it needs libpng's two rows and this
    // reader's one, of at most 8 bytes a pixel.
    int64_t recordBytes = -1;
    if (__builtin_mul_overflow(int64_t{3} * recordType.size * d.width, int64_t{d.height},
                               &recordBytes))
        recordBytes = -1;
    const int64_t rowsBytes = int64_t{3} * 8 * d.width + 1024;
    if (Tamochkread(recordBytes) != 0 || Tamochkread(recordBytes + rowsBytes) != 0) {
        reason = Tamolimittext();
        return true;
    }
    if (!startRows(&d)) return damaged();
    const std::size_t sampleBytes = static_cast<std::size_t>(d.depth / 8);
    if ((d.depth != 8 && d.depth != 16) || d.channels < 1 || d.channels > 4 ||
        d.rowBytes != static_cast<std::size_t>(d.width) * d.channels * sampleBytes) {
        reason = "its kind of PNG picture is not supported";
        return true;
    }
    d.pixels = static_cast<unsigned char *>(std::malloc(d.rowBytes));
    if (!d.pixels) {
        reason = "there is not enough memory";
        return true;
    }

    // Within the limit, the sides fit an int.
    const int width = static_cast<int>(d.width), height = static_cast<int>(d.height);
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    int dims[4] = {3, width, height, 3};
    Tamoerr = 0;
    tamo::RecordPtr img(Tamocreate(recordType.name, dims, TAMO_CREATE_ZEROED, 0));
    if (!img) {
        reason = readFailureReason(Tamoerr).toStdString();
        return true;
    }
    adviseHugePages(img.get());

    bool decoded = false;
    Sums sums[3];
    tamo::visitScalar(static_cast<int32_t>(recordType.code), [&](auto tag, tamo::ElemLayout) {
        using T = typename decltype(tag)::type;
        Planes<T> planes{};
        planes.red = tamo::pixels<T>(img.get());
        planes.plane = pixels * step;
        planes.line = static_cast<std::size_t>(width) * step;
        planes.step = step;
        d.takeRow = rowTaker<T>(d.depth, d.channels, d.interlaced ? 0 : step, stats != nullptr);
        d.target = &planes;
        decoded = readRows(&d);
        std::copy(planes.sums, planes.sums + 3, sums);
    });
    if (!decoded) return damaged();
    if (stats) {
        if (d.channels < 3) sums[2] = sums[1] = sums[0];
        for (int c = 0; c < 3; ++c)
            stats[c] = byteStatistics(sums[c].max, sums[c].min, sums[c].sum, sums[c].squares,
                                      static_cast<long long>(pixels));
    }
    record = std::move(img);
    return true;
}

}  // namespace frontend
