#include "records.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "atomicfile.h"

namespace frontend {

namespace {

bool endsWith(const char *text, std::size_t size, const char *suffix) {
    const std::size_t n = std::strlen(suffix);
    return size >= n && std::memcmp(text + size - n, suffix, n) == 0;
}

}  // namespace

bool hasPixels(const TAMOHDR *img) {
    if (!tamo::hasValidMagic(img) || img->orvndim < 1 || img->orvndim > TAMO_MAXDIM || !img->orvptr)
        return false;
    return tamo::columnsOf(img) > 0 && tamo::rowsOf(img) > 0 && tamo::framesOf(img) > 0;
}

tamo::RecordPtr createLike(TAMOHDR *like, const char *type, int maxDims) {
    tamo::CArray<int> dims(Tamosiz(like));
    if (!dims) return nullptr;
    if (maxDims > 0 && dims.get()[0] > maxDims) dims.get()[0] = maxDims;
    // The element size matters only for "struct" records.
    return tamo::RecordPtr(Tamocreate(type, dims.get(), TAMO_CREATE_ZEROED, like->orvbpd));
}

tamo::RecordPtr floatCopy(TAMOHDR *record) {
    if (!hasPixels(record)) return nullptr;
    tamo::RecordPtr out = createLike(record, "float");
    if (!out) return nullptr;
    if (Tamoany2any(record, out.get()) == 0) return out;

    // Tamoany2any leaves complex types alone; a picture shows their real
    // parts, as Tamovidscale does.
    bool copied = false;
    tamo::visitScalar(record->dtype, [&](auto tag, tamo::ElemLayout layout) {
        using T = typename decltype(tag)::type;
        if (!layout.complex || layout.channels != 1) return;
        const T *src = tamo::pixels<T>(record);
        float *dst = tamo::pixels<float>(out.get());
        const long long n = tamo::elementCount(record);
        for (long long i = 0; i < n; ++i) dst[i] = static_cast<float>(src[2 * i]);
        copied = true;
    });
    return copied ? std::move(out) : nullptr;
}

bool isOwnFormatName(const std::string &path) {
    for (const char *ending : {"TAMO", "Tamo", "tamo", "orv", "ORV", "tam", "Tam", "TAM"})
        if (endsWith(path.data(), path.size(), ending)) return true;
    return false;
}

bool isOwnFormatName(const QString &path) {
    // The endings are ASCII, so the UTF-8 bytes of the name end the same way.
    return isOwnFormatName(path.toUtf8().toStdString());
}

QString readFailureReason(int code) {
    switch (code) {
        case TAMO_EHEADER:
            return "it is not an image file of this format, or its header is damaged";
        case TAMO_EIO:
            return "its data are damaged or cut short";
        case TAMO_ELIMIT:
            return QString::fromUtf8(Tamolimittext());
        default:
            break;
    }
    if (const char *text = Tamoerrtext(code)) return text;
    return QString("the image library refused it (error %1)").arg(code);
}

std::string writeOwnFormatFile(TAMOHDR *img, const std::string &path) {
    tamo::AtomicFile file(path);
    if (!file.ok()) return file.error();
    const int fd = ::dup(file.fd());
    FILE *fp = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!fp) {
        const int err = errno;
        if (fd >= 0) ::close(fd);
        return std::strerror(err);
    }
    const char comp = img->orvcomp;
    const int32_t tlen = img->orvtlen;
    if (tamo::elementCount(img) < 512) img->orvcomp = 0;
    errno = 0;
    const bool written = TamoWrImg(img, fp, 0) == -1;
    int err = written ? 0 : errno;
    img->orvcomp = comp;
    img->orvtlen = tlen;
    // Buffered bytes that cannot be flushed are a failed write as well.
    const bool closed = std::fclose(fp) == 0;
    if (!closed && !err) err = errno;
    if (!written || !closed)
        return err ? std::strerror(err) : "the image library refused the image";
    if (!file.commit()) return file.error();
    return std::string();
}

}  // namespace frontend
