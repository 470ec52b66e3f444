// A fresh temporary folder per test, so that no test writes to a fixed
// temporary file name that a parallel run could share.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace testsupport {

// A new directory under the system's temporary folder, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir() {
        const std::string pattern =
            (std::filesystem::temp_directory_path() / "tamo-test-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) std::abort();
        path_ = buf.data();
    }
    // Only the process that made the folder removes it: a death test's child
    // that exits must not take it from the test still running.
    ~TempDir() {
        if (getpid() != owner_) return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
    pid_t owner_ = getpid();
};

}  // namespace testsupport
