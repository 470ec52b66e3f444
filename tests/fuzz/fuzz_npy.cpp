// libFuzzer target for the .npy reader: any bytes must give either a whole
// record or a refusal with a reason; never a crash, an out-of-bounds access,
// a leak, or an allocation beyond what the bytes can hold.
//
//   fuzz_npy -close_fd_mask=3 -rss_limit_mb=512 tests/fuzz/corpus_npy
//
// The input is the whole file, read from a memory stream.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "npyio.h"
#include "fuzzsupport.h"
#include "tamo++.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Tamo_exitptr = fuzzsupport::processEnded;
    if (size == 0) return 0;
    FILE *fp = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!fp) return 0;
    std::string reason;
    tamo::RecordPtr img = frontend::readNpy(fp, reason);
    std::fclose(fp);
    if (!img) {
        if (reason.empty()) std::abort();  // a refusal always says why
        return 0;
    }

    // The record is whole: no more elements than the bytes could hold, and
    // every one of them readable (the sanitizer checks the accesses).
    const long long n = tamo::elementCount(img.get());
    if (img->orvndim < 2 || img->orvndim > 3 || n <= 0 || n > static_cast<long long>(size) * 8 ||
        Tamodimen(img.get(), -2) != n * img->orvbpd)
        std::abort();
    volatile unsigned char sum = 0;
    for (long long i = 0; i < n * img->orvbpd; ++i)
        sum += static_cast<unsigned char>(img->orvptr[i]);

    // It writes back and reads again to the same bytes.
    const std::string path = fuzzsupport::scratchFolder("fuzz_npy") + "/a.npy";
    if (!frontend::writeNpy(img.get(), path).empty()) std::abort();
    tamo::RecordPtr again = frontend::readNpy(path, reason);
    if (!again || again->dtype != img->dtype ||
        std::memcmp(again->orvptr, img->orvptr, static_cast<size_t>(n * img->orvbpd)) != 0)
        std::abort();
    return 0;
}
