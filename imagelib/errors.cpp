// Library-wide switches, the error number and the reporting functions.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "imagelib_internal.h"

extern "C" {

TAMO_THREAD_LOCAL int32_t Tamoerr = 0;
int32_t TAMOSLV = 8;
int32_t TAMOCHK = 1;
int32_t TAMOTRACE = 1;
TAMO_THREAD_LOCAL int32_t TAMODEPTH = 0;
int32_t TAMOPROMPT = 1;
char TAMOERF[256] = "";
int32_t TamoCPUEndian = 0;

void *(*Tamo_alcptr)(size_t, size_t) = calloc;
void *(*Tamo_realcptr)(void *, size_t) = realloc;
void (*Tamo_freeptr)(void *) = free;
void (*Tamo_exitptr)(int) = exit;
int (*Tamo_progressptr)(int64_t, int64_t) = nullptr;

}  // extern "C"

namespace {

// Error numbers seen by the previous warning on this thread: a trace line is
// printed only when the number has changed since then, so a cascade of
// reports about one failure shows its code once.
thread_local int32_t lastTamoerr = 0;
thread_local int lastErrno = 0;

}  // namespace

namespace tamo {

void endProcess(int status) {
    // A host's handler gets the status as reported. The process itself ends
    // with a status the shell reads as failure: the shell sees only the low
    // 8 bits, so 0 and codes such as 512 or 4096 would read as success.
    if (Tamo_exitptr && Tamo_exitptr != static_cast<void (*)(int)>(std::exit)) {
        Tamo_exitptr(status);
        return;
    }
    std::exit((status & 0xff) == 0 ? 1 : status);
}

}  // namespace tamo

extern "C" {

void Tamoinit(void) {
    TAMOSLV = 8;
    TAMOCHK = 1;
    TAMODEPTH = 0;
    TAMOTRACE = 1;
    Tamoerr = 0;
    TAMOPROMPT = 1;
    TAMOERF[0] = '\0';
    Tamo_alcptr = calloc;
    Tamo_realcptr = realloc;
    Tamo_freeptr = free;
    // Tamo_exitptr is left alone: it belongs to the host program (the
    // workbench installs its handler before any library call).
}

int Tamowarn(const char *msg) {
    const int sysErr = errno;  // before our own stream calls can change it
    if (TAMOSLV != 1) {
        std::fprintf(stderr, "\n%s\n", msg ? msg : "");
        if (TAMOTRACE) {
            if (Tamoerr != 0 && Tamoerr != lastTamoerr)
                std::fprintf(stderr, "\tORV error code:    $%08x = %d\n",
                             static_cast<unsigned>(Tamoerr), Tamoerr);
            if (sysErr != 0 && sysErr != lastErrno)
                std::fprintf(stderr, "\tSystem error code: $%08x = %d\n",
                             static_cast<unsigned>(sysErr), sysErr);
        }
        std::fflush(stderr);
    }
    lastTamoerr = Tamoerr;
    lastErrno = sysErr;
    return 0;
}

int Tamodie(const char *msg) {
    Tamowarn(msg);
    if (TAMODEPTH < 0) TAMODEPTH = 0;
    // Nested library calls only report; the outermost call ends the process.
    if (TAMOSLV == 64 && TAMODEPTH <= 1) tamo::endProcess(Tamoerr);
    return 0;
}

void Tamoext(int severity, const char *msg) {
    if (severity == 1) return;
    std::fprintf(stderr, "%s\n", msg ? msg : "");
    std::fflush(stderr);
    if (severity == 64) tamo::endProcess(Tamoerr);
}

int Tamochkhd(TAMOHDR *hdr, const char *msg) {
    if (tamo::hasValidMagic(hdr)) return -1;
    if (!msg) msg = "";
    if (hdr) {
        // At most the four magic bytes: a damaged header need not hold a NUL.
        std::printf("chk:%.4s\n", hdr->orvmagic);
        std::fflush(stdout);
        if (TAMOSLV == 8 || TAMOSLV == 64) {
            std::fprintf(stderr, "\nTamochkhd:  Bad TAMO image header encountered.\n");
            std::fprintf(stderr, "%s\n", msg);
            std::fflush(stderr);
        }
        if (TAMOSLV != 8 && TAMOSLV != 1) tamo::endProcess(TAMO_EHEADER);
    } else {
        if (TAMOSLV != 1) {
            std::fprintf(stderr, "\nTamochkhd:  Null TAMO image header encountered.\n");
            std::fprintf(stderr, "%s\n", msg);
            std::fflush(stderr);
        }
        if (TAMOSLV == 64) tamo::endProcess(TAMO_ENULL);
    }
    return 0;
}

}  // extern "C"
