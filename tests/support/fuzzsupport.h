// What the readers' libFuzzer targets share: readers must refuse damaged
// files rather than end their host, and files go to a folder of this process.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <string>

namespace fuzzsupport {

// Installed as Tamo_exitptr: a process-ending path reached from a reader is
// a finding.
[[noreturn]] inline void processEnded(int) {
    std::abort();
}

// A folder made once for this process, named after the target.
inline const std::string &scratchFolder(const char *target) {
    static const std::string dir = [target] {
        std::string pattern = std::string("/tmp/") + target + "-XXXXXX";
        if (!mkdtemp(&pattern[0])) std::abort();
        return pattern;
    }();
    return dir;
}

}  // namespace fuzzsupport
