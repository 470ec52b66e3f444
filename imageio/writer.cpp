// Writing the own image file format, and printing a header.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "imageio_internal.h"
#include "parallel.h"

namespace {

using namespace tamo::io;

// Padding is written from this block of "." characters.
const char *dots() {
    static char block[TAMO_BLOCK];
    static bool filled = [] {
        std::memset(block, '.', sizeof block);
        return true;
    }();
    (void)filled;
    return block;
}

void put32(char *disk, int at, int32_t v) {
    std::memcpy(disk + at, &v, 4);
}

int writeFailed(const char *msg) {
    // The caller may name the system's reason: keep errno past the report.
    const int err = errno;
    Tamoerr = TAMO_EIO;
    Tamodie(msg);
    errno = err;
    return 0;
}

// One stretch of the file, and the message for a failed write of it.
struct Section {
    const void *data;
    std::size_t size;
    const char *failure;
};

// The sections of one file, in order. Room for the fixed parts plus the
// pieces of compressed data.
class Sections {
public:
    explicit Sections(long long dataParts) {
        const std::size_t needed = static_cast<std::size_t>(dataParts) + kFixed;
        if (needed > kInline)
            list_ = owned_ = static_cast<Section *>(Tamo_alcptr(needed, sizeof(Section)));
    }
    ~Sections() {
        if (owned_) Tamo_freeptr(owned_);
    }
    Sections(const Sections &) = delete;
    Sections &operator=(const Sections &) = delete;

    bool ok() const { return list_ != nullptr; }
    void add(const void *data, std::size_t size, const char *failure) {
        if (size > 0) list_[count_++] = {data, size, failure};
    }
    const Section *begin() const { return list_; }
    std::size_t count() const { return count_; }

private:
    // Header, dimensions, padding, zlib header and trailer, padding, tail
    // and its padding.
    static constexpr std::size_t kFixed = 8, kInline = 16;
    Section inline_[kInline];
    Section *owned_ = nullptr;
    Section *list_ = inline_;
    std::size_t count_ = 0;
};

// Writes the sections through the stream's file descriptor in as few
// system calls as the kernel allows: the pixel data go from the record (or
// the compressed pieces) straight to the file, without a copy through the
// stream's buffer. Whatever the stream held is flushed first, and its
// position follows the bytes written. Streams without a descriptor (memory
// streams) are written through stdio. Returns null when everything was
// written, else the failure message of the section that failed.
// Files from this size on have their blocks reserved before they are written.
constexpr std::size_t kReserveFrom = std::size_t(1) << 20;

const char *writeSections(FILE *fp, const Sections &sections) {
    const Section *s = sections.begin();
    const std::size_t count = sections.count();
    const int fd = ::fileno(fp);
    if (fd < 0) {
        for (std::size_t i = 0; i < count; ++i)
            if (std::fwrite(s[i].data, 1, s[i].size, fp) != s[i].size) return s[i].failure;
        return nullptr;
    }
    if (count == 0) return nullptr;
    if (std::fflush(fp) != 0) return s[0].failure;
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
#ifdef FALLOC_FL_KEEP_SIZE
    // Reserving the file's blocks in one call spares the file system its
    // page-by-page allocation during the write; the file's length still
    // grows only with what is written. Where reserving fails, the write
    // goes on without it.
    if (regular) {
        std::size_t total = 0;
        for (std::size_t i = 0; i < count; ++i) total += s[i].size;
        const off_t position = ::lseek(fd, 0, SEEK_CUR);
        if (position >= 0 && total > kReserveFrom)
            (void)::fallocate(fd, FALLOC_FL_KEEP_SIZE, position, static_cast<off_t>(total));
    }
#endif

    std::size_t at = 0, done = 0;  // section, and bytes of it written
    while (at < count) {
        iovec vec[64];
        int used = 0;
        for (std::size_t i = at; i < count && used < 64; ++i, ++used) {
            const std::size_t skip = i == at ? done : 0;
            vec[used].iov_base = const_cast<char *>(static_cast<const char *>(s[i].data) + skip);
            vec[used].iov_len = s[i].size - skip;
        }
        const ssize_t wrote = ::writev(fd, vec, used);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            if (wrote == 0) errno = EIO;
            return s[at].failure;
        }
        std::size_t left = static_cast<std::size_t>(wrote);
        while (left > 0) {
            const std::size_t rest = s[at].size - done;
            if (left < rest) {
                done += left;
                break;
            }
            left -= rest;
            ++at;
            done = 0;
        }
    }
    // The stream may have cached its position: give it the descriptor's.
    if (regular) {
        const off_t position = ::lseek(fd, 0, SEEK_CUR);
        if (position >= 0) ::fseeko(fp, position, SEEK_SET);
    }
    return nullptr;
}

