// Shared helpers of the image library tests.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "tamo++.h"
#include "tamo.h"
#include "testrecords.h"

// Every test starts and ends with the library's default switches and with
// no remembered error numbers in Tamowarn.
class Lib : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        Tamoinit();
        Tamo_exitptr = exit;
        TAMOSLV = 1;
        errno = 0;
        Tamowarn("");  // silent, but forgets the previous error numbers
        TAMOSLV = 8;
    }
};

// A zero-filled record of `type` with lengths {columns, rows, frames}.
inline tamo::RecordPtr make(const char *type, std::initializer_list<int> lengths, int size = 0) {
    int dims[5] = {static_cast<int>(lengths.size())};
    int i = 1;
    for (int len : lengths) dims[i++] = len;
    return tamo::RecordPtr(Tamocreate(type, dims, 11, size));
}

using testsupport::ExitCalled;
using testsupport::stderrOf;
using testsupport::throwingExit;

// Allocation functions that count live blocks and can fail one call.
struct CountingAlloc {
    static inline int live = 0;
    static inline int calls = 0;
    static inline int failAt = -1;
    static void *alloc(size_t n, size_t s) {
        if (calls++ == failAt) return nullptr;
        ++live;
        return calloc(n, s);
    }
    static void release(void *p) {
        if (p) --live;
        free(p);
    }
    static void install(int failingCall = -1) {
        live = calls = 0;
        failAt = failingCall;
        Tamo_alcptr = alloc;
        Tamo_freeptr = release;
    }
};
