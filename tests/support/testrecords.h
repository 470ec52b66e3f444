// Shared helpers of the tests that call the image library: record builders,
// own-format files, captured output and an exit handler that unwinds.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

#include "tamo++.h"
#include "tamo.h"

namespace testsupport {

// A zero-filled record of `type` with cols x rows pixels (and `frames`
// frames when frames > 0).
inline tamo::RecordPtr image(const char *type, int cols, int rows, int frames = 0) {
    const int dims[4] = {frames ? 3 : 2, cols, rows, frames};
    return tamo::RecordPtr(Tamocreate(type, dims, TAMO_CREATE_ZEROED, 0));
}

// Writes img to a new own-format file at `path` (a failed test when it
// cannot).
inline void writeOwnFormat(const std::string &path, TAMOHDR *img) {
    FILE *fp = std::fopen(path.c_str(), "wb");
    ASSERT_NE(fp, nullptr) << path;
    EXPECT_EQ(TamoWrImg(img, fp, 0), -1);
    std::fclose(fp);
}

// The record in the own-format file at `path`; null when it cannot be read.
inline tamo::RecordPtr readOwnFormat(const std::string &path) {
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (!fp) return nullptr;
    tamo::RecordPtr img(TamoRdImg(fp, 0));
    std::fclose(fp);
    return img;
}

// What f printed on standard output, or on standard error.
template <class F>
std::string stdoutOf(F &&f) {
    testing::internal::CaptureStdout();
    std::forward<F>(f)();
    return testing::internal::GetCapturedStdout();
}
template <class F>
std::string stderrOf(F &&f) {
    testing::internal::CaptureStderr();
    std::forward<F>(f)();
    return testing::internal::GetCapturedStderr();
}

// The exit handler a host such as the workbench installs: it unwinds with the
// status instead of ending the process.
struct ExitCalled {
    int status;
};
[[noreturn]] inline void throwingExit(int status) {
    throw ExitCalled{status};
}

// Installs an exit handler for its lifetime and restores the one before.
class ExitHook {
public:
    explicit ExitHook(void (*handler)(int)) : saved_(Tamo_exitptr) { Tamo_exitptr = handler; }
    ~ExitHook() { Tamo_exitptr = saved_; }
    ExitHook(const ExitHook &) = delete;
    ExitHook &operator=(const ExitHook &) = delete;

private:
    void (*saved_)(int);
};

}  // namespace testsupport
