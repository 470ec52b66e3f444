// File names: environment variables, "~" names, "-" for the standard streams,
// names typed at a terminal; and reading or writing an image by name.
#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imageio_internal.h"

namespace {

constexpr int kNameArea = 512;  // expanded names hold at most kNameArea - 1 characters
constexpr int kTypedName = 256;

const char kBracedNameChars[] = "._/+=-_[]?~:*,%#";
const char kUserNameChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";

// The home directory of `user` ("" for the running user: HOME, else the
// password entry). False when there is none.
bool homeDirectory(const std::string &user, std::string *home) {
    if (user.empty()) {
        const char *env = std::getenv("HOME");
        if (env && *env) {
            *home = env;
            return true;
        }
    }
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry;
    struct passwd *found = nullptr;
    const int rc = user.empty()
                       ? getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found)
                       : getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (rc != 0 || !found || !found->pw_dir) return false;
    *home = found->pw_dir;
    return true;
}

bool isStandardStream(FILE *fp) {
    return fp == stdin || fp == stdout || fp == stderr;
}

// A copy of text in memory from Tamoalc (released with Tamocfree).
char *libraryCopy(const char *text, std::size_t length) {
    char *copy = static_cast<char *>(Tamoalc(static_cast<int>(length + 1)));
    if (copy) std::memcpy(copy, text, length);
    return copy;
}

bool interactiveInput() {
    return isatty(fileno(stdin)) != 0;
}

}  // namespace

extern "C" {

char *strspan(const char *text, const char *set) {
    return const_cast<char *>(text + std::strspn(text, set));
}

int NextChar(FILE *fp, int *kind) {
    int c = std::getc(fp);
    int k = 1;
    if (c == '\\') {
        c = std::getc(fp);
        k = 2;
    }
    if (c == EOF) {
        Tamoerr = TAMO_EIO;
        if (kind) *kind = 0;
        Tamodie("TamoGetFN: I/O error or EOF when reading filename.");
        return -1;
    }
    if (kind) *kind = k;
    return c;
}

char *TamoEnv(const char *name, int *status) {
    tamo::DepthGuard depth;
    int ignored;
    if (!status) status = &ignored;
    *status = 0;
    if (!name) {
        *status = 1;
        Tamoerr = TAMO_ENAME;
        Tamodie("TamoEnv: NULL passed as name.");
        return nullptr;
    }
    std::string out;
    char msg[kNameArea + 64];
    for (const char *p = name; *p;) {
        if (*p != '$') {
            out += *p++;
        } else {
            std::string var;
            ++p;
            if (*p == '{') {
                ++p;
                while (*p && (std::isalnum(static_cast<unsigned char>(*p)) ||
                              std::strchr(kBracedNameChars, *p)))
                    var += *p++;
                if (*p != '}') {
                    *status = 1;
                    Tamoerr = TAMO_ENAME;
                    Tamodie("TamoEnv: no closing '}' in env. var. name.");
                    return nullptr;
                }
                ++p;
            } else {
                while (std::isalnum(static_cast<unsigned char>(*p))) var += *p++;
            }
            const char *value = var.empty() ? nullptr : std::getenv(var.c_str());
            if (!value) {
                *status = 1;
                Tamoerr = TAMO_ENAME;
                std::snprintf(msg, sizeof msg, "TamoEnv: no environment variable `%.*s'.",
                              kNameArea, var.c_str());
                Tamodie(msg);
                return nullptr;
            }
            out += value;
        }
        if (out.size() >= static_cast<std::size_t>(kNameArea)) {
            // The expanded name would not fit the name area.
            *status = 1;
            Tamoerr = TAMO_ENAME;
            Tamodie("TamoEnv: expanded name longer than 511 characters.");
            return nullptr;
        }
    }
    char *result = libraryCopy(out.data(), out.size());
    if (!result) {
        *status = 2;
        Tamoerr = TAMO_ENOMEM;
        Tamodie("TamoEnv: couldn't allocate memory to store name in.");
        return nullptr;
    }
    return result;
}

char *TamoPrsFN(const char *name, int *status) {
    tamo::DepthGuard depth;
    int ignored;
    if (!status) status = &ignored;
    *status = 0;
    tamo::CArray<char> expanded(TamoEnv(name, status));
    if (!expanded) {
        Tamodie("TamoPrsFN: Error while expanding environment variables in name.");
        return nullptr;
    }
    const char *text = expanded.get();
    if (text[0] != '~') return expanded.release();
    const char *after = strspan(text + 1, kUserNameChars);
    if (*after != '/' && *after != '\0') return expanded.release();

    // "~" and "~name" become a home directory as a shell would make them;
    // an unknown user's name is left as written.
    std::string home;
    if (!homeDirectory(std::string(text + 1, after), &home)) return expanded.release();
    std::string full = home + after;
    char *result = libraryCopy(full.data(), full.size());
    if (!result) {
        *status = 2;
        Tamoerr = TAMO_ENOMEM;
        Tamodie("TamoPrsFN: can't allocate memory to store filename in.");
        return nullptr;
    }
    return result;
}

char *TamoGetFN(const char *prompt, FILE *fp) {
    tamo::DepthGuard depth;
    static char buffer[kTypedName];
    if (!fp) return nullptr;
    if (prompt && interactiveInput()) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
    }
    int length = 0;
    for (;;) {
        int kind;
        int c = NextChar(fp, &kind);
        if (kind == 0) return nullptr;
        bool plain = kind == 2 || (c >= 33 && c <= 126);
        if (!plain) {
            if (length == 0) continue;
            break;
        }
        buffer[length++] = static_cast<char>(c);
        if (length >= kTypedName - 1) {
            Tamodie("TamoGetFN: Buffer Overflow (Filename too long).");
            return nullptr;
        }
    }
    buffer[length] = '\0';
    int status;
    return TamoPrsFN(buffer, &status);
}

