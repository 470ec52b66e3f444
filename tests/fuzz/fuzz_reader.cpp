// libFuzzer target for the file reader: any bytes must give either a whole,
// consistent record or a refusal; never a crash, an out-of-bounds access, a
// leak, or the end of the process.
//
//   fuzz_reader -close_fd_mask=3 tests/fuzz/corpus_reader
//
// The first input byte chooses whether the tail is read (bit 0) and whether
// the file is a memory stream or a regular file (bit 1); the rest is the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tamo.h"

namespace {

[[noreturn]] void processEnded(int) {
    // The reader must refuse damaged files, not end its host.
    std::abort();
}

FILE *memoryStream(const uint8_t *data, size_t size) {
    // fmemopen refuses an empty buffer; an empty stream reads as end of file.
    static char none[1];
    if (size) return fmemopen(const_cast<uint8_t *>(data), size, "rb");
    FILE *fp = fmemopen(none, 1, "r");
    if (fp) std::fgetc(fp);
    return fp;
}

// A regular file, whose length the reader can see.
FILE *fileStream(const uint8_t *data, size_t size) {
    FILE *fp = std::tmpfile();
    if (!fp) return nullptr;
    std::fwrite(data, 1, size, fp);
    std::rewind(fp);
    return fp;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Tamo_exitptr = processEnded;
    if (size < 1) return 0;
    const int tail = data[0] & 1;
    FILE *fp = (data[0] & 2) ? fileStream(data + 1, size - 1) : memoryStream(data + 1, size - 1);
    if (!fp) return 0;
    TAMOHDR *img = TamoRdImg(fp, tail);
    std::fclose(fp);
    if (!img) return 0;

    // A record that was read must be whole: its sizes agree and every pixel
    // and tail byte is there (the sanitizer checks the accesses).
    long long n = img->orvbpd;
    for (int d = 0; d < img->orvndim; ++d) n *= img->orvdim[d].dlen;
    if (img->orvndim < 1 || img->orvndim > TAMO_MAXDIM || n <= 0 || Tamodimen(img, -2) != n ||
        img->orvdln[img->orvndim] * (long long)img->orvbpd != n)
        std::abort();
    volatile unsigned char sum = 0;
    for (long long i = 0; i < n; ++i) sum += static_cast<unsigned char>(img->orvptr[i]);
    for (int i = 0; img->orvtail && i < img->orvtlen; ++i)
        sum += static_cast<unsigned char>(img->orvtail[i]);

    // What was read writes back and reads again to the same pixels.
    char *buf = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&buf, &len);
    int written = TamoWrImg(img, out, tail);
    std::fclose(out);
    if (written != -1) std::abort();
    FILE *again = fmemopen(buf, len, "rb");
    TAMOHDR *copy = TamoRdImg(again, tail);
    std::fclose(again);
    if (!copy || std::memcmp(copy->orvptr, img->orvptr, static_cast<size_t>(n)) != 0) std::abort();
    Tamofree(copy, 7);
    std::free(buf);
    Tamofree(img, 7);
    return 0;
}