// Compressed pixel data: one zlib stream made of pieces deflated side by
// side. Each piece of kPieceBytes input bytes (the last may be shorter) is
// deflated on its own at the default level and ended with a sync flush (an
// empty stored block that ends on a byte boundary), the last one with the
// final block; the raw pieces in order, behind one zlib header and before
// the Adler-32 of all the data, are one valid stream. The piece size is
// fixed, so the bytes do not depend on the thread count.
class PackedData {
public:
    static constexpr std::size_t kPieceBytes = std::size_t(1) << 20;

    PackedData(const unsigned char *data, std::size_t n)
        : data_(data),
          n_(n),
          pieces_(n == 0 ? 1 : static_cast<long long>((n + kPieceBytes - 1) / kPieceBytes)),
          room_(roomFor(std::min(n, kPieceBytes))) {}
    ~PackedData() {
        if (out_) Tamo_freeptr(out_);
        if (sizes_) Tamo_freeptr(sizes_);
    }
    PackedData(const PackedData &) = delete;
    PackedData &operator=(const PackedData &) = delete;

    long long pieces() const { return pieces_; }

    // False when memory for the pieces or for zlib's state ran out.
    bool pack() {
        out_ = static_cast<unsigned char *>(Tamo_alcptr(static_cast<std::size_t>(pieces_), room_));
        // Each piece's compressed size, then each piece's Adler-32.
        sizes_ = static_cast<std::size_t *>(
            Tamo_alcptr(2 * static_cast<std::size_t>(pieces_), sizeof(std::size_t)));
        if (!out_ || !sizes_) return false;
        const int threads = tamo::threadsFor(static_cast<long long>(n_), pieces_);
        bool failed = false;
#ifdef _OPENMP
#pragma omp parallel num_threads(threads) reduction(|| : failed)
#endif
        {
            z_stream stream{};
            const bool ready = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS,
                                            8, Z_DEFAULT_STRATEGY) == Z_OK;
#ifdef _OPENMP
#pragma omp for schedule(dynamic, 1)
#endif
            for (long long p = 0; p < pieces_; ++p) {
                if (!ready || !packPiece(stream, p)) failed = true;
            }
            if (ready) deflateEnd(&stream);
        }
        (void)threads;
        return !failed;
    }

    // The zlib stream as sections: header, pieces, trailer.
    void addTo(Sections &sections, const char *failure) {
        static const unsigned char header[2] = {0x78, 0x9c};  // deflate, 32 KiB window, level 6
        sections.add(header, sizeof header, failure);
        uLong adler = adler32(0L, Z_NULL, 0);
        for (long long p = 0; p < pieces_; ++p) {
            sections.add(out_ + static_cast<std::size_t>(p) * room_, sizes_[p], failure);
            adler = adler32_combine(adler, static_cast<uLong>(sizes_[pieces_ + p]),
                                    static_cast<z_off_t>(pieceLength(p)));
        }
        for (int i = 0; i < 4; ++i) trailer_[i] = static_cast<unsigned char>(adler >> (24 - 8 * i));
        sections.add(trailer_, sizeof trailer_, failure);
    }

