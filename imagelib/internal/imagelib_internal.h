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
// caller carries on with its failure path. Without a host handler the exit
// status is never one the shell reads as success (0 becomes 1, and so does a
// status whose low 8 bits are 0).
void endProcess(int status);

// A new record (flags 11) of img's type name and bytes per datum with the
// given dimensions, for a copy of img's elements; null on failure. A record
// whose bytes per datum contradict the table's size for its type name is
// refused with Tamoerr TAMO_ETYPE and a report that begins with `caller`: the new
// record, made by name, would be too small for img's elements.
TAMOHDR *createLike(TAMOHDR *img, const int *dims, const char *caller);

// Copies text into a fixed-size field, always NUL-terminated.
template <std::size_t N>
inline void setField(char (&field)[N], const char *text) {
    std::size_t len = 0;
    while (len < N - 1 && text[len] != '\0') ++len;
    std::memcpy(field, text, len);
    std::memset(field + len, 0, N - len);
}

}  // namespace tamo