FILE *TamoOpen(const char *name, const char *mode, const char *prompt, int tries) {
    tamo::DepthGuard depth;
    const char *streamMode = mode ? mode : "";
    bool standard = name == nullptr;
    if (!standard) {
        const bool interactive = name[0] == '\0' && prompt && interactiveInput();
        if (!interactive) tries = 0;
        char msg[kNameArea + 64];
        for (;;) {
            int status;
            tamo::CArray<char> full(name[0] ? TamoPrsFN(name, &status) : TamoGetFN(prompt, stdin));
            if (!full) {
                if (!interactive || tries <= 0) {
                    if (interactive)
                        std::fprintf(stderr, "TamoOpen:  Error count exceeded.  I give up.\n");
                    Tamoerr = TAMO_ENAME;
                    Tamodie("TamoOpen: Bad filename or error in filename expansion.");
                    return nullptr;
                }
                std::fprintf(stderr, "Invalid filename(?) -- please enter another name --\n");
                --tries;
                continue;
            }
            if (std::strcmp(full.get(), "-") == 0) {
                standard = true;
                break;
            }
            FILE *fp = std::fopen(full.get(), streamMode);
            if (fp) return fp;
            if (!interactive || tries <= 0) {
                Tamoerr = TAMO_EOPEN;
                if (interactive)
                    std::fprintf(stderr, "TamoOpen:  Error count exceeded.  I give up.\n");
                std::snprintf(msg, sizeof msg, "TamoOpen: Unable to open file `%s'.", full.get());
                Tamodie(msg);
                return nullptr;
            }
            --tries;
            errno = 0;
            std::fprintf(stderr, "Couldn't open file `%s' -- please enter another name --\n",
                         full.get());
        }
    }
    if (std::strchr(streamMode, 'w')) return stdout;
    if (std::strchr(streamMode, 'r')) return stdin;
    return nullptr;
}

int TamoClose(FILE *fp) {
    if (!fp) return -1;
    if (isStandardStream(fp)) {
        // Left open for the rest of the program; written bytes go out now.
        if (fp != stdin) std::fflush(fp);
        return 0;
    }
    return std::fclose(fp);
}

TAMOHDR *TamoGetImg(const char *name, const char *prompt, int tail) {
    tamo::DepthGuard depth;
    FILE *fp = TamoOpen(name, "rb", prompt, 5);
    if (!fp) {
        Tamodie("TamoGetImg: couldn't open file.");
        return nullptr;
    }
    TAMOHDR *img = TamoRdImg(fp, tail);
    TamoClose(fp);
    if (!img) {
        Tamodie("TamoGetImg: Error while reading image file.");
        return nullptr;
    }
    return img;
}

int TamoPutImg(TAMOHDR *img, const char *name, const char *prompt, int tail) {
    tamo::DepthGuard depth;
    if (!img) {
        Tamoerr = TAMO_ENULL;
        Tamodie("TamoPutImg: Image header is NULL");
        return 0;
    }
    if (std::memcmp(img->orvmagic, "TAM", 4) != 0) {
        Tamoerr = TAMO_EHEADER;
        Tamodie("TamoPutImg: Invalid image header (bad magic no.)");
        return 0;
    }
    if (!img->orvptr) {
        Tamoerr = TAMO_EHEADER;
        Tamodie("TamoPutImg: No data associated with header! (field 'orvptr' = 0)");
        return 0;
    }
    FILE *fp = TamoOpen(name, "wb", prompt, 5);
    if (!fp) {
        Tamodie("TamoPutImg: couldn't open file.");
        return 0;
    }
    long long pixels = tamo::elementCount(img);
    if (pixels < 512) {
        // Written to the image's own stream this note would corrupt it.
        std::fprintf(fp == stdout ? stderr : stdout,
                     "TamoPutImg error msg: image has %d pixels so it will not be compressed\n",
                     static_cast<int>(pixels));
        img->orvcomp = 0;
    }
    int written = TamoWrImg(img, fp, tail);
    // A failing close or flush loses buffered bytes: the write failed.
    bool closed = fp == stdout ? std::fflush(fp) == 0 : TamoClose(fp) == 0;
    if (written != -1 || !closed) {
        if (written == -1) Tamoerr = TAMO_EIO;
        Tamodie("TamoPutImg: Error while writing image file.");
        return 0;
    }
    return -1;
}

TAMOHDR *Tamopin(const char *name) {
    return TamoGetImg(name, "Enter name of TAMO image file to read in: ", 0);
}

int Tamopot(TAMOHDR *img, const char *name) {
    return TamoPutImg(img, name, "Enter name of file to write TAMO image to: ", 0);
}

}  // extern "C"