private:
    // Output room for one piece: zlib's bound for one-call compression,
    // which covers the raw data with its stored-block framing, plus the
    // sync flush marker.
    static std::size_t roomFor(std::size_t bytes) {
        return compressBound(bytes) + 16;
    }

    std::size_t pieceLength(long long p) const {
        const std::size_t start = static_cast<std::size_t>(p) * kPieceBytes;
        return std::min(kPieceBytes, n_ - start);
    }

    bool packPiece(z_stream &stream, long long p) {
        if (deflateReset(&stream) != Z_OK) return false;
        const bool last = p == pieces_ - 1;
        const Bytef *in = data_ + static_cast<std::size_t>(p) * kPieceBytes;
        const uInt length = static_cast<uInt>(pieceLength(p));
        sizes_[pieces_ + p] = adler32(adler32(0L, Z_NULL, 0), in, length);
        stream.next_in = const_cast<Bytef *>(in);
        stream.avail_in = length;
        stream.next_out = out_ + static_cast<std::size_t>(p) * room_;
        stream.avail_out = static_cast<uInt>(room_);
        const int status = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
        if (last ? status != Z_STREAM_END
                 : (status != Z_OK || stream.avail_in != 0 || stream.avail_out == 0))
            return false;
        sizes_[p] = room_ - stream.avail_out;
        return true;
    }

    const unsigned char *data_;
    std::size_t n_;
    long long pieces_;
    std::size_t room_;
    unsigned char *out_ = nullptr;
    std::size_t *sizes_ = nullptr;
    unsigned char trailer_[4] = {};
};

}  // namespace

