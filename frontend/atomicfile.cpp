#include "atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tamo {

namespace {

// Temporary files in the making, for removal when a signal ends the process.
// Plain character arrays: the signal handler may only unlink them.
constexpr int kSlots = 8;
char pending[kSlots][PATH_MAX];

const int kFatalSignals[] = {SIGHUP,  SIGINT, SIGQUIT, SIGTERM, SIGPIPE,
                             SIGSEGV, SIGBUS, SIGFPE,  SIGILL,  SIGABRT};
struct sigaction previous[NSIG];

void removePending(int sig) {
    for (auto &path : pending)
        if (path[0]) unlink(path);
    // Hand the signal to whoever handled it before (a sanitizer, or the
    // default action that ends the process). A fault comes back by itself
    // when the faulting instruction runs again.
    sigaction(sig, &previous[sig], nullptr);
    if (sig != SIGSEGV && sig != SIGBUS && sig != SIGFPE && sig != SIGILL) raise(sig);
}

void installHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = removePending;
    sigemptyset(&action.sa_mask);
    for (int sig : kFatalSignals) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
        previous[sig] = old;
        sigaction(sig, &action, nullptr);
    }
    // Beyond a file-size limit the kernel ends the process by default; with
    // the signal ignored the write fails with EFBIG and the temporary file
    // is removed like after any failed write.
    struct sigaction xfsz {};
    if (sigaction(SIGXFSZ, nullptr, &xfsz) == 0 && xfsz.sa_handler == SIG_DFL)
        std::signal(SIGXFSZ, SIG_IGN);
}

int remember(const std::string &path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i)
        if (!pending[i][0]) {
            std::memcpy(pending[i], path.c_str(), path.size() + 1);
            return i;
        }
    return -1;
}

void forget(const std::string &path) {
    for (auto &slot : pending)
        if (path == slot) slot[0] = '\0';
}

// The file a name finally refers to: a symbolic link is followed, so that
// the rename replaces the file it points to and the link stays.
std::string resolvedTarget(const std::string &target) {
    struct stat st;
    if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
    char *real = realpath(target.c_str(), nullptr);
    if (!real) return target;  // a dangling link is replaced itself
    std::string resolved = real;
    std::free(real);
    return resolved;
}

// Permissions for the new file: the target's when it exists, otherwise the
// default for new files under the process's umask.
mode_t modeFor(const std::string &target) {
    struct stat st;
    if (stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

AtomicFile::AtomicFile(const std::string &target) : target_(resolvedTarget(target)) {
    installHandlers();
    // Only regular files are replaced. Anything else that exists (a device
    // such as /dev/null, a pipe) is written in place: renaming over it would
    // put a plain file where the device was.
    struct stat st;
    if (stat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        inPlace_ = true;
        fd_ = open(target_.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) error_ = std::strerror(errno);
        return;
    }
    // A file its owner has made read-only stays protected, as it would be
    // from a plain write: renaming over it would replace it regardless.
    if (access(target_.c_str(), F_OK) == 0 && access(target_.c_str(), W_OK) != 0) {
        error_ = std::strerror(errno);
        return;
    }
    const std::size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    // Hidden, named after the target (shortened to stay within the length
    // a folder entry may have), unique by mkostemp.
    std::string pattern = folder + "." + base.substr(0, 200) + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        error_ = std::strerror(errno);
        return;
    }
    temporary_ = name.data();
    remember(temporary_);
    if (fchmod(fd_, modeFor(target_)) != 0) {
        error_ = std::strerror(errno);
        discard();
    }
}

AtomicFile::~AtomicFile() {
    discard();
}

bool AtomicFile::commit() {
    if (fd_ < 0) {
        if (error_.empty()) error_ = "the file is not open";
        return false;
    }
    int failure = fsync(fd_) == 0 || (inPlace_ && (errno == EINVAL || errno == EROFS)) ? 0 : errno;
    if (close(fd_) != 0 && !failure) failure = errno;
    fd_ = -1;
    if (!failure && !inPlace_ && std::rename(temporary_.c_str(), target_.c_str()) != 0)
        failure = errno;
    if (failure) {
        error_ = std::strerror(failure);
        discard();
        return false;
    }
    forget(temporary_);
    temporary_.clear();
    return true;
}

void AtomicFile::discard() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        unlink(temporary_.c_str());
        forget(temporary_);
        temporary_.clear();
    }
}

}  // namespace tamo
