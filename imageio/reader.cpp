// Reading the own image file format: header, dimension records, pixel data
// (raw or one zlib stream) and tail, with byte-order detection and swapping.
//
// Every size in a file is checked before it is used: a damaged or hostile
// file is refused with a message and a null result, never a crash, a huge
// allocation on the header's word, or the end of the host process.
#include <sys/mman.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "imageio_internal.h"

static_assert(sizeof(TAMODIM) == tamo::io::kDimRecord, "dimension records are 64 bytes on disk");

namespace tamo::io {

int probeCPUEndian() {
    const unsigned char bytes[4] = {'A', 'B', 'C', 'D'};
    int32_t v;
    std::memcpy(&v, bytes, 4);
    TamoCPUEndian = v == 0x44434241 ? 2 : 1;
    return TamoCPUEndian;
}

const TAMODTYPE *typeByCode(int32_t code) {
    if (code == 0) return nullptr;
    for (int i = 0; i < Tamo_Ntyp; ++i)
        if (Tamo_Dtyp[i].code == static_cast<uint32_t>(code)) return &Tamo_Dtyp[i];
    return nullptr;
}

}  // namespace tamo::io

namespace {

using namespace tamo::io;

// Streams of unknown length (pipes, memory streams) get their buffers in
// steps of at most this size, so a header cannot make the reader allocate
// much more than the bytes that actually arrive.
constexpr long long kGrowStep = 16LL << 20;
// Deflate never expands data by more than this factor when inflating.
constexpr long long kMaxInflateRatio = 1032;
constexpr std::size_t kInflateChunk = 256 << 10;

template <class T>
void swapValue(T &v) {
    swapcopy(reinterpret_cast<char *>(&v), sizeof v);
}

int32_t get32(const unsigned char *disk, int at) {
    int32_t v;
    std::memcpy(&v, disk + at, 4);
    return v;
}

// Bytes left in a regular file from the current position; -1 when the
// stream's length is unknown.
long long bytesLeft(FILE *fp) {
    int fd = fileno(fp);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    off_t pos = ftello(fp);
    if (pos < 0) return -1;
    return static_cast<long long>(st.st_size) - pos;
}

// Reads and drops up to n bytes; returns how many were there.
long long skipBytes(FILE *fp, long long n) {
    char scratch[512];
    long long skipped = 0;
    while (skipped < n) {
        std::size_t want =
            static_cast<std::size_t>(std::min<long long>(n - skipped, sizeof scratch));
        std::size_t got = std::fread(scratch, 1, want, fp);
        skipped += static_cast<long long>(got);
        if (got < want) break;
    }
    return skipped;
}

// Large pixel buffers are filled once, front to back: huge pages spare the
// kernel most of the page faults. Only whole pages inside the buffer are
// advised; where the memory is not suited the advice is simply declined.
void preferHugePages(char *p, long long n) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kHuge = 2 << 20;
    if (n < static_cast<long long>(4 * kHuge)) return;
    uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(p) + static_cast<uintptr_t>(n)) & ~(kHuge - 1);
    if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}

// A buffer from Tamoalc that grows up to a limit (the size the header
// announces) as bytes arrive.
class GrowingBuffer {
public:
    // Returns false after a message when memory runs out.
    bool start(long long limit, long long initial) {
        limit_ = limit;
        cap_ = std::min(limit, initial);
        data_.reset(static_cast<char *>(Tamoalc(static_cast<int>(cap_))));
        if (!data_) return false;
        preferHugePages(data_.get(), cap_);
        return true;
    }
    bool grow() {
        long long next = std::min(limit_, cap_ * 2);
        char *p = static_cast<char *>(orvrealloc(data_.get(), next));
        if (!p) return false;
        data_.release();
        data_.reset(p);
        cap_ = next;
        return true;
    }
    char *data() const { return data_.get(); }
    long long capacity() const { return cap_; }
    char *release() { return data_.release(); }

private:
    tamo::CArray<char> data_;
    long long limit_ = 0, cap_ = 0;
};

