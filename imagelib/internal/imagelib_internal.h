// Private helpers of the image library, shared by its three layers and never
// included by public headers or by programs above the library (they use
// tamo++.h, which this header brings along).
#pragma once

#include "tamo++.h"

namespace tamo {

// Raises TAMODEPTH for the lifetime of a library call.
class DepthGuard {
public:
    DepthGuard() { ++TAMODEPTH; }
    ~DepthGuard() { --TAMODEPTH; }
    DepthGuard(const DepthGuard &) = delete;
    DepthGuard &operator=(const DepthGuard &) = delete;
};

// Ends the process through the replaceable exit pointer. A host handler may
// unwind instead (the workbench throws); should a handler simply return, the
// caller carries on with its failure path.
void endProcess(int status);

// Copies text into a fixed-size field, always NUL-terminated.
template <std::size_t N>
inline void setField(char (&field)[N], const char *text) {
    std::size_t len = 0;
    while (len < N - 1 && text[len] != '\0') ++len;
    std::memcpy(field, text, len);
    std::memset(field + len, 0, N - len);
}

}  // namespace tamo
