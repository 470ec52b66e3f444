// libFuzzer target for the TIFF reader: any bytes must give either a whole
// record or a refusal with a reason; never a crash, an out-of-bounds access,
// a leak, a hang, or an allocation beyond what the bytes can hold.
//
//   fuzz_tiff -close_fd_mask=3 -rss_limit_mb=512 -timeout=10 tests/fuzz/corpus_tiff
//
// The reader takes a path: each input is written to a file of this process.
// libtiff itself is not instrumented; the reader's own branches steer.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzzsupport.h"
#include "tamo++.h"
#include "tiffimage.h"

namespace {

void writeFile(const std::string &path, const uint8_t *data, size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) std::abort();
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Tamo_exitptr = fuzzsupport::processEnded;
    const std::string in = fuzzsupport::scratchFolder("fuzz_tiff") + "/in.tif";
    writeFile(in, data, size);
    std::string reason;
    tamo::RecordPtr img = frontend::readTiff(in, reason);
    if (!img) {
        if (reason.empty()) std::abort();  // a refusal always says why
        return 0;
    }

    // The record is whole (2-D, or 3-D with a frame per page and channel),
    // and every element of it readable (the sanitizer checks the accesses).
    const long long n = tamo::elementCount(img.get());
    if (img->orvndim < 2 || img->orvndim > 3 || n <= 0 ||
        Tamodimen(img.get(), -2) != n * img->orvbpd)
        std::abort();
    volatile unsigned char sum = 0;
    for (long long i = 0; i < n * img->orvbpd; ++i)
        sum += static_cast<unsigned char>(img->orvptr[i]);

    // Every type the reader makes writes back and reads again to the same
    // values.
    const std::string out = fuzzsupport::scratchFolder("fuzz_tiff") + "/out.tif";
    if (!frontend::writeTiff(img.get(), out, true).empty()) std::abort();
    tamo::RecordPtr again = frontend::readTiff(out, reason);
    if (!again || again->dtype != img->dtype ||
        std::memcmp(again->orvptr, img->orvptr, static_cast<size_t>(n * img->orvbpd)) != 0)
        std::abort();
    return 0;
}