// Initial buffer size for a section of n bytes whose stored form needs at
// least n / ratio bytes of the stream: all of it when the stream is a file
// long enough to hold it, a step otherwise. Returns -1 when a file is too
// short to hold the section at all.
long long initialCapacity(FILE *fp, long long n, long long ratio) {
    long long left = bytesLeft(fp);
    if (left < 0) return std::min(n, kGrowStep);
    if (left < (n + ratio - 1) / ratio) return -1;
    return n;
}

// Reads exactly n raw bytes into buf; returns the count read.
long long readRaw(FILE *fp, GrowingBuffer &buf, long long n) {
    long long got = 0;
    while (got < n) {
        if (got == buf.capacity() && !buf.grow()) return -2;
        std::size_t want = static_cast<std::size_t>(buf.capacity() - got);
        std::size_t r = std::fread(buf.data() + got, 1, want, fp);
        got += static_cast<long long>(r);
        if (r < want) break;
    }
    return got;
}

enum class Inflated { Ok, NoMemory, Corrupt, Truncated, WrongSize };

// Inflates one zlib stream from fp into buf until zlib reports its end and
// leaves fp right after the data padding (n uncompressed bytes). Bytes read
// ahead past that point are given back to the stream.
Inflated inflateData(FILE *fp, GrowingBuffer &buf, long long n, long long *produced) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return Inflated::NoMemory;
    std::unique_ptr<z_stream, int (*)(z_stream *)> end(&zs, inflateEnd);
    std::unique_ptr<unsigned char[]> in(new unsigned char[kInflateChunk]);
    unsigned char overflow[1];
    bool eof = false, spilled = false;
    zs.next_out = reinterpret_cast<Bytef *>(buf.data());
    zs.avail_out = static_cast<uInt>(buf.capacity());
    Inflated result = Inflated::Ok;
    for (;;) {
        if (zs.avail_in == 0 && !eof) {
            std::size_t r = std::fread(in.get(), 1, kInflateChunk, fp);
            eof = r < kInflateChunk;
            zs.next_in = in.get();
            zs.avail_in = static_cast<uInt>(r);
        }
        if (zs.avail_out == 0) {
            long long have = static_cast<long long>(zs.total_out);
            if (have < n) {
                if (!buf.grow()) {
                    result = Inflated::NoMemory;
                    break;
                }
                zs.next_out = reinterpret_cast<Bytef *>(buf.data() + have);
                zs.avail_out = static_cast<uInt>(buf.capacity() - have);
            } else if (!spilled) {
                // A stream that still has output after n bytes is too long;
                // give it one spare byte to find out.
                spilled = true;
                zs.next_out = overflow;
                zs.avail_out = sizeof overflow;
            } else {
                result = Inflated::WrongSize;
                break;
            }
        }
        int ret = inflate(&zs, Z_NO_FLUSH);
        if (ret == Z_STREAM_END) break;
        if (ret == Z_OK) continue;
        if (ret == Z_BUF_ERROR) {
            // No progress: with room to write, the input has run out.
            if (zs.avail_in == 0 && eof && zs.avail_out != 0) {
                result = Inflated::Truncated;
                break;
            }
            continue;
        }
        result = ret == Z_MEM_ERROR ? Inflated::NoMemory : Inflated::Corrupt;
        break;
    }
    *produced = static_cast<long long>(zs.total_out);
    if (result != Inflated::Ok) return result;
    if (*produced != n) return Inflated::WrongSize;

    // Position the stream after the data padding, where a tail starts.
    long long pad = padAfter(n);
    long long ahead = zs.avail_in;
    if (ahead < pad) {
        skipBytes(fp, pad - ahead);
    } else if (ahead > pad) {
        long long back = ahead - pad;
        if (fseeko(fp, -static_cast<off_t>(back), SEEK_CUR) != 0) {
            std::clearerr(fp);
            // Not seekable (a pipe): push the tail's first bytes back.
            for (long long i = ahead - 1; i >= pad; --i)
                if (std::ungetc(zs.next_in[i], fp) == EOF) break;
        }
    }
    return Inflated::Ok;
}

