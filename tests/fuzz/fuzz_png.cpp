// libFuzzer target for the PNG reader: any bytes must give either a whole
// record or a refusal with a reason (or, for what is not a PNG file, no
// answer at all); never a crash, an out-of-bounds access, a leak, or memory
// beyond the limit on reading set here.
//
//   fuzz_png -close_fd_mask=3 -rss_limit_mb=512 tests/fuzz/corpus_png
//
// Each input is read three times: as "float" with statistics (the
// workbench's way), as "u8bit" (16-bit files come back as "u16bit") and as
// "32cmp" (two scalars a value).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzzsupport.h"
#include "pngread.h"
#include "tamo++.h"

namespace {

// The file each input is written to.
std::string inputPath() {
    return fuzzsupport::scratchFolder("fuzz_png") + "/in.png";
}

constexpr int64_t kLimit = 64 << 20;

void readAs(const char *typeName, bool withStats) {
    const TAMODTYPE *type = Tamotype(typeName);
    tamo::RecordPtr img;
    std::string reason;
    frontend::FrameStats stats[3];
    if (!frontend::readPng(inputPath(), *type, img, reason, withStats ? stats : nullptr)) {
        if (img || !reason.empty()) std::abort();  // "not mine" leaves everything alone
        return;
    }
    if (!img) {
        if (reason.empty()) std::abort();  // a refusal always says why
        return;
    }
    // Three frames of the type asked for, or of "u16bit", within the limit,
    // every byte readable (the sanitizer checks the accesses).
    const int64_t bytes = Tamodimen(img.get(), -2);
    if (img->orvndim != 3 || Tamodimen(img.get(), 2) != 3 || bytes <= 0 || bytes > kLimit ||
        (img->dtype != static_cast<int32_t>(type->code) && img->dtype != TAMO_U16BIT))
        std::abort();
    volatile unsigned char sum = 0;
    for (int64_t i = 0; i < bytes; ++i) sum += static_cast<unsigned char>(img->orvptr[i]);
    if (withStats)
        for (const frontend::FrameStats &s : stats)
            if (!(s.min <= s.max) || s.max > 65535 || s.min < 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Tamo_exitptr = fuzzsupport::processEnded;
    Tamo_maxreadbytes = kLimit;
    FILE *fp = std::fopen(inputPath().c_str(), "wb");
    if (!fp) std::abort();
    if (size && std::fwrite(data, 1, size, fp) != size) std::abort();
    std::fclose(fp);
    readAs("float", true);
    readAs("u8bit", false);
    readAs("32cmp", false);
    return 0;
}
