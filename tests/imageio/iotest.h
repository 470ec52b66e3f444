// Shared helpers of the file-format tests: records with known contents, and
// files held in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tamo++.h"
#include "tamo.h"

namespace iotest {

// A record of `type` with dims {n, len...} whose bytes are a fixed pattern.
inline tamo::RecordPtr patterned(const char *type, std::vector<int> lengths, unsigned seed = 7) {
    std::vector<int> dims{static_cast<int>(lengths.size())};
    dims.insert(dims.end(), lengths.begin(), lengths.end());
    tamo::RecordPtr img(Tamocreate(type, dims.data(), 11, 0));
    if (!img) return img;
    long long n = tamo::elementCount(img.get()) * img->orvbpd;
    unsigned x = seed;
    for (long long i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        img->orvptr[i] = static_cast<char>(x >> 16);
    }
    return img;
}

// The bytes TamoWrImg writes for img.
inline std::string writeBytes(TAMOHDR *img, int tail = 0) {
    char *buf = nullptr;
    std::size_t len = 0;
    FILE *fp = open_memstream(&buf, &len);
    int status = TamoWrImg(img, fp, tail);
    std::fclose(fp);
    std::string bytes(buf, len);
    std::free(buf);
    EXPECT_EQ(status, -1);
    return bytes;
}

// A temporary regular file holding `bytes`, positioned at its start.
inline FILE *fileWith(const std::string &bytes) {
    FILE *fp = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), fp);
    std::rewind(fp);
    return fp;
}

inline tamo::RecordPtr readBytes(const std::string &bytes, int tail = 0) {
    FILE *fp = fileWith(bytes);
    tamo::RecordPtr img(TamoRdImg(fp, tail));
    std::fclose(fp);
    return img;
}

// Reads with the library's messages captured; `err` receives them.
inline tamo::RecordPtr readQuietly(const std::string &bytes, std::string *err,
                                   std::string *out = nullptr, int tail = 0) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    tamo::RecordPtr img = readBytes(bytes, tail);
    *err = testing::internal::GetCapturedStderr();
    std::string o = testing::internal::GetCapturedStdout();
    if (out) *out = o;
    return img;
}

inline int32_t get32(const std::string &bytes, std::size_t at) {
    int32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

inline void put32(std::string &bytes, std::size_t at, int32_t v) {
    std::memcpy(&bytes[at], &v, 4);
}

inline std::string readFile(const std::string &path) {
    std::string bytes;
    if (FILE *fp = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0) bytes.append(buf, n);
        std::fclose(fp);
    }
    return bytes;
}

inline bool sameData(const TAMOHDR *a, const TAMOHDR *b) {
    long long n = tamo::elementCount(a) * a->orvbpd;
    return n == tamo::elementCount(b) * b->orvbpd && std::memcmp(a->orvptr, b->orvptr, n) == 0;
}

}  // namespace iotest