// Checks the fields later stages size things by. Returns false after a
// message.
bool checkHeader(TAMOHDR *h) {
    char msg[200];
    if (h->orvndim < 1 || h->orvndim > TAMO_MAXDIM) {
        Tamoerr = TAMO_EDIMS;
        std::snprintf(msg, sizeof msg,
                      "TamoRdHdr: number of dimensions is %d; this version of TAMO reads 1 to 3 "
                      "[file damaged?]",
                      h->orvndim);
        Tamodie(msg);
        return false;
    }
    // The endian byte decides whether dimension records and pixels are
    // swapped; any other value leaves their byte order unknown.
    if (h->orvendian != 1 && h->orvendian != 2) {
        Tamoerr = TAMO_EHEADER;
        std::snprintf(msg, sizeof msg,
                      "TamoRdHdr: endian byte %d is neither 1 (big-endian) nor 2 (little-endian) "
                      "[file damaged?]",
                      h->orvendian);
        Tamodie(msg);
        return false;
    }
    return true;
}

// A negative tail length is damage in either byte order, even though a file
// of the other order is read without its tail.
bool checkTailLength(int32_t tlen) {
    if (tlen >= 0) return true;
    char msg[120];
    Tamoerr = TAMO_EHEADER;
    std::snprintf(msg, sizeof msg, "TamoRdHdr: tail length %d is negative [file damaged?]", tlen);
    Tamodie(msg);
    return false;
}

// Reverses the numeric header fields of a file of the other byte order.
void swapFields(TAMOHDR *h) {
    swapValue(h->orvbsize);
    swapValue(h->orvhblk);
    swapValue(h->orvdblk);
    swapValue(h->orvtblk);
    swapValue(h->orvtlen);
    swapValue(h->orvscale);
    swapValue(h->orvoffset);
    swapValue(h->dtype);
    swapValue(h->orvbpd);
    swapValue(h->orvndim);
    // The tail's form is the user's; it is not carried across byte orders.
    h->orvtlen = 0;
    h->orvtail = nullptr;
}

void reportUnknownTypeName(const TAMOHDR *h, int (*report)(const char *)) {
    char msg[600];
    Tamoerr = TAMO_EHEADER;
    std::snprintf(msg, sizeof msg, "%s\n%s (field 'orvdt' contains '%s')\n%s",
                  "TamoRdHdr: WARNING!  Data Type Field 'orvdt' does not contain a data type",
                  "          recognized by this version of TAMO", h->orvdt,
                  "          Image has damaged header?");
    report(msg);
}

// A file of the other byte order takes its type from the table entry of its
// name, with a warning when its name or code disagrees with that entry.
void adoptTableType(TAMOHDR *h, const TAMODTYPE *t) {
    if (std::strcmp(h->orvdt, t->name) != 0 || static_cast<uint32_t>(h->dtype) != t->code) {
        char msg[600];
        Tamoerr = TAMO_EHEADER;
        std::snprintf(msg, sizeof msg, "%s\n%s'%s',\n%s%x\n%s'%s',\n%s%x",
                      "TamoRdHdr: WARNING!  File header fields 'orvdt', 'dtype' contain",
                      "          inconsistent information -- hdr->Tamodt = ", h->orvdt,
                      "          hdr->dtype = $", static_cast<unsigned>(h->dtype),
                      "          Data type table shows 'orvdt' should be = ", t->name,
                      "          and 'dtype' should be $", t->code);
        Tamowarn(msg);
    }
    h->dtype = static_cast<int32_t>(t->code);
    tamo::setField(h->orvdt, t->name);
}

