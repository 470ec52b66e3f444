// The image record: creation, release, dimension queries, type look-up and
// the library's memory functions.
#include <climits>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <utility>

#include "imagelib_internal.h"

static_assert(sizeof(TAMODIM) == 64, "dimension records are 64 bytes in memory and on disk");
static_assert(sizeof(TAMOHDR) <= TAMO_BLOCK, "the header with its dimensions fits one block");

namespace {

// Byte order of the running processor: 2 little-endian, 1 big-endian.
void probeEndian() {
    const char probe[4] = {'A', 'B', 'C', 'D'};
    uint32_t word;
    std::memcpy(&word, probe, sizeof word);
    TamoCPUEndian = word == 0x44434241u ? 2 : 1;
}

// Per thread: records are created on several threads at once.
thread_local char timeText[26];

}  // namespace

extern "C" {

// ---- Memory -------------------------------------------------------------------

void *Tamoalc(int n) {
    tamo::DepthGuard depth;
    // A negative count would become a huge size_t: refuse it like a failed
    // allocation instead. Zero bytes get a one-byte block, so that success
    // never depends on how the allocator treats a zero size.
    void *p = n >= 0 ? Tamo_alcptr(1, n ? static_cast<size_t>(n) : 1) : nullptr;
    if (!p) {
        Tamoerr = TAMO_ENOMEM;
        char msg[96];
        std::snprintf(msg, sizeof msg, "Tamoalc: can't allocate storage (%d bytes requested)", n);
        Tamodie(msg);
    }
    return p;
}

void *orvrealloc(void *p, long n) {
    tamo::DepthGuard depth;
    // realloc to zero bytes may release p and return null, which would read
    // as a failure with p still in the caller's hands: keep one byte.
    void *q = n >= 0 ? Tamo_realcptr(p, n ? static_cast<size_t>(n) : 1) : nullptr;
    if (!q) {
        Tamoerr = TAMO_ENOMEM;
        char msg[96];
        std::snprintf(msg, sizeof msg, "Tamorealloc: can't allocate storage (%ld bytes requested)",
                      n);
        Tamodie(msg);
    }
    return q;
}

void Tamocfree(void *p) {
    if (p) Tamo_freeptr(p);
}

char *Tamotim(int) {
    // Every record gets this text: it is made once a second (looking up the
    // time zone reads the zone file each time), not once per record.
    thread_local time_t madeAt = -1;
    const time_t now = time(nullptr);
    if (now != madeAt) {
        tzset();
        char text[32];
        tamo::setField(timeText, ctime_r(&now, text) ? text : "");
        madeAt = now;
    }
    return timeText;
}

// ---- Types ---------------------------------------------------------------------

TAMODTYPE *Tamotype(const char *name) {
    const int size = tamo::typeTableSize();
    const int searched = Tamo_Ntyp < size ? Tamo_Ntyp : size;
    if (name) {
        for (int i = 0; i < searched; ++i) {
            if (std::strcmp(Tamo_Dtyp[i].name, name) != 0) continue;
            for (int j = i; j < size; ++j)
                if (Tamo_Dtyp[j].code != 0) return &Tamo_Dtyp[j];
            break;
        }
    }
    Tamoerr = TAMO_ETYPE;
    return nullptr;
}

int Tamontype(const char *name) {
    const TAMODTYPE *t = Tamotype(name);
    return t ? static_cast<int>(t->code) : 0;
}

// ---- Queries -------------------------------------------------------------------

int *Tamosiz(TAMOHDR *img) {
    tamo::DepthGuard depth;
    if (!tamo::hasValidMagic(img)) {
        Tamoerr = TAMO_EHEADER;
        Tamochkhd(img, "Tamosiz:  bad image header");
        return nullptr;
    }
    const int n = img->orvndim;
    if (n <= 0) {
        Tamoerr = TAMO_ENODIMS;
        Tamodie("Tamosiz: number of dimensions not positive.");
        return nullptr;
    }
    // A record has room for at most three dimension records; a larger count
    // can only come from a damaged header and would read past it.
    if (n > TAMO_MAXDIM) {
        Tamoerr = TAMO_EDIMS;
        Tamodie("Tamosiz: number of dimensions greater than 3; header presumed to be damaged.");
        return nullptr;
    }
    tamo::CArray<int> list(static_cast<int *>(Tamoalc(static_cast<int>((n + 1) * sizeof(int)))));
    if (!list) {
        Tamodie("Tamosiz: can't allocate space for array");
        return nullptr;
    }
    // Sort a scratch copy of the records by dimension number, leaving the
    // header as it is.
    TAMODIM dims[TAMO_MAXDIM];
    std::memcpy(dims, img->orvdim, n * sizeof(TAMODIM));
    for (int i = 0; i < n - 1; ++i)
        for (int j = i + 1; j < n; ++j)
            if (dims[j].dnum < dims[i].dnum) std::swap(dims[i], dims[j]);
    int *out = list.get();
    out[0] = n;
    for (int i = 0; i < n; ++i) out[i + 1] = dims[i].dlen;
    return list.release();
}

int32_t *Tamo_ao(TAMOHDR *img) {
    tamo::DepthGuard depth;
    tamo::CArray<int> list(Tamosiz(img));
    if (!list) return nullptr;
    int *p = list.get();
    const int n = p[0];
    long long product = 1;
    p[0] = 1;
    for (int i = 1; i <= n; ++i) {
        product *= p[i];
        if (product > INT32_MAX || product < INT32_MIN) {
            Tamoerr = TAMO_EHEADER;
            Tamodie("Tamo_ao: dimension lengths too large; header presumed to be damaged.");
            return nullptr;
        }
        p[i] = static_cast<int>(product);
    }
    return reinterpret_cast<int32_t *>(list.release());
}

int Tamodimen(TAMOHDR *img, int k) {
    tamo::DepthGuard depth;
    if (!img) {
        Tamoerr = TAMO_ENULL;
        Tamodie("Tamodimen: NULL passed as image header.");
        return 0;
    }
    if (!tamo::hasValidMagic(img)) {
        Tamoerr = TAMO_EHEADER;
        Tamodie("Tamodimen: Bad image header.");
        return 0;
    }
    if (k < -2 || k >= img->orvndim) {
        Tamoerr = TAMO_EDIMS;
        Tamodie("Tamodimen: Invalid dimension to get length of.");
        return 0;
    }
    const int ndim = img->orvndim < TAMO_MAXDIM ? img->orvndim : TAMO_MAXDIM;
    long long result = 0;
    if (k >= 0) {
        for (int i = 0; i < ndim; ++i)
            if (img->orvdim[i].dnum == k + 1) {
                result = img->orvdim[i].dlen;
                break;
            }
    } else {
        result = 1;
        bool overflow = false;
        for (int i = 0; i < ndim; ++i)
            overflow |= __builtin_mul_overflow(result, img->orvdim[i].dlen, &result);
        if (k == -2) overflow |= __builtin_mul_overflow(result, img->orvbpd, &result);
        if (overflow) result = LLONG_MAX;
    }
    if (result > INT_MAX || result < INT_MIN) {
        Tamoerr = TAMO_EHEADER;
        Tamodie("Tamodimen: Bad image header.");
        return 0;
    }
    if (result == 0) {
        Tamoerr = TAMO_EHEADER;
        Tamodie("Tamodimen: found dimension of length zero; header presumed to be damaged.");
        return 0;
    }
    return static_cast<int>(result);
}

int Tamonc(TAMOHDR *img) {
    tamo::DepthGuard depth;
    tamo::CArray<int> list(Tamosiz(img));
    return list ? list.get()[1] : 0;
}

int Tamonr(TAMOHDR *img) {
    tamo::DepthGuard depth;
    tamo::CArray<int> list(Tamosiz(img));
    if (!list) return 0;
    // A one-dimensional record is a single row.
    return list.get()[0] >= 2 ? list.get()[2] : 1;
}

// ---- Life cycle ----------------------------------------------------------------

TAMOHDR *Tamocreate(const char *type, const int *dims, unsigned flags, int size) {
    tamo::DepthGuard depth;
    probeEndian();
    if (!dims) {
        Tamoerr = TAMO_ENULL;
        Tamodie("Tamocreate: NULL pointer passed as dimension-lengths array");
        std::fflush(stdout);
        return nullptr;
    }
    const int n = dims[0];
    if (n < 1) {
        Tamoerr = TAMO_EDIMS;
        Tamodie("Tamocreate: can't create image with number of dimensions < 1");
        std::fflush(stdout);
        return nullptr;
    }
    if (n > TAMO_MAXDIM) {
        Tamoerr = TAMO_EDIMS;
        Tamodie("Tamocreate: This version of Tamo can't create image with more than 3 dimensions");
        return nullptr;
    }
    const TAMODTYPE *entry = Tamotype(type);
    if (!entry) {
        Tamoerr = TAMO_ETYPE;
        Tamodie("Tamocreate: invalid data type");
        return nullptr;
    }
    const int elemSize = entry->code == TAMO_STRUCT ? size : entry->size;

    // The element count must fit the int32 products of orvdln and the byte
    // count Tamoalc's int argument; refuse anything else before allocating.
    long long count = 1;
    bool fits = elemSize >= 0;
    for (int i = 1; i <= n && fits; ++i) {
        fits = dims[i] >= 0;
        count *= dims[i];
        fits = fits && count <= INT_MAX;
    }
    const long long bytes = fits ? count * elemSize : 0;
    if (!fits || bytes > INT_MAX) {
        Tamoerr = TAMO_ENOMEM;
        Tamodie("Tamocreate:  can't allocate space for image data");
        return nullptr;
    }

    tamo::CArray<TAMOHDR> header(static_cast<TAMOHDR *>(Tamoalc(TAMO_BLOCK)));
    if (!header) {
        Tamodie("Tamocreate: can't allocate space for image header");
        return nullptr;
    }
    TAMOHDR *h = header.get();
    tamo::setField(h->orvmagic, "TAM");
    h->orvbsize = TAMO_BLOCK;
    h->orvhblk = 0;
    h->orvdblk = 1;
    h->orvtlen = 0;
    h->orvtail = nullptr;
    tamo::setField(h->orvclass, "Orv is");
    tamo::setField(h->orvctype, "great!");
    tamo::setField(h->orvuser, "tamotool");
    tamo::setField(h->orvdate, Tamotim(0));
    tamo::setField(h->orvprog, "Tamocreate");
    tamo::setField(h->orvpver, "V7.0");
    h->orvendian = static_cast<signed char>(TamoCPUEndian);
    h->orvfmt = 16;
    tamo::setField(h->orvunits, "pixels");
    h->orvscale = 1.0f;
    h->orvoffset = 0.0f;
    tamo::setField(h->orvdt, entry->name);
    h->dtype = static_cast<int32_t>(entry->code);
    h->orvbpd = elemSize;
    h->orvndim = n;
    h->orvcomp = 1;
    for (int i = 0; i < n; ++i) {
        TAMODIM &d = h->orvdim[i];
        d.dlen = dims[i + 1];
        d.dnum = i + 1;
        tamo::setField(d.ddir, "fwd");
        tamo::setField(d.dunits, "pixels");
        d.dscale = 1.0f;
        d.doffset = 0.0f;
    }

    tamo::CArray<int32_t> products(Tamo_ao(h));
    if (!products) {
        Tamoerr = TAMO_ENOMEM;
        header.reset();
        Tamodie("Tamocreate:  can't allocate space for 'orvdln' field");
        return nullptr;
    }
    h->orvtblk = -(h->orvdblk + static_cast<int32_t>((bytes + TAMO_BLOCK - 1) / TAMO_BLOCK));

    if (flags & 2) {
        h->orvptr = static_cast<char *>(Tamoalc(static_cast<int>(bytes)));
        if (!h->orvptr) {
            products.reset();
            header.reset();
            Tamodie("Tamocreate:  can't allocate space for image data");
            return nullptr;
        }
    }
    h->orvdln = products.release();
    return header.release();
}

int Tamofree(TAMOHDR *img, unsigned flags) {
    tamo::DepthGuard depth;
    if (!img) {
        Tamoerr |= TAMO_ENULL;
        return 0;
    }
    if (!tamo::hasValidMagic(img)) {
        Tamoerr |= TAMO_EHEADER;
        Tamochkhd(img, "Tamofree: unable to free image");
        return 0;
    }
    if ((flags & 2) && img->orvptr) {
        Tamocfree(img->orvptr);
        img->orvptr = nullptr;
    }
    if ((flags & 4) && img->orvtail) {
        Tamocfree(img->orvtail);
        img->orvtail = nullptr;
    }
    if (img->orvdln) {
        Tamocfree(img->orvdln);
        img->orvdln = nullptr;
    }
    Tamocfree(img);
    return 0;
}

}  // extern "C"

TAMOHDR *tamo::createLike(TAMOHDR *img, const int *dims, const char *caller) {
    DepthGuard depth;
    TAMOHDR *out = Tamocreate(img->orvdt, dims, 11, img->orvbpd);
    if (out && out->orvbpd != img->orvbpd) {
        char msg[160];
        std::snprintf(msg, sizeof msg, "%s: %d bytes per datum contradict data type '%.16s'.",
                      caller, img->orvbpd, img->orvdt);
        Tamofree(out, 7);
        Tamoerr = TAMO_ETYPE;
        Tamodie(msg);
        return nullptr;
    }
    return out;
}