extern "C" {

char *CopyorvHdrtoDiskHeader(TAMOHDR *img) {
    // Per thread: images are written on several threads at once.
    static thread_local char disk[TAMO_DISK_HEADER];
    std::memset(disk, 0, sizeof disk);
    if (!img) return disk;
    std::memcpy(disk + off::magic, img->orvmagic, 4);
    put32(disk, off::bsize, img->orvbsize);
    put32(disk, off::hblk, img->orvhblk);
    put32(disk, off::dblk, img->orvdblk);
    put32(disk, off::tblk, img->orvtblk);
    put32(disk, off::tlen, img->orvtlen);
    std::memcpy(disk + off::fileClass, img->orvclass, 8);
    std::memcpy(disk + off::ctype, img->orvctype, 8);
    std::memcpy(disk + off::user, img->orvuser, 32);
    std::memcpy(disk + off::date, img->orvdate, 32);
    std::memcpy(disk + off::prog, img->orvprog, 32);
    std::memcpy(disk + off::pver, img->orvpver, 8);
    disk[off::endian] = static_cast<char>(img->orvendian);
    disk[off::fmt] = img->orvfmt;
    std::memcpy(disk + off::rsv, img->orvrsv, 38);
    std::memcpy(disk + off::units, img->orvunits, 16);
    std::memcpy(disk + off::scale, &img->orvscale, 4);
    std::memcpy(disk + off::offset, &img->orvoffset, 4);
    std::memcpy(disk + off::dt, img->orvdt, 16);
    put32(disk, off::dtype, img->dtype);
    put32(disk, off::bpd, img->orvbpd);
    put32(disk, off::ndim, img->orvndim);
    std::memcpy(disk + off::rsv2, img->orvrsv2, 3);
    disk[off::comp] = img->orvcomp;
    return disk;
}

int TamoWrImg(TAMOHDR *img, FILE *fp, int tail) {
    tamo::DepthGuard depth;
    if (!img) {
        Tamoerr = TAMO_ENULL;
        Tamodie("TamoWrImg: Image header is NULL");
        return 0;
    }
    if (!tamo::hasValidMagic(img)) {
        Tamoerr = TAMO_EHEADER;
        Tamodie("TamoWrImg: Invalid image header (bad magic no.)");
        return 0;
    }
    if (!img->orvptr) {
        Tamoerr = TAMO_EHEADER;
        Tamodie("TamoWrImg: No data associated with header! (field 'orvptr' = 0)");
        return 0;
    }
    tamo::CArray<int> dims(Tamosiz(img));
    if (!dims) {
        Tamodie("TamoWrImg: internal error! Call to 'orvsiz' failed.");
        return 0;
    }
    if (!fp) {
        Tamoerr = TAMO_ENULL;
        Tamodie("TamoWrImg: file pointer passed was NULL.");
        return 0;
    }
    const int ndim = dims.get()[0];
    long long n = img->orvbpd;
    for (int i = 1; i <= ndim; ++i) n *= dims.get()[i];
    const std::size_t bytes = static_cast<std::size_t>(n);

    const int32_t tailLength = img->orvtail && img->orvtlen > 0 ? img->orvtlen : 0;
    img->orvtlen = tail ? tailLength : 0;

    // Compressed first: a record that cannot be compressed leaves the
    // stream untouched.
    PackedData packed(reinterpret_cast<const unsigned char *>(img->orvptr), bytes);
    if (img->orvcomp && !packed.pack()) {
        Tamoerr = TAMO_ECOMPBUF;
        Tamodie("TamoWrimg: error allocating memory for compression.");
        return 0;
    }
    Sections sections(img->orvcomp ? packed.pieces() : 1);
    if (!sections.ok()) {
        Tamoerr = TAMO_ECOMPBUF;
        Tamodie("TamoWrimg: error allocating memory for compression.");
        return 0;
    }

    char *disk = CopyorvHdrtoDiskHeader(img);
    put32(disk, off::bsize, kBlockSize);
    sections.add(disk, TAMO_DISK_HEADER, "TamoWrImg: I/O error when writing TAMO  header.");
    sections.add(img->orvdim, static_cast<std::size_t>(kDimRecord) * ndim,
                 "WrImg: I/O error when writing the dimensions sub headers.");
    sections.add(dots(), static_cast<std::size_t>(padAfter(TAMO_DISK_HEADER + kDimRecord * ndim)),
                 "WrImg: I/O error when writing padding after header.");
    const char *dataFailure = "TamoWrImg: I/O error when writing the image data.";
    if (img->orvcomp)
        packed.addTo(sections, dataFailure);
    else
        sections.add(img->orvptr, bytes, dataFailure);
    // The padding follows the uncompressed size, also after compressed data.
    sections.add(dots(), static_cast<std::size_t>(padAfter(n)),
                 "TamoWrImg: I/O error when writing padding after data.");
    if (img->orvtlen != 0) {
        img->orvtail[tailLength - 1] = '\0';
        sections.add(img->orvtail, static_cast<std::size_t>(tailLength),
                     "TamoWrImg: I/O error when writing file tail.");
        sections.add(dots(), static_cast<std::size_t>(padAfter(tailLength)),
                     "TamoWrImg: I/O error when writing padding after tail.");
    }
    if (const char *failure = writeSections(fp, sections)) return writeFailed(failure);
    return -1;
}

void printhdr(TAMOHDR *hdr) {
    if (!hdr) return;
    // Text fields are printed within their size: a field read from a file
    // need not end in a NUL.
    std::printf("%.*s\n", 4, hdr->orvmagic);
    std::printf("blocksize: %d\n", hdr->orvbsize);
    std::printf("header block number:%d\n", hdr->orvhblk);
    std::printf("data block number:%d\n", hdr->orvdblk);
    std::printf("tail block number: %d\n", hdr->orvtblk);
    std::printf("file class: %.*s\n", 8, hdr->orvclass);
    std::printf("class type:%.*s\n", 8, hdr->orvctype);
    std::printf("creating user: %.*s\n", 32, hdr->orvuser);
    std::printf("creation date:%.*s\n", 32, hdr->orvdate);
    std::printf("creating program: %.*s\n", 32, hdr->orvprog);
    std::printf("creating program version:%.*s\n", 8, hdr->orvpver);
    std::printf("endian of file: %d\n", hdr->orvendian);
    std::printf("pixel units: %.*s\n", 16, hdr->orvunits);
    std::printf("Data scaled by: %f\n", hdr->orvscale);
    std::printf("data offset by: %f\n", hdr->orvoffset);
    std::printf("Data type: %.*s\n", 16, hdr->orvdt);
    std::printf("Data type (int):%lx\n",
                static_cast<unsigned long>(static_cast<uint32_t>(hdr->dtype)));
    std::printf("bytes/datum: %d\n", hdr->orvbpd);
    std::printf("number dimensions: %d\n", hdr->orvndim);
    std::printf("pointer to image: %lx\n",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(hdr->orvptr)));
    std::printf("pointer to dimen. array %lx\n",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(hdr->orvdln)));
    std::printf("user pointer: %lx\n",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(hdr->orvuptr)));
    std::printf("compresson flag:%x\n",
                static_cast<unsigned>(static_cast<unsigned char>(hdr->orvcomp)));
    std::fflush(stdout);
}

}  // extern "C"