// Refuses type fields that do not size the pixel data as the type table
// does. Operators create records like a source by its type name and copy the
// source's bytes per datum, and the pixel accessors step by its code; a name,
// a code and a datum size that disagree would make them read or write past
// their buffers. A file of the other byte order takes the code of its name's
// entry, so only a file of this order has its stored code checked too.
// Returns the table entry of the name, or null after a message.
const TAMODTYPE *checkType(const TAMOHDR *h, bool otherOrder) {
    const int32_t savedErr = Tamoerr;
    const TAMODTYPE *byName = Tamotype(h->orvdt);
    Tamoerr = savedErr;  // the look-up's own code is not the file's problem yet
    const TAMODTYPE *byCode = typeByCode(h->dtype);
    char reason[120] = "";
    auto sizeOk = [&](const TAMODTYPE *t) {
        return t->code == TAMO_STRUCT ? h->orvbpd >= 1 : h->orvbpd == t->size;
    };
    if (!byName) {
        reportUnknownTypeName(h, Tamowarn);
        std::snprintf(reason, sizeof reason, "the name is not in the type table");
    } else if (!sizeOk(byName)) {
        if (byName->code == TAMO_STRUCT)
            std::snprintf(reason, sizeof reason, "'struct' needs at least 1 byte per datum");
        else
            std::snprintf(reason, sizeof reason, "the type table gives '%s' a datum size of %d",
                          byName->name, byName->size);
    } else if (!otherOrder && byCode && !sizeOk(byCode)) {
        std::snprintf(reason, sizeof reason,
                      "the type table gives code $%x ('%s') a datum size of %d", byCode->code,
                      byCode->name, byCode->size);
    } else {
        return byName;
    }
    char msg[300];
    Tamoerr = TAMO_EHEADER;
    std::snprintf(msg, sizeof msg,
                  "TamoRdHdr: data type '%s', code $%x, %d bytes per datum: %s [file damaged?]",
                  h->orvdt, static_cast<unsigned>(h->dtype), h->orvbpd, reason);
    Tamodie(msg);
    return nullptr;
}

// Reverses every `size`-byte unit of n bytes.
void swapUnits(char *p, long long n, std::size_t size) {
    switch (size) {
        case 2:
            for (long long i = 0; i < n; i += 2) {
                uint16_t v;
                std::memcpy(&v, p + i, 2);
                v = __builtin_bswap16(v);
                std::memcpy(p + i, &v, 2);
            }
            break;
        case 4:
            for (long long i = 0; i < n; i += 4) {
                uint32_t v;
                std::memcpy(&v, p + i, 4);
                v = __builtin_bswap32(v);
                std::memcpy(p + i, &v, 4);
            }
            break;
        case 8:
            for (long long i = 0; i < n; i += 8) {
                uint64_t v;
                std::memcpy(&v, p + i, 8);
                v = __builtin_bswap64(v);
                std::memcpy(p + i, &v, 8);
            }
            break;
        default:
            for (long long i = 0; i + static_cast<long long>(size) <= n;
                 i += static_cast<long long>(size))
                swapcopy(p + i, static_cast<int>(size));
    }
}

// Byte count of a record's pixel data from its dimension records, or -1
// when a length is not positive or the count exceeds what a record can hold.
long long checkedByteCount(const TAMOHDR *h) {
    if (h->orvndim < 1 || h->orvndim > TAMO_MAXDIM || h->orvbpd < 1) return -1;
    long long n = h->orvbpd;
    for (int i = 0; i < h->orvndim; ++i) {
        if (h->orvdim[i].dlen < 1) return -1;
        n *= h->orvdim[i].dlen;
        if (n > INT_MAX) return -1;
    }
    return n;
}

// Byte count of the pixel data the dimension records claim (lengths already
// known positive), or -1 when it is beyond what 64 bits count.
int64_t claimedByteCount(const TAMOHDR *h) {
    int64_t n = h->orvbpd;
    for (int i = 0; i < h->orvndim; ++i) {
        if (n > INT64_MAX / h->orvdim[i].dlen) return -1;
        n *= h->orvdim[i].dlen;
    }
    return n;
}

}  // namespace

