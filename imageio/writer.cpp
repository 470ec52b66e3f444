// Writing the own image file format, and printing a header.
#include <zlib.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "imageio_internal.h"

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

bool writePadding(FILE *fp, long long n) {
    while (n > 0) {
        std::size_t chunk = static_cast<std::size_t>(n < TAMO_BLOCK ? n : TAMO_BLOCK);
        if (std::fwrite(dots(), 1, chunk, fp) != chunk) return false;
        n -= static_cast<long long>(chunk);
    }
    return true;
}

void put32(char *disk, int at, int32_t v) {
    std::memcpy(disk + at, &v, 4);
}

int writeFailed(const char *msg) {
    Tamoerr = 448;
    Tamodie(msg);
    return 0;
}

}  // namespace

extern "C" {

char *CopyorvHdrtoDiskHeader(TAMOHDR *img) {
    static char disk[TAMO_DISK_HEADER];
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
        Tamoerr = 8;
        Tamodie("TamoWrImg: Image header is NULL");
        return 0;
    }
    if (!tamo::hasValidMagic(img)) {
        Tamoerr = 24;
        Tamodie("TamoWrImg: Invalid image header (bad magic no.)");
        return 0;
    }
    if (!img->orvptr) {
        Tamoerr = 24;
        Tamodie("TamoWrImg: No data associated with header! (field 'orvptr' = 0)");
        return 0;
    }
    tamo::CArray<int> dims(Tamosiz(img));
    if (!dims) {
        Tamodie("TamoWrImg: internal error! Call to 'orvsiz' failed.");
        return 0;
    }
    if (!fp) {
        Tamoerr = 8;
        Tamodie("TamoWrImg: file pointer passed was NULL.");
        return 0;
    }
    const int ndim = dims.get()[0];
    long long n = img->orvbpd;
    for (int i = 1; i <= ndim; ++i) n *= dims.get()[i];

    const int32_t tailLength = img->orvtail && img->orvtlen > 0 ? img->orvtlen : 0;
    img->orvtlen = tail ? tailLength : 0;

    char *disk = CopyorvHdrtoDiskHeader(img);
    put32(disk, off::bsize, kBlockSize);
    if (std::fwrite(disk, 1, TAMO_DISK_HEADER, fp) != TAMO_DISK_HEADER)
        return writeFailed("TamoWrImg: I/O error when writing TAMO  header.");
    if (std::fwrite(img->orvdim, kDimRecord, ndim, fp) != static_cast<std::size_t>(ndim))
        return writeFailed("WrImg: I/O error when writing the dimensions sub headers.");
    if (!writePadding(fp, padAfter(TAMO_DISK_HEADER + kDimRecord * ndim)))
        return writeFailed("WrImg: I/O error when writing padding after header.");

    if (img->orvcomp) {
        uLong bound = compressBound(static_cast<uLong>(n));
        tamo::CArray<Bytef> packed(
            bound <= INT_MAX ? static_cast<Bytef *>(Tamoalc(static_cast<int>(bound))) : nullptr);
        uLongf packedLength = bound;
        if (!packed || compress(packed.get(), &packedLength, reinterpret_cast<Bytef *>(img->orvptr),
                                static_cast<uLong>(n)) != Z_OK) {
            Tamoerr = 9;
            Tamodie("TamoWrimg: error allocating memory for compression.");
            return 0;
        }
        if (std::fwrite(packed.get(), 1, packedLength, fp) != packedLength)
            return writeFailed("TamoWrImg: I/O error when writing the image data.");
    } else if (std::fwrite(img->orvptr, 1, static_cast<std::size_t>(n), fp) !=
               static_cast<std::size_t>(n)) {
        return writeFailed("TamoWrImg: I/O error when writing the image data.");
    }
    // The padding follows the uncompressed size, also after compressed data.
    if (!writePadding(fp, padAfter(n)))
        return writeFailed("TamoWrImg: I/O error when writing padding after data.");

    if (img->orvtlen == 0) return -1;
    img->orvtail[tailLength - 1] = '\0';
    if (std::fwrite(img->orvtail, 1, tailLength, fp) != static_cast<std::size_t>(tailLength))
        return writeFailed("TamoWrImg: I/O error when writing file tail.");
    if (!writePadding(fp, padAfter(tailLength)))
        return writeFailed("TamoWrImg: I/O error when writing padding after tail.");
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
