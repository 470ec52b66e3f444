// libFuzzer target for the tamo tool's command line: the input, split at NUL
// bytes, is the argument list of one run of the tool inside this process.
// Any command line must end in an exit status, never a crash, a leak or the
// end of the process.
//
//   fuzz_tamo -close_fd_mask=3 -dict=tests/fuzz/tamo.dict tests/fuzz/corpus_tamo
//
// The tool runs in a private temporary folder holding a small fixed set of
// input files (a.tam, b.tam, c.tam, d.tam, e.png); whatever a run writes
// there is removed and the set restored before the next run. Arguments that
// could reach outside that folder ('/', '~', '$'), the batch command (it
// starts other programs) and very long command lines are not tried. Library
// allocations above a few megabytes fail, as they would on a small machine.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cli.h"
#include "tamo.h"

namespace {

constexpr std::size_t kMaxArgs = 24;
constexpr std::size_t kMaxArg = 80;
constexpr std::size_t kMaxAllocation = 4 << 20;

void *cappedCalloc(std::size_t count, std::size_t size) {
    if (size && count > kMaxAllocation / size) return nullptr;
    return std::calloc(count, size);
}

void *cappedRealloc(void *p, std::size_t size) {
    if (size > kMaxAllocation) return nullptr;
    return std::realloc(p, size);
}

std::map<std::string, std::string> fixedFiles;

std::string fileBytes(const char *path) {
    std::string bytes;
    if (FILE *fp = std::fopen(path, "rb")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0) bytes.append(buf, n);
        std::fclose(fp);
    }
    return bytes;
}

void writeFile(const std::string &name, const std::string &bytes) {
    FILE *fp = std::fopen(name.c_str(), "wb");
    if (!fp) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), fp);
    std::fclose(fp);
}

void saveRecord(const char *name, const char *type, std::vector<int> dims, bool compress) {
    TAMOHDR *img = Tamocreate(type, dims.data(), 11, 0);
    if (!img) std::abort();
    const long long n = static_cast<long long>(Tamodimen(img, -2));
    unsigned x = 12345;
    for (long long i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        img->orvptr[i] = static_cast<char>(x >> 16);
    }
    // Floating-point pixels get ordinary values rather than random bits.
    if (img->dtype == TAMO_32FLT)
        for (long long i = 0; i < n / 4; ++i)
            reinterpret_cast<float *>(img->orvptr)[i] = static_cast<float>(i % 17) - 5.5f;
    img->orvcomp = compress ? 1 : 0;
    FILE *fp = std::fopen(name, "wb");
    if (!fp || TamoWrImg(img, fp, 0) != -1) std::abort();
    std::fclose(fp);
    Tamofree(img, 7);
    fixedFiles[name] = fileBytes(name);
}

char folder[] = "/tmp/fuzz_tamo-XXXXXX";
int folderFd = -1;

// The tool runs with the folder as its working directory; libFuzzer's own
// (relative) corpus paths need the original one in between.
class InFolder {
public:
    InFolder() : saved_(open(".", O_RDONLY | O_DIRECTORY)) {
        if (saved_ < 0 || fchdir(folderFd) != 0) std::abort();
    }
    ~InFolder() {
        if (fchdir(saved_) != 0) std::abort();
        close(saved_);
    }
    InFolder(const InFolder &) = delete;
    InFolder &operator=(const InFolder &) = delete;

private:
    int saved_;
};

void removeFolder() {
    for (const auto &f : fixedFiles) std::remove((std::string(folder) + "/" + f.first).c_str());
    rmdir(folder);
}

// Makes the folder and its files once.
void setUp() {
    if (!mkdtemp(folder)) std::abort();
    folderFd = open(folder, O_RDONLY | O_DIRECTORY);
    if (folderFd < 0) std::abort();
    std::atexit(removeFolder);
    InFolder in;
    // The standard input is empty: "-" as an input must not wait for a terminal.
    int null = open("/dev/null", O_RDONLY);
    if (null < 0 || dup2(null, STDIN_FILENO) < 0) std::abort();
    close(null);
    saveRecord("a.tam", "16bit", {2, 8, 6}, false);
    saveRecord("b.tam", "32flt", {2, 16, 16}, true);
    saveRecord("c.tam", "u8bit", {3, 5, 4, 3}, false);
    saveRecord("d.tam", "32cmp", {2, 8, 8}, false);
    QImage picture(6, 5, QImage::Format_RGB32);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) picture.setPixel(x, y, qRgb(40 * x, 50 * y, 7 * x * y));
    if (!picture.save("e.png")) std::abort();
    fixedFiles["e.png"] = fileBytes("e.png");
}

// Removes what a run wrote and puts back any fixed file it replaced.
void restore() {
    if (DIR *d = opendir(".")) {
        std::vector<std::string> names;
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
        for (const std::string &name : names) {
            auto fixed = fixedFiles.find(name);
            if (fixed == fixedFiles.end()) {
                if (std::remove(name.c_str()) != 0) std::abort();  // a folder: not expected
            } else if (fileBytes(name.c_str()) != fixed->second) {
                writeFile(name, fixed->second);
            }
        }
    }
    for (const auto &f : fixedFiles) {
        struct stat st;
        if (stat(f.first.c_str(), &st) != 0) writeFile(f.first, f.second);
        chmod(f.first.c_str(), 0644);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = (setUp(), true);
    (void)ready;

    std::vector<std::string> args{"tamo"};
    std::string current;
    for (std::size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            args.push_back(current);
            current.clear();
            if (args.size() > kMaxArgs) return 0;
        } else {
            current += static_cast<char>(data[i]);
            if (current.size() > kMaxArg) return 0;
        }
    }
    for (const std::string &a : args)
        if (a.find_first_of("/~$") != std::string::npos) return 0;
    if (args.size() > 1 && args[1] == "batch") return 0;

    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    InFolder in;
    Tamo_alcptr = cappedCalloc;
    Tamo_realcptr = cappedRealloc;
    cli::runTool(static_cast<int>(args.size()), argv.data());
    Tamo_alcptr = std::calloc;
    Tamo_realcptr = std::realloc;
    Tamoerr = 0;
    std::fflush(stdout);
    restore();
    return 0;
}