extern "C" {

void swapcopy(char *bytes, int n) {
    if (bytes && n > 1) std::reverse(bytes, bytes + n);
}

void swapcopy2(char *dst, const char *src, int n) {
    for (int i = 0; i < n; ++i) dst[i] = src[n - 1 - i];
}

void swaphdr(TAMOHDR *hdr) {
    if (!hdr) return;
    swapFields(hdr);
    const int32_t savedErr = Tamoerr;
    const TAMODTYPE *t = Tamotype(hdr->orvdt);
    if (!t) {
        reportUnknownTypeName(hdr, Tamodie);
        return;
    }
    Tamoerr = savedErr;
    adoptTableType(hdr, t);
}

TAMOHDR *TamoConvertDims(TAMOHDR *hdr) {
    if (!hdr) return hdr;
    for (int i = 0; i < hdr->orvndim && i < TAMO_MAXDIM; ++i) {
        swapValue(hdr->orvdim[i].dlen);
        swapValue(hdr->orvdim[i].dnum);
    }
    return hdr;
}

int TamoConvertData(TAMOHDR *hdr, TAMOHDR *img) {
    if (!hdr || !img || !img->orvptr) return -1;
    long long bytes = static_cast<long long>(tamo::elementCount(hdr)) * hdr->orvbpd;
    std::size_t unit = 0;
    bool known = tamo::visitScalar(hdr->dtype, [&](auto tag, tamo::ElemLayout) {
        // Complex halves and interleaved channels are swapped as separate
        // scalars, like the planar types.
        unit = sizeof(typename decltype(tag)::type);
    });
    if (!known) {
        Tamoerr = TAMO_ETYPE;
        if (hdr->dtype == TAMO_STRUCT) {
            std::printf(
                "This image was created on another type computer, and it is data type "
                "\"struct\".\n"
                "I cannot convert it to this platform because I dont know the format of the "
                "(user-defined) struct.\n"
                "Sorry\n");
        } else {
            std::printf("convertdata: unknown data type in input image\n");
        }
        std::fflush(stdout);
        return -1;
    }
    swapUnits(img->orvptr, bytes, unit);
    return 0;
}

TAMOHDR *TamoRdHdr(FILE *fp) {
    tamo::DepthGuard depth;
    probeCPUEndian();
    if (!fp) {
        Tamoerr = TAMO_ENULL;
        Tamodie("TamoRdHdr: file pointer passed was NULL.");
        return nullptr;
    }
    // The record is freed field-less (orvdln and orvptr are still null)
    // until it is known to be a valid header.
    tamo::CArray<TAMOHDR> hdr(static_cast<TAMOHDR *>(
        Tamoalc(static_cast<int>(std::max<std::size_t>(TAMO_BLOCK, sizeof(TAMOHDR))))));
    if (!hdr) {
        Tamoext(TAMOSLV, "TamoRdHdr: ran out of memory.");
        return nullptr;
    }
    unsigned char disk[TAMO_DISK_HEADER];
    if (std::fread(disk, 1, sizeof disk, fp) != sizeof disk) {
        Tamoerr = TAMO_EIO;
        Tamodie("TamoRdHdr: I/O error or EOF when reading header.");
        return nullptr;
    }
    TAMOHDR *h = hdr.get();
    // Offset 24 and the pointer places in the file are ignored: the record's
    // pointers are never taken from a file.
    std::memcpy(h->orvmagic, disk + off::magic, 4);
    h->orvbsize = get32(disk, off::bsize);
    h->orvhblk = get32(disk, off::hblk);
    h->orvdblk = get32(disk, off::dblk);
    h->orvtblk = get32(disk, off::tblk);
    h->orvtlen = get32(disk, off::tlen);
    std::memcpy(h->orvclass, disk + off::fileClass, 8);
    std::memcpy(h->orvctype, disk + off::ctype, 8);
    std::memcpy(h->orvuser, disk + off::user, 32);
    std::memcpy(h->orvdate, disk + off::date, 32);
    std::memcpy(h->orvprog, disk + off::prog, 32);
    std::memcpy(h->orvpver, disk + off::pver, 8);
    h->orvendian = static_cast<signed char>(disk[off::endian]);
    h->orvfmt = static_cast<char>(disk[off::fmt]);
    std::memcpy(h->orvrsv, disk + off::rsv, 38);
    std::memcpy(h->orvunits, disk + off::units, 16);
    std::memcpy(&h->orvscale, disk + off::scale, 4);
    std::memcpy(&h->orvoffset, disk + off::offset, 4);
    std::memcpy(h->orvdt, disk + off::dt, 16);
    h->orvdt[15] = '\0';  // no type name is 16 characters; keeps look-ups inside the field
    h->dtype = get32(disk, off::dtype);
    h->orvbpd = get32(disk, off::bpd);
    h->orvndim = get32(disk, off::ndim);
    std::memcpy(h->orvrsv2, disk + off::rsv2, 3);
    h->orvcomp = static_cast<char>(disk[off::comp]);

    if (h->orvbsize != kBlockSize && h->orvbsize != kBlockSizeSwapped) {
        std::printf("input file blocksize not set to anything I recognize\n");
        std::fflush(stdout);
        Tamoerr = TAMO_EHEADER;
        return nullptr;
    }
    if (std::memcmp(h->orvmagic, "TAM", 4) != 0 && std::memcmp(h->orvmagic, "ORV", 4) != 0) {
        Tamoerr = TAMO_EHEADER;
        Tamodie("TamoRdHdr: file does not begin with the mark TAM or ORV [file damaged?]");
        return nullptr;
    }
    const bool otherOrder = h->orvbsize != kBlockSize;
    int32_t storedTail = h->orvtlen;
    if (otherOrder) swapValue(storedTail);
    if (!checkTailLength(storedTail)) return nullptr;
    if (otherOrder) swapFields(h);
    const TAMODTYPE *type = checkType(h, otherOrder);
    if (!type) return nullptr;
    // A file of this machine's order keeps its type fields as stored.
    if (otherOrder) adoptTableType(h, type);
    if (!checkHeader(h)) return nullptr;
    return hdr.release();
}

TAMOHDR *TamoRdDims(TAMOHDR *hdr, FILE *fp) {
    tamo::DepthGuard depth;
    probeCPUEndian();
    if (!hdr) {
        Tamoerr = TAMO_ENULL;
        Tamoext(TAMOSLV, "TamoRdDims: header passed was null.");
        return nullptr;
    }
    if (!fp) {
        Tamoerr = TAMO_ENULL;
        Tamoext(TAMOSLV, "TamoRdDims: file pointer passed was NULL.");
        return nullptr;
    }
    const int ndim = hdr->orvndim;
    if (ndim < 1 || ndim > TAMO_MAXDIM) {
        Tamoerr = TAMO_EDIMS;
        Tamodie("TamoRdDims: number of dimensions not 1 to 3 [file damaged?]");
        return nullptr;
    }
    if (std::fread(hdr->orvdim, kDimRecord, ndim, fp) != static_cast<std::size_t>(ndim)) {
        Tamoerr = TAMO_EIO;
        Tamodie("TamoRdDims: I/O error or EOF when reading dimension headers.");
        return nullptr;
    }
    long long used = TAMO_DISK_HEADER + kDimRecord * ndim;
    int pad = static_cast<int>(padAfter(used));
    char padding[TAMO_BLOCK];
    int padded = static_cast<int>(std::fread(padding, 1, pad, fp));
    if (padded < pad) {
        Tamowarn("TamoRdDims: WARNING!  There is no padding after the");
        Tamowarn("          TAMO file header.  File is probably damaged.");
    }
    // The header is padded with '.' (zero bytes are let through too): other
    // bytes there mean the header section is shorter than its block, and
    // what follows would be read from the wrong place.
    for (int i = 0; i < padded; ++i) {
        if (padding[i] != '.' && padding[i] != '\0') {
            Tamoerr = TAMO_EHEADER;
            Tamodie(
                "TamoRdDims: the header's padding holds other bytes than '.' [file "
                "damaged?]");
            return nullptr;
        }
    }
    if (hdr->orvendian == TamoCPUEndian) {
        if (Tamoerr) {
            Tamoerr = 0;
            Tamowarn("TamoRdDims: WARNING -- File dimensions are inconsistent\n");
        }
    } else {
        TamoConvertDims(hdr);
    }

    // Dimension records may come in any order but must number 1..ndim once
    // each; they are kept in dimension-number order.
    std::sort(hdr->orvdim, hdr->orvdim + ndim,
              [](const TAMODIM &a, const TAMODIM &b) { return a.dnum < b.dnum; });
    char msg[320];
    for (int i = 0; i < ndim; ++i) {
        if (hdr->orvdim[i].dnum != i + 1) {
            Tamoerr = TAMO_EHEADER;
            Tamodie(
                "TamoRdDims: dimension records are not numbered 1 to the number of "
                "dimensions [file damaged?]");
            return nullptr;
        }
        if (hdr->orvdim[i].dlen < 1) {
            Tamoerr = TAMO_EHEADER;
            std::snprintf(msg, sizeof msg, "TamoRdDims: dimension %d has length %d [file damaged?]",
                          i + 1, hdr->orvdim[i].dlen);
            Tamodie(msg);
            return nullptr;
        }
    }
    if (Tamochkread(claimedByteCount(hdr)) != 0) {
        std::snprintf(msg, sizeof msg, "TamoRdDims: the image is too large to read: %s",
                      Tamolimittext());
        Tamodie(msg);
        Tamoerr = TAMO_ELIMIT;
        return nullptr;
    }
    if (hdr->orvdln) Tamocfree(hdr->orvdln);
    hdr->orvdln = Tamo_ao(hdr);
    if (!hdr->orvdln) {
        Tamoerr = TAMO_ENOMEM;
        Tamodie("TamoRdDims: can't allocate space for 'orvdln' field");
        return nullptr;
    }
    return hdr;
}

int TamoRdData(TAMOHDR *hdr, FILE *fp) {
    Tamoerr = 0;
    tamo::DepthGuard depth;
    probeCPUEndian();
    if (!hdr) {
        Tamoerr = TAMO_ENULL;
        Tamoext(TAMOSLV, "TamoRdData: header passed was null.");
        return TAMO_ENULL;
    }
    if (!fp) {
        Tamoerr = TAMO_ENULL;
        Tamoext(TAMOSLV, "TamoRdData: file pointer passed was NULL.");
        return TAMO_ENULL;
    }
    const long long n = checkedByteCount(hdr);
    const bool compressed = hdr->orvcomp != 0;
    long long initial = n < 0 ? -1 : initialCapacity(fp, n, compressed ? kMaxInflateRatio : 1);

    GrowingBuffer buf;
    const char *problem = nullptr;
    long long produced = 0;
    if (n < 0) {
        problem = "TamoRdData: the header's dimensions give no valid data size";
    } else if (initial < 0) {
        problem = "TamoRdData: the file ends before the data it announces";
    } else if (!buf.start(n, initial)) {
        Tamodie("TamoRdData: couldn't allocate space to store image data.");
        Tamofree(hdr, 7);
        return TAMO_ENOMEM;
    } else if (!compressed) {
        produced = readRaw(fp, buf, n);
        if (produced == -2) {
            Tamodie("TamoRdData: couldn't allocate space to store image data.");
            Tamofree(hdr, 7);
            return TAMO_ENOMEM;
        }
        if (produced == n) skipBytes(fp, padAfter(n));
    } else {
        switch (inflateData(fp, buf, n, &produced)) {
            case Inflated::Ok:
                break;
            case Inflated::NoMemory:
                Tamodie("TamoRdData: couldn't allocate space to store image data.");
                Tamofree(hdr, 7);
                return TAMO_ENOMEM;
            case Inflated::Corrupt:
                problem = "TamoRdData: compressed data are corrupt";
                break;
            case Inflated::Truncated:
                problem = "TamoRdData: compressed data end before their stream does";
                break;
            case Inflated::WrongSize:
                problem = "TamoRdData: compressed data do not inflate to the size in the header";
                break;
        }
    }
    if (problem || produced != n) {
        Tamoerr = TAMO_EIO;
        if (problem) Tamowarn(problem);
        Tamodie("TamoRdData: I/O error on read of data [file damaged?]");
        Tamofree(hdr, 7);
        return TAMO_EIO;
    }

    if (hdr->orvptr) Tamocfree(hdr->orvptr);
    hdr->orvptr = buf.release();
    if (hdr->orvendian != TamoCPUEndian) {
        if (TamoConvertData(hdr, hdr) != 0) {
            Tamodie("TamoRdData: failed to convert data.");
            return -1;
        }
        if (Tamoerr) {
            Tamoerr = 0;
            Tamowarn("TamoRdData: WARNING -- File data is inconsistent\n");
        }
    }
    return 0;
}

int TamoRdTail(TAMOHDR *hdr, FILE *fp) {
    Tamoerr = 0;
    tamo::DepthGuard depth;
    if (!hdr || !fp) {
        Tamoerr = TAMO_ENULL;
        Tamodie("TamoRdTail: header or file pointer passed was null.");
        return TAMO_ENULL;
    }
    const long long n = hdr->orvtlen;
    if (n == 0) return -1;
    long long initial = n < 0 ? -1 : initialCapacity(fp, n, 1);
    GrowingBuffer buf;
    long long got = 0;
    if (initial >= 0) {
        if (!buf.start(n, initial)) {
            Tamodie("TamoRdTail: can't allocate space to store tail.");
            return TAMO_ENOMEM;
        }
        got = readRaw(fp, buf, n);
        if (got == -2) {
            Tamodie("TamoRdTail: can't allocate space to store tail.");
            return TAMO_ENOMEM;
        }
    }
    if (got != n) {
        Tamoerr = TAMO_EIO;
        Tamodie("TamoRdTail: I/O error on read of tail [file damaged?]\n");
        hdr->orvtlen = 0;
        hdr->orvtail = nullptr;
        return TAMO_EIO;
    }
    if (hdr->orvtail) Tamocfree(hdr->orvtail);
    hdr->orvtail = buf.release();

    long long block = hdr->orvbsize > 0 ? hdr->orvbsize : kBlockSize;
    long long pad = (n + block - 1) / block * block - n;
    if (skipBytes(fp, pad) < pad) {
        Tamoerr = TAMO_EIO;
        Tamodie(
            "TamoRdTail: WARNING -- I/O error or EOF encountered when reading\n"
            "          padding after tail information [file damaged?]");
    }
    if (hdr->orvendian != TamoCPUEndian) {
        std::printf(
            "Caution: the form of the tail is under user control and not known to Tamo\n"
            "This file has a tail which was written on another computer. I will all single "
            "bytes, \n"
            "and no byte swapping is needed. If this is not the case, you may get unexpected "
            "results\n");
        std::fflush(stdout);
    }
    return 0;
}

TAMOHDR *TamoRdImg(FILE *fp, int tail) {
    Tamoerr = 0;
    tamo::DepthGuard depth;
    tamo::RecordPtr img(TamoRdHdr(fp));
    if (!img) {
        Tamodie("TamoRdImg: failed to get header from file");
        return nullptr;
    }
    if (Tamoerr) {
        Tamoerr = 0;
        Tamowarn("TamoRdImg: WARNING -- File header is inconsistent\n");
    }
    if (!TamoRdDims(img.get(), fp)) {
        Tamodie("TamoRdImg: failed to get dimension headers from file");
        return nullptr;
    }
    if (Tamoerr) {
        Tamoerr = 0;
        Tamowarn("TamoRdImg: WARNING -- File dimension hdrs are inconsistent\n");
    }
    int status = TamoRdData(img.get(), fp);
    if (status != 0) {
        // On these two codes the data reader has released the record.
        if (status == 448 || status == 512) img.release();
        Tamodie("TamoRdImg: failed to get data from file");
        return nullptr;
    }
    if (Tamoerr) {
        Tamoerr = 0;
        Tamowarn("TamoRdImg: WARNING -- File data inconsistent\n");
    }
    if (tail) {
        // A file without a tail (-1) is read whole all the same.
        status = TamoRdTail(img.get(), fp);
        if (status > 0) {
            Tamodie("TamoRdImg: failed to get tail data from file");
            return nullptr;
        }
        if (Tamoerr) {
            Tamoerr = 0;
            Tamowarn("TamoRdImg: WARNING -- File tail data inconsistent\n");
        }
    }
    img->orvendian = static_cast<signed char>(TamoCPUEndian);
    img->orvfmt = 16;
    return img.release();
}

}  // extern "C"
