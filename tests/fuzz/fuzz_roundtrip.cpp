// libFuzzer target for the writer and reader together: a record built from
// the input bytes is written raw and compressed, with and without its tail,
// and must read back with the same type, sizes, pixel bytes and tail.
//
//   fuzz_roundtrip -close_fd_mask=3 tests/fuzz/corpus_roundtrip
//
// Input: byte 0 the type (an index into the type table), byte 1 the number
// of dimensions (1 to 3) and bit 7 a tail, bytes 2 to 7 three lengths of
// 16 bits (kept small), byte 8 the datum size of "struct"; the rest is the
// pixel bytes (repeated to fill the record) and, with a tail, its text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tamo.h"

namespace {

[[noreturn]] void processEnded(int) {
    std::abort();
}

constexpr std::size_t kHead = 9;
constexpr long long kMaxBytes = 1 << 20;

// The bytes TamoWrImg writes for img, or aborts.
char *written(TAMOHDR *img, int tail, std::size_t *len) {
    char *buf = nullptr;
    FILE *out = open_memstream(&buf, len);
    if (!out) std::abort();
    if (TamoWrImg(img, out, tail) != -1) std::abort();
    std::fclose(out);
    return buf;
}

void check(bool ok) {
    if (!ok) std::abort();
}

void roundTrip(TAMOHDR *img, int comp, int tail, int32_t tailLength, long long n) {
    img->orvcomp = static_cast<char>(comp);
    // The writer leaves in orvtlen the length it wrote (0 without the tail).
    img->orvtlen = tailLength;
    std::size_t len = 0;
    char *buf = written(img, tail, &len);
    FILE *in = fmemopen(buf, len, "rb");
    check(in != nullptr);
    TAMOHDR *back = TamoRdImg(in, tail);
    std::fclose(in);
    check(back != nullptr);
    check(std::strcmp(back->orvdt, img->orvdt) == 0 && back->dtype == img->dtype &&
          back->orvbpd == img->orvbpd && back->orvndim == img->orvndim &&
          back->orvcomp == img->orvcomp);
    for (int d = 0; d < img->orvndim; ++d) check(back->orvdim[d].dlen == img->orvdim[d].dlen);
    check(std::memcmp(back->orvptr, img->orvptr, static_cast<std::size_t>(n)) == 0);
    if (tail && img->orvtail) {
        // The writer ends the tail with a zero byte.
        check(back->orvtlen == img->orvtlen && back->orvtail != nullptr);
        check(std::memcmp(back->orvtail, img->orvtail, img->orvtlen - 1) == 0);
        check(back->orvtail[img->orvtlen - 1] == 0);
    } else {
        check(back->orvtail == nullptr);
    }
    Tamofree(back, 7);
    std::free(buf);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Tamo_exitptr = processEnded;
    TAMOSLV = 1;  // quiet: refusals are expected, messages are not checked
    if (size < kHead) return 0;
    const TAMODTYPE &type = Tamo_Dtyp[data[0] % Tamo_Ntyp];
    const int ndim = (data[1] & 3) % 3 + 1;
    const bool withTail = data[1] & 0x80;
    int dims[4] = {ndim, 1, 1, 1};
    for (int d = 0; d < ndim; ++d) dims[d + 1] = (data[2 + 2 * d] | data[3 + 2 * d] << 8) % 300 + 1;
    const int structSize = data[8] % 24 + 1;
    const uint8_t *rest = data + kHead;
    const std::size_t restSize = size - kHead;

    long long n = type.code == TAMO_STRUCT ? structSize : type.size;
    for (int d = 1; d <= ndim; ++d) n *= dims[d];
    if (n > kMaxBytes) return 0;

    TAMOHDR *img = Tamocreate(type.name, dims, 11, structSize);
    if (!img) return 0;
    for (long long i = 0; i < n; ++i)
        img->orvptr[i] = restSize ? static_cast<char>(rest[i % restSize]) : 0;
    int32_t tailLength = 0;
    if (withTail && restSize) {
        // The tail is the input's last bytes, up to 600 of them.
        const std::size_t t = restSize < 600 ? restSize : 600;
        img->orvtail = static_cast<char *>(Tamoalc(static_cast<int>(t)));
        std::memcpy(img->orvtail, rest + restSize - t, t);
        tailLength = static_cast<int32_t>(t);
    }
    for (int comp = 0; comp <= 1; ++comp)
        for (int tail = 0; tail <= 1; ++tail)
            roundTrip(img, comp, tail, img->orvtail ? tailLength : 0, n);
    Tamofree(img, 7);
    return 0;
}
